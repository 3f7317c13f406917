// What the stand-in patching library offers the stand-in host besides the
// library's own entry: the record of every call made to it, in order, and a
// few switches to make it fail. Reached through the export "standin_control".
#pragma once
#include <cstdint>

enum StandinCallKind : int32_t {
  kCallEntry = 1,        // _GetSplicerX86@0
  kCallCreateInstance,   // library slot 0
  kCallGetInstance,      // library slot 1
  kCallCreateVariable,   // library slot 12
  kCallFindVariable,     // library slot 13
  kCallValueAddress,     // variable slot 2
  kCallWriteByte,        // instance slot 0
  kCallWriteWord,        // instance slot 1
  kCallWriteDword,       // instance slot 2
  kCallInstallHook,      // instance slot 7
  kCallWriteHexBytes,    // instance slot 19
  kCallMisuse,           // any other slot: the process ends with kMisuseExitCode
};

constexpr int kMisuseExitCode = 70;
constexpr int kStandinMaxCalls = 4096;

struct StandinCall {
  int32_t kind;
  uint32_t object;        // the object the call was made on
  uint32_t address;       // host address of a write or hook
  uint32_t value;         // value written, initial value of a variable
  uint32_t selectors[3];  // of a hook
  uint32_t function;      // hook function
  uint32_t result;        // what the call gave back
  int32_t slot;           // of a misuse
  char text[64];          // owner or variable name, hex text as formatted
};

struct StandinControl {
  // Record.
  int32_t call_count;
  StandinCall calls[kStandinMaxCalls];
  int32_t rejected_writes;  // writes outside the host range, or a bad hex text
  // Switches the host sets before the plug-in loads.
  int32_t entry_gives_none;
  int32_t create_instance_fails;
  int32_t create_variable_fails;
  uint32_t host_low, host_high;  // writes must fall inside [low, high)
  // Time spent inside the library's operations, in QueryPerformanceCounter ticks.
  int64_t work_ticks;
  // Start of the first and end of the last operation since the last reset.
  int64_t first_tick, last_tick;
  // Host services: publish a shared variable (created, or set when present)
  // and register an owner name, as the product part that loads the plug-in would.
  uint32_t* (*publish)(const char* name, uint32_t value);
  void (*register_owner)(const char* owner);
  // Forgets instances, variables and the record (benchmarks reload the plug-in).
  void (*reset)();
  // Set by the host: called as each hook is installed, as a host thread that
  // runs into the hooked code at that moment would.
  void (*hook_installed)(uint32_t address, void* function);
};

using StandinControlEntry = StandinControl* (*)();
