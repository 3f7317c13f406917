#include "host_routines.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

FileLog file_log;

namespace {

void* __attribute__((thiscall)) dialog_setup(HostDialog* self) {
  ++self->setup_calls;
  self->setup_this = self;
  return reinterpret_cast<void*>(0x12345678);
}

HostItem* __attribute__((thiscall)) find_item(HostDialog* self, uint32_t id) {
  if (self->find_calls < 4) {
    self->find_this[self->find_calls] = self;
    self->find_ids[self->find_calls] = id;
  }
  ++self->find_calls;
  if (id == 100 && self->has100) return &self->item100;
  if (id == 101 && self->has101) return &self->item101;
  return nullptr;
}

int __attribute__((cdecl)) file_routine(const char* path, uint32_t value) {
  const DWORD attributes = GetFileAttributesA(path);
  const int exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  const int result = exists ? 0x1000 + file_log.count : 0;
  if (file_log.count < 4) {
    FileCall& call = file_log.calls[file_log.count];
    std::snprintf(call.path, sizeof call.path, "%s", path);
    call.path_pointer = path;
    call.value = value;
    call.result = result;
  }
  ++file_log.count;
  return result;
}

int __attribute__((cdecl)) file_quick(const char* path, uint32_t value) {
  return path != nullptr ? static_cast<int>(value) | 1 : 0;
}

void* __attribute__((stdcall)) hook_default(HostHook* self) {
  ++self->default_calls;
  return self->default_function;
}

void __attribute__((stdcall)) hook_misuse() {
  std::fprintf(stderr, "host: the plug-in called a SplicerHook slot other than 11\n");
  std::fflush(stderr);
  ExitProcess(70);
}

const void* hook_ops[32];

}  // namespace

int16_t item_field(const HostItem& item, int offset) {
  int16_t v;
  std::memcpy(&v, &item.bytes[offset], 2);
  return v;
}

void host_hook_init(HostHook* hook, void* default_function) {
  for (int i = 0; i < 32; ++i) hook_ops[i] = reinterpret_cast<const void*>(&hook_misuse);
  hook_ops[11] = reinterpret_cast<const void*>(&hook_default);
  hook->ops = hook_ops;
  hook->default_function = default_function;
  hook->default_calls = 0;
}

void* host_dialog_setup_address() { return reinterpret_cast<void*>(&dialog_setup); }
void* host_find_item_address() { return reinterpret_cast<void*>(&find_item); }
void* host_file_routine_address() { return reinterpret_cast<void*>(&file_routine); }
void* host_file_quick_address() { return reinterpret_cast<void*>(&file_quick); }

uint32_t call_with_stack(void* fn, const uint32_t* args, int n, int32_t* esp_delta) {
  uint32_t result;
  int32_t delta;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl -4(%%edx,%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *%%ebx\n\t"
      "movl %%esp, %%edi\n\t"
      "subl %%esi, %%edi\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(result), "=D"(delta), "+c"(n), "+d"(args)
      : "b"(fn)
      : "esi", "memory", "cc");
  *esp_delta = delta;
  return result;
}
