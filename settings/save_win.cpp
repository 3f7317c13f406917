// Saving settings files (Windows). One rule holds after every step of a
// save, and after a crash between any two: the file's name holds a whole
// text, the old one or the new one, and the only copy of a text is never
// deleted. The steps, and what stays where one fails:
//   1. The old file is opened alone (or found missing). Fails: nothing was
//      touched.
//   2. The new file is made beside it, with the old one's attributes and
//      permissions, and takes the text and is flushed. Fails: the new file
//      is removed; the old file was never touched.
//   3. One rename puts the new file over the old name. Fails: the old file
//      still has the name, and the new file is removed. A rename reported as
//      failed that did happen counts as done.
// Only the last step changes what the name holds, and it is one rename, the
// same under Wine as on Windows. A file with several names, or whose path
// cannot be told, is rewritten in place instead (file_access_win.h).
#include <windows.h>

#include <aclapi.h>

#include "file_access_win.h"
#include "guarded_alloc.h"
#include "settings_document.h"

namespace {
// A file that a plain new file may not replace: a create of a normal file
// over a hidden or system one is refused with access denied.
constexpr DWORD kRefusedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_DIRECTORY;
// The attributes the new file is made with when the old file has them.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                  FILE_ATTRIBUTE_ENCRYPTED;

// Step 1: opens the file to be replaced alone, so that nobody changes it
// while the new one is written. 1 when it is open, 0 when the name holds
// none, -1 when it is refused (*error tells why).
int open_old(const WidePath& path, HANDLE* old, BY_HANDLE_FILE_INFORMATION* info, uint32_t* error) {
  const DWORD attributes = GetFileAttributesW(path.text);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kRefusedAttributes)) {
    *error = ERROR_ACCESS_DENIED;
    return -1;
  }
  DWORD open_error = 0;
  const auto open_alone = [&] {
    *old = CreateFileW(path.text, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    return *old != INVALID_HANDLE_VALUE;
  };
  if (!retry_while_locked(open_alone, &open_error)) {
    if (open_error == ERROR_FILE_NOT_FOUND) return 0;
    *error = error_or(open_error, ERROR_ACCESS_DENIED);
    return -1;
  }
  if (!GetFileInformationByHandle(*old, info) || (info->dwFileAttributes & kRefusedAttributes)) {
    CloseHandle(*old);
    *error = ERROR_ACCESS_DENIED;
    return -1;
  }
  return 1;
}

// A name that holds no file may still be a symbolic link to nothing, which
// Wine does not show at all; a new file made there exclusively says so. The
// probe is removed when its handle closes, a crash included.
int is_free_name(const WidePath& path, uint32_t* error) {
  HANDLE probe = CreateFileW(path.text, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    *error = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ? ERROR_CANT_RESOLVE_FILENAME
                                                                 : error_or(e, ERROR_CANNOT_MAKE);
    return 0;
  }
  CloseHandle(probe);
  return 1;
}

// Step 2: makes the new file beside the target, under the target's name with
// its last characters replaced by '~' and a hexadecimal counter ("qel.ini"
// gives "qel~000", then "qel~001" ...), as long as the target's name so that
// its path fits wherever the target's fits. Files that exist are never
// touched: their names are skipped.
HANDLE create_beside(const WidePath& target, DWORD attributes, WidePath* path, uint32_t* error) {
  const DWORD name_at = target.NameAt();
  const DWORD name_length = target.length - name_at;
  if (name_length == 0) {
    *error = ERROR_INVALID_NAME;
    return INVALID_HANDLE_VALUE;
  }
  const DWORD digits = name_length > 3 ? 3 : name_length - 1;
  const unsigned variants = 1u << (4 * digits);
  *path = target;
  wchar_t* const end = path->text + path->length;
  end[-static_cast<int>(digits) - 1] = L'~';
  for (unsigned counter = 0; counter < variants; ++counter) {
    for (DWORD i = 0; i < digits; ++i) end[-1 - static_cast<int>(i)] = L"0123456789abcdef"[(counter >> (4 * i)) & 0xFu];
    if (lstrcmpiW(path->text + name_at, target.text + name_at) == 0) continue;
    HANDLE file = CreateFileW(path->text, GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                              attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD create_error = GetLastError();
    if (create_error != ERROR_FILE_EXISTS && create_error != ERROR_ALREADY_EXISTS) {
      *error = error_or(create_error, ERROR_CANNOT_MAKE);
      return INVALID_HANDLE_VALUE;
    }
  }
  *error = ERROR_CANNOT_MAKE;
  return INVALID_HANDLE_VALUE;
}

// The old file's permissions (its DACL) onto the new one, protected from
// the folder's inheritance when the old one's were. The security-info calls
// are the ones meant for files: the new file's inherited entries come from
// its folder, which is the old file's. A file system that keeps no DACL
// gives none to copy.
int copy_permissions(HANDLE from, HANDLE to, uint32_t* error) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(from, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &descriptor) !=
      ERROR_SUCCESS) {
    return 1;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  int ok = 1;
  if (dacl != nullptr && GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
                                      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD set = SetSecurityInfo(to, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    if (set != ERROR_SUCCESS) {
      *error = set;
      ok = 0;
    }
  }
  LocalFree(descriptor);
  return ok;
}

// The text and its NUL byte in one write, then on disk before it takes the
// old file's place: a power cut then leaves the old text or the new one.
int write_whole(HANDLE file, const SettingsDocument& document, DWORD n, uint32_t* error) {
  char* block = static_cast<char*>(guarded_alloc(n));
  document.WriteText(block);
  DWORD written = 0;
  int ok = 0;
  if (!WriteFile(file, block, n, &written, nullptr)) {
    *error = error_or(GetLastError(), ERROR_WRITE_FAULT);
  } else if (written != n) {
    *error = ERROR_DISK_FULL;
  } else if (!FlushFileBuffers(file)) {
    *error = error_or(GetLastError(), ERROR_WRITE_FAULT);
  } else {
    ok = 1;
  }
  guarded_free(block);
  return ok;
}

// Whether the name now holds the file that `identity` describes.
bool holds_file(const WidePath& path, const BY_HANDLE_FILE_INFORMATION& identity) {
  HANDLE file = CreateFileW(path.text, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info = {};
  const bool same = GetFileInformationByHandle(file, &info) &&
                    info.dwVolumeSerialNumber == identity.dwVolumeSerialNumber &&
                    info.nFileIndexHigh == identity.nFileIndexHigh && info.nFileIndexLow == identity.nFileIndexLow;
  CloseHandle(file);
  return same;
}

// Step 3: one rename over the old name, or onto a free name without
// replacing whatever may have come there meanwhile.
int move_into_place(const WidePath& from, const WidePath& to, bool replace, const BY_HANDLE_FILE_INFORMATION& identity,
                    uint32_t* error) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  DWORD move_error = 0;
  const auto move = [&] { return MoveFileExW(from.text, to.text, flags) != FALSE; };
  if (retry_while_locked(move, &move_error) || holds_file(to, identity)) return 1;
  *error = error_or(move_error, ERROR_ACCESS_DENIED);
  return 0;
}
}  // namespace

int SettingsDocument::SaveFile(const char* name, const char* folder) {
  WidePath target;
  if (!record_folder(folder, directory, &lastError) || !full_wide_path(folder, name, &target, &lastError)) return 0;
  // What the text was cut from is not overwritten with the cut text.
  if (cutAtNul) {
    lastError = ERROR_INVALID_DATA;
    return 0;
  }
  const DWORD n = static_cast<DWORD>(MeasureText()) + 1;  // the text and one NUL byte

  HANDLE old = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info = {};
  const int found = open_old(target, &old, &info, &lastError);
  if (found < 0 || (found == 0 && !is_free_name(target, &lastError))) return 0;
  if (found) {
    // A symbolic link stays one: the file that it names is replaced, in its
    // own folder. A file with more than one name (a hard link, as mod
    // managers deploy them) cannot be replaced without detaching its other
    // names, and one whose path cannot be told cannot be replaced by name:
    // both are rewritten through the handle already open.
    if (final_wide_path(old, &target) < 0 || info.nNumberOfLinks > 1) {
      copy_path(fileName, path_file_part(name));
      const int ok = rewrite_in_place(old, *this, n, &lastError);
      CloseHandle(old);
      return ok;
    }
  }

  WidePath temporary;
  HANDLE file = create_beside(target, found ? info.dwFileAttributes & kKeptAttributes : 0, &temporary, &lastError);
  int ok = file != INVALID_HANDLE_VALUE;
  if (ok) {
    copy_path(fileName, path_file_part(name));
    ok = (!found || copy_permissions(old, file, &lastError)) && write_whole(file, *this, n, &lastError);
    BY_HANDLE_FILE_INFORMATION identity = {};
    if (ok && !GetFileInformationByHandle(file, &identity)) {
      lastError = error_or(GetLastError(), ERROR_WRITE_FAULT);
      ok = 0;
    }
    if (!CloseHandle(file) && ok) {
      lastError = error_or(GetLastError(), ERROR_WRITE_FAULT);
      ok = 0;
    }
    if (found) CloseHandle(old);
    old = INVALID_HANDLE_VALUE;
    if (ok) ok = move_into_place(temporary, target, found != 0, identity, &lastError);
    // The new file is never the only copy of a text here: the old one keeps
    // the name, or no text was there yet.
    if (!ok) DeleteFileW(temporary.text);
  }
  if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
  return ok;
}
