// Stand-in for another program's "version.dll" left in the game folder, as
// mod loaders install one. It appends a line to "<its own path>.log" when a
// process loads it and for each version query it gets, and answers every
// query with 0 (as if the file had no version), which would make the product
// look older than 3.8. It has the Unicode queries too, since Wine's own
// libraries load version.dll by name as well.
#include <windows.h>

#include "record.h"

static char log_path[MAX_PATH + 8];

static void record(const char* line) { append_record_line(log_path, line); }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  const DWORD n = GetModuleFileNameA(instance, log_path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatA(log_path, ".log");
  record("loaded");
  return TRUE;
}

extern "C" DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR, LPDWORD) {
  record("GetFileVersionInfoSizeA");
  return 0;
}
extern "C" BOOL WINAPI GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID) {
  record("GetFileVersionInfoA");
  return FALSE;
}
extern "C" BOOL WINAPI VerQueryValueA(LPCVOID, LPCSTR, LPVOID*, PUINT) {
  record("VerQueryValueA");
  return FALSE;
}
extern "C" DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD) {
  record("GetFileVersionInfoSizeW");
  return 0;
}
extern "C" BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) {
  record("GetFileVersionInfoW");
  return FALSE;
}
extern "C" BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) {
  record("VerQueryValueW");
  return FALSE;
}
