// The folder a settings file test works in, shared by the file tests.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings_document.h"
#include "win_files.h"
#include "worked_examples.h"

inline const char* const kExample = kFiveLineFile;

inline std::string current_directory() {
  char buffer[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, buffer);
  return buffer;
}

// A fresh folder for one test, removed with its files afterwards (once
// TearDown has left it).
class FileTest : public testing::Test {
 protected:
  TempFolder temp{"qvt"};
  const std::string& folder = temp.path();
  std::string start;

  void SetUp() override {
    ASSERT_FALSE(folder.empty()) << "CreateDirectoryW failed with " << GetLastError();
    start = current_directory();
  }
  void TearDown() override { SetCurrentDirectoryA(start.c_str()); }

  std::string path(const char* name) const { return folder + "\\" + name; }

  void write_file(const char* name, const std::string& bytes) const {
    ASSERT_EQ(::write_file(path(name), bytes), 1) << "CreateFileW or WriteFile failed with " << GetLastError();
  }
  std::string read_file(const char* name) const { return ::read_file(path(name)); }

  int file_count() const {
    int count = 0;
    for (const std::string& name : folder_names(folder)) count += name.back() != '\\' ? 1 : 0;
    return count;
  }
};

// A document as a program would build it.
inline void fill(SettingsDocument& d) {
  d.AppendString(d.AddTag("Packs"), "A");
  d.AppendString(d.AddTag("Language"), "Rus");
}
