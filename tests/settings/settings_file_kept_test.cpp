// What a save keeps of the file it replaces, against real files under Wine:
// links, permissions, and text after a NUL byte that the reader cannot keep.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "item_dump.h"
#include "settings_document.h"
#include "settings_file_fixture.h"
#include "win_files.h"

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

TEST_F(FileTest, AReplacedFileKeepsItsOwnPermissions) {
  // A protected DACL of the player's, with an entry the folder does not give:
  // the new file that takes the name carries the same one.
  write_file("qel.ini", std::string(kExample) + std::string(1, '\0'));
  const char* sddl = "D:P(A;;FA;;;WD)(D;;WD;;;AN)";
  PSECURITY_DESCRIPTOR wanted = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &wanted, nullptr))
      << GetLastError();
  ASSERT_TRUE(SetFileSecurityA(path("qel.ini").c_str(), DACL_SECURITY_INFORMATION, wanted)) << GetLastError();
  LocalFree(wanted);
  const auto dacl_of = [&](const char* name) {
    char buffer[1024] = {};
    DWORD need = 0;
    std::string text = "(GetFileSecurityA failed)";
    char* converted = nullptr;
    if (GetFileSecurityA(path(name).c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &need) &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(buffer, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &converted, nullptr)) {
      text = converted;
      LocalFree(converted);
    }
    return text;
  };
  const std::string before = dacl_of("qel.ini");
  // Wine keeps only what Unix permission bits can say: there the save must
  // still succeed, and Windows proves the rest.
  const bool kept = before == sddl;
  SettingsDocument* d = SettingsDocument::OpenFile("qel.ini", folder.c_str());
  ASSERT_NE(d, nullptr);
  d->AppendString(d->FindTag("Packs"), "C");
  ASSERT_EQ(d->Save(), 1) << "lastError " << d->lastError;
  EXPECT_EQ(read_file("qel.ini"), written_text(*d) + std::string(1, '\0'));
  delete d;
  EXPECT_EQ(file_count(), 1);
  if (!kept) GTEST_SKIP() << "this file system keeps no DACL of its own (it gave " << before << ")";
  EXPECT_EQ(dacl_of("qel.ini"), before);
}
