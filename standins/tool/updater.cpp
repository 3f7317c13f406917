// Stand-in for the product's updater (and, under another name, for
// explorer.exe): records its command line and working directory into
// "<its own path>.log", written whole under a temporary name first so that
// a reader never sees half a record.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Its own path in UTF-16: in a folder whose name the ANSI code page
  // cannot hold it would have no ANSI form.
  wchar_t own_path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH - 8) return 2;
  wchar_t log_path[MAX_PATH + 8];
  wchar_t temp_path[MAX_PATH + 8];
  wsprintfW(log_path, L"%s.log", own_path);
  wsprintfW(temp_path, L"%s.tmp", own_path);
  char directory[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, directory);
  HANDLE file = CreateFileW(temp_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  const char* lines[] = {"command line: ", GetCommandLineA(), "\r\n", "directory: ", directory, "\r\n"};
  DWORD written = 0;
  for (const char* line : lines) WriteFile(file, line, lstrlenA(line), &written, nullptr);
  CloseHandle(file);
  return MoveFileExW(temp_path, log_path, MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
