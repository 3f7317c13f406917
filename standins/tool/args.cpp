#include "args.h"

static const char* skip_blanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

int next_word(const char** cursor, char* word, int size) {
  const char* p = skip_blanks(*cursor);
  if (*p == '\0') return 0;
  int n = 0;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') {
      if (n + 1 < size) word[n++] = *p;
      ++p;
    }
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') {
      if (n + 1 < size) word[n++] = *p;
      ++p;
    }
  }
  word[n] = '\0';
  *cursor = skip_blanks(p);
  return 1;
}

const char* after_program_name(const char* command_line) {
  char ignored[1024];
  const char* p = command_line;
  next_word(&p, ignored, sizeof ignored);
  return p;
}
