#include "host_files.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "host_check.h"

namespace {

void make_file(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) fatal(("CreateFileA " + path).c_str());
  CloseHandle(h);
}

}  // namespace

std::string exe_dir() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) fatal("GetModuleFileNameA");
  char* slash = std::strrchr(path, '\\');
  if (slash != nullptr) *slash = '\0';
  return path;
}

std::string make_work_dir() {
  char temp[MAX_PATH];
  if (GetTempPathA(MAX_PATH, temp) == 0) fatal("GetTempPathA");
  char name[MAX_PATH];
  std::snprintf(name, sizeof name, "%sqvhost.%lu.%lu", temp, GetCurrentProcessId(), GetTickCount());
  if (!CreateDirectoryA(name, nullptr)) fatal("CreateDirectoryA work folder");
  // The long name of the path as the current directory will report it.
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(name, MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH) fatal("GetFullPathNameA");
  const std::string work_dir = full;
  CreateDirectoryA((work_dir + "\\other").c_str(), nullptr);
  make_file(work_dir + "\\a.dat");
  make_file(work_dir + "\\other\\a.dat");
  make_file(work_dir + "\\other\\b.dat");
  return work_dir;
}

void remove_work_dir(const std::string& work_dir) {
  SetCurrentDirectoryA("C:\\");
  DeleteFileA((work_dir + "\\a.dat").c_str());
  DeleteFileA((work_dir + "\\other\\a.dat").c_str());
  DeleteFileA((work_dir + "\\other\\b.dat").c_str());
  RemoveDirectoryA((work_dir + "\\other").c_str());
  RemoveDirectoryA(work_dir.c_str());
}
