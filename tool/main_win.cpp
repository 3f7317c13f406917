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

static void run_switch(void*, int kind, const char* value) {
  if (kind == kSwitchPack) {
    register_pack(value);
  } else {
    switch_language(value);
  }
}

static bool scan_command_line() { return scan_switches(GetCommandLineA(), run_switch, nullptr) != 0; }

// `arguments` is the argument part as the start-up code hands it over: the
// text after the program name, where the name may switch in and out of
// quotes anywhere, with the blanks, tabs and other control characters after
// it skipped.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  const DWORD length = GetCurrentDirectoryA(kPathSize, base_directory);
  // A folder that does not fit the buffer cannot name any of the tool's
  // files: every path would be cut and point elsewhere.
  const bool folder_fits = length > 0 && length < static_cast<DWORD>(kPathSize);
  if (!folder_fits) base_directory[0] = '\0';

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
