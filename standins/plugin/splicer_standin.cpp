// Stand-in for the code-patching library splicer_x86.dll, written from the
// library's table of operations alone. It implements the slots the plug-in
// relies on, records every call in order, really writes into the host's
// memory, and ends the process loudly when any other slot is called.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "standin_control.h"

namespace {

using Slot = void*;
constexpr int kSlots = 32;

enum ObjectKind { kLibrary = 0, kInstance = 1, kVariable = 2 };
const char* const kKindNames[] = {"SplicerLibrary", "SplicerInstance", "SplicerVariable"};

struct Library {
  const Slot* ops;
};
struct Instance {
  const Slot* ops;
  char owner[64];
};
struct Variable {
  const Slot* ops;
  char name[64];
  uint32_t cell;
};

Slot library_ops[kSlots];
Slot instance_ops[kSlots];
Slot variable_ops[kSlots];

Library library = {library_ops};
Instance instances[16];
int instance_count = 0;
Variable variables[32];
int variable_count = 0;

StandinControl control;

// Adds the ticks spent in one operation to the library's own work.
struct WorkTimer {
  LARGE_INTEGER start;
  WorkTimer() {
    QueryPerformanceCounter(&start);
    if (control.first_tick == 0) control.first_tick = start.QuadPart;
  }
  ~WorkTimer() {
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    control.work_ticks += end.QuadPart - start.QuadPart;
    control.last_tick = end.QuadPart;
  }
};

void copy_text(char* to, const char* from) { std::snprintf(to, 64, "%s", from != nullptr ? from : "(none)"); }

StandinCall* record(int32_t kind, const void* object) {
  if (control.call_count >= kStandinMaxCalls) {
    std::fprintf(stderr, "splicer stand-in: more than %d calls\n", kStandinMaxCalls);
    ExitProcess(kMisuseExitCode);
  }
  StandinCall* call = &control.calls[control.call_count++];
  std::memset(call, 0, sizeof *call);
  call->kind = kind;
  call->object = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
  return call;
}

template <int Kind, int Index>
void __stdcall misuse() {
  StandinCall* call = record(kCallMisuse, nullptr);
  call->slot = Index;
  copy_text(call->text, kKindNames[Kind]);
  std::fprintf(stderr, "splicer stand-in: slot %d of %s is not part of the interface\n", Index, kKindNames[Kind]);
  std::fflush(stderr);
  ExitProcess(kMisuseExitCode);
}

template <int Kind, int... Index>
void fill_misuse(Slot* table, std::integer_sequence<int, Index...>) {
  ((table[Index] = reinterpret_cast<Slot>(&misuse<Kind, Index>)), ...);
}

Instance* find_instance(const char* owner) {
  for (int i = 0; i < instance_count; ++i)
    if (std::strcmp(instances[i].owner, owner) == 0) return &instances[i];
  return nullptr;
}

Variable* find_variable(const char* name) {
  for (int i = 0; i < variable_count; ++i)
    if (std::strcmp(variables[i].name, name) == 0) return &variables[i];
  return nullptr;
}

Instance* new_instance(const char* owner) {
  if (instance_count >= 16) return nullptr;
  Instance* instance = &instances[instance_count++];
  instance->ops = instance_ops;
  copy_text(instance->owner, owner);
  return instance;
}

Variable* new_variable(const char* name, uint32_t value) {
  if (variable_count >= 32) return nullptr;
  Variable* variable = &variables[variable_count++];
  variable->ops = variable_ops;
  copy_text(variable->name, name);
  variable->cell = value;
  return variable;
}

// The bytes must lie in committed host memory inside the host range.
int host_range_ok(uint32_t address, uint32_t width) {
  if (address < control.host_low || address + width > control.host_high) return 0;
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info, sizeof info) == 0) return 0;
  return info.State == MEM_COMMIT ? 1 : 0;
}

int write_host(uint32_t address, const void* bytes, uint32_t width) {
  if (!host_range_ok(address, width)) {
    ++control.rejected_writes;
    return 0;
  }
  std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), bytes, width);
  return 1;
}

// Records a call that names an owner or a variable.
StandinCall* record_named(int32_t kind, const void* object, const char* name) {
  StandinCall* call = record(kind, object);
  copy_text(call->text, name);
  return call;
}

// Records what a call gives back, and gives it.
template <typename T>
T* gives(StandinCall* call, T* result) {
  call->result = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(result));
  return result;
}

// Library slots.
Instance* __stdcall create_instance(Library* self, const char* owner) {
  WorkTimer timer;
  StandinCall* call = record_named(kCallCreateInstance, self, owner);
  const bool ok = !control.create_instance_fails && owner != nullptr && find_instance(owner) == nullptr;
  return gives(call, ok ? new_instance(owner) : nullptr);
}

Instance* __stdcall get_instance(Library* self, const char* owner) {
  WorkTimer timer;
  return gives(record_named(kCallGetInstance, self, owner), owner != nullptr ? find_instance(owner) : nullptr);
}

Variable* __stdcall create_variable(Library* self, const char* name, uint32_t initial) {
  WorkTimer timer;
  StandinCall* call = record_named(kCallCreateVariable, self, name);
  call->value = initial;
  const bool ok = !control.create_variable_fails && name != nullptr && find_variable(name) == nullptr;
  return gives(call, ok ? new_variable(name, initial) : nullptr);
}

Variable* __stdcall find_variable_slot(Library* self, const char* name) {
  WorkTimer timer;
  return gives(record_named(kCallFindVariable, self, name), name != nullptr ? find_variable(name) : nullptr);
}

// Variable slot.
uint32_t* __stdcall value_address(Variable* self) {
  WorkTimer timer;
  return gives(record_named(kCallValueAddress, self, self->name), &self->cell);
}

// Instance slots.
template <int32_t Kind, typename T>
int __stdcall write_value(Instance* self, uint32_t address, uint32_t value) {
  WorkTimer timer;
  StandinCall* call = record(Kind, self);
  call->address = address;
  call->value = value;
  const T narrow = static_cast<T>(value);
  call->result = static_cast<uint32_t>(write_host(address, &narrow, sizeof narrow));
  return static_cast<int>(call->result);
}

int __stdcall install_hook(Instance* self, uint32_t address, uint32_t s1, uint32_t s2, uint32_t s3, void* function) {
  WorkTimer timer;
  StandinCall* call = record(kCallInstallHook, self);
  call->address = address;
  call->selectors[0] = s1;
  call->selectors[1] = s2;
  call->selectors[2] = s3;
  call->function = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(function));
  call->result = 1;
  if (control.hook_installed != nullptr) control.hook_installed(address, function);
  return 1;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int __stdcall write_hex_bytes(Instance* self, uint32_t address, const char* format, void* arguments) {
  WorkTimer timer;
  StandinCall* call = record(kCallWriteHexBytes, self);
  call->address = address;
  char text[256];
  va_list list;
  std::memcpy(&list, &arguments, sizeof list);
  std::vsnprintf(text, sizeof text, format, list);
  copy_text(call->text, text);
  // Pairs of hexadecimal digits separated by blanks.
  unsigned char bytes[128];
  uint32_t count = 0;
  for (const char* p = text; *p != '\0';) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    const int high = hex_digit(p[0]);
    const int low = high >= 0 ? hex_digit(p[1]) : -1;
    if (low < 0 || (p[2] != ' ' && p[2] != '\0') || count == sizeof bytes) {
      ++control.rejected_writes;
      call->result = 0;
      return 0;
    }
    bytes[count++] = static_cast<unsigned char>(high * 16 + low);
    p += 2;
  }
  call->value = count;
  call->result = static_cast<uint32_t>(write_host(address, bytes, count));
  return static_cast<int>(call->result);
}

uint32_t* publish(const char* name, uint32_t value) {
  Variable* variable = find_variable(name);
  if (variable == nullptr) variable = new_variable(name, value);
  if (variable == nullptr) return nullptr;
  variable->cell = value;
  return &variable->cell;
}

void register_owner(const char* owner) {
  if (find_instance(owner) == nullptr) new_instance(owner);
}

void reset() {
  instance_count = 0;
  variable_count = 0;
  control.call_count = 0;
  control.rejected_writes = 0;
  control.work_ticks = 0;
  control.first_tick = 0;
  control.last_tick = 0;
}

void build_tables() {
  fill_misuse<kLibrary>(library_ops, std::make_integer_sequence<int, kSlots>());
  fill_misuse<kInstance>(instance_ops, std::make_integer_sequence<int, kSlots>());
  fill_misuse<kVariable>(variable_ops, std::make_integer_sequence<int, kSlots>());
  library_ops[0] = reinterpret_cast<Slot>(&create_instance);
  library_ops[1] = reinterpret_cast<Slot>(&get_instance);
  library_ops[12] = reinterpret_cast<Slot>(&create_variable);
  library_ops[13] = reinterpret_cast<Slot>(&find_variable_slot);
  variable_ops[2] = reinterpret_cast<Slot>(&value_address);
  instance_ops[0] = reinterpret_cast<Slot>(&write_value<kCallWriteByte, uint8_t>);
  instance_ops[1] = reinterpret_cast<Slot>(&write_value<kCallWriteWord, uint16_t>);
  instance_ops[2] = reinterpret_cast<Slot>(&write_value<kCallWriteDword, uint32_t>);
  instance_ops[7] = reinterpret_cast<Slot>(&install_hook);
  instance_ops[19] = reinterpret_cast<Slot>(&write_hex_bytes);
  control.publish = &publish;
  control.register_owner = &register_owner;
  control.reset = &reset;
  control.host_low = 0x400000;
  control.host_high = 0x640000;
}

struct Tables {
  Tables() { build_tables(); }
} tables;

}  // namespace

// The library's entry: no arguments, gives the root object.
extern "C" __stdcall void* GetSplicerX86() {
  WorkTimer timer;
  return gives<void>(record(kCallEntry, nullptr), control.entry_gives_none ? nullptr : &library);
}

extern "C" StandinControl* standin_control() { return &control; }
