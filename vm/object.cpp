#include "vm/object.h"

#include <cstring>

#include "runtime/memory.h"
#include "vm/stack.h"
#include "vm/vm.h"

namespace xb {

namespace {

ObjectHeader* liveList;
ObjectHeader* condemned;
uint8_t currentColour;
bool forceRequested;
int32_t collectionBase;

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
    memFree(o);
}

}  // namespace

void (*gcMarkMemvarRoots)() = nullptr;

ObjectBody* newObject(ObjectKind kind, uint32_t extra) {
    collectGarbage(false);
    auto* o = static_cast<HeapObject*>(memAlloc(sizeof(HeapObject) + extra));
    std::memset(o, 0, sizeof(HeapObject));
    o->h.kind = kind;
    o->h.colour = currentColour;
    linkFront(&liveList, &o->h);
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

void markItem(Item* it) {
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
        if (o->h.colour != currentColour) return;  // already marked
        o->h.colour = uint8_t(currentColour ^ 1);
        unlink(&condemned, &o->h);
        linkFront(&liveList, &o->h);
        if (it->type & T_ARRAY) {
            Item* e = static_cast<Item*>(b->data);
            for (uint32_t i = 0; i < b->length; ++i) markItem(&e[i]);
        } else if (it->type & T_BLOCK) {
            auto* cb = static_cast<Codeblock*>(b->data);
            if (cb && (cb->detachedLocals.type & T_ARRAY)) markItem(&cb->detachedLocals);
        }
        return;
    }
}

void requestCollection() { forceRequested = true; }

void collectGarbage(bool force) {
    if (!liveList) return;
    if (force) forceRequested = true;
    if (!forceRequested && memInUse() - collectionBase < 4000000) return;
    forceRequested = false;
    condemned = liveList;
    liveList = nullptr;
    if (gcMarkMemvarRoots) gcMarkMemvarRoots();
    if (vm.statics)
        for (Item* it = vm.statics + STACK_SLOTS - 1; it >= vm.staticsLow; --it) markItem(it);
    if (vm.stack)
        for (Item* it = vm.stack; it <= vm.top; ++it) markItem(it);
    while (condemned) {
        ObjectHeader* h = condemned;
        condemned = h->next;
        freeObject(h);
    }
    currentColour ^= 1;
    collectionBase = memInUse();
}

void gcIdleTask() { collectGarbage(false); }

void freeAllObjects() {
    while (liveList) {
        ObjectHeader* h = liveList;
        liveList = h->next;
        freeObject(h);
    }
}

uint32_t liveObjectCount() {
    uint32_t n = 0;
    for (ObjectHeader* h = liveList; h; h = h->next) ++n;
    return n;
}

}  // namespace xb
