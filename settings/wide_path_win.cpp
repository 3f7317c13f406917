#include "wide_path_win.h"

DWORD WidePath::NameAt() const {
  DWORD at = length;
  while (at > 0 && text[at - 1] != L'\\' && text[at - 1] != L'/') --at;
  return at;
}

namespace {
// Appends the ANSI text, converted without loss, at `at`; returns the new
// length, or 0 with the error in *error.
DWORD append_ansi(wchar_t* buffer, DWORD at, const char* ansi, uint32_t* error) {
  const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, buffer + at,
                                    static_cast<int>(kWidePathSize - at));
  if (n <= 0) {
    const DWORD e = GetLastError();
    *error = e == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE : ERROR_NO_UNICODE_TRANSLATION;
    return 0;
  }
  return at + static_cast<DWORD>(n) - 1;
}

bool stands_alone(const char* name) { return name[0] == '\\' || (name[0] != '\0' && name[1] == ':'); }
}  // namespace

int full_wide_path(const char* folder, const char* name, WidePath* path, uint32_t* error) {
  if (name == nullptr || *name == '\0') {
    *error = ERROR_INVALID_NAME;
    return 0;
  }
  wchar_t joined[kWidePathSize];
  DWORD at = 0;
  if (folder != nullptr && *folder != '\0' && !stands_alone(name)) {
    at = append_ansi(joined, 0, folder, error);
    if (at == 0) return 0;
    if (joined[at - 1] != L'\\') joined[at++] = L'\\';
  }
  if (at >= kWidePathSize - 1 || append_ansi(joined, at, name, error) == 0) {
    if (at >= kWidePathSize - 1) *error = ERROR_FILENAME_EXCED_RANGE;
    return 0;
  }
  // Relative to the current directory, which is read in UTF-16 too.
  const DWORD n = GetFullPathNameW(joined, kWidePathSize, path->text, nullptr);
  if (n == 0 || n >= kWidePathSize) {
    *error = n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    return 0;
  }
  path->length = n;
  return 1;
}

int final_wide_path(HANDLE file, WidePath* path) {
  // Looked up at run time: Windows XP has no such call, and a file there is
  // never a symbolic link. The constants are those of the SDK from Vista on.
  using FinalPathCall = DWORD(WINAPI*)(HANDLE, wchar_t*, DWORD, DWORD);
  constexpr DWORD kNameNormalized = 0x0;
  constexpr DWORD kVolumeNameDos = 0x0;
  const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW");
  if (found == nullptr) return 0;
  const auto call = reinterpret_cast<FinalPathCall>(reinterpret_cast<void*>(found));
  const DWORD n = call(file, path->text, kWidePathSize, kNameNormalized | kVolumeNameDos);
  if (n == 0 || n >= kWidePathSize) return -1;
  path->length = n;
  return 1;
}

int exact_ansi(const wchar_t* wide, char* ansi, int size) {
  // Where the ANSI code page is UTF-8 every name has its form, and the test
  // for lost characters is not allowed.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lost = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, nullptr, utf8 ? nullptr : &lost);
  if (n <= 0 || lost) return 0;
  if (n > size) return -1;
  WideCharToMultiByte(CP_ACP, flags, wide, -1, ansi, size, nullptr, nullptr);
  return 1;
}
