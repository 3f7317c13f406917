// The rule of a save, shown against real failures under Wine: each step made
// to fail (with strace's fault injection, where Wine gives no other way)
// leaves the old text whole under the name, no new file beside it, and a
// save reported as failed; links and folders the ANSI code page cannot name.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "item_dump.h"
#include "settings_document.h"
#include "settings_file_fixture.h"
#include "win_faults.h"
#include "win_files.h"
#include "win_text.h"

namespace {
// The whole file at a UTF-16 path; `missing` when it cannot be read.
std::string read_wide(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<missing>";
  char bytes[4096];
  DWORD n = 0;
  ReadFile(f, bytes, sizeof bytes, &n, nullptr);
  CloseHandle(f);
  return std::string(bytes, n);
}

void write_wide(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(f);
}

const std::string kOld = std::string(kExample) + std::string(1, '\0');
}  // namespace

TEST_F(FileTest, EachStepOfASaveThatFailsLeavesTheOldTextWholeAndNoNewFile) {
  const struct {
    const char* step;
    const char* options;
    const char* file;
  } kSteps[] = {
      {"the new file's creation", "-e trace=openat -e inject=openat:error=EIO", "qel~000"},
      {"its write", "-e trace=write,pwrite64 -e inject=write,pwrite64:error=ENOSPC", "qel~000"},
      {"its flush", "-e trace=fsync,fdatasync -e inject=fsync,fdatasync:error=EIO", "qel~000"},
      {"the rename over the old name",
       "-e trace=rename,renameat,renameat2 -e inject=rename,renameat,renameat2:error=EIO", "qel~000"},
  };
  // Each step's calls are those on the new file, qel~000: Wine's server
  // renames it by its own path.
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.step);
    write_file("qel.ini", kOld);
    SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str());
    ASSERT_NE(d, nullptr);
    d->AppendString(d->FindTag("Packs"), "C");
    {
      InjectedFaults faults(folder, step.options, {path(step.file)});
      if (!faults.attached()) GTEST_SKIP() << "strace cannot hold the Wine server and this process here";
      const int saved = d->Save();
      const std::string log = faults.Log();
      // Another Wine may make the call elsewhere, or in another form.
      if (log.find("(INJECTED)") == std::string::npos) GTEST_SKIP() << "strace saw no such call here: " << log;
      EXPECT_EQ(saved, 0);
      EXPECT_NE(d->lastError, 0u);
    }
    EXPECT_EQ(read_file("qel.ini"), kOld) << "the old text, whole";
    EXPECT_EQ(file_count(), 1) << "no new file is left beside it";
    EXPECT_EQ(d->Save(), 1) << "lastError " << d->lastError;
    EXPECT_EQ(read_file("qel.ini"), written_text(*d) + std::string(1, '\0'));
    delete d;
  }
}

TEST_F(FileTest, AFolderTheCodePageNamesOnlyByALookAlikeIsReachedByARelativeFolder) {
  // Under best fit "\u0141ukasz" becomes "Lukasz": another folder, here beside it.
  const std::wstring game = widen(folder) + L"\\\u0141ukasz";
  const std::string look_alike = folder + "\\Lukasz";
  for (const std::wstring& f : {game, game + L"\\Settings", widen(look_alike), widen(look_alike) + L"\\Settings"}) {
    ASSERT_TRUE(CreateDirectoryW(f.c_str(), nullptr)) << GetLastError();
  }
  write_wide(game + L"\\Settings\\qel.ini", "<Packs>\r\n");
  write_file("Lukasz\\Settings\\qel.ini", "<Packs> = \"Other\"");
  ASSERT_TRUE(SetCurrentDirectoryW(game.c_str()));
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", "Settings");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->directory, "Settings") << "a folder no ANSI path names is kept as given";
  d->AppendString(d->FindTag("Packs"), "C");
  EXPECT_EQ(d->Save(), 1) << "lastError " << d->lastError;
  delete d;
  EXPECT_EQ(read_wide(game + L"\\Settings\\qel.ini"), std::string("<Packs> = \"C\"\r\n") + std::string(1, '\0'));
  EXPECT_EQ(read_file("Lukasz\\Settings\\qel.ini"), "<Packs> = \"Other\"") << "the look-alike's file is untouched";
}

TEST_F(FileTest, ALinkToAFileInAFolderTheCodePageCannotNameIsSavedThroughIt) {
  const std::wstring staged = widen(folder) + L"\\\u0141ukasz";
  ASSERT_TRUE(CreateDirectoryW(staged.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(widen(path("Lukasz")).c_str(), nullptr));
  write_wide(staged + L"\\qel.ini", "<Packs>\r\n");
  write_file("Lukasz\\qel.ini", "<Packs> = \"Other\"");
  if (!make_symbolic_link(std::wstring(L"\u0141ukasz/qel.ini"), widen(path("qel.ini")))) {
    GTEST_SKIP() << "no symbolic link made here";
  }
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str());
  ASSERT_NE(d, nullptr);
  d->AppendString(d->FindTag("Packs"), "C");
  EXPECT_EQ(d->Save(), 1) << "lastError " << d->lastError;
  delete d;
  EXPECT_EQ(read_wide(staged + L"\\qel.ini"), std::string("<Packs> = \"C\"\r\n") + std::string(1, '\0'));
  EXPECT_EQ(read_file("Lukasz\\qel.ini"), "<Packs> = \"Other\"");
  EXPECT_EQ(GetFileAttributesW((staged + L"\\qel~000").c_str()), INVALID_FILE_ATTRIBUTES) << "no new file is left";
  write_wide(staged + L"\\qel.ini", "later");
  EXPECT_EQ(read_file("qel.ini"), "later") << "the link still names the file";
}

TEST_F(FileTest, ALinkToAFileWhosePathIsLongerThanMaxPathIsSavedThroughIt) {
  // Five folders of 60 characters: the target's path has more than 300.
  const std::wstring name(60, L'd');
  std::wstring staged = L"\\\\?\\" + widen(folder);
  std::wstring relative;
  std::vector<std::wstring> made;
  for (int i = 0; i < 5; ++i) {
    staged += L"\\" + name;
    relative += name + L"/";
    ASSERT_TRUE(CreateDirectoryW(staged.c_str(), nullptr)) << GetLastError();
    made.push_back(staged);
  }
  const std::wstring target = staged + L"\\qel.ini";
  ASSERT_GT(target.size(), static_cast<size_t>(MAX_PATH));
  write_wide(target, "<Packs>\r\n");
  const bool linked = make_symbolic_link(relative + L"qel.ini", widen(path("qel.ini"))) != 0;
  if (linked) {
    SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str());
    ASSERT_NE(d, nullptr);
    d->AppendString(d->FindTag("Packs"), "C");
    EXPECT_EQ(d->Save(), 1) << "lastError " << d->lastError;
    delete d;
    EXPECT_EQ(read_wide(target), std::string("<Packs> = \"C\"\r\n") + std::string(1, '\0'));
    write_wide(target, "later");
    EXPECT_EQ(read_file("qel.ini"), "later") << "the link still names the file";
    EXPECT_EQ(GetFileAttributesW((staged + L"\\qel~000").c_str()), INVALID_FILE_ATTRIBUTES) << "no new file is left";
  }
  // The folders are removed here: the fixture removes only short paths.
  DeleteFileW(target.c_str());
  for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
  if (!linked) GTEST_SKIP() << "no symbolic link made here";
}

TEST_F(FileTest, ALinkToNothingIsRefusedAndStaysALink) {
  write_file("gone.ini", "x");
  if (!make_symbolic_link("gone.ini", path("qel.ini"))) GTEST_SKIP() << "no symbolic link made here";
  ASSERT_TRUE(DeleteFileA(path("gone.ini").c_str()));
  SettingsDocument d;
  fill(d);
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 0);
  EXPECT_EQ(d.lastError, 1921u) << "ERROR_CANT_RESOLVE_FILENAME";
  write_file("gone.ini", "back");
  EXPECT_EQ(read_file("qel.ini"), "back") << "still a link to the same name";
  EXPECT_EQ(file_count(), 2);
}

// The save of a child of the case below, which names the folder in
// QV_CHILD_SAVE: one more pack in its qel.ini.
TEST(FileChild, SavesOnce) {
  char folder[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("QV_CHILD_SAVE", folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) GTEST_SKIP() << "runs only as the child of a save that is killed";
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder);
  ASSERT_NE(d, nullptr);
  d->AppendString(d->FindTag("Packs"), "C");
  d->Save();
  delete d;
}

TEST_F(FileTest, ASaveKilledBeforeItsLastStepLeavesTheOldTextWhole) {
  // The last calls of the saving process on the new file: its flush, and
  // its close right before the rename (which is one call of Wine's server,
  // done whole or not at all).
  const struct {
    const char* when;
    const char* options;
  } kKills[] = {
      {"at the flush", "-e trace=fsync,fdatasync -e inject=fsync,fdatasync:signal=KILL"},
      {"at the close before the rename", "-e trace=close -e inject=close:signal=KILL"},
  };
  char own[MAX_PATH];
  GetModuleFileNameA(nullptr, own, MAX_PATH);
  for (const auto& kill : kKills) {
    SCOPED_TRACE(kill.when);
    write_file("qel.ini", kOld);
    std::string line = std::string("\"") + own + "\" --gtest_filter=FileChild.SavesOnce";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    SetEnvironmentVariableA("QV_CHILD_SAVE", folder.c_str());
    ASSERT_TRUE(
        CreateProcessA(own, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &child))
        << GetLastError();
    SetEnvironmentVariableA("QV_CHILD_SAVE", nullptr);
    {
      InjectedFaults faults(folder, kill.options, {path("qel~000")}, "FileChild.SavesOnce");
      if (!faults.attached()) TerminateProcess(child.hProcess, 1);
      ResumeThread(child.hThread);
      EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
      const std::string log = faults.Log();
      if (!faults.attached()) GTEST_SKIP() << "strace cannot hold the child here";
      if (log.find("killed by SIGKILL") == std::string::npos) GTEST_SKIP() << "strace saw no such call here: " << log;
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(read_file("qel.ini"), kOld) << "the old text, whole";
    // What the crash leaves is the new file beside it, which a later save
    // passes by.
    EXPECT_EQ(folder_names(folder), (std::vector<std::string>{"qel.ini", "qel~000"}));
    DeleteFileA(path("qel~000").c_str());
  }
}
