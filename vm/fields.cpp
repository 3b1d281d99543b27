#include "vm/fields.h"

#include "base/hooks.h"
#include "vm/symref.h"
#include "vm/error.h"
#include "vm/memvars.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// No database layer: an empty area table whose current number still moves.
uint16_t currentNumber = 1;

uint16_t noCurrentArea() { return currentNumber; }
bool noAreaExists(uint16_t) { return false; }
uint32_t noFieldPosition(uint16_t, const FieldDescriptor*) { return 0; }
uint16_t noGetValue(uint16_t, uint32_t, Item*) { fatalError(1101); }
uint16_t noGetVarLen(uint16_t, uint32_t, uint32_t*) { fatalError(1101); }
uint16_t noPutValue(uint16_t, uint32_t, Item*) { fatalError(1101); }
uint16_t noSelectArea(uint16_t area) {
    if (area >= 256) fatalError(1101);
    uint16_t previous = currentNumber;
    currentNumber = area ? area : 1;  // every area is free
    return previous;
}

const FieldAccess noDatabase = {noCurrentArea, noAreaExists, noFieldPosition, noGetValue,
                                noGetVarLen,   noPutValue,   noSelectArea};
}  // namespace

const FieldAccess* fieldAccess() { return runtimeHooks.fieldAccess ? runtimeHooks.fieldAccess : &noDatabase; }

void setFieldAccess(const FieldAccess* a) {
    runtimeHooks.fieldAccess = a;
    currentNumber = 1;
}

FieldDescriptor* findField(const GlobalSymbol* symbol, uint16_t area) {
    for (FieldDescriptor* d = symbol->fieldChain; d; d = d->next)
        if (d->area == area) return d;
    return nullptr;
}

uint16_t waitForField(const GlobalSymbol* symbol, int32_t area, FieldDescriptor** found) {
    for (uint16_t tries = 1;; ++tries) {
        uint16_t a = area == AREA_CURRENT ? fieldAccess()->currentArea() : uint16_t(area);
        if ((*found = findField(symbol, a))) return 0;
        if (raiseMissingVariable(symbol, tries) == ST_UNWIND) return ST_UNWIND;
    }
}

uint16_t pushField(const FieldDescriptor* d) {
    if (!fieldAccess()->areaExists(d->area)) fatalError(1101);
    uint32_t pos = fieldAccess()->fieldPosition(d->area, d);
    uint32_t memoLength = 0;
    if (d->type == T_MEMO)
        if (uint16_t r = fieldAccess()->getVarLen(d->area, pos, &memoLength)) return r;
    Item* t = pushSlot();
    itemClear(t);
    switch (d->type) {
    case T_LOGICAL:
    case T_INTEGER:
    case T_DATE:
        t->type = d->type;
        t->width = d->length;
        break;
    case T_DOUBLE:
        t->type = T_DOUBLE;
        t->width = d->length;
        t->decimals = d->decimals;
        break;
    case T_STRING:
        makeStringBuffer(t, d->length);
        break;
    case T_MEMO:
        makeStringBuffer(t, memoLength);
        t->type = T_MEMO;
        break;
    default:
        t->type = d->type;
        break;
    }
    if (uint16_t r = fieldAccess()->getValue(d->area, pos, t)) {
        --vm.top;
        return r;
    }
    return 0;
}

uint16_t popField(const FieldDescriptor* d) {
    if (!fieldAccess()->areaExists(d->area)) fatalError(1101);
    uint32_t pos = fieldAccess()->fieldPosition(d->area, d);
    if (uint16_t r = fieldAccess()->putValue(d->area, pos, vm.top)) return r;
    --vm.top;
    return 0;
}

uint16_t areaOfItem(const Item* it) {
    if (it->type == T_ALIAS) return it->v.area;
    if (it->type == T_INTEGER) return it->v.l >= 0 && it->v.l <= 0xFFFF ? uint16_t(it->v.l) : 0xFFFF;
    return 0;
}

}  // namespace xb
