#include "command_line.h"

#include <cstring>

// The switch kind that starts at line[j], or 0. Four characters must fit.
static int switch_at(const char* line, int j) {
  if (line[j] != ' ' || line[j + 1] != '/' || line[j + 3] != ':') return 0;
  const char letter = line[j + 2];
  if (letter == 'p' || letter == 'P') return kSwitchPack;
  if (letter == 'l' || letter == 'L') return kSwitchLanguage;
  return 0;
}

int scan_switches(const char* command_line, SwitchAction action, void* context) {
  const int n = static_cast<int>(strlen(command_line));
  if (n <= 1) return 0;
  char value[kSwitchValueMax + 1];
  int found = 0;
  for (int j = n - 4; j >= 0; --j) {
    const int kind = switch_at(command_line, j);
    if (kind == 0) continue;
    found = 1;
    int length = 0;
    int too_long = 0;
    for (int k = j + 4; k < n; ++k) {
      if (command_line[k] == ' ' && command_line[k + 1] == '/') break;
      if (length == kSwitchValueMax) {
        too_long = 1;
        break;
      }
      value[length++] = command_line[k];
    }
    if (too_long) continue;
    value[length] = '\0';
    action(context, kind, value);
  }
  return found;
}
