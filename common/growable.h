// The growth rule shared by the plug-in's GrowBuffer (step 5000 bytes) and the
// settings document's item array (step 64 bytes): the block is sized to the
// smallest whole number of steps that holds the bytes in use, is reallocated
// whenever that changes (shrinking too), keeps its leading bytes, and zeroes
// the room a growth adds. Blocks come from guarded_alloc.
#pragma once
#include <cstdint>

// Resizes *data (capacity in *capacity bytes) for `bytes` bytes in use;
// bytes 0 releases the block and leaves none with capacity 0.
void resize_stepped_block(char** data, int32_t* capacity, int32_t bytes, int32_t step);
