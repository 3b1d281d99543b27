// The macro opcodes (145..154; 147 and 149 stay undefined) and TYPE (144).
// Stack effects: 144, 145, 146, 148, 154 replace the top; 150 and 151
// consume the text and the value under it; 152 consumes value, alias and
// field name; 153 replaces alias and field name by the field's value.
#include <cstdio>
#include <cstring>

#include "vm/symbols.h"
#include "base/casemap.h"
#include "macro/run.h"
#include "vm/fields.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// The upper-cased name a plain-identifier text on top names, cut to the
// symbol length; false when the text is not a plain identifier.
bool plainName(char* name) {
    uint32_t start, length;
    if (!plainIdentifier(strData(vm.top), strLength(vm.top), &start, &length)) return false;
    if (length > uint32_t(SYMBOL_NAME_MAX)) length = SYMBOL_NAME_MAX;
    upperText(name, strData(vm.top) + start, length);
    name[length] = 0;
    return true;
}

// "NIL" in any case, with trailing blanks or tabs only.
bool nilText(const Item* s) {
    const char* p = strData(s);
    uint32_t n = strLength(s);
    if (n < 3 || toUpper(uint8_t(p[0])) != 'N' || toUpper(uint8_t(p[1])) != 'I' || toUpper(uint8_t(p[2])) != 'L')
        return false;
    for (uint32_t i = 3; i < n; ++i)
        if (p[i] != ' ' && p[i] != '\t') return false;
    return true;
}

// The text on top replaced by the value of the field or memory variable it
// names; the missing-variable error until one exists (NIL under TYPE).
uint16_t pushNamedVariable(const char* name) {
    --vm.top;
    GlobalSymbol* s = findSymbol(name);
    for (uint16_t tries = 1;; ++tries) {
        if (s) {
            if (FieldDescriptor* d = findField(s, fieldAccess()->currentArea())) return pushField(d);
            if (s->memvarSlot) {
                pushDeref(memvarItem(s->memvarSlot));
                return 0;
            }
        }
        if (macroUndefinedIsNil) {
            pushNil();
            return 0;
        }
        if (!s) s = findOrCreateSymbol(name);
        if (raiseMissingVariable(s, tries) == ST_UNWIND) return ST_UNWIND;
    }
}

uint16_t macroEvaluate() {
    if (!(vm.top->type & M_STRING)) return opStatus(MACRO_ARGUMENT_ERROR);
    if (uint16_t r = substituteTop()) return r;
    if (nilText(vm.top)) {
        itemClear(vm.top);
        return 0;
    }
    char name[SYMBOL_NAME_MAX + 1];
    if (plainName(name)) return pushNamedVariable(name);
    return macroRun(false);
}

// Text for the alias->field joins of 152 and 153 on top; false when the
// item under the field name is neither text nor number.
bool joinAliasField() {
    Item* alias = vm.top - 1;
    char prefix[16];
    const char* a;
    uint32_t an;
    if (alias->type & M_STRING) {
        a = strData(alias);
        an = strLength(alias);
    } else if (alias->type & M_NUMERIC) {
        an = uint32_t(std::snprintf(prefix, sizeof prefix, "%03ld", long(itemInt(alias))));
        a = prefix;
    } else {
        return false;
    }
    uint32_t fn = strLength(vm.top);
    Item joined{};
    char* out = makeStringBuffer(&joined, an + 2 + fn);
    std::memcpy(out, a, an);
    std::memcpy(out + an, "->", 2);
    std::memcpy(out + an + 2, strData(vm.top), fn);
    *alias = joined;
    --vm.top;
    return true;
}

char typeLetters(const Item* x, char* out) {
    switch (x->type) {
    case T_WORD:
    case T_INTEGER:
    case T_DOUBLE: return *out = 'N';
    case T_DATE: return *out = 'D';
    case T_LOGICAL: return *out = 'L';
    case T_BLOCK: return *out = 'B';
    case T_STRING: return *out = 'C';
    case T_MEMO: return *out = 'M';
    case T_ARRAY: return *out = bodyOf(x)->classHandle != 0 ? 'O' : 'A';
    default: return *out = 'U';
    }
}

}  // namespace

XB_OPCODE(MACROEVAL) { return macroEvaluate(); }

// Alias name (or area number written as digits) → the work-area number.
XB_OPCODE(MACROALIAS) {
    if (!(vm.top->type & M_STRING)) return opStatus(MACRO_ARGUMENT_ERROR);
    char name[SYMBOL_NAME_MAX + 1];
    uint32_t n = strLength(vm.top);
    const char* p = strData(vm.top);
    while (n && (*p == ' ' || *p == '\t')) ++p, --n;
    while (n && (p[n - 1] == ' ' || p[n - 1] == '\t')) --n;
    uint32_t area = 0;
    if (n && *p >= '0' && *p <= '9') {
        // a work-area number written as digits
        for (uint32_t i = 0; i < n && p[i] >= '0' && p[i] <= '9' && area < 256; ++i) area = area * 10 + uint32_t(p[i] - '0');
        if (area >= 256) area = 0;
    } else {
        if (n == 0 || n > uint32_t(SYMBOL_NAME_MAX)) return opStatus(MACRO_ARGUMENT_ERROR);
        upperText(name, p, n);
        name[n] = 0;
        GlobalSymbol* s = findSymbol(name);
        if (!s || !s->aliasArea) return opStatus(MACRO_ARGUMENT_ERROR);
        area = s->aliasArea;
    }
    itemClear(vm.top);
    vm.top->type = T_INTEGER;
    vm.top->width = 10;
    vm.top->v.l = area;
    return 0;
}

XB_OPCODE(MACROTEXT) {
    if (!(vm.top->type & M_STRING)) return opStatus(MACRO_ARGUMENT_ERROR);
    return substituteTop();
}

XB_OPCODE(MACROASSIGN) {
    if (!(vm.top->type & M_STRING)) return opStatus(MACRO_ARGUMENT_ERROR);
    if (uint16_t r = substituteTop()) return r;
    char name[SYMBOL_NAME_MAX + 1];
    if (!plainName(name)) return macroRun(true);
    GlobalSymbol* s = findOrCreateSymbol(name);
    --vm.top;
    return popMemvar(s);
}

XB_OPCODE(MACROPOPFIELD) {
    if (!(vm.top->type & M_STRING)) return opStatus(MACRO_ARGUMENT_ERROR);
    if (uint16_t r = substituteTop()) return r;
    char name[SYMBOL_NAME_MAX + 1];
    if (!plainName(name)) return macroRun(true);
    GlobalSymbol* s = findOrCreateSymbol(name);
    FieldDescriptor* d;
    if (uint16_t r = waitForField(s, AREA_CURRENT, &d)) return r;
    --vm.top;
    return popField(d);
}

XB_OPCODE(MACROPOPALIASFIELD) {
    if (!(vm.top->type & M_STRING)) return opStatus(MACRO_ARGUMENT_ERROR2);
    if (!joinAliasField()) return opStatus(MACRO_ARGUMENT_ERROR2);
    return macroRun(true);
}

XB_OPCODE(MACROPUSHALIASFIELD) {
    if (!(vm.top->type & M_STRING)) return opStatus(MACRO_ARGUMENT_ERROR2);
    if (!joinAliasField()) return opStatus(MACRO_ARGUMENT_ERROR2);
    return macroRun(false);
}

// Function name → its symbol.
XB_OPCODE(MACROSYMBOL) {
    if (!(vm.top->type & M_STRING)) return opStatus(MACRO_ARGUMENT_ERROR_NOSUBST);
    if (substituteTop()) return opStatus(MACRO_SYNTAX_ERROR_NOSUBST);
    char name[SYMBOL_NAME_MAX + 1];
    if (!plainName(name)) return opStatus(MACRO_SYNTAX_ERROR_NOSUBST);
    GlobalSymbol* s = findOrCreateSymbol(name);
    itemClear(vm.top);
    vm.top->type = T_SYMBOL;
    vm.top->v.o.ptr = s;
    return 0;
}

// TYPE(text): the type letter of the text's value, evaluated with errors
// trapped and undefined names as NIL; "UE" when it cannot be evaluated.
XB_OPCODE(TYPE) {
    if (!(vm.top->type & M_STRING)) return opStatus(TYPE_ARGUMENT_ERROR);
    Item* at = vm.top;
    bool savedNil = macroUndefinedIsNil;
    uint16_t savedFlags = vm.frameFlags;
    macroUndefinedIsNil = true;
    vm.frameFlags |= FF_QUIET;
    uint16_t r = macroEvaluate();
    macroUndefinedIsNil = savedNil;
    vm.frameFlags = uint16_t((vm.frameFlags & ~FF_QUIET) | (savedFlags & FF_QUIET));
    vm.top = at;  // one result in the argument's place, whatever the failure left
    char letters[2] = {'U', 'E'};
    uint32_t n = 2;
    if (r == 0) {
        typeLetters(vm.top, letters);
        n = 1;
    } else {
        vm.callResult = 0;
    }
    makeString(vm.top, letters, n);
    return 0;
}

}  // namespace xb
