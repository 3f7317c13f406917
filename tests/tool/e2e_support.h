// What the end-to-end tests of the maintenance tool need around the real
// program: fresh game folders with the stand-ins, a run of the tool with its
// boxes watched and answered, the launcher stand-in, and the boxes expected,
// their texts in the run's language.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win_child.h"
#include "win_files.h"
#include "win_holder.h"
#include "win_text.h"

// Windows path of the tool under test: the Unix path in QV_TOOL_UNDER_TEST
// (a signed copy), else the one this build made.
std::string tool_exe_path();
// Windows path of a stand-in of the build.
std::string standin_path(const char* file_name);

// True when this run checks the Russian texts (QV_EXPECT_UI=ru).
bool russian_run();
// The English text, or the Russian one (UTF-8 here) in the Russian run.
std::string expected_text(const char* english, const char* russian_utf8);

// A fresh game folder under the temporary folder; removed with all its
// content at the end of the test.
class GameFolder : public TempFolder {
 public:
  // Empty, or with the product files of the version given (AddProduct).
  explicit GameFolder(const char* product = nullptr);

  // Writes bytes to a file, creating the folders on the way.
  void Write(const std::string& relative, const std::string& bytes) const;
  // The file's bytes; "<missing>" when it cannot be read.
  std::string Read(const std::string& relative) const { return read_file(At(relative)); }
  bool Exists(const std::string& relative) const;
  // Copies a stand-in file of the build into the folder under a new name.
  void CopyStandIn(const char* standin, const std::string& relative) const;
  // The usual product files: _QV3_.dll of the version given ("3.7", "3.8",
  // "3.10"), QV_Launcher.exe, and the settings folder.
  void AddProduct(const char* version) const;
};

// Starts the tool with the command line `"<tool>"` + arguments (or the
// whole command line when `whole` is set) in the folder, watches its boxes
// until it ends.
ChildRun run_tool(const std::string& folder, const std::string& arguments, BoxAnswerFn answer = answer_ok,
                  void* context = nullptr, bool whole = false);

// The record that the updater stand-in left at `log`, once the tool's child
// processes are gone; "" when no updater ran.
std::string wait_for_record(const ChildRun& run, const std::string& log);

// Whether this Wine gives a box shown with MB_TOPMOST the WS_EX_TOPMOST
// style (Wine 8 does not): probed once with a box of this process.
bool boxes_can_be_topmost();

// A launcher stand-in with its window title; closes it at the end.
class Launcher {
 public:
  // busy_close_ms: how long it takes to handle WM_CLOSE.
  Launcher(const std::string& folder, const std::string& title, const char* program = nullptr, int busy_close_ms = 0);
  ~Launcher() { End(); }
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  bool ready() const { return ready_; }
  // True when the launcher recorded WM_CLOSE (waits a little for it to end).
  bool GotClose();
  // Ends the launcher as a user would close it.
  void End() { end_process(&process_); }

 private:
  std::string record_;
  PROCESS_INFORMATION process_ = {};
  bool ready_ = false;
};

// Files of a game folder.
inline constexpr char kSettings[] = "_QV3_Data\\Settings\\qel.ini";
inline constexpr char kDefaults[] = "_QV3_Data\\Settings\\#default#qel.ini";
inline constexpr char kDataUpdater[] = "_QV3_Data\\QV3_Update.exe";
inline constexpr char kGameUpdater[] = "QV3_Update.exe";
// What GameFolder::Read gives for a file that is not there.
inline constexpr char kNone[] = "<missing>";

// A user's settings file.
inline const std::string kUserFile = "<Packs> = \"GrandPack_Rus\"\r\n<Language> = \"eng\"\r\n";

// A saved settings file: the text and one NUL byte.
inline std::string with_nul(const std::string& text) { return text + '\0'; }

// The buttons and the icon of a kind of box.
struct BoxStyle;

// A box that the tool is to show: caption, text in the run's language, kind
// (none: only the text is checked).
struct ExpectedBox {
  const char* caption;
  std::string text;
  const BoxStyle* style;
};

// The tool's boxes; pack names go in as bytes.
ExpectedBox installed(const std::string& pack);
ExpectedBox save_failed(const std::string& pack);
ExpectedBox has_quote(const std::string& pack);
ExpectedBox wrong_command_line();
ExpectedBox close_game();
ExpectedBox close_launcher();
ExpectedBox start_failed();

// A box checked by its text alone, where the case is about the text (and a
// box as wide as the screen may show its icon where it cannot be read).
ExpectedBox text_only(ExpectedBox box);

// The tool started and ended with exit code 1.
void expect_ended(const ChildRun& run);
// The tool ended and showed exactly these boxes, in this order.
void expect_boxes(const ChildRun& run, const std::vector<ExpectedBox>& boxes);

// The record of the updater (the one in the data folder unless another is
// named) once the tool's children are gone; "" when it did not run.
std::string updater_log(const ChildRun& run, const GameFolder& game, const char* updater = kDataUpdater);

// What the updater in the data folder records when the tool hands off to it.
std::string handed_off(const GameFolder& game);

// A parameterised case is named by its `name`.
template <typename Case>
std::string case_name(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}
