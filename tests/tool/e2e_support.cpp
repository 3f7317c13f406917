#include "e2e_support.h"

#include <cstdlib>

std::string tool_exe_path() {
  const char* chosen = getenv("QV_TOOL_UNDER_TEST");
  return wine_path(chosen != nullptr && *chosen != '\0' ? chosen : QV_TOOL_EXE);
}
std::string standin_path(const char* file_name) { return wine_path(QV_STANDIN_DIR) + "\\" + file_name; }

bool russian_run() {
  const char* expect = getenv("QV_EXPECT_UI");
  return expect != nullptr && std::string(expect) == "ru";
}

std::string expected_text(const char* english, const char* russian_utf8) {
  return russian_run() ? cp1251(russian_utf8) : std::string(english);
}

GameFolder::GameFolder(const char* product) : TempFolder("qv-game") {
  if (product != nullptr) AddProduct(product);
}

void GameFolder::Write(const std::string& relative, const std::string& bytes) const {
  const std::string full = At(relative);
  make_folders(full.substr(0, full.rfind('\\')));
  write_file(full, bytes);
}

bool GameFolder::Exists(const std::string& relative) const {
  return GetFileAttributesA(At(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void GameFolder::CopyStandIn(const char* standin, const std::string& relative) const {
  const std::string full = At(relative);
  make_folders(full.substr(0, full.rfind('\\')));
  copy_file(standin_path(standin), full);
}

void GameFolder::AddProduct(const char* version) const {
  std::string dll = std::string("standin_tool_product_") + version + ".dll";
  for (char& c : dll) {
    if (c == '.' && &c < &dll[dll.size() - 4]) c = '_';
  }
  CopyStandIn(dll.c_str(), "_QV3_.dll");
  CopyStandIn("standin_tool_launcher.exe", "QV_Launcher.exe");
  make_folders(At("_QV3_Data\\Settings"));
}

ChildRun run_tool(const std::string& folder, const std::string& arguments, BoxAnswerFn answer, void* context,
                  bool whole) {
  const std::string tool = tool_exe_path();
  return run_watched(tool, whole ? arguments : "\"" + tool + "\"" + arguments, folder, answer, context, 60000);
}

std::string wait_for_record(const ChildRun& run, const std::string& log) {
  // The tool starts its children before it ends; each writes its record
  // before it ends itself. Once none is left, the record is there or never
  // comes.
  for (int i = 0; i < 1000; ++i) {
    if (child_processes(run.process_id).empty()) break;
    Sleep(10);
  }
  return read_file(log, "");
}

namespace {
DWORD WINAPI show_probe_box(void*) {
  MessageBoxA(nullptr, "probe", "qv-topmost-probe", MB_TOPMOST | MB_OK);
  return 0;
}
}  // namespace

bool boxes_can_be_topmost() {
  static int known = -1;
  if (known >= 0) return known == 1;
  known = 0;
  HANDLE thread = CreateThread(nullptr, 0, show_probe_box, nullptr, 0, nullptr);
  for (int i = 0; i < 500; ++i) {
    HWND box = box_find(GetCurrentProcessId());
    if (box != nullptr) {
      Sleep(100);
      known = box_read(box).topmost ? 1 : 0;
      box_press(box, IDOK);
      break;
    }
    Sleep(10);
  }
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  return known == 1;
}

Launcher::Launcher(const std::string& folder, const std::string& title, const char* program, int busy_close_ms) {
  static int counter = 0;
  record_ = folder + "\\launcher-" + std::to_string(++counter) + ".txt";
  const std::string exe = program != nullptr ? std::string(program) : standin_path("standin_tool_launcher.exe");
  const std::string busy = busy_close_ms > 0 ? "/busy-close:" + std::to_string(busy_close_ms) + " " : "";
  if (!start_process(exe, "\"" + exe + "\" " + busy + "\"" + record_ + "\" " + title, folder, &process_)) return;
  // The launcher writes "ready" once its window exists.
  for (int i = 0; i < 1000 && !ready_; ++i) {
    ready_ = read_file(record_, "").size() >= 5;
    if (!ready_) Sleep(10);
  }
}

bool Launcher::GotClose() {
  if (process_.hProcess == nullptr) return false;
  WaitForSingleObject(process_.hProcess, 2000);
  return read_file(record_, "").find("WM_CLOSE") != std::string::npos;
}
