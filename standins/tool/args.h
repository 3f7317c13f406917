// Command-line splitting for the stand-ins: quoted or blank-separated words.
#pragma once

// Copies the next word of *cursor into word (size bytes) and advances past
// it and the blanks after it. Returns 0 when there is no word left.
int next_word(const char** cursor, char* word, int size);

// The command line after the program name.
const char* after_program_name(const char* command_line);
