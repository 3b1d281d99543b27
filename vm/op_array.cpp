// Array opcodes: element access and assignment, creation by shape and by
// elements, and AADD.
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

constexpr OpErrorWord GET_NOT_ARRAY = errorWord(1068, 2, true);
constexpr OpErrorWord GET_INDEX_ZERO = errorWord(1132, 2, true, true);
constexpr OpErrorWord GET_OUT_OF_BOUNDS = errorWord(1132, 0, false);
constexpr OpErrorWord GETC_NOT_ARRAY = errorWord(1068, 1, true);
constexpr OpErrorWord PUT_NOT_ARRAY = errorWord(1069, 3, false);
constexpr OpErrorWord PUT_INDEX_ZERO = errorWord(1133, 3, false, true);
constexpr OpErrorWord PUT_OUT_OF_BOUNDS = errorWord(1133, 0, false);
constexpr OpErrorWord PUTC_NOT_ARRAY = errorWord(1069, 2, false);
constexpr OpErrorWord AADD_NOT_ARRAY = errorWord(1123, 2, true);

inline int32_t indexValue(const Item* it) { return it->type == T_INTEGER ? it->v.l : doubleToInt(it->v.d); }

// Indexes are 1-based; compared unsigned, a negative index lies beyond the
// length like any other out-of-range one.
inline bool inBounds(const Item* array, int32_t i) { return i != 0 && uint32_t(i) <= arrayLength(array); }

// The index of a failed access goes back on the stack as an Integer.
inline void indexAsInteger(Item* it, int32_t i) {
    itemClear(it);
    it->type = T_INTEGER;
    it->v.l = i;
}

inline void storeElement(Item* element, Item* value) {
    if ((value->type & T_MEMO) == T_MEMO) value->type = T_STRING;
    *element = *value;
}

// Dimension sizes read as integers; below 0 is an empty dimension.
inline uint32_t dimensionSize(const Item* it) {
    int32_t n = it->type == T_INTEGER ? it->v.l : it->type == T_DOUBLE ? doubleToInt(it->v.d) : 0;
    return n > 0 ? uint32_t(n) : 0;
}

// Builds into *out an array of sizes[0] elements, each (when there are more
// sizes) a distinct new array of the remaining shape. Depth first with an
// explicit path so that a deep shape cannot exhaust the native stack; every
// new array goes straight into an element of a rooted one.
void buildShape(Item* out, const Item* sizes, uint32_t n) {
    makeArray(out, dimensionSize(&sizes[0]));
    if (n < 2) return;
    struct Level {
        Item* array;
        uint32_t next;
    };
    auto* path = static_cast<Level*>(memAlloc((n - 1) * sizeof(Level)));
    uint32_t depth = 0;
    path[0] = {out, 0};
    for (;;) {
        Level& l = path[depth];
        if (l.next < arrayLength(l.array)) {
            Item* e = &arrayItems(l.array)[l.next++];
            makeArray(e, dimensionSize(&sizes[depth + 1]));
            if (depth + 2 < n) path[++depth] = {e, 0};
        } else if (depth == 0) {
            break;
        } else {
            --depth;
        }
    }
    memFree(path);
}

}  // namespace

// array index → element
XB_OPCODE(ARRAYGET) {
    Item* index = vm.top;
    Item* array = vm.top - 1;
    if (!isArray(array) || !isNumeric(index)) return opStatus(GET_NOT_ARRAY);
    int32_t i = indexValue(index);
    if (i == 0) return opStatus(GET_INDEX_ZERO);
    if (!inBounds(array, i)) {
        indexAsInteger(index, i);
        return opStatus(GET_OUT_OF_BOUNDS);
    }
    *array = arrayItems(array)[i - 1];
    --vm.top;
    return 0;
}

// value array index →
XB_OPCODE(ARRAYPUT) {
    Item* index = vm.top;
    Item* array = vm.top - 1;
    if (!isArray(array) || !isNumeric(index)) return opStatus(PUT_NOT_ARRAY);
    int32_t i = indexValue(index);
    if (i == 0) return opStatus(PUT_INDEX_ZERO);
    if (!inBounds(array, i)) {
        indexAsInteger(index, i);
        return opStatus(PUT_OUT_OF_BOUNDS);
    }
    storeElement(&arrayItems(array)[i - 1], vm.top - 2);
    vm.top -= 3;
    return 0;
}

// array → element (index from the operand)
XB_OPCODE(ARRAYGETC) {
    uint16_t i = fetchU16();
    if (!isArray(vm.top)) return opStatus(GETC_NOT_ARRAY);
    if (!inBounds(vm.top, i)) return opStatus(GET_OUT_OF_BOUNDS);
    *vm.top = arrayItems(vm.top)[i - 1];
    return 0;
}

// value array → (index from the operand)
XB_OPCODE(ARRAYPUTC) {
    uint16_t i = fetchU16();
    if (!isArray(vm.top)) return opStatus(PUTC_NOT_ARRAY);
    if (!inBounds(vm.top, i)) return opStatus(PUT_OUT_OF_BOUNDS);
    storeElement(&arrayItems(vm.top)[i - 1], vm.top - 1);
    vm.top -= 2;
    return 0;
}

// d1 .. dn → an array of d1 elements, each of shape d2 .. dn
XB_OPCODE(ARRAYDIM) {
    uint16_t n = fetchU16();
    needItems(n);
    Item* sizes = vm.top - n + 1;
    Item* result = pushSlot();
    itemClear(result);
    if (n == 0) makeArray(result, 0);
    else buildShape(result, sizes, n);
    *sizes = *result;
    vm.top = sizes;
    return 0;
}

// e1 .. en → {e1, .., en}
XB_OPCODE(ARRAYGEN) {
    uint16_t n = fetchU16();
    needItems(n);
    Item* first = vm.top - n + 1;
    Item* result = pushSlot();
    itemClear(result);
    makeArray(result, n);
    Item* e = arrayItems(result);
    for (uint16_t i = 0; i < n; ++i) e[i] = first[i];
    *first = *result;
    vm.top = first;
    return 0;
}

// array value → value, the value appended to the array
XB_OPCODE(AADD) {
    Item* array = vm.top - 1;
    if (!isArray(array)) return opStatus(AADD_NOT_ARRAY);
    arrayResize(array, 1);
    arrayItems(array)[arrayLength(array) - 1] = *vm.top;
    *array = *vm.top;
    --vm.top;
    return 0;
}

}  // namespace xb
