#include "vm/object_pool.h"

#include <cstddef>

#include "platform/platform.h"
#include "base/memory.h"

// Under AddressSanitizer a free cell is poisoned, so that a use of an object
// after the collector freed it is reported as it would be with malloc.
#if defined(__SANITIZE_ADDRESS__)
#define XB_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define XB_POOL_ASAN 1
#endif
#endif
#ifdef XB_POOL_ASAN
#include <sanitizer/asan_interface.h>
#define XB_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define XB_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define XB_POISON(p, n) ((void)(p), (void)(n))
#define XB_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace xb {

namespace {

constexpr uint32_t CHUNK_BYTES = 64 * 1024;

struct FreeCell {
    FreeCell* next;
};

// Chunks are linked through their first cell-sized slot, which is never
// handed out.
struct Chunk {
    Chunk* next;
};
static_assert(sizeof(Chunk) <= POOL_GRAIN, "the chunk link fits in the first grain");

FreeCell* freeLists[POOL_CLASSES + 1];
Chunk* chunks;
uint32_t cellsOut;
int64_t bytesOut;

// Carves a new chunk into cells of class cls (after the link grain).
void refill(uint16_t cls) {
    auto* c = static_cast<Chunk*>(os::heapAlloc(CHUNK_BYTES));
    if (!c) memExhausted();
    c->next = chunks;
    chunks = c;
    uint32_t cell = poolCellSize(cls);
    char* p = reinterpret_cast<char*>(c) + POOL_GRAIN;
    char* end = reinterpret_cast<char*>(c) + CHUNK_BYTES;
    FreeCell* list = freeLists[cls];
    // pushed from the end down, so the list hands cells out in address order
    uint32_t n = uint32_t((end - p) / cell);
    for (uint32_t i = n; i-- > 0;) {
        auto* f = reinterpret_cast<FreeCell*>(p + size_t(i) * cell);
        f->next = list;
        list = f;
        XB_POISON(f, cell);
    }
    freeLists[cls] = list;
}

}  // namespace

void* poolAlloc(uint16_t cls) {
    if (!freeLists[cls]) [[unlikely]] refill(cls);
    FreeCell* f = freeLists[cls];
    XB_UNPOISON(f, poolCellSize(cls));
    freeLists[cls] = f->next;
    ++cellsOut;
    bytesOut += poolCellSize(cls);
    memAccount(int32_t(poolCellSize(cls)));
    return f;
}

void poolFree(void* cell, uint16_t cls) {
    auto* f = static_cast<FreeCell*>(cell);
    f->next = freeLists[cls];
    freeLists[cls] = f;
    XB_POISON(f, poolCellSize(cls));
    --cellsOut;
    bytesOut -= poolCellSize(cls);
    memAccount(-int32_t(poolCellSize(cls)));
}

uint32_t poolCellsOut() { return cellsOut; }

void releasePools() {
    memAccount(-int32_t(bytesOut));
    bytesOut = 0;
    cellsOut = 0;
    while (chunks) {
        Chunk* c = chunks;
        XB_UNPOISON(c, CHUNK_BYTES);
        chunks = c->next;
        os::heapFree(c);
    }
    for (auto& f : freeLists) f = nullptr;
}

}  // namespace xb
