#include "guarded_alloc.h"

#include <cstdlib>
#include <cstring>

#include "error_box.h"
#include "platform.h"
#ifdef QV_PLUGIN_BUILD
#include "trace_log.h"
#endif

namespace {
unsigned caller_address(void* return_address) {
  // The box and the trace line show a 32-bit code address.
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(return_address));
}
}  // namespace

__attribute__((noinline)) void* guarded_alloc(uint32_t n) {
  uint32_t total = n + 4u;
  if (total < n) total = 0xFFFFFFFFu;  // so that the request fails, not a short block
  void* block = std::malloc(total);
  if (block == nullptr) {
    show_error_box("CANN'T QV_ALLOC from %X", caller_address(__builtin_return_address(0)));
    platform_exit_process(1);
  }
  const uint32_t guard = kGuardWord;
  std::memcpy(block, &guard, sizeof guard);
  return static_cast<char*>(block) + 4;
}

__attribute__((noinline)) void guarded_free(void* p) {
  if (p == nullptr) return;
  char* block = static_cast<char*>(p) - 4;
  uint32_t guard;
  std::memcpy(&guard, block, sizeof guard);
  if (guard == kGuardWord) {
    std::free(block);
    return;
  }
#ifdef QV_PLUGIN_BUILD
  trace_printf("WRONG PTR IN QV_FREE from %X", caller_address(__builtin_return_address(0)));
#endif
  platform_debug_break();
}
