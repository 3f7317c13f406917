// The product library's file version, read with the version functions of
// the system's own version.dll.
#include <windows.h>

#include "text.h"
#include "update_hand_off.h"

namespace {
typedef DWORD(WINAPI* VersionSizeFn)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* VersionInfoFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VersionQueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);

struct VersionFunctions {
  VersionSizeFn size;
  VersionInfoFn info;
  VersionQueryFn query;
};

void* function_of(HMODULE library, const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); }

// The tool lives in the game folder, among other people's files, and mod
// loaders often sit there as a "version.dll" of their own; Windows would
// load that one first for an import by name, since version.dll is not one of
// its known system libraries. So the library is loaded by its full path in
// the system folder and never released. Returns 0 when it cannot be loaded
// or lacks a function.
int bind_system_version_functions(VersionFunctions* functions) {
  char path[kPathSize];
  const UINT length = GetSystemDirectoryA(path, kPathSize);
  const char name[] = "\\version.dll";
  if (length == 0 || length + sizeof name > static_cast<UINT>(kPathSize)) return 0;
  CopyMemory(path + length, name, sizeof name);
  // Its own imports are looked up beside it, in the system folder, too.
  HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) return 0;
  functions->size = reinterpret_cast<VersionSizeFn>(function_of(library, "GetFileVersionInfoSizeA"));
  functions->info = reinterpret_cast<VersionInfoFn>(function_of(library, "GetFileVersionInfoA"));
  functions->query = reinterpret_cast<VersionQueryFn>(function_of(library, "VerQueryValueA"));
  return functions->size != nullptr && functions->info != nullptr && functions->query != nullptr;
}
}  // namespace

uint32_t get_product_dll_version() {
  VersionFunctions version;
  if (!bind_system_version_functions(&version)) return 0;
  const DWORD size = version.size("_QV3_.dll", nullptr);
  if (size == 0) return 0;
  void* block = LocalAlloc(LPTR, size);
  if (block == nullptr) return 0;
  uint32_t result = 0;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (version.info("_QV3_.dll", 0, size, block) &&
      version.query(block, "\\", reinterpret_cast<void**>(&fixed), &fixed_size) && fixed != nullptr) {
    result = fixed->dwFileVersionMS;
  }
  LocalFree(block);
  return result;
}
