#include "splicer.h"

#include <cstdarg>

int write_hex_patch(SplicerInstance* instance, uint32_t address, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  // On x86 the argument list is the address of the first further argument.
  const int result = instance->ops->WriteHexBytes(instance, address, format, static_cast<void*>(arguments));
  va_end(arguments);
  return result;
}
