// item_dump: the document a settings file gives, in the .items form of the
// golden files, or with --saved the text the writer makes of it (without the
// final NUL): how a new golden case's expected files are made, to be read
// over by hand before they are committed (native build only).
//   item_dump FILE.ini >FILE.items
//   item_dump --saved FILE.ini >FILE.saved
#include <cstdio>
#include <cstring>
#include <string>

#include "item_dump.h"
#include "settings_document.h"

int main(int argc, char** argv) {
  const bool saved = argc == 3 && std::strcmp(argv[1], "--saved") == 0;
  if (argc != 2 && !saved) {
    std::fprintf(stderr, "usage: item_dump [--saved] FILE\n");
    return 2;
  }
  const char* path = argv[argc - 1];
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "item_dump: cannot open %s\n", path);
    return 1;
  }
  std::string bytes;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  std::fclose(file);
  // As the golden test reads it: the text ends at the first NUL byte.
  SettingsDocument document;
  document.Parse(bytes.c_str());
  const std::string out = saved ? written_text(document) : dump_items(document);
  return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() ? 0 : 1;
}
