// The few operating system services the common helpers need; one file per
// platform implements them.
#pragma once

// Shows text in a modal box captioned "Error" with the error icon and OK.
void platform_error_box(const char* text);
// Ends the process at once with the exit code.
[[noreturn]] void platform_exit_process(int code);
// Stops at a debugger break (an internal assertion failed).
void platform_debug_break();
