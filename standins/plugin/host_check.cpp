#include "host_check.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace {
int check_count = 0;
int failure_count = 0;
}  // namespace

void check(bool ok, const char* format, ...) {
  ++check_count;
  if (ok) return;
  ++failure_count;
  std::printf("FAIL: ");
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
}

void fatal(const char* what) {
  std::printf("FATAL: %s (GetLastError %lu)\n", what, GetLastError());
  std::fflush(stdout);
  ExitProcess(1);
}

int report_checks(const char* label) {
  std::printf("%s: %d checks, %d failed\n", label, check_count, failure_count);
  std::fflush(stdout);
  return failure_count == 0 ? 0 : 1;
}
