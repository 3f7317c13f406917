// The plug-in's start-up, shared variables, patch installer and hooks.
#pragma once
#include <cstdint>

#include "splicer.h"

// Process-wide state, filled once during start-up and only read afterwards.
struct PluginState {
  SplicerLibrary* root;          // the patching library, kept for the process's life
  SplicerInstance* instance;     // registered under the owner name; every patch goes through it
  int32_t exe_version;           // "QV.ExeVersion" as read at install
  char start_directory[260];     // current directory at install, or "" when it could not be kept
  int16_t dialog_layout[8];      // x, y, width, height of dialog items 100 and 101
};
extern PluginState plugin_state;

constexpr char kOwnerName[] = "QV.Pack.GrandRus";

// Start-up at the first process attach: binds the library, registers the
// owner name once and installs the patches. Any failure stops quietly.
void plugin_start();

// Address of the named shared variable's value cell; the variable is created
// with 0 when absent. None when it can be neither found nor created.
uint32_t* get_or_create_variable(const char* name);
// The cell of "QV.PackDirs.Count", as above.
uint32_t* pack_dir_count_address();

// Reads the shared variables and the start directory and applies the patch
// set of the host version.
void install_patches();
// Prints "?" over every pack folder path whose last component begins with the
// 13-character prefix (ASCII case-insensitive).
void blank_pack_dirs(const char* prefix);

// The two hook routines, as the patching library calls them.
void* __attribute__((stdcall)) dialog_layout_hook(SplicerHook* hook, void* dialog);
int __attribute__((cdecl)) file_redirect_hook(SplicerHook* hook, const char* path, uint32_t value);

// Host code the hooks rely on.
constexpr uint32_t kDialogHookAddress = 0x456BA0;
constexpr uint32_t kFileHookAddress = 0x4884A5;
constexpr uint32_t kFindItemAddress = 0x5FF5B0;

// Windows services, kept in a file of their own.
// The library's root object, or none when the module or its entry is missing.
SplicerLibrary* platform_bind_splicer();
// The current directory into a 260-byte buffer; "" when it fails or does not fit.
void platform_read_start_directory(char* buffer);
