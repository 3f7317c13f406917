#include <cstring>

#include "hooks.h"
#include "patches.h"
#include "plugin_platform.h"
#include "plugin_state.h"
#include "startup.h"
#include "text.h"

namespace {

enum Width : uint8_t { kByte = 1, kWord = 2, kDword = 4 };

struct HostWrite {
  uint32_t address;
  Width width;
  uint32_t value;
};

// A screen rectangle in a host table: x, y, width, height as four words.
struct HostRect {
  uint32_t address;
  uint16_t x, y, width, height;
};

// A run of byte patches: ten pairs (65 at the first address, then 7 at the
// second), then 51 at each of the two tail addresses.
struct ByteRun {
  uint32_t pairs[10][2];
  uint32_t tail[2];
};

constexpr int16_t kDialogLayout[8] = {567, 8, 192, 116, 531, 232, 263, 161};

// Three tables of screen rectangles (3, 5 and 5 of them), in table order.
constexpr HostRect kRects[] = {
    {0x63BBF0, 529, 119, 269, 123}, {0x63BBF8, 580, 379, 165, 106}, {0x63BC00, 596, 488, 132, 107},
    {0x63E6B0, 549, 6, 225, 124},   {0x63E6B8, 538, 124, 250, 118}, {0x63E6C0, 560, 238, 205, 134},
    {0x63E6C8, 565, 381, 195, 107}, {0x63E6D0, 596, 488, 132, 107}, {0x63FF38, 594, 6, 133, 125},
    {0x63FF40, 561, 130, 204, 123}, {0x63FF48, 576, 259, 173, 107}, {0x63FF50, 554, 364, 215, 120},
    {0x63FF58, 593, 488, 139, 107},
};

constexpr HostWrite kBeforeHexPatch[] = {
    {0x4D57F0, kByte, 77},
    {0x4D57EB, kDword, 312},
    {0x4D57E6, kDword, 304},
    {0x4D57E4, kByte, 41},
};

constexpr uint32_t kHexPatchAddress = 0x57A283;
constexpr char kHexPatch[] = "6A 00 EB 14";  // push 0; jmp +20

constexpr HostWrite kAfterFileHook[] = {
    {0x4EDA67, kDword, 334}, {0x4EDA93, kDword, 528}, {0x4EF913, kDword, 528}, {0x4EF918, kDword, 334},
    {0x4EFBF6, kDword, 528}, {0x4EFBFB, kDword, 334}, {0x4EFD54, kDword, 528}, {0x4EFD59, kDword, 334},
    {0x4EFDCD, kDword, 528}, {0x4EFDD2, kDword, 334}, {0x4EFE06, kDword, 334}, {0x4EFE26, kDword, 528},
    {0x4EFE55, kDword, 528}, {0x4EFE5A, kDword, 334}, {0x4ED8D8, kDword, 334}, {0x4ED903, kDword, 528},
    {0x4ED964, kDword, 334}, {0x4ED98F, kDword, 528}, {0x4ED9C7, kDword, 528}, {0x4ED9CC, kDword, 334},
    {0x4DED18, kDword, 182}, {0x4E11F2, kByte, 36},   {0x4E11F4, kByte, 86},   {0x4E11F6, kDword, 195},
    {0x46C502, kByte, 36},   {0x46C506, kDword, 162},
};

// clang-format off: each run's ten address pairs, then its two tail addresses
constexpr ByteRun kByteRuns[] = {
    {{{0x46C079, 0x46C07D}, {0x46C0CA, 0x46C0CE}, {0x46C13F, 0x46C143}, {0x46C190, 0x46C194},
      {0x46C205, 0x46C209}, {0x46C256, 0x46C25A}, {0x46C2CB, 0x46C2CF}, {0x46C31C, 0x46C320},
      {0x46C391, 0x46C398}, {0x46C45B, 0x46C462}},
     {0x46C3EA, 0x46C4B4}},
    {{{0x46CBE0, 0x46CBE4}, {0x46CC34, 0x46CC38}, {0x46CCAC, 0x46CCB0}, {0x46CD00, 0x46CD04},
      {0x46CD78, 0x46CD7C}, {0x46CDCC, 0x46CDD0}, {0x46CE44, 0x46CE48}, {0x46CE98, 0x46CE9C},
      {0x46CF10, 0x46CF17}, {0x46CFE2, 0x46CFE9}},
     {0x46CF6E, 0x46D040}},
};
// clang-format on

constexpr char kFontsPack[] = "eng+rus fonts";
constexpr char kOwnPack[] = "GrandPack_Rus";
constexpr size_t kPrefixLength = 13;
static_assert(sizeof kFontsPack - 1 == kPrefixLength && sizeof kOwnPack - 1 == kPrefixLength, "prefix length");

// Pack folder array and its length, as read at install.
char** pack_dirs = nullptr;
int32_t pack_dir_count = 0;

void write(SplicerInstance* instance, const HostWrite& w) {
  switch (w.width) {
    case kByte: instance->ops->WriteByte(instance, w.address, w.value); break;
    case kWord: instance->ops->WriteWord(instance, w.address, w.value); break;
    case kDword: instance->ops->WriteDword(instance, w.address, w.value); break;
  }
}

template <size_t N>
void write_all(SplicerInstance* instance, const HostWrite (&table)[N]) {
  for (const HostWrite& w : table) write(instance, w);
}

// The first 13 characters of the name equal the prefix, ASCII case folded.
// A shorter name differs at its terminator.
int name_matches(const char* name, const char* prefix) { return ascii_strnicmp(name, prefix, kPrefixLength) == 0; }

void apply_version1(SplicerInstance* instance) {
  blank_pack_dirs(kFontsPack);                                                                    // V1
  // The layout is in place before the hook can run: a host thread that sets
  // up the dialog as soon as the hook is in gets it, not zeros.
  std::memcpy(plugin_state.dialog_layout, kDialogLayout, sizeof kDialogLayout);                   // V3
  instance->ops->InstallHook(instance, kDialogHookAddress, 1, 1, 1,                               // V2
                             reinterpret_cast<void*>(&dialog_layout_hook));
  for (const HostRect& r : kRects) {                                                              // V4
    instance->ops->WriteWord(instance, r.address + 0, r.x);
    instance->ops->WriteWord(instance, r.address + 2, r.y);
    instance->ops->WriteWord(instance, r.address + 4, r.width);
    instance->ops->WriteWord(instance, r.address + 6, r.height);
  }
  write_all(instance, kBeforeHexPatch);                                                           // V5
  write_hex_patch(instance, kHexPatchAddress, kHexPatch);                                         // V6
  instance->ops->InstallHook(instance, kFileHookAddress, 0, 1, 3,                                 // V7
                             reinterpret_cast<void*>(&file_redirect_hook));
  write_all(instance, kAfterFileHook);                                                            // V8, V9
  for (const ByteRun& run : kByteRuns) {                                                          // V10
    for (const auto& pair : run.pairs) {
      instance->ops->WriteByte(instance, pair[0], 65);
      instance->ops->WriteByte(instance, pair[1], 7);
    }
    for (uint32_t address : run.tail) instance->ops->WriteByte(instance, address, 51);
  }
}

}  // namespace

void blank_pack_dirs(const char* prefix) {
  if (pack_dirs == nullptr) return;  // a count without an array names no folder
  for (int32_t i = 0; i < pack_dir_count; ++i) {
    char* path = pack_dirs[i];
    if (path == nullptr) continue;
    if (name_matches(path_file_part(path), prefix)) {
      path[0] = '?';
      path[1] = '\0';
    }
  }
}

void install_patches() {
  // All three shared variables are read before anything is written.
  const uint32_t* version = get_or_create_variable("QV.ExeVersion");
  if (version == nullptr) return;
  plugin_state.exe_version = static_cast<int32_t>(*version);
  platform_read_start_directory(plugin_state.start_directory);
  const uint32_t* dirs = get_or_create_variable("QV.PackDirs");
  if (dirs == nullptr) return;
  const uint32_t* count = pack_dir_count_address();
  if (count == nullptr) return;
  pack_dirs = reinterpret_cast<char**>(static_cast<uintptr_t>(*dirs));
  pack_dir_count = static_cast<int32_t>(*count);

  if (plugin_state.exe_version == 1) {
    apply_version1(plugin_state.instance);
  } else {
    blank_pack_dirs(kOwnPack);
  }
}
