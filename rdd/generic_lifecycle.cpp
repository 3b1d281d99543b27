// The generic life of an area: the result item at creation, binding at open
// and create, undoing it all at close, freeing at release, and the generic
// information codes.
#include <cstring>

#include "vm/symbols.h"
#include "rdd/areas.h"
#include "rdd/binding.h"
#include "rdd/default_methods.h"
#include "rdd/generic.h"
#include "rdd/registry.h"
#include "base/memory.h"
#include "vm/settings.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

void freeTemp(Item*& it) {
    if (it) tempRelease(it);
    it = nullptr;
}

void freeRelation(RelationRecord* r) {
    freeTemp(r->keyBlock);
    freeTemp(r->keyText);
    memFree(r);
}

// Removes from every area the relations that lead into a.
void dropRelationsInto(WorkArea* a) {
    for (uint16_t n = 1; n <= AREA_COUNT; ++n) {
        WorkArea* parent = areaAt(n);
        if (!parent) continue;
        for (RelationRecord** p = &parent->relations; *p;) {
            if ((*p)->child == a) {
                RelationRecord* gone = *p;
                *p = gone->next;
                freeRelation(gone);
            } else {
                p = &(*p)->next;
            }
        }
    }
    a->parentCount = 0;
}

}  // namespace

RddResult genericNewArea(WorkArea* a) {
    if (!a->result) a->result = tempAlloc();
    itemClear(a->result);
    return RDD_OK;
}

RddResult genericOpen(WorkArea* a, OpenInfo* info) { return rddFromStatus(bindArea(a, info)); }

RddResult genericClose(WorkArea* a) {
    rdd::clearFilter(a);
    rdd::clearRelations(a);
    rdd::clearLocate(a);
    if (a->parentCount > 0) dropRelationsInto(a);
    unbindArea(a);
    return RDD_OK;
}

// Frees everything the area still holds, even after a failed open that
// never got to close.
RddResult genericRelease(WorkArea* a) {
    while (RelationRecord* r = a->relations) {
        a->relations = r->next;
        freeRelation(r);
    }
    if (a->parentCount > 0) dropRelationsInto(a);
    freeTemp(a->filterBlock);
    freeTemp(a->filterText);
    for (Item*& it : a->locateScope) freeTemp(it);
    freeTemp(a->result);
    unbindArea(a);
    memFree(a->fields);
    a->fields = nullptr;
    a->fieldCount = a->fieldCapacity = 0;
    if (a->areaNo && areaAt(a->areaNo) == a) storeArea(a->areaNo, nullptr);
    releaseDriver(a->methods);
    memFree(a);
    return RDD_OK;
}

RddResult genericInfo(WorkArea* a, uint16_t code, Item* out) {
    itemClear(out);
    switch (code) {
    case 1:
    case 2: setLogical(out, false); return RDD_OK;
    case 22: {
        int32_t n = 0;
        for (RelationRecord* r = a->relations; r; r = r->next) ++n;
        setInteger(out, n);
        return RDD_OK;
    }
    case 26: setLogical(out, a->bof != 0); return RDD_OK;
    case 27: setLogical(out, a->eof != 0); return RDD_OK;
    case 28:
        if (a->locateScope[1]) *out = *a->locateScope[1];
        else makeString(out, "", 0);
        return RDD_OK;
    case 29: setLogical(out, a->found != 0); return RDD_OK;
    case 30: setInteger(out, a->fieldCount); return RDD_OK;
    case 33:
        if (a->alias) makeString(out, symbolName(a->alias), uint32_t(std::strlen(symbolName(a->alias))));
        return RDD_OK;
    case 102:
        out->type = T_DOUBLE;
        out->v.d = 3.0;
        out->decimals = settingDecimals();
        return RDD_OK;
    default: return RDD_FAILED;
    }
}

void fillGenericLifecycle(RddMethodTable* t) {
    rddSetSlot<RDD_NEWAREA>(t, genericNewArea);
    rddSetSlot<RDD_OPEN>(t, genericOpen);
    rddSetSlot<RDD_CREATE>(t, genericOpen);
    rddSetSlot<RDD_CLOSE>(t, genericClose);
    rddSetSlot<RDD_RELEASE>(t, genericRelease);
    rddSetSlot<RDD_INFO>(t, genericInfo);
}

}  // namespace xb
