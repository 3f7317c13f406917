// The objects of the code-patching library splicer_x86.dll as the plug-in
// sees them. Each object starts with the address of its table of operations;
// the tables list the operations at their fixed slot numbers, and the slots
// the plug-in does not use are held by placeholders so that the numbering
// stays right. Every operation is stdcall and takes the object first.
#pragma once
#include <cstddef>
#include <cstdint>

#define SPLICER_CALL __attribute__((stdcall))

struct SplicerLibrary;
struct SplicerInstance;
struct SplicerVariable;
struct SplicerHook;

// A slot the plug-in never calls.
using SplicerUnusedSlot = void (*)();

struct SplicerLibraryOps {
  SplicerInstance*(SPLICER_CALL* CreateInstance)(SplicerLibrary* self, const char* owner);  // 0
  SplicerInstance*(SPLICER_CALL* GetInstance)(SplicerLibrary* self, const char* owner);     // 1
  SplicerUnusedSlot unused2to11[10];
  SplicerVariable*(SPLICER_CALL* CreateVariable)(SplicerLibrary* self, const char* name, uint32_t initial);  // 12
  SplicerVariable*(SPLICER_CALL* FindVariable)(SplicerLibrary* self, const char* name);                      // 13
};

struct SplicerVariableOps {
  SplicerUnusedSlot unused0to1[2];
  uint32_t*(SPLICER_CALL* ValueAddress)(SplicerVariable* self);  // 2
};

struct SplicerInstanceOps {
  int(SPLICER_CALL* WriteByte)(SplicerInstance* self, uint32_t address, uint32_t value);   // 0
  int(SPLICER_CALL* WriteWord)(SplicerInstance* self, uint32_t address, uint32_t value);   // 1
  int(SPLICER_CALL* WriteDword)(SplicerInstance* self, uint32_t address, uint32_t value);  // 2
  SplicerUnusedSlot unused3to6[4];
  int(SPLICER_CALL* InstallHook)(SplicerInstance* self, uint32_t address, uint32_t selector1, uint32_t selector2,
                                 uint32_t selector3, void* hook_function);  // 7
  SplicerUnusedSlot unused8to18[11];
  int(SPLICER_CALL* WriteHexBytes)(SplicerInstance* self, uint32_t address, const char* format,
                                   void* arguments);  // 19
};

struct SplicerHookOps {
  SplicerUnusedSlot unused0to10[11];
  void*(SPLICER_CALL* GetDefaultFunction)(SplicerHook* self);  // 11
};

struct SplicerLibrary {
  const SplicerLibraryOps* ops;
};
struct SplicerInstance {
  const SplicerInstanceOps* ops;
};
struct SplicerVariable {
  const SplicerVariableOps* ops;
};
struct SplicerHook {
  const SplicerHookOps* ops;
};

// The library's entry, exported as "_GetSplicerX86@0".
using GetSplicerX86Entry = SplicerLibrary*(SPLICER_CALL*)();

static_assert(sizeof(void*) == 4, "the patching library is 32-bit x86");
static_assert(offsetof(SplicerLibraryOps, CreateInstance) == 0 * 4, "slot");
static_assert(offsetof(SplicerLibraryOps, GetInstance) == 1 * 4, "slot");
static_assert(offsetof(SplicerLibraryOps, CreateVariable) == 12 * 4, "slot");
static_assert(offsetof(SplicerLibraryOps, FindVariable) == 13 * 4, "slot");
static_assert(offsetof(SplicerVariableOps, ValueAddress) == 2 * 4, "slot");
static_assert(offsetof(SplicerInstanceOps, WriteByte) == 0 * 4, "slot");
static_assert(offsetof(SplicerInstanceOps, WriteWord) == 1 * 4, "slot");
static_assert(offsetof(SplicerInstanceOps, WriteDword) == 2 * 4, "slot");
static_assert(offsetof(SplicerInstanceOps, InstallHook) == 7 * 4, "slot");
static_assert(offsetof(SplicerInstanceOps, WriteHexBytes) == 19 * 4, "slot");
static_assert(offsetof(SplicerHookOps, GetDefaultFunction) == 11 * 4, "slot");
static_assert(offsetof(SplicerLibrary, ops) == 0 && offsetof(SplicerInstance, ops) == 0 &&
                  offsetof(SplicerVariable, ops) == 0 && offsetof(SplicerHook, ops) == 0,
              "the table address is each object's first member");

// Writes the bytes that the formatted text names (hexadecimal pairs separated
// by blanks) at the host address, through slot 19.
int write_hex_patch(SplicerInstance* instance, uint32_t address, const char* format, ...);
