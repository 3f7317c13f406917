// What the end-to-end tests of the maintenance tool need around the real
// program: fresh game folders, the stand-ins, a run of the tool with its
// boxes watched and answered, and the expected texts in the run's language.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "box_watcher.h"

// Windows path of a file of the build (the build passes Unix paths).
std::string tool_exe_path();
std::string standin_path(const char* file_name);

// True when this run checks the Russian texts (QV_EXPECT_UI=ru).
bool russian_run();
// Windows-1251 bytes of a UTF-8 text.
std::string cp1251(const char* utf8);
// The English text, or the Russian one (UTF-8 here) in the Russian run.
std::string expected_text(const char* english, const char* russian_utf8);

// A fresh, empty game folder under the temporary folder; removed with all
// its content at the end of the test.
class GameFolder {
 public:
  GameFolder();
  ~GameFolder();
  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string At(const std::string& relative) const;  // path_ + "\" + relative
  // Writes bytes to a file, creating the folders on the way.
  void Write(const std::string& relative, const std::string& bytes) const;
  // The file's bytes; "<missing>" when it cannot be read.
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  // Copies a stand-in file of the build into the folder under a new name.
  void CopyStandIn(const char* standin, const std::string& relative) const;
  // The usual product files: _QV3_.dll of the version given ("3.7", "3.8",
  // "3.10"), QV_Launcher.exe, and the settings folder.
  void AddProduct(const char* version) const;

 private:
  std::string path_;
};

// Creates the folder and its parents.
void make_folders(const std::string& path);
// Removes a folder tree.
void remove_tree(const std::string& path);

struct ToolRun {
  bool started = false;
  bool ended = false;
  DWORD exitCode = 0;
  DWORD processId = 0;
  std::vector<BoxRecord> boxes;
  std::vector<DWORD> children;  // processes the tool started, still running at its end
};

// Answers every box with the same button.
int answer_ok(void*, int, const BoxRecord&);
int answer_cancel(void*, int, const BoxRecord&);

// Starts the tool with the command line `"<tool>"` + arguments (or the
// whole command line when `whole` is set) in the folder, watches its boxes
// until it ends.
ToolRun run_tool(const std::string& folder, const std::string& arguments, BoxAnswerFn answer = answer_ok,
                 void* context = nullptr, bool whole = false);

// The record that the updater stand-in left at `log`, once the tool's child
// processes are gone; "" when no updater ran.
std::string wait_for_record(const ToolRun& run, const std::string& log);

// The command line of a running process, read from its process parameters.
std::string process_command_line(DWORD process_id);
// The file name (without folder) of a running process's program.
std::string process_exe_name(DWORD process_id);
// Ends the processes that the tool left running (an Explorer window, say).
void end_children(const ToolRun& run);

// Whether this Wine gives a box shown with MB_TOPMOST the WS_EX_TOPMOST
// style (Wine 8 does not): probed once with a box of this process.
bool boxes_can_be_topmost();

// A launcher stand-in with its window title; closes it at the end.
class Launcher {
 public:
  Launcher(const std::string& folder, const std::string& title, const char* program = nullptr);
  ~Launcher();
  bool ready() const { return ready_; }
  // True when the launcher recorded WM_CLOSE (waits a little for it to end).
  bool GotClose();
  // Ends the launcher as a user would close it.
  void End();

 private:
  std::string record_;
  PROCESS_INFORMATION process_ = {};
  bool ready_ = false;
};

// A program that holds a file open ("none": no sharing; "read": others may
// only read) until Release.
class Holder {
 public:
  Holder(const std::string& file, const char* mode);
  ~Holder();
  bool holding() const { return holding_; }
  void Release();

 private:
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  PROCESS_INFORMATION process_ = {};
  bool holding_ = false;
};
