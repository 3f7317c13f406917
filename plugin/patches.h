// The patch installer: pack folders and the patch set of the host version.
#pragma once

// Reads the shared variables and the start directory and applies the patch
// set of the host version (version 1), or switches off the plug-in's own pack
// (any other version).
void install_patches();

// Prints "?" over every pack folder path whose last component begins with the
// 13-character prefix (ASCII case-insensitive).
void blank_pack_dirs(const char* prefix);
