#include "vm/object.h"

#include <cstring>

#include "base/memory.h"
#include "base/hooks.h"
#include "vm/literals.h"
#include "vm/object_pool.h"
#include "vm/stack.h"
#include "vm/vm.h"

namespace xb {

namespace {

constexpr int32_t MIN_COLLECTION_GROWTH = 4000000;

// The collector's whole state. freeAllObjects frees every object and puts
// the record back to this state, as at start-up.
struct CollectorState {
    ObjectHeader* liveList = nullptr;   // every object, marked or not
    ObjectHeader* condemned = nullptr;  // during a collection: not reached yet
    uint8_t currentColour = 0;          // the colour of an object not marked in the running collection
    bool forceRequested = false;
    int32_t collectionBase = 0;         // memInUse() after the last collection

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
void linkFront(ObjectHeader** list, ObjectHeader* h) {
    h->prev = nullptr;
    h->next = *list;
    if (*list) (*list)->prev = h;
    *list = h;
}

void unlink(ObjectHeader** list, ObjectHeader* h) {
    if (h->prev) h->prev->next = h->next;
    else *list = h->next;
    if (h->next) h->next->prev = h->prev;
}

void freeObject(ObjectHeader* h) {
    HeapObject* o = reinterpret_cast<HeapObject*>(h);
    switch (h->kind) {
    case K_STRING:
        // the bytes live in the same allocation
        break;
    case K_CONSTSTRING:
        break;
    case K_ARRAY:
        memFree(o->b.data);
        break;
    case K_BLOCK: {
        auto* cb = static_cast<Codeblock*>(o->b.data);
        if (cb && (cb->flags & CB_OWNED)) memFree(const_cast<uint8_t*>(cb->code));
        memFree(cb);
        break;
    }
    }
    // the header's spare half-word holds the object's size class (0: a
    // tracked block of its own)
    if (h->pad) poolFree(o, h->pad);
    else memFree(o);
}

}  // namespace

void (*&gcMarkMemvarRoots)() = runtimeHooks.gcMarkMemvarRoots;

ObjectBody* newObject(ObjectKind kind, uint32_t extra) {
    collectGarbage(false);
    uint32_t size = uint32_t(sizeof(HeapObject)) + extra;
    uint16_t cls = extra <= POOL_MAX_CELL ? poolClassOf(size) : uint16_t(0);
    auto* o = static_cast<HeapObject*>(cls ? poolAlloc(cls) : memAlloc(size));
    std::memset(o, 0, sizeof(HeapObject));
    o->h.pad = cls;
    o->h.kind = kind;
    o->h.colour = collector.currentColour;
    linkFront(&collector.liveList, &o->h);
    return &o->b;
}

void makeString(Item* out, const char* bytes, uint32_t n) {
    char* buf = makeStringBuffer(out, n);
    if (n) std::memcpy(buf, bytes, n);
}

char* makeStringBuffer(Item* out, uint32_t n) {
    if (n > 0xFFFFFFE0u - sizeof(HeapObject) - 64) memExhausted();
    ObjectBody* b = newObject(K_STRING, n + 1);
    char* buf = reinterpret_cast<char*>(objectOf(b) + 1);
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

// Permanent objects carry a colour no collection ever uses, so marking
// passes them by; they are on no list, so the sweep never sees them.
constexpr uint8_t PERMANENT_COLOUR = 2;

ObjectBody* newPermanentString(const char* bytes, uint32_t n) {
    uint16_t cls = poolClassOf(uint32_t(sizeof(HeapObject)));
    auto* o = static_cast<HeapObject*>(poolAlloc(cls));
    std::memset(o, 0, sizeof(HeapObject));
    o->h.pad = cls;
    o->h.kind = K_CONSTSTRING;
    o->h.colour = PERMANENT_COLOUR;
    o->b.length = n;
    o->b.data = const_cast<char*>(bytes);
    return &o->b;
}

void freePermanentObject(ObjectBody* body) { freeObject(&objectOf(body)->h); }

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
    b->data = memAllocZero(b->capacity * sizeof(Item));
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
        a->data = memRealloc(a->data, uint32_t(cap * sizeof(Item)));
        a->capacity = uint32_t(cap);
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
    uint32_t n = sizeof(HeapObject);
    switch (o->h.kind) {
    case K_STRING: n += o->b.length + 1; break;
    case K_ARRAY: n += o->b.capacity * uint32_t(sizeof(Item)); break;
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
void markOne(Item* it) {
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
        if (o->h.colour != collector.currentColour) return;  // already marked
        o->h.colour = uint8_t(collector.currentColour ^ 1);
        unlink(&collector.condemned, &o->h);
        linkFront(&collector.liveList, &o->h);
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
            for (uint32_t i = 0; i < b->length; ++i) markOne(&e[i]);
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

void collectGarbage(bool force) {
    if (!collector.liveList) return;
    if (force) collector.forceRequested = true;
    if (!collector.forceRequested && memInUse() - collector.collectionBase < collector.collectionGrowth) return;
    collector.forceRequested = false;
    collector.condemned = collector.liveList;
    collector.liveList = nullptr;
    collector.markedBytes = 0;
    if (gcMarkMemvarRoots) gcMarkMemvarRoots();
    if (vm.statics)
        for (Item* it = vm.statics + STACK_SLOTS - 1; it >= vm.staticsLow; --it) markItem(it);
    if (vm.stack)
        for (Item* it = vm.stack; it <= vm.top; ++it) markItem(it);
    memFree(collector.markStack);
    collector.markStack = nullptr;
    collector.markCount = collector.markCapacity = 0;
    while (collector.condemned) {
        ObjectHeader* h = collector.condemned;
        collector.condemned = h->next;
        freeObject(h);
    }
    collector.currentColour ^= 1;
    collector.collectionBase = memInUse();
    uint32_t kept = collector.markedBytes < 0x7FFFFFFFu ? collector.markedBytes : 0x7FFFFFFFu;
    collector.collectionGrowth = kept > uint32_t(MIN_COLLECTION_GROWTH) ? int32_t(kept) : MIN_COLLECTION_GROWTH;
}

uint32_t lastCollectionGrowth() { return uint32_t(collector.collectionGrowth); }

void gcIdleTask() { collectGarbage(false); }

void freeAllObjects() {
    dropLiterals();
    while (collector.liveList) {
        ObjectHeader* h = collector.liveList;
        collector.liveList = h->next;
        freeObject(h);
    }
    memFree(collector.markStack);
    collector = CollectorState{};
}

uint32_t liveObjectCount() {
    uint32_t n = 0;
    for (ObjectHeader* h = collector.liveList; h; h = h->next) ++n;
    return n;
}

}  // namespace xb
