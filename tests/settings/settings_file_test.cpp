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

namespace {
const char* const kExample = kFiveLineFile;

std::string current_directory() {
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
// Closes the handle after the delay, as a virus scanner lets go of a file
// it looked at.
struct BriefHold {
  HANDLE file;
  DWORD milliseconds;
};
DWORD WINAPI let_go_later(void* context) {
  const BriefHold* hold = static_cast<const BriefHold*>(context);
  Sleep(hold->milliseconds);
  CloseHandle(hold->file);
  return 0;
}
}  // namespace

TEST_F(FileTest, AFileHeldForAMomentIsReplacedOnceItIsFree) {
  write_file("qel.ini", std::string(kExample) + std::string(1, '\0'));
  // Held without sharing when the save starts, let go of 300 ms later.
  BriefHold hold = {CreateFileA(path("qel.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), 300};
  ASSERT_NE(hold.file, INVALID_HANDLE_VALUE);
  HANDLE thread = CreateThread(nullptr, 0, let_go_later, &hold, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  SettingsDocument d;
  fill(d);
  EXPECT_EQ(d.SaveFile("qel.ini", folder.c_str()), 1) << "lastError " << d.lastError;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(read_file("qel.ini"), written_text(d) + std::string(1, '\0'));
  EXPECT_EQ(file_count(), 1);
}

TEST_F(FileTest, AFileHeldForAMomentIsLoadedOnceItIsFree) {
  write_file("qel.ini", std::string(kExample) + std::string(1, '\0'));
  BriefHold hold = {CreateFileA(path("qel.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), 300};
  ASSERT_NE(hold.file, INVALID_HANDLE_VALUE);
  HANDLE thread = CreateThread(nullptr, 0, let_go_later, &hold, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  uint32_t error = 0;
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str(), &error);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  ASSERT_NE(d, nullptr) << "error " << error;
  EXPECT_EQ(d->items.count, 10);
  delete d;
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

TEST_F(FileTest, ReadingStopsAtANulByteAndWhatFollowsItIsNeverOverwritten) {
  const std::string cut("<T> = 1\0<U> = 2\r\n", 17);
  // "<Packs>" CR LF as an editor saves it in UTF-16: reads as "\xFF\xFE<".
  const std::string utf16("\xFF\xFE<\0P\0a\0c\0k\0s\0>\0\r\0\n\0", 20);
  for (const std::string& old : {cut, utf16}) {
    write_file("qel.ini", old);
    SettingsDocument d;
    ASSERT_EQ(d.LoadFile("qel.ini", folder.c_str()), 1);
    EXPECT_EQ(written_text(d), old == cut ? "<T> = 1" : "\xFF\xFE") << "the text before the first NUL byte";
    EXPECT_EQ(d.Save(), 0);
    EXPECT_EQ(d.lastError, 13u) << "ERROR_INVALID_DATA";
    EXPECT_EQ(read_file("qel.ini"), old) << "left byte for byte";
    EXPECT_EQ(file_count(), 1);
  }
  // NUL bytes alone after the text are no loss.
  write_file("qel.ini", std::string("<T> = 1\0\0\0", 10));
  SettingsDocument d;
  ASSERT_EQ(d.LoadFile("qel.ini", folder.c_str()), 1);
  EXPECT_EQ(d.Save(), 1) << "lastError " << d.lastError;
  EXPECT_EQ(read_file("qel.ini"), std::string("<T> = 1\0", 8));
}

TEST_F(FileTest, AFileOf4GiBOrMoreIsAFailedLoadAndStaysAsItIs) {
  // 4 GiB + 7 bytes, sparse: its size's low word alone would read as 7.
  HANDLE f = CreateFileA(path("qel.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(f, "<T> = 1", 7, &written, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = 0x100000007LL;
  const BOOL grown = SetFilePointerEx(f, end, nullptr, FILE_BEGIN) && SetEndOfFile(f);
  CloseHandle(f);
  if (!grown) GTEST_SKIP() << "no file of 4 GiB here: error " << GetLastError();
  uint32_t error = 0;
  EXPECT_EQ(SettingsDocument::OpenFile("qel.ini", folder.c_str(), &error), nullptr);
  EXPECT_EQ(error, 223u) << "ERROR_FILE_TOO_LARGE";
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(path("qel.ini").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeHigh, 1u);
  EXPECT_EQ(data.nFileSizeLow, 7u);
  DeleteFileA(path("qel.ini").c_str());
}

TEST_F(FileTest, AHardLinkedFileIsRewrittenThroughTheLink) {
  // Mod managers deploy files as hard links: the other name must see every save.
  write_file("staged.ini", std::string(kExample) + std::string(1, '\0'));
  ASSERT_TRUE(CreateHardLinkA(path("qel.ini").c_str(), path("staged.ini").c_str(), nullptr)) << GetLastError();
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str());
  ASSERT_NE(d, nullptr);
  d->AppendString(d->FindTag("Packs"), "C");
  ASSERT_EQ(d->Save(), 1) << "lastError " << d->lastError;
  const std::string grown = written_text(*d) + std::string(1, '\0');
  EXPECT_EQ(read_file("staged.ini"), grown);
  EXPECT_EQ(read_file("qel.ini"), grown);
  // Shorter than before: cut to the new text, nothing of the old one after it.
  d->RemoveTagValues(d->FindTag("Packs"));
  ASSERT_EQ(d->Save(), 1) << "lastError " << d->lastError;
  const std::string shrunk = written_text(*d) + std::string(1, '\0');
  EXPECT_EQ(read_file("staged.ini"), shrunk);
  EXPECT_EQ(read_file("qel.ini"), shrunk);
  delete d;
  HANDLE f = CreateFileA(path("qel.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  BY_HANDLE_FILE_INFORMATION info = {};
  EXPECT_TRUE(GetFileInformationByHandle(f, &info));
  CloseHandle(f);
  EXPECT_EQ(info.nNumberOfLinks, 2u) << "still one file under two names";
  EXPECT_EQ(file_count(), 2);
}

TEST_F(FileTest, ASymbolicLinkStaysALinkToTheFileThatIsSaved) {
  ASSERT_TRUE(CreateDirectoryA(path("staged").c_str(), nullptr));
  write_file("staged\\qel.ini", "<Packs>\r\n");
  if (!make_symbolic_link("staged/qel.ini", path("qel.ini"))) GTEST_SKIP() << "no symbolic link made here";
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str());
  ASSERT_NE(d, nullptr);
  d->AppendString(d->FindTag("Packs"), "C");
  ASSERT_EQ(d->Save(), 1) << "lastError " << d->lastError;
  delete d;
  EXPECT_EQ(read_file("staged\\qel.ini"), std::string("<Packs> = \"C\"\r\n") + std::string(1, '\0'));
  write_file("staged\\qel.ini", "later");
  EXPECT_EQ(read_file("qel.ini"), "later") << "the link still names the file";
  EXPECT_EQ(folder_names(path("staged")), std::vector<std::string>{"qel.ini"});
  EXPECT_EQ(file_count(), 1) << "the link, and no temporary file beside it";
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
