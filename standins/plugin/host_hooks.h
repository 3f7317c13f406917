// Drives the plug-in's two hook routines as the host would call them, with
// the host's own routines behind them, and checks what they did.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host_routines.h"

// The dialog hook on a dialog with and without items 100 and 101; gives the
// dialog that has both, as the hook left it.
HostDialog drive_dialog_hook(void* fn);

// One call of the file hook for `path`; `attempts` lists the paths the host
// routine must get, in order. Gives what the hook gave back.
uint32_t file_case(void* fn, const std::string& path, const std::vector<std::string>& attempts, const char* what);

// What the first call of drive_file_hook asked and the host routine got first.
struct FileSeen {
  std::string asked;
  std::string first_attempt;
  uint32_t result;
};
// The file hook in the work folder (started there): which copy wins, the
// fall-backs, and the path length limits. Gives its first call.
FileSeen drive_file_hook(void* fn, const std::string& work_dir);
