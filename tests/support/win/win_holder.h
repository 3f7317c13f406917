// A file held open by another process, as a running game holds its files:
// the stand-in holder program opens it and keeps it open until Release.
#pragma once
#include <windows.h>

#include <string>

class Holder {
 public:
  // mode "none": read and write access, no sharing (others get error 32);
  // "read": read access, others may only read (a replace fails).
  Holder(const std::string& file, const char* mode);
  ~Holder();
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  bool started() const { return process_.hProcess != nullptr; }
  DWORD start_error() const { return start_error_; }  // GetLastError of a start that failed
  bool holding() const { return holding_; }
  // Lets go of the file and waits for the holder to end.
  void Release();

 private:
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  PROCESS_INFORMATION process_ = {};
  DWORD start_error_ = 0;
  bool holding_ = false;
};
