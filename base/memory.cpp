#include "base/memory.h"

#include <cstdio>
#include <cstring>

#include "base/hooks.h"
#include "platform/platform.h"

namespace xb {

namespace {

struct BlockHeader {
    uint32_t size;
    BlockHeader* next;  // older
    BlockHeader* prev;  // newer
};
static_assert(sizeof(BlockHeader) == 3 * sizeof(void*), "block header: 12 bytes on i386, 24 on x86_64");

BlockHeader* newest;
int32_t bytesInUse;
int32_t peakBytes;

struct IdleEntry {
    IdleTask task;
    uint16_t mask;
};
IdleEntry* idleTable;
uint16_t idleCount;
uint16_t idleCapacity;


void* rawAlloc(uint32_t size) {
    if (size == 0 || size >= 0xFFFFFFE1u) return nullptr;
    return os::heapAlloc(size);
}

void noteGrowth() {
    if (bytesInUse > peakBytes) peakBytes = bytesInUse;
}

}  // namespace

void (*&memReleaseItemAreas)() = runtimeHooks.memReleaseItemAreas;
bool (*&memClassSystemStarted)() = runtimeHooks.memClassSystemStarted;
void (*&memReportLine)(const char* text) = runtimeHooks.memReportLine;
void (*&memExhausted)() = runtimeHooks.memExhausted;

void* memAlloc(uint32_t size) {
    if (size > 0xFFFFFFE0u - sizeof(BlockHeader)) memExhausted();
    auto* b = static_cast<BlockHeader*>(rawAlloc(size + sizeof(BlockHeader)));
    if (!b) memExhausted();
    b->size = size;
    b->next = newest;
    b->prev = nullptr;
    if (newest) newest->prev = b;
    newest = b;
    bytesInUse += int32_t(size);
    noteGrowth();
    return b + 1;
}

void* memAllocZero(uint32_t size) {
    void* p = memAlloc(size);
    std::memset(p, 0, size);
    return p;
}

void* memRealloc(void* p, uint32_t size) {
    if (!p) return memAlloc(size);
    if (size > 0xFFFFFFE0u - sizeof(BlockHeader)) memExhausted();
    auto* old = static_cast<BlockHeader*>(p) - 1;
    int32_t oldSize = int32_t(old->size);
    auto* b = static_cast<BlockHeader*>(os::heapRealloc(old, size + sizeof(BlockHeader)));
    if (!b) memExhausted();
    bytesInUse += int32_t(size) - oldSize;
    noteGrowth();
    b->size = size;
    if (b->next) b->next->prev = b;
    if (b->prev) b->prev->next = b;
    else newest = b;
    return b + 1;
}

void memFree(void* p) {
    if (!p) return;
    auto* b = static_cast<BlockHeader*>(p) - 1;
    bytesInUse -= int32_t(b->size);
    if (b->next) b->next->prev = b->prev;
    if (b->prev) b->prev->next = b->next;
    else newest = b->next;
    os::heapFree(b);
}

uint32_t memBlockSize(const void* p) { return (static_cast<const BlockHeader*>(p) - 1)->size; }

int32_t memInUse() { return bytesInUse; }

void memAccount(int32_t delta) {
    bytesInUse += delta;
    noteGrowth();
}
int32_t memPeak() { return peakBytes; }

uint32_t memTeardown(uint32_t code) {
    if (memReleaseItemAreas) memReleaseItemAreas();
    while (newest) {
        BlockHeader* b = newest;
        newest = b->next;
        bytesInUse -= int32_t(b->size);
        os::heapFree(b);
    }
    idleTable = nullptr;
    idleCount = idleCapacity = 0;
    os::heapDestroy();
    if (bytesInUse != 0 && memClassSystemStarted && memClassSystemStarted() && memReportLine) {
        char line[64];
        std::snprintf(line, sizeof line, "Bytes sin liberar: %ld", long(bytesInUse));
        memReportLine(line);
    }
    return code;
}

uint16_t registerIdleTask(IdleTask task, uint16_t mask) {
    if (idleCount == idleCapacity) {
        idleCapacity = uint16_t(idleCapacity + 16);
        idleTable = static_cast<IdleEntry*>(memRealloc(idleTable, idleCapacity * sizeof(IdleEntry)));
    }
    if (!task) return 0;
    idleTable[idleCount].task = task;
    idleTable[idleCount].mask = mask;
    return ++idleCount;
}

void dispatchIdleTasks(uint16_t mask) {
    for (uint16_t i = 0; i < idleCount; ++i)
        if (idleTable[i].mask & mask) idleTable[i].task();
}

void freeIdleTasks() {
    memFree(idleTable);
    idleTable = nullptr;
    idleCount = idleCapacity = 0;
}

}  // namespace xb
