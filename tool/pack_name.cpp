#include "pack_name.h"

#include <cstring>

int has_quote(const char* text) { return strchr(text, '"') != nullptr ? 1 : 0; }

int ascii_stricmp(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int x = static_cast<unsigned char>(*a);
    int y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return x - y;
    if (x == 0) return 0;
  }
}
