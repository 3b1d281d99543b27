// EMPTY and VALTYPE: they accept a value of any type and never fail.
#include "vm/builtins.h"
#include "vm/object.h"

namespace xb {

namespace {

// A text is empty when it holds nothing but blanks and tabs.
bool blankText(const Item* s) {
    const char* p = strData(s);
    for (uint32_t i = 0, n = strLength(s); i < n; ++i)
        if (p[i] != ' ' && p[i] != '\t') return false;
    return true;
}

bool isEmpty(const Item* x) {
    switch (x->type) {
    case T_INTEGER:
    case T_DATE: return x->v.l == 0;
    case T_DOUBLE: return !(x->v.d != 0.0);
    case T_LOGICAL: return x->v.l == 0;
    case T_STRING:
    case T_MEMO: return blankText(x);
    case T_ARRAY: return arrayLength(x) == 0;
    case T_BLOCK: return false;
    // NIL, a Word of any value, Symbols, Aliases and references
    default: return true;
    }
}

char typeLetter(const Item* x) {
    switch (x->type) {
    case T_WORD:
    case T_INTEGER:
    case T_DOUBLE: return 'N';
    case T_DATE: return 'D';
    case T_LOGICAL: return 'L';
    case T_BLOCK: return 'B';
    case T_STRING: return 'C';
    case T_MEMO: return 'M';
    case T_ARRAY: return bodyOf(x)->classHandle != 0 ? 'O' : 'A';
    default: return 'U';
    }
}

}  // namespace

XB_OPCODE(EMPTY) {
    Item* x = vm.top;
    putLogical(x, isEmpty(x));
    return 0;
}

XB_OPCODE(VALTYPE) {
    Item* x = vm.top;
    const char letter = typeLetter(x);
    makeString(x, &letter, 1);
    return 0;
}

}  // namespace xb
