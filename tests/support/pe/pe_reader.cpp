#include "pe_reader.h"

#include <cstdio>
#include <cstring>

namespace qvpe {

std::string ascii_lower(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

uint32_t PeImage::U32(int64_t off) const {
  if (off < 0 || off + 4 > static_cast<int64_t>(bytes.size())) return 0;
  uint32_t v;
  std::memcpy(&v, &bytes[static_cast<size_t>(off)], 4);
  return v;
}

uint16_t PeImage::U16(int64_t off) const {
  if (off < 0 || off + 2 > static_cast<int64_t>(bytes.size())) return 0;
  uint16_t v;
  std::memcpy(&v, &bytes[static_cast<size_t>(off)], 2);
  return v;
}

std::string PeImage::CString(int64_t off) const {
  std::string out;
  if (off < 0) return out;
  for (size_t i = static_cast<size_t>(off); i < bytes.size() && bytes[i] != 0; ++i) out.push_back(static_cast<char>(bytes[i]));
  return out;
}

bool PeImage::Load(const std::string& path) {
  *this = PeImage();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = "cannot open " + path;
    return false;
  }
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') {
    error = "no MZ header";
    return false;
  }
  const uint32_t pe = U32(0x3C);
  if (U32(pe) != 0x00004550u) {
    error = "no PE signature";
    return false;
  }
  const int64_t coff = pe + 4;
  machine = U16(coff);
  sectionCount = U16(coff + 2);
  timeDateStamp = U32(coff + 4);
  const uint16_t optionalSize = U16(coff + 16);
  characteristics = U16(coff + 18);
  const int64_t opt = coff + 20;
  optionalMagic = U16(opt);
  entryPointRva = U32(opt + 16);
  uint32_t dirCount;
  int64_t dirs;
  if (optionalMagic == 0x10B) {
    imageBase = U32(opt + 28);
    subsystem = U16(opt + 68);
    dllCharacteristics = U16(opt + 70);
    dirCount = U32(opt + 92);
    dirs = opt + 96;
  } else if (optionalMagic == 0x20B) {
    imageBase = static_cast<uint64_t>(U32(opt + 24)) | (static_cast<uint64_t>(U32(opt + 28)) << 32);
    subsystem = U16(opt + 68);
    dllCharacteristics = U16(opt + 70);
    dirCount = U32(opt + 108);
    dirs = opt + 112;
  } else {
    error = "unknown optional header magic";
    return false;
  }
  if (dirCount > 16) dirCount = 16;
  for (uint32_t i = 0; i < dirCount; ++i) directories_.emplace_back(U32(dirs + 8 * i), U32(dirs + 8 * i + 4));
  const int64_t sect = opt + optionalSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const int64_t s = sect + 40 * i;
    sections_.push_back({U32(s + 12), U32(s + 8), U32(s + 20), U32(s + 16)});
  }
  return true;
}

bool PeImage::Directory(int i, uint32_t* rva, uint32_t* size) const {
  if (i < 0 || i >= static_cast<int>(directories_.size())) return false;
  *rva = directories_[static_cast<size_t>(i)].first;
  *size = directories_[static_cast<size_t>(i)].second;
  return *rva != 0;
}

int64_t PeImage::Offset(uint32_t rva) const {
  for (const Section& s : sections_) {
    const uint32_t extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva < s.virtualAddress + extent) {
      const uint32_t delta = rva - s.virtualAddress;
      if (delta >= s.rawSize) return -1;
      return static_cast<int64_t>(s.rawOffset) + delta;
    }
  }
  return -1;
}

std::vector<std::string> PeImage::ImportedDlls() const {
  std::vector<std::string> out;
  uint32_t rva, size;
  if (!Directory(1, &rva, &size)) return out;
  for (int64_t d = Offset(rva); d >= 0; d += 20) {
    if (U32(d + 12) == 0 && U32(d + 16) == 0) break;
    out.push_back(CString(Offset(U32(d + 12))));
  }
  return out;
}

std::vector<std::string> PeImage::ImportedFunctions(const std::string& dll) const {
  std::vector<std::string> out;
  uint32_t rva, size;
  if (!Directory(1, &rva, &size)) return out;
  const bool wide = optionalMagic == 0x20B;
  for (int64_t d = Offset(rva); d >= 0; d += 20) {
    if (U32(d + 12) == 0 && U32(d + 16) == 0) break;
    if (ascii_lower(CString(Offset(U32(d + 12)))) != ascii_lower(dll)) continue;
    uint32_t thunks = U32(d) != 0 ? U32(d) : U32(d + 16);
    for (int64_t t = Offset(thunks); t >= 0; t += wide ? 8 : 4) {
      const uint32_t low = U32(t);
      const uint32_t high = wide ? U32(t + 4) : 0;
      if (low == 0 && high == 0) break;
      const bool byOrdinal = wide ? (high & 0x80000000u) != 0 : (low & 0x80000000u) != 0;
      if (byOrdinal)
        out.push_back("#" + std::to_string(low & 0xFFFFu));
      else
        out.push_back(CString(Offset(low) + 2));
    }
  }
  return out;
}

bool PeImage::HasExportDirectory() const {
  uint32_t rva, size;
  return Directory(0, &rva, &size);
}

uint32_t PeImage::ExportCount() const {
  uint32_t rva, size;
  if (!Directory(0, &rva, &size)) return 0;
  return U32(Offset(rva) + 20);
}

std::vector<std::string> PeImage::ExportNames() const {
  std::vector<std::string> out;
  uint32_t rva, size;
  if (!Directory(0, &rva, &size)) return out;
  const int64_t e = Offset(rva);
  const uint32_t names = U32(e + 24);
  const int64_t table = Offset(U32(e + 32));
  for (uint32_t i = 0; i < names && table >= 0; ++i) out.push_back(CString(Offset(U32(table + 4 * i))));
  return out;
}

std::vector<PeResource> PeImage::Resources() const {
  std::vector<PeResource> out;
  uint32_t rva, size;
  if (!Directory(2, &rva, &size)) return out;
  const int64_t root = Offset(rva);
  if (root < 0) return out;
  // Walks one directory level; entries with a name instead of an id are skipped.
  auto entries = [&](int64_t dir, std::vector<std::pair<uint32_t, uint32_t>>* list) {
    const uint32_t named = U16(dir + 12), ids = U16(dir + 14);
    for (uint32_t i = 0; i < named + ids; ++i) {
      const uint32_t name = U32(dir + 16 + 8 * i), target = U32(dir + 20 + 8 * i);
      if (name & 0x80000000u) continue;
      list->emplace_back(name, target);
    }
  };
  std::vector<std::pair<uint32_t, uint32_t>> types;
  entries(root, &types);
  for (const auto& t : types) {
    if (!(t.second & 0x80000000u)) continue;
    std::vector<std::pair<uint32_t, uint32_t>> ids;
    entries(root + (t.second & 0x7FFFFFFFu), &ids);
    for (const auto& id : ids) {
      if (!(id.second & 0x80000000u)) continue;
      std::vector<std::pair<uint32_t, uint32_t>> langs;
      entries(root + (id.second & 0x7FFFFFFFu), &langs);
      for (const auto& lang : langs) {
        if (lang.second & 0x80000000u) continue;
        const int64_t leaf = root + lang.second;
        PeResource r;
        r.type = t.first;
        r.id = id.first;
        r.language = lang.first;
        r.codePage = U32(leaf + 8);
        const int64_t data = Offset(U32(leaf));
        const uint32_t length = U32(leaf + 4);
        if (data >= 0 && data + length <= static_cast<int64_t>(bytes.size()))
          r.data.assign(bytes.begin() + data, bytes.begin() + data + length);
        out.push_back(r);
      }
    }
  }
  return out;
}

bool PeImage::FindResource(uint32_t type, uint32_t id, int32_t language, PeResource* out) const {
  for (const PeResource& r : Resources()) {
    if (r.type == type && r.id == id && (language < 0 || r.language == static_cast<uint32_t>(language))) {
      if (out != nullptr) *out = r;
      return true;
    }
  }
  return false;
}

std::string PeImage::ManifestText(uint32_t id) const {
  PeResource r;
  if (!FindResource(kRtManifest, id, -1, &r)) return std::string();
  return std::string(r.data.begin(), r.data.end());
}

namespace {

// UTF-16LE text at p (up to a zero or end) to UTF-8.
std::string utf16_to_utf8(const uint8_t* p, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = static_cast<uint32_t>(p[2 * i] | (p[2 * i + 1] << 8));
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
      const uint32_t low = static_cast<uint32_t>(p[2 * i + 2] | (p[2 * i + 3] << 8));
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// One block of a version resource: length, value length, type, key, then the
// value and the child blocks, each aligned to 4 bytes from the resource start.
struct VersionBlock {
  size_t start = 0, end = 0;
  uint16_t valueLength = 0, type = 0;
  std::string key;
  size_t value = 0, children = 0;
};

size_t align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

bool parse_block(const std::vector<uint8_t>& d, size_t at, size_t limit, VersionBlock* b) {
  if (at + 6 > limit) return false;
  const uint16_t length = static_cast<uint16_t>(d[at] | (d[at + 1] << 8));
  if (length < 6 || at + length > limit) return false;
  b->start = at;
  b->end = at + length;
  b->valueLength = static_cast<uint16_t>(d[at + 2] | (d[at + 3] << 8));
  b->type = static_cast<uint16_t>(d[at + 4] | (d[at + 5] << 8));
  size_t p = at + 6;
  size_t units = 0;
  while (p + 1 < b->end && (d[p] | d[p + 1]) != 0) {
    p += 2;
    ++units;
  }
  b->key = utf16_to_utf8(&d[at + 6], units);
  p += 2;
  b->value = align4(p);
  const size_t valueBytes = b->type == 1 ? static_cast<size_t>(b->valueLength) * 2 : b->valueLength;
  b->children = align4(b->value + valueBytes);
  if (b->children > b->end) b->children = b->end;
  return true;
}

}  // namespace

bool PeImage::ReadVersion(PeVersion* out) const {
  *out = PeVersion();
  PeResource r;
  if (!FindResource(kRtVersion, 1, -1, &r)) {
    bool any = false;
    for (const PeResource& x : Resources())
      if (x.type == kRtVersion) {
        r = x;
        any = true;
        break;
      }
    if (!any) return false;
  }
  const std::vector<uint8_t>& d = r.data;
  VersionBlock root;
  if (!parse_block(d, 0, d.size(), &root) || root.key != "VS_VERSION_INFO") return false;
  if (root.valueLength >= 52 && root.value + 52 <= d.size()) {
    auto u32 = [&](size_t o) {
      uint32_t v;
      std::memcpy(&v, &d[root.value + o], 4);
      return v;
    };
    if (u32(0) != 0xFEEF04BDu) return false;
    out->fileVersionMS = u32(8);
    out->fileVersionLS = u32(12);
    out->productVersionMS = u32(16);
    out->productVersionLS = u32(20);
    out->fileFlags = u32(28);
    out->fileOS = u32(32);
    out->fileType = u32(36);
  }
  for (size_t at = root.children; at < root.end;) {
    VersionBlock info;
    if (!parse_block(d, at, root.end, &info)) break;
    if (info.key == "StringFileInfo") {
      for (size_t t = info.children; t < info.end;) {
        VersionBlock table;
        if (!parse_block(d, t, info.end, &table)) break;
        for (size_t s = table.children; s < table.end;) {
          VersionBlock str;
          if (!parse_block(d, s, table.end, &str)) break;
          PeVersionString entry;
          entry.table = table.key;
          entry.key = str.key;
          if (str.value < str.end) entry.value = utf16_to_utf8(&d[str.value], (str.end - str.value) / 2);
          out->strings.push_back(entry);
          s = align4(str.end);
        }
        t = align4(table.end);
      }
    } else if (info.key == "VarFileInfo") {
      for (size_t v = info.children; v < info.end;) {
        VersionBlock var;
        if (!parse_block(d, v, info.end, &var)) break;
        if (var.key == "Translation")
          for (size_t k = 0; k + 4 <= var.valueLength && var.value + k + 4 <= var.end; k += 4) {
            uint32_t value;
            std::memcpy(&value, &d[var.value + k], 4);
            out->translations.push_back(value);
          }
        v = align4(var.end);
      }
    }
    at = align4(info.end);
  }
  return true;
}

std::string PeVersion::String(const std::string& key, bool* found) const {
  for (const PeVersionString& s : strings)
    if (s.key == key) {
      if (found != nullptr) *found = true;
      return s.value;
    }
  if (found != nullptr) *found = false;
  return std::string();
}

namespace {
std::string dotted(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
         std::to_string(ls & 0xFFFF);
}
}  // namespace

std::string PeVersion::FileVersion() const { return dotted(fileVersionMS, fileVersionLS); }
std::string PeVersion::ProductVersion() const { return dotted(productVersionMS, productVersionLS); }

}  // namespace qvpe
