// Paths of the settings files in UTF-16. The library's interface takes ANSI
// names; they are turned into UTF-16 once, without loss, and every file call
// underneath is a W call, so that a path the ANSI code page cannot name is
// still reached, and never mistaken for another one.
#pragma once
#include <windows.h>

#include <cstdint>

// UTF-16 code units of a path with its terminator: room for the "\\?\" form
// of a final path well beyond MAX_PATH.
constexpr DWORD kWidePathSize = 1024;

struct WidePath {
  wchar_t text[kWidePathSize];
  DWORD length;  // code units before the terminator

  // Where the last component starts.
  DWORD NameAt() const;
};

// The full path of `name` in `folder` (none or "" for the current directory;
// a name with a drive or a leading backslash stands alone), both ANSI. 0 with
// the error in *error when a byte has no UTF-16 form or the path is too long.
int full_wide_path(const char* folder, const char* name, WidePath* path, uint32_t* error);

// The path of the file that `file` is open on, with every link on the way
// resolved, in its "\\?\" form. 1 when told; 0 when this Windows cannot tell
// (before Vista, which has no symbolic links to files); -1 when it cannot be
// told (too long, or a volume without a drive letter).
int final_wide_path(HANDLE file, WidePath* path);

// The UTF-16 text in the ANSI code page into `ansi` (`size` bytes): 1 when it
// names exactly that text, 0 when a character has no ANSI form (or only a
// look-alike, which names something else), -1 when it does not fit.
int exact_ansi(const wchar_t* wide, char* ansi, int size);
