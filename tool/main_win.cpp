// Entry of the maintenance tool: closes the launcher, then runs the switches
// of the command line or hands over to the updater. The exit code is always 1.
#include <windows.h>

#include "command_line.h"
#include "launcher_title.h"
#include "messages.h"
#include "pack_actions.h"
#include "tool_state.h"
#include "update_hand_off.h"
#include "wide_path_win.h"

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

static void run_switch(void*, int kind, const char* value) {
  if (kind == kSwitchPack) {
    register_pack(value);
  } else {
    switch_language(value);
  }
}

static bool scan_command_line() { return scan_switches(GetCommandLineA(), run_switch, nullptr) != 0; }

enum FolderName { kFolderNamed, kFolderUnnamed, kFolderUnread };

// Reads the game folder, the current directory, into base_directory, for
// the full paths of the hand-off. A folder whose name the ANSI code page
// cannot hold exactly ("C:\Игры" under code page 1252 comes back from
// GetCurrentDirectoryA as "C:\????", "Łukasz" under best fit as
// "Lukasz", another folder), or only in 260 bytes or more, is named by its
// short form where that is all ANSI and fits. Without one base_directory
// stays empty (kFolderUnnamed): the tool then goes by paths relative to the
// current directory, which is that folder.
static int read_game_folder() {
  wchar_t wide[kPathSize];
  DWORD n = GetCurrentDirectoryW(kPathSize, wide);
  if (n == 0 || n >= static_cast<DWORD>(kPathSize)) return kFolderUnread;
  if (exact_ansi(wide, base_directory, kPathSize) > 0) return kFolderNamed;
  wchar_t short_form[kPathSize];
  n = GetShortPathNameW(wide, short_form, kPathSize);
  if (n > 0 && n < static_cast<DWORD>(kPathSize) && exact_ansi(short_form, base_directory, kPathSize) > 0) {
    return kFolderNamed;
  }
  base_directory[0] = '\0';
  return kFolderUnnamed;
}

// `arguments` is the argument part as the start-up code hands it over: the
// text after the program name, where the name may switch in and out of
// quotes anywhere, with the blanks, tabs and other control characters after
// it skipped.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  // A current directory that cannot be read at all leaves the tool no
  // folder to work in.
  const bool folder_read = read_game_folder() != kFolderUnread;

  EnumWindows(close_launcher_proc, 0);
  Sleep(100);

  if (arguments == nullptr || *arguments == '\0') {
    show_tool_box(kTextWrongCommandLine, kCaptionTool, kStyleError, nullptr);
    return 1;
  }
  if (!folder_read) return 1;

  const uint32_t version = get_product_dll_version();
  if (scan_command_line()) return 1;
  run_update_hand_off(version);
  return 1;
}
