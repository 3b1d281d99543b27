#include "vm/object.h"

#include <cstddef>
#include <cstring>

#include "base/memory.h"
#include "base/hooks.h"
#include "vm/literals.h"
#include "vm/object_pool.h"
#include "vm/short_strings.h"
#include "vm/stack.h"
#include "vm/vm.h"

namespace xb {

namespace {

// Objects too large for a pool cell sit in blocks of their own, behind a
// link that chains them for the sweep.
struct LargeLink {
    LargeLink* next;
    void* pad;  // keeps the object 8-aligned on i386
};
static_assert(sizeof(LargeLink) % 8 == 0, "large objects stay 8-aligned");

constexpr int32_t MIN_COLLECTION_GROWTH = 4000000;

// The collector's whole state. freeAllObjects frees every object and puts
// the record back to this state, as at start-up.
struct CollectorState {
    LargeLink* largeList = nullptr;  // objects too large for a pool cell
    uint32_t liveObjects = 0;        // objects allocated by newObject and not yet freed
    bool forceRequested = false;
    bool collecting = false;
    int32_t collectionBase = 0;  // memInUse() after the last collection

    // Objects marked but not yet scanned. Marking never recurses: a nested
    // structure of any depth costs this array, not native stack. It lives on
    // the tracked heap only during a collection (growing it past what the
    // heap can give is the memory manager's fatal error).
    ObjectBody** markStack = nullptr;
    uint32_t markCount = 0;
    uint32_t markCapacity = 0;
    // Bytes of the objects marked in the running collection.
    uint32_t markedBytes = 0;

    // New allocation that starts the next collection: 4,000,000 bytes for a
    // small heap, as many bytes as the live heap for a large one, so that
    // building a structure of n bytes marks O(n) bytes in all.
    int32_t collectionGrowth = MIN_COLLECTION_GROWTH;
};
CollectorState collector;

constexpr uint8_t MARK_NONE = 0;
constexpr uint8_t MARK_LIVE = 1;
// Permanent objects carry a mark no collection ever sets or clears, so
// marking passes them by and the sweep keeps them.
constexpr uint8_t MARK_PERMANENT = 2;

// Frees what the object owns besides its cell or block.
void freeContents(HeapObject* o) {
    switch (o->h.kind) {
    case K_ARRAY:
        memFree(o->b.data);
        break;
    case K_BLOCK: {
        auto* cb = static_cast<Codeblock*>(o->b.data);
        if (cb && (cb->flags & CB_OWNED)) memFree(const_cast<uint8_t*>(cb->code));
        memFree(cb);
        break;
    }
    default:  // a kind-1 string's bytes live in the same cell; kind 2 owns none
        break;
    }
}

// Frees a pooled object outside a sweep (permanent objects, teardown).
void freePooled(HeapObject* o) {
    freeContents(o);
    poolFree(o, o->h.sizeClass);
}

}  // namespace

void (*&gcMarkMemvarRoots)() = runtimeHooks.gcMarkMemvarRoots;

ObjectBody* newObject(ObjectKind kind, uint32_t extra) {
    collectGarbage(false);
    uint32_t size = uint32_t(sizeof(HeapObject)) + extra;
    uint16_t cls = extra <= POOL_MAX_CELL ? poolClassOf(size) : uint16_t(0);
    HeapObject* o;
    if (cls) [[likely]] {
        o = static_cast<HeapObject*>(poolAlloc(cls));
    } else {
        auto* l = static_cast<LargeLink*>(memAlloc(uint32_t(sizeof(LargeLink)) + size));
        l->next = collector.largeList;
        l->pad = nullptr;
        collector.largeList = l;
        o = reinterpret_cast<HeapObject*>(l + 1);
    }
    std::memset(o, 0, sizeof(HeapObject));
    o->h.sizeClass = cls;
    o->h.kind = kind;
    o->h.mark = MARK_NONE;
    ++collector.liveObjects;
    return &o->b;
}

void makeString(Item* out, const char* bytes, uint32_t n) {
    if (ObjectBody* shared = sharedShortString(bytes, n)) {
        itemClear(out);
        out->type = T_STRING;
        setStrLength(out, n);
        out->v.o.ptr = shared;
        return;
    }
    char* buf = makeStringBuffer(out, n);
    if (n) std::memcpy(buf, bytes, n);
}

// A String's body leaves its array fields (capacity, class handle) unused:
// up to seven bytes and the NUL are kept there, inside the object itself.
constexpr uint32_t INLINE_STRING_BYTES = offsetof(ObjectBody, data) - offsetof(ObjectBody, capacity);
static_assert(INLINE_STRING_BYTES == 8, "eight bytes between the length and the data pointer");

char* makeStringBuffer(Item* out, uint32_t n) {
    if (n > 0xFFFFFFE0u - sizeof(HeapObject) - 64) memExhausted();
    const bool inside = n < INLINE_STRING_BYTES;
    ObjectBody* b = newObject(K_STRING, inside ? 0 : n + 1);
    char* buf = inside ? reinterpret_cast<char*>(&b->capacity) : reinterpret_cast<char*>(objectOf(b) + 1);
    buf[n] = 0;
    b->length = n;
    b->data = buf;
    itemClear(out);
    out->type = T_STRING;
    setStrLength(out, n);
    out->v.o.ptr = b;
    return buf;
}

void makeConstString(Item* out, const char* bytes, uint32_t n) {
    ObjectBody* b = newObject(K_CONSTSTRING);
    b->length = n;
    b->data = const_cast<char*>(bytes);
    itemClear(out);
    out->type = T_STRING;
    setStrLength(out, n);
    out->v.o.ptr = b;
}

ObjectBody* newPermanentString(const char* bytes, uint32_t n) {
    uint16_t cls = poolClassOf(uint32_t(sizeof(HeapObject)));
    auto* o = static_cast<HeapObject*>(poolAlloc(cls));
    std::memset(o, 0, sizeof(HeapObject));
    o->h.sizeClass = cls;
    o->h.kind = K_CONSTSTRING;
    o->h.mark = MARK_PERMANENT;
    o->b.length = n;
    o->b.data = const_cast<char*>(bytes);
    return &o->b;
}

void freePermanentObject(ObjectBody* body) { freePooled(objectOf(body)); }

namespace {

// Element storage is committed as it is used: an array starts with room for
// its elements (at least ARRAY_MIN_COMMIT) and its storage grows by a
// quarter as elements are added, up to its capacity, which keeps the values
// n + 64 and old + count + 64 that ASIZE's growth rules fix.
constexpr uint32_t ARRAY_MIN_COMMIT = 4;

inline uint32_t committedSlots(const ObjectBody* a) { return memBlockSize(a->data) / uint32_t(sizeof(Item)); }

}  // namespace

void makeArray(Item* out, uint32_t n) {
    if (n > (0xFFFFFFE0u / sizeof(Item)) - 128) memExhausted();
    ObjectBody* b = newObject(K_ARRAY);
    // Root the object before the element allocation, which cannot collect
    // but keeps the invariant simple.
    itemClear(out);
    out->type = T_ARRAY;
    out->v.o.ptr = b;
    b->capacity = n + 64;
    b->length = n;
    b->data = memAllocZero((n > ARRAY_MIN_COMMIT ? n : ARRAY_MIN_COMMIT) * uint32_t(sizeof(Item)));
}

Codeblock* makeCodeblock(Item* out) {
    ObjectBody* b = newObject(K_BLOCK);
    itemClear(out);
    out->type = T_BLOCK;
    out->v.o.ptr = b;
    auto* cb = static_cast<Codeblock*>(memAllocZero(sizeof(Codeblock)));
    b->data = cb;
    return cb;
}

void arrayGrowTo(ObjectBody* a, uint32_t count) {
    if (count > a->capacity) {
        uint64_t cap = uint64_t(count) + a->capacity + 64;
        if (cap * sizeof(Item) > 0xFFFFFFE0u - 64) memExhausted();
        a->capacity = uint32_t(cap);
    }
    uint32_t committed = committedSlots(a);
    if (count > committed) {
        uint64_t want = uint64_t(committed) + committed / 4 + ARRAY_MIN_COMMIT;
        if (want < count) want = count;
        if (want > a->capacity) want = a->capacity;
        a->data = memRealloc(a->data, uint32_t(want * sizeof(Item)));
    }
    if (count > a->length)
        std::memset(static_cast<Item*>(a->data) + a->length, 0, (count - a->length) * sizeof(Item));
    a->length = count;
}

void arrayResize(Item* array, int32_t delta) {
    ObjectBody* a = bodyOf(array);
    int64_t n = int64_t(a->length) + delta;
    if (n < 0) n = 0;
    if (n > 0x7FFFFFFF) memExhausted();
    arrayGrowTo(a, uint32_t(n));
}

namespace {

uint32_t objectBytes(const HeapObject* o) {
    uint32_t n = o->h.sizeClass ? poolCellSize(o->h.sizeClass) : uint32_t(sizeof(LargeLink) + sizeof(HeapObject));
    switch (o->h.kind) {
    case K_STRING:
        if (!o->h.sizeClass) n += o->b.length + 1;
        break;
    case K_ARRAY: n += memBlockSize(o->b.data); break;
    case K_BLOCK: n += uint32_t(sizeof(Codeblock)); break;
    default: break;
    }
    return n;
}

void pushMark(ObjectBody* b) {
    if (collector.markCount == collector.markCapacity) {
        uint32_t cap = collector.markCapacity ? collector.markCapacity * 2 : 256;
        collector.markStack = static_cast<ObjectBody**>(memRealloc(collector.markStack, cap * uint32_t(sizeof(ObjectBody*))));
        collector.markCapacity = cap;
    }
    collector.markStack[collector.markCount++] = b;
}

// Marks the object an Item designates (through references); arrays and
// codeblocks go on the mark stack to have their contents marked.
inline void markOne(Item* it) {
    for (;;) {
        if (it->type & M_REF) {
            if (it->type & T_ITEMREF) {
                it = static_cast<Item*>(it->v.o.ptr);
                continue;
            }
            if (memvarSlotItem) {
                it = memvarSlotItem(it->v.area);
                if (!it) return;
                continue;
            }
            return;
        }
        if (!(it->type & M_HEAP)) return;
        ObjectBody* b = bodyOf(it);
        HeapObject* o = objectOf(b);
        if (o->h.mark != MARK_NONE) return;  // marked already, or permanent
        o->h.mark = MARK_LIVE;
        collector.markedBytes += objectBytes(o);
        if (o->h.kind == K_ARRAY || o->h.kind == K_BLOCK) pushMark(b);
        return;
    }
}

void drainMarks() {
    while (collector.markCount) {
        ObjectBody* b = collector.markStack[--collector.markCount];
        if (objectOf(b)->h.kind == K_ARRAY) {
            Item* e = static_cast<Item*>(b->data);
            const uint32_t n = b->length;
            // the headers of the elements a few slots on are fetched while
            // this one is marked: a long array of strings is a walk over
            // objects that are rarely in the cache
            constexpr uint32_t AHEAD = 8;
            for (uint32_t i = 0; i < n; ++i) {
                if (i + AHEAD < n && (e[i + AHEAD].type & M_HEAP)) __builtin_prefetch(bodyOf(&e[i + AHEAD]), 1);
                markOne(&e[i]);
            }
        } else {
            auto* cb = static_cast<Codeblock*>(b->data);
            if (cb && (cb->detachedLocals.type & T_ARRAY)) markOne(&cb->detachedLocals);
        }
    }
}

}  // namespace

void markItem(Item* it) {
    markOne(it);
    drainMarks();
}

void requestCollection() { collector.forceRequested = true; }

namespace {

// The sweep's test for a pooled cell: a marked object survives (unmarked for
// the next collection), a permanent one is kept, any other is freed.
bool sweepCell(void* cell) {
    auto* o = static_cast<HeapObject*>(cell);
    if (o->h.mark == MARK_LIVE) {
        o->h.mark = MARK_NONE;
        return false;
    }
    if (o->h.mark == MARK_PERMANENT) return false;
    freeContents(o);
    --collector.liveObjects;
    return true;
}

// The teardown's test: every object goes.
bool releaseCell(void* cell) {
    auto* o = static_cast<HeapObject*>(cell);
    freeContents(o);
    if (o->h.mark != MARK_PERMANENT) --collector.liveObjects;
    return true;
}

void sweepLarge(bool all) {
    LargeLink** at = &collector.largeList;
    while (LargeLink* l = *at) {
        auto* o = reinterpret_cast<HeapObject*>(l + 1);
        if (!all && o->h.mark == MARK_LIVE) {
            o->h.mark = MARK_NONE;
            at = &l->next;
            continue;
        }
        *at = l->next;
        freeContents(o);
        --collector.liveObjects;
        memFree(l);
    }
}

}  // namespace

void collectGarbage(bool force) {
    if (!collector.liveObjects || collector.collecting) return;
    if (force) collector.forceRequested = true;
    if (!collector.forceRequested && memInUse() - collector.collectionBase < collector.collectionGrowth) return;
    collector.forceRequested = false;
    collector.collecting = true;
    collector.markedBytes = 0;
    if (gcMarkMemvarRoots) gcMarkMemvarRoots();
    if (vm.statics)
        for (Item* it = vm.statics + STACK_SLOTS - 1; it >= vm.staticsLow; --it) markItem(it);
    if (vm.stack)
        for (Item* it = vm.stack; it <= vm.top; ++it) markItem(it);
    memFree(collector.markStack);
    collector.markStack = nullptr;
    collector.markCount = collector.markCapacity = 0;
    poolSweep(sweepCell);
    sweepLarge(false);
    collector.collecting = false;
    collector.collectionBase = memInUse();
    uint32_t kept = collector.markedBytes < 0x7FFFFFFFu ? collector.markedBytes : 0x7FFFFFFFu;
    collector.collectionGrowth = kept > uint32_t(MIN_COLLECTION_GROWTH) ? int32_t(kept) : MIN_COLLECTION_GROWTH;
}

uint32_t lastCollectionGrowth() { return uint32_t(collector.collectionGrowth); }

void gcIdleTask() { collectGarbage(false); }

void freeAllObjects() {
    dropLiterals();
    shortStringsDrop();
    poolSweep(releaseCell);
    sweepLarge(true);
    memFree(collector.markStack);
    collector = CollectorState{};
}

uint32_t liveObjectCount() { return collector.liveObjects; }

}  // namespace xb
