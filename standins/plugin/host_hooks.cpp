#include "host_hooks.h"

#include <cstdio>
#include <cstring>

#include "host_check.h"
#include "host_expect.h"

namespace {

uint32_t address_of(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

void init_item(HostItem* item) {
  for (int i = 0; i < 40; ++i) item->bytes[i] = static_cast<unsigned char>(0xA0 + i);
}

void check_item(const HostItem& item, const int16_t* layout, const char* what) {
  HostItem pristine;
  init_item(&pristine);
  if (layout == nullptr) {
    check(std::memcmp(&item, &pristine, sizeof item) == 0, "%s: item changed though the host has no such item", what);
    return;
  }
  check(item_field(item, 24) == layout[0] && item_field(item, 26) == layout[1] && item_field(item, 28) == layout[2] &&
            item_field(item, 30) == layout[3],
        "%s: item at x %d y %d width %d height %d, expected %d %d %d %d", what, item_field(item, 24),
        item_field(item, 26), item_field(item, 28), item_field(item, 30), layout[0], layout[1], layout[2], layout[3]);
  check(std::memcmp(item.bytes, pristine.bytes, 24) == 0 && std::memcmp(item.bytes + 32, pristine.bytes + 32, 8) == 0,
        "%s: bytes outside offsets 24 to 31 of the item changed", what);
}

}  // namespace

HostDialog drive_dialog_hook(void* fn) {
  HostDialog full = {};
  for (int shape = 0; shape < 4; ++shape) {
    char what[64];
    std::snprintf(what, sizeof what, "dialog hook (item 100 %s, item 101 %s)", (shape & 1) ? "absent" : "present",
                  (shape & 2) ? "absent" : "present");
    HostDialog dialog = {};
    dialog.has100 = !(shape & 1);
    dialog.has101 = !(shape & 2);
    init_item(&dialog.item100);
    init_item(&dialog.item101);
    HostHook hook;
    host_hook_init(&hook, host_dialog_setup_address());
    int32_t delta = 0;
    const uint32_t args[2] = {address_of(&hook), address_of(&dialog)};
    const uint32_t result = call_with_stack(fn, args, 2, &delta);
    check(delta == 0, "%s: stack off by %d bytes after the stdcall hook returned", what, delta);
    check(result == address_of(&dialog), "%s: gave 0x%08X, expected the dialog 0x%08X", what, result,
          address_of(&dialog));
    check(hook.default_calls == 1, "%s: GetDefaultFunction called %d times, expected 1", what, hook.default_calls);
    check(dialog.setup_calls == 1 && dialog.setup_this == &dialog, "%s: host set-up ran %d times with this %p", what,
          dialog.setup_calls, dialog.setup_this);
    check(dialog.find_calls == 2 && dialog.find_ids[0] == 100 && dialog.find_ids[1] == 101 &&
              dialog.find_this[0] == &dialog && dialog.find_this[1] == &dialog,
          "%s: find-item ran %d times, ids %u %u", what, dialog.find_calls, dialog.find_ids[0], dialog.find_ids[1]);
    check_item(dialog.item100, dialog.has100 ? kExpectedLayout100 : nullptr, what);
    check_item(dialog.item101, dialog.has101 ? kExpectedLayout101 : nullptr, what);
    if (shape == 0) full = dialog;
  }
  return full;
}

uint32_t file_case(void* fn, const std::string& path, const std::vector<std::string>& attempts, const char* what) {
  file_log = FileLog();
  HostHook hook;
  host_hook_init(&hook, host_file_routine_address());
  const uint32_t value = 0xC0DE0000u + static_cast<uint32_t>(attempts.size());
  int32_t delta = 0;
  const uint32_t args[3] = {address_of(&hook), address_of(path.c_str()), value};
  const uint32_t result = call_with_stack(fn, args, 3, &delta);
  check(delta == -12, "%s: stack moved by %d bytes over the cdecl hook call, expected -12 (caller removes)", what,
        delta);
  check(file_log.count == static_cast<int>(attempts.size()), "%s: host routine called %d times, expected %d", what,
        file_log.count, static_cast<int>(attempts.size()));
  check(hook.default_calls == file_log.count, "%s: GetDefaultFunction called %d times for %d host calls", what,
        hook.default_calls, file_log.count);
  for (size_t i = 0; i < attempts.size() && i < static_cast<size_t>(file_log.count) && i < 4; ++i) {
    check(attempts[i] == file_log.calls[i].path, "%s: attempt %u got \"%s\", expected \"%s\"", what,
          static_cast<unsigned>(i + 1), file_log.calls[i].path, attempts[i].c_str());
    check(file_log.calls[i].value == value, "%s: attempt %u got value 0x%08X, expected 0x%08X", what,
          static_cast<unsigned>(i + 1), file_log.calls[i].value, value);
  }
  const int last = file_log.count - 1;
  if (last >= 0 && last < 4)
    check(result == static_cast<uint32_t>(file_log.calls[last].result),
          "%s: gave 0x%X, expected the last host result 0x%X", what, result, file_log.calls[last].result);
  return result;
}

FileSeen drive_file_hook(void* fn, const std::string& w) {
  FileSeen seen;
  seen.asked = w + "\\other\\a.dat";
  seen.result = file_case(fn, seen.asked, {w + "\\a.dat"}, "file hook: start directory copy wins");
  seen.first_attempt = file_log.count > 0 ? file_log.calls[0].path : "-";
  file_case(fn, w + "\\other\\b.dat", {w + "\\b.dat", w + "\\other\\b.dat"}, "file hook: falls back to the host path");
  file_case(fn, "a.dat", {w + "\\a.dat"}, "file hook: path without a backslash");
  file_case(fn, "c.dat", {w + "\\c.dat", "c.dat"}, "file hook: neither attempt finds the file");
  file_case(fn, w + "\\other\\", {w + "\\", w + "\\other\\"}, "file hook: path ending in a backslash");
  file_case(fn, "X:\\no\\such\\folder\\deep\\a.dat", {w + "\\a.dat"}, "file hook: only the last component counts");
  file_case(fn, "X:\\dir/with/slash.dat", {w + "\\dir/with/slash.dat", "X:\\dir/with/slash.dat"},
            "file hook: forward slashes belong to the name");
  // The joined path fits exactly (259 characters and the terminator), or is
  // one character too long: then the host routine gets only the host's own path.
  const size_t room = 259 - w.size() - 1;
  const std::string fits = "X:\\" + std::string(room, 'f');
  file_case(fn, fits, {w + "\\" + std::string(room, 'f'), fits}, "file hook: joined path of 259 characters");
  const std::string longer = "X:\\" + std::string(room + 1, 'g');
  file_case(fn, longer, {longer}, "file hook: joined path of 260 characters is not tried");
  check(file_log.count == 1 && file_log.calls[0].path_pointer == longer.c_str(),
        "file hook: the too-long case did not pass the host's own text");
  const std::string very_long = w + "\\" + std::string(400, 'h');
  file_case(fn, very_long, {very_long}, "file hook: very long component");
  return seen;
}
