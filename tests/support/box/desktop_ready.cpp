// Exits 0 once this Wine session's desktop takes windows, 1 if it does not
// within about a minute. The first program of a session that makes a window
// starts the desktop process and waits only a few seconds for it; on a slow
// machine (the emulated one) that wait runs out and the program's message
// boxes fail at once. The test run starts the desktop with this first.
#include <windows.h>

int main() {
  for (int attempt = 0; attempt < 60; ++attempt) {
    HWND window = CreateWindowExA(0, "STATIC", "qv-desktop-ready", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                  nullptr);
    if (window != nullptr && GetDesktopWindow() != nullptr) {
      DestroyWindow(window);
      return 0;
    }
    Sleep(1000);
  }
  return 1;
}
