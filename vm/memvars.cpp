#include "vm/memvars.h"

#include <cstring>

#include "vm/symref.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

MemvarTable table;
bool created;

Item* slotItem(uint16_t slot) { return memvarItem(slot); }

// The collector's roots: the publics, then the privates in use from the
// highest slot down.
void markMemvarRoots() {
    if (!created) return;
    for (int32_t s = 1; s <= table.publicCount; ++s) markItem(&table.values[s - 1]);
    for (int32_t s = int32_t(MEMVAR_SLOTS); s >= table.nextPrivate + 2; --s) markItem(&table.values[s - 1]);
}

MemvarTable* ensureTable() {
    if (!created) {
        table.values = static_cast<Item*>(memAllocZero(MEMVAR_SLOTS * sizeof(Item)));
        table.privates = static_cast<PrivateEntry*>(memAllocZero(MEMVAR_SLOTS * sizeof(PrivateEntry)));
        table.publicCount = 0;
        table.nextPrivate = int32_t(MEMVAR_SLOTS) - 1;
        table.privateDepth = 0;
        created = true;
        gcMarkMemvarRoots = markMemvarRoots;
        memvarSlotItem = slotItem;
        releasePrivatesHook = releasePrivates;
    }
    return &table;
}

}  // namespace

MemvarTable* memvarTable() { return created ? &table : nullptr; }

Item* memvarItem(uint16_t slot) {
    if (!created || slot == 0) return nullptr;
    return &table.values[slot - 1];
}

Item* newPrivate(GlobalSymbol* symbol) {
    MemvarTable* t = ensureTable();
    if (t->nextPrivate < t->publicCount || t->privateDepth >= MEMVAR_SLOTS) fatalError(669);
    vm.frameFlags |= FF_PRIVATES;
    PrivateEntry& e = t->privates[t->privateDepth++];
    e.savedSlot = symbol->memvarSlot;
    e.pad = 0;
    e.frame = slotOf(vm.frame);
    e.symbol = symbol;
    uint16_t slot = uint16_t(t->nextPrivate + 1);
    symbol->memvarSlot = slot;
    --t->nextPrivate;
    Item* it = &t->values[slot - 1];
    itemClear(it);
    return it;
}

Item* newPublic(GlobalSymbol* symbol) {
    MemvarTable* t = ensureTable();
    if (t->publicCount > t->nextPrivate) fatalError(669);
    uint16_t slot = uint16_t(++t->publicCount);
    symbol->memvarSlot = slot;
    Item* it = &t->values[slot - 1];
    itemClear(it);
    it->type = T_LOGICAL;
    it->v.l = std::strcmp(symbolName(symbol), "DADOVIR") == 0;
    return it;
}

void releasePrivates() {
    if (created) {
        uint32_t frame = slotOf(vm.frame);
        while (table.privateDepth && table.privates[table.privateDepth - 1].frame == frame) {
            PrivateEntry& e = table.privates[--table.privateDepth];
            uint16_t slot = e.symbol->memvarSlot;
            table.nextPrivate = int32_t(slot) - 1;
            // the slot is no root any more: keep no pointer to an object the
            // collector may free
            itemClear(&table.values[slot - 1]);
            e.symbol->memvarSlot = e.savedSlot;
        }
    }
    vm.frameFlags = uint16_t(vm.frameFlags & ~FF_PRIVATES);
}

namespace {

uint16_t raiseMissingName(const GlobalSymbol* symbol, uint16_t genCode, uint16_t subCode, uint16_t tries) {
    // while TYPE examines an expression the error ends the evaluation instead
    if (vm.frameFlags & FF_QUIET) {
        vm.callResult = ST_UNWIND;
        return ST_UNWIND;
    }
    ErrorDescriptor d = errorDescriptor("BASE", genCode, subCode, EF_RETRY, symbolName(symbol));
    d.tries = tries;
    // no default is offered: an answer other than retry has stopped the run
    return raiseAndDecide(&d) == ST_UNWIND ? ST_UNWIND : 0;
}

}  // namespace

uint16_t raiseMissingVariable(const GlobalSymbol* symbol, uint16_t tries) {
    return raiseMissingName(symbol, EG_NOVAR, 1003, tries);
}

uint16_t raiseMissingAlias(const GlobalSymbol* symbol, uint16_t tries) {
    return raiseMissingName(symbol, EG_NOALIAS, 1002, tries);
}

uint16_t waitForMemvar(GlobalSymbol* symbol) {
    for (uint16_t tries = 1; !symbol->memvarSlot; ++tries)
        if (raiseMissingVariable(symbol, tries) == ST_UNWIND) return ST_UNWIND;
    return 0;
}

uint16_t pushMemvar(GlobalSymbol* symbol) {
    if (uint16_t r = waitForMemvar(symbol)) return r;
    pushDeref(memvarItem(symbol->memvarSlot));
    return 0;
}

uint16_t popMemvar(GlobalSymbol* symbol) {
    if (!symbol->memvarSlot) newPrivate(symbol);
    storeTop(memvarItem(symbol->memvarSlot));
    return 0;
}

uint16_t pushMemvarRef(GlobalSymbol* symbol) {
    if (uint16_t r = waitForMemvar(symbol)) return r;
    Item* v = memvarItem(symbol->memvarSlot);
    if (v->type & M_REF) {
        push(v);
        return 0;
    }
    Item* t = pushSlot();
    itemClear(t);
    t->type = T_MEMVARREF;
    t->v.area = symbol->memvarSlot;
    return 0;
}

void memvarsDropPublics() {
    if (created) table.publicCount = 0;
}

void memvarsFree() {
    if (!created) return;
    memFree(table.values);
    memFree(table.privates);
    table = MemvarTable{};
    created = false;
}

}  // namespace xb
