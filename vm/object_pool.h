// Size classes for the small heap objects (strings up to a couple of hundred
// bytes, array and codeblock headers): each class keeps a free list of
// equal cells carved from 64 KiB chunks, so an allocation or a release is a
// few instructions instead of a trip through the C allocator.
//
// A cell counts in the memory manager's bytes in use with its class size
// from its allocation to its release, exactly as a tracked block of that
// size would; the chunks themselves are not counted. The pool owns the
// chunks; releasePools gives them back (at teardown, after every object was
// freed or abandoned), taking the cells still out off the count.
#pragma once
#include <cstdint>

namespace xb {

// Cells are multiples of 16 bytes, at most POOL_MAX_CELL.
constexpr uint32_t POOL_GRAIN = 16;
constexpr uint32_t POOL_MAX_CELL = 256;
constexpr uint32_t POOL_CLASSES = POOL_MAX_CELL / POOL_GRAIN;

// The class of a request of `size` bytes: 1..POOL_CLASSES, or 0 when it is
// too large for the pools.
inline uint16_t poolClassOf(uint32_t size) {
    return size <= POOL_MAX_CELL ? uint16_t((size + POOL_GRAIN - 1) / POOL_GRAIN) : uint16_t(0);
}
inline uint32_t poolCellSize(uint16_t cls) { return uint32_t(cls) * POOL_GRAIN; }

// A cell of class cls (1..POOL_CLASSES), its bytes undefined; exhaustion is
// the memory manager's fatal error.
void* poolAlloc(uint16_t cls);
void poolFree(void* cell, uint16_t cls);
// Cells of all classes now out (for tests and teardown).
uint32_t poolCellsOut();
// Frees every chunk; the cells still out stop counting as bytes in use.
void releasePools();

}  // namespace xb
