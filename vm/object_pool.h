// Size classes for the small heap objects (strings up to a couple of hundred
// bytes, array and codeblock headers): each class keeps a free list of
// equal cells carved from 64 KiB chunks, so an allocation or a release is a
// few instructions instead of a trip through the C allocator, and the
// collector sweeps the cells chunk by chunk in address order instead of
// walking a list of objects.
//
// A cell counts in the memory manager's bytes in use with its class size
// from its allocation to its release, exactly as a tracked block of that
// size would; the chunks themselves are not counted. The pool owns the
// chunks; releasePools gives them back (at teardown, after every object was
// freed or abandoned), taking the cells still out off the count.
//
// How the sweep tells cells apart: the first byte of a cell in use has one
// of its low three bits set (the heap objects' kind byte, 1..4, sits there);
// a free cell's first word is its free-list link, the address of another
// cell or null, a multiple of 8, so its low three bits are clear.
#pragma once
#include <cstdint>

namespace xb {

// Cells are multiples of 8 bytes, at least POOL_MIN_CELL and at most
// POOL_MAX_CELL.
constexpr uint32_t POOL_GRAIN = 8;
constexpr uint32_t POOL_MIN_CELL = 16;
constexpr uint32_t POOL_MAX_CELL = 256;
constexpr uint32_t POOL_CLASSES = POOL_MAX_CELL / POOL_GRAIN;

// The class of a request of `size` bytes: 1..POOL_CLASSES, or 0 when it is
// too large for the pools. Requests below POOL_MIN_CELL get that size.
inline uint16_t poolClassOf(uint32_t size) {
    if (size < POOL_MIN_CELL) size = POOL_MIN_CELL;
    return size <= POOL_MAX_CELL ? uint16_t((size + POOL_GRAIN - 1) / POOL_GRAIN) : uint16_t(0);
}
inline uint32_t poolCellSize(uint16_t cls) { return uint32_t(cls) * POOL_GRAIN; }

// A cell of class cls (1..POOL_CLASSES), its bytes undefined; exhaustion is
// the memory manager's fatal error. The caller must set the cell's first
// byte to a value with one of its low three bits set before the next sweep.
void* poolAlloc(uint16_t cls);
void poolFree(void* cell, uint16_t cls);

// The sweep: visits every cell in use, chunk by chunk in ascending address
// order. `release` returns true when the cell is to go back to its class
// (the callee has freed whatever the cell owned); the free lists are then
// rebuilt in address order, so the next allocations fill the heap from its
// low end. Returns the number of cells released.
using PoolReleaseTest = bool (*)(void* cell);
uint32_t poolSweep(PoolReleaseTest release);

// Cells of all classes now out (for tests and teardown).
uint32_t poolCellsOut();
// Frees every chunk; the cells still out stop counting as bytes in use.
void releasePools();

}  // namespace xb
