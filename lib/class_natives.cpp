// The class-definition functions callable from pcode (docs/classes.md lists
// them). Each checks its arguments and returns without effect when they do
// not fit: a handle out of range, a flag out of range, a missing text or
// array.
#include <cstring>

#include "vm/function.h"
#include "vm/symbols.h"
#include "lib/classes.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// A numeric parameter within [low, high].
bool paramRange(uint32_t n, int32_t low, int32_t high, int32_t* out) {
    Item* p = paramItem(n, M_NUMERIC);
    if (!p) return false;
    int32_t v = itemInt(p);
    if (v < low || v > high) return false;
    *out = v;
    return true;
}

uint16_t paramClass(uint32_t n) {
    int32_t h;
    if (!paramRange(n, 1, 0xFFFF, &h) || !classRecord(uint16_t(h))) return 0;
    return uint16_t(h);
}

// A text parameter as a symbol name (upper case, at most the symbol length).
GlobalSymbol* paramName(uint32_t n) {
    Item* p = paramItem(n, M_STRING);
    if (!p || strLength(p) == 0) return nullptr;
    char buf[SYMBOL_NAME_MAX + 1];
    uint32_t len = strLength(p) < SYMBOL_NAME_MAX ? strLength(p) : SYMBOL_NAME_MAX;
    std::memcpy(buf, strData(p), len);
    buf[len] = 0;
    GlobalSymbol* s = findOrCreateSymbol(buf);
    return symbolName(s)[0] ? s : nullptr;
}

// The function named name in the module table of a code block; blocks of
// macro code have no image module and name global functions.
const Function* functionInModule(const Codeblock* cb, const GlobalSymbol* name) {
    const ImageModule* m = findImageModule(cb->moduleSymbols);
    if (!m) return name->function;
    for (uint32_t i = 1; i < m->count; ++i) {
        const ModuleSymbol& e = m->symbols[i];
        if (std::strcmp(e.name, symbolName(name)) != 0) continue;
        const GlobalSymbol* g = entryGlobal(&e);
        if (g && g->function) return g->function;
    }
    return nullptr;
}

}  // namespace

// (name, owner: a number or a block of the defining module, [parent object]) -> handle or 0
XB_NATIVE(fnClassNew, "__CLASSNEW") {
    retInt(0);
    GlobalSymbol* name = paramName(1);
    if (!name) return 0;
    uintptr_t owner;
    if (Item* b = paramItem(2, T_BLOCK)) owner = uintptr_t(static_cast<Codeblock*>(bodyOf(b)->data)->moduleSymbols);
    else if (Item* num = paramItem(2, M_NUMERIC)) owner = uintptr_t(uint32_t(itemInt(num)));
    else return 0;
    uint16_t parent = 0;
    if (paramCount() >= 3 && vm.frame[4].type != T_NIL) {
        Item* p = paramItem(3, T_ARRAY);
        if (!p || !isObject(p) || !classRecord(objectClass(p))) return 0;
        parent = objectClass(p);
    }
    retInt(parent ? classCreateDerived(name, owner, parent) : classCreate(MESSAGE_GROWTH, name, owner));
    return 0;
}

// (handle, shared 0/1, scope 0..2, array of names, initial value) -> .T. when added
XB_NATIVE(fnClassAddVar, "__CLASSADDVAR") {
    retLogical(false);
    uint16_t h = paramClass(1);
    int32_t shared, scope;
    Item* names = paramItem(4, T_ARRAY);
    if (!h || !paramRange(2, 0, 1, &shared) || !paramRange(3, 0, 2, &scope) || !names) return 0;
    for (uint32_t i = 0; i < arrayLength(names); ++i)
        if (!(arrayItems(names)[i].type & M_STRING) || strLength(&arrayItems(names)[i]) == 0) return 0;
    Item initial{};
    if (Item* p = paramItem(5, M_ANY)) initial = *p;
    bool ok = true;
    for (uint32_t i = 0; i < arrayLength(names); ++i) {
        const Item* n = &arrayItems(names)[i];
        ok = classAddVariable(h, strData(n), strLength(n), shared != 0, uint8_t(scope), &initial) && ok;
    }
    retLogical(ok);
    return 0;
}

// (handle, kind 0/1, scope 0..2, name, block of the defining module, function name) -> .T. when added
XB_NATIVE(fnClassAddMethod, "__CLASSADDMETHOD") {
    retLogical(false);
    uint16_t h = paramClass(1);
    int32_t kind, scope;
    GlobalSymbol* name = paramName(4);
    Item* block = paramItem(5, T_BLOCK);
    GlobalSymbol* function = paramName(6);
    // A bare number cannot be checked to be code, so methods are named
    // through the block of the module that defines them.
    if (!h || !paramRange(2, 0, 1, &kind) || !paramRange(3, 0, 2, &scope) || !name || !block || !function)
        return 0;
    const Function* f = functionInModule(static_cast<Codeblock*>(bodyOf(block)->data), function);
    if (!f) return 0;
    MethodEntry* e = classAddMessage(h, name, f);
    if (!e) return 0;
    e->scope = uint8_t(scope);
    e->shared = uint8_t(kind);
    e->target = f;
    retLogical(true);
    return 0;
}

// (handle, scope, name, target message, shared, [assignment target message], assignment shared)
XB_NATIVE(fnClassAddForward, "__CLASSADDFORWARD") {
    retLogical(false);
    uint16_t h = paramClass(1);
    int32_t scope, shared = 0, assignShared = 0;
    Item* name = paramItem(3, M_STRING);
    GlobalSymbol* target = paramName(4);
    if (!h || !paramRange(2, 0, 2, &scope) || !name || strLength(name) == 0 || !target) return 0;
    if (paramItem(5, M_NUMERIC) && !paramRange(5, 0, 1, &shared)) return 0;
    GlobalSymbol* assign = nullptr;
    if (paramCount() >= 6 && vm.frame[7].type != T_NIL && !(assign = paramName(6))) return 0;
    if (paramItem(7, M_NUMERIC) && !paramRange(7, 0, 1, &assignShared)) return 0;
    retLogical(classAddForward(h, strData(name), strLength(name), uint8_t(scope), target, shared != 0, assign,
                               assignShared != 0));
    return 0;
}

// (handle, message name, function name) -> .T. when added
XB_NATIVE(fnClassAddFunc, "__CLASSADDFUNC") {
    retLogical(false);
    uint16_t h = paramClass(1);
    GlobalSymbol* message = paramName(2);
    GlobalSymbol* function = paramName(3);
    if (!h || !message || !function || !function->function) return 0;
    MethodEntry* e = classAddMessage(h, message, function->function);
    if (e) e->target = function->function;
    retLogical(e != nullptr);
    return 0;
}

// (handle) -> the class name, "" for a handle out of range
XB_NATIVE(fnClassName, "__CLASSNAME") {
    int32_t h = 0;
    paramRange(1, 0, 0xFFFF, &h);
    retCString(className(uint16_t(h)));
    return 0;
}

// (handle) -> array of the message names, NIL for a handle out of range
XB_NATIVE(fnClassMessages, "__CLASSMESSAGES") {
    uint16_t h = paramClass(1);
    ClassRecord* c = classRecord(h);
    if (!c) {
        retNil();
        return 0;
    }
    uint16_t n = c->methodCount;
    retArray(n);
    for (uint16_t i = 0; i < n; ++i) {
        const char* name = symbolName(c->methods[i].message);
        makeString(arrayItems(returnItem()) + i, name, uint32_t(std::strlen(name)));
    }
    return 0;
}

// (handle) -> an object with one NIL element per message
XB_NATIVE(fnClassInstance, "__CLASSINSTANCE") {
    uint16_t h = paramClass(1);
    if (!h) {
        retNil();
        return 0;
    }
    retNil();
    classInstantiate(h, returnItem());
    return 0;
}

// (handle) -> an object copied from the instance template, hooks run
XB_NATIVE(fnClassFromTemplate, "__CLASSFROMTEMPLATE") {
    uint16_t h = paramClass(1);
    if (!h) {
        retNil();
        return 0;
    }
    return classInstantiateFromTemplate(h);
}

// (handle, name) -> .T. when the class or an ancestor has that name
XB_NATIVE(fnClassIsKindOf, "__CLASSISKINDOF") {
    uint16_t h = paramClass(1);
    Item* name = paramItem(2, M_STRING);
    retLogical(h && name && classIsKindOf(h, strData(name), strLength(name)));
    return 0;
}

}  // namespace xb
