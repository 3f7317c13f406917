// What the load and the save of a settings file share (Windows): the folder
// they record, brief locks waited out, and the size of an open file.
#pragma once
#include <windows.h>

#include <cstdint>

#include "settings_document.h"
#include "wide_path_win.h"

inline uint32_t error_or(DWORD error, DWORD fallback) { return error != 0 ? error : fallback; }

// Records in `directory` (kPathSize bytes) the folder a load or save works
// in: its full ANSI path where that names it exactly, else the text given
// ("" for the current directory). Returns 0 with the error in *error when a
// folder is given that is not one, so that no file is ever reached relative
// to another folder.
int record_folder(const char* folder, char* directory, uint32_t* error);

// Virus scanners, indexers and sync clients open a file for a moment right
// after it was written, so a load or save that runs into one of them is tried
// again for about a second before it gives up.
constexpr int kLockRetries = 10;
constexpr DWORD kLockRetryDelayMs = 100;

inline bool is_brief_lock(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Runs `attempt` (which returns true on success) again while it fails with
// what may be a brief lock. Returns 1 on success, else 0 with the last error
// in *error.
template <typename Attempt>
int retry_while_locked(Attempt attempt, DWORD* error) {
  for (int tries = 0;; ++tries) {
    if (attempt()) return 1;
    *error = GetLastError();
    if (!is_brief_lock(*error) || tries == kLockRetries) return 0;
    Sleep(kLockRetryDelayMs);
  }
}

// The size of the open file into *size; 0 with the error in *error when it
// cannot be told or is 2 GiB or more, which a 32-bit process cannot hold in
// one block.
int held_size(HANDLE file, DWORD* size, uint32_t* error);

// Rewrites the open file (a file with several names, or one whose path
// cannot be told) in place with the document's text and its NUL (`n`
// bytes). After each step the file reads as its old text or its new one.
// 1 on success.
int rewrite_in_place(HANDLE file, const SettingsDocument& document, DWORD n, uint32_t* error);
