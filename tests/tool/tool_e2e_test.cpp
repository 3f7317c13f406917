// The maintenance tool run for real under Wine and Xvfb: a fresh game folder
// per case, the stand-ins where the case needs them, every box read and
// answered, and then what stays on disk and what the stand-ins recorded.
// The suite runs twice, in an English and in a Russian interface; the texts
// are checked byte for byte in the run's language.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {
const char kSettings[] = "_QV3_Data\\Settings\\qel.ini";
const char kDefaults[] = "_QV3_Data\\Settings\\#default#qel.ini";
const char kDataUpdater[] = "_QV3_Data\\QV3_Update.exe";
const char kGameUpdater[] = "QV3_Update.exe";
// What GameFolder::Read gives for a file that is not there.
const char kNone[] = "<missing>";

const std::string kUserFile = "<Packs> = \"GrandPack_Rus\"\r\n<Language> = \"eng\"\r\n";

// A saved settings file: the text and one NUL byte.
std::string with_nul(const std::string& text) { return text + '\0'; }

// The buttons and the icon of each kind of box.
struct BoxStyle {
  std::vector<int> buttons;
  int icon;
};
const BoxStyle kError = {{IDOK}, MB_ICONHAND};
const BoxStyle kInformation = {{IDOK}, MB_ICONASTERISK};
const BoxStyle kWarningRetryCancel = {{IDCANCEL, IDRETRY}, MB_ICONEXCLAMATION};

// A box that the tool is to show: caption, text in the run's language, kind
// (none: only the text is checked).
struct ExpectedBox {
  const char* caption;
  std::string text;
  const BoxStyle* style;
};

// Pack names go in as bytes, the texts around them in the run's language.
std::string with_pack(const char* english_before, const char* english_after, const char* russian_before,
                      const char* russian_after, const std::string& pack) {
  return russian_run() ? cp1251(russian_before) + pack + cp1251(russian_after)
                       : english_before + pack + english_after;
}
ExpectedBox installed(const std::string& pack) {
  return {"Quarn QV", with_pack("", " was successfully installed.", "Установка ", " успешно завершена.", pack),
          &kInformation};
}
ExpectedBox save_failed(const std::string& pack) {
  return {"Quarn QV",
          with_pack("Installation of ", " failed: the settings file could not be saved.", "Не удалось установить ",
                    ": не удалось сохранить файл настроек.", pack),
          &kError};
}
ExpectedBox has_quote(const std::string& pack) {
  return {"Quarn QV",
          with_pack("Installation of ", " failed: a pack name must not contain quotation marks.",
                    "Не удалось установить ", ": имя пакета не должно содержать кавычки.", pack),
          &kError};
}
ExpectedBox wrong_command_line() {
  return {"Quarn QV Internal Tool", expected_text("Wrong Command Line.", "Неверная командная строка."), &kError};
}
ExpectedBox close_game() {
  return {"Quarn QV Update",
          expected_text("Please close Quarn QV Game and retry.", "Пожалуйста, закройте игру и нажмите 'Повтор'"),
          &kWarningRetryCancel};
}
ExpectedBox close_launcher() {
  return {"Quarn QV Update",
          expected_text("Please close QV_Launcher.exe and retry.",
                        "Пожалуйста, закройте QV_Launcher.exe и нажмите 'Повтор'"),
          &kWarningRetryCancel};
}
ExpectedBox start_failed() {
  return {"Quarn QV Update",
          expected_text("Cann't launch QV3_Update.exe. Try to launch it manually.",
                        "Не удается запустить QV3_Update.exe. Попробуйте запустить его самостоятельно."),
          &kError};
}

// A box checked by its text alone, where the case is about the text (and a
// box as wide as the screen may show its icon where it cannot be read).
ExpectedBox text_only(ExpectedBox box) {
  box.style = nullptr;
  return box;
}

void expect_box(const BoxRecord& box, const ExpectedBox& expected) {
  EXPECT_EQ(expected.text, box.text);
  if (expected.style == nullptr) return;
  EXPECT_EQ(expected.caption, box.caption);
  EXPECT_EQ(expected.style->buttons, box.buttons);
  EXPECT_EQ(expected.style->icon, box.icon)
      << "icon of the box \"" << box.text << "\" (0x10 error, 0x30 warning, 0x40 information)";
  EXPECT_FALSE(box.owned) << "box \"" << box.text << "\" has an owner window";
  // Wine 8 ignores MB_TOPMOST; where the probe shows that, the style
  // cannot be seen from outside and is not checked.
  if (boxes_can_be_topmost()) {
    EXPECT_TRUE(box.topmost) << "box \"" << box.text << "\" is not topmost";
  }
}

void expect_ended(const ChildRun& run) {
  ASSERT_TRUE(run.started) << "CreateProcessW failed with " << run.start_error;
  ASSERT_TRUE(run.ended) << "the tool did not end";
  EXPECT_EQ(1u, run.exit_code);
}

// The tool ended and showed exactly these boxes, in this order.
void expect_boxes(const ChildRun& run, const std::vector<ExpectedBox>& boxes) {
  expect_ended(run);
  ASSERT_EQ(boxes.size(), run.boxes.size());
  for (size_t i = 0; i < boxes.size(); ++i) {
    SCOPED_TRACE("box " + std::to_string(i + 1));
    expect_box(run.boxes[i], boxes[i]);
  }
}

// The record of the updater (the one in the data folder unless another is
// named) once the tool's children are gone; "" when it did not run.
std::string updater_log(const ChildRun& run, const GameFolder& game, const char* updater = kDataUpdater) {
  return wait_for_record(run, game.At(std::string(updater) + ".log"));
}

// What the updater in the data folder records when the tool hands off to it.
std::string handed_off(const GameFolder& game) {
  return "command line: \"" + game.At(kDataUpdater) + "\" /SILENT\r\ndirectory: " + game.path() + "\r\n";
}

// A parameterised case is named by its `name`.
template <typename Case>
std::string case_name(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}
}  // namespace

TEST(ToolLanguage, TheRunHasTheInterfaceLanguageItChecks) {
  if (!boxes_can_be_topmost()) printf("[   NOTE   ] this Wine ignores MB_TOPMOST: WS_EX_TOPMOST of the boxes is not checked\n");
  // Without this the Russian run could quietly test the English texts twice.
  const LANGID language = GetUserDefaultUILanguage();
  EXPECT_EQ(russian_run() ? 0x0419 : 0x0409, language) << "GetUserDefaultUILanguage() = 0x" << std::hex << language;
  // QV_EXPECT_ACP: a run whose code page is not the language's usual one.
  const char* code_page = getenv("QV_EXPECT_ACP");
  EXPECT_EQ(code_page != nullptr ? static_cast<UINT>(atoi(code_page)) : russian_run() ? 1251u : 1252u, GetACP());
}

TEST(ToolBoxText, TheBoxShowsTheTextInTheRunsLanguageWhateverTheCodePage) {
  // The Russian texts are Windows-1251 bytes; the box must show them as
  // Russian letters on a system whose ANSI code page is another, and the
  // pack name as it came in that code page.
  GameFolder game("3.8");
  game.Write(kSettings, "<Packs>\r\n");
  const std::wstring pack = GetACP() == 1251 ? widen("Пак", CP_UTF8) : widen("Café", CP_UTF8);
  ChildRun run = run_tool(game.path(), " /p:" + narrow(pack));
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  const std::wstring expected = russian_run()
                                    ? widen("Установка ", CP_UTF8) + pack + widen(" успешно завершена.", CP_UTF8)
                                    : pack + L" was successfully installed.";
  EXPECT_TRUE(expected == run.boxes[0].wide_text) << "the box reads \"" << narrow(run.boxes[0].wide_text, CP_UTF8)
                                                  << "\" (UTF-8 here), code page " << GetACP();
}

// ---- start-up

TEST(ToolStartUp, EmptyCommandLineClosesTheLauncherWindowsThenShowsTheWrongCommandLineBox) {
  GameFolder game("3.7");
  game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
  game.Write(kSettings, kUserFile);
  // Titles are read up to 127 characters: "Launcher" must end within them.
  const std::string long_title = "Quarn QV " + std::string(111, 'x') + "Launcher";  // 128 characters
  Launcher closed1(game.path(), "Quarn QV Launcher");
  Launcher closed2(game.path(), "Quarn QVLauncher");
  Launcher closed3(game.path(), "Quarn QV " + std::string(110, 'y') + "Launcher");  // 127 characters
  Launcher kept1(game.path(), "Quarn QV");
  Launcher kept2(game.path(), "quarn qv Launcher");
  Launcher kept3(game.path(), "Quarn QV launcher");
  Launcher kept4(game.path(), long_title);
  ASSERT_TRUE(closed1.ready() && closed2.ready() && closed3.ready() && kept1.ready() && kept2.ready() &&
              kept3.ready() && kept4.ready());

  for (const char* arguments : {"", " \t "}) {
    SCOPED_TRACE(std::string("arguments \"") + arguments + "\"");
    ChildRun run = run_tool(game.path(), arguments);
    expect_boxes(run, {wrong_command_line()});
    EXPECT_EQ("", updater_log(run, game));
    EXPECT_EQ("", updater_log(run, game, kGameUpdater));
  }
  EXPECT_TRUE(closed1.GotClose());
  EXPECT_TRUE(closed2.GotClose());
  EXPECT_TRUE(closed3.GotClose());
  EXPECT_FALSE(kept1.GotClose());
  EXPECT_FALSE(kept2.GotClose());
  EXPECT_FALSE(kept3.GotClose());
  EXPECT_FALSE(kept4.GotClose());
  EXPECT_EQ(kUserFile, game.Read(kSettings));
  EXPECT_TRUE(game.Exists(kGameUpdater));
  EXPECT_FALSE(game.Exists(kDataUpdater));
}

TEST(ToolStartUp, ALauncherThatDoesNotAnswerIsLeftBehindAndTheSwitchStillRuns) {
  GameFolder game("3.8");
  game.Write(kSettings, "<Packs>\r\n");
  // It spends longer over WM_CLOSE than the whole run may take.
  Launcher busy(game.path(), "Quarn QV Launcher", nullptr, 120000);
  ASSERT_TRUE(busy.ready());
  ChildRun run = run_tool(game.path(), " /p:New");
  expect_boxes(run, {installed("New")});
  EXPECT_EQ(with_nul("<Packs> = \"New\"\r\n"), game.Read(kSettings));
  EXPECT_TRUE(busy.GotClose());
}

TEST(ToolStartUp, QuotesAnywhereInTheProgramNameBelongToTheName) {
  GameFolder game("3.7");
  game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
  // The start-up code switches in and out of quotes anywhere in the program
  // name: nothing follows the name here.
  ChildRun run = run_tool(game.path(), "Z:\\\"Games dir\"\\QV_InternalTool.exe", answer_ok, nullptr, true);
  expect_boxes(run, {wrong_command_line()});
  EXPECT_EQ("", updater_log(run, game));
  EXPECT_TRUE(game.Exists(kGameUpdater));
}

namespace {
// Wine starts no process in a folder of more than 259 characters, but the
// ANSI form of a folder's name is longer than its characters in a
// double-byte code page: under a Japanese locale (code page 932) each
// Japanese character takes two bytes. Such a folder is what
// GetCurrentDirectoryA cannot fit into 260 bytes. Wine takes a process's
// locale from the environment it was started with from Linux, so CTest
// runs these cases in a registration of their own with LC_ALL=ja_JP.UTF-8.

// A folder inside `parent` (ASCII), `levels` folders deep, each named with
// 40 Japanese characters (120 bytes on Linux, under its 255-byte limit); the
// path in the ANSI code page, as the support functions take it.
std::string japanese_folder(const std::string& parent, int levels) {
  std::string folder = parent;
  for (int i = 0; i < levels; ++i) folder += "\\" + narrow(std::wstring(40, L'\u3042'));
  make_folders(folder);
  return folder;
}

// The settings file, the product library 3.7 and the updater in the game folder.
void make_japanese_game(const std::string& folder, const std::string& settings) {
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(widen(folder).c_str()))
      << "no folder: error " << GetLastError() << ", " << widen(folder).size() << " characters";
  make_folders(folder + "\\_QV3_Data\\Settings");
  write_file(folder + "\\" + kSettings, settings);
  copy_file(standin_path("standin_tool_product_3_7.dll"), folder + "\\_QV3_.dll");
  copy_file(standin_path("standin_tool_updater.exe"), folder + "\\" + kGameUpdater);
}
}  // namespace

TEST(ToolLongFolder, ACurrentDirectoryTooLongForTheToolTouchesNothingButStillClosesTheLauncher) {
  if (GetACP() != 932) GTEST_SKIP() << "runs in the registration with a Japanese locale (code page 932)";
  GameFolder launcher_folder;
  Launcher launcher(launcher_folder.path(), "Quarn QV Launcher");
  ASSERT_TRUE(launcher.ready());

  // First the same setup in a folder that fits: the tool works there.
  const std::string fits = japanese_folder(launcher_folder.path(), 1);
  make_japanese_game(fits, "<Packs>\r\n");
  ChildRun run = run_tool(fits, " /p:NewPack");
  expect_ended(run);
  EXPECT_EQ(1u, run.boxes.size());
  EXPECT_EQ(with_nul("<Packs> = \"NewPack\"\r\n"), read_file(fits + "\\" + kSettings));
  remove_tree(fits);
  EXPECT_TRUE(launcher.GotClose());

  Launcher second(launcher_folder.path(), "Quarn QV Launcher");
  ASSERT_TRUE(second.ready());
  const std::string deep = japanese_folder(launcher_folder.path(), 3);
  ASSERT_LT(static_cast<int>(widen(deep).size()), MAX_PATH - 2);
  ASSERT_GT(static_cast<int>(deep.size()), 259) << "bytes in code page 932";
  make_japanese_game(deep, kUserFile);
  for (const char* arguments : {" /p:NewPack", " update"}) {
    SCOPED_TRACE(arguments);
    run = run_tool(deep, arguments);
    ASSERT_TRUE(run.started) << "CreateProcessW failed: " << run.start_error;
    expect_ended(run);
    EXPECT_EQ(0u, run.boxes.size());
    EXPECT_EQ(kUserFile, read_file(deep + "\\" + kSettings));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(widen(deep + "\\" + kGameUpdater).c_str()))
        << "updater moved";
    EXPECT_EQ("<missing>", read_file(deep + "\\" + kDataUpdater + ".log"));
  }
  EXPECT_TRUE(second.GotClose());
}

// ---- pack registration and language switch

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

TEST(ToolRegisterPack, AQelIniThatExistsButCannotBeReadIsNeverReplacedByTheDefaults) {
  {
    SCOPED_TRACE("held open without sharing");
    GameFolder game("3.8");
    game.Write(kSettings, kUserFile);
    game.Write(kDefaults, "<Packs>\r\n");
    {
      Holder holder(game.At(kSettings), "none");  // reads fail with a sharing violation
      ASSERT_TRUE(holder.holding());
      ChildRun run = run_tool(game.path(), " /p:NewPack /l:rus");
      expect_boxes(run, {});
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
    expect_boxes(run, {});
    EXPECT_EQ("<Packs>\r\n", game.Read(kDefaults));
  }
}

TEST(ToolSwitches, ABlankInTheProgramPathCountsAsWell) {
  GameFolder game("3.8");
  game.Write(kSettings, "<Packs>\r\n");
  // The scan covers the whole command line, the program's own name included.
  ChildRun run = run_tool(game.path(), "C:\\Games /p:FromPath\\QV_InternalTool.exe go", answer_ok, nullptr, true);
  expect_boxes(run, {text_only(installed("FromPath\\QV_InternalTool.exe go"))});
}

namespace {
// Tells Wine, for the life of the object, to prefer a DLL of the program's
// folder over its own one for every program named `program`, as Windows'
// search order does for a DLL that is not one of its known system DLLs.
class PreferProgramsFolder {
 public:
  PreferProgramsFolder(const char* program, const char* dll) : dll_(dll) {
    key_ = std::string("Software\\Wine\\AppDefaults\\") + program + "\\DllOverrides";
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
      const char order[] = "native,builtin";
      set_ = RegSetValueExA(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order) == ERROR_SUCCESS;
      RegCloseKey(key);
    }
  }
  ~PreferProgramsFolder() { RegDeleteKeyValueA(HKEY_CURRENT_USER, key_.c_str(), dll_); }
  PreferProgramsFolder(const PreferProgramsFolder&) = delete;
  PreferProgramsFolder& operator=(const PreferProgramsFolder&) = delete;
  bool set() const { return set_; }

 private:
  std::string key_;
  const char* dll_;
  bool set_ = false;
};
}  // namespace

TEST(ToolLoading, AVersionDllInTheToolsFolderNeverAnswersTheTool) {
  // Mod loaders often sit in the game folder as a version.dll of their own;
  // this one answers every version query with 0, so that product 3.10 would
  // look older than 3.8 and its updater would be moved. (Wine's own
  // user32 imports version.dll by name, so here the stand-in is loaded
  // whatever the tool does; what counts is that the tool never asks it.)
  GameFolder game("3.10");
  game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  game.Write(kSettings, "<Packs>\r\n");
  game.CopyStandIn("standin_tool_planted_version.dll", "version.dll");
  const std::string tool = game.At("QV_InternalTool.exe");
  ASSERT_TRUE(copy_file(tool_exe_path(), tool));
  PreferProgramsFolder override_for_the_tool("QV_InternalTool.exe", "version");
  ASSERT_TRUE(override_for_the_tool.set());

  ChildRun run = run_watched(tool, "\"" + tool + "\" /p:New", game.path(), answer_ok, nullptr, 60000);
  expect_boxes(run, {installed("New")});
  EXPECT_EQ(with_nul("<Packs> = \"New\"\r\n"), game.Read(kSettings));
  run = run_watched(tool, "\"" + tool + "\" update", game.path(), answer_ok, nullptr, 60000);
  expect_boxes(run, {});
  EXPECT_EQ(handed_off(game), updater_log(run, game));
  EXPECT_TRUE(game.Exists(kGameUpdater)) << "the updater was moved: the product looked older than 3.8";
  const std::string record = game.Read("version.dll.log");
  for (const char* query : {"GetFileVersionInfoSizeA", "GetFileVersionInfoA", "VerQueryValueA"}) {
    EXPECT_EQ(std::string::npos, record.find(query)) << "the version.dll in the tool's folder answered: " << record;
  }
}

// ---- update hand-off

namespace {
// A hand-off without a box, in a fresh game folder with an updater in its
// data folder: the product version, its library ("none": missing, "folder":
// a folder of that name, so that the probe's open fails with access
// denied), whether the game folder has an updater of its own, the
// arguments; then whether that updater was moved into the data folder. The
// updater in the data folder is always the one started.
struct HandOffRun {
  const char* name;
  const char* product;
  const char* library;
  bool game_updater;
  const char* arguments;
  bool moved;
};

void PrintTo(const HandOffRun& run, std::ostream* out) { *out << run.name; }

const HandOffRun kHandOffRuns[] = {
    {"OldProductMovesTheUpdaterIntoTheDataFolderAndStartsItSilently", "3.7", "file", true, " update", true},
    {"WithoutALibraryTheProductCountsAsOld", "3.7", "none", true, " update", true},
    {"Product38KeepsTheUpdaterWhereItIs", "3.8", "file", true, " -p:NotASwitch", false},
    {"Product310KeepsTheUpdaterWhereItIs", "3.10", "file", true, " -p:NotASwitch", false},
    {"OldProductWithoutAnUpdaterInTheGameFolderStartsTheOneInTheDataFolder", "3.7", "file", false, "\t/p:tab",
     false},
    {"ALibraryDeniedForAnotherReasonThanSharingCountsAsFree", "3.8", "folder", false, " update", false},
};

class ToolHandOff : public testing::TestWithParam<HandOffRun> {};
}  // namespace

TEST_P(ToolHandOff, StartsTheUpdaterSilently) {
  const HandOffRun& c = GetParam();
  GameFolder game(c.product);
  if (std::string(c.library) != "file") DeleteFileA(game.At("_QV3_.dll").c_str());
  if (std::string(c.library) == "folder") make_folders(game.At("_QV3_.dll"));
  // Another updater already in the data folder is overwritten when the
  // game folder's is moved.
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  std::string game_copy;
  if (c.game_updater) {
    game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
    // An exe with bytes appended still runs; the mark tells the copies apart.
    game_copy = game.Read(kGameUpdater) + "GAME-FOLDER-COPY";
    game.Write(kGameUpdater, game_copy);
  }
  ChildRun run = run_tool(game.path(), c.arguments);
  expect_boxes(run, {});
  if (c.moved) {
    EXPECT_FALSE(game.Exists(kGameUpdater));
    EXPECT_EQ(game_copy, game.Read(kDataUpdater));
  } else {
    EXPECT_EQ(c.game_updater, game.Exists(kGameUpdater));
    EXPECT_TRUE(game.Exists(kDataUpdater));
  }
  EXPECT_EQ(handed_off(game), updater_log(run, game));
}

INSTANTIATE_TEST_SUITE_P(ToolUpdate, ToolHandOff, testing::ValuesIn(kHandOffRuns), case_name<HandOffRun>);

TEST(ToolUpdate, AFailedStartShowsTheErrorBoxThenAsksExplorerToSelectTheUpdater) {
  GameFolder game("3.8");
  ChildRun run = run_tool(game.path(), " update");
  expect_boxes(run, {start_failed()});
  // The Explorer window that the tool opened stays after it: read its
  // command line, then close it.
  std::vector<std::string> explorers;
  for (int i = 0; i < 100 && explorers.empty(); ++i) {
    for (DWORD child : run.children) {
      if (_stricmp(process_exe_name(child).c_str(), "explorer.exe") == 0) explorers.push_back(process_command_line(child));
    }
    if (explorers.empty()) Sleep(20);
  }
  end_processes(child_processes(run.process_id));
  ASSERT_EQ(1u, explorers.size());
  EXPECT_NE(std::string::npos, explorers[0].find("/select, \"" + game.At(kDataUpdater) + "\"")) << explorers[0];
}

namespace {
struct WaitScript {
  std::vector<int> answers;
  Holder* releaseBefore = nullptr;  // let go of this file before the answer with index releaseAt
  int releaseAt = -1;
};

int scripted_answer(void* context, int index, const BoxRecord&) {
  WaitScript* script = static_cast<WaitScript*>(context);
  if (index == script->releaseAt && script->releaseBefore != nullptr) script->releaseBefore->Release();
  return index < static_cast<int>(script->answers.size()) ? script->answers[index] : IDCANCEL;
}

int end_launcher_then_retry(void* context, int, const BoxRecord&) {
  static_cast<Launcher*>(context)->End();
  return IDRETRY;
}
}  // namespace

TEST(ToolUpdate, WhileTheGameHoldsItsLibraryEachProbeAsksUntilRetryFindsItFree) {
  GameFolder game("3.8");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  Holder game_running(game.At("_QV3_.dll"), "none");
  ASSERT_TRUE(game_running.holding());
  WaitScript script = {{IDRETRY, IDRETRY}, &game_running, 1};
  ChildRun run = run_tool(game.path(), " update", scripted_answer, &script);
  expect_boxes(run, {close_game(), close_game()});
  EXPECT_EQ(handed_off(game), updater_log(run, game));
}

TEST(ToolUpdate, ARunningLauncherHoldsItsProgramFileUntilItEnds) {
  GameFolder game("3.8");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  // Started from the game folder's QV_Launcher.exe, with a title that the
  // tool does not close.
  Launcher launcher(game.path(), "Quarn QV", game.At("QV_Launcher.exe").c_str());
  ASSERT_TRUE(launcher.ready());
  ChildRun run = run_tool(game.path(), " update", end_launcher_then_retry, &launcher);
  expect_boxes(run, {close_launcher()});
  EXPECT_EQ(handed_off(game), updater_log(run, game));
}

TEST(ToolUpdate, CancelInEitherWaitEndsTheHandOff) {
  {
    SCOPED_TRACE("game wait");
    GameFolder game("3.7");
    game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
    Holder game_running(game.At("_QV3_.dll"), "none");
    Holder launcher_running(game.At("QV_Launcher.exe"), "none");
    ASSERT_TRUE(game_running.holding() && launcher_running.holding());
    ChildRun run = run_tool(game.path(), " update", answer_cancel);
    expect_boxes(run, {close_game()});
    EXPECT_TRUE(game.Exists(kGameUpdater));
    EXPECT_FALSE(game.Exists(kDataUpdater));
    EXPECT_EQ("", updater_log(run, game));
    EXPECT_EQ("", updater_log(run, game, kGameUpdater));
  }
  {
    SCOPED_TRACE("launcher wait");
    GameFolder game("3.7");
    game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
    Holder launcher_running(game.At("QV_Launcher.exe"), "none");
    ASSERT_TRUE(launcher_running.holding());
    WaitScript script = {{IDRETRY, IDCANCEL}};
    ChildRun run = run_tool(game.path(), " update", scripted_answer, &script);
    expect_boxes(run, {close_launcher(), close_launcher()});
    EXPECT_TRUE(game.Exists(kGameUpdater));
    EXPECT_FALSE(game.Exists(kDataUpdater));
    EXPECT_EQ("", updater_log(run, game, kGameUpdater));
  }
}
