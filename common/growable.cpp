#include "growable.h"

#include <cstring>

#include "guarded_alloc.h"

void resize_stepped_block(char** data, int32_t* capacity, int32_t bytes, int32_t step) {
  if (bytes <= 0) {
    guarded_free(*data);
    *data = nullptr;
    *capacity = 0;
    return;
  }
  const uint32_t units = (static_cast<uint32_t>(bytes) + static_cast<uint32_t>(step) - 1) / static_cast<uint32_t>(step);
  const int32_t wanted = static_cast<int32_t>(units * static_cast<uint32_t>(step));
  if (wanted == *capacity) return;
  // The heap keeps the leading bytes, and can often grow the block in place.
  char* block = static_cast<char*>(guarded_resize(*data, static_cast<uint32_t>(wanted)));
  if (wanted > *capacity) std::memset(block + *capacity, 0, static_cast<size_t>(wanted - *capacity));
  *data = block;
  *capacity = wanted;
}
