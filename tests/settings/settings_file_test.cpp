// Loading and saving settings files against real files under Wine: sharing
// modes, error codes, current-directory handling and whole-file replacement.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "guarded_alloc.h"
#include "item_dump.h"
#include "settings_document.h"
#include "win_files.h"
#include "win_holder.h"
#include "worked_examples.h"

#include "settings_file_fixture.h"

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
  EXPECT_EQ(d->lastError, 0u) << "a save that succeeds records no error";
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

namespace {
// Holds a file without sharing and lets go of it 300 ms later, as a virus
// scanner lets go of a file it looked at.
struct BriefHold {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE thread = nullptr;

  static DWORD WINAPI LetGo(void* context) {
    Sleep(300);
    CloseHandle(static_cast<BriefHold*>(context)->file);
    return 0;
  }
  // Returns 0 when the file cannot be held.
  int Start(const std::string& path) {
    file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) thread = CreateThread(nullptr, 0, LetGo, this, 0, nullptr);
    return thread != nullptr ? 1 : 0;
  }
  void Join() {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
};
}  // namespace

TEST_F(FileTest, AFileHeldForAMomentIsLoadedAndReplacedOnceItIsFree) {
  write_file("qel.ini", std::string(kExample) + std::string(1, '\0'));
  BriefHold hold;
  ASSERT_EQ(hold.Start(path("qel.ini")), 1) << "CreateFileA or CreateThread failed with " << GetLastError();
  uint32_t error = 0;
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str(), &error);
  hold.Join();
  ASSERT_NE(d, nullptr) << "error " << error;
  EXPECT_EQ(d->items.count, 10);
  delete d;

  BriefHold again;
  ASSERT_EQ(again.Start(path("qel.ini")), 1) << "CreateFileA or CreateThread failed with " << GetLastError();
  SettingsDocument saved;
  fill(saved);
  EXPECT_EQ(saved.SaveFile("qel.ini", folder.c_str()), 1) << "lastError " << saved.lastError;
  again.Join();
  EXPECT_EQ(read_file("qel.ini"), written_text(saved) + std::string(1, '\0'));
  EXPECT_EQ(file_count(), 1);
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
    SCOPED_TRACE(attribute == FILE_ATTRIBUTE_HIDDEN ? "hidden" : "system");
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
    SCOPED_TRACE(e.name);
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
  Holder holder(path("qel.ini"), "none");
  ASSERT_TRUE(holder.started()) << "CreateProcessW failed with " << holder.start_error();
  ASSERT_TRUE(holder.holding()) << "the holder did not open the file";
  uint32_t error = 0;
  EXPECT_EQ(SettingsDocument::OpenFile("qel.ini", folder.c_str(), &error), nullptr);
  EXPECT_EQ(error, 32u);
  SettingsDocument d;
  fill(d);
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 0);
  EXPECT_EQ(d.lastError, 32u);
  holder.Release();
  EXPECT_EQ(read_file("qel.ini"), old);
  EXPECT_EQ(file_count(), 1);
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 1) << "once it lets go, the save goes through";
}
