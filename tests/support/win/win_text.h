// Text and path forms for the Windows tests and stand-ins: code-page
// conversions, the drive Z: form that Wine gives a Unix path, and this
// program's own file.
#pragma once
#include <windows.h>

#include <string>

std::wstring widen(const std::string& text, UINT code_page = CP_ACP);
std::string narrow(const std::wstring& text, UINT code_page = CP_ACP);
// Windows-1251 bytes of a UTF-8 text.
std::string cp1251(const char* utf8);
// The Windows form of a Unix path: Wine shows the Unix root as drive Z:.
std::string wine_path(const char* unix_path);
// This program's file, and its folder without a trailing backslash.
std::string program_path();
std::string program_folder();
