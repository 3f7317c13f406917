#include "host_memory.h"

#include <windows.h>

#include <cstring>

#include "host_check.h"
#include "host_routines.h"

namespace {

constexpr uint32_t kFindItem = 0x5FF5B0;

// VirtualAlloc at 0x400000 fails under Wine (the loader has put heaps and
// modules there by the time the program runs), so the range lies inside the
// program's own image instead: it is linked at 0x200000 and this block of its
// .bss spans 0x400000 to 0x640000.
unsigned char host_image_area[0x480000];

void write_find_item_thunk(unsigned char* image, uint32_t base) {
  // jmp rel32 to the host's find-item routine.
  const uint32_t target = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(host_find_item_address()));
  const uint32_t rel = target - (kFindItem + 5);
  unsigned char* p = image + (kFindItem - base);
  p[0] = 0xE9;
  std::memcpy(p + 1, &rel, 4);
}

}  // namespace

unsigned char* at(uint32_t address) { return reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(address)); }

void setup_host_memory() {
  const uintptr_t area = reinterpret_cast<uintptr_t>(host_image_area);
  if (area > kHostLow || area + sizeof host_image_area < kHostHigh)
    fatal("host range is not inside the host image area");
  DWORD old;
  if (!VirtualProtect(at(kHostLow), kHostHigh - kHostLow, PAGE_EXECUTE_READWRITE, &old)) fatal("VirtualProtect");
  std::memset(at(kHostLow), kFill, kHostHigh - kHostLow);
  write_find_item_thunk(at(kHostLow), kHostLow);
}

std::vector<unsigned char> pristine_image() {
  std::vector<unsigned char> image(kHostHigh - kHostLow, kFill);
  write_find_item_thunk(image.data(), kHostLow);
  return image;
}

void check_host_memory(const std::vector<unsigned char>& expected, const char* what) {
  int mismatches = 0;
  for (uint32_t i = 0; i < expected.size(); ++i) {
    const unsigned char actual = at(kHostLow)[i];
    if (actual != expected[i]) {
      if (++mismatches <= 8)
        check(false, "%s: host byte at 0x%06X is 0x%02X, expected 0x%02X", what, kHostLow + i, actual, expected[i]);
    }
  }
  check(mismatches == 0, "%s: %d host bytes differ from the expected image", what, mismatches);
}
