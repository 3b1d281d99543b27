// Moving, changing and locking records of the current area: DBSKIP,
// DBGOTOP, DBGOBOTTOM, DBGOTO, DBAPPEND, DBDELETE, DBRECALL, __DBPACK,
// __DBZAP, DBCOMMIT, DBCOMMITALL, DBRUNLOCK, DBUNLOCKALL, DBRLOCKLIST and
// DBRLOCK. Each is a thin layer over one method.
#include "vm/function.h"
#include "rdd/areas.h"
#include "rdd/db_natives.h"
#include "vm/error.h"
#include "runtime/errorsys.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {

namespace {

using AreaMethod = RddResult (*)(WorkArea*);

uint16_t onCurrent(AreaMethod method) {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    return a ? noResult(method(a)) : noResult(st);
}

RddResult goTopOf(WorkArea* a) { return rdd::goTop(a); }
RddResult goBottomOf(WorkArea* a) { return rdd::goBottom(a); }
RddResult deleteOf(WorkArea* a) { return rdd::deleteRecord(a); }
RddResult recallOf(WorkArea* a) { return rdd::recall(a); }
RddResult packOf(WorkArea* a) { return rdd::pack(a); }
RddResult zapOf(WorkArea* a) { return rdd::zap(a); }
RddResult flushOf(WorkArea* a) { return rdd::flush(a); }

}  // namespace

// DBSKIP([count]): count records on (default 1).
XB_NATIVE(fnDBSKIP, "DBSKIP") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    Item* n = paramItem(1, M_NUMERIC);
    return noResult(rdd::skip(a, n ? itemInt(n) : 1));
}

XB_NATIVE(fnDBGOTOP, "DBGOTOP") { return onCurrent(goTopOf); }
XB_NATIVE(fnDBGOBOTTOM, "DBGOBOTTOM") { return onCurrent(goBottomOf); }
XB_NATIVE(fnDBDELETE, "DBDELETE") { return onCurrent(deleteOf); }
XB_NATIVE(fnDBRECALL, "DBRECALL") { return onCurrent(recallOf); }
XB_NATIVE(fn__DBPACK, "__DBPACK") { return onCurrent(packOf); }
XB_NATIVE(fn__DBZAP, "__DBZAP") { return onCurrent(zapOf); }
XB_NATIVE(fnDBCOMMIT, "DBCOMMIT") { return onCurrent(flushOf); }

// DBGOTO(record): exactly one argument, handed to goToId (which checks it).
XB_NATIVE(fnDBGOTO, "DBGOTO") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    if (paramCount() != 1) {
        uint16_t r = argumentError("DBCMD", 1003, EF_DEFAULT);
        retNil();
        return r;
    }
    Item* record = derefItem(paramItem(1, M_ANY));
    return noResult(rdd::goToId(a, record));
}

// DBAPPEND([releaseLocks]): a new record; other record locks are released
// unless the argument is false.
XB_NATIVE(fnDBAPPEND, "DBAPPEND") {
    setNetErr(false);
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    Item* release = paramItem(1, T_LOGICAL);
    return noResult(rdd::append(a, release ? uint16_t(release->v.l != 0) : uint16_t(1)));
}

// DBCOMMITALL(): writes every open area's changes.
XB_NATIVE(fnDBCOMMITALL, "DBCOMMITALL") {
    for (uint16_t n = 1; n <= AREA_COUNT; ++n)
        if (WorkArea* a = areaAt(n))
            if (rdd::flush(a) == RDD_UNWIND) return ST_UNWIND;
    retNil();
    return 0;
}

// DBRUNLOCK([record]): releases that record's lock, or all with 0.
XB_NATIVE(fnDBRUNLOCK, "DBRUNLOCK") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    Item* n = paramItem(1, M_NUMERIC);
    return noResult(rdd::unlock(a, n ? uint32_t(itemInt(n)) : 0));
}

// DBUNLOCKALL(): releases every lock of every area.
XB_NATIVE(fnDBUNLOCKALL, "DBUNLOCKALL") {
    for (uint16_t n = 1; n <= AREA_COUNT; ++n)
        if (WorkArea* a = areaAt(n))
            if (rdd::unlock(a, 0) == RDD_UNWIND) return ST_UNWIND;
    retNil();
    return 0;
}

// DBRLOCKLIST(): the locked record numbers, in locking order.
XB_NATIVE(fnDBRLOCKLIST, "DBRLOCKLIST") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) {
        retArray(0);
        return st;
    }
    Item* out = tempAlloc();
    itemClear(out);
    RddResult r = rdd::info(a, DBI_GETLOCKARRAY, out);
    if (isArray(out)) retItem(out);
    else retArray(0);
    tempRelease(out);
    return nativeStatus(r);
}

// DBRLOCK([record]): 0 or none locks the current record alone; a number
// adds that record to the locked set. True when the lock is held.
XB_NATIVE(fnDBRLOCK, "DBRLOCK") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) {
        retLogical(false);
        return st;
    }
    Item* n = paramItem(1, M_NUMERIC);
    LockInfo lock{};
    lock.record = n ? uint32_t(itemInt(n)) : 0;
    lock.method = lock.record ? LOCK_ADD : LOCK_RECORD;
    RddResult r = rdd::lock(a, &lock);
    retLogical(!r && lock.result != 0);
    return nativeStatus(r);
}

}  // namespace xb
