#include "win_child.h"

#include <tlhelp32.h>
#include <winternl.h>

#include "win_text.h"

int start_process(const std::string& application, const std::string& command_line, const std::string& folder,
                  PROCESS_INFORMATION* process) {
  const std::wstring program = widen(application);
  std::wstring line = widen(command_line);
  const std::wstring directory = widen(folder);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  *process = PROCESS_INFORMATION();
  return CreateProcessW(program.empty() ? nullptr : program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, process)
             ? 1
             : 0;
}

void end_process(PROCESS_INFORMATION* process) {
  if (process->hProcess == nullptr) return;
  TerminateProcess(process->hProcess, 0);
  WaitForSingleObject(process->hProcess, 5000);
  CloseHandle(process->hProcess);
  CloseHandle(process->hThread);
  *process = PROCESS_INFORMATION();
}

int answer_ok(void*, int, const BoxRecord&) { return IDOK; }
int answer_cancel(void*, int, const BoxRecord&) { return IDCANCEL; }

ChildRun run_watched(const std::string& application, const std::string& command_line, const std::string& folder,
                     BoxAnswerFn answer, void* context, DWORD timeout_ms) {
  ChildRun run;
  PROCESS_INFORMATION process;
  if (!start_process(application, command_line, folder, &process)) {
    run.start_error = GetLastError();
    return run;
  }
  run.started = true;
  run.process_id = process.dwProcessId;
  run.ended = box_watch_process(process.hProcess, process.dwProcessId, answer, context, &run.boxes, timeout_ms) != 0;
  if (!run.ended) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  run.children = child_processes(process.dwProcessId);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

namespace {
// Each running process: its id, its parent's id and its program's file name.
template <typename Visit>
void for_each_process(Visit visit) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) visit(entry);
  CloseHandle(snapshot);
}
}  // namespace

std::vector<DWORD> child_processes(DWORD parent) {
  std::vector<DWORD> children;
  for_each_process([&](const PROCESSENTRY32& entry) {
    if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) children.push_back(entry.th32ProcessID);
  });
  return children;
}

std::string process_exe_name(DWORD process_id) {
  std::string name;
  for_each_process([&](const PROCESSENTRY32& entry) {
    if (entry.th32ProcessID == process_id) name = entry.szExeFile;
  });
  const size_t slash = name.rfind('\\');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string process_command_line(DWORD process_id) {
  std::string line;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id);
  if (process == nullptr) return line;
  PROCESS_BASIC_INFORMATION basic = {};
  ULONG size = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &size) == 0) {
    PEB peb = {};
    RTL_USER_PROCESS_PARAMETERS parameters = {};
    if (ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) &&
        ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr)) {
      std::wstring wide(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
      if (ReadProcessMemory(process, parameters.CommandLine.Buffer, &wide[0], parameters.CommandLine.Length, nullptr)) {
        line = narrow(wide);
      }
    }
  }
  CloseHandle(process);
  return line;
}

void end_processes(const std::vector<DWORD>& process_ids) {
  for (DWORD id : process_ids) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) continue;
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
}
