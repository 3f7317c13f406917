// Finds the message boxes that one process shows, reads them, answers them
// and records each one in order; can also save a box's picture as a BMP.
// For tests under Xvfb, where the boxes are real windows.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct BoxRecord {
  HWND window = nullptr;     // the box, until it is answered
  std::string caption;       // GetWindowTextA
  std::string text;          // GetDlgItemTextA with id 0xFFFF
  std::wstring wide_text;    // GetDlgItemTextW with id 0xFFFF: the text as the box holds it
  std::vector<int> buttons;  // ids of the visible push buttons, ascending
  bool topmost = false;      // WS_EX_TOPMOST
  bool owned = false;        // GetWindow(box, GW_OWNER) is a window
  // The system icon that the box shows, as its style bit: MB_ICONHAND,
  // MB_ICONQUESTION, MB_ICONEXCLAMATION or MB_ICONASTERISK; 0 when its icon
  // is none of them or it has none.
  int icon = 0;
  int answer = 0;            // the button pressed
};

// Chooses the button for the index-th box (from 0) of the run; may act on
// the world first (for example let go of a file).
typedef int (*BoxAnswerFn)(void* context, int index, const BoxRecord& box);

// The first visible dialog window (class "#32770") of the process, or none.
HWND box_find(DWORD process_id);
// Reads caption, text, buttons, topmost style, owner and icon.
BoxRecord box_read(HWND box);
// Presses the button (IDOK, IDRETRY, IDCANCEL ...) and waits until the box
// is gone. Returns 1 when it went away.
int box_press(HWND box, int button);
// Saves what the screen shows of the window as a 24-bit BMP. Returns 1 on success.
int box_save_bmp(HWND box, const char* path);

// Watches the process until it ends or timeout_ms pass: reads each box it
// shows, asks `answer` for the button, presses it and records the box.
// Returns 1 when the process ended within the time.
int box_watch_process(HANDLE process, DWORD process_id, BoxAnswerFn answer, void* context,
                      std::vector<BoxRecord>* boxes, DWORD timeout_ms);
