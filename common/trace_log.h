// The plug-in's in-memory trace: CR LF terminated lines followed by one zero
// byte, kept for a debugger to look at. Nothing writes it to a file.
#pragma once
#include <cstdint>

#include "grow_buffer.h"

struct TraceLog {
  GrowBuffer buffer;
  int32_t position;  // end of the text, where the next line begins
  ~TraceLog();       // gives the block back when the plug-in is unloaded
};

constexpr int kTraceLineSize = 256;  // longer lines are cut

TraceLog& trace_log();
// Appends one formatted line.
void trace_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
