#include "text.h"

#include <cstdarg>
#include <cstring>

#include "error_box.h"

const char* path_file_part(const char* text) {
  if (text == nullptr) return nullptr;
  const char* last = std::strrchr(text, '\\');
  return last != nullptr ? last + 1 : text;
}

char* path_file_part(char* text) { return const_cast<char*>(path_file_part(static_cast<const char*>(text))); }

int ascii_strnicmp(const char* a, const char* b, unsigned limit) {
  for (unsigned i = 0; i < limit; ++i) {
    int x = static_cast<unsigned char>(a[i]);
    int y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return x - y;
    if (x == 0) return 0;
  }
  return 0;
}

int ascii_stricmp(const char* a, const char* b) { return ascii_strnicmp(a, b, ~0u); }

#ifndef QV_PLUGIN_BUILD
namespace {
char temp_ring[kTempRingSize][kTempTextSize];
int temp_next = 0;
}  // namespace

const char* format_temp(const char* format, ...) {
  char* text = temp_ring[temp_next];
  text[0] = '\0';
  va_list args;
  va_start(args, format);
  bounded_format(text, kTempTextSize, format, args);
  va_end(args);
  temp_next = (temp_next + 1) % kTempRingSize;
  return text;
}

void copy_path(char* destination, const char* source) {
  size_t n = source != nullptr ? std::strlen(source) : 0;
  if (n > static_cast<size_t>(kPathSize - 1)) n = kPathSize - 1;
  if (n > 0) std::memmove(destination, source, n);
  destination[n] = '\0';
}
#endif
