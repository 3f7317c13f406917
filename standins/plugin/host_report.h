// What the demo prints about a run, read from the stand-in library's record
// and the host after the checks: the pack folders switched off, the writes by
// width, the hooks, and one call of each hook.
#pragma once
#include "host_hooks.h"

void report_switched_off();
// The writes and hooks from call `first` on.
void report_patches(int first);
void report_dialog(const HostDialog& dialog);
void report_file(const FileSeen& seen);
