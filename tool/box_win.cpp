// The tool's message boxes and its language query.
#include <windows.h>

#include <cstring>

#include "tool_state.h"
#include "ui_language.h"

namespace {
constexpr UINT kRussianCodePage = 1251;
constexpr int kBoxTextSize = 1024;

// Appends `length` bytes of `text`, read in `code_page`, to the wide text
// of `*used` characters in `box` (kBoxTextSize characters); a piece that
// does not fit is left out whole (no text of the tool comes near the size).
void append_wide(wchar_t* box, int* used, const char* text, int length, UINT code_page) {
  // A room of 0 would make MultiByteToWideChar count instead of convert.
  const int room = kBoxTextSize - 1 - *used;
  if (length <= 0 || room <= 0) return;
  const int n = MultiByteToWideChar(code_page, 0, text, length, box + *used, room);
  if (n > 0) *used += n;
}
}  // namespace

bool is_russian_ui() {
  return choose_russian_texts(GetUserDefaultUILanguage(), GetSystemDefaultUILanguage(), GetSystemDefaultLCID());
}

// The boxes are shown in UTF-16: the Russian texts are Windows-1251 bytes,
// which a box of the ANSI code page would show as Latin letters wherever
// that code page is not 1251. The argument came in the ANSI code page of the
// command line and is read in it.
int show_tool_box(const ToolText& text, const char* caption, unsigned style, const char* argument) {
  const bool russian = is_russian_ui();
  const char* body = tool_text(text, russian);
  const UINT body_code_page = russian ? kRussianCodePage : CP_ACP;
  const char* mark = argument != nullptr ? std::strstr(body, "%s") : nullptr;
  wchar_t wide_body[kBoxTextSize];
  int used = 0;
  if (mark != nullptr) {
    append_wide(wide_body, &used, body, static_cast<int>(mark - body), body_code_page);
    append_wide(wide_body, &used, argument, static_cast<int>(std::strlen(argument)), CP_ACP);
    body = mark + 2;
  }
  append_wide(wide_body, &used, body, static_cast<int>(std::strlen(body)), body_code_page);
  wide_body[used] = L'\0';
  wchar_t wide_caption[kBoxTextSize];
  used = 0;
  append_wide(wide_caption, &used, caption, static_cast<int>(std::strlen(caption)), CP_ACP);
  wide_caption[used] = L'\0';
  return MessageBoxW(nullptr, wide_body, wide_caption, style);
}
