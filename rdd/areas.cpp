#include "rdd/areas.h"

#include "rdd/method_table.h"
#include "rdd/registry.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/settings_block.h"

namespace xb {

namespace {

WorkArea** slots;
uint16_t current = 1;

using AreaOperation = uint16_t (*)(WorkArea*);

uint16_t runOperation(WorkArea* area, uint16_t slot) {
    RddMethodTable* methods = *reinterpret_cast<RddMethodTable**>(area);
    RddMethod m = methods ? methods->slot[slot] : nullptr;
    return m ? reinterpret_cast<AreaOperation>(m)(area) : 0;
}

// Close, then release, every open area (release frees the record and
// clears its slot).
void closeAll() {
    for (uint16_t n = 1; n <= AREA_COUNT; ++n) {
        WorkArea* area = slots[n];
        if (!area) continue;
        current = n;
        slots[0] = area;
        runOperation(area, RDD_CLOSE);
        runOperation(area, RDD_RELEASE);
        slots[n] = nullptr;
    }
    current = 1;
    slots[0] = slots[1];
}

}  // namespace

WorkArea** areaTable() { return slots; }
uint16_t currentAreaNumber() { return current; }

void databaseEvent(uint16_t code) {
    if (code == EVENT_START) {
        if (!slots) slots = static_cast<WorkArea**>(memAllocZero((AREA_COUNT + 1) * sizeof(WorkArea*)));
        current = 1;
        settingSetLogical(SET_EXCLUSIVEOPEN, true);
        clearDefaultDriver();
    } else if (code == EVENT_STOP) {
        if (slots) closeAll();
        releaseAllDrivers();
        memFree(slots);
        slots = nullptr;
        clearDefaultDriver();
    }
}

}  // namespace xb
