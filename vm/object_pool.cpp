#include "vm/object_pool.h"

#include <cstddef>
#include <cstring>

#include "platform/platform.h"
#include "base/memory.h"

// Under AddressSanitizer a free cell is poisoned past its link word, so that
// a use of an object after the collector freed it is reported as it would
// be with malloc (the link word stays readable: the sweep reads it to tell
// free cells from cells in use).
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
// The link word of a free cell; the rest of the cell is poisoned.
constexpr uint32_t LINK_BYTES = 8;
static_assert(sizeof(void*) <= LINK_BYTES && POOL_MIN_CELL >= LINK_BYTES, "a free cell holds its link");

struct FreeCell {
    FreeCell* next;
};

// The first grain of a chunk says which class its cells belong to; the
// cells follow, from CHUNK_HEAD on.
struct ChunkHead {
    uint16_t cls;
    uint16_t pad;
    uint32_t cells;
};
constexpr uint32_t CHUNK_HEAD = 16;
static_assert(sizeof(ChunkHead) <= CHUNK_HEAD && CHUNK_HEAD % POOL_GRAIN == 0, "the chunk head fits before the cells");

FreeCell* freeLists[POOL_CLASSES + 1];
// Every chunk, in ascending address order (the sweep's order).
ChunkHead** chunkList;
uint32_t chunkCount;
uint32_t chunkCapacity;
uint32_t cellsOut;
int64_t bytesOut;

inline void poisonFree(void* cell, uint32_t size) {
    XB_POISON(static_cast<char*>(cell) + LINK_BYTES, size - LINK_BYTES);
}

void addChunk(ChunkHead* c) {
    if (chunkCount == chunkCapacity) {
        uint32_t cap = chunkCapacity ? chunkCapacity * 2 : 64;
        const uint32_t bytes = cap * uint32_t(sizeof(ChunkHead*));
        void* grown = chunkList ? os::heapRealloc(chunkList, bytes) : os::heapAlloc(bytes);
        if (!grown) memExhausted();
        chunkList = static_cast<ChunkHead**>(grown);
        chunkCapacity = cap;
    }
    // binary search for the insertion point
    uint32_t lo = 0, hi = chunkCount;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (chunkList[mid] < c) lo = mid + 1;
        else hi = mid;
    }
    std::memmove(chunkList + lo + 1, chunkList + lo, (chunkCount - lo) * sizeof(ChunkHead*));
    chunkList[lo] = c;
    ++chunkCount;
}

// Carves a new chunk into cells of class cls.
void refill(uint16_t cls) {
    auto* c = static_cast<ChunkHead*>(os::heapAlloc(CHUNK_BYTES));
    if (!c) memExhausted();
    uint32_t cell = poolCellSize(cls);
    c->cls = cls;
    c->pad = 0;
    c->cells = (CHUNK_BYTES - CHUNK_HEAD) / cell;
    addChunk(c);
    char* p = reinterpret_cast<char*>(c) + CHUNK_HEAD;
    FreeCell* list = freeLists[cls];
    // pushed from the end down, so the list hands cells out in address order
    for (uint32_t i = c->cells; i-- > 0;) {
        auto* f = reinterpret_cast<FreeCell*>(p + size_t(i) * cell);
        f->next = list;
        list = f;
        poisonFree(f, cell);
    }
    freeLists[cls] = list;
}

inline bool inUse(const void* cell) { return (*static_cast<const uint8_t*>(cell) & 7) != 0; }

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
    poisonFree(f, poolCellSize(cls));
    --cellsOut;
    bytesOut -= poolCellSize(cls);
    memAccount(-int32_t(poolCellSize(cls)));
}

uint32_t poolSweep(PoolReleaseTest release) {
    FreeCell* tails[POOL_CLASSES + 1];
    for (uint32_t k = 0; k <= POOL_CLASSES; ++k) {
        freeLists[k] = nullptr;
        tails[k] = nullptr;
    }
    uint32_t released = 0;
    int64_t releasedBytes = 0;
    for (uint32_t ci = 0; ci < chunkCount; ++ci) {
        ChunkHead* c = chunkList[ci];
        const uint16_t cls = c->cls;
        const uint32_t cell = poolCellSize(cls);
        char* p = reinterpret_cast<char*>(c) + CHUNK_HEAD;
        char* end = p + size_t(c->cells) * cell;
        FreeCell* tail = tails[cls];
        FreeCell* head = nullptr;  // the first free cell of this chunk
        FreeCell* last = nullptr;
        for (; p < end; p += cell) {
            if (inUse(p)) {
                if (!release(p)) continue;
                ++released;
                releasedBytes += cell;
                poisonFree(p, cell);
            }
            auto* f = reinterpret_cast<FreeCell*>(p);
            if (last) last->next = f;
            else head = f;
            last = f;
        }
        if (!last) continue;
        last->next = nullptr;
        if (tail) tail->next = head;
        else freeLists[cls] = head;
        tails[cls] = last;
    }
    cellsOut -= released;
    bytesOut -= releasedBytes;
    memAccount(-int32_t(releasedBytes));
    return released;
}

uint32_t poolCellsOut() { return cellsOut; }

void releasePools() {
    memAccount(-int32_t(bytesOut));
    bytesOut = 0;
    cellsOut = 0;
    for (uint32_t i = 0; i < chunkCount; ++i) {
        XB_UNPOISON(chunkList[i], CHUNK_BYTES);
        os::heapFree(chunkList[i]);
    }
    if (chunkList) os::heapFree(chunkList);
    chunkList = nullptr;
    chunkCount = chunkCapacity = 0;
    for (auto& f : freeLists) f = nullptr;
}

}  // namespace xb
