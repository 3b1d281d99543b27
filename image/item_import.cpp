// Copies of another runtime's values: scalars by value, texts by their
// bytes, arrays through a work list of (foreign array, our copy) pairs.
#include "image/item_import.h"

#include "runtime/memory.h"
#include "vm/object.h"

namespace xb {

namespace {

// A foreign array and the array of ours that receives its elements.
struct Pending {
    const ObjectBody* from;
    ObjectBody* to;
};

// The arrays copied so far (foreign body -> ours), and the ones whose
// elements are still to copy. Both grow on the tracked heap.
struct CopyState {
    Pending* seen = nullptr;
    uint32_t seenCount = 0, seenCapacity = 0;
    Pending* work = nullptr;
    uint32_t workCount = 0, workCapacity = 0;
};

void append(Pending*& list, uint32_t& count, uint32_t& capacity, Pending p) {
    if (count == capacity) {
        capacity = capacity ? capacity * 2 : 16;
        list = static_cast<Pending*>(memRealloc(list, uint32_t(capacity * sizeof(Pending))));
    }
    list[count++] = p;
}

ObjectBody* copied(const CopyState& s, const ObjectBody* from) {
    for (uint32_t i = 0; i < s.seenCount; ++i)
        if (s.seen[i].from == from) return s.seen[i].to;
    return nullptr;
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
        append(s.seen, s.seenCount, s.seenCapacity, {from, bodyOf(out)});
        append(s.work, s.workCount, s.workCapacity, {from, bodyOf(out)});
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
