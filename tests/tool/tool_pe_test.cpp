// The built QV_InternalTool.exe as Windows sees it: its own headers and
// resources, read from the file (not from the resource script).
#include <gtest/gtest.h>
#include <windows.h>
#undef FindResource  // the PE reader has a member of that name

#include <algorithm>
#include <string>
#include <vector>

#include "pe_reader.h"

namespace {
std::string tool_path() {
  std::string path = "Z:";
  for (const char* p = QV_TOOL_EXE; *p != '\0'; ++p) path += *p == '/' ? '\\' : *p;
  return path;
}

class ToolImage : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pe.Load(tool_path())) << tool_path() << ": " << pe.error; }
  qvpe::PeImage pe;
};
}  // namespace

TEST_F(ToolImage, IsA32BitGuiProgram) {
  EXPECT_EQ(0x14C, pe.machine) << "machine 0x" << std::hex << pe.machine;
  EXPECT_TRUE(pe.IsPe32()) << "optional header magic 0x" << std::hex << pe.optionalMagic;
  EXPECT_FALSE(pe.IsDll());
  EXPECT_EQ(2, pe.subsystem) << "subsystem " << pe.subsystem;
}

TEST_F(ToolImage, ImportsOnlySystemLibraries) {
  const std::vector<std::string> allowed = {"kernel32.dll", "user32.dll", "msvcrt.dll", "version.dll",
                                            "shell32.dll",  "advapi32.dll", "gdi32.dll"};
  const std::vector<std::string> dlls = pe.ImportedDlls();
  ASSERT_FALSE(dlls.empty());
  for (const std::string& dll : dlls) {
    const std::string name = qvpe::ascii_lower(dll);
    EXPECT_NE(allowed.end(), std::find(allowed.begin(), allowed.end(), name)) << "imports " << dll;
  }
  // The calls the tool makes come from where Windows keeps them.
  const std::vector<std::string> version = pe.ImportedFunctions("VERSION.dll");
  EXPECT_NE(version.end(), std::find(version.begin(), version.end(), "GetFileVersionInfoA"));
  const std::vector<std::string> shell = pe.ImportedFunctions("SHELL32.dll");
  EXPECT_NE(shell.end(), std::find(shell.begin(), shell.end(), "ShellExecuteExA"));
}

TEST_F(ToolImage, ManifestOneRequestsAsInvoker) {
  qvpe::PeResource manifest;
  ASSERT_TRUE(pe.FindResource(qvpe::kRtManifest, 1, -1, &manifest)) << "no RT_MANIFEST resource 1";
  const std::string text = pe.ManifestText(1);
  EXPECT_NE(std::string::npos, text.find("requestedExecutionLevel")) << text;
  EXPECT_NE(std::string::npos, text.find("level=\"asInvoker\"")) << text;
}

TEST_F(ToolImage, VersionResourceIsRussianUnicode400) {
  qvpe::PeResource resource;
  ASSERT_TRUE(pe.FindResource(qvpe::kRtVersion, 1, -1, &resource));
  EXPECT_EQ(0x0419u, resource.language) << std::hex << resource.language;
  qvpe::PeVersion version;
  ASSERT_TRUE(pe.ReadVersion(&version));
  EXPECT_EQ(0x00040000u, version.fileVersionMS);
  EXPECT_EQ(0u, version.fileVersionLS);
  EXPECT_EQ(0x00040000u, version.productVersionMS);
  EXPECT_EQ(0u, version.productVersionLS);
  EXPECT_EQ(std::vector<uint32_t>{0x04B00419u}, version.translations);
  ASSERT_FALSE(version.strings.empty());
  for (const qvpe::PeVersionString& s : version.strings) EXPECT_EQ("041904b0", qvpe::ascii_lower(s.table));
  EXPECT_EQ("4.0.0.0", version.String("FileVersion"));
  EXPECT_EQ("4.0.0.0", version.String("ProductVersion"));
}

TEST_F(ToolImage, HoldsTheRussianTextsAsWindows1251Bytes) {
  // The texts as UTF-8 here, converted to Windows-1251 by Windows itself.
  const char* texts[] = {
      "Неверная командная строка.",
      "Установка %s успешно завершена.",
      "Не удалось установить %s: не удалось сохранить файл настроек.",
      "Не удалось установить %s: имя пакета не должно содержать кавычки.",
      "Пожалуйста, закройте игру и нажмите 'Повтор'",
      "Пожалуйста, закройте QV_Launcher.exe и нажмите 'Повтор'",
      "Не удается запустить QV3_Update.exe. Попробуйте запустить его самостоятельно.",
  };
  const std::string bytes(pe.bytes.begin(), pe.bytes.end());
  for (const char* text : texts) {
    wchar_t wide[256];
    char narrow[256];
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, 256);
    ASSERT_GT(n, 0);
    BOOL lossy = FALSE;
    ASSERT_GT(WideCharToMultiByte(1251, 0, wide, -1, narrow, 256, nullptr, &lossy), 0);
    ASSERT_FALSE(lossy);
    EXPECT_NE(std::string::npos, bytes.find(std::string(narrow) + '\0')) << "not in the binary: " << text;
  }
}
