#include "guarded_alloc.h"

#include <cstdlib>
#include <cstring>

#include "error_box.h"
#include "platform.h"
#ifdef QV_PLUGIN_BUILD
#include "trace_log.h"
#endif

namespace {
// The guard word fills the 4 bytes before the user area; the 32-bit build's
// block is exactly n + 4 bytes. A 64-bit build (the native tests) puts 4 more
// bytes in front so that user areas stay aligned for pointers.
constexpr uint32_t kHeader = sizeof(void*) > 4 ? 8u : 4u;

unsigned caller_address(void* return_address) {
  // The box and the trace line show a 32-bit code address.
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(return_address));
}
}  // namespace

__attribute__((noinline)) void* guarded_alloc(uint32_t n) {
  uint32_t total = n + kHeader;
  if (total < n) total = 0xFFFFFFFFu;  // so that the request fails, not a short block
  char* block = static_cast<char*>(std::malloc(total));
  if (block == nullptr) {
    show_error_box("CANN'T QV_ALLOC from %X", caller_address(__builtin_return_address(0)));
    platform_exit_process(1);
  }
  const uint32_t guard = kGuardWord;
  std::memcpy(block + kHeader - 4, &guard, sizeof guard);
  return block + kHeader;
}

__attribute__((noinline)) void* guarded_resize(void* p, uint32_t n) {
  if (p == nullptr) return guarded_alloc(n);
  char* user = static_cast<char*>(p);
  uint32_t guard;
  std::memcpy(&guard, user - 4, sizeof guard);
  if (guard != kGuardWord) {
#ifdef QV_PLUGIN_BUILD
    trace_printf("WRONG PTR IN QV_FREE from %X", caller_address(__builtin_return_address(0)));
#endif
    platform_debug_break();
    return guarded_alloc(n);
  }
  uint32_t total = n + kHeader;
  if (total < n) total = 0xFFFFFFFFu;
  char* block = static_cast<char*>(std::realloc(user - kHeader, total));
  if (block == nullptr) {
    show_error_box("CANN'T QV_ALLOC from %X", caller_address(__builtin_return_address(0)));
    platform_exit_process(1);
  }
  return block + kHeader;
}

__attribute__((noinline)) void guarded_free(void* p) {
  if (p == nullptr) return;
  char* user = static_cast<char*>(p);
  uint32_t guard;
  std::memcpy(&guard, user - 4, sizeof guard);
  if (guard == kGuardWord) {
    std::free(user - kHeader);
    return;
  }
#ifdef QV_PLUGIN_BUILD
  trace_printf("WRONG PTR IN QV_FREE from %X", caller_address(__builtin_return_address(0)));
#endif
  platform_debug_break();
}
