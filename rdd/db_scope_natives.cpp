// Blocks over the current area: DBEVAL, filters (DBSETFILTER,
// DBCLEARFILTER, DBFILTER), relations (DBSETRELATION, DBCLEARRELATION,
// DBRELATION, DBRSELECT) and the pending table hooks (DBSETHOOKS).
#include "vm/function.h"
#include "rdd/areas.h"
#include "rdd/db_natives.h"
#include "rdd/hooks.h"
#include "vm/error.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

Item* pending[TABLE_HOOKS];

Item* blockArgument(uint32_t n) {
    Item* p = argumentItem(n);
    return p && (p->type & T_BLOCK) ? p : nullptr;
}

// A text result of a method that fills an Item ("" when it leaves none).
uint16_t retTextOf(RddResult (*method)(WorkArea*, uint16_t, Item*), WorkArea* a, uint16_t n) {
    Item* out = tempAlloc();
    itemClear(out);
    RddResult r = method(a, n, out);
    if (isString(out)) retItem(out);
    else retText("");
    tempRelease(out);
    return nativeStatus(r);
}
RddResult relationTextOf(WorkArea* a, uint16_t n, Item* out) { return rdd::relationText(a, n, out); }
RddResult filterTextOf(WorkArea* a, uint16_t, Item* out) { return rdd::filterText(a, out); }

}  // namespace

void takePendingHooks(Item* into[TABLE_HOOKS]) {
    for (uint16_t i = 0; i < TABLE_HOOKS; ++i) {
        into[i] = pending[i];
        pending[i] = nullptr;
    }
}

void releasePendingHooks() {
    for (Item*& h : pending) {
        if (h) tempRelease(h);
        h = nullptr;
    }
}

// DBEVAL(block, [for], [while], [next], [record], [rest]).
XB_NATIVE(fnDBEVAL, "DBEVAL") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    ScopeInfo scope{};
    scope.action = blockArgument(1);
    if (!scope.action) {
        uint16_t r = argumentError("DBCMD", 2019, EF_DEFAULT);
        retNil();
        return r;
    }
    scope.forCondition = blockArgument(2);
    scope.whileCondition = blockArgument(3);
    scope.next = paramItem(4, M_NUMERIC);
    scope.record = paramItem(5, M_NUMERIC);
    scope.rest = paramItem(6, T_LOGICAL);
    return noResult(rdd::dbEval(a, &scope));
}

// DBSETFILTER(block, [text]).
XB_NATIVE(fnDBSETFILTER, "DBSETFILTER") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    return noResult(rdd::setFilter(a, blockArgument(1), paramItem(2, M_STRING)));
}

XB_NATIVE(fnDBCLEARFILTER, "DBCLEARFILTER") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    return noResult(rdd::setFilter(a, nullptr, nullptr));
}

// DBFILTER(): the filter's text, "" when none.
XB_NATIVE(fnDBFILTER, "DBFILTER") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) {
        retText("");
        return st;
    }
    return retTextOf(filterTextOf, a, 0);
}

// DBSETRELATION(child area or alias, key block, [key text]).
XB_NATIVE(fnDBSETRELATION, "DBSETRELATION") {
    uint16_t st;
    WorkArea* parent = areaOrError(&st);
    if (!parent) return st;
    Item nil{};
    Item* target = argumentItem(1);
    uint16_t number = 0;
    if (uint16_t r = areaOfValue(target ? target : &nil, &number)) return noResult(r);
    WorkArea* child = areaAt(number);
    if (!child) {
        uint16_t r = argumentError("DBCMD", 1004, EF_DEFAULT);
        retNil();
        return r;
    }
    if (child == parent) {
        ErrorDescriptor d = errorDescriptor("DBCMD", EG_ARG, 1013, EF_DEFAULT, "DBSETRELATION");
        return noResult(raiseAndDecide(&d));
    }
    Item* key = blockArgument(2);
    if (!key) {
        uint16_t r = argumentError("DBCMD", 1004, EF_DEFAULT);
        retNil();
        return r;
    }
    RelationRecord relation{};
    relation.keyBlock = key;
    relation.keyText = paramItem(3, M_STRING);
    relation.parent = parent;
    relation.child = child;
    if (RddResult r = rdd::setRelation(parent, &relation)) return noResult(r);
    return noResult(rdd::skip(parent, 0));
}

XB_NATIVE(fnDBCLEARRELATION, "DBCLEARRELATION") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    return noResult(rdd::clearRelations(a));
}

// DBRELATION(n): the key text of the n-th relation, "" when none.
XB_NATIVE(fnDBRELATION, "DBRELATION") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) {
        retText("");
        return st;
    }
    return retTextOf(relationTextOf, a, uint16_t(paramInt(1)));
}

// DBRSELECT(n): the child area of the n-th relation, 0 when none.
XB_NATIVE(fnDBRSELECT, "DBRSELECT") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    uint16_t area = 0;
    RddResult r = a ? rdd::relationArea(a, uint16_t(paramInt(1)), &area) : RDD_OK;

    retInt(area);
    return a ? nativeStatus(r) : st;
}

// DBSETHOOKS(b1, ..., b8): the hooks the next opened table takes; a missing
// (or non-block) argument clears that hook.
XB_NATIVE(fnDBSETHOOKS, "DBSETHOOKS") {
    releasePendingHooks();
    for (uint16_t i = 0; i < TABLE_HOOKS; ++i)
        if (Item* b = blockArgument(i + 1u)) {
            pending[i] = tempAlloc();
            *pending[i] = *b;
        }
    return 0;
}

}  // namespace xb
