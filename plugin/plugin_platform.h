// The Windows services the plug-in uses, implemented in platform_win.cpp
// beside the DLL entry.
#pragma once

#include "splicer.h"

// LoadLibraryA("splicer_x86.dll"), its entry "_GetSplicerX86@0", and the
// entry's root object; none when the module or the entry is missing.
SplicerLibrary* platform_bind_splicer();
// The current directory into a 260-byte buffer; "" when it fails or does not fit.
void platform_read_start_directory(char* buffer);
// Keeps this DLL mapped until the process ends, whatever FreeLibrary calls
// follow: the hooks and the patching library point into it.
void platform_pin_module();
