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

BOOL CALLBACK find_icon_proc(HWND child, LPARAM param) {
  char class_name[32];
  if (GetClassNameA(child, class_name, sizeof class_name) == 0 || lstrcmpiA(class_name, "Static") != 0) return TRUE;
  const LONG style = GetWindowLongA(child, GWL_STYLE);
  if ((style & WS_VISIBLE) == 0 || (style & SS_TYPEMASK) != SS_ICON) return TRUE;
  *reinterpret_cast<HWND*>(param) = child;
  return FALSE;
}

// The pixels of a screen rectangle as 32-bit values, top row first; with
// `icon`, that icon drawn instead on the colour of the rectangle's first
// pixel.
std::vector<DWORD> screen_pixels(const RECT& rect, HICON icon) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  std::vector<DWORD> pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    if (icon != nullptr) {
      HBRUSH background = CreateSolidBrush(GetPixel(memory, 0, 0));
      const RECT all = {0, 0, width, height};
      FillRect(memory, &all, background);
      DeleteObject(background);
      DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
    }
    GdiFlush();
    const DWORD* p = static_cast<const DWORD*>(bits);
    for (int i = 0; i < width * height; ++i) pixels.push_back(p[i] & 0xFFFFFFu);
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// True when no other window covers the rectangle's corners and centre.
bool box_shows(HWND box, const RECT& r) {
  const POINT points[] = {{r.left, r.top},
                          {r.right - 1, r.top},
                          {r.left, r.bottom - 1},
                          {r.right - 1, r.bottom - 1},
                          {(r.left + r.right) / 2, (r.top + r.bottom) / 2}};
  for (const POINT& point : points) {
    if (GetAncestor(WindowFromPoint(point), GA_ROOT) != box) return false;
  }
  return true;
}

// A box's icon handle belongs to the box's process (Wine refuses it to any
// other), so the icon is recognised by its picture: the icon control's
// pixels on the screen must equal one system icon drawn here on the same
// background. Retried for up to 5 s, since on a busy machine the box may
// not be painted yet, or another program's box may lie over it for a while.
int read_icon(HWND box) {
  HWND control = nullptr;
  EnumChildWindows(box, find_icon_proc, reinterpret_cast<LPARAM>(&control));
  if (control == nullptr) return 0;
  const struct {
    LPCSTR id;
    int style;
  } system_icons[] = {{IDI_HAND, MB_ICONHAND},
                      {IDI_QUESTION, MB_ICONQUESTION},
                      {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                      {IDI_ASTERISK, MB_ICONASTERISK}};
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (attempt > 0) Sleep(10);
    RECT rect;
    if (!IsWindow(control) || !GetWindowRect(control, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) {
      continue;
    }
    if (!box_shows(box, rect)) continue;
    const std::vector<DWORD> shown = screen_pixels(rect, nullptr);
    for (const auto& candidate : system_icons) {
      if (!shown.empty() && screen_pixels(rect, LoadIconA(nullptr, candidate.id)) == shown) return candidate.style;
    }
  }
  return 0;
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
  record.window = box;
  char text[2048];
  int n = GetWindowTextA(box, text, sizeof text);
  record.caption.assign(text, n > 0 ? n : 0);
  n = static_cast<int>(GetDlgItemTextA(box, 0xFFFF, text, sizeof text));
  record.text.assign(text, n > 0 ? n : 0);
  wchar_t wide[2048];
  n = static_cast<int>(GetDlgItemTextW(box, 0xFFFF, wide, sizeof wide / sizeof wide[0]));
  record.wide_text.assign(wide, n > 0 ? n : 0);
  EnumChildWindows(box, collect_button_proc, reinterpret_cast<LPARAM>(&record.buttons));
  std::sort(record.buttons.begin(), record.buttons.end());
  record.topmost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  record.owned = GetWindow(box, GW_OWNER) != nullptr;
  record.icon = read_icon(box);
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
