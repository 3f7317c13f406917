// Reads the built QV_PLUGIN.dll (and the stand-in library's exports) as
// files: headers, exports, imports, manifest and version resource.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "pe_reader.h"

namespace {

qvpe::PeImage load(const char* path) {
  qvpe::PeImage pe;
  EXPECT_TRUE(pe.Load(path)) << path << ": " << pe.error;
  return pe;
}

TEST(PluginPe, IsAn386DllThatExportsNothing) {
  const qvpe::PeImage pe = load(QV_PLUGIN_DLL);
  EXPECT_EQ(pe.machine, 0x14C) << "machine";
  EXPECT_TRUE(pe.IsPe32()) << "optional header magic 0x" << std::hex << pe.optionalMagic;
  EXPECT_TRUE(pe.IsDll()) << "characteristics 0x" << std::hex << pe.characteristics;
  EXPECT_EQ(pe.ExportCount(), 0u);
  EXPECT_TRUE(pe.ExportNames().empty()) << "first export " << pe.ExportNames().front();
}

TEST(PluginPe, ImportsOnlySystemDlls) {
  const qvpe::PeImage pe = load(QV_PLUGIN_DLL);
  const std::set<std::string> system = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll"};
  const std::vector<std::string> dlls = pe.ImportedDlls();
  ASSERT_FALSE(dlls.empty());
  for (const std::string& dll : dlls) EXPECT_TRUE(system.count(qvpe::ascii_lower(dll)) == 1) << "imports " << dll;
  // The patching library is bound at run time, not by the loader.
  const std::vector<std::string> kernel = pe.ImportedFunctions("kernel32.dll");
  const std::set<std::string> names(kernel.begin(), kernel.end());
  EXPECT_EQ(names.count("LoadLibraryA"), 1u);
  EXPECT_EQ(names.count("GetProcAddress"), 1u);
}

TEST(PluginPe, ManifestIsResource2AskingAsInvoker) {
  const qvpe::PeImage pe = load(QV_PLUGIN_DLL);
  qvpe::PeResource manifest;
  ASSERT_TRUE(pe.FindResource(qvpe::kRtManifest, 2, -1, &manifest)) << "no RT_MANIFEST resource 2";
  EXPECT_FALSE(pe.FindResource(qvpe::kRtManifest, 1, -1, nullptr)) << "a manifest as resource 1 too";
  const std::string text = pe.ManifestText(2);
  EXPECT_NE(text.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << text;
}

TEST(PluginPe, VersionResource) {
  const qvpe::PeImage pe = load(QV_PLUGIN_DLL);
  EXPECT_TRUE(pe.FindResource(qvpe::kRtVersion, 1, 0x0419, nullptr)) << "no version resource in language 0x0419";
  qvpe::PeVersion version;
  ASSERT_TRUE(pe.ReadVersion(&version));
  EXPECT_EQ(version.FileVersion(), "1.5.0.0");
  EXPECT_EQ(version.ProductVersion(), "1.5.0.0");
  ASSERT_EQ(version.translations.size(), 1u);
  EXPECT_EQ(version.translations[0], 0x04B00419u) << std::hex << version.translations[0];
  ASSERT_FALSE(version.strings.empty());
  for (const qvpe::PeVersionString& s : version.strings) EXPECT_EQ(qvpe::ascii_lower(s.table), "041904b0") << s.key;
  const std::pair<const char*, const char*> expected[] = {
      {"FileDescription", "Quarn QV plugin Dynamic Link Library"},
      {"InternalName", "Quarn QV plugin"},
      {"ProductName", "Quarn QV plugin"},
      {"OriginalFilename", "QV_PLUGIN.DLL"},
      {"FileVersion", "1.5.0.0"},
      {"ProductVersion", "1.5.0.0"},
  };
  for (const auto& e : expected) {
    bool found = false;
    EXPECT_EQ(version.String(e.first, &found), e.second) << e.first;
    EXPECT_TRUE(found) << e.first;
  }
}

TEST(StandinPe, LibraryExportsTheDecoratedEntry) {
  const qvpe::PeImage lib = load(QV_SPLICER_DLL);
  const std::vector<std::string> names = lib.ExportNames();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"_GetSplicerX86@0", "standin_control"}));
  const qvpe::PeImage noentry = load(QV_SPLICER_NOENTRY_DLL);
  const std::vector<std::string> other = noentry.ExportNames();
  EXPECT_EQ(std::set<std::string>(other.begin(), other.end()),
            (std::set<std::string>{"GetSplicerX86", "standin_control"}));
}

}  // namespace
