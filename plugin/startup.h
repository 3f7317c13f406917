// Start-up at the first process attach and the shared variables.
#pragma once
#include <cstdint>

constexpr char kOwnerName[] = "QV.Pack.GrandRus";

// Binds the patching library (once per process), registers the owner name
// unless another copy already did, and installs the patches. Any failure
// stops quietly with nothing patched.
void plugin_start();

// Address of the named shared variable's value cell; the variable is created
// with 0 when absent. None when it can be neither found nor created.
uint32_t* get_or_create_variable(const char* name);
// The cell of "QV.PackDirs.Count", as above.
uint32_t* pack_dir_count_address();
