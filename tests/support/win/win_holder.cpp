#include "win_holder.h"

#include <cstdio>

#include "win_child.h"
#include "win_text.h"

Holder::Holder(const std::string& file, const char* mode) {
  static int counter = 0;
  char ready_name[64], release_name[64];
  ++counter;
  // The holder opens the events by name.
  snprintf(ready_name, sizeof ready_name, "qv-holder-ready-%lu-%d", GetCurrentProcessId(), counter);
  snprintf(release_name, sizeof release_name, "qv-holder-release-%lu-%d", GetCurrentProcessId(), counter);
  ready_ = CreateEventA(nullptr, TRUE, FALSE, ready_name);
  release_ = CreateEventA(nullptr, TRUE, FALSE, release_name);
  const std::string exe = wine_path(QV_HOLDER_EXE);
  const std::string command_line = "\"" + exe + "\" \"" + file + "\" " + mode + " " + ready_name + " " + release_name;
  if (!start_process(exe, command_line, "", &process_)) {
    start_error_ = GetLastError();
    return;
  }
  HANDLE waits[2] = {ready_, process_.hProcess};
  if (WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0) {
    holding_ = WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
  }
}

void Holder::Release() {
  if (process_.hProcess == nullptr) return;
  SetEvent(release_);
  WaitForSingleObject(process_.hProcess, 20000);
  holding_ = false;
}

Holder::~Holder() {
  Release();
  end_process(&process_);
  CloseHandle(ready_);
  CloseHandle(release_);
}
