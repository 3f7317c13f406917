// Native build: the box becomes a line on standard error.
#include <cstdio>
#include <cstdlib>

#include "platform.h"

void platform_error_box(const char* text) { std::fprintf(stderr, "Error: %s\n", text); }

void platform_exit_process(int code) { std::_Exit(code); }

void platform_debug_break() { __builtin_trap(); }
