// Tests on pack names and setting values.
#pragma once

// 1 when the text holds the quote byte, which the settings format cannot carry.
int has_quote(const char* text);

// Compares like _stricmp in the "C" locale: only A-Z fold to a-z; every other
// byte compares as itself.
int ascii_stricmp(const char* a, const char* b);
