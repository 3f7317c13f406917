// The scanner of the tool's command line: finds the switches " /p:" and
// " /l:" from the end of the whole line, the program's name included.
#pragma once

enum SwitchKind { kSwitchPack = 1, kSwitchLanguage = 2 };

// Longest switch value: it must fit a 260-byte buffer with its terminator.
constexpr int kSwitchValueMax = 259;

// Runs one switch's action with its value.
typedef void (*SwitchAction)(void* context, int kind, const char* value);

// Scans the whole command line from its end towards its start and runs the
// action of each switch at once, the last switch first. A value runs up to
// the end of the line or up to a blank that is followed by '/'. A value
// longer than kSwitchValueMax is refused: its action does not run, yet the
// switch counts as found. Returns 1 when at least one switch was found.
int scan_switches(const char* command_line, SwitchAction action, void* context);
