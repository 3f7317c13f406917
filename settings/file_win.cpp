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
// after it was written, so a load or save that runs into one of them is tried
// again for about a second before it gives up.
constexpr int kLockRetries = 10;
constexpr DWORD kLockRetryDelayMs = 100;

bool is_brief_lock(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED;
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

// A 32-bit process cannot hold a file block of 2 GiB or more.
constexpr LONGLONG kLargestFile = 0x7FFFFFFELL;

// The size of the open file into *size; 0 with the error in *error when it
// cannot be told or is too large to be held in one block.
int held_size(HANDLE file, DWORD* size, uint32_t* error) {
  LARGE_INTEGER found = {};
  if (!GetFileSizeEx(file, &found)) {
    *error = error_or(GetLastError(), ERROR_READ_FAULT);
    return 0;
  }
  if (found.QuadPart > kLargestFile) {
    *error = ERROR_FILE_TOO_LARGE;
    return 0;
  }
  *size = found.LowPart;
  return 1;
}

constexpr DWORD kRefusedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_DIRECTORY;

// GetFinalPathNameByHandleA exists from Windows Vista on: it is looked up at
// run time, so that the tool still starts on Windows XP, where it is missing.
using FinalPathNameByHandleA = DWORD(WINAPI*)(HANDLE file, LPSTR path, DWORD size, DWORD flags);
constexpr DWORD kFileNameNormalized = 0x0;  // FILE_NAME_NORMALIZED
constexpr DWORD kVolumeNameDos = 0x0;       // VOLUME_NAME_DOS

// The path of the file that `file` is open on, with every symbolic link on
// the way resolved, into `path` (MAX_PATH bytes). Returns its length, or 0
// when it cannot be told (Windows XP) or named in a plain path of this code page.
DWORD final_path(HANDLE file, char* path) {
  const auto get_final_path = reinterpret_cast<FinalPathNameByHandleA>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  if (get_final_path == nullptr) return 0;
  char found[MAX_PATH + 8];
  const DWORD n = get_final_path(file, found, sizeof found, kFileNameNormalized | kVolumeNameDos);
  if (n == 0 || n >= sizeof found) return 0;
  // "\\?\C:\..." gives "C:\...", and "\\?\UNC\server\..." gives "\\server\...".
  DWORD skip = 0;
  if (n > 8 && ascii_strnicmp(found, "\\\\?\\UNC\\", 8) == 0) {
    skip = 6;
    found[6] = '\\';
  } else if (n > 4 && ascii_strnicmp(found, "\\\\?\\", 4) == 0) {
    skip = 4;
  }
  const DWORD length = n - skip;
  if (length >= MAX_PATH) return 0;
  for (DWORD i = skip; i < n; ++i) {
    if (found[i] == '?') return 0;  // a character that this code page cannot hold
  }
  CopyMemory(path, found + skip, length + 1);
  return length;
}

// Writes `size` bytes from `bytes` at `offset`; 1 when all were written, else
// 0 with the error in *error.
int write_at(HANDLE file, DWORD offset, const char* bytes, DWORD size, uint32_t* error) {
  DWORD written = 0;
  if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !WriteFile(file, bytes, size, &written, nullptr)) {
    *error = error_or(GetLastError(), ERROR_WRITE_FAULT);
    return 0;
  }
  if (written != size) {
    *error = ERROR_DISK_FULL;
    return 0;
  }
  return 1;
}

// Sets the end of the file at `size`; 1 on success.
int end_at(HANDLE file, DWORD size, uint32_t* error) {
  if (SetFilePointer(file, static_cast<LONG>(size), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(file) || !FlushFileBuffers(file)) {
    *error = error_or(GetLastError(), ERROR_WRITE_FAULT);
    return 0;
  }
  return 1;
}

// A file with more than one name (a hard link, as mod managers deploy them)
// cannot be replaced without detaching its other names, so its text is
// rewritten in place, in steps after each of which the file reads as its
// old text or as its new one: first the file grows with NUL bytes to the new
// size (a full disk shows here, and the file goes back to its old size),
// then the text (`n` bytes, ending in NUL) goes over the start, followed by
// NUL bytes up to the old size, and only then is the file cut to `n` bytes.
// Reading ends at the first NUL byte, so the bytes after it never count.
int rewrite_in_place(HANDLE file, SettingsDocument* document, DWORD n, uint32_t* error) {
  DWORD old_size = 0;
  if (!held_size(file, &old_size, error)) return 0;
  const DWORD size = n > old_size ? n : old_size;
  const DWORD growth = n > old_size ? n - old_size : 0;
  // The text, NUL bytes up to `size`, and `growth` NUL bytes more.
  char* block = static_cast<char*>(guarded_alloc(size + growth));
  ZeroMemory(block, size + growth);
  document->WriteText(block);
  int ok = 1;
  if (growth != 0 && !(write_at(file, old_size, block + size, growth, error) && end_at(file, n, error))) {
    uint32_t ignored = 0;
    end_at(file, old_size, &ignored);
    ok = 0;
  }
  if (ok) ok = write_at(file, 0, block, size, error) && end_at(file, n, error);
  guarded_free(block);
  return ok;
}
}  // namespace

int SettingsDocument::LoadFile(const char* name, const char* folder) {
  FolderScope scope;
  if (!scope.Enter(folder, &lastError)) return 0;
  GetCurrentDirectoryA(kPathSize, directory);
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD open_error = 0;
  const auto open_shared = [&] {
    file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  };
  retry_while_locked(open_shared, &open_error);
  scope.Leave();
  if (file == INVALID_HANDLE_VALUE) {
    lastError = open_error;
    return 0;
  }
  DWORD size = 0;
  if (!held_size(file, &size, &lastError)) {
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
    if (read > size) read = size;
    block[read] = '\0';
    // Text ends at the first NUL byte; anything but NUL bytes after it (a
    // file saved as UTF-16, say) is a file that a save would destroy.
    cutAtNul = false;
    for (DWORD i = static_cast<DWORD>(lstrlenA(block)); i < read; ++i) {
      if (block[i] != '\0') cutAtNul = true;
    }
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
  DWORD full = GetFullPathNameA(name, MAX_PATH, target, &target_name);
  const DWORD full_error = GetLastError();
  scope.Leave();
  if (full == 0 || full >= MAX_PATH || target_name == nullptr) {
    lastError = error_or(full == 0 ? full_error : 0, full == 0 ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  size_t name_at = static_cast<size_t>(target_name - target);
  // What the text was cut from is not overwritten with the cut text.
  if (cutAtNul) {
    lastError = ERROR_INVALID_DATA;
    return 0;
  }
  const int32_t n = MeasureText() + 1;  // the text and one NUL byte

  // The old file must be one that a plain new file may replace: not
  // read-only, hidden or system (a create of a normal file over a hidden or
  // system one is refused with access denied), not a folder, not held open
  // by another program for longer than a moment.
  const DWORD attributes = GetFileAttributesA(target);
  const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
  if (existed) {
    HANDLE old = INVALID_HANDLE_VALUE;
    DWORD open_error = ERROR_ACCESS_DENIED;
    const auto open_alone = [&] {
      old = CreateFileA(target, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
      return old != INVALID_HANDLE_VALUE;
    };
    BY_HANDLE_FILE_INFORMATION info = {};
    if ((attributes & kRefusedAttributes) || !retry_while_locked(open_alone, &open_error) ||
        !GetFileInformationByHandle(old, &info) || (info.dwFileAttributes & kRefusedAttributes)) {
      lastError = error_or(old == INVALID_HANDLE_VALUE ? open_error : 0, ERROR_ACCESS_DENIED);
      if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
      return 0;
    }
    // A symbolic link stays one: the file that it names is the one replaced,
    // in that file's own folder. A link that cannot be followed is refused.
    char resolved[MAX_PATH];
    const DWORD length = final_path(old, resolved);
    if (length != 0 && ascii_stricmp(resolved, target) != 0) {
      CopyMemory(target, resolved, length + 1);
      full = length;
      name_at = static_cast<size_t>(path_file_part(target) - target);
    } else if (length == 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      CloseHandle(old);
      lastError = ERROR_CANT_RESOLVE_FILENAME;
      return 0;
    }
    if (info.nNumberOfLinks > 1) {
      copy_path(fileName, path_file_part(name));
      uint32_t error = 0;
      const int ok = rewrite_in_place(old, this, static_cast<DWORD>(n), &error);
      CloseHandle(old);
      if (!ok) lastError = error;
      return ok;
    }
    CloseHandle(old);
  }

  // The new text goes into a fresh file beside the old one.
  char temporary[MAX_PATH];
  uint32_t create_error = 0;
  HANDLE file = create_beside(target, name_at, full, temporary, &create_error);
  if (file == INVALID_HANDLE_VALUE) {
    lastError = create_error;
    return 0;
  }
  copy_path(fileName, path_file_part(name));

  // The text and one NUL byte, in one write.
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
  // An old file is replaced with ReplaceFileA, which gives the new file the
  // old one's attributes, permissions and owner; a new name is simply moved.
  DWORD move_error = 0;
  const auto move_into_place = [&] {
    return (existed ? ReplaceFileA(target, temporary, nullptr, 0, nullptr, nullptr)
                    : MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) != FALSE;
  };
  if (ok && !retry_while_locked(move_into_place, &move_error)) {
    ok = FALSE;
    lastError = error_or(move_error, ERROR_ACCESS_DENIED);
    // A replace that failed after the old file was gone (Wine's removes it
    // first) leaves no file under the name: the new text takes it after all.
    if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES &&
        MoveFileExA(temporary, target, MOVEFILE_WRITE_THROUGH)) {
      return 0;
    }
  }
  if (!ok) DeleteFileA(temporary);
  return ok ? 1 : 0;
}

int SettingsDocument::Save() { return SaveFile(fileName, directory); }
