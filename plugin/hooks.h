// The two hook routines, as the patching library calls them, and the host
// addresses they are installed at or call.
#pragma once
#include <cstdint>

#include "splicer.h"

constexpr uint32_t kDialogHookAddress = 0x456BA0;
constexpr uint32_t kFileHookAddress = 0x4884A5;
constexpr uint32_t kFindItemAddress = 0x5FF5B0;  // host find-item routine, thiscall (dialog; id)

// Lets the host set up the dialog, then moves items 100 and 101 to the
// dialog layout. Gives the dialog back.
void* __attribute__((stdcall)) dialog_layout_hook(SplicerHook* hook, void* dialog);
// Gives the host's file routine the file of the same last name in the start
// directory first, then the host's own path.
int __attribute__((cdecl)) file_redirect_hook(SplicerHook* hook, const char* path, uint32_t value);
