// The plug-in's Windows services: the DLL entry, binding the patching library
// and reading the current directory.
#include <windows.h>

#include "plugin_platform.h"
#include "startup.h"

namespace {
int32_t started = 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH || started != 0) return TRUE;
  started = 1;
  plugin_start();
  return TRUE;
}

SplicerLibrary* platform_bind_splicer() {
  // The module is never released: the patches and hooks live in it.
  HMODULE module = LoadLibraryA("splicer_x86.dll");
  if (module == nullptr) return nullptr;
  FARPROC entry = GetProcAddress(module, "_GetSplicerX86@0");
  if (entry == nullptr) return nullptr;
  return reinterpret_cast<GetSplicerX86Entry>(reinterpret_cast<void*>(entry))();
}

void platform_read_start_directory(char* buffer) {
  // A failed call gives 0; a directory that does not fit gives the size it
  // needs. Either way the buffer is left empty rather than cut or undefined.
  const DWORD length = GetCurrentDirectoryA(260, buffer);
  if (length == 0 || length >= 260) buffer[0] = '\0';
}

void platform_pin_module() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCSTR>(&platform_pin_module), &self);
}
