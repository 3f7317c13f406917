// The maintenance tool run for real under Wine and Xvfb with its switches:
// a pack registered (/p:) and the interface language switched (/l:) in a
// fresh game folder, every box read and answered, then the settings file and
// its defaults as they stay on disk.
// The suite runs twice, in an English and in a Russian interface; the texts
// are checked byte for byte in the run's language (e2e_support.h).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "win_faults.h"

TEST(ToolRegisterPack, AppendsANewPackSavesAndConfirms) {
  GameFolder game("3.7");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  game.Write(kSettings, kUserFile);
  game.Write(kDefaults, "<Packs>\r\n");
  Launcher launcher(game.path(), "Quarn QV Launcher");

  ChildRun run = run_tool(game.path(), " /P:NewPack");
  expect_boxes(run, {installed("NewPack")});
  EXPECT_EQ(with_nul("<Packs> = \"GrandPack_Rus\", \"NewPack\"\r\n<Language> = \"eng\"\r\n"), game.Read(kSettings));
  EXPECT_EQ("<Packs>\r\n", game.Read(kDefaults));
  EXPECT_TRUE(launcher.GotClose());
  // A switch was found: no hand-off.
  EXPECT_EQ("", updater_log(run, game));
}

namespace {
// One run of the tool with switches in a fresh game folder of product 3.8
// with the updater in its data folder: the settings file and the defaults
// before (kNone: no such file), the arguments, then the boxes expected and
// the settings file after. The defaults never change, and with a switch in
// the command line the tool never hands off to the updater.
struct SwitchRun {
  const char* name;
  std::string settings;
  std::string defaults;
  std::string arguments;
  std::vector<ExpectedBox> boxes;
  std::string settings_after;
};

void PrintTo(const SwitchRun& run, std::ostream* out) { *out << run.name; }

// "<Packs>" CR LF as an editor saves it in UTF-16: the text reads as its
// first two bytes, and a save of those would destroy the file.
const std::string kUtf16File("\xFF\xFE<\0P\0a\0c\0k\0s\0>\0\r\0\n\0", 20);

// clang-format off: the runs are tables laid out by hand
std::vector<SwitchRun> pack_runs() {
  const std::string known = "<Packs> = \"GrandPack_Rus\", \"" + cp1251("ПАК") + "\"\r\n";
  const std::string cyrillic_lower = cp1251("пак");
  const std::string defaults = "// defaults\r\n<Packs> = \"Base\"\r\n<Language> = \"eng\"";
  const std::string longest(259, 'n');
  return {
      {"AKnownPackIsConfirmedWithoutRewriting", known, kNone, " /p:grandpack_rus", {installed("grandpack_rus")},
       known},
      {"OnlyAsciiLettersFoldCase", known, kNone, " /p:" + cyrillic_lower, {installed(cyrillic_lower)},
       with_nul("<Packs> = \"GrandPack_Rus\", \"" + cp1251("ПАК") + "\", \"" + cyrillic_lower + "\"\r\n")},
      {"WithoutQelIniTheDefaultsAreSavedAsQelIni", kNone, defaults, " /p:NewPack", {installed("NewPack")},
       with_nul("// defaults\r\n<Packs> = \"Base\", \"NewPack\"\r\n<Language> = \"eng\"")},
      // The defaults already list the pack: confirmed, and no qel.ini appears.
      {"APackInTheDefaultsIsConfirmedWithoutSaving", kNone, defaults, " /p:BASE", {installed("BASE")}, kNone},
      {"NoPacksTagEndsSilently", "<Language> = \"eng\"\r\n", kNone, " /p:NewPack", {}, "<Language> = \"eng\"\r\n"},
      // Neither file: nothing is written, no box, and still no hand-off.
      {"NoSettingsFileEndsSilently", kNone, kNone, " /p:NewPack", {}, kNone},
      {"AnEmptyNameMatchesAnEmptyOrNonStringValue", "<Packs> = \"A\", 5\r\n", kNone, " /p:", {installed("")},
       "<Packs> = \"A\", 5\r\n"},
      {"AnEmptyNameIsAppendedElse", "<Packs> = \"A\"\r\n", kNone, " /p:", {text_only(installed(""))},
       with_nul("<Packs> = \"A\", \"\"\r\n")},
      {"ANameWithAQuoteIsRefusedBeforeAnyFileIsRead", kNone, "<Packs> = \"A\"\r\n", " /p:\"Quoted Pack\"",
       {has_quote("\"Quoted Pack\"")}, kNone},
      // " /x" ends the value but is no switch; the trailing blank belongs to
      // the last value; tab or "-" before the letter make no switch.
      {"ValuesRunToABlankFollowedBySlashAndKeepEverythingElse", "<Packs>\r\n", kNone,
       " /p:a/b /x -p:c\t/p:d /p:e ", {text_only(installed("e ")), text_only(installed("a/b"))},
       with_nul("<Packs> = \"e \", \"a/b\"\r\n")},
      {"AValueOf259IsAccepted", "<Packs>\r\n", kNone, " /p:" + longest, {text_only(installed(longest))},
       with_nul("<Packs> = \"" + longest + "\"\r\n")},
      {"AUtf16QelIniIsLeftAsItIsWithTheFailureBox", kUtf16File, kNone, " /p:NewPack", {save_failed("NewPack")},
       kUtf16File},
      {"ALongerValueIsRefusedNotCut", "<Packs>\r\n", kNone, " /p:" + longest + "X /l:" + std::string(300, 'l'), {},
       "<Packs>\r\n"},
  };
}

std::vector<SwitchRun> language_runs() {
  return {
      {"ReplacesOnlyTheFirstStringValueSilently", "<Packs> = \"A\"\r\n<Language> = \"eng\", \"deu\"\r\n", kNone,
       " /L:rus", {}, with_nul("<Packs> = \"A\"\r\n<Language> = \"rus\", \"deu\"\r\n")},
      {"AddsAMissingTag", "<Packs> = \"A\"\r\n", kNone, " /l:rus", {},
       with_nul("<Packs> = \"A\"\r\n<Language> = \"rus\"")},
      {"RewritesANumberValueUnchanged", "<Language> = 7\r\n", kNone, " /l:rus", {}, with_nul("<Language> = 7\r\n")},
      {"RefusesAQuoteSilently", kNone, "<Language> = \"eng\"\r\n", " /l:rus\"x", {}, kNone},
      {"LeavesAUtf16QelIniAsItIs", kUtf16File, kNone, " /l:rus", {}, kUtf16File},
      {"FallsBackToTheDefaults", kNone, "<Language> = \"eng\"\r\n", " /l:rus", {},
       with_nul("<Language> = \"rus\"\r\n")},
  };
}

std::vector<SwitchRun> several_switch_runs() {
  return {
      {"SeveralSwitchesRunLastFirstAndEachSeesWhatTheOthersSaved", kNone, "<Packs>\r\n<Language> = \"eng\"\r\n",
       " /l:rus /p:A B /P:c", {text_only(installed("c")), text_only(installed("A B"))},
       with_nul("<Packs> = \"c\", \"A B\"\r\n<Language> = \"rus\"\r\n")},
  };
}
// clang-format on

class ToolSwitchRun : public testing::TestWithParam<SwitchRun> {};
}  // namespace

TEST_P(ToolSwitchRun, BoxesAndFilesAfter) {
  const SwitchRun& c = GetParam();
  GameFolder game("3.8");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  if (c.settings != kNone) game.Write(kSettings, c.settings);
  if (c.defaults != kNone) game.Write(kDefaults, c.defaults);
  ChildRun run = run_tool(game.path(), c.arguments);
  expect_boxes(run, c.boxes);
  if (c.settings_after == kNone) {
    EXPECT_FALSE(game.Exists(kSettings));
  } else {
    EXPECT_EQ(c.settings_after, game.Read(kSettings));
  }
  EXPECT_EQ(c.defaults, game.Read(kDefaults));
  EXPECT_EQ("", updater_log(run, game));
}

INSTANTIATE_TEST_SUITE_P(ToolRegisterPack, ToolSwitchRun, testing::ValuesIn(pack_runs()), case_name<SwitchRun>);
INSTANTIATE_TEST_SUITE_P(ToolSwitchLanguage, ToolSwitchRun, testing::ValuesIn(language_runs()), case_name<SwitchRun>);
INSTANTIATE_TEST_SUITE_P(ToolSwitches, ToolSwitchRun, testing::ValuesIn(several_switch_runs()), case_name<SwitchRun>);

TEST(ToolRegisterPack, AFailedSaveIsReportedAsAFailure) {
  GameFolder game("3.8");
  game.Write(kSettings, kUserFile);
  {
    SCOPED_TRACE("held open by a reader");
    // Others may read the file but not replace it.
    Holder holder(game.At(kSettings), "read");
    ASSERT_TRUE(holder.holding());
    ChildRun run = run_tool(game.path(), " /p:NewPack");
    expect_boxes(run, {save_failed("NewPack")});
    holder.Release();
    EXPECT_EQ(kUserFile, game.Read(kSettings));
  }
  {
    SCOPED_TRACE("hidden");
    // A hidden file is one that a plain new file may not replace.
    ASSERT_TRUE(SetFileAttributesA(game.At(kSettings).c_str(), FILE_ATTRIBUTE_HIDDEN));
    ChildRun run = run_tool(game.path(), " /p:NewPack");
    expect_boxes(run, {save_failed("NewPack")});
    EXPECT_EQ(kUserFile, game.Read(kSettings));
    EXPECT_NE(0u, GetFileAttributesA(game.At(kSettings).c_str()) & FILE_ATTRIBUTE_HIDDEN) << "still hidden";
    SetFileAttributesA(game.At(kSettings).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  {
    SCOPED_TRACE("the rename over the old name fails");
    // Wine's server renames the new file by its own path.
    InjectedFaults faults(game.path(), "-e trace=rename -e inject=rename:error=EIO",
                          {game.At("_QV3_Data\\Settings\\qel~000")});
    if (!faults.attached()) GTEST_SKIP() << "strace cannot hold the Wine server here";
    ChildRun run = run_tool(game.path(), " /p:NewPack");
    const std::string log = faults.Log();
    if (log.find("(INJECTED)") == std::string::npos) GTEST_SKIP() << "strace saw no rename here: " << log;
    expect_boxes(run, {save_failed("NewPack")});
    EXPECT_EQ(kUserFile, game.Read(kSettings));
    EXPECT_EQ(std::vector<std::string>{"qel.ini"}, folder_names(game.At("_QV3_Data\\Settings")));
  }
}

TEST(ToolRegisterPack, SavesInTheDeepestGameFolderWhereQelIniFits) {
  GameFolder game;
  // Game folder of 232 characters: "<folder>\_QV3_Data\Settings\qel.ini" is 259.
  const int depth = 232 - static_cast<int>(game.path().size()) - 1;
  ASSERT_GT(depth, 0);
  ASSERT_LE(depth, 255) << "one folder name on Linux";
  const std::string deep = std::string(static_cast<size_t>(depth), 'd');
  const std::string settings = deep + "\\" + kSettings;
  ASSERT_EQ(259u, game.At(settings).size());
  game.Write(settings, "<Packs>\r\n");
  ChildRun run = run_tool(game.At(deep), " /p:New");
  expect_boxes(run, {installed("New")});
  EXPECT_EQ(with_nul("<Packs> = \"New\"\r\n"), game.Read(settings));
  EXPECT_EQ(std::vector<std::string>{"qel.ini"}, folder_names(game.At(deep + "\\_QV3_Data\\Settings")))
      << "nothing else is left in the settings folder";
}

TEST(ToolRegisterPack, AQelIniThatExistsButCannotBeReadIsReportedAndNeverReplacedByTheDefaults) {
  {
    SCOPED_TRACE("held open without sharing");
    GameFolder game("3.8");
    game.Write(kSettings, kUserFile);
    game.Write(kDefaults, "<Packs>\r\n");
    {
      Holder holder(game.At(kSettings), "none");  // reads fail with a sharing violation
      ASSERT_TRUE(holder.holding());
      // The language switch stays silent, as it does on a failed save.
      ChildRun run = run_tool(game.path(), " /p:NewPack /l:rus");
      expect_boxes(run, {save_failed("NewPack")});
    }
    EXPECT_EQ(kUserFile, game.Read(kSettings));
  }
  {
    SCOPED_TRACE("a folder");
    // A "qel.ini" that is a folder: access denied, not missing.
    GameFolder game("3.8");
    game.Write(kDefaults, "<Packs>\r\n");
    make_folders(game.At(kSettings));
    ChildRun run = run_tool(game.path(), " /p:NewPack");
    expect_boxes(run, {save_failed("NewPack")});
    EXPECT_EQ("<Packs>\r\n", game.Read(kDefaults));
  }
}

TEST(ToolRegisterPack, ALinkedQelIniIsSavedThroughItsLink) {
  const std::string saved = with_nul("<Packs> = \"NewPack\"\r\n");
  {
    SCOPED_TRACE("a hard link");
    GameFolder game("3.8");
    game.Write("Mods\\qel.ini", "<Packs>\r\n");
    ASSERT_TRUE(CreateHardLinkA(game.At(kSettings).c_str(), game.At("Mods\\qel.ini").c_str(), nullptr));
    ChildRun run = run_tool(game.path(), " /p:NewPack");
    expect_boxes(run, {installed("NewPack")});
    EXPECT_EQ(saved, game.Read("Mods\\qel.ini"));
    EXPECT_EQ(saved, game.Read(kSettings));
  }
  {
    SCOPED_TRACE("a symbolic link");
    GameFolder game("3.8");
    game.Write("Mods\\qel.ini", "<Packs>\r\n");
    if (!make_symbolic_link("../../Mods/qel.ini", game.At(kSettings))) GTEST_SKIP() << "no symbolic link made here";
    ChildRun run = run_tool(game.path(), " /p:NewPack");
    expect_boxes(run, {installed("NewPack")});
    EXPECT_EQ(saved, game.Read("Mods\\qel.ini"));
    game.Write("Mods\\qel.ini", "later");
    EXPECT_EQ("later", game.Read(kSettings)) << "still a link";
    EXPECT_EQ(std::vector<std::string>{"qel.ini"}, folder_names(game.At("_QV3_Data\\Settings")));
    EXPECT_EQ(std::vector<std::string>{"qel.ini"}, folder_names(game.At("Mods")));
  }
}

TEST(ToolSwitches, ABlankInTheProgramPathCountsAsWell) {
  GameFolder game("3.8");
  game.Write(kSettings, "<Packs>\r\n");
  // The scan covers the whole command line, the program's own name included.
  ChildRun run = run_tool(game.path(), "C:\\Games /p:FromPath\\QV_InternalTool.exe go", answer_ok, nullptr, true);
  expect_boxes(run, {text_only(installed("FromPath\\QV_InternalTool.exe go"))});
}
