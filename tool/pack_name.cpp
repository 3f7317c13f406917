#include "pack_name.h"

#include <cstring>

int has_quote(const char* text) { return strchr(text, '"') != nullptr ? 1 : 0; }
