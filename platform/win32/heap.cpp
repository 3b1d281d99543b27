// Private heap: one growable Win32 heap for the whole runtime.
#include <windows.h>

#include "platform/platform.h"

namespace xb::os {

static HANDLE privateHeap;

// Creating the heap again while it exists keeps the one there: blocks taken
// from it must go back to the heap they came from.
bool heapCreate() {
    if (!privateHeap) privateHeap = HeapCreate(0, 4096, 0);
    return privateHeap != nullptr;
}
void* heapAlloc(uint32_t size) { return HeapAlloc(privateHeap, 0, size); }
void* heapRealloc(void* p, uint32_t size) { return HeapReAlloc(privateHeap, 0, p, size); }
void heapFree(void* p) {
    if (p) HeapFree(privateHeap, 0, p);
}
void heapDestroy() {
    if (privateHeap) HeapDestroy(privateHeap);
    privateHeap = nullptr;
}

}  // namespace xb::os
