#include "file_access_win.h"

#include "guarded_alloc.h"
#include "text.h"

int record_folder(const char* folder, char* directory, uint32_t* error) {
  const bool given = folder != nullptr && *folder != '\0';
  // The folder as the file names are joined to it: "." inside it.
  WidePath full;
  uint32_t full_error = 0;
  const int found = full_wide_path(given ? folder : nullptr, ".", &full, &full_error);
  if (!found || exact_ansi(full.text, directory, kPathSize) != 1) copy_path(directory, given ? folder : "");
  if (!given) return 1;
  if (!found) {
    *error = full_error;
    return 0;
  }
  const DWORD attributes = GetFileAttributesW(full.text);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = attributes == INVALID_FILE_ATTRIBUTES ? error_or(GetLastError(), ERROR_PATH_NOT_FOUND) : ERROR_DIRECTORY;
    return 0;
  }
  return 1;
}

// A 32-bit process cannot hold a file block of 2 GiB or more.
constexpr LONGLONG kLargestFile = 0x7FFFFFFELL;

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

namespace {
// Writes `size` bytes from `bytes` at `offset`; 1 when all were written.
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

// Sets the end of the file at `size` and flushes it; 1 on success.
int end_at(HANDLE file, DWORD size, uint32_t* error) {
  if (SetFilePointer(file, static_cast<LONG>(size), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(file) || !FlushFileBuffers(file)) {
    *error = error_or(GetLastError(), ERROR_WRITE_FAULT);
    return 0;
  }
  return 1;
}
}  // namespace

// The steps: first the file grows with NUL bytes to the new size (a full
// disk shows here, and the file goes back to its old size), then the text
// goes over the start, followed by NUL bytes up to the old size, and only
// then is the file cut to `n` bytes. Reading ends at the first NUL byte, so
// the bytes after it never count.
int rewrite_in_place(HANDLE file, const SettingsDocument& document, DWORD n, uint32_t* error) {
  DWORD old_size = 0;
  if (!held_size(file, &old_size, error)) return 0;
  const DWORD size = n > old_size ? n : old_size;
  const DWORD growth = n > old_size ? n - old_size : 0;
  // The text, NUL bytes up to `size`, and `growth` NUL bytes more.
  char* block = static_cast<char*>(guarded_alloc(size + growth));
  ZeroMemory(block, size + growth);
  document.WriteText(block);
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
