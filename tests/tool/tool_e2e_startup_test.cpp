// The maintenance tool run for real under Wine and Xvfb, from its start to
// its first decision: the run's language and code page as the boxes show
// them, the launcher windows it closes, a command line that is empty or only a
// program name, a game folder too long for it or named outside its code
// page, and a version.dll of another program in its folder. A fresh game
// folder per case, the stand-ins where the case needs them, every box read
// and answered.
// The suite runs twice, in an English and in a Russian interface; the texts
// are checked byte for byte in the run's language (e2e_support.h).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include "e2e_support.h"

TEST(ToolLanguage, TheRunHasTheInterfaceLanguageItChecks) {
  if (!boxes_can_be_topmost())
    printf("[   NOTE   ] this Wine ignores MB_TOPMOST: WS_EX_TOPMOST of the boxes is not checked\n");
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
  EXPECT_TRUE(expected == run.boxes[0].wide_text)
      << "the box reads \"" << narrow(run.boxes[0].wide_text, CP_UTF8) << "\" (UTF-8 here), code page " << GetACP();
}

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
void make_game_in(const std::string& folder, const std::string& settings) {
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(widen(folder).c_str()))
      << "no folder: error " << GetLastError() << ", " << widen(folder).size() << " characters";
  make_folders(folder + "\\_QV3_Data\\Settings");
  write_file(folder + "\\" + kSettings, settings);
  copy_file(standin_path("standin_tool_product_3_7.dll"), folder + "\\_QV3_.dll");
  copy_file(standin_path("standin_tool_updater.exe"), folder + "\\" + kGameUpdater);
}
}  // namespace

TEST(ToolLongFolder, AFolderWhoseAnsiNameIsTooLongIsUsedThroughItsShortName) {
  if (GetACP() != 932) GTEST_SKIP() << "runs in the registration with a Japanese locale (code page 932)";
  GameFolder launcher_folder;
  Launcher launcher(launcher_folder.path(), "Quarn QV Launcher");
  ASSERT_TRUE(launcher.ready());

  // First the same setup in a folder that fits: the tool works there.
  const std::string fits = japanese_folder(launcher_folder.path(), 1);
  make_game_in(fits, "<Packs>\r\n");
  ChildRun run = run_tool(fits, " /p:NewPack");
  expect_ended(run);
  EXPECT_EQ(1u, run.boxes.size());
  EXPECT_EQ(with_nul("<Packs> = \"NewPack\"\r\n"), read_file(fits + "\\" + kSettings));
  remove_tree(fits);
  EXPECT_TRUE(launcher.GotClose());

  // 260 bytes or more in code page 932: the folder's short name (all ASCII
  // under Wine) names it, for the settings and for the hand-off alike.
  Launcher second(launcher_folder.path(), "Quarn QV Launcher");
  ASSERT_TRUE(second.ready());
  const std::string deep = japanese_folder(launcher_folder.path(), 3);
  ASSERT_LT(static_cast<int>(widen(deep).size()), MAX_PATH - 2);
  ASSERT_GT(static_cast<int>(deep.size()), 259) << "bytes in code page 932";
  make_game_in(deep, "<Packs>\r\n");
  run = run_tool(deep, " /p:NewPack");
  ASSERT_TRUE(run.started) << "CreateProcessW failed: " << run.start_error;
  expect_ended(run);
  EXPECT_EQ(1u, run.boxes.size());
  EXPECT_EQ(with_nul("<Packs> = \"NewPack\"\r\n"), read_file(deep + "\\" + kSettings));
  run = run_tool(deep, " update");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_NE(kNone, wait_for_record(run, deep + "\\" + kDataUpdater + ".log")) << "the updater was not started";
  EXPECT_TRUE(second.GotClose());
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

TEST(ToolFolderName, AGameFolderTheCodePageCannotNameStillRegistersAndHandsOff) {
  // "Игры" has no form in code page 1252: GetCurrentDirectoryA gives "????".
  // "\u0141ukasz" has only a look-alike: under best fit it is "Lukasz",
  // another game folder, here beside it.
  if (GetACP() == 1251) GTEST_SKIP() << "runs where the code page has no Cyrillic letters (1252)";
  for (const wchar_t* name : {L"\u0418\u0433\u0440\u044b", L"\u0141ukasz"}) {
    SCOPED_TRACE(narrow(name, CP_UTF8));
    TempFolder parent("qv-game");
    const std::wstring folder = widen(parent.path()) + L"\\" + name;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    // The files are laid out through the folder's short name (all ANSI
    // here); the tool is started in it under its long name, as a shortcut
    // would.
    wchar_t short_form[MAX_PATH];
    const DWORD n = GetShortPathNameW(folder.c_str(), short_form, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH) << "no short name: error " << GetLastError();
    const std::string game = narrow(short_form);
    ASSERT_EQ(std::wstring(short_form), widen(game)) << "the short name is not ANSI either";
    make_game_in(game, "<Packs>\r\n");
    const std::string look_alike = parent.At("Lukasz");
    make_folders(look_alike);
    make_game_in(look_alike, kUserFile);
    wchar_t own[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, own);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    ChildRun pack = run_tool("", " /p:NewPack");
    ChildRun update = run_tool("", " update");
    SetCurrentDirectoryW(own);

    // The box is read in UTF-16: a Russian text has no form in code page 1252.
    expect_ended(pack);
    ASSERT_EQ(1u, pack.boxes.size());
    EXPECT_TRUE(widen(installed("NewPack").text, russian_run() ? 1251 : CP_ACP) == pack.boxes[0].wide_text)
        << narrow(pack.boxes[0].wide_text, CP_UTF8);
    EXPECT_EQ(with_nul("<Packs> = \"NewPack\"\r\n"), read_file(game + "\\" + kSettings));
    EXPECT_EQ(kUserFile, read_file(look_alike + "\\" + kSettings)) << "the look-alike's settings are untouched";
    expect_boxes(update, {});
    const std::string updater = game + "\\" + kDataUpdater;
    EXPECT_EQ("command line: \"" + updater + "\" /SILENT\r\ndirectory: " + game + "\r\n",
              wait_for_record(update, updater + ".log"));
    EXPECT_EQ(kNone, read_file(game + "\\" + kGameUpdater)) << "the updater was not moved";
  }
}
