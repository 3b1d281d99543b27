// Heap objects (strings, arrays, codeblocks) and the mark-and-sweep collector
// that reclaims them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/item.h"

namespace xb {

struct ModuleSymbol;

// The record behind a Codeblock Item.
struct Codeblock {
    uint32_t flags;  // CB_INPLACE or CB_OWNED
    const uint8_t* code;
    ModuleSymbol* moduleSymbols;
    uint32_t definingFrame;  // EvalStack slot, or DETACHED
    uint8_t localCount;
    uint8_t pad[3];
    Item* staticsBase;
    GlobalSymbol* procSymbol;
    Item detachedLocals;  // NIL or an Array Item
    uint32_t definingSerial;  // serial of the defining frame's call (FrameExtra::serial)
};
#if XB_TARGET_64
static_assert(offsetof(Codeblock, code) == 8 && offsetof(Codeblock, definingFrame) == 24 &&
                  offsetof(Codeblock, staticsBase) == 32 && offsetof(Codeblock, detachedLocals) == 48 &&
                  offsetof(Codeblock, definingSerial) == 64 && sizeof(Codeblock) == 72,
              "Codeblock layout on x86_64");
#else
// The Item keeps the alignment of its double: 8 bytes in the Windows ABI, 4 in
// the Linux i386 ABI, so the detached locals start at 32 or at 28.
static_assert(offsetof(Codeblock, code) == 4 && offsetof(Codeblock, definingFrame) == 12 &&
                  offsetof(Codeblock, staticsBase) == 20 &&
                  offsetof(Codeblock, detachedLocals) == (alignof(Item) == 8 ? 32u : 28u) &&
                  offsetof(Codeblock, definingSerial) == offsetof(Codeblock, detachedLocals) + sizeof(Item),
              "Codeblock layout on i386");
#endif
constexpr uint32_t CB_INPLACE = 1;
constexpr uint32_t CB_OWNED = 4;
constexpr uint32_t ARRAY_DETACHED = 2;  // array flags: the owning frame returned

// Allocates one heap object after the collector's threshold check. The new
// object is not reachable from any root: store it in a rooted Item at once.
ObjectBody* newObject(ObjectKind kind, uint32_t extra = 0);

// Builders that leave the new value in *out (which must be a rooted Item).
void makeString(Item* out, const char* bytes, uint32_t n);   // kind 1 copy
char* makeStringBuffer(Item* out, uint32_t n);               // kind 1, n bytes + NUL, caller fills
void makeConstString(Item* out, const char* bytes, uint32_t n);  // kind 2, bytes not owned
void makeArray(Item* out, uint32_t n);                       // n NILs, capacity n + 64
Codeblock* makeCodeblock(Item* out);                         // zero-filled record
// A constant String outside the collector's lists (kind 2, bytes not owned):
// never marked, never swept, freed only by freePermanentObject.
ObjectBody* newPermanentString(const char* bytes, uint32_t n);
void freePermanentObject(ObjectBody* body);
void arrayResize(Item* array, int32_t delta);
void arrayGrowTo(ObjectBody* array, uint32_t count);

// Collector.
void collectGarbage(bool force);  // threshold check, then collect
void requestCollection();         // the next check collects regardless of growth
void markItem(Item* it);          // used by root walkers (iterative: any depth)
// New allocation after which the next collection runs: max(4,000,000, bytes
// of the objects the last collection kept).
uint32_t lastCollectionGrowth();
extern void (*&gcMarkMemvarRoots)();  // marks the memory-variable table (set by the variables layer)
void gcIdleTask();
void freeAllObjects();  // teardown helper for tests: frees every live object
uint32_t liveObjectCount();

}  // namespace xb
