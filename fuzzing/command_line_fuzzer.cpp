// libFuzzer entry for the tool's command-line scanner: any bytes become a
// command line (up to the first NUL, where the process's line ends), scanned
// with AddressSanitizer watching the value buffer. Every value handed to the
// action must be terminated within 260 bytes, hold at most 259 characters,
// stand in the line as it is and hold no blank followed by '/'. A broken
// check prints the line and the value and aborts, which libFuzzer reports as
// a crash and keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line.h"

namespace {
struct Scan {
  const char* line;
  int calls;
};

[[noreturn]] void broken(const char* what, const Scan& scan, const char* value, size_t length) {
  std::fprintf(stderr, "command line value broken: %s\n  line:  [%s]\n  value: [%.*s]\n", what, scan.line,
               static_cast<int>(length), value);
  std::abort();
}

void check_value(void* context, int kind, const char* value) {
  Scan& scan = *static_cast<Scan*>(context);
  ++scan.calls;
  const void* end = std::memchr(value, '\0', kSwitchValueMax + 1);
  if (end == nullptr) broken("not terminated within 260 bytes", scan, value, kSwitchValueMax + 1);
  const size_t length = static_cast<size_t>(static_cast<const char*>(end) - value);
  if (kind != kSwitchPack && kind != kSwitchLanguage) broken("unknown switch kind", scan, value, length);
  if (std::strstr(value, " /") != nullptr) broken("holds a blank followed by '/'", scan, value, length);
  if (std::strstr(scan.line, value) == nullptr) broken("not in the line", scan, value, length);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  Scan scan = {line.c_str(), 0};
  const int found = scan_switches(line.c_str(), check_value, &scan);
  if (scan.calls > 0 && found != 1) broken("actions ran, yet no switch was reported", scan, "", 0);
  return 0;
}
