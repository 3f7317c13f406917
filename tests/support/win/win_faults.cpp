#include "win_faults.h"

#include <windows.h>

#include "win_child.h"
#include "win_files.h"
#include "win_text.h"

std::string unix_path(const std::string& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  FARPROC const found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(found));
  if (unix_name == nullptr) return "";
  char* name = unix_name(widen(path).c_str());
  if (name == nullptr) return "";
  const std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

namespace {
bool wait_for(const std::string& path, int tenths) {
  for (int i = 0; i < tenths; ++i) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(100);
  }
  return false;
}
}  // namespace

InjectedFaults::InjectedFaults(const std::string& folder, const std::string& options,
                               const std::vector<std::string>& files, const std::string& program)
    : folder_(folder) {
  if (GetFileAttributesA("Z:\\usr\\bin\\strace") == INVALID_FILE_ATTRIBUTES) return;
  char own[MAX_PATH];
  const std::string path(own, GetModuleFileNameA(nullptr, own, MAX_PATH));
  const std::string name = program.empty() ? path.substr(path.find_last_of('\\') + 1) : program;
  std::string line = "sh " QV_INJECT_SCRIPT " " + unix_path(folder) + " " + name + (program.empty() ? " 1 " : " 0 ") +
                     options + " --";
  for (const std::string& file : files) line += " " + unix_path(file);
  PROCESS_INFORMATION process;
  if (!start_process("Z:\\bin\\sh", line, "", &process)) return;
  // Wine gives no handle of a Unix process to wait on: the script says so in files.
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  attached_ = wait_for(folder + "\\attached", 300);
  if (!attached_) Log();
}

std::string InjectedFaults::Log() {
  if (!ended_) {
    write_file(folder_ + "\\done", "");
    wait_for(folder_ + "\\detached", 300);
    DeleteFileA((folder_ + "\\attached").c_str());
    DeleteFileA((folder_ + "\\detached").c_str());
    ended_ = true;
  }
  const std::string log = read_file(folder_ + "\\strace.log", "");
  DeleteFileA((folder_ + "\\strace.log").c_str());
  return log;
}

InjectedFaults::~InjectedFaults() {
  if (!ended_) Log();
}
