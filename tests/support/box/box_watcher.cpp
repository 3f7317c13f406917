#include "box_watcher.h"

#include <algorithm>
#include <cstdio>

namespace {
struct FindContext {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK find_box_proc(HWND window, LPARAM param) {
  FindContext* context = reinterpret_cast<FindContext*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != context->process_id || !IsWindowVisible(window)) return TRUE;
  char class_name[32];
  if (GetClassNameA(window, class_name, sizeof class_name) == 0 || lstrcmpA(class_name, "#32770") != 0) return TRUE;
  context->found = window;
  return FALSE;
}

BOOL CALLBACK collect_button_proc(HWND child, LPARAM param) {
  std::vector<int>* buttons = reinterpret_cast<std::vector<int>*>(param);
  char class_name[32];
  if (GetClassNameA(child, class_name, sizeof class_name) == 0 || lstrcmpiA(class_name, "Button") != 0) return TRUE;
  if ((GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) == 0) return TRUE;
  buttons->push_back(GetDlgCtrlID(child));
  return TRUE;
}
}  // namespace

HWND box_find(DWORD process_id) {
  FindContext context = {process_id, nullptr};
  EnumWindows(find_box_proc, reinterpret_cast<LPARAM>(&context));
  return context.found;
}

BoxRecord box_read(HWND box) {
  BoxRecord record;
  char text[2048];
  int n = GetWindowTextA(box, text, sizeof text);
  record.caption.assign(text, n > 0 ? n : 0);
  n = static_cast<int>(GetDlgItemTextA(box, 0xFFFF, text, sizeof text));
  record.text.assign(text, n > 0 ? n : 0);
  EnumChildWindows(box, collect_button_proc, reinterpret_cast<LPARAM>(&record.buttons));
  std::sort(record.buttons.begin(), record.buttons.end());
  record.topmost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  return record;
}

int box_press(HWND box, int button) {
  HWND control = GetDlgItem(box, button);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
  for (int i = 0; i < 500; ++i) {
    if (!IsWindow(box) || !IsWindowVisible(box)) return 1;
    Sleep(10);
  }
  return 0;
}

int box_save_bmp(HWND box, const char* path) {
  RECT rect;
  if (!GetWindowRect(box, &rect)) return 0;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return 0;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom-up rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
  const int rows = GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                             DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return 0;

  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return 0;
  const bool ok = fwrite(&header, sizeof header, 1, file) == 1 && fwrite(&info, sizeof info, 1, file) == 1 &&
                  fwrite(pixels.data(), pixels.size(), 1, file) == 1;
  return fclose(file) == 0 && ok ? 1 : 0;
}

int box_watch_process(HANDLE process, DWORD process_id, BoxAnswerFn answer, void* context,
                      std::vector<BoxRecord>* boxes, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (WaitForSingleObject(process, 10) == WAIT_OBJECT_0) return 1;
    if (GetTickCount() - start > timeout_ms) return 0;
    HWND box = box_find(process_id);
    if (box == nullptr) continue;
    BoxRecord record = box_read(box);
    record.answer = answer(context, static_cast<int>(boxes->size()), record);
    boxes->push_back(record);
    box_press(box, record.answer);
  }
}
