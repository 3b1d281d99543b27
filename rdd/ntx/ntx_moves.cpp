// DBFNTX: moving through the controlling order (goTop, goBottom, goTo,
// skipRaw, seek with scopes), keeping every open order up to date when a
// record is written back (goHot remembers the keys before the first change,
// goCold deletes and inserts), relations into the area seeking the child,
// and the table operations around the orders (flush, pack, zap, sort).
//
// The controlling order's position (its descent stack) is only trusted
// between operations on it: goTo and every change empty it, and a skip then
// finds the current record in the order again.
#include <cstring>

#include "rdd/dbf/dbf_driver.h"
#include "rdd/default_methods.h"
#include "rdd/ntx/ntx_area.h"
#include "rdd/ntx/ntx_unique.h"
#include "runtime/files.h"
#include "vm/settings.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

bool inScope(const NtxOrder* o, const char* key) {
    if (o->scope[0] && ntxCompare(key, o->scopeKey[0], o->scopeLength[0], o->tree.descending) < 0) return false;
    if (o->scope[1] && ntxCompare(key, o->scopeKey[1], o->scopeLength[1], o->tree.descending) > 0) return false;
    return true;
}

// An engine failure while moving: a stack fault is written to the console;
// the area goes to the phantom record and the operation fails.
RddResult treeFailure(WorkArea* a, NtxOrder* o, NtxStatus st) {
    if (st == NTX_ERR_DEPTH) {
        static const char kFault[] = "Error DBFNTX, stack fault.\r\n";
        fsWrite(os::stdOutput(), kFault, uint16_t(sizeof kFault - 1));
    }
    ntxParentGoTo(a, 0);
    o->tree.depth = 0;
    ntxTreeError(a, o, st);
    return RDD_FAILED;
}

// The first (top) or last record of the order within its scopes; 0 when
// there is none.
NtxStatus edgeRecord(NtxOrder* o, bool top, uint32_t* rec) {
    NtxTree* t = &o->tree;
    *rec = 0;
    if (o->scopeEmpty) return NTX_OK;
    NtxStatus st;
    int side = top ? 0 : 1;
    if (o->scope[side]) {
        bool found = false;
        st = top ? ntxSeek(t, o->scopeKey[0], o->scopeLength[0], true, false, rec, &found)
                 : ntxSeekAtMost(t, o->scopeKey[1], o->scopeLength[1], rec);
    } else {
        st = ntxDescend(t, top ? NTX_FIRST : NTX_LAST, nullptr, 0, rec);
    }
    if (st) return st;
    if (*rec && !inScope(o, t->curKey)) *rec = 0;
    return NTX_OK;
}

RddResult goEdge(WorkArea* a, bool top) {
    NtxOrder* o = ntxControlling(a);
    if (!o) return top ? rddCallVia<RDD_GOTOP>(&ntxParent, a) : rddCallVia<RDD_GOBOTTOM>(&ntxParent, a);
    if (RddResult r = rdd::goCold(a)) return r;
    if (RddResult r = ntxLockOrder(a, o)) return r;
    a->atTop = top;
    a->atBottom = !top;
    uint32_t rec = 0;
    NtxStatus st = edgeRecord(o, top, &rec);
    ntxUnlockOrder(a, o);
    if (st) return treeFailure(a, o, st);
    if (RddResult r = ntxParentGoTo(a, rec)) return r;
    return rdd::skipFilter(a, top ? 1 : -1);
}

RddResult ntxGoTop(WorkArea* a) { return goEdge(a, true); }

RddResult ntxGoBottom(WorkArea* a) { return goEdge(a, false); }

RddResult ntxGoTo(WorkArea* a, uint32_t record) {
    if (NtxOrder* o = ntxControlling(a)) o->tree.depth = 0;
    return rddCallVia<RDD_GOTO>(&ntxParent, a, record);
}

RddResult ntxGoToId(WorkArea* a, const Item* id) { return rddCallVia<RDD_GOTOID>(&ntxParent, a, id); }

// Puts the order's position on the current record: its own entry when it
// has one, else the first key not below its key (*exact false).
// NTX_STOPPED when the record's key could not be made (*keyResult says why).
NtxStatus placeOnCurrent(WorkArea* a, NtxOrder* o, bool* exact, uint32_t* rec, RddResult* keyResult) {
    NtxTree* t = &o->tree;
    char* key = o->newKey;
    bool passes = true;
    if ((*keyResult = ntxRecordKey(a, o, key, &passes))) return NTX_STOPPED;
    uint32_t recNo = ntxTable(a)->recNo;
    bool found = false;
    if (passes) {
        if (NtxStatus st = ntxLocate(t, key, recNo, &found)) return st;
    }
    *exact = found;
    if (found) {
        *rec = recNo;
        return NTX_OK;
    }
    bool equal = false;
    return ntxSeek(t, key, t->keySize, true, false, rec, &equal);
}

RddResult ntxSkipRaw(WorkArea* a, int32_t n) {
    NtxOrder* o = ntxControlling(a);
    if (!o || n == 0) return rddCallVia<RDD_SKIPRAW>(&ntxParent, a, n);
    if (RddResult r = rdd::goCold(a)) return r;
    if (RddResult r = ntxLockOrder(a, o)) return r;
    DbfTable* tab = ntxTable(a);
    NtxTree* t = &o->tree;
    int direction = n > 0 ? 1 : -1;
    uint32_t steps = n > 0 ? uint32_t(n) : uint32_t(-int64_t(n));
    uint32_t rec = 0;
    NtxStatus st = NTX_OK;
    RddResult keyResult = RDD_OK;
    bool phantom = !tab->positioned || tab->recNo > tab->recordCount;
    if (phantom) {
        // Forwards the phantom record stays; backwards the last key counts
        // as the first step.
        if (direction < 0) {
            st = edgeRecord(o, false, &rec);
            --steps;
        } else {
            steps = 0;
        }
    } else if (t->depth == 0 || t->curRecord != tab->recNo) {
        bool exact = false;
        st = placeOnCurrent(a, o, &exact, &rec, &keyResult);
        // Off the order (a failing condition): the key found next is the
        // first step forwards; backwards the step goes from there.
        if (!st && !exact && direction > 0 && rec) --steps;
        if (!st && !exact && direction < 0 && !rec) {
            st = edgeRecord(o, false, &rec);
            --steps;
        }
    } else {
        rec = tab->recNo;
    }
    while (!st && rec && steps > 0) {
        st = ntxStep(t, direction, &rec);
        --steps;
        if (!st && rec && !inScope(o, t->curKey)) rec = 0;
    }
    if (!st && rec && !inScope(o, t->curKey)) rec = 0;
    ntxUnlockOrder(a, o);
    if (st == NTX_STOPPED) return keyResult;
    if (st) return treeFailure(a, o, st);
    a->atTop = a->atBottom = 0;
    return ntxParentGoTo(a, rec);
}

RddResult ntxSeekSlot(WorkArea* a, uint16_t soft, const Item* value, uint16_t findLast) {
    NtxOrder* o = ntxControlling(a);
    if (!o) {
        RddResult r = ntxRaise(a, EG_NOORDER, 1020, EF_DEFAULT, ntxTable(a)->tableName);
        return r == RDD_UNWIND ? r : RDD_FAILED;
    }
    if (RddResult r = rdd::goCold(a)) return r;
    if (RddResult r = ntxLockOrder(a, o)) return r;
    NtxTree* t = &o->tree;
    char key[NTX_MAX_KEY_SIZE + 1];
    uint16_t length = 0;
    ntxSearchKey(o, value, key, &length);
    uint32_t rec = 0;
    bool found = false;
    NtxStatus st = NTX_OK;
    if (o->scopeEmpty) {
        rec = 0;
    } else if (length == 0) {
        st = edgeRecord(o, true, &rec);
        found = rec != 0;
    } else {
        st = ntxSeek(t, key, length, soft != 0, findLast != 0, &rec, &found);
        if (!st && rec && !inScope(o, t->curKey)) rec = 0;
    }
    ntxUnlockOrder(a, o);
    if (st) return treeFailure(a, o, st);
    if (!rec) found = false;
    if (RddResult r = ntxParentGoTo(a, rec)) return r;
    DbfTable* tab = ntxTable(a);
    if (rec && (settingHideDeleted() || a->filterBlock)) {
        if (RddResult r = rdd::skipFilter(a, 1)) return r;
        found = false;
        if (tab->positioned && tab->recNo <= tab->recordCount) {
            bool passes = true;
            if (RddResult r = ntxRecordKey(a, o, o->newKey, &passes)) return r;
            found = length == 0 || ntxCompare(o->newKey, key, length, false) == 0;
        }
    }
    if (!found && !soft && rec) {
        if (RddResult r = ntxParentGoTo(a, 0)) return r;
    }
    a->found = found;
    if (tab->recordCount == 0) a->bof = 1;
    return RDD_OK;
}

// ---- keeping the orders up to date --------------------------------------

RddResult ntxGoHot(WorkArea* a) {
    if (RddResult r = rddCallVia<RDD_GOHOT>(&ntxParent, a)) return r;
    NtxPart* p = ntxPart(a);
    DbfTable* tab = ntxTable(a);
    bool real = tab->positioned && tab->recNo <= tab->recordCount && !tab->appended;
    for (uint16_t i = 0; i < p->count; ++i) {
        NtxOrder* o = p->orders[i];
        o->oldKnown = false;
        if (!real) continue;
        if (RddResult r = ntxRecordKey(a, o, o->oldKey, &o->oldPassed)) return r;
        o->oldKnown = true;
    }
    return RDD_OK;
}

struct OtherSearch {
    WorkArea* area;
    NtxOrder* order;
    RddResult result;  // why the search stopped
};

// Another record with the key: a scan of the table from the engine, so
// that neither relations nor the area's hooks see it.
bool findOther(const char* key, uint32_t exclude, uint32_t* record, void* context) {
    auto* s = static_cast<OtherSearch*>(context);
    WorkArea* a = s->area;
    DbfTable* tab = ntxTable(a);
    uint32_t saved = tab->recNo, bof = a->bof, eof = a->eof, found = a->found;
    uint32_t count = tab->recordCount;
    char* k = s->order->newKey;
    *record = 0;
    RddResult status = RDD_OK;
    for (uint32_t n = 1; n <= count && !*record; ++n) {
        if (n == exclude) continue;
        if ((status = rddFromStatus(dbfGoTo(tab, n)))) break;
        bool passes = true;
        if ((status = ntxRecordKey(a, s->order, k, &passes))) break;
        if (passes && ntxCompare(k, key, s->order->tree.keySize, false) == 0) *record = n;
    }
    RddResult back = rddFromStatus(dbfGoTo(tab, saved));
    a->bof = bof;
    a->eof = eof;
    a->found = found;
    s->result = status ? status : back;
    return !s->result;
}

// Brings order o up to date with record recNo's new key. NTX_STOPPED when
// the driver's own step failed (*driverResult says how).
NtxStatus updateOrder(WorkArea* a, NtxOrder* o, uint32_t recNo, bool appended, const char* newKey, bool newPasses,
                      RddResult* driverResult) {
    NtxTree* t = &o->tree;
    bool oldIn = !appended && o->oldKnown && o->oldPassed;
    if (t->unique) {
        NtxUniqueChange c{recNo, o->oldKey, oldIn, newKey, newPasses};
        OtherSearch s{a, o, RDD_OK};
        // The scan overwrites newKey: keep the new key apart.
        char keep[NTX_MAX_KEY_SIZE];
        std::memcpy(keep, newKey, t->keySize);
        c.newKey = keep;
        NtxStatus st = ntxUniqueUpdate(t, c, findOther, &s);
        if (st == NTX_STOPPED) *driverResult = s.result;
        return st;
    }
    bool changed = !oldIn || !newPasses || std::memcmp(o->oldKey, newKey, t->keySize) != 0;
    if (!changed) return NTX_OK;
    bool removed = false;
    if (oldIn) {
        if (NtxStatus st = ntxDelete(t, o->oldKey, recNo, &removed)) return st;
        if (!removed && !o->hasFor && !o->partial) {
            RddResult r = ntxRaise(a, EG_CORRUPTION, 1210, EF_DEFAULT, o->fileName);
            if (r == RDD_UNWIND) {
                *driverResult = r;
                return NTX_STOPPED;
            }
        }
    }
    if (newPasses) {
        if (NtxStatus st = ntxInsert(t, newKey, recNo)) {
            if (st == NTX_ERR_READ || st == NTX_ERR_PAGE) fatalError(17);
            return st;
        }
    }
    return NTX_OK;
}

RddResult ntxGoCold(WorkArea* a) {
    DbfTable* tab = ntxTable(a);
    NtxPart* p = ntxPart(a);
    if (!tab->recordDirty || p->count == 0) return rddCallVia<RDD_GOCOLD>(&ntxParent, a);
    bool appended = tab->appended;
    uint32_t recNo = tab->recNo;
    // The new keys come from the record buffer before it is written back.
    bool passes[NTX_MAX_ORDERS];
    for (uint16_t i = 0; i < p->count; ++i)
        if (RddResult r = ntxRecordKey(a, p->orders[i], p->orders[i]->newKey, &passes[i])) return r;
    if (RddResult r = rddCallVia<RDD_GOCOLD>(&ntxParent, a)) return r;
    // Exclusive use: the record and the header's count reach the disk
    // before any index page that names the record.
    if (RddResult r = rddFromStatus(dbfSettle(tab))) return r;
    RddResult status = RDD_OK;
    for (uint16_t i = 0; i < p->count && !status; ++i) {
        NtxOrder* o = p->orders[i];
        if ((status = ntxLockOrder(a, o, true))) break;
        char key[NTX_MAX_KEY_SIZE];
        std::memcpy(key, o->newKey, o->tree.keySize);
        RddResult driverResult = RDD_OK;
        NtxStatus st = updateOrder(a, o, recNo, appended, key, passes[i], &driverResult);
        if (!st && o->shared) st = ntxCommitShared(&o->tree);
        ntxUnlockOrder(a, o);
        if (st == NTX_STOPPED) status = driverResult;
        else if (st) status = treeFailure(a, o, st);
        std::memcpy(o->oldKey, key, o->tree.keySize);
        o->oldPassed = passes[i];
        o->oldKnown = true;
    }
    return status;
}

// ---- relations into the area --------------------------------------------

RddResult ntxForceRelation(WorkArea* a) {
    if (!ntxControlling(a)) return rddCallVia<RDD_FORCERELATION>(&ntxParent, a);
    RelationRecord** pending = dbfPendingRelation(a);
    RelationRecord* r = *pending;
    if (!r) return RDD_OK;
    *pending = nullptr;
    RddResult s = rdd::relationEval(a, r);
    if (s == RDD_UNWIND) return s;
    if (!s && !r->parent->eof && a->result) {
        Item* key = tempAlloc();
        *key = *a->result;
        RddResult k = rdd::seek(a, 0, key, 0);
        tempRelease(key);
        return k;
    }
    return ntxParentGoTo(a, 0);
}

// ---- table operations around the orders ---------------------------------

RddResult ntxFlush(WorkArea* a) {
    RddResult status = rddCallVia<RDD_FLUSH>(&ntxParent, a);
    NtxPart* p = ntxPart(a);
    for (uint16_t i = 0; i < p->count; ++i) {
        NtxOrder* o = p->orders[i];
        if (!o->shared && o->tree.dirty) ntxWriteHeader(&o->tree);
        fsCommit(o->file);
    }
    return status;
}

// Pack and zap change record numbers or empty the table under the orders:
// the orders are marked "not an index" first (only where the table
// operation can run: exclusive, writable), so that a kill before their
// rebuild leaves files that refuse to open instead of indexes that lead to
// the wrong records. A failed table operation leaves them marked.
bool tableChangeAllowed(WorkArea* a) {
    const DbfTable* t = ntxTable(a);
    return !t->shared && !t->readOnly;
}

RddResult ntxPack(WorkArea* a) {
    if (tableChangeAllowed(a)) {
        if (RddResult r = rdd::goCold(a)) return r;
        if (RddResult r = ntxMarkOrders(a)) return r;
    }
    if (RddResult r = rddCallVia<RDD_PACK>(&ntxParent, a)) return r;
    return ntxRebuildAll(a);
}

RddResult ntxZap(WorkArea* a) {
    if (tableChangeAllowed(a)) {
        if (RddResult r = rdd::goCold(a)) return r;
        if (RddResult r = ntxMarkOrders(a)) return r;
    }
    if (RddResult r = rddCallVia<RDD_ZAP>(&ntxParent, a)) return r;
    return ntxRebuildAll(a);
}

RddResult ntxSort(WorkArea* a, const SortInfo* s) {
    NtxPart* p = ntxPart(a);
    uint16_t kept = p->controlling;
    p->controlling = 0;
    RddResult r = rddCallVia<RDD_SORT>(&ntxParent, a, s);
    p->controlling = kept;
    if (NtxOrder* o = ntxControlling(a)) o->tree.depth = 0;
    return r;
}

}  // namespace

void fillNtxMoves(RddMethodTable* t) {
    rddSetSlot<RDD_GOBOTTOM>(t, ntxGoBottom);
    rddSetSlot<RDD_GOTO>(t, ntxGoTo);
    rddSetSlot<RDD_GOTOID>(t, ntxGoToId);
    rddSetSlot<RDD_GOTOP>(t, ntxGoTop);
    rddSetSlot<RDD_SEEK>(t, ntxSeekSlot);
    rddSetSlot<RDD_SKIPRAW>(t, ntxSkipRaw);
    rddSetSlot<RDD_FLUSH>(t, ntxFlush);
    rddSetSlot<RDD_GOCOLD>(t, ntxGoCold);
    rddSetSlot<RDD_GOHOT>(t, ntxGoHot);
    rddSetSlot<RDD_PACK>(t, ntxPack);
    rddSetSlot<RDD_SORT>(t, ntxSort);
    rddSetSlot<RDD_ZAP>(t, ntxZap);
    rddSetSlot<RDD_FORCERELATION>(t, ntxForceRelation);
}

}  // namespace xb
