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
    // Only Retry probes again. A box that cannot be shown (0, or -1 under
    // Wine: no display) counts as Cancel: nobody can ever choose Retry, and
    // probing on would never end.
    if (show_tool_box(question, kCaptionUpdate, kStyleRetryCancel, nullptr) != IDRETRY) return 1;
  }
}

static int file_exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Copies the game folder's updater over the data folder's without ever
// leaving a cut file under the data folder's name: a copy that fails part
// way (a full disk) leaves what it wrote behind. So the copy goes to a name
// of its own beside the target and takes the target's place only when it is
// whole. That name is as long as the target's, so that it fits wherever the
// target's does. Returns 1 when the data folder holds the whole copy.
static int copy_updater(const char* from, const char* to, const char* partial) {
  WIN32_FILE_ATTRIBUTE_DATA source;
  WIN32_FILE_ATTRIBUTE_DATA copy;
  // The sizes are compared too, so that a copy cut short by a failed read
  // that the copy routine took for the file's end is never moved into place.
  if (CopyFileA(from, partial, FALSE) && GetFileAttributesExA(from, GetFileExInfoStandard, &source) &&
      GetFileAttributesExA(partial, GetFileExInfoStandard, &copy) && source.nFileSizeLow == copy.nFileSizeLow &&
      source.nFileSizeHigh == copy.nFileSizeHigh &&
      MoveFileExA(partial, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 1;
  }
  DeleteFileA(partial);
  return 0;
}

static int start_updater(const char* path) {
  SHELLEXECUTEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
  info.lpFile = path;
  info.lpParameters = "/SILENT";
  // Without an ANSI name of the game folder the updater inherits it as the
  // current directory.
  info.lpDirectory = base_directory[0] != '\0' ? base_directory : nullptr;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&info)) return 0;
  // The updater runs on by itself; its handle is not waited on.
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  return 1;
}

void run_update_hand_off(uint32_t product_version) {
  if (wait_until_file_free("_QV3_.dll", kTextCloseGame)) return;
  if (wait_until_file_free("QV_Launcher.exe", kTextCloseLauncher)) return;
  // A game folder without an ANSI name (see read_game_folder) is reached by
  // paths relative to the current directory, which is that folder.
  const char* folder = base_directory[0] != '\0' ? format_temp("%s\\", base_directory) : "";
  const char* game_updater = format_temp("%s%s", folder, "QV3_Update.exe");
  const char* data_updater = format_temp("%s_QV3_Data\\%s", folder, "QV3_Update.exe");
  const char* updater = data_updater;
  if (product_version < kUpdaterMoveBelow) {
    if (copy_updater(game_updater, data_updater, format_temp("%s_QV3_Data\\%s", folder, "QV3_Update.new"))) {
      DeleteFileA(game_updater);
    } else if (!file_exists(data_updater) && file_exists(game_updater)) {
      // The copy failed and the data folder has no updater: the whole one
      // left in the game folder is started instead.
      updater = game_updater;
    }
  }
  if (start_updater(updater)) return;
  show_tool_box(kTextUpdaterStartFailed, kCaptionUpdate, kStyleError, nullptr);
  // Explorer selects the updater that failed to start, by its full path only.
  if (*folder == '\0') {
    show_tool_box(kTextFolderUnnamed, kCaptionUpdate, kStyleError, nullptr);
    return;
  }
  ShellExecuteA(nullptr, "open", "explorer.exe", format_temp("/select, \"%s\"", updater), nullptr, SW_SHOWNORMAL);
}
