// The stand-in host's own routines that the plug-in's hooks reach, the host's
// SplicerHook objects that hand them out as default functions, and a caller
// that measures the stack around a hook call.
#pragma once
#include <cstdint>

// A dialog item record as the host lays it out: x, y, width, height at byte
// offsets 24, 26, 28, 30; the other bytes hold a fill pattern.
struct HostItem {
  unsigned char bytes[40];
};
// The 16-bit value at a byte offset of the item.
int16_t item_field(const HostItem& item, int offset);

struct HostDialog {
  int has100, has101;
  HostItem item100, item101;
  // What the host routines saw.
  int setup_calls;
  void* setup_this;
  int find_calls;
  void* find_this[4];
  uint32_t find_ids[4];
};

// The host's record of its file routine's calls.
struct FileCall {
  char path[600];
  const char* path_pointer;
  uint32_t value;
  int result;
};
struct FileLog {
  int count;
  FileCall calls[4];
};
extern FileLog file_log;

// SplicerHook of the host: slot 11 gives the default function; any other
// slot ends the process. Counts the slot 11 calls.
struct HostHook {
  const void* const* ops;
  void* default_function;
  int default_calls;
};
void host_hook_init(HostHook* hook, void* default_function);

// Default function of the dialog hook: thiscall, no stack arguments; marks
// the dialog as set up and gives a value the hook must not pass on.
void* host_dialog_setup_address();
// The host's find-item routine: thiscall, one stack argument (the id).
void* host_find_item_address();
// Default function of the file hook: cdecl (path, value). Gives 0 unless the
// path names an existing file, then 0x1000 plus the call number.
void* host_file_routine_address();
// A file routine that always succeeds at once (benchmarks).
void* host_file_quick_address();

// Pushes args[n-1] down to args[0] (args[0] ends on top), calls fn and gives
// its eax; *esp_delta gets esp after the call minus esp before the pushes:
// 0 when the callee removed its arguments (stdcall), -4n when it left them
// for the caller to remove (cdecl).
uint32_t call_with_stack(void* fn, const uint32_t* args, int n, int32_t* esp_delta);
