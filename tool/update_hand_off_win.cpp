#include <windows.h>

#include "messages.h"
#include "text.h"
#include "tool_state.h"
#include "update_hand_off.h"

// Probes the file until no other program holds it; each probe that finds it
// in use asks the user. Returns 1 when the user chose Cancel.
static int wait_until_file_free(const char* file, const ToolText& question) {
  for (;;) {
    Sleep(100);
    HANDLE handle = CreateFileA(file, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE) {
      // Opened: free, whatever an earlier call left in the last error.
      CloseHandle(handle);
      return 0;
    }
    if (error != ERROR_SHARING_VIOLATION) return 0;
    if (show_tool_box(question, kCaptionUpdate, kStyleRetryCancel, nullptr) == IDCANCEL) return 1;
  }
}

static int start_updater(const char* path) {
  SHELLEXECUTEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
  info.lpFile = path;
  info.lpParameters = "/SILENT";
  info.lpDirectory = base_directory;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&info)) return 0;
  // The updater runs on by itself; its handle is not waited on.
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  return 1;
}

void run_update_hand_off(uint32_t product_version) {
  if (wait_until_file_free("_QV3_.dll", kTextCloseGame)) return;
  if (wait_until_file_free("QV_Launcher.exe", kTextCloseLauncher)) return;
  const char* game_updater = format_temp("%s\\%s", base_directory, "QV3_Update.exe");
  const char* data_updater = format_temp("%s\\_QV3_Data\\%s", base_directory, "QV3_Update.exe");
  if (product_version < kUpdaterMoveBelow) {
    if (CopyFileA(game_updater, data_updater, FALSE)) DeleteFileA(game_updater);
  }
  if (start_updater(data_updater)) return;
  show_tool_box(kTextUpdaterStartFailed, kCaptionUpdate, kStyleError, nullptr);
  ShellExecuteA(nullptr, "open", "explorer.exe", format_temp("/select, \"%s\"", data_updater), nullptr,
                SW_SHOWNORMAL);
}
