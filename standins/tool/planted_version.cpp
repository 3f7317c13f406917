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

// Every query, ANSI or Unicode, is recorded under its name and answered
// with 0: no size, FALSE for the others.
static int refuse(const char* query) {
  record(query);
  return 0;
}

extern "C" DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR, LPDWORD) { return refuse("GetFileVersionInfoSizeA"); }
extern "C" BOOL WINAPI GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID) { return refuse("GetFileVersionInfoA"); }
extern "C" BOOL WINAPI VerQueryValueA(LPCVOID, LPCSTR, LPVOID*, PUINT) { return refuse("VerQueryValueA"); }
extern "C" DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD) { return refuse("GetFileVersionInfoSizeW"); }
extern "C" BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) { return refuse("GetFileVersionInfoW"); }
extern "C" BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) { return refuse("VerQueryValueW"); }
