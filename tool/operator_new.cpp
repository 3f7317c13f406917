// The tool's own operator new and delete. Every block comes from
// guarded_alloc, like all other heap blocks of the tool: a settings document
// carries the guard word too, and an exhausted heap shows the
// allocation-failure box and ends the process with exit code 1. The
// library's operator new would throw instead, and its exception and
// terminate machinery would be most of the size of the program.
#include <cstddef>

#include "guarded_alloc.h"

void* operator new(std::size_t size) { return guarded_alloc(static_cast<uint32_t>(size)); }

void operator delete(void* block) noexcept { guarded_free(block); }

void operator delete(void* block, std::size_t) noexcept { guarded_free(block); }
