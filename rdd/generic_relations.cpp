// Generic relations, filters and the locate scope. Every Item kept here is
// a static-area temporary owned by the area or the relation record.
#include "rdd/default_methods.h"
#include "rdd/generic.h"
#include "base/memory.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

Item* keep(const Item* it) {
    Item* t = tempAlloc();
    *t = *it;
    return t;
}
void freeTemp(Item*& it) {
    if (it) tempRelease(it);
    it = nullptr;
}

RelationRecord* relationAt(WorkArea* a, uint16_t n) {
    RelationRecord* r = a->relations;
    for (uint16_t i = 1; r && i < n; ++i) r = r->next;
    return n >= 1 ? r : nullptr;
}

RddResult genericSetRelation(WorkArea* a, const RelationRecord* given) {
    if (!given->child || !given->keyBlock) return RDD_FAILED;
    auto* r = static_cast<RelationRecord*>(memAllocZero(sizeof(RelationRecord)));
    r->keyBlock = keep(given->keyBlock);
    r->keyText = given->keyText && isString(given->keyText) ? keep(given->keyText) : nullptr;
    r->parent = a;
    r->child = given->child;
    RelationRecord** end = &a->relations;
    while (*end) end = &(*end)->next;
    *end = r;
    return rdd::childStart(r->child, r);
}

RddResult genericClearRelations(WorkArea* a) {
    RddResult status = RDD_OK;
    while (RelationRecord* r = a->relations) {
        RddResult s = rdd::childEnd(r->child, r);
        if (!status) status = s;
        a->relations = r->next;
        freeTemp(r->keyBlock);
        freeTemp(r->keyText);
        memFree(r);
    }
    return status;
}

RddResult genericChildStart(WorkArea* a, RelationRecord*) {
    ++a->parentCount;
    return RDD_OK;
}

RddResult genericChildEnd(WorkArea* a, RelationRecord*) {
    if (a->parentCount > 0) --a->parentCount;
    return RDD_OK;
}

RddResult genericSyncChildren(WorkArea* a) {
    for (RelationRecord* r = a->relations; r; r = r->next)
        if (RddResult s = rdd::childSync(r->child, r)) return s;
    return RDD_OK;
}

RddResult genericRelationArea(WorkArea* a, uint16_t n, uint16_t* area) {
    RelationRecord* r = relationAt(a, n);
    *area = r ? r->child->areaNo : 0;
    return RDD_OK;
}

RddResult genericRelationText(WorkArea* a, uint16_t n, Item* out) {
    RelationRecord* r = relationAt(a, n);
    if (r && r->keyText) *out = *r->keyText;
    else makeString(out, "", 0);
    return RDD_OK;
}

// Run for the child a: the key is evaluated in the parent's area and its
// value lands in the child's result item.
RddResult genericRelationEval(WorkArea* a, RelationRecord* r) {
    ++a->busy;  // the child's operation is running too
    RddResult s = rddFromStatus(evalInArea(r->parent, r->keyBlock));
    --a->busy;
    if (!a->result) return s;
    if (s) itemClear(a->result);
    else *a->result = *returnItem();
    return s;
}

RddResult genericClearFilter(WorkArea* a) {
    freeTemp(a->filterBlock);
    freeTemp(a->filterText);
    return RDD_OK;
}

RddResult genericFilterText(WorkArea* a, Item* out) {
    if (a->filterText) *out = *a->filterText;
    else makeString(out, "", 0);
    return RDD_OK;
}

RddResult genericClearLocate(WorkArea* a) {
    for (Item*& it : a->locateScope) freeTemp(it);
    return RDD_OK;
}

RddResult genericSetLocate(WorkArea* a, const Item* scope) {
    if (RddResult r = rdd::clearLocate(a)) return r;
    for (uint16_t i = 0; i < LOCATE_ITEMS; ++i) a->locateScope[i] = keep(&scope[i]);
    return RDD_OK;
}

}  // namespace

// Clears the old filter, then keeps a block and a text when given.
RddResult genericSetFilter(WorkArea* a, const Item* block, const Item* text) {
    if (RddResult r = rdd::clearFilter(a)) return r;
    if (block && (block->type & T_BLOCK)) a->filterBlock = keep(block);
    if (text && isString(text)) a->filterText = keep(text);
    return RDD_OK;
}

void fillGenericRelations(RddMethodTable* t) {
    rddSetSlot<RDD_SETRELATION>(t, genericSetRelation);
    rddSetSlot<RDD_CLEARRELATIONS>(t, genericClearRelations);
    rddSetSlot<RDD_CHILDSTART>(t, genericChildStart);
    rddSetSlot<RDD_CHILDEND>(t, genericChildEnd);
    rddSetSlot<RDD_SYNCCHILDREN>(t, genericSyncChildren);
    rddSetSlot<RDD_RELATIONAREA>(t, genericRelationArea);
    rddSetSlot<RDD_RELATIONTEXT>(t, genericRelationText);
    rddSetSlot<RDD_RELATIONEVAL>(t, genericRelationEval);
    rddSetSlot<RDD_CLEARFILTER>(t, genericClearFilter);
    rddSetSlot<RDD_SETFILTER>(t, genericSetFilter);
    rddSetSlot<RDD_FILTERTEXT>(t, genericFilterText);
    rddSetSlot<RDD_CLEARLOCATE>(t, genericClearLocate);
    rddSetSlot<RDD_SETLOCATE>(t, genericSetLocate);
}

}  // namespace xb
