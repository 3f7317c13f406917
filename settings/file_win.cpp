// Loading and saving settings files (Windows). A save never leaves a cut or
// empty file behind: the text goes into a new file in the same folder, which
// then takes the old file's place in one step.
#include <windows.h>

#include "guarded_alloc.h"
#include "settings_document.h"

namespace {
// Makes `folder` current for the duration of a file open; remembers the
// directory to go back to. A folder that cannot be made current is a
// failure, so that no file is ever opened relative to another folder.
struct FolderScope {
  char saved[kPathSize];
  bool changed = false;

  // Returns 0 and the error code in *error on failure.
  int Enter(const char* folder, uint32_t* error) {
    if (folder == nullptr) return 1;
    const DWORD n = GetCurrentDirectoryA(kPathSize, saved);
    if (n == 0 || n >= static_cast<DWORD>(kPathSize)) {
      *error = n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
      return 0;
    }
    if (!SetCurrentDirectoryA(folder)) {
      *error = GetLastError();
      return 0;
    }
    changed = true;
    return 1;
  }
  void Leave() {
    if (changed) SetCurrentDirectoryA(saved);
    changed = false;
  }
};

uint32_t error_or(DWORD error, DWORD fallback) { return error != 0 ? error : fallback; }

// Virus scanners, indexers and sync clients open a file for a moment right
// after it was written, so a save that runs into one of them is tried again
// for about a second before it gives up.
constexpr int kLockRetries = 10;
constexpr DWORD kLockRetryDelayMs = 100;

bool is_brief_lock(DWORD error) {
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

// Creates the new file of a save beside the target (a full path of `length`
// characters whose name starts at `name_at`). Its name is the target's name
// with the last characters replaced by '~' and a hexadecimal counter
// ("qel.ini" gives "qel~000", then "qel~001" ...), as long as the target's
// name, so that its path fits wherever the target's path fits. `path`
// (MAX_PATH bytes) receives it. Files that exist are never touched: their
// names are skipped. Returns INVALID_HANDLE_VALUE and the error in *error
// when no file could be created.
HANDLE create_beside(const char* target, size_t name_at, size_t length, char* path, uint32_t* error) {
  const size_t name_length = length - name_at;
  if (name_length == 0 || length >= MAX_PATH) {
    *error = ERROR_INVALID_NAME;
    return INVALID_HANDLE_VALUE;
  }
  const size_t digits = name_length > 3 ? 3 : name_length - 1;
  const unsigned variants = 1u << (4 * digits);
  CopyMemory(path, target, length + 1);
  path[length - digits - 1] = '~';
  *error = ERROR_CANNOT_MAKE;
  for (unsigned counter = 0; counter < variants; ++counter) {
    for (size_t i = 0; i < digits; ++i) {
      path[length - 1 - i] = "0123456789abcdef"[(counter >> (4 * i)) & 0xFu];
    }
    if (ascii_stricmp(path + name_at, target + name_at) == 0) continue;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD create_error = GetLastError();
    if (create_error != ERROR_FILE_EXISTS && create_error != ERROR_ALREADY_EXISTS) {
      *error = error_or(create_error, ERROR_CANNOT_MAKE);
      return INVALID_HANDLE_VALUE;
    }
  }
  return INVALID_HANDLE_VALUE;
}
}  // namespace

int SettingsDocument::LoadFile(const char* name, const char* folder) {
  FolderScope scope;
  if (!scope.Enter(folder, &lastError)) return 0;
  GetCurrentDirectoryA(kPathSize, directory);
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD open_error = GetLastError();
  scope.Leave();
  if (file == INVALID_HANDLE_VALUE) {
    lastError = open_error;
    return 0;
  }
  const DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) {
    CloseHandle(file);
    return 0;
  }
  copy_path(fileName, path_file_part(name));
  char* block = static_cast<char*>(guarded_alloc(size + 1));
  DWORD read = 0;
  const BOOL ok = ReadFile(file, block, size, &read, nullptr);
  if (!ok) lastError = GetLastError();
  CloseHandle(file);
  if (ok) {
    // A file that shrank meanwhile gives fewer bytes: the text ends there.
    block[read <= size ? read : size] = '\0';
    Parse(block);
  }
  guarded_free(block);
  return ok ? 1 : 0;
}

SettingsDocument* SettingsDocument::OpenFile(const char* name, const char* folder, uint32_t* error) {
  SettingsDocument* document = new SettingsDocument();
  if (document->LoadFile(name, folder)) {
    if (error != nullptr) *error = 0;
    return document;
  }
  if (error != nullptr) *error = document->lastError;
  delete document;
  return nullptr;
}

int SettingsDocument::SaveFile(const char* name, const char* folder) {
  FolderScope scope;
  if (!scope.Enter(folder, &lastError)) return 0;
  GetCurrentDirectoryA(kPathSize, directory);
  char target[MAX_PATH];
  char* target_name = nullptr;
  const DWORD full = GetFullPathNameA(name, MAX_PATH, target, &target_name);
  const DWORD full_error = GetLastError();
  scope.Leave();
  if (full == 0 || full >= MAX_PATH || target_name == nullptr) {
    lastError = error_or(full == 0 ? full_error : 0, full == 0 ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }

  // The old file must be one that a plain new file may replace: not
  // read-only, hidden or system (a create of a normal file over a hidden or
  // system one is refused with access denied), not a folder, not held open
  // by another program for longer than a moment.
  const DWORD attributes = GetFileAttributesA(target);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    const DWORD refused =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    if (attributes & refused) {
      lastError = ERROR_ACCESS_DENIED;
      return 0;
    }
    HANDLE probe = INVALID_HANDLE_VALUE;
    DWORD probe_error = 0;
    const auto open_alone = [&] {
      probe = CreateFileA(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      return probe != INVALID_HANDLE_VALUE;
    };
    if (!retry_while_locked(open_alone, &probe_error)) {
      lastError = error_or(probe_error, ERROR_ACCESS_DENIED);
      return 0;
    }
    CloseHandle(probe);
  }

  // The new text goes into a fresh file beside the old one.
  char temporary[MAX_PATH];
  uint32_t create_error = 0;
  HANDLE file = create_beside(target, static_cast<size_t>(target_name - target), full, temporary, &create_error);
  if (file == INVALID_HANDLE_VALUE) {
    lastError = create_error;
    return 0;
  }
  copy_path(fileName, path_file_part(name));

  // The text and one NUL byte, in one write.
  const int32_t n = MeasureText() + 1;
  char* block = static_cast<char*>(guarded_alloc(static_cast<uint32_t>(n)));
  WriteText(block);
  DWORD written = 0;
  BOOL ok = WriteFile(file, block, static_cast<DWORD>(n), &written, nullptr);
  if (!ok) {
    lastError = error_or(GetLastError(), ERROR_WRITE_FAULT);
  } else if (written != static_cast<DWORD>(n)) {
    ok = FALSE;
    lastError = ERROR_DISK_FULL;
  }
  // On disk before it takes the old file's place: a power cut then leaves
  // the old text or the new one, never a cut one.
  if (ok && !FlushFileBuffers(file)) {
    ok = FALSE;
    lastError = error_or(GetLastError(), ERROR_WRITE_FAULT);
  }
  if (!CloseHandle(file) && ok) {
    ok = FALSE;
    lastError = error_or(GetLastError(), ERROR_WRITE_FAULT);
  }
  guarded_free(block);
  DWORD move_error = 0;
  const auto move_into_place = [&] {
    return MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  };
  if (ok && !retry_while_locked(move_into_place, &move_error)) {
    ok = FALSE;
    lastError = error_or(move_error, ERROR_ACCESS_DENIED);
  }
  if (!ok) DeleteFileA(temporary);
  return ok ? 1 : 0;
}

int SettingsDocument::Save() { return SaveFile(fileName, directory); }
