#include "host_expect.h"

#include "standin_control.h"

namespace {

void add(std::vector<ExpectedCall>* calls, int32_t kind, uint32_t address, uint32_t value) {
  calls->push_back({kind, address, value, {0, 0, 0}, nullptr, nullptr});
}

// A table of screen rectangles: consecutive 8-byte records from `base`.
void add_rect_table(std::vector<ExpectedCall>* calls, uint32_t base, const uint16_t (*rects)[4], int count) {
  for (int r = 0; r < count; ++r)
    for (int f = 0; f < 4; ++f) add(calls, kCallWriteWord, base + 8 * r + 2 * f, rects[r][f]);
}

}  // namespace

std::vector<ExpectedCall> version1_patch_calls() {
  std::vector<ExpectedCall> c;
  // Dialog hook.
  c.push_back({kCallInstallHook, 0x456BA0, 0, {1, 1, 1}, nullptr, "dialog"});
  // Rectangle tables.
  static const uint16_t table1[][4] = {{529, 119, 269, 123}, {580, 379, 165, 106}, {596, 488, 132, 107}};
  static const uint16_t table2[][4] = {
      {549, 6, 225, 124}, {538, 124, 250, 118}, {560, 238, 205, 134}, {565, 381, 195, 107}, {596, 488, 132, 107}};
  static const uint16_t table3[][4] = {
      {594, 6, 133, 125}, {561, 130, 204, 123}, {576, 259, 173, 107}, {554, 364, 215, 120}, {593, 488, 139, 107}};
  add_rect_table(&c, 0x63BBF0, table1, 3);
  add_rect_table(&c, 0x63E6B0, table2, 5);
  add_rect_table(&c, 0x63FF38, table3, 5);
  // Four writes before the byte string.
  add(&c, kCallWriteByte, 0x4D57F0, 77);
  add(&c, kCallWriteDword, 0x4D57EB, 312);
  add(&c, kCallWriteDword, 0x4D57E6, 304);
  add(&c, kCallWriteByte, 0x4D57E4, 41);
  // The byte string.
  c.push_back({kCallWriteHexBytes, 0x57A283, 4, {0, 0, 0}, "6A 00 EB 14", nullptr});
  // File hook.
  c.push_back({kCallInstallHook, 0x4884A5, 0, {0, 1, 3}, nullptr, "file"});
  // Twenty dwords, listed as two columns of ten.
  static const uint32_t left[10][2] = {{0x4EDA67, 334}, {0x4EDA93, 528}, {0x4EF913, 528}, {0x4EF918, 334},
                                       {0x4EFBF6, 528}, {0x4EFBFB, 334}, {0x4EFD54, 528}, {0x4EFD59, 334},
                                       {0x4EFDCD, 528}, {0x4EFDD2, 334}};
  static const uint32_t right[10][2] = {{0x4EFE06, 334}, {0x4EFE26, 528}, {0x4EFE55, 528}, {0x4EFE5A, 334},
                                        {0x4ED8D8, 334}, {0x4ED903, 528}, {0x4ED964, 334}, {0x4ED98F, 528},
                                        {0x4ED9C7, 528}, {0x4ED9CC, 334}};
  for (const auto& w : left) add(&c, kCallWriteDword, w[0], w[1]);
  for (const auto& w : right) add(&c, kCallWriteDword, w[0], w[1]);
  // Six writes.
  add(&c, kCallWriteDword, 0x4DED18, 182);
  add(&c, kCallWriteByte, 0x4E11F2, 36);
  add(&c, kCallWriteByte, 0x4E11F4, 86);
  add(&c, kCallWriteDword, 0x4E11F6, 195);
  add(&c, kCallWriteByte, 0x46C502, 36);
  add(&c, kCallWriteDword, 0x46C506, 162);
  // Two runs of byte pairs, each closed by two bytes of 51.
  static const uint32_t run_a[10][2] = {{0x46C079, 0x46C07D}, {0x46C0CA, 0x46C0CE}, {0x46C13F, 0x46C143},
                                        {0x46C190, 0x46C194}, {0x46C205, 0x46C209}, {0x46C256, 0x46C25A},
                                        {0x46C2CB, 0x46C2CF}, {0x46C31C, 0x46C320}, {0x46C391, 0x46C398},
                                        {0x46C45B, 0x46C462}};
  static const uint32_t run_b[10][2] = {{0x46CBE0, 0x46CBE4}, {0x46CC34, 0x46CC38}, {0x46CCAC, 0x46CCB0},
                                        {0x46CD00, 0x46CD04}, {0x46CD78, 0x46CD7C}, {0x46CDCC, 0x46CDD0},
                                        {0x46CE44, 0x46CE48}, {0x46CE98, 0x46CE9C}, {0x46CF10, 0x46CF17},
                                        {0x46CFE2, 0x46CFE9}};
  for (const auto& p : run_a) {
    add(&c, kCallWriteByte, p[0], 65);
    add(&c, kCallWriteByte, p[1], 7);
  }
  add(&c, kCallWriteByte, 0x46C3EA, 51);
  add(&c, kCallWriteByte, 0x46C4B4, 51);
  for (const auto& p : run_b) {
    add(&c, kCallWriteByte, p[0], 65);
    add(&c, kCallWriteByte, p[1], 7);
  }
  add(&c, kCallWriteByte, 0x46CF6E, 51);
  add(&c, kCallWriteByte, 0x46D040, 51);
  return c;
}
