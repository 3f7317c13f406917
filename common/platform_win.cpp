#include <windows.h>

#include "platform.h"

void platform_error_box(const char* text) { MessageBoxA(nullptr, text, "Error", MB_ICONERROR); }

void platform_exit_process(int code) { ExitProcess(static_cast<UINT>(code)); }

void platform_debug_break() { DebugBreak(); }
