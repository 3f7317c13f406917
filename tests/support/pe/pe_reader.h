// A small reader of PE files (32-bit and 64-bit images) for tests: headers,
// imported DLL names, exports, resources, the manifest and the version
// resource. It reads the file's bytes with the C library only, so it works in
// the native build and under Wine alike. Not for deliverable code.
//
//   PeImage pe;
//   if (!pe.Load("QV_PLUGIN.dll")) FAIL() << pe.error;
//   pe.machine == 0x14C; pe.IsDll(); pe.ImportedDlls(); pe.ExportNames();
//   pe.FindResource(24, 2, -1, &res);   // RT_MANIFEST id 2, any language
//   pe.ManifestText(2);  pe.ReadVersion(&ver);  ver.String("ProductName")
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qvpe {

// Resource types used by the deliverables.
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kRtManifest = 24;

// One resource leaf.
struct PeResource {
  uint32_t type = 0;
  uint32_t id = 0;    // numeric id (named entries are skipped)
  uint32_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

// One string of a version resource's StringFileInfo.
struct PeVersionString {
  std::string table;  // the string table's key as written, e.g. "041904B0" or "041904b0"
  std::string key;
  std::string value;  // UTF-16 converted to UTF-8
};

// The version resource.
struct PeVersion {
  uint32_t fileVersionMS = 0, fileVersionLS = 0;
  uint32_t productVersionMS = 0, productVersionLS = 0;
  uint32_t fileFlags = 0, fileOS = 0, fileType = 0;
  std::vector<uint32_t> translations;  // VarFileInfo\Translation: language | code page << 16
  std::vector<PeVersionString> strings;
  // The value of key in any string table, or "" with found false.
  std::string String(const std::string& key, bool* found = nullptr) const;
  // "a.b.c.d" of the fixed file and product versions.
  std::string FileVersion() const;
  std::string ProductVersion() const;
};

class PeImage {
 public:
  // Reads and checks the headers; false with `error` set when the file is
  // missing or not a PE image.
  bool Load(const std::string& path);

  std::string error;
  std::vector<uint8_t> bytes;  // the whole file

  uint16_t machine = 0;          // 0x14C i386, 0x8664 x86-64
  uint16_t characteristics = 0;  // IMAGE_FILE_* (0x2000 DLL, 0x0002 executable, 0x0100 32-bit)
  uint16_t optionalMagic = 0;    // 0x10B PE32, 0x20B PE32+
  uint16_t subsystem = 0;        // 2 GUI, 3 console
  uint16_t dllCharacteristics = 0;
  uint64_t imageBase = 0;
  uint32_t entryPointRva = 0;
  uint32_t timeDateStamp = 0;
  uint32_t sectionCount = 0;

  bool IsDll() const { return (characteristics & 0x2000) != 0; }
  bool IsPe32() const { return optionalMagic == 0x10B; }

  // Data directory i (0 export, 1 import, 2 resource, ...): rva and size.
  bool Directory(int i, uint32_t* rva, uint32_t* size) const;
  // File offset of an RVA, or -1 when no section holds it.
  int64_t Offset(uint32_t rva) const;

  // Names of the DLLs in the import directory, as written in the file.
  std::vector<std::string> ImportedDlls() const;
  // Functions imported from one DLL (case-insensitive DLL name); ordinals as "#n".
  std::vector<std::string> ImportedFunctions(const std::string& dll) const;
  // True when the file has an export directory at all.
  bool HasExportDirectory() const;
  // Number of exported functions (0 without an export directory).
  uint32_t ExportCount() const;
  // Exported names.
  std::vector<std::string> ExportNames() const;

  // Every resource with a numeric type and id.
  std::vector<PeResource> Resources() const;
  // The resource of that type and id; language -1 takes any. False when absent.
  bool FindResource(uint32_t type, uint32_t id, int32_t language, PeResource* out) const;
  // The RT_MANIFEST resource's text (any language), "" when absent.
  std::string ManifestText(uint32_t id) const;
  // Parses the first RT_VERSION resource; false when absent or malformed.
  bool ReadVersion(PeVersion* out) const;

 private:
  struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
  };
  std::vector<Section> sections_;
  std::vector<std::pair<uint32_t, uint32_t>> directories_;
  uint32_t U32(int64_t off) const;
  uint16_t U16(int64_t off) const;
  std::string CString(int64_t off) const;
};

// Lower-cased copy (ASCII), handy for comparing DLL names.
std::string ascii_lower(const std::string& text);

}  // namespace qvpe
