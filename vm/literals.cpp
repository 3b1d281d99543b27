#include "vm/literals.h"

#include <cstring>

#include "base/memory.h"
#include "vm/object.h"

namespace xb {

namespace {

// Open addressing on the address of the literal's bytes. An entry whose
// object no longer matches (the code it came from was freed and other code
// took its place with a literal of another length) is rebuilt; one of the
// same length reads the new bytes, since the object points at them.
struct Entry {
    const char* bytes;
    ObjectBody* body;
};
// The table and its fill; dropLiterals frees it and starts over empty.
struct LiteralTable {
    Entry* table = nullptr;
    uint32_t capacity = 0;  // a power of two, or 0
    uint32_t used = 0;
};
LiteralTable literals;
inline uint32_t slotOf(const char* bytes, uint32_t mask) {
    auto v = reinterpret_cast<uintptr_t>(bytes);
    return uint32_t((v ^ (v >> 7) ^ (v >> 17)) * 2654435761u) & mask;
}

void grow() {
    uint32_t newCapacity = literals.capacity ? literals.capacity * 2 : 256;
    auto* fresh = static_cast<Entry*>(memAllocZero(newCapacity * uint32_t(sizeof(Entry))));
    for (uint32_t i = 0; i < literals.capacity; ++i) {
        if (!literals.table[i].bytes) continue;
        uint32_t s = slotOf(literals.table[i].bytes, newCapacity - 1);
        while (fresh[s].bytes) s = (s + 1) & (newCapacity - 1);
        fresh[s] = literals.table[i];
    }
    memFree(literals.table);
    literals.table = fresh;
    literals.capacity = newCapacity;
}

}  // namespace

void pushLiteral(Item* out, const char* bytes, uint32_t n) {
    if (literals.used * 2 >= literals.capacity) grow();
    uint32_t mask = literals.capacity - 1;
    uint32_t s = slotOf(bytes, mask);
    while (literals.table[s].bytes && literals.table[s].bytes != bytes) s = (s + 1) & mask;
    Entry& e = literals.table[s];
    if (!e.bytes) {
        e.bytes = bytes;
        e.body = newPermanentString(bytes, n);
        ++literals.used;
    } else if (e.body->length != n) {
        freePermanentObject(e.body);
        e.body = newPermanentString(bytes, n);
    }
    itemClear(out);
    out->type = T_STRING;
    setStrLength(out, n);
    out->v.o.ptr = e.body;
}

uint32_t literalCount() { return literals.used; }

void dropLiterals() {
    for (uint32_t i = 0; i < literals.capacity; ++i)
        if (literals.table[i].bytes) freePermanentObject(literals.table[i].body);
    memFree(literals.table);
    literals = LiteralTable{};
}

}  // namespace xb
