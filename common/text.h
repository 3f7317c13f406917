// Path and text helpers. Texts are zero-terminated single-byte strings; only
// the backslash separates path components.
#pragma once

constexpr int kPathSize = 260;  // path buffers: 259 characters and the terminator

// The text after the last backslash (the terminator when the text ends in
// one), the whole text when it has none, none for none.
const char* path_file_part(const char* text);
char* path_file_part(char* text);

// Compares like _stricmp / _strnicmp in the "C" locale: only A-Z fold to
// a-z, every other byte compares as itself. The bounded form looks at no more
// than `limit` characters; a shorter text differs at its terminator.
int ascii_stricmp(const char* a, const char* b);
int ascii_strnicmp(const char* a, const char* b, unsigned limit);

#ifndef QV_PLUGIN_BUILD
constexpr int kTempRingSize = 32;
constexpr int kTempTextSize = 1024;

// Formats into the next of 32 rotating static buffers of 1024 bytes and
// returns it; it stays valid for the next 31 calls. A longer result is cut.
const char* format_temp(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Bounded copy into a 260-byte path buffer; a longer source is cut at 259
// characters. None copies as the empty text.
void copy_path(char* destination, const char* source);
#endif
