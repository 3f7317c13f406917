#include "host_patches.h"

#include <cstring>
#include <vector>

#include "host_check.h"
#include "host_expect.h"
#include "host_library.h"
#include "host_memory.h"

namespace {

bool in_module(void* address, HMODULE module) {
  HMODULE owner = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<const char*>(address), &owner);
  return owner == module;
}

// Puts the expected effect of one write into `image`.
void apply(const ExpectedCall& x, std::vector<unsigned char>* image) {
  unsigned char* p = image->data() + (x.address - kHostLow);
  switch (x.kind) {
    case kCallWriteByte: p[0] = static_cast<unsigned char>(x.value); break;
    case kCallWriteWord:
      p[0] = static_cast<unsigned char>(x.value);
      p[1] = static_cast<unsigned char>(x.value >> 8);
      break;
    case kCallWriteDword: std::memcpy(p, &x.value, 4); break;
    case kCallWriteHexBytes: {
      const unsigned char b[4] = {0x6A, 0x00, 0xEB, 0x14};
      std::memcpy(p, b, 4);
      break;
    }
  }
}

}  // namespace

Hooks check_version1_patches(int first, HMODULE plugin) {
  const std::vector<ExpectedCall> expected = version1_patch_calls();
  Hooks hooks;
  const uint32_t instance = call_at(2).result;
  int counts[16] = {};
  std::vector<unsigned char> image = pristine_image();
  for (size_t e = 0; e < expected.size(); ++e) {
    const int i = first + static_cast<int>(e);
    const ExpectedCall& x = expected[e];
    if (i >= recorded()) {
      check(false, "version 1: patch %u missing (%s at 0x%06X); only %d calls", static_cast<unsigned>(e),
            kind_name(x.kind), x.address, recorded());
      break;
    }
    const StandinCall& c = call_at(i);
    check(c.object == instance, "version 1: patch %u made on 0x%08X, not on the instance 0x%08X",
          static_cast<unsigned>(e), c.object, instance);
    bool same = c.kind == x.kind && c.address == x.address;
    if (x.kind == kCallInstallHook)
      same = same && c.selectors[0] == x.selectors[0] && c.selectors[1] == x.selectors[1] &&
             c.selectors[2] == x.selectors[2];
    else if (x.kind == kCallWriteHexBytes)
      same = same && std::strcmp(c.text, x.text) == 0;
    else
      same = same && c.value == x.value;
    check(same, "version 1: patch %u is %s(0x%06X, %u, \"%s\", selectors %u %u %u), expected %s(0x%06X, %u)",
          static_cast<unsigned>(e), kind_name(c.kind), c.address, c.value, c.text, c.selectors[0], c.selectors[1],
          c.selectors[2], kind_name(x.kind), x.address, x.value);
    ++counts[c.kind & 15];
    apply(x, &image);
    if (x.kind == kCallInstallHook && c.kind == kCallInstallHook) {
      void* fn = reinterpret_cast<void*>(static_cast<uintptr_t>(c.function));
      check(in_module(fn, plugin), "version 1: hook routine 0x%08X at 0x%06X is not in QV_PLUGIN.dll", c.function,
            c.address);
      (std::strcmp(x.hook, "dialog") == 0 ? hooks.dialog : hooks.file) = fn;
    }
  }
  check(recorded() == first + static_cast<int>(expected.size()), "version 1: %d calls recorded, expected %d",
        recorded(), first + static_cast<int>(expected.size()));
  check(counts[kCallWriteByte] == 49, "version 1: %d byte writes, expected 49", counts[kCallWriteByte]);
  check(counts[kCallWriteWord] == 52, "version 1: %d word writes, expected 52", counts[kCallWriteWord]);
  check(counts[kCallWriteDword] == 25, "version 1: %d dword writes, expected 25", counts[kCallWriteDword]);
  check(counts[kCallWriteHexBytes] == 1, "version 1: %d hex writes, expected 1", counts[kCallWriteHexBytes]);
  check(counts[kCallInstallHook] == 2, "version 1: %d hooks, expected 2", counts[kCallInstallHook]);
  check(standin()->rejected_writes == 0, "version 1: the library refused %d writes", standin()->rejected_writes);
  check_host_memory(image, "version 1");
  // The hooked host code itself is left alone.
  check(*at(0x456BA0) == kFill && *at(0x4884A5) == kFill, "version 1: bytes at the hook addresses were written");
  return hooks;
}
