// The tool's pure pieces: the switch scanner, the launcher title test, the
// language choice, the pack name tests, the texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "launcher_title.h"
#include "messages.h"
#include "pack_name.h"
#include "text.h"
#include "ui_language.h"

namespace {
struct Found {
  int kind;
  std::string value;
  bool operator==(const Found& o) const { return kind == o.kind && value == o.value; }
};
void record(void* context, int kind, const char* value) {
  static_cast<std::vector<Found>*>(context)->push_back({kind, value});
}
std::vector<Found> scan(const std::string& line, int* found = nullptr) {
  std::vector<Found> calls;
  const int result = scan_switches(line.c_str(), record, &calls);
  if (found != nullptr) *found = result;
  return calls;
}
std::ostream& operator<<(std::ostream& out, const Found& f) {
  return out << (f.kind == kSwitchPack ? "p:" : "l:") << "[" << f.value << "]";
}
const int P = kSwitchPack;
const int L = kSwitchLanguage;
}  // namespace

TEST(ScanSwitches, RunsEverySwitchLastFirst) {
  int found = 0;
  EXPECT_EQ((std::vector<Found>{{P, "c"}, {P, "A B"}, {L, "rus"}}), scan("t.exe /l:rus /p:A B /P:c", &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ((std::vector<Found>{{P, "GrandPack_Rus"}}), scan("t.exe /P:GrandPack_Rus"));
  EXPECT_EQ((std::vector<Found>{{L, "x"}}), scan("t.exe /L:x"));
}

TEST(ScanSwitches, OnlyBlankSlashLetterColonMakesASwitch) {
  int found = 1;
  EXPECT_TRUE(scan("t.exe -p:GrandPack_Rus", &found).empty());
  EXPECT_EQ(0, found);
  EXPECT_TRUE(scan("t.exe\t/p:GrandPack_Rus", &found).empty());
  EXPECT_EQ(0, found);
  EXPECT_TRUE(scan("t.exe /x:a /pp /p", &found).empty());
  EXPECT_EQ(0, found);
  EXPECT_TRUE(scan(" ", &found).empty());
  EXPECT_TRUE(scan("", &found).empty());
  EXPECT_EQ(0, found);
}

TEST(ScanSwitches, ValueEndsOnlyAtTheEndOrBeforeBlankSlash) {
  EXPECT_EQ((std::vector<Found>{{P, "a/b"}}), scan("t.exe /p:a/b /x"));
  EXPECT_EQ((std::vector<Found>{{P, "\"Quoted Name\""}}), scan("t.exe /p:\"Quoted Name\""));
  EXPECT_EQ((std::vector<Found>{{P, "GrandPack_Rus "}}), scan("t.exe /p:GrandPack_Rus "));
  EXPECT_EQ((std::vector<Found>{{P, ""}}), scan("t.exe /p:"));
  EXPECT_EQ((std::vector<Found>{{P, "b"}, {P, ""}}), scan("t.exe /p: /p:b"));
  EXPECT_EQ((std::vector<Found>{{P, "x"}}), scan(" /p:x"));
}

TEST(ScanSwitches, ABlankInTheProgramPathCounts) {
  EXPECT_EQ((std::vector<Found>{{P, "Q\\tool.exe\" go"}}), scan("\"C:\\Games /p:Q\\tool.exe\" go"));
}

TEST(ScanSwitches, ValuesUpTo259AreTakenWholeLongerOnesAreRefusedButCount) {
  const std::string v259(259, 'v');
  EXPECT_EQ((std::vector<Found>{{P, v259}}), scan("t.exe /p:" + v259));
  int found = 0;
  EXPECT_TRUE(scan("t.exe /p:" + v259 + "w", &found).empty());
  EXPECT_EQ(1, found);
  // A refused value does not stop the other switches.
  EXPECT_EQ((std::vector<Found>{{L, "rus"}}), scan("t.exe /l:rus /p:" + std::string(5000, 'w'), &found));
  EXPECT_EQ((std::vector<Found>{{P, "x"}}), scan("t.exe /p:x /l:" + std::string(260, 'w')));
}

TEST(LauncherTitle, PrefixCaseSensitiveThenLauncherWithinTheFirst127Characters) {
  EXPECT_EQ(1, is_launcher_title("Quarn QV Launcher"));
  EXPECT_EQ(1, is_launcher_title("Quarn QVLauncher"));
  EXPECT_EQ(1, is_launcher_title("Quarn QV Update Launcher 3"));
  EXPECT_EQ(0, is_launcher_title("Quarn QV"));
  EXPECT_EQ(0, is_launcher_title("Quarn"));
  EXPECT_EQ(0, is_launcher_title(""));
  EXPECT_EQ(0, is_launcher_title("quarn qv Launcher"));
  EXPECT_EQ(0, is_launcher_title("Quarn QV launcher"));
  EXPECT_EQ(0, is_launcher_title("Quarn QV Launche"));
  EXPECT_EQ(0, is_launcher_title("The Quarn QV Launcher"));
  // "Launcher" inside the prefix's 8 characters does not count.
  EXPECT_EQ(0, is_launcher_title("LauncherQuarn QV"));
  const std::string fits = "Quarn QV " + std::string(110, 'x') + "Launcher";  // 127 characters
  EXPECT_EQ(1, is_launcher_title(fits.c_str()));
  const std::string too_far = "Quarn QV " + std::string(111, 'x') + "Launcher";  // 128 characters
  EXPECT_EQ(0, is_launcher_title(too_far.c_str()));
}

TEST(LanguageChoice, RussianUserInterfaceOrEnglishUsSystemWithARussianLocale) {
  EXPECT_TRUE(choose_russian_texts(0x0419, 0x0409, 0x0409));
  EXPECT_TRUE(choose_russian_texts(0x0819, 0x0407, 0x0407));  // Russian (Moldova): primary language counts
  EXPECT_FALSE(choose_russian_texts(0x0409, 0x0409, 0x0409));
  EXPECT_TRUE(choose_russian_texts(0x0409, 0x0409, 0x0419));   // English (US) interface, Russian locale
  EXPECT_TRUE(choose_russian_texts(0x0407, 0x0409, 0x0019));   // the bare primary language as locale
  EXPECT_FALSE(choose_russian_texts(0x0409, 0x0809, 0x0419));  // English (UK) interface
  EXPECT_FALSE(choose_russian_texts(0x0409, 0x0019, 0x0419));  // the second test wants exactly 0x0409
  EXPECT_FALSE(choose_russian_texts(0x0409, 0x0409, 0x0422));  // Ukrainian locale
}

TEST(PackName, QuoteAndAsciiOnlyCaseFolding) {
  EXPECT_EQ(1, has_quote("a\"b"));
  EXPECT_EQ(1, has_quote("\""));
  EXPECT_EQ(0, has_quote("a'b"));
  EXPECT_EQ(0, has_quote(""));
  EXPECT_EQ(0, ascii_stricmp("GrandPack_Rus", "grandpack_rus"));
  EXPECT_EQ(0, ascii_stricmp("", ""));
  EXPECT_NE(0, ascii_stricmp("a", "ab"));
  EXPECT_NE(0, ascii_stricmp("\xCF\xC0\xCA", "\xEF\xE0\xEA"));  // Cyrillic capitals and small letters
  EXPECT_NE(0, ascii_stricmp("[", "{"));  // no folding beyond A-Z
  EXPECT_NE(0, ascii_stricmp("@", "`"));
}

TEST(Texts, RussianTextsAreWindows1251AndKeepTheirPlaceholders) {
  // "Установка %s успешно завершена." starts with У (0xD3) in Windows-1251.
  EXPECT_EQ('\xD3', kTextPackInstalled.russian[0]);
  for (const ToolText* text : {&kTextPackInstalled, &kTextPackSaveFailed, &kTextPackNameHasQuote}) {
    SCOPED_TRACE(text->english);
    EXPECT_NE(nullptr, strstr(text->english, "%s"));
    EXPECT_NE(nullptr, strstr(text->russian, "%s"));
  }
  for (const ToolText* text :
       {&kTextWrongCommandLine, &kTextCloseGame, &kTextCloseLauncher, &kTextUpdaterStartFailed}) {
    SCOPED_TRACE(text->english);
    EXPECT_EQ(nullptr, strchr(text->english, '%'));
    EXPECT_EQ(nullptr, strchr(text->russian, '%'));
  }
}
