// Golden files: each case NAME has NAME.ini (the file as read), NAME.items
// (the document it gives) and NAME.saved (the text written back, without the
// final NUL). The list of cases is golden/CASES.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "item_dump.h"
#include "settings_document.h"

namespace {
std::string read_bytes(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return bytes;
  }
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  const std::string list = read_bytes(std::string(QV_GOLDEN_DIR) + "/CASES");
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    std::string name = list.substr(start, end - start);
    if (!name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names.push_back(name);
    start = end + 1;
  }
  return names;
}
}  // namespace

TEST(Golden, EachFileGivesItsItemsAndItsSavedText) {
  const std::vector<std::string> names = case_names();
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    const std::string base = std::string(QV_GOLDEN_DIR) + "/" + name;
    const std::string input = read_bytes(base + ".ini");  // may hold NUL bytes: the reader stops there
    SettingsDocument d;
    d.Parse(input.c_str());
    EXPECT_EQ(dump_items(d), read_bytes(base + ".items")) << name;
    const std::string saved = read_bytes(base + ".saved");
    EXPECT_EQ(written_text(d), saved) << name;
    EXPECT_EQ(d.MeasureText(), static_cast<int32_t>(saved.size())) << name;
    // What the writer produced reads back to the same text.
    SettingsDocument again;
    again.Parse(saved.c_str());
    EXPECT_EQ(written_text(again), saved) << name;
  }
}
