// The maintenance tool run for real under Wine and Xvfb: a fresh game folder
// per case, the stand-ins where the case needs them, every box read and
// answered, and then what stays on disk and what the stand-ins recorded.
// The suite runs twice, in an English and in a Russian interface; the texts
// are checked byte for byte in the run's language.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace {
const char kSettings[] = "_QV3_Data\\Settings\\qel.ini";
const char kDefaults[] = "_QV3_Data\\Settings\\#default#qel.ini";
const char kDataUpdater[] = "_QV3_Data\\QV3_Update.exe";
const char kGameUpdater[] = "QV3_Update.exe";

// Pack names go in as bytes, the texts around them in the run's language.
std::string with_pack(const char* english_before, const char* english_after, const char* russian_before,
                      const char* russian_after, const std::string& pack) {
  return russian_run() ? cp1251(russian_before) + pack + cp1251(russian_after)
                       : english_before + pack + english_after;
}
std::string installed(const std::string& pack) {
  return with_pack("", " was successfully installed.", "Установка ", " успешно завершена.", pack);
}
std::string save_failed(const std::string& pack) {
  return with_pack("Installation of ", " failed: the settings file could not be saved.", "Не удалось установить ",
                   ": не удалось сохранить файл настроек.", pack);
}
std::string has_quote(const std::string& pack) {
  return with_pack("Installation of ", " failed: a pack name must not contain quotation marks.",
                   "Не удалось установить ", ": имя пакета не должно содержать кавычки.", pack);
}
std::string close_game() {
  return expected_text("Please close Quarn QV Game and retry.", "Пожалуйста, закройте игру и нажмите 'Повтор'");
}
std::string close_launcher() {
  return expected_text("Please close QV_Launcher.exe and retry.",
                       "Пожалуйста, закройте QV_Launcher.exe и нажмите 'Повтор'");
}
std::string start_failed() {
  return expected_text("Cann't launch QV3_Update.exe. Try to launch it manually.",
                       "Не удается запустить QV3_Update.exe. Попробуйте запустить его самостоятельно.");
}

// The buttons and the icon of each kind of box.
struct BoxStyle {
  std::vector<int> buttons;
  int icon;
};
const BoxStyle kError = {{IDOK}, MB_ICONHAND};
const BoxStyle kInformation = {{IDOK}, MB_ICONASTERISK};
const BoxStyle kWarningRetryCancel = {{IDCANCEL, IDRETRY}, MB_ICONEXCLAMATION};

void expect_box(const BoxRecord& box, const char* caption, const std::string& text, const BoxStyle& style) {
  EXPECT_EQ(caption, box.caption);
  EXPECT_EQ(text, box.text);
  EXPECT_EQ(style.buttons, box.buttons);
  EXPECT_EQ(style.icon, box.icon) << "icon of the box \"" << box.text << "\" (0x10 error, 0x30 warning, 0x40 information)";
  EXPECT_FALSE(box.owned) << "box \"" << box.text << "\" has an owner window";
  // Wine 8 ignores MB_TOPMOST; where the probe shows that, the style
  // cannot be seen from outside and is not checked.
  if (boxes_can_be_topmost()) {
    EXPECT_TRUE(box.topmost) << "box \"" << box.text << "\" is not topmost";
  }
}

void expect_ended(const ToolRun& run) {
  ASSERT_TRUE(run.started) << "CreateProcessA failed";
  ASSERT_TRUE(run.ended) << "the tool did not end";
  EXPECT_EQ(1u, run.exitCode);
}

const std::string kUserFile = "<Packs> = \"GrandPack_Rus\"\r\n<Language> = \"eng\"\r\n";
}  // namespace

TEST(ToolLanguage, TheRunHasTheInterfaceLanguageItChecks) {
  if (!boxes_can_be_topmost()) printf("[   NOTE   ] this Wine ignores MB_TOPMOST: WS_EX_TOPMOST of the boxes is not checked\n");
  // Without this the Russian run could quietly test the English texts twice.
  const LANGID language = GetUserDefaultUILanguage();
  EXPECT_EQ(russian_run() ? 0x0419 : 0x0409, language) << "GetUserDefaultUILanguage() = 0x" << std::hex << language;
  EXPECT_EQ(russian_run() ? 1251u : 1252u, GetACP());
}

// ---- start-up

TEST(ToolStartUp, EmptyCommandLineClosesTheLauncherWindowsThenShowsTheWrongCommandLineBox) {
  GameFolder game;
  game.AddProduct("3.7");
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
    ToolRun run = run_tool(game.path(), arguments);
    expect_ended(run);
    ASSERT_EQ(1u, run.boxes.size());
    expect_box(run.boxes[0], "Quarn QV Internal Tool",
               expected_text("Wrong Command Line.", "Неверная командная строка."), kError);
    EXPECT_EQ("", wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
    EXPECT_EQ("", wait_for_record(run, game.At(std::string(kGameUpdater) + ".log")));
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

TEST(ToolStartUp, QuotesAnywhereInTheProgramNameBelongToTheName) {
  GameFolder game;
  game.AddProduct("3.7");
  game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
  // The start-up code switches in and out of quotes anywhere in the program
  // name: nothing follows the name here.
  ToolRun run = run_tool(game.path(), "Z:\\\"Games dir\"\\QV_InternalTool.exe", answer_ok, nullptr, true);
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV Internal Tool",
             expected_text("Wrong Command Line.", "Неверная командная строка."), kError);
  EXPECT_EQ("", wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
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
std::wstring widen(const std::string& text);

// A game folder inside `parent` (ASCII), `levels` folders deep, each named
// with 40 Japanese characters (120 bytes on Linux, under its 255-byte limit).
std::wstring wide_game_folder(const std::string& parent, int levels) {
  std::wstring folder = widen(parent);
  for (int i = 0; i < levels; ++i) {
    folder += L"\\" + std::wstring(40, L'\u3042');
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  return folder;
}

void write_wide(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::string read_wide(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(65536, '\0');
  DWORD read = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

std::wstring widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
  return wide;
}

// Runs the tool in a folder given in UTF-16.
ToolRun run_tool_wide(const std::wstring& folder, const std::string& arguments) {
  const std::wstring application = widen(tool_exe_path());
  std::wstring command_line = L"\"" + application + L"\"" + widen(arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ToolRun run;
  if (!CreateProcessW(application.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &process)) {
    return run;
  }
  run.started = true;
  run.processId = process.dwProcessId;
  run.ended = box_watch_process(process.hProcess, process.dwProcessId, answer_ok, nullptr, &run.boxes, 60000) != 0;
  if (!run.ended) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

void make_wide_game(const std::wstring& folder, const std::string& settings) {
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()))
      << "no folder: error " << GetLastError() << ", " << folder.size() << " characters";
  CreateDirectoryW((folder + L"\\_QV3_Data").c_str(), nullptr);
  CreateDirectoryW((folder + L"\\_QV3_Data\\Settings").c_str(), nullptr);
  write_wide(folder + L"\\_QV3_Data\\Settings\\qel.ini", settings);
  CopyFileW(widen(standin_path("standin_tool_product_3_7.dll")).c_str(), (folder + L"\\_QV3_.dll").c_str(), FALSE);
  CopyFileW(widen(standin_path("standin_tool_updater.exe")).c_str(), (folder + L"\\QV3_Update.exe").c_str(), FALSE);
}

void remove_wide_game(const std::wstring& folder) {
  for (const wchar_t* file : {L"\\_QV3_Data\\Settings\\qel.ini", L"\\_QV3_Data\\QV3_Update.exe",
                              L"\\_QV3_Data\\QV3_Update.exe.log", L"\\_QV3_.dll", L"\\QV3_Update.exe"}) {
    DeleteFileW((folder + file).c_str());
  }
  RemoveDirectoryW((folder + L"\\_QV3_Data\\Settings").c_str());
  RemoveDirectoryW((folder + L"\\_QV3_Data").c_str());
  for (std::wstring f = folder; f.find(L'\u3042') != std::wstring::npos; f.resize(f.rfind(L'\\'))) {
    RemoveDirectoryW(f.c_str());
  }
}

int ansi_length_932(const std::wstring& text) {
  return WideCharToMultiByte(932, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr) - 1;
}
}  // namespace

TEST(ToolLongFolder, ACurrentDirectoryTooLongForTheToolTouchesNothingButStillClosesTheLauncher) {
  if (GetACP() != 932) GTEST_SKIP() << "runs in the registration with a Japanese locale (code page 932)";
  GameFolder launcher_folder;
  Launcher launcher(launcher_folder.path(), "Quarn QV Launcher");
  ASSERT_TRUE(launcher.ready());

  // First the same setup in a folder that fits: the tool works there.
  const std::wstring fits = wide_game_folder(launcher_folder.path(), 1);
  make_wide_game(fits, "<Packs>\r\n");
  ToolRun run = run_tool_wide(fits, " /p:NewPack");
  expect_ended(run);
  EXPECT_EQ(1u, run.boxes.size());
  EXPECT_EQ(std::string("<Packs> = \"NewPack\"\r\n") + '\0', read_wide(fits + L"\\_QV3_Data\\Settings\\qel.ini"));
  remove_wide_game(fits);
  EXPECT_TRUE(launcher.GotClose());

  Launcher second(launcher_folder.path(), "Quarn QV Launcher");
  ASSERT_TRUE(second.ready());
  const std::wstring deep = wide_game_folder(launcher_folder.path(), 3);
  ASSERT_LT(static_cast<int>(deep.size()), MAX_PATH - 2);
  ASSERT_GT(ansi_length_932(deep), 259);
  make_wide_game(deep, kUserFile);
  for (const char* arguments : {" /p:NewPack", " update"}) {
    SCOPED_TRACE(arguments);
    run = run_tool_wide(deep, arguments);
    ASSERT_TRUE(run.started) << "CreateProcessW failed: " << GetLastError();
    expect_ended(run);
    EXPECT_EQ(0u, run.boxes.size());
    EXPECT_EQ(kUserFile, read_wide(deep + L"\\_QV3_Data\\Settings\\qel.ini"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((deep + L"\\QV3_Update.exe").c_str())) << "updater moved";
    EXPECT_EQ("<missing>", read_wide(deep + L"\\_QV3_Data\\QV3_Update.exe.log"));
  }
  EXPECT_TRUE(second.GotClose());
  remove_wide_game(deep);
}

// ---- pack registration

TEST(ToolRegisterPack, AppendsANewPackSavesAndConfirms) {
  GameFolder game;
  game.AddProduct("3.7");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  game.Write(kSettings, kUserFile);
  game.Write(kDefaults, "<Packs>\r\n");
  Launcher launcher(game.path(), "Quarn QV Launcher");

  ToolRun run = run_tool(game.path(), " /P:NewPack");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", installed("NewPack"), kInformation);
  EXPECT_EQ(std::string("<Packs> = \"GrandPack_Rus\", \"NewPack\"\r\n<Language> = \"eng\"\r\n") + '\0',
            game.Read(kSettings));
  EXPECT_EQ("<Packs>\r\n", game.Read(kDefaults));
  EXPECT_TRUE(launcher.GotClose());
  // A switch was found: no hand-off.
  EXPECT_EQ("", wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
}

TEST(ToolRegisterPack, AKnownPackIsConfirmedWithoutRewritingAndOnlyAsciiLettersFoldCase) {
  GameFolder game;
  game.AddProduct("3.8");
  const std::string cyrillic_upper = cp1251("ПАК");
  const std::string cyrillic_lower = cp1251("пак");
  const std::string file = "<Packs> = \"GrandPack_Rus\", \"" + cyrillic_upper + "\"\r\n";
  game.Write(kSettings, file);

  ToolRun run = run_tool(game.path(), " /p:grandpack_rus");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", installed("grandpack_rus"), kInformation);
  EXPECT_EQ(file, game.Read(kSettings)) << "the file was rewritten";

  run = run_tool(game.path(), " /p:" + cyrillic_lower);
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", installed(cyrillic_lower), kInformation);
  EXPECT_EQ("<Packs> = \"GrandPack_Rus\", \"" + cyrillic_upper + "\", \"" + cyrillic_lower + "\"\r\n" + '\0',
            game.Read(kSettings));
}

TEST(ToolRegisterPack, WithoutQelIniTheDefaultsAreSavedAsQelIniAndStayUnchanged) {
  GameFolder game;
  game.AddProduct("3.8");
  const std::string defaults = "// defaults\r\n<Packs> = \"Base\"\r\n<Language> = \"eng\"";
  game.Write(kDefaults, defaults);

  ToolRun run = run_tool(game.path(), " /p:NewPack");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", installed("NewPack"), kInformation);
  EXPECT_EQ(std::string("// defaults\r\n<Packs> = \"Base\", \"NewPack\"\r\n<Language> = \"eng\"") + '\0',
            game.Read(kSettings));
  EXPECT_EQ(defaults, game.Read(kDefaults));

  // The defaults already list the pack: confirmed, and no qel.ini appears.
  GameFolder second;
  second.AddProduct("3.8");
  second.Write(kDefaults, defaults);
  run = run_tool(second.path(), " /p:BASE");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", installed("BASE"), kInformation);
  EXPECT_FALSE(second.Exists(kSettings));
  EXPECT_EQ(defaults, second.Read(kDefaults));
}

TEST(ToolRegisterPack, NoPacksTagOrNoSettingsFileEndsSilently) {
  GameFolder game;
  game.AddProduct("3.8");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  game.Write(kSettings, "<Language> = \"eng\"\r\n");
  ToolRun run = run_tool(game.path(), " /p:NewPack");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ("<Language> = \"eng\"\r\n", game.Read(kSettings));

  // Neither file: nothing is written, no box, and still no hand-off.
  GameFolder bare;
  bare.AddProduct("3.8");
  bare.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  run = run_tool(bare.path(), " /p:NewPack");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_FALSE(bare.Exists(kSettings));
  EXPECT_EQ("", wait_for_record(run, bare.At(std::string(kDataUpdater) + ".log")));
}

TEST(ToolRegisterPack, AnEmptyNameMatchesAnEmptyOrNonStringValueElseItIsAppended) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kSettings, "<Packs> = \"A\", 5\r\n");
  ToolRun run = run_tool(game.path(), " /p:");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", installed(""), kInformation);
  EXPECT_EQ("<Packs> = \"A\", 5\r\n", game.Read(kSettings));

  game.Write(kSettings, "<Packs> = \"A\"\r\n");
  run = run_tool(game.path(), " /p:");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ(std::string("<Packs> = \"A\", \"\"\r\n") + '\0', game.Read(kSettings));
}

TEST(ToolRegisterPack, ANameWithAQuoteIsRefusedBeforeAnyFileIsRead) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kDefaults, "<Packs> = \"A\"\r\n");
  ToolRun run = run_tool(game.path(), " /p:\"Quoted Pack\"");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", has_quote("\"Quoted Pack\""), kError);
  EXPECT_FALSE(game.Exists(kSettings));
  EXPECT_EQ("<Packs> = \"A\"\r\n", game.Read(kDefaults));
}

TEST(ToolRegisterPack, AFailedSaveIsReportedAsAFailure) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kSettings, kUserFile);
  // Others may read the file but not replace it.
  Holder holder(game.At(kSettings), "read");
  ASSERT_TRUE(holder.holding());
  ToolRun run = run_tool(game.path(), " /p:NewPack");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", save_failed("NewPack"), kError);
  holder.Release();
  EXPECT_EQ(kUserFile, game.Read(kSettings));

  // A hidden file is one that a plain new file may not replace.
  ASSERT_TRUE(SetFileAttributesA(game.At(kSettings).c_str(), FILE_ATTRIBUTE_HIDDEN));
  run = run_tool(game.path(), " /p:NewPack");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", save_failed("NewPack"), kError);
  EXPECT_EQ(kUserFile, game.Read(kSettings));
  EXPECT_NE(0u, GetFileAttributesA(game.At(kSettings).c_str()) & FILE_ATTRIBUTE_HIDDEN) << "still hidden";
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
  ToolRun run = run_tool(game.At(deep), " /p:New");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV", installed("New"), kInformation);
  EXPECT_EQ(std::string("<Packs> = \"New\"\r\n") + '\0', game.Read(settings));
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(game.At(deep + "\\_QV3_Data\\Settings\\*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  do {
    if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0) names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  EXPECT_EQ(std::vector<std::string>{"qel.ini"}, names) << "nothing else is left in the settings folder";
}

TEST(ToolRegisterPack, AQelIniThatExistsButCannotBeReadIsNeverReplacedByTheDefaults) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kSettings, kUserFile);
  game.Write(kDefaults, "<Packs>\r\n");
  {
    Holder holder(game.At(kSettings), "none");  // reads fail with a sharing violation
    ASSERT_TRUE(holder.holding());
    ToolRun run = run_tool(game.path(), " /p:NewPack /l:rus");
    expect_ended(run);
    EXPECT_EQ(0u, run.boxes.size());
  }
  EXPECT_EQ(kUserFile, game.Read(kSettings));

  // A "qel.ini" that is a folder: access denied, not missing.
  GameFolder folder_game;
  folder_game.AddProduct("3.8");
  folder_game.Write(kDefaults, "<Packs>\r\n");
  make_folders(folder_game.At(kSettings));
  ToolRun run = run_tool(folder_game.path(), " /p:NewPack");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ("<Packs>\r\n", folder_game.Read(kDefaults));
}

TEST(ToolRegisterPack, ValuesRunToABlankFollowedBySlashAndKeepEverythingElse) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kSettings, "<Packs>\r\n");
  // " /x" ends the value but is no switch; the trailing blank belongs to the
  // last value; tab or "-" before the letter make no switch.
  ToolRun run = run_tool(game.path(), " /p:a/b /x -p:c\t/p:d /p:e ");
  expect_ended(run);
  ASSERT_EQ(2u, run.boxes.size());
  EXPECT_EQ(installed("e "), run.boxes[0].text);
  EXPECT_EQ(installed("a/b"), run.boxes[1].text);
  EXPECT_EQ(std::string("<Packs> = \"e \", \"a/b\"\r\n") + '\0', game.Read(kSettings));
}

TEST(ToolRegisterPack, ValueLengthLimit259IsAcceptedAndLongerIsRefusedNotCut) {
  GameFolder game;
  game.AddProduct("3.8");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  game.Write(kSettings, "<Packs>\r\n");
  const std::string longest(259, 'n');
  ToolRun run = run_tool(game.path(), " /p:" + longest);
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ(installed(longest), run.boxes[0].text);
  EXPECT_EQ("<Packs> = \"" + longest + "\"\r\n" + '\0', game.Read(kSettings));

  game.Write(kSettings, "<Packs>\r\n");
  run = run_tool(game.path(), " /p:" + longest + "X /l:" + std::string(300, 'l'));
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ("<Packs>\r\n", game.Read(kSettings));
  EXPECT_EQ("", wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
}

// ---- language switch

TEST(ToolSwitchLanguage, ReplacesOnlyTheFirstStringValueSilently) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kSettings, "<Packs> = \"A\"\r\n<Language> = \"eng\", \"deu\"\r\n");
  ToolRun run = run_tool(game.path(), " /L:rus");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ(std::string("<Packs> = \"A\"\r\n<Language> = \"rus\", \"deu\"\r\n") + '\0', game.Read(kSettings));
}

TEST(ToolSwitchLanguage, AddsAMissingTagAndRewritesANumberValueUnchanged) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kSettings, "<Packs> = \"A\"\r\n");
  ToolRun run = run_tool(game.path(), " /l:rus");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ(std::string("<Packs> = \"A\"\r\n<Language> = \"rus\"") + '\0', game.Read(kSettings));

  game.Write(kSettings, "<Language> = 7\r\n");
  run = run_tool(game.path(), " /l:rus");
  expect_ended(run);
  EXPECT_EQ(std::string("<Language> = 7\r\n") + '\0', game.Read(kSettings));
}

TEST(ToolSwitchLanguage, FallsBackToTheDefaultsAndRefusesAQuoteSilently) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kDefaults, "<Language> = \"eng\"\r\n");
  ToolRun run = run_tool(game.path(), " /l:rus\"x");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_FALSE(game.Exists(kSettings));

  run = run_tool(game.path(), " /l:rus");
  expect_ended(run);
  EXPECT_EQ(std::string("<Language> = \"rus\"\r\n") + '\0', game.Read(kSettings));
  EXPECT_EQ("<Language> = \"eng\"\r\n", game.Read(kDefaults));
}

TEST(ToolSwitches, SeveralSwitchesRunLastFirstAndEachSeesWhatTheOthersSaved) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kDefaults, "<Packs>\r\n<Language> = \"eng\"\r\n");
  ToolRun run = run_tool(game.path(), " /l:rus /p:A B /P:c");
  expect_ended(run);
  ASSERT_EQ(2u, run.boxes.size());
  EXPECT_EQ(installed("c"), run.boxes[0].text);
  EXPECT_EQ(installed("A B"), run.boxes[1].text);
  EXPECT_EQ(std::string("<Packs> = \"c\", \"A B\"\r\n<Language> = \"rus\"\r\n") + '\0', game.Read(kSettings));
  EXPECT_EQ("<Packs>\r\n<Language> = \"eng\"\r\n", game.Read(kDefaults));
}

TEST(ToolSwitches, ABlankInTheProgramPathCountsAsWell) {
  GameFolder game;
  game.AddProduct("3.8");
  game.Write(kSettings, "<Packs>\r\n");
  // The scan covers the whole command line, the program's own name included.
  ToolRun run = run_tool(game.path(), "C:\\Games /p:FromPath\\QV_InternalTool.exe go", answer_ok, nullptr, true);
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ(installed("FromPath\\QV_InternalTool.exe go"), run.boxes[0].text);
}

// ---- update hand-off

namespace {
std::string updater_record(const GameFolder& game, const std::string& data_updater) {
  return "command line: \"" + data_updater + "\" /SILENT\r\ndirectory: " + game.path() + "\r\n";
}
}  // namespace

TEST(ToolUpdate, OldProductMovesTheUpdaterIntoTheDataFolderAndStartsItSilently) {
  for (const char* version : {"3.7", "none"}) {
    SCOPED_TRACE(version);
    GameFolder game;
    game.AddProduct("3.7");
    if (std::string(version) == "none") DeleteFileA(game.At("_QV3_.dll").c_str());
    game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
    // Another updater already in the data folder is overwritten.
    game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
    // An exe with bytes appended still runs; the mark tells the copies apart.
    const std::string game_copy = game.Read(kGameUpdater) + "GAME-FOLDER-COPY";
    game.Write(kGameUpdater, game_copy);
    ToolRun run = run_tool(game.path(), " update");
    expect_ended(run);
    EXPECT_EQ(0u, run.boxes.size());
    EXPECT_FALSE(game.Exists(kGameUpdater));
    EXPECT_EQ(game_copy, game.Read(kDataUpdater));
    EXPECT_EQ(updater_record(game, game.At(kDataUpdater)),
              wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
  }
}

TEST(ToolUpdate, Product38And310KeepTheUpdaterWhereItIs) {
  for (const char* version : {"3.8", "3.10"}) {
    SCOPED_TRACE(version);
    GameFolder game;
    game.AddProduct(version);
    game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
    game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
    ToolRun run = run_tool(game.path(), " -p:NotASwitch");
    expect_ended(run);
    EXPECT_EQ(0u, run.boxes.size());
    EXPECT_TRUE(game.Exists(kGameUpdater));
    EXPECT_EQ(updater_record(game, game.At(kDataUpdater)),
              wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
  }
}

TEST(ToolUpdate, OldProductWithoutAnUpdaterInTheGameFolderStartsTheOneInTheDataFolder) {
  GameFolder game;
  game.AddProduct("3.7");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  ToolRun run = run_tool(game.path(), "\t/p:tab");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_TRUE(game.Exists(kDataUpdater));
  EXPECT_EQ(updater_record(game, game.At(kDataUpdater)),
            wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
}

TEST(ToolUpdate, AFailedStartShowsTheErrorBoxThenAsksExplorerToSelectTheUpdater) {
  GameFolder game;
  game.AddProduct("3.8");
  ToolRun run = run_tool(game.path(), " update");
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV Update", start_failed(), kError);
  // The Explorer window that the tool opened stays after it: read its
  // command line, then close it.
  std::vector<std::string> explorers;
  for (int i = 0; i < 100 && explorers.empty(); ++i) {
    for (DWORD child : run.children) {
      if (_stricmp(process_exe_name(child).c_str(), "explorer.exe") == 0) explorers.push_back(process_command_line(child));
    }
    if (explorers.empty()) Sleep(20);
  }
  end_children(run);
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
}  // namespace

TEST(ToolUpdate, WhileTheGameHoldsItsLibraryEachProbeAsksUntilRetryFindsItFree) {
  GameFolder game;
  game.AddProduct("3.8");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  Holder game_running(game.At("_QV3_.dll"), "none");
  ASSERT_TRUE(game_running.holding());
  WaitScript script;
  script.answers = {IDRETRY, IDRETRY};
  script.releaseBefore = &game_running;
  script.releaseAt = 1;
  ToolRun run = run_tool(game.path(), " update", scripted_answer, &script);
  expect_ended(run);
  ASSERT_EQ(2u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV Update", close_game(), kWarningRetryCancel);
  expect_box(run.boxes[1], "Quarn QV Update", close_game(), kWarningRetryCancel);
  EXPECT_EQ(updater_record(game, game.At(kDataUpdater)),
            wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
}

namespace {
int end_launcher_then_retry(void* context, int, const BoxRecord&) {
  static_cast<Launcher*>(context)->End();
  return IDRETRY;
}
}  // namespace

TEST(ToolUpdate, ARunningLauncherHoldsItsProgramFileUntilItEnds) {
  GameFolder game;
  game.AddProduct("3.8");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  // Started from the game folder's QV_Launcher.exe, with a title that the
  // tool does not close.
  Launcher launcher(game.path(), "Quarn QV", game.At("QV_Launcher.exe").c_str());
  ASSERT_TRUE(launcher.ready());
  ToolRun run = run_tool(game.path(), " update", end_launcher_then_retry, &launcher);
  expect_ended(run);
  ASSERT_EQ(1u, run.boxes.size());
  expect_box(run.boxes[0], "Quarn QV Update", close_launcher(), kWarningRetryCancel);
  EXPECT_EQ(updater_record(game, game.At(kDataUpdater)),
            wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
}

TEST(ToolUpdate, CancelInEitherWaitEndsTheHandOff) {
  {
    SCOPED_TRACE("game wait");
    GameFolder game;
    game.AddProduct("3.7");
    game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
    Holder game_running(game.At("_QV3_.dll"), "none");
    Holder launcher_running(game.At("QV_Launcher.exe"), "none");
    ASSERT_TRUE(game_running.holding() && launcher_running.holding());
    ToolRun run = run_tool(game.path(), " update", answer_cancel);
    expect_ended(run);
    ASSERT_EQ(1u, run.boxes.size());
    expect_box(run.boxes[0], "Quarn QV Update", close_game(), kWarningRetryCancel);
    EXPECT_TRUE(game.Exists(kGameUpdater));
    EXPECT_FALSE(game.Exists(kDataUpdater));
    EXPECT_EQ("", wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
    EXPECT_EQ("", wait_for_record(run, game.At(std::string(kGameUpdater) + ".log")));
  }
  {
    SCOPED_TRACE("launcher wait");
    GameFolder game;
    game.AddProduct("3.7");
    game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
    Holder launcher_running(game.At("QV_Launcher.exe"), "none");
    ASSERT_TRUE(launcher_running.holding());
    WaitScript script;
    script.answers = {IDRETRY, IDCANCEL};
    ToolRun run = run_tool(game.path(), " update", scripted_answer, &script);
    expect_ended(run);
    ASSERT_EQ(2u, run.boxes.size());
    expect_box(run.boxes[0], "Quarn QV Update", close_launcher(), kWarningRetryCancel);
    expect_box(run.boxes[1], "Quarn QV Update", close_launcher(), kWarningRetryCancel);
    EXPECT_TRUE(game.Exists(kGameUpdater));
    EXPECT_FALSE(game.Exists(kDataUpdater));
    EXPECT_EQ("", wait_for_record(run, game.At(std::string(kGameUpdater) + ".log")));
  }
}

TEST(ToolUpdate, ALibraryDeniedForAnotherReasonThanSharingCountsAsFree) {
  GameFolder game;
  game.AddProduct("3.8");
  game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
  // A folder of that name: the probe's open fails with access denied.
  DeleteFileA(game.At("_QV3_.dll").c_str());
  make_folders(game.At("_QV3_.dll"));
  ToolRun run = run_tool(game.path(), " update");
  expect_ended(run);
  EXPECT_EQ(0u, run.boxes.size());
  EXPECT_EQ(updater_record(game, game.At(kDataUpdater)),
            wait_for_record(run, game.At(std::string(kDataUpdater) + ".log")));
}
