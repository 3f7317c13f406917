// The tool's message boxes and its language query.
#include <windows.h>

#include "tool_state.h"
#include "ui_language.h"

bool is_russian_ui() {
  return choose_russian_texts(GetUserDefaultUILanguage(), GetSystemDefaultUILanguage(),
                              GetSystemDefaultLCID());
}

int show_tool_box(const ToolText& text, const char* caption, unsigned style, const char* argument) {
  const char* body = tool_text(text, is_russian_ui());
  if (argument != nullptr) body = format_temp(body, argument);
  return MessageBoxA(nullptr, body, caption, style);
}
