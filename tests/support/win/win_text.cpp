#include "win_text.h"

std::wstring widen(const std::string& text, UINT code_page) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string narrow(const std::wstring& text, UINT code_page) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string bytes(n, '\0');
  WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
  return bytes;
}

std::string cp1251(const char* utf8) { return narrow(widen(utf8, CP_UTF8), 1251); }

std::string wine_path(const char* unix_path) {
  std::string path = "Z:";
  for (const char* p = unix_path; *p != '\0'; ++p) path += *p == '/' ? '\\' : *p;
  return path;
}

std::string program_path() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

std::string program_folder() {
  const std::string path = program_path();
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(0, slash);
}
