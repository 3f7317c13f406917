// A byte buffer that grows and shrinks in steps of 5000 bytes (plug-in build).
#pragma once
#include <cstdint>

struct GrowBuffer {
  char* data;        // guarded block, or none exactly when capacity is 0
  int32_t size;      // bytes in use, as last set by Resize
  int32_t capacity;  // 0 or a whole multiple of 5000

  static constexpr int32_t kStep = 5000;

  // Sets the size to n; 0 releases the block.
  void Resize(int32_t n);
};
