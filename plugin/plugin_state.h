// The plug-in's process-wide state: filled once during start-up, on the
// loading thread, and only read afterwards (the hooks read it without locks).
#pragma once
#include <cstdint>

#include "splicer.h"

struct PluginState {
  SplicerLibrary* root;       // the patching library, kept for the process's life
  SplicerInstance* instance;  // registered under the owner name; every patch goes through it
  int32_t exe_version;        // "QV.ExeVersion" as read at install
  char start_directory[260];  // current directory at install, or "" when it could not be kept
  int16_t dialog_layout[8];   // x, y, width, height of dialog items 100 and 101
};
extern PluginState plugin_state;
