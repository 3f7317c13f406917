// Checks the version-1 patch set: the writes and hooks the plug-in asked of
// the library, in order, and their effect on the host's memory.
#pragma once
#include <windows.h>

struct Hooks {
  void* dialog = nullptr;
  void* file = nullptr;
};

// The record from call `first` on against the expected list, the totals and
// the host memory; gives the two hook routines (each checked to lie in
// `plugin`), none for a hook not installed.
Hooks check_version1_patches(int first, HMODULE plugin);
