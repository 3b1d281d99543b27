// String built-ins: ASC, AT, CHR, LEFT, LEN, LOWER, UPPER, LTRIM, TRIM,
// REPLICATE, SPACE and SUBSTR. Lengths are byte counts; a result that is a
// part of its argument is a new string, except where the argument itself is
// the answer (LEFT, TRIM, LTRIM with nothing to cut).
//
// New strings are built into an argument slot: the argument is still there
// when the allocation runs the collector, and its bytes stay allocated until
// the next collection, so they can be copied afterwards.
#include <cstring>

#include "base/casemap.h"
#include "base/memory.h"
#include "vm/builtins.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// A String or Memo argument; a Memo becomes a plain String, as every value
// does once an operation has touched it.
inline bool stringArgument(Item* it) {
    if (!isString(it)) return false;
    it->type = T_STRING;
    return true;
}

// The part [from, from + n) of the String in *slot, as a new String in *slot.
void cutString(Item* slot, uint32_t from, uint32_t n) {
    const char* bytes = strData(slot) + from;
    makeString(slot, bytes, n);
}

// Position of the first occurrence of needle in hay (1-based), 0 when none:
// the same plain byte search as the `$` operator.
uint32_t findBytes(const char* needle, uint32_t ln, const char* hay, uint32_t lh) {
    if (ln == 0 || ln > lh) return 0;
    const char* last = hay + (lh - ln);
    for (const char* p = hay; p <= last; ++p) {
        p = static_cast<const char*>(std::memchr(p, needle[0], size_t(last - p) + 1));
        if (!p) return 0;
        if (std::memcmp(p, needle, ln) == 0) return uint32_t(p - hay) + 1;
    }
    return 0;
}

// UPPER and LOWER: every byte through the national case table.
uint16_t mapCase(void (*map)(char*, const char*, size_t), OpErrorWord error) {
    Item* s = vm.top;
    if (!stringArgument(s)) return opStatus(error);
    Item source = *s;
    uint32_t n = strLength(&source);
    char* out = makeStringBuffer(s, n);
    map(out, strData(&source), n);
    return 0;
}

}  // namespace

XB_OPCODE(ASC) {
    Item* s = vm.top;
    if (!isString(s)) return opStatus(E_ASC);
    int32_t c = strLength(s) ? uint8_t(strData(s)[0]) : 0;
    putInteger(s, c, 10);
    return 0;
}

XB_OPCODE(AT) {
    Item* hay = vm.top;
    Item* needle = hay - 1;
    if (!stringArgument(needle) || !stringArgument(hay)) return opStatus(E_AT);
    uint32_t at = findBytes(strData(needle), strLength(needle), strData(hay), strLength(hay));
    putInteger(needle, int32_t(at), 10);
    pop();
    return 0;
}

XB_OPCODE(CHR) {
    Item* n = vm.top;
    if (!integerArgument(n)) return opStatus(E_CHR);
    char c = char(uint8_t(n->v.l));
    makeString(n, &c, 1);
    return 0;
}

XB_OPCODE(LEN) {
    Item* x = vm.top;
    uint32_t n;
    if (isString(x)) n = strLength(x);
    else if (x->type == T_ARRAY) n = arrayLength(x);
    else return opStatus(E_LEN);
    putInteger(x, int32_t(n), 10);
    return 0;
}

XB_OPCODE(UPPER) { return mapCase(upperText, E_UPPER); }
XB_OPCODE(LOWER) { return mapCase(lowerText, E_LOWER); }

// Trailing blanks (code 32 only); a tab stays.
XB_OPCODE(TRIM) {
    Item* s = vm.top;
    if (!stringArgument(s)) return opStatus(E_TRIM);
    const char* p = strData(s);
    uint32_t n = strLength(s);
    uint32_t keep = n;
    while (keep > 0 && p[keep - 1] == ' ') --keep;
    if (keep != n) cutString(s, 0, keep);
    return 0;
}

// Leading blanks and tabs.
XB_OPCODE(LTRIM) {
    Item* s = vm.top;
    if (!stringArgument(s)) return opStatus(E_LTRIM);
    const char* p = strData(s);
    uint32_t n = strLength(s);
    uint32_t skip = 0;
    while (skip < n && (p[skip] == ' ' || p[skip] == '\t')) ++skip;
    if (skip != 0) cutString(s, skip, n - skip);
    return 0;
}

XB_OPCODE(LEFT) {
    Item* count = vm.top;
    Item* s = count - 1;
    if (!stringArgument(s) || !integerArgument(count)) return opStatus(E_LEFT);
    int32_t n = count->v.l < 0 ? 0 : count->v.l;
    if (strLength(s) > uint32_t(n)) cutString(s, 0, uint32_t(n));
    pop();
    return 0;
}

// SUBSTR(s, start [, count]). The start position p (0-based) counts from the
// front for a positive start, from the end for a negative one; 0, and a
// negative start reaching before the front, mean the front; a start beyond
// the end means the end. A negative count is 0; a count past the end stops
// at the end.
static uint16_t substring(uint32_t argc) {
    Item* s = vm.top - (argc - 1);
    if (!stringArgument(s) || !integerArgument(s + 1) || (argc == 3 && !integerArgument(s + 2)))
        return opStatus(argc == 3 ? E_SUBSTR3 : E_SUBSTR2);
    const int64_t len = strLength(s);
    const int64_t start = s[1].v.l;
    int64_t p;
    if (start >= 1) p = start - 1 > len ? len : start - 1;
    else if (start < 0 && start + len >= 0) p = start + len;
    else p = 0;
    int64_t n = len - p;
    if (argc == 3) {
        int64_t want = s[2].v.l < 0 ? 0 : s[2].v.l;
        if (want < n) n = want;
    }
    cutString(s, uint32_t(p), uint32_t(n));
    dropAbove(argc);
    return 0;
}

XB_OPCODE(SUBSTR2) { return substring(2); }
XB_OPCODE(SUBSTR3) { return substring(3); }

// SPACE(n): n blanks, none for a negative n.
XB_OPCODE(SPACE) {
    Item* n = vm.top;
    if (!integerArgument(n)) return opStatus(E_SPACE);
    uint32_t count = n->v.l < 0 ? 0 : uint32_t(n->v.l);
    char* out = makeStringBuffer(n, count);
    std::memset(out, ' ', count);
    return 0;
}

// REPLICATE(s, n): s n times; a negative n gives the empty string. The length
// is worked out in 64 bits: a result no string can hold is the memory
// manager's exhaustion, never a wrapped length.
XB_OPCODE(REPLICATE) {
    Item* count = vm.top;
    Item* s = count - 1;
    if (!stringArgument(s) || !integerArgument(count)) return opStatus(E_REPLICATE);
    const uint32_t piece = strLength(s);
    const uint64_t times = count->v.l < 0 ? 0 : uint64_t(count->v.l);
    const uint64_t total = uint64_t(piece) * times;
    if (total > 0xFFFFFFFFu) {
        memExhausted();
        return ST_UNWIND;
    }
    // built into the count's slot while s stays rooted below it
    char* out = makeStringBuffer(count, uint32_t(total));
    if (total != 0) {
        std::memcpy(out, strData(s), piece);
        uint64_t done = piece;
        while (done < total) {
            uint64_t chunk = done < total - done ? done : total - done;
            std::memcpy(out + done, out, size_t(chunk));
            done += chunk;
        }
    }
    *s = *count;
    pop();
    return 0;
}

}  // namespace xb
