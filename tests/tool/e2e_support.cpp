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

struct BoxStyle {
  std::vector<int> buttons;
  int icon;
};

namespace {
const BoxStyle kError = {{IDOK}, MB_ICONHAND};
const BoxStyle kInformation = {{IDOK}, MB_ICONASTERISK};
const BoxStyle kWarningRetryCancel = {{IDCANCEL, IDRETRY}, MB_ICONEXCLAMATION};

// Pack names go in as bytes, the texts around them in the run's language.
std::string with_pack(const char* english_before, const char* english_after, const char* russian_before,
                      const char* russian_after, const std::string& pack) {
  return russian_run() ? cp1251(russian_before) + pack + cp1251(russian_after) : english_before + pack + english_after;
}
}  // namespace

ExpectedBox installed(const std::string& pack) {
  return {"Quarn QV", with_pack("", " was successfully installed.", "Установка ", " успешно завершена.", pack),
          &kInformation};
}
ExpectedBox save_failed(const std::string& pack) {
  return {"Quarn QV",
          with_pack("Installation of ", " failed: the settings file could not be saved.", "Не удалось установить ",
                    ": не удалось сохранить файл настроек.", pack),
          &kError};
}
ExpectedBox has_quote(const std::string& pack) {
  return {"Quarn QV",
          with_pack("Installation of ", " failed: a pack name must not contain quotation marks.",
                    "Не удалось установить ", ": имя пакета не должно содержать кавычки.", pack),
          &kError};
}
ExpectedBox wrong_command_line() {
  return {"Quarn QV Internal Tool", expected_text("Wrong Command Line.", "Неверная командная строка."), &kError};
}
ExpectedBox close_game() {
  return {"Quarn QV Update",
          expected_text("Please close Quarn QV Game and retry.", "Пожалуйста, закройте игру и нажмите 'Повтор'"),
          &kWarningRetryCancel};
}
ExpectedBox close_launcher() {
  return {"Quarn QV Update",
          expected_text("Please close QV_Launcher.exe and retry.",
                        "Пожалуйста, закройте QV_Launcher.exe и нажмите 'Повтор'"),
          &kWarningRetryCancel};
}
ExpectedBox start_failed() {
  return {"Quarn QV Update",
          expected_text("Cann't launch QV3_Update.exe. Try to launch it manually.",
                        "Не удается запустить QV3_Update.exe. Попробуйте запустить его самостоятельно."),
          &kError};
}

ExpectedBox text_only(ExpectedBox box) {
  box.style = nullptr;
  return box;
}

namespace {
void expect_box(const BoxRecord& box, const ExpectedBox& expected) {
  EXPECT_EQ(expected.text, box.text);
  if (expected.style == nullptr) return;
  EXPECT_EQ(expected.caption, box.caption);
  EXPECT_EQ(expected.style->buttons, box.buttons);
  EXPECT_EQ(expected.style->icon, box.icon)
      << "icon of the box \"" << box.text << "\" (0x10 error, 0x30 warning, 0x40 information)";
  EXPECT_FALSE(box.owned) << "box \"" << box.text << "\" has an owner window";
  // Wine 8 ignores MB_TOPMOST; where the probe shows that, the style
  // cannot be seen from outside and is not checked.
  if (boxes_can_be_topmost()) {
    EXPECT_TRUE(box.topmost) << "box \"" << box.text << "\" is not topmost";
  }
}
}  // namespace

void expect_ended(const ChildRun& run) {
  ASSERT_TRUE(run.started) << "CreateProcessW failed with " << run.start_error;
  ASSERT_TRUE(run.ended) << "the tool did not end";
  EXPECT_EQ(1u, run.exit_code);
}

void expect_boxes(const ChildRun& run, const std::vector<ExpectedBox>& boxes) {
  expect_ended(run);
  ASSERT_EQ(boxes.size(), run.boxes.size());
  for (size_t i = 0; i < boxes.size(); ++i) {
    SCOPED_TRACE("box " + std::to_string(i + 1));
    expect_box(run.boxes[i], boxes[i]);
  }
}

std::string updater_log(const ChildRun& run, const GameFolder& game, const char* updater) {
  return wait_for_record(run, game.At(std::string(updater) + ".log"));
}

std::string handed_off(const GameFolder& game) {
  return "command line: \"" + game.At(kDataUpdater) + "\" /SILENT\r\ndirectory: " + game.path() + "\r\n";
}
