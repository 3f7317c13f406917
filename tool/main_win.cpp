// Entry of the maintenance tool: closes the launcher, then runs the switches
// of the command line or hands over to the updater. The exit code is always 1.
#include <windows.h>

#include "command_line.h"
#include "launcher_title.h"
#include "messages.h"
#include "pack_actions.h"
#include "tool_state.h"
#include "update_hand_off.h"

// How long each launcher window is given to handle WM_CLOSE.
constexpr UINT kLauncherCloseTimeoutMs = 5000;

static BOOL CALLBACK close_launcher_proc(HWND window, LPARAM) {
  char title[kWindowTitleSize];
  const int length = GetWindowTextA(window, title, kWindowTitleSize);
  if (length < 0 || length >= kWindowTitleSize) return TRUE;
  title[length] = '\0';
  // A launcher that does not answer (or takes long over its close) is left
  // behind after a few seconds instead of holding up the windowless tool
  // for ever; the hand-off's wait for the launcher's file still catches one
  // that stays open.
  if (is_launcher_title(title)) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kLauncherCloseTimeoutMs, &result);
  }
  return TRUE;
}

static void run_switch(void* told, int kind, const char* value) {
  // The settings library reaches its file through full paths, which a
  // folder without an ANSI name does not have: the box says so, once.
  if (base_directory[0] == '\0') {
    if (*static_cast<int*>(told) == 0) show_tool_box(kTextFolderUnnamed, kCaptionTool, kStyleError, nullptr);
    *static_cast<int*>(told) = 1;
    return;
  }
  if (kind == kSwitchPack) {
    register_pack(value);
  } else {
    switch_language(value);
  }
}

static bool scan_command_line() {
  int told = 0;
  return scan_switches(GetCommandLineA(), run_switch, &told) != 0;
}

// The form of a wide path in the ANSI code page into base_directory: 1 when
// it names the folder exactly, 0 when a character has no ANSI form (or only
// a look-alike, which may name another folder), -1 when it does not fit.
static int ansi_form(const wchar_t* wide) {
  // Where the ANSI code page is UTF-8 every name has its form, and the test
  // for lost characters is not allowed.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lost = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, nullptr, utf8 ? nullptr : &lost);
  if (n <= 0 || lost) return 0;
  if (n > kPathSize) return -1;
  WideCharToMultiByte(CP_ACP, flags, wide, -1, base_directory, kPathSize, nullptr, nullptr);
  return 1;
}

enum FolderName { kFolderNamed, kFolderTooLong, kFolderUnnamed };

// Reads the game folder, the current directory, into base_directory. A
// folder whose name has characters outside the ANSI code page ("C:\Игры"
// under code page 1252 comes back from GetCurrentDirectoryA as "C:\????")
// is named by its short form where that is all ANSI, and made current under
// it, so that the paths of the tool and of the settings library, built on the
// ANSI current directory, all name it. Without such a form base_directory
// stays empty (kFolderUnnamed): the hand-off then goes by paths relative to
// the current directory.
static int read_game_folder() {
  wchar_t wide[kPathSize];
  DWORD n = GetCurrentDirectoryW(kPathSize, wide);
  if (n == 0 || n >= static_cast<DWORD>(kPathSize)) return kFolderTooLong;
  const int named = ansi_form(wide);
  if (named != 0) return named > 0 ? kFolderNamed : kFolderTooLong;
  wchar_t short_form[kPathSize];
  n = GetShortPathNameW(wide, short_form, kPathSize);
  if (n > 0 && n < static_cast<DWORD>(kPathSize) && ansi_form(short_form) > 0 && SetCurrentDirectoryA(base_directory))
    return kFolderNamed;
  base_directory[0] = '\0';
  return kFolderUnnamed;
}

// `arguments` is the argument part as the start-up code hands it over: the
// text after the program name, where the name may switch in and out of
// quotes anywhere, with the blanks, tabs and other control characters after
// it skipped.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  // A folder that does not fit the buffer cannot name any of the tool's
  // files: every path would be cut and point elsewhere.
  const bool folder_fits = read_game_folder() != kFolderTooLong;

  EnumWindows(close_launcher_proc, 0);
  Sleep(100);

  if (arguments == nullptr || *arguments == '\0') {
    show_tool_box(kTextWrongCommandLine, kCaptionTool, kStyleError, nullptr);
    return 1;
  }
  if (!folder_fits) return 1;

  const uint32_t version = get_product_dll_version();
  if (scan_command_line()) return 1;
  run_update_hand_off(version);
  return 1;
}
