#include "host_report.h"

#include <cstdio>
#include <cstring>

#include "host_library.h"
#include "host_packs.h"

void report_switched_off() {
  const char* texts[16];
  const int n = switched_off(texts, 16);
  for (int i = 0; i < n; ++i) std::printf("  switched off: %s\n", texts[i]);
}

void report_patches(int first) {
  int counts[16] = {};
  const StandinCall* hex = nullptr;
  for (int i = first; i < recorded(); ++i) {
    ++counts[call_at(i).kind & 15];
    if (call_at(i).kind == kCallWriteHexBytes) hex = &call_at(i);
  }
  if (recorded() == first) {
    std::printf("  writes: none, hooks: none\n");
    return;
  }
  std::printf("  writes: %d byte, %d word, %d dword, %d hex", counts[kCallWriteByte], counts[kCallWriteWord],
              counts[kCallWriteDword], counts[kCallWriteHexBytes]);
  if (hex != nullptr) std::printf(" (\"%s\" at 0x%06X)", hex->text, hex->address);
  std::printf("\n");
  for (int i = first; i < recorded(); ++i)
    if (call_at(i).kind == kCallInstallHook)
      std::printf("  hook at 0x%06X, selectors %u %u %u, routine %s\n", call_at(i).address, call_at(i).selectors[0],
                  call_at(i).selectors[1], call_at(i).selectors[2],
                  call_at(i).address == 0x456BA0 ? "dialog_layout_hook" : "file_redirect_hook");
}

void report_dialog(const HostDialog& d) {
  std::printf("  dialog hook: item 100 at %d,%d size %dx%d, item 101 at %d,%d size %dx%d\n", item_field(d.item100, 24),
              item_field(d.item100, 26), item_field(d.item100, 28), item_field(d.item100, 30),
              item_field(d.item101, 24), item_field(d.item101, 26), item_field(d.item101, 28),
              item_field(d.item101, 30));
}

void report_file(const FileSeen& seen) {
  std::printf("  file hook: host asked for %s, host routine got %s first (result 0x%X)\n", seen.asked.c_str(),
              seen.first_attempt.c_str(), seen.result);
}
