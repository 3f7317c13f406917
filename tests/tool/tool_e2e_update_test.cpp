// The maintenance tool run for real under Wine and Xvfb without a switch:
// the hand-off to the product's updater, moved into the data folder for an
// old product (also onto a disk too full for it), the waits while the game
// or the launcher still runs, and a start that fails. A fresh game folder per case, every box read and
// answered, then what the updater stand-in recorded.
// The suite runs twice, in an English and in a Russian interface; the texts
// are checked byte for byte in the run's language (e2e_support.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "e2e_support.h"

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
    {"OldProductWithoutAnUpdaterInTheGameFolderStartsTheOneInTheDataFolder", "3.7", "file", false, "\t/p:tab", false},
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
  // The data folder's updater; or, where an old product's could not be
  // copied there (a folder in the way), the game folder's, which is the one
  // started and so the one selected.
  for (const char* product : {"3.8", "3.7"}) {
    SCOPED_TRACE(product);
    GameFolder game(product);
    const bool old = product[2] == '7';
    if (old) {
      game.Write(kGameUpdater, "not a program");
      make_folders(game.At("_QV3_Data\\QV3_Update.new"));
    }
    ChildRun run = run_tool(game.path(), " update");
    expect_boxes(run, {start_failed()});
    // The Explorer window that the tool opened stays after it: read its
    // command line, then close it.
    std::vector<std::string> explorers;
    for (int i = 0; i < 100 && explorers.empty(); ++i) {
      for (DWORD child : run.children) {
        if (_stricmp(process_exe_name(child).c_str(), "explorer.exe") == 0) {
          explorers.push_back(process_command_line(child));
        }
      }
      if (explorers.empty()) Sleep(20);
    }
    end_processes(child_processes(run.process_id));
    ASSERT_EQ(1u, explorers.size());
    const std::string selected = game.At(old ? kGameUpdater : kDataUpdater);
    EXPECT_NE(std::string::npos, explorers[0].find("/select, \"" + selected + "\"")) << explorers[0];
  }
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

TEST(ToolUpdate, AQuestionThatCannotBeShownEndsTheHandOff) {
  GameFolder game("3.7");
  game.CopyStandIn("standin_tool_updater.exe", kGameUpdater);
  Holder game_running(game.At("_QV3_.dll"), "none");
  ASSERT_TRUE(game_running.holding());
  // A desktop that Wine makes while its graphics driver cannot be loaded has
  // none: every box on it fails at once, as without a display (MessageBox
  // gives 0 on Windows, -1 under Wine). The tool is started on such a desktop.
  HKEY drivers = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Drivers", 0, nullptr, 0, KEY_SET_VALUE,
                                           nullptr, &drivers, nullptr));
  const char none[] = "qv-no-such-driver";
  RegSetValueExA(drivers, "Graphics", 0, REG_SZ, reinterpret_cast<const BYTE*>(none), sizeof none);
  std::wstring desktop = L"WinSta0\\qv-no-display-" + std::to_wstring(GetCurrentProcessId());
  std::wstring line = widen("\"" + tool_exe_path() + "\" update");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.lpDesktop = &desktop[0];
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessW(widen(tool_exe_path()).c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      widen(game.path()).c_str(), &startup, &process);
  const DWORD waited = started ? WaitForSingleObject(process.hProcess, 60000) : WAIT_FAILED;
  RegDeleteValueA(drivers, "Graphics");
  RegCloseKey(drivers);
  ASSERT_TRUE(started) << GetLastError();
  DWORD exit_code = 0;
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(WAIT_OBJECT_0, waited) << "the tool was still probing after 60 s";
  EXPECT_EQ(1u, exit_code);
  EXPECT_TRUE(game.Exists(kGameUpdater));
  EXPECT_FALSE(game.Exists(kDataUpdater));
  EXPECT_EQ(kNone, game.Read(std::string(kGameUpdater) + ".log"));
}

namespace {
// A small tmpfs mounted over a folder for the life of the object, so that a
// copy into it fails part-way as on a full disk. Wine starts a program of
// the machine itself when given its Z: path; mounting needs root, and where
// it cannot be done mounted() is false.
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, int kilobytes) : folder_(folder) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unix_name = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unix_name != nullptr ? unix_name(widen(folder).c_str()) : nullptr;
    if (name == nullptr) return;
    unix_ = name;
    HeapFree(GetProcessHeap(), 0, name);
    shell("mount -t tmpfs -o size=" + std::to_string(kilobytes) + "k qv-small '" + unix_ + "'");
    // The program's end cannot be waited on: its mount shows in the size.
    for (int i = 0; i < 500 && !mounted_; ++i) {
      mounted_ = total_bytes() <= kilobytes * 1024ull;
      if (!mounted_) Sleep(20);
    }
  }
  ~SmallDisk() {
    if (!mounted_) return;
    shell("umount '" + unix_ + "' || umount -l '" + unix_ + "'");
    for (int i = 0; i < 500 && total_bytes() <= 1024 * 1024ull; ++i) Sleep(20);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  static void shell(const std::string& command) {
    PROCESS_INFORMATION process;
    if (!start_process("", "Z:\\bin\\sh -c \"" + command + "\"", "", &process)) return;
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  }
  unsigned long long total_bytes() const {
    ULARGE_INTEGER total = {};
    return GetDiskFreeSpaceExA(folder_.c_str(), nullptr, &total, nullptr) ? total.QuadPart : ~0ull;
  }
  std::string folder_;
  std::string unix_;
  bool mounted_ = false;
};
}  // namespace

TEST(ToolUpdate, ACopyOfTheUpdaterThatFillsTheDiskLeavesNothingCutAndStartsAWholeUpdater) {
  // The game folder's updater is larger than the room left in the data folder.
  const std::string updater = read_file(standin_path("standin_tool_updater.exe"));
  const std::string game_copy = updater + std::string(300 * 1024, 'x') + "GAME-FOLDER-COPY";
  {
    SCOPED_TRACE("an older updater in the data folder");
    GameFolder game("3.7");
    SmallDisk disk(game.At("_QV3_Data"), 160);
    if (!disk.mounted()) GTEST_SKIP() << "no small disk: mounting a tmpfs needs root and Wine";
    game.CopyStandIn("standin_tool_updater.exe", kDataUpdater);
    game.Write(kGameUpdater, game_copy);
    ChildRun run = run_tool(game.path(), " update");
    expect_boxes(run, {});
    EXPECT_EQ(handed_off(game), updater_log(run, game));
    EXPECT_EQ(updater, game.Read(kDataUpdater));
    EXPECT_EQ(game_copy, game.Read(kGameUpdater));
    std::vector<std::string> names = folder_names(game.At("_QV3_Data"));
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"QV3_Update.exe", "QV3_Update.exe.log"}), names);
  }
  {
    SCOPED_TRACE("no updater in the data folder");
    GameFolder game("3.7");
    SmallDisk disk(game.At("_QV3_Data"), 64);
    ASSERT_TRUE(disk.mounted());
    game.Write(kGameUpdater, game_copy);
    ChildRun run = run_tool(game.path(), " update");
    expect_boxes(run, {});
    EXPECT_EQ("command line: \"" + game.At(kGameUpdater) + "\" /SILENT\r\ndirectory: " + game.path() + "\r\n",
              updater_log(run, game, kGameUpdater));
    EXPECT_EQ(game_copy, game.Read(kGameUpdater));
    EXPECT_EQ(std::vector<std::string>{}, folder_names(game.At("_QV3_Data")));
  }
}
