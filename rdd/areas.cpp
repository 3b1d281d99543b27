#include "rdd/areas.h"

#include "vm/symbols.h"
#include "rdd/binding.h"
#include "rdd/default_methods.h"
#include "rdd/hooks.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "vm/error.h"
#include "vm/memvars.h"
#include "base/memory.h"
#include "runtime/output.h"
#include "runtime/settings_block.h"
#include "vm/vm.h"

namespace xb {

namespace {

WorkArea** slots;
uint16_t current = 1;

// Close, then release, every open area (release frees the record and
// clears its slot). Nothing runs any more that could use an area, so a
// busy count is not honoured here.
void closeAll() {
    for (uint16_t n = 1; n <= AREA_COUNT; ++n) {
        WorkArea* area = slots[n];
        if (!area) continue;
        selectArea(n);
        area->busy = 0;
        rdd::close(area);
        if (slots[n] == area) rdd::release(area);
        storeArea(n, nullptr);
    }
    selectArea(1);
}

bool digitStart(const char* s, uint32_t n, uint32_t* at) {
    uint32_t i = 0;
    while (i < n && s[i] == ' ') ++i;
    *at = i;
    return i < n && s[i] >= '0' && s[i] <= '9';
}

}  // namespace

WorkArea** areaTable() { return slots; }
uint16_t currentAreaNumber() { return current; }
WorkArea* currentArea() { return slots ? slots[0] : nullptr; }
WorkArea* areaAt(uint32_t n) { return slots && n >= 1 && n <= AREA_COUNT ? slots[n] : nullptr; }

void storeArea(uint16_t n, WorkArea* a) {
    if (!slots || n < 1 || n > AREA_COUNT) return;
    slots[n] = a;
    if (n == current) slots[0] = a;
}

uint16_t lowestFreeArea() {
    if (!slots) return 1;
    for (uint16_t n = 1; n <= AREA_COUNT; ++n)
        if (!slots[n]) return n;
    return 0;
}

uint16_t areaSelectionError(bool noFreeArea) {
    ErrorDescriptor d = errorDescriptor(noFreeArea ? "DBCMD" : "BASE", noFreeArea ? EG_LIMIT : EG_UNSUPPORTED, 1101,
                                        EF_DEFAULT, noFreeArea ? "SELECT" : "M->");
    d.tries = 1;
    uint16_t r = raiseAndDecide(&d);
    return rddStatusWord(r == ST_UNWIND ? RDD_UNWIND : RDD_FAILED);

}

uint16_t selectArea(uint32_t n) {
    // Deliberately recoverable (the condition used to end the process): a
    // number past the table (alias M, the memory variables' pseudo-area,
    // in M->(expression)) and a request for a free area when all 255 are
    // in use raise an error whose default leaves the current area selected.
    if (n > AREA_COUNT) {
        areaSelectionError(false);
        return current;
    }
    if (n == 0) {
        n = lowestFreeArea();
        if (n == 0) {
            areaSelectionError(true);
            return current;
        }
    }
    uint16_t previous = current;
    current = uint16_t(n);
    if (slots) slots[0] = slots[n];
    return previous;
}

uint16_t areaOfValue(const Item* v, uint16_t* area) {
    *area = 0;
    if (isNumeric(v)) {
        double d = v->type == T_DOUBLE ? v->v.d : double(v->v.l);
        *area = d >= 0 && d < 256 ? uint16_t(d) : 0;
        return 0;
    }
    if (!isString(v)) return 0;
    const char* s = strData(v);
    uint32_t n = strLength(v), at = 0;
    if (digitStart(s, n, &at)) {
        uint32_t value = 0;
        for (; at < n && s[at] >= '0' && s[at] <= '9' && value < 256; ++at) value = value * 10 + uint32_t(s[at] - '0');
        *area = value < 256 ? uint16_t(value) : 0;
        return 0;
    }
    char name[SYMBOL_NAME_MAX + 1];
    if (n > uint32_t(SYMBOL_NAME_MAX)) n = SYMBOL_NAME_MAX;
    for (uint32_t i = 0; i < n; ++i) name[i] = s[i];
    name[n] = 0;
    GlobalSymbol* sym = findOrCreateSymbol(trimAliasName(name));
    for (uint16_t tries = 1; !sym->aliasArea; ++tries)
        if (raiseMissingAlias(sym, tries) == ST_UNWIND) return ST_UNWIND;
    *area = sym->aliasArea;
    return 0;
}

RddResult closeAndRelease(WorkArea* a) {
    if (a->busy) {
        AreaErrorInfo e{};
        e.genCode = EG_UNSUPPORTED;
        e.flags = EF_DEFAULT;
        e.operation = "close";
        RddResult r = raiseAreaError(a, e);
        return r == RDD_UNWIND ? RDD_UNWIND : RDD_FAILED;
    }
    if (RddResult r = rdd::close(a)) return r;
    return rdd::release(a);
}

void databaseEvent(uint16_t code) {
    if (code == EVENT_START) {
        if (!slots) slots = static_cast<WorkArea**>(memAllocZero((AREA_COUNT + 1) * sizeof(WorkArea*)));
        current = 1;
        slots[0] = slots[1];
        settingSetLogical(SET_EXCLUSIVEOPEN, true);
        clearDefaultDriver();
        installFieldAccess();
    } else if (code == EVENT_STOP) {
        if (slots) closeAll();
        releasePendingHooks();
        releaseAllDrivers();
        memFree(slots);
        slots = nullptr;
        current = 1;
        clearDefaultDriver();
        uninstallFieldAccess();
    }
}

}  // namespace xb
