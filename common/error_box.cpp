#include "error_box.h"

#include <cstdarg>
#include <cstdio>

#include "platform.h"

int bounded_format(char* text, int size, const char* format, va_list args) {
  if (size <= 0) return 0;
  int n = std::vsnprintf(text, static_cast<size_t>(size), format, args);
  text[size - 1] = '\0';  // some C runtimes leave a cut text unterminated
  if (n < 0) {
    text[0] = '\0';
    return 0;
  }
  return n < size ? n : size - 1;
}

void show_error_box(const char* format, ...) {
  char text[kErrorBoxTextSize];
  va_list args;
  va_start(args, format);
  bounded_format(text, sizeof text, format, args);
  va_end(args);
  platform_error_box(text);
}
