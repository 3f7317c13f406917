#include "e2e_support.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>

namespace {
std::string windows_path(const char* unix_path) {
  std::string path = "Z:";
  for (const char* p = unix_path; *p != '\0'; ++p) path += *p == '/' ? '\\' : *p;
  return path;
}

std::string utf16_to(const std::wstring& wide, UINT code_page) {
  const int n = WideCharToMultiByte(code_page, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(code_page, 0, wide.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(n - 1);
  return out;
}

int unique_number() {
  static int counter = 0;
  return ++counter;
}

std::vector<DWORD> child_processes(DWORD parent) {
  std::vector<DWORD> children;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return children;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) children.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return children;
}
}  // namespace

std::string process_exe_name(DWORD process_id) {
  std::string name;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return name;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == process_id) name = entry.szExeFile;
  }
  CloseHandle(snapshot);
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
      if (ReadProcessMemory(process, parameters.CommandLine.Buffer, &wide[0], parameters.CommandLine.Length,
                            nullptr)) {
        line = utf16_to(wide, CP_ACP);
      }
    }
  }
  CloseHandle(process);
  return line;
}

void end_children(const ToolRun& run) {
  for (DWORD child : child_processes(run.processId)) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, child);
    if (process == nullptr) continue;
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
}

namespace {
DWORD WINAPI show_probe_box(void*) {
  MessageBoxA(nullptr, "probe", "qv-topmost-probe", MB_TOPMOST | MB_OK);
  return 0;
}
}  // namespace

bool boxes_can_be_topmost() {
  static int known = -1;
  if (known >= 0) return known == 1;
  known = 0;
  HANDLE thread = CreateThread(nullptr, 0, show_probe_box, nullptr, 0, nullptr);
  for (int i = 0; i < 500; ++i) {
    HWND box = box_find(GetCurrentProcessId());
    if (box != nullptr) {
      Sleep(100);
      known = box_read(box).topmost ? 1 : 0;
      box_press(box, IDOK);
      break;
    }
    Sleep(10);
  }
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  return known == 1;
}

std::string tool_exe_path() { return windows_path(QV_TOOL_EXE); }
std::string standin_path(const char* file_name) { return windows_path(QV_STANDIN_DIR) + "\\" + file_name; }

bool russian_run() {
  const char* expect = getenv("QV_EXPECT_UI");
  return expect != nullptr && std::string(expect) == "ru";
}

std::string cp1251(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], n);
  wide.resize(n - 1);
  return utf16_to(wide, 1251);
}

std::string expected_text(const char* english, const char* russian_utf8) {
  return russian_run() ? cp1251(russian_utf8) : std::string(english);
}

void make_folders(const std::string& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

void remove_tree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string full = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(full);
      } else {
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(full.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

GameFolder::GameFolder() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH + 64];
  snprintf(name, sizeof name, "%sqv-game-%lu-%d", temp, GetCurrentProcessId(), unique_number());
  path_ = name;
  remove_tree(path_);
  make_folders(path_);
}

GameFolder::~GameFolder() { remove_tree(path_); }

std::string GameFolder::At(const std::string& relative) const { return path_ + "\\" + relative; }

void GameFolder::Write(const std::string& relative, const std::string& bytes) const {
  const std::string full = At(relative);
  make_folders(full.substr(0, full.rfind('\\')));
  FILE* file = fopen(full.c_str(), "wb");
  if (file == nullptr) return;
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

std::string GameFolder::Read(const std::string& relative) const {
  FILE* file = fopen(At(relative).c_str(), "rb");
  if (file == nullptr) return "<missing>";
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  fclose(file);
  return bytes;
}

bool GameFolder::Exists(const std::string& relative) const {
  return GetFileAttributesA(At(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void GameFolder::CopyStandIn(const char* standin, const std::string& relative) const {
  const std::string full = At(relative);
  make_folders(full.substr(0, full.rfind('\\')));
  CopyFileA(standin_path(standin).c_str(), full.c_str(), FALSE);
}

void GameFolder::AddProduct(const char* version) const {
  std::string dll = std::string("standin_tool_product_") + version + ".dll";
  for (char& c : dll) {
    if (c == '.' && &c < &dll[dll.size() - 4]) c = '_';
  }
  CopyStandIn(dll.c_str(), "_QV3_.dll");
  CopyStandIn("standin_tool_launcher.exe", "QV_Launcher.exe");
  make_folders(At("_QV3_Data\\Settings"));
}

int answer_ok(void*, int, const BoxRecord&) { return IDOK; }
int answer_cancel(void*, int, const BoxRecord&) { return IDCANCEL; }

ToolRun run_tool(const std::string& folder, const std::string& arguments, BoxAnswerFn answer, void* context,
                 bool whole) {
  ToolRun run;
  std::string command_line = whole ? arguments : "\"" + tool_exe_path() + "\"" + arguments;
  const std::string application = tool_exe_path();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(application.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &process)) {
    return run;
  }
  run.started = true;
  run.processId = process.dwProcessId;
  run.ended = box_watch_process(process.hProcess, process.dwProcessId, answer, context, &run.boxes, 60000) != 0;
  if (!run.ended) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  run.children = child_processes(process.dwProcessId);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

std::string wait_for_record(const ToolRun& run, const std::string& log) {
  // The tool starts its children before it ends; each writes its record
  // before it ends itself. Once none is left, the record is there or never
  // comes.
  for (int i = 0; i < 1000; ++i) {
    if (child_processes(run.processId).empty()) break;
    Sleep(10);
  }
  FILE* file = fopen(log.c_str(), "rb");
  if (file == nullptr) return "";
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  fclose(file);
  return bytes;
}

Launcher::Launcher(const std::string& folder, const std::string& title, const char* program) {
  char name[64];
  snprintf(name, sizeof name, "\\launcher-%d.txt", unique_number());
  record_ = folder + name;
  const std::string exe = program != nullptr ? std::string(program) : standin_path("standin_tool_launcher.exe");
  std::string command_line = "\"" + exe + "\" \"" + record_ + "\" " + title;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessA(exe.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &process_)) {
    return;
  }
  for (int i = 0; i < 1000 && !ready_; ++i) {
    FILE* file = fopen(record_.c_str(), "rb");
    if (file != nullptr) {
      char line[16] = {};
      ready_ = fread(line, 1, 5, file) == 5;
      fclose(file);
    }
    if (!ready_) Sleep(10);
  }
}

void Launcher::End() {
  if (process_.hProcess == nullptr) return;
  TerminateProcess(process_.hProcess, 0);
  WaitForSingleObject(process_.hProcess, 5000);
}

Launcher::~Launcher() {
  if (process_.hProcess != nullptr) {
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
}

bool Launcher::GotClose() {
  if (process_.hProcess == nullptr) return false;
  WaitForSingleObject(process_.hProcess, 2000);
  FILE* file = fopen(record_.c_str(), "rb");
  if (file == nullptr) return false;
  char text[256] = {};
  fread(text, 1, sizeof text - 1, file);
  fclose(file);
  return strstr(text, "WM_CLOSE") != nullptr;
}

Holder::Holder(const std::string& file, const char* mode) {
  char ready_name[64], release_name[64];
  const int n = unique_number();
  snprintf(ready_name, sizeof ready_name, "qv-holder-ready-%lu-%d", GetCurrentProcessId(), n);
  snprintf(release_name, sizeof release_name, "qv-holder-release-%lu-%d", GetCurrentProcessId(), n);
  ready_ = CreateEventA(nullptr, TRUE, FALSE, ready_name);
  release_ = CreateEventA(nullptr, TRUE, FALSE, release_name);
  const std::string exe = standin_path("standin_tool_holder.exe");
  std::string command_line = "\"" + exe + "\" \"" + file + "\" " + mode + " " + ready_name + " " + release_name;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessA(exe.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process_)) {
    return;
  }
  HANDLE waits[2] = {ready_, process_.hProcess};
  if (WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0) {
    holding_ = WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
  }
}

void Holder::Release() {
  if (process_.hProcess == nullptr) return;
  SetEvent(release_);
  WaitForSingleObject(process_.hProcess, 10000);
  holding_ = false;
}

Holder::~Holder() {
  Release();
  if (process_.hProcess != nullptr) {
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  CloseHandle(ready_);
  CloseHandle(release_);
}
