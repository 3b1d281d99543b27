// Private heap over the C allocator: POSIX has no per-process heaps, and the
// memory manager above keeps its own accounting anyway.
#include <cstdlib>

#include "platform/platform.h"

namespace xb::os {

bool heapCreate() { return true; }
void* heapAlloc(uint32_t size) { return std::malloc(size ? size : 1); }
void* heapRealloc(void* p, uint32_t size) { return std::realloc(p, size ? size : 1); }
void heapFree(void* p) { std::free(p); }
void heapDestroy() {}

}  // namespace xb::os
