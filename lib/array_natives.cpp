// Array functions: ARRAY, ACLONE, ACOPY, ADEL, AINS, AEVAL, AFILL, ASCAN,
// ASIZE, ASORT and ATAIL. Positions are 1-based; a start or count beyond the
// array is held to what is there. The functions that change an array in
// place return it. A wrong argument type raises the function's argument
// error (lib_args.h).
//
// Blocks (AEVAL, ASCAN, ASORT) are evaluated through the interpreter and
// may do anything, the collector included: every value the functions keep
// across an evaluation lives in a rooted Item, and an array is re-read after
// each evaluation (the block may have resized it).
#include <cstring>

#include "vm/function.h"
#include "lib/lib_args.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/opcodes.h"

namespace xb {

namespace {

// The most elements ARRAY and ASIZE make: beyond it a request is refused
// with the argument error instead of exhausting memory.
constexpr uint64_t kMaxElements = 0x400000;

Item* arrayArg(uint32_t n) {
    Item* p = libArg(n);
    return p && isArray(p) ? p : nullptr;
}

// start/count of an optional range over len elements: 0-based first and
// the number of elements, both held to the array.
void rangeOf(int32_t start, int32_t count, uint32_t len, uint32_t* first, uint32_t* n) {
    if (start < 1) start = 1;
    *first = uint32_t(start - 1);
    if (*first >= len) {
        *n = 0;
        return;
    }
    uint32_t avail = len - *first;
    *n = count < 0 || uint32_t(count) > avail ? avail : uint32_t(count);
}

// Evaluates block with the given arguments; the value is in the return Item.
uint16_t evalWith(const Item* block, const Item* a, const Item* b, uint16_t argc) {
    pushSymbol(evalSymbol);
    push(block);
    if (argc > 0) push(a);
    if (argc > 1) push(b);
    return evalSend(argc);
}

bool isTrue(const Item* it) { return it->type == T_LOGICAL && it->v.l; }

// The order of types when ASORT compares values of different kinds.
int typeRank(const Item* it) {
    switch (it->type) {
    case T_NIL: return 0;
    case T_LOGICAL: return 1;
    case T_DATE: return 2;
    case T_WORD:
    case T_INTEGER:
    case T_DOUBLE: return 3;
    case T_STRING:
    case T_MEMO: return 4;
    default: return 5;  // arrays, blocks: all equal among themselves
    }
}

// a < b through the interpreter's own comparison (collation, dates,
// logicals); values of different kinds by typeRank.
bool lessThan(const Item* a, const Item* b) {
    int ra = typeRank(a), rb = typeRank(b);
    if (ra != rb) return ra < rb;
    if (ra == 0 || ra == 5) return false;
    if (ra == 1) return !a->v.l && b->v.l;
    push(a);
    push(b);
    Item r{};
    if (!libRunOpcode(OP_LESS, 2, &r)) return false;
    return isTrue(&r);
}

// ASCAN's match: a block's answer, or equality (the = operator) between
// values of the same kind; NIL matches NIL.
bool sameKind(const Item* a, const Item* b) {
    int ra = typeRank(a), rb = typeRank(b);
    return ra == rb && ra != 5;
}

}  // namespace

// ARRAY(n1, [n2, ...]): an array of n1 elements, each an array of n2, ...;
// the innermost elements are NIL.
namespace {
void fillDimensions(Item* into, uint16_t dim, uint16_t dims) {
    Item* size = libArg(dim);
    uint32_t n = uint32_t(itemInt(size));
    makeArray(into, n);
    if (dim == dims) return;
    for (uint32_t i = 0; i < n; ++i) fillDimensions(&arrayItems(into)[i], uint16_t(dim + 1), dims);
}
}  // namespace

XB_NATIVE(fnARRAY, "ARRAY") {
    uint16_t dims = paramCount();
    if (dims == 0) return libArgError(SC_ARRAY);
    // every level's elements together stay within what an array may hold
    uint64_t total = 1, all = 0;
    for (uint16_t i = 1; i <= dims; ++i) {
        Item* d = libArg(i);
        if (!d || !isNumeric(d) || itemInt(d) < 0) return libArgError(SC_ARRAY);
        total *= uint64_t(itemInt(d));
        all += total;
        if (all > kMaxElements) return libArgError(SC_ARRAY);
    }
    Item* out = tempAlloc();
    fillDimensions(out, 1, dims);
    retItem(out);
    tempRelease(out);
    return 0;
}

// ACLONE(array): a copy in which every nested array is copied too. A
// nesting deeper than the limit (an array that holds itself) keeps the
// deeper levels shared instead of recursing without end.
namespace {
constexpr uint32_t kCloneDepth = 256;
void cloneInto(Item* out, const Item* source, uint32_t depth) {
    uint32_t n = arrayLength(source);
    makeArray(out, n);
    for (uint32_t i = 0; i < n; ++i) {
        const Item* e = &arrayItems(source)[i];
        if (isArray(e) && depth < kCloneDepth && i < arrayLength(source))
            cloneInto(&arrayItems(out)[i], e, depth + 1);
        else arrayItems(out)[i] = *e;
    }
}
}  // namespace

XB_NATIVE(fnACLONE, "ACLONE") {
    Item* a = arrayArg(1);
    if (!a) return libArgError(SC_ACLONE);
    Item* out = tempAlloc();
    cloneInto(out, a, 0);
    retItem(out);
    tempRelease(out);
    return 0;
}

// ACOPY(source, target, [start], [count], [targetPos]): copies elements of
// source from start (count of them, all when absent) into target from
// targetPos on, as many as target holds. Returns target.
XB_NATIVE(fnACOPY, "ACOPY") {
    Item* src = arrayArg(1);
    Item* dst = arrayArg(2);
    int32_t start, count, at;
    if (!src || !dst || !libOptInt(3, 1, &start) || !libOptInt(4, -1, &count) || !libOptInt(5, 1, &at))
        return libArgError(SC_ACOPY);
    uint32_t first, n;
    rangeOf(start, count, arrayLength(src), &first, &n);
    uint32_t to, room;
    rangeOf(at, -1, arrayLength(dst), &to, &room);
    if (n > room) n = room;
    std::memmove(&arrayItems(dst)[to], &arrayItems(src)[first], n * sizeof(Item));
    retItem(dst);
    return 0;
}

// ADEL(array, pos): removes element pos; the others move down and the last
// becomes NIL (the length stays). Returns the array.
XB_NATIVE(fnADEL, "ADEL") {
    Item* a = arrayArg(1);
    Item* pos = libArg(2);
    if (!a || !pos || !isNumeric(pos)) return libArgError(SC_ADEL);
    int32_t p = itemInt(pos);
    uint32_t len = arrayLength(a);
    if (p >= 1 && uint32_t(p) <= len) {
        Item* e = arrayItems(a);
        std::memmove(&e[p - 1], &e[p], (len - uint32_t(p)) * sizeof(Item));
        itemClear(&e[len - 1]);
    }
    retItem(a);
    return 0;
}

// AINS(array, pos): a NIL put at pos; the elements from there move up and
// the last one falls off. Returns the array.
XB_NATIVE(fnAINS, "AINS") {
    Item* a = arrayArg(1);
    Item* pos = libArg(2);
    if (!a || !pos || !isNumeric(pos)) return libArgError(SC_AINS);
    int32_t p = itemInt(pos);
    uint32_t len = arrayLength(a);
    if (p >= 1 && uint32_t(p) <= len) {
        Item* e = arrayItems(a);
        std::memmove(&e[p], &e[p - 1], (len - uint32_t(p)) * sizeof(Item));
        itemClear(&e[p - 1]);
    }
    retItem(a);
    return 0;
}

// AEVAL(array, block, [start], [count]): evaluates block with each element
// and its position. Returns the array.
XB_NATIVE(fnAEVAL, "AEVAL") {
    Item* a = arrayArg(1);
    Item* b = libArg(2);
    int32_t start, count;
    if (!a || !b || !(b->type & T_BLOCK) || !libOptInt(3, 1, &start) || !libOptInt(4, -1, &count))
        return libArgError(SC_AEVAL);
    uint32_t first, n;
    rangeOf(start, count, arrayLength(a), &first, &n);
    for (uint32_t i = first; i < first + n && i < arrayLength(a); ++i) {
        Item e = arrayItems(a)[i];
        Item index{};
        index.type = T_INTEGER;
        index.v.l = int32_t(i + 1);
        if (evalWith(b, &e, &index, 2) == ST_UNWIND) return ST_UNWIND;
    }
    retItem(a);
    return 0;
}

// AFILL(array, value, [start], [count]): stores value into the elements.
// Returns the array.
XB_NATIVE(fnAFILL, "AFILL") {
    Item* a = arrayArg(1);
    Item* v = libArg(2);
    int32_t start, count;
    if (!a || !libOptInt(3, 1, &start) || !libOptInt(4, -1, &count)) return libArgError(SC_AFILL);
    Item value{};
    if (v) value = *v;
    uint32_t first, n;
    rangeOf(start, count, arrayLength(a), &first, &n);
    for (uint32_t i = first; i < first + n; ++i) arrayItems(a)[i] = value;
    retItem(a);
    return 0;
}

// ASCAN(array, value | block, [start], [count]): the position of the first
// element equal to value (the = operator, so SET EXACT applies to texts;
// values of other kinds never match), or for which block answers .T.; 0 when
// none.
XB_NATIVE(fnASCAN, "ASCAN") {
    Item* a = arrayArg(1);
    Item* v = libArg(2);
    int32_t start, count;
    if (!a || !libOptInt(3, 1, &start) || !libOptInt(4, -1, &count)) return libArgError(SC_ASCAN);
    Item value{};
    if (v) value = *v;
    bool block = (value.type & T_BLOCK) != 0;
    uint32_t first, n;
    rangeOf(start, count, arrayLength(a), &first, &n);
    for (uint32_t i = first; i < first + n && i < arrayLength(a); ++i) {
        Item e = arrayItems(a)[i];
        bool match;
        if (block) {
            Item index{};
            index.type = T_INTEGER;
            index.v.l = int32_t(i + 1);
            if (evalWith(&value, &e, &index, 2) == ST_UNWIND) return ST_UNWIND;
            match = isTrue(returnItem());
        } else if (!sameKind(&e, &value)) {
            match = false;
        } else if (e.type == T_NIL) {
            match = true;
        } else if (e.type == T_LOGICAL) {
            match = (e.v.l != 0) == (value.v.l != 0);
        } else {
            push(&e);
            push(&value);
            Item r{};
            match = libRunOpcode(OP_EQUAL, 2, &r) && isTrue(&r);
        }
        if (match) {
            retInt(int32_t(i + 1));
            return 0;
        }
    }
    retInt(0);
    return 0;
}

// ASIZE(array, length): grows (with NILs) or shrinks the array. Returns it.
XB_NATIVE(fnASIZE, "ASIZE") {
    Item* a = arrayArg(1);
    Item* len = libArg(2);
    if (!a || !len || !isNumeric(len) || itemInt(len) > int32_t(kMaxElements)) return libArgError(SC_ASIZE);
    int32_t n = itemInt(len);
    if (n < 0) n = 0;
    arrayResize(a, n - int32_t(arrayLength(a)));
    retItem(a);
    return 0;
}

// ATAIL(array): the last element, NIL for an empty array.
XB_NATIVE(fnATAIL, "ATAIL") {
    Item* a = arrayArg(1);
    if (!a) return libArgError(SC_ATAIL);
    uint32_t n = arrayLength(a);
    if (n) retItem(&arrayItems(a)[n - 1]);
    else retNil();
    return 0;
}

// ASORT(array, [start], [count], [block]): sorts the elements in place,
// ascending, or in the order block(x, y) describes (.T. when x goes before
// y). Equal elements keep their order (a merge sort that takes from the
// right run only when its element goes strictly first). The sort runs on a
// private copy and is written back at the end; the array is returned.
namespace {

struct SortState {
    const Item* block;  // null: natural order
    bool unwound;
};

// x strictly before y.
bool before(SortState* s, const Item* x, const Item* y) {
    if (!s->block) return lessThan(x, y);
    Item a = *x, b = *y;
    if (evalWith(s->block, &a, &b, 2) == ST_UNWIND) {
        s->unwound = true;
        return false;
    }
    return isTrue(returnItem());
}

// Bottom-up merge sort from src into dst (both rooted arrays of n Items);
// the sorted run ends in *result.
void mergeSort(SortState* s, Item* src, Item* dst, uint32_t n, Item** result) {
    Item* from = src;
    Item* to = dst;
    for (uint32_t width = 1; width < n && !s->unwound; width *= 2) {
        for (uint32_t lo = 0; lo < n; lo += 2 * width) {
            uint32_t mid = lo + width < n ? lo + width : n;
            uint32_t hi = lo + 2 * width < n ? lo + 2 * width : n;
            uint32_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) {
                if (!s->unwound && before(s, &from[j], &from[i])) to[k++] = from[j++];
                else to[k++] = from[i++];
            }
            while (i < mid) to[k++] = from[i++];
            while (j < hi) to[k++] = from[j++];
        }
        Item* t = from;
        from = to;
        to = t;
    }
    *result = from;
}

}  // namespace

XB_NATIVE(fnASORT, "ASORT") {
    Item* a = arrayArg(1);
    Item* b = libArg(4);
    int32_t start, count;
    if (!a || !libOptInt(2, 1, &start) || !libOptInt(3, -1, &count) || (!libIsNil(b) && !(b->type & T_BLOCK)))
        return libArgError(SC_ASORT);
    uint32_t first, n;
    rangeOf(start, count, arrayLength(a), &first, &n);
    if (n > 1) {
        Item* work = tempAlloc();
        makeArray(work, 2 * n);
        std::memcpy(arrayItems(work), &arrayItems(a)[first], n * sizeof(Item));
        Item* blockCopy = tempAlloc();
        if (!libIsNil(b)) *blockCopy = *b;
        SortState s{libIsNil(b) ? nullptr : blockCopy, false};
        Item* sorted = nullptr;
        Item* items = arrayItems(work);
        mergeSort(&s, items, items + n, n, &sorted);
        // the block may have shrunk the array: write back what still fits
        uint32_t len = arrayLength(a);
        if (!s.unwound && first < len) {
            uint32_t m = len - first < n ? len - first : n;
            std::memcpy(&arrayItems(a)[first], sorted, m * sizeof(Item));
        }
        tempRelease(blockCopy);
        tempRelease(work);
        if (s.unwound) return ST_UNWIND;
    }
    retItem(a);
    return 0;
}

}  // namespace xb
