// Stand-in for the product's launcher: one top-level window whose title is
// the rest of the command line after the record file name (without the
// quotation marks when the whole rest is quoted). When the window
// gets WM_CLOSE, "WM_CLOSE" is appended to the record file and the program
// ends. On start it writes "ready" there once the window exists. With
// /busy-close:<ms> first, it spends that long handling WM_CLOSE (after
// recording it), as a launcher that does not answer.
//   standin_launcher.exe [/busy-close:<ms>] <record file> <title...>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "args.h"
#include "record.h"

static char record_path[1024];
static DWORD busy_close_ms = 0;

static void record(const char* line) { append_record_line(record_path, line); }

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE) {
    record("WM_CLOSE");
    Sleep(busy_close_ms);
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const char* p = after_program_name(GetCommandLineA());
  if (!next_word(&p, record_path, sizeof record_path)) return 2;
  const char busy[] = "/busy-close:";
  if (std::strncmp(record_path, busy, sizeof busy - 1) == 0) {
    busy_close_ms = static_cast<DWORD>(atoi(record_path + sizeof busy - 1));
    if (!next_word(&p, record_path, sizeof record_path)) return 2;
  }
  // A title passed as one quoted argument loses its quotation marks.
  char title[512];
  lstrcpynA(title, p, sizeof title);
  const int length = lstrlenA(title);
  if (length >= 2 && title[0] == '"' && title[length - 1] == '"') {
    title[length - 1] = '\0';
    p = title + 1;
  } else {
    p = title;
  }
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = instance;
  window_class.lpszClassName = "QvStandInLauncher";
  RegisterClassA(&window_class);
  HWND window = CreateWindowA("QvStandInLauncher", p, WS_OVERLAPPED, 0, 0, 200, 80, nullptr, nullptr, instance,
                              nullptr);
  if (window == nullptr) return 3;
  record("ready");
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
