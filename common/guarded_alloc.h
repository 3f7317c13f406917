// Heap blocks marked with a guard word, checked when they are given back.
#pragma once
#include <cstdint>

// The 32-bit word stored in the 4 bytes before every user area.
constexpr uint32_t kGuardWord = 0x0BADF00Du;

// Returns a user area of n bytes (not cleared). On an exhausted heap it shows
// the allocation-failure box and ends the process with exit code 1: it never
// returns without a block, since no caller checks the result.
void* guarded_alloc(uint32_t n);

// Resizes a block from guarded_alloc (none acts as guarded_alloc) to n bytes,
// keeping its first bytes up to the smaller size; the heap may do this in
// place. Exhausted memory ends the process as in guarded_alloc.
void* guarded_resize(void* p, uint32_t n);

// Gives a block from guarded_alloc back to the heap; none does nothing. A
// block without the guard word is never released: the plug-in build records
// the caller in trace_log, then both builds stop at a debugger break.
void guarded_free(void* p);
