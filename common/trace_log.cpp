#include "trace_log.h"

#include <cstdarg>
#include <cstring>

#include "error_box.h"
#include "guarded_alloc.h"

namespace {
TraceLog the_log;  // zero at load; its destructor runs at unload
char scratch[kTraceLineSize];
}  // namespace

TraceLog::~TraceLog() {
  guarded_free(buffer.data);
  buffer.data = nullptr;
  buffer.size = 0;
  buffer.capacity = 0;
  position = 0;
}

TraceLog& trace_log() { return the_log; }

void trace_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = bounded_format(scratch, sizeof scratch, format, args);
  va_end(args);
  const uint32_t needed = static_cast<uint32_t>(the_log.position) + static_cast<uint32_t>(length) + 3u;
  if (!(needed < static_cast<uint32_t>(the_log.buffer.size))) the_log.buffer.Resize(static_cast<int32_t>(needed));
  char* at = the_log.buffer.data + the_log.position;
  std::memcpy(at, scratch, static_cast<size_t>(length));
  at[length] = '\r';
  at[length + 1] = '\n';
  at[length + 2] = '\0';
  the_log.position += length + 2;
}
