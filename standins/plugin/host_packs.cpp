#include "host_packs.h"

#include <cstring>

#include "host_check.h"
#include "host_library.h"

namespace {

const PackDir kStandard[] = {
    {"C:\\Games\\Host\\packs\\eng+rus fonts", true, false},
    {"C:\\Games\\Host\\packs\\GrandPack_Rus", false, true},
    {"D:\\PACKS\\ENG+RUS FONTS", true, false},
    {"d:\\packs\\grandpack_rus", false, true},
    {"eNg+RuS FoNtS (v2)", true, false},
    {"C:\\packs\\GrandPack_Rus_extra", false, true},
    {"C:\\packs\\eng+rus font", false, false},
    {"C:\\packs\\GrandPack_Ru", false, false},
    {"C:\\packs\\eng+rus fonts\\", false, false},
    {"C:\\packs\\GrandPack_Rus\\", false, false},
    {"C:/packs/eng+rus fonts", false, false},
    {"eng+rus fonts/sub", true, false},
    {"GRANDPACK_RUS/sub", false, true},
    {"C:\\packs\\xeng+rus fonts", false, false},
    {"C:\\packs\\Other pack", false, false},
    {"", false, false},
};
const PackDir kWithNone[] = {
    {"C:\\packs\\GrandPack_Rus", false, true},
    {nullptr, false, false},
    {"C:\\packs\\GrandPack_Rus", false, true},
};

constexpr int kMaxDirs = 16;
constexpr int kTextSize = 64;

const PackList* current = nullptr;
char texts[kMaxDirs][kTextSize];
char* array[kMaxDirs];

// The bytes of entry i as filled: its text, then 'Z' to show stray writes.
void filled_text(int i, char* out) {
  std::memset(out, 'Z', kTextSize);
  std::memcpy(out, current->dirs[i].text, std::strlen(current->dirs[i].text) + 1);
}

bool blanks(Blank blank, const PackDir& d) { return blank == kBlankFonts ? d.fonts : blank == kBlankOwn && d.own; }

}  // namespace

const PackList kStandardPacks = {kStandard, sizeof kStandard / sizeof kStandard[0]};
const PackList kPacksWithNone = {kWithNone, sizeof kWithNone / sizeof kWithNone[0]};

uint32_t fill_pack_dirs(const PackList& list) {
  current = &list;
  for (int i = 0; i < list.count; ++i) {
    array[i] = nullptr;
    if (list.dirs[i].text == nullptr) continue;
    filled_text(i, texts[i]);
    array[i] = texts[i];
  }
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(array));
}

void publish_standard(int32_t version, int32_t count) {
  const uint32_t dirs = fill_pack_dirs(kStandardPacks);
  publish("QV.ExeVersion", version);
  publish("QV.PackDirs", dirs);
  publish("QV.PackDirs.Count", count);
}

void check_pack_dirs(Blank blank, const char* what) {
  for (int i = 0; i < current->count; ++i) {
    const PackDir& dir = current->dirs[i];
    if (dir.text == nullptr) {
      check(array[i] == nullptr, "%s: pack folder array entry %d (none) was changed", what, i);
      continue;
    }
    char expected[kTextSize];
    filled_text(i, expected);
    if (blanks(blank, dir)) {
      expected[0] = '?';
      expected[1] = '\0';
    }
    check(array[i] == texts[i], "%s: pack folder array entry %d was changed", what, i);
    check(std::memcmp(texts[i], expected, kTextSize) == 0, "%s: pack folder %d \"%s\" reads \"%s\", expected \"%s\"",
          what, i, dir.text, texts[i], expected);
  }
}

int switched_off(const char* out[], int room) {
  int n = 0;
  for (int i = 0; current != nullptr && i < current->count && n < room; ++i)
    if (current->dirs[i].text != nullptr && current->dirs[i].text[0] != '?' && texts[i][0] == '?')
      out[n++] = current->dirs[i].text;
  return n;
}
