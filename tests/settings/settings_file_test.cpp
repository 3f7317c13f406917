// Loading and saving settings files against real files under Wine: sharing
// modes, error codes, current-directory handling and whole-file replacement.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "guarded_alloc.h"
#include "item_dump.h"
#include "settings_document.h"
#include "worked_examples.h"

namespace {
const char* const kExample = kFiveLineFile;

std::string current_directory() {
  char buffer[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, buffer);
  return buffer;
}

// A fresh folder for one test, removed with its files afterwards.
class FileTest : public testing::Test {
 protected:
  std::string folder;
  std::string start;

  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[MAX_PATH];
    GetTempFileNameA(temp, "qvt", 0, name);
    DeleteFileA(name);
    ASSERT_TRUE(CreateDirectoryA(name, nullptr)) << "CreateDirectoryA failed with " << GetLastError();
    folder = name;
    start = current_directory();
  }
  void TearDown() override {
    SetCurrentDirectoryA(start.c_str());
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string path = folder + "\\" + data.cFileName;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      } while (FindNextFileA(find, &data));
      FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
  }

  std::string path(const char* name) const { return folder + "\\" + name; }

  void write_file(const char* name, const std::string& bytes) const {
    HANDLE f = CreateFileA(path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << "CreateFileA failed with " << GetLastError();
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
  }

  std::string read_file(const char* name) const {
    std::string bytes;
    HANDLE f = CreateFileA(path(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<missing>";
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(f, chunk, sizeof chunk, &n, nullptr) && n > 0) bytes.append(chunk, n);
    CloseHandle(f);
    return bytes;
  }

  int file_count() const {
    int count = 0;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return count;
  }
};

// A document as a program would build it.
void fill(SettingsDocument& d) {
  d.AppendString(d.AddTag("Packs"), "A");
  d.AppendString(d.AddTag("Language"), "Rus");
}
}  // namespace

TEST_F(FileTest, LoadsAFileFromAFolderAndGoesBack) {
  write_file("qel.ini", std::string(kExample) + std::string(1, '\0'));
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->items.count, 10);
  EXPECT_STREQ(d->fileName, "qel.ini");
  EXPECT_STREQ(d->directory, folder.c_str());
  EXPECT_EQ(current_directory(), start) << "the current directory is restored";
  EXPECT_EQ(d->MeasureText(), 84);
  delete d;
}

TEST_F(FileTest, KeepsOnlyTheLastComponentOfTheName) {
  ASSERT_TRUE(CreateDirectoryA(path("sub").c_str(), nullptr));
  const std::string inner = folder + "\\sub";
  HANDLE f = CreateFileA((inner + "\\x.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  SettingsDocument d;
  EXPECT_EQ(d.LoadFile("sub\\x.ini", folder.c_str()), 1);
  EXPECT_STREQ(d.fileName, "x.ini");
  DeleteFileA((inner + "\\x.ini").c_str());
  RemoveDirectoryA(inner.c_str());
}

TEST_F(FileTest, AMissingFileIsError2AndTheFolderIsStillRecorded) {
  SettingsDocument d;
  d.Parse("<Keep> = 1");
  EXPECT_EQ(d.LoadFile("qel.ini", folder.c_str()), 0);
  EXPECT_EQ(d.lastError, 2u);
  EXPECT_STREQ(d.directory, folder.c_str());
  EXPECT_EQ(d.items.count, 2) << "the items are unchanged";
  uint32_t error = 0;
  EXPECT_EQ(SettingsDocument::OpenFile("qel.ini", folder.c_str(), &error), nullptr);
  EXPECT_EQ(error, 2u);
  EXPECT_EQ(SettingsDocument::OpenFile("none\\qel.ini", folder.c_str(), &error), nullptr);
  EXPECT_EQ(error, 3u) << "a missing folder inside the name";
}

TEST_F(FileTest, AFileHeldOpenWithoutSharingCannotBeLoaded) {
  write_file("qel.ini", kExample);
  HANDLE holder = CreateFileA(path("qel.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  uint32_t error = 0;
  EXPECT_EQ(SettingsDocument::OpenFile("qel.ini", folder.c_str(), &error), nullptr);
  EXPECT_EQ(error, 32u) << "a sharing violation";
  CloseHandle(holder);
  // A reader that shares reading does not stand in the way.
  holder = CreateFileA(path("qel.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str(), &error);
  EXPECT_NE(d, nullptr);
  delete d;
  CloseHandle(holder);
}

TEST_F(FileTest, AFolderThatCannotBeMadeCurrentIsAFailure) {
  // A file of the same name in the current directory must not be read instead.
  SetCurrentDirectoryA(folder.c_str());
  write_file("qel.ini", kExample);
  SettingsDocument d;
  EXPECT_EQ(d.LoadFile("qel.ini", (folder + "\\missing").c_str()), 0);
  EXPECT_EQ(d.lastError, 2u);
  EXPECT_EQ(d.items.count, 0);
  EXPECT_EQ(current_directory(), folder);
  fill(d);
  EXPECT_EQ(d.SaveFile("qel.ini", (folder + "\\missing").c_str()), 0);
  EXPECT_EQ(d.lastError, 2u);
  EXPECT_EQ(read_file("qel.ini"), kExample) << "no file was written relative to another folder";
  EXPECT_EQ(file_count(), 1);
}

TEST_F(FileTest, AShortReadEndsTheTextAfterTheBytesRead) {
  // Files under /sys report 4096 bytes but hold only a few: the read gives
  // fewer bytes than the size.
  const char* kShort = "Z:\\sys\\devices\\system\\cpu\\online";
  HANDLE f = CreateFileA(kShort, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no /sys here";
  const DWORD size = GetFileSize(f, nullptr);
  char bytes[8192] = {};
  DWORD n = 0;
  ReadFile(f, bytes, sizeof bytes - 1, &n, nullptr);
  CloseHandle(f);
  if (size <= n) GTEST_SKIP() << "the size " << size << " is not larger than the content " << n;
  // Leave stale bytes in the heap where the file block will go.
  char* stale = static_cast<char*>(guarded_alloc(size + 1));
  std::memset(stale, '7', size + 1);
  guarded_free(stale);
  SettingsDocument expected;
  expected.Parse(bytes);
  SettingsDocument d;
  ASSERT_EQ(d.LoadFile(kShort, nullptr), 1);
  EXPECT_EQ(dump_items(d), dump_items(expected));
  EXPECT_EQ(written_text(d), written_text(expected));
}

TEST_F(FileTest, SavesTheTextAndOneNulByte) {
  SettingsDocument d;
  fill(d);
  ASSERT_EQ(d.SaveFile("qel.ini", folder.c_str()), 1) << "lastError " << d.lastError;
  EXPECT_EQ(read_file("qel.ini"), std::string("<Packs> = \"A\"\r\n<Language> = \"Rus\"") + std::string(1, '\0'));
  EXPECT_STREQ(d.fileName, "qel.ini");
  EXPECT_STREQ(d.directory, folder.c_str());
  EXPECT_EQ(current_directory(), start);
  EXPECT_EQ(file_count(), 1) << "no temporary file is left";
  SettingsDocument empty;
  ASSERT_EQ(empty.SaveFile("empty.ini", folder.c_str()), 1);
  EXPECT_EQ(read_file("empty.ini"), std::string(1, '\0')) << "no items: one NUL byte";
}

TEST_F(FileTest, TheNewFileNeverTakesTheNameOfAFileThatIsThere) {
  write_file("qel~000", "first");
  write_file("qel~001", "second");
  SettingsDocument d;
  fill(d);
  ASSERT_EQ(d.SaveFile("qel.ini", folder.c_str()), 1) << "lastError " << d.lastError;
  EXPECT_EQ(read_file("qel~000"), "first");
  EXPECT_EQ(read_file("qel~001"), "second");
  EXPECT_EQ(file_count(), 3);
  // A name of one character leaves room for '~' only.
  ASSERT_EQ(d.SaveFile("q", folder.c_str()), 1) << "lastError " << d.lastError;
  EXPECT_EQ(read_file("q"), read_file("qel.ini"));
  EXPECT_EQ(file_count(), 4);
}

TEST_F(FileTest, ReplacesAnExistingFileAsAWhole) {
  write_file("qel.ini", std::string(kExample) + std::string(1, '\0'));
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Save(), 1);
  EXPECT_EQ(read_file("qel.ini"), std::string(kExample) + std::string(1, '\0')) << "unchanged text comes back";
  d->AppendString(d->FindTag("Packs"), "C");
  EXPECT_EQ(d->Save(), 1);
  const std::string saved = read_file("qel.ini");
  EXPECT_EQ(saved.size(), 90u);
  EXPECT_NE(saved.find("<Packs> = \"A\", \"B\", \"C\"\r\n"), std::string::npos) << saved;
  EXPECT_EQ(file_count(), 1);
  delete d;
}

TEST_F(FileTest, SaveWritesTheDefaultsUnderAnotherName) {
  write_file("#default#qel.ini", std::string(kExample) + std::string(1, '\0'));
  SettingsDocument* d = SettingsDocument::OpenFile("#default#qel.ini", folder.c_str());
  ASSERT_NE(d, nullptr);
  copy_path(d->fileName, "qel.ini");
  EXPECT_EQ(d->Save(), 1);
  EXPECT_EQ(read_file("qel.ini"), read_file("#default#qel.ini"));
  delete d;
}

TEST_F(FileTest, AFileHeldOpenByAnotherProgramIsNotReplaced) {
  const std::string old = std::string(kExample) + std::string(1, '\0');
  write_file("qel.ini", old);
  HANDLE holder = CreateFileA(path("qel.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  SettingsDocument d;
  fill(d);
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 0);
  EXPECT_EQ(d.lastError, 32u);
  CloseHandle(holder);
  EXPECT_EQ(read_file("qel.ini"), old) << "the old file stays byte for byte";
  EXPECT_EQ(file_count(), 1) << "no partial new file is left";
}

TEST_F(FileTest, AReadOnlyFileIsNotReplaced) {
  const std::string old = "<Packs> = \"Old\"";
  write_file("qel.ini", old);
  ASSERT_TRUE(SetFileAttributesA(path("qel.ini").c_str(), FILE_ATTRIBUTE_READONLY));
  SettingsDocument d;
  fill(d);
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 0);
  EXPECT_EQ(d.lastError, 5u);
  SetFileAttributesA(path("qel.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(read_file("qel.ini"), old);
  EXPECT_EQ(file_count(), 1);
}

TEST_F(FileTest, AHiddenOrSystemFileIsNotReplaced) {
  // As a create of a plain new file over it would: access denied.
  const std::string old = "<Packs> = \"Old\"";
  for (DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    write_file("qel.ini", old);
    ASSERT_TRUE(SetFileAttributesA(path("qel.ini").c_str(), attribute));
    SettingsDocument d;
    fill(d);
    EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 0) << "attribute " << attribute;
    EXPECT_EQ(d.lastError, 5u) << "attribute " << attribute;
    EXPECT_NE(GetFileAttributesA(path("qel.ini").c_str()) & attribute, 0u) << "the attribute is kept";
    SetFileAttributesA(path("qel.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(read_file("qel.ini"), old);
    EXPECT_EQ(file_count(), 1);
  }
}

TEST_F(FileTest, ReadingStopsAtANulByteInTheFile) {
  write_file("qel.ini", std::string("<T> = 1\0<U> = 2\r\n", 17));
  SettingsDocument d;
  ASSERT_EQ(d.LoadFile("qel.ini", folder.c_str()), 1);
  EXPECT_EQ(d.FindTag("U"), -1);
  EXPECT_EQ(written_text(d), "<T> = 1");
}

TEST_F(FileTest, ANewFileThatCannotBeMadeLeavesNothing) {
  SettingsDocument d;
  fill(d);
  EXPECT_EQ(d.SaveFile("none\\qel.ini", folder.c_str()), 0);
  EXPECT_NE(d.lastError, 0u);
  EXPECT_STREQ(d.fileName, "") << "the name is kept as it was";
  EXPECT_EQ(file_count(), 0);
  // A folder where the file should be.
  ASSERT_TRUE(CreateDirectoryA(path("qel.ini").c_str(), nullptr));
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 0);
  EXPECT_EQ(d.lastError, 5u);
  EXPECT_EQ(file_count(), 0);
  RemoveDirectoryA(path("qel.ini").c_str());
}

TEST_F(FileTest, SaveOfADocumentNeverLoadedCreatesNoFile) {
  SetCurrentDirectoryA(folder.c_str());
  SettingsDocument d;
  fill(d);
  EXPECT_EQ(d.Save(), 0);
  EXPECT_NE(d.lastError, 0u);
  EXPECT_EQ(file_count(), 0);
}

TEST_F(FileTest, WorkedExamplesAreSavedWithOneNulByteMore) {
  for (int i = 0; i < kWrittenExampleCount; ++i) {
    const WrittenExample& e = kWrittenExamples[i];
    SettingsDocument d;
    e.build(d);
    ASSERT_EQ(d.SaveFile("example.ini", folder.c_str()), 1) << e.name << ": lastError " << d.lastError;
    const std::string saved = read_file("example.ini");
    EXPECT_EQ(saved.size(), static_cast<size_t>(e.size) + 1) << e.name;
    EXPECT_EQ(saved, std::string(e.text) + std::string(1, '\0')) << e.name;
  }
  EXPECT_EQ(file_count(), 1);
}

TEST_F(FileTest, AFileHeldByAnotherProcessIsNeitherReadNorReplaced) {
  const std::string old = std::string(kExample) + std::string(1, '\0');
  write_file("qel.ini", old);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  char ready_name[64], release_name[64];
  // The holder opens the events by name.
  std::snprintf(ready_name, sizeof ready_name, "qv-settings-ready-%lu", GetCurrentProcessId());
  std::snprintf(release_name, sizeof release_name, "qv-settings-release-%lu", GetCurrentProcessId());
  CloseHandle(ready);
  CloseHandle(release);
  ready = CreateEventA(nullptr, TRUE, FALSE, ready_name);
  release = CreateEventA(nullptr, TRUE, FALSE, release_name);
  std::string command = std::string("\"") + QV_HOLDER_EXE + "\" \"" + path("qel.ini") + "\" none " + ready_name + " " + release_name;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      << "CreateProcessA failed with " << GetLastError();
  ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0) << "the holder did not open the file";
  uint32_t error = 0;
  EXPECT_EQ(SettingsDocument::OpenFile("qel.ini", folder.c_str(), &error), nullptr);
  EXPECT_EQ(error, 32u);
  SettingsDocument d;
  fill(d);
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 0);
  EXPECT_EQ(d.lastError, 32u);
  SetEvent(release);
  WaitForSingleObject(pi.hProcess, 20000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(ready);
  CloseHandle(release);
  EXPECT_EQ(read_file("qel.ini"), old);
  EXPECT_EQ(file_count(), 1);
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 1) << "once it lets go, the save goes through";
}
