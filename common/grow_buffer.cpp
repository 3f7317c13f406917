#include "grow_buffer.h"

#include "growable.h"

void GrowBuffer::Resize(int32_t n) {
  resize_stepped_block(&data, &capacity, n, kStep);
  size = n > 0 ? n : 0;
}
