#include "win_files.h"

#include <windows.h>

#include "win_child.h"
#include "win_text.h"

std::string make_temp_folder(const char* prefix) {
  static int counter = 0;
  wchar_t temp[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return "";
  // A name that an earlier process of the same id left behind is skipped.
  for (;;) {
    const std::wstring name = temp + widen(std::string(prefix) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                                           std::to_string(++counter));
    if (CreateDirectoryW(name.c_str(), nullptr)) {
      wchar_t full[MAX_PATH];
      const DWORD length = GetFullPathNameW(name.c_str(), MAX_PATH, full, nullptr);
      return narrow(length > 0 && length < MAX_PATH ? std::wstring(full, length) : name);
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
  }
}

void make_folders(const std::string& path) {
  const std::wstring wide = widen(path);
  for (size_t i = 3; i <= wide.size(); ++i) {
    if (i == wide.size() || wide[i] == L'\\') CreateDirectoryW(wide.substr(0, i).c_str(), nullptr);
  }
}

namespace {
void remove_wide_tree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_wide_tree(full);
      } else {
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}
}  // namespace

void remove_tree(const std::string& path) { remove_wide_tree(widen(path)); }

int write_file(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok && written == bytes.size() ? 1 : 0;
}

std::string read_file(const std::string& path, const char* missing) {
  HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return missing;
  std::string bytes;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(file, chunk, sizeof chunk, &n, nullptr) && n > 0) bytes.append(chunk, n);
  CloseHandle(file);
  return bytes;
}

int copy_file(const std::string& from, const std::string& to) {
  return CopyFileW(widen(from).c_str(), widen(to).c_str(), FALSE) ? 1 : 0;
}

std::vector<std::string> folder_names(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((widen(folder) + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    names.push_back(narrow(name) + (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? "\\" : ""));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

int make_symbolic_link(const std::wstring& target, const std::wstring& link) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  FARPROC const found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  void* const entry = reinterpret_cast<void*>(found);
  const auto unix_name = reinterpret_cast<UnixName>(entry);
  if (unix_name == nullptr) return 0;
  char* unix_link = unix_name(link.c_str());
  if (unix_link == nullptr) return 0;
  // Wine hands the command line to a Unix program in the Unix locale's UTF-8.
  std::wstring line = L"ln -s \"" + target + L"\" \"" + widen(unix_link, CP_UTF8) + L"\"";
  HeapFree(GetProcessHeap(), 0, unix_link);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\ln", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 0;
  }
  // Wine gives no handle of a Unix process to wait on: the link is looked for.
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  for (int i = 0; i < 400; ++i) {
    if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return 1;
    Sleep(50);
  }
  return 0;
}

int make_symbolic_link(const std::string& target, const std::string& link) {
  return make_symbolic_link(widen(target), widen(link));
}
