// Copies of another runtime's values: scalars by value, texts by their
// bytes, arrays through a work list of (foreign array, our copy) pairs.
#include "image/item_import.h"

#include "base/memory.h"
#include "vm/object.h"

namespace xb {

namespace {

// A foreign array and the array of ours that receives its elements.
struct Pending {
    const ObjectBody* from;
    ObjectBody* to;
};

// The arrays copied so far (foreign body -> ours: an open-addressing table
// whose size is a power of two, kept at most half full), and the ones whose
// elements are still to copy. Both grow on the tracked heap.
struct CopyState {
    Pending* seen = nullptr;
    uint32_t seenCount = 0, seenCapacity = 0;
    Pending* work = nullptr;
    uint32_t workCount = 0, workCapacity = 0;
};

uint32_t slotFor(const ObjectBody* from, uint32_t capacity) {
    uintptr_t k = reinterpret_cast<uintptr_t>(from);
    k ^= k >> 17;
    k *= 0x9E3779B1u;
    return uint32_t(k ^ (k >> 15)) & (capacity - 1);
}

void remember(CopyState& s, Pending p) {
    if ((s.seenCount + 1) * 2 > s.seenCapacity) {
        uint32_t capacity = s.seenCapacity ? s.seenCapacity * 2 : 64;
        auto* table = static_cast<Pending*>(memAllocZero(uint32_t(capacity * sizeof(Pending))));
        for (uint32_t i = 0; i < s.seenCapacity; ++i) {
            if (!s.seen[i].from) continue;
            uint32_t j = slotFor(s.seen[i].from, capacity);
            while (table[j].from) j = (j + 1) & (capacity - 1);
            table[j] = s.seen[i];
        }
        memFree(s.seen);
        s.seen = table;
        s.seenCapacity = capacity;
    }
    uint32_t j = slotFor(p.from, s.seenCapacity);
    while (s.seen[j].from) j = (j + 1) & (s.seenCapacity - 1);
    s.seen[j] = p;
    ++s.seenCount;
}

ObjectBody* copied(const CopyState& s, const ObjectBody* from) {
    if (!s.seenCapacity) return nullptr;
    for (uint32_t j = slotFor(from, s.seenCapacity); s.seen[j].from; j = (j + 1) & (s.seenCapacity - 1))
        if (s.seen[j].from == from) return s.seen[j].to;
    return nullptr;
}

void queue(CopyState& s, Pending p) {
    if (s.workCount == s.workCapacity) {
        s.workCapacity = s.workCapacity ? s.workCapacity * 2 : 16;
        s.work = static_cast<Pending*>(memRealloc(s.work, uint32_t(s.workCapacity * sizeof(Pending))));
    }
    s.work[s.workCount++] = p;
}

bool isObject(const Item* it) { return bodyOf(it)->classHandle != 0 || itemClassHandle(it) != 0; }

// Copies one Item; a foreign array gets an empty array of ours of its
// length, queued for its elements (or the copy made before, if any).
void copyOne(Item* out, const Item* in, CopyState& s) {
    uint16_t t = in->type;
    if (t == T_NIL || t == T_WORD || t == T_INTEGER || t == T_DOUBLE || t == T_DATE || t == T_LOGICAL) {
        *out = *in;
    } else if ((t & ~T_MEMOBIT) == T_STRING) {
        makeString(out, strData(in), strLength(in));
        out->type = t;
    } else if (t == T_ARRAY && in->v.o.ptr && !isObject(in)) {
        const ObjectBody* from = bodyOf(in);
        if (ObjectBody* done = copied(s, from)) {
            itemClear(out);
            out->type = T_ARRAY;
            out->v.o.ptr = done;
            return;
        }
        makeArray(out, from->length);
        remember(s, {from, bodyOf(out)});
        queue(s, {from, bodyOf(out)});
    } else {
        itemClear(out);
    }
}

}  // namespace

void importItem(Item* out, const Item* foreign) {
    CopyState s;
    itemClear(out);
    copyOne(out, foreign, s);
    // Every array of ours made here is reachable from *out before anything
    // else is allocated, so the collector may run at any step.
    while (s.workCount) {
        Pending p = s.work[--s.workCount];
        const Item* from = static_cast<const Item*>(p.from->data);
        for (uint32_t i = 0; i < p.from->length && i < p.to->length; ++i) {
            Item* to = static_cast<Item*>(p.to->data) + i;
            copyOne(to, &from[i], s);
        }
    }
    memFree(s.seen);
    memFree(s.work);
}

}  // namespace xb
