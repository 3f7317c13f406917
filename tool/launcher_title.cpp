#include "launcher_title.h"

#include <cstring>

int is_launcher_title(const char* title) {
  static const char kPrefix[] = "Quarn QV";
  static const char kWord[] = "Launcher";
  const int length = static_cast<int>(strnlen(title, kWindowTitleSize - 1));
  if (length < 8 || memcmp(title, kPrefix, 8) != 0) return 0;
  for (int i = 8; i + 8 <= length; ++i) {
    if (title[i] == 'L' && memcmp(title + i, kWord, 8) == 0) return 1;
  }
  return 0;
}
