// The DBF driver: the table-level slots of the method table over the table
// engine (rdd/dbf/dbf_table.h). Its area record is the common WorkArea followed
// by the engine's table, the pending relation and the eight table hooks.
// Everything else is inherited from the default layer; DBFNTX inherits from
// this table.
//
// Items the area keeps between calls (the hooks) are static-area temporaries
// owned by the area and released at close or release. Blocks (hooks,
// relation keys) are evaluated through evalInArea, which counts the area
// busy, so that a block cannot close the area under the running operation.
#include <cstring>

#include "base/dates.h"
#include "rdd/dbf/dbf_driver.h"
#include "rdd/dbf/dbf_sort.h"
#include "rdd/dbf/dbf_table.h"
#include "rdd/default_methods.h"
#include "rdd/hooks.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "runtime/filenames.h"
#include "base/memory.h"
#include "vm/settings.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

struct DbfArea {
    WorkArea common;
    DbfTable table;
    RelationRecord* pendingRelation;  // the relation this area must still follow, or null
    Item* hooks[TABLE_HOOKS];         // static-area temporaries, or null
};

RddMethodTable dbfParent;

DbfArea* dbf(WorkArea* a) { return reinterpret_cast<DbfArea*>(a); }
DbfTable* tab(WorkArea* a) { return &dbf(a)->table; }
bool isOpen(WorkArea* a) { return tab(a)->tableFile != os::INVALID; }

uint16_t envRaise(void* ctx, ErrorDescriptor* d) { return rddStatusWord(rdd::error(static_cast<WorkArea*>(ctx), d)); }

void envHook(void* ctx, int n) {
    DbfArea* x = static_cast<DbfArea*>(ctx);
    if (n < 1 || n > int(TABLE_HOOKS) || !x->hooks[n - 1]) return;
    // The result is ignored; the block's own errors went through the
    // error system already.
    evalInArea(&x->common, x->hooks[n - 1]);
}

os::Handle envOpen(const char* name, const char* ext, uint32_t flags, ErrorDescriptor* d) {
    return fileNameOpen(name, ext, flags, nullptr, d);
}

// The engine's write-backs and first changes go through the area's table.
uint16_t envGoCold(void* ctx) { return rddStatusWord(rdd::goCold(static_cast<WorkArea*>(ctx))); }
uint16_t envGoHot(void* ctx) { return rddStatusWord(rdd::goHot(static_cast<WorkArea*>(ctx))); }

const DbfEnv kEnv = {envRaise, envHook, envOpen, envGoCold, envGoHot};

void releaseHooks(DbfArea* x) {
    for (Item*& h : x->hooks) {
        if (h) tempRelease(h);
        h = nullptr;
    }
}

// Every operation that reads or moves the position follows a pending
// relation first.
RddResult resolve(WorkArea* a) { return dbf(a)->pendingRelation ? rdd::forceRelation(a) : RDD_OK; }

// The alias a table gets when none is given: the base name of the file.
const char* defaultAlias(const OpenInfo* info, char* buffer) {
    if (info->alias && info->alias[0]) return info->alias;
    fileNameSplit(info->fileName, nullptr, nullptr, buffer, nullptr);
    if (std::strlen(buffer) > DRIVER_NAME_MAX) buffer[DRIVER_NAME_MAX] = 0;
    return buffer;
}

char typeLetter(uint16_t type) {
    switch (type) {
        case T_STRING: return 'C';
        case T_MEMO: return 'M';
        case T_DOUBLE:
        case T_INTEGER: return 'N';
        case T_DATE: return 'D';
        case T_LOGICAL: return 'L';
        default: return 'U';
    }
}

uint16_t itemType(char letter) {
    switch (letter) {
        case 'C': return T_STRING;
        case 'M': return T_MEMO;
        case 'N': return T_DOUBLE;
        case 'D': return T_DATE;
        case 'L': return T_LOGICAL;
        default: return 0;
    }
}

// ---- positioning --------------------------------------------------------

RddResult dbfBof(WorkArea* a, uint16_t* f) {
    RddResult r = resolve(a);
    *f = a->bof != 0;
    return r;
}
RddResult dbfEof(WorkArea* a, uint16_t* f) {
    RddResult r = resolve(a);
    *f = a->eof != 0;
    return r;
}
RddResult dbfFound(WorkArea* a, uint16_t* f) {
    RddResult r = resolve(a);
    *f = a->found != 0;
    return r;
}

RddResult dbfGoToSlot(WorkArea* a, uint32_t n) {
    dbf(a)->pendingRelation = nullptr;
    if (RddResult r = rddFromStatus(dbfGoTo(tab(a), n))) return r;
    return a->relations ? rdd::syncChildren(a) : RDD_OK;
}

RddResult dbfGoToId(WorkArea* a, const Item* id) {
    if (!(id->type & M_NUMERIC)) {
        ErrorDescriptor d = errorDescriptor(nullptr, EG_DATATYPE, 1020, 0);
        d.fileName = tab(a)->tableName;
        RddResult r = rdd::error(a, &d);
        return r == RDD_UNWIND ? r : RDD_FAILED;
    }
    double v = (id->type & T_DOUBLE) ? id->v.d : double(id->v.l);
    uint32_t n = v < 1 || v > 4294967295.0 ? 0 : uint32_t(v);
    return rdd::goTo(a, n);
}

RddResult dbfGoTop(WorkArea* a) {
    a->atTop = 1;
    a->atBottom = 0;
    if (RddResult r = rdd::goTo(a, 1)) return r;
    return rdd::skipFilter(a, 1);
}

RddResult dbfGoBottom(WorkArea* a) {
    if (RddResult r = rddFromStatus(dbfGoCold(tab(a)))) return r;
    uint32_t count = 0;
    dbfRecCount(tab(a), &count);
    a->atTop = 0;
    a->atBottom = 1;
    if (RddResult r = rdd::goTo(a, count)) return r;
    return rdd::skipFilter(a, -1);
}

RddResult dbfSkipRaw(WorkArea* a, int32_t n) {
    if (RddResult r = resolve(a)) return r;
    if (n == 0) {
        uint32_t bof = a->bof, eof = a->eof;
        RddResult r = rdd::goTo(a, tab(a)->recNo);
        a->bof = bof;
        a->eof = eof;
        return r;
    }
    int64_t to = int64_t(tab(a)->recNo) + n;
    return rdd::goTo(a, to < 1 || to > 0xFFFFFFFFll ? 0 : uint32_t(to));
}

RddResult dbfSkip(WorkArea* a, int32_t n) {
    if (RddResult r = resolve(a)) return r;
    a->atTop = a->atBottom = 0;
    if (n == 0 || settingHideDeleted() || a->filterBlock) return rddCallVia<RDD_SKIP>(&dbfParent, a, n);
    if (RddResult r = rdd::skipRaw(a, n)) return r;
    if (n < 0) {
        if (a->bof) {
            if (RddResult r = rdd::goTop(a)) return r;
            a->bof = 1;
        }
        a->eof = 0;
    } else {
        a->bof = 0;
    }
    return RDD_OK;
}

// ---- fields and records -------------------------------------------------

RddResult dbfAddField(WorkArea* a, const FieldDefinition* f) {
    FieldDefinition forced = *f;
    if (f->type == T_DATE) forced.length = 8;
    if (f->type == T_LOGICAL) forced.length = 1;
    if (f->type == T_MEMO) forced.length = 10;
    return rddCallVia<RDD_ADDFIELD>(&dbfParent, a, &forced);
}

RddResult dbfGetValueSlot(WorkArea* a, uint16_t i, Item* out) {
    if (RddResult r = resolve(a)) return r;
    return rddFromStatus(dbfGetValue(tab(a), i, out));
}
RddResult dbfPutValueSlot(WorkArea* a, uint16_t i, const Item* v) {
    if (RddResult r = resolve(a)) return r;
    return rddFromStatus(dbfPutValue(tab(a), i, v));
}
RddResult dbfGetVarLenSlot(WorkArea* a, uint16_t i, uint32_t* n) {
    if (RddResult r = resolve(a)) return r;
    return rddFromStatus(dbfGetVarLen(tab(a), i, n));
}
RddResult dbfDeleteSlot(WorkArea* a) {
    if (RddResult r = resolve(a)) return r;
    return rddFromStatus(dbfDeleteRecord(tab(a)));
}
RddResult dbfRecallSlot(WorkArea* a) {
    if (RddResult r = resolve(a)) return r;
    return rddFromStatus(dbfRecall(tab(a)));
}
RddResult dbfDeletedSlot(WorkArea* a, uint16_t* f) {
    if (RddResult r = resolve(a)) return r;
    bool d = false;
    RddResult r = rddFromStatus(dbfDeleted(tab(a), &d));
    *f = d;
    return r;
}
RddResult dbfGetRecordSlot(WorkArea* a, uint8_t** image) {
    if (RddResult r = resolve(a)) return r;
    const uint8_t* p = nullptr;
    RddResult r = rddFromStatus(dbfGetRecord(tab(a), &p));
    *image = const_cast<uint8_t*>(p);
    return r;
}
RddResult dbfPutRecordSlot(WorkArea* a, const uint8_t* image) {
    if (RddResult r = resolve(a)) return r;
    return rddFromStatus(dbfPutRecord(tab(a), image));
}
RddResult dbfGoColdSlot(WorkArea* a) { return rddFromStatus(dbfGoColdRaw(tab(a))); }
RddResult dbfGoHotSlot(WorkArea* a) { return rddFromStatus(dbfGoHotRaw(tab(a))); }
RddResult dbfRecCountSlot(WorkArea* a, uint32_t* n) { return rddFromStatus(dbfRecCount(tab(a), n)); }
RddResult dbfRecNo(WorkArea* a, Item* out) {
    RddResult r = resolve(a);
    setInteger(out, int32_t(tab(a)->recNo));
    return r;
}

RddResult dbfAppendSlot(WorkArea* a, uint16_t releaseLocks) {
    dbf(a)->pendingRelation = nullptr;
    return rddFromStatus(dbfAppend(tab(a), releaseLocks != 0));
}
RddResult dbfFlushSlot(WorkArea* a) { return rddFromStatus(dbfFlush(tab(a))); }
RddResult dbfPackSlot(WorkArea* a) {
    if (RddResult r = resolve(a)) return r;
    return rddFromStatus(dbfPack(tab(a)));
}
RddResult dbfZapSlot(WorkArea* a) {
    if (RddResult r = resolve(a)) return r;
    return rddFromStatus(dbfZap(tab(a)));
}

RddResult dbfLockSlot(WorkArea* a, LockInfo* l) {
    if (RddResult r = resolve(a)) return r;
    bool result = false;
    RddResult r = rddFromStatus(dbfLock(tab(a), l->method, l->record, &result));
    l->result = result;
    return r;
}
RddResult dbfUnlockSlot(WorkArea* a, uint32_t n) { return rddFromStatus(dbfUnlock(tab(a), n)); }

// ---- life of the area ---------------------------------------------------

RddResult dbfNewArea(WorkArea* a) {
    if (RddResult r = rddCallVia<RDD_NEWAREA>(&dbfParent, a)) return r;
    DbfArea* x = dbf(a);
    dbfTableInit(&x->table, &kEnv, x, &a->bof, &a->eof, &a->found);
    x->pendingRelation = nullptr;
    for (Item*& h : x->hooks) h = nullptr;
    return RDD_OK;
}

RddResult dbfStructSize(WorkArea*, uint16_t* size) {
    *size = uint16_t(sizeof(DbfArea));
    return RDD_OK;
}

RddResult dbfSysName(WorkArea*, char* out) {
    std::strcpy(out, "DBF");
    return RDD_OK;
}

// The fields the engine read become the area's field descriptors.
RddResult defineFields(WorkArea* a) {
    DbfTable* t = tab(a);
    if (RddResult r = rdd::setFieldExtent(a, uint16_t(t->fieldCount))) return r;
    for (uint32_t i = 0; i < t->fieldCount; ++i) {
        const DbfField& f = t->fields[i];
        FieldDefinition d{f.name, itemType(f.type), 0, f.length, uint16_t(f.type == 'N' ? f.decimals : 0)};
        if (RddResult r = rdd::addField(a, &d)) return r;
    }
    return RDD_OK;
}

RddResult dbfOpen(WorkArea* a, OpenInfo* info) {
    char aliasBuffer[NAME_PART_SIZE];
    OpenInfo withAlias = *info;
    withAlias.alias = defaultAlias(info, aliasBuffer);
    if (RddResult r = rddFromStatus(dbfTableOpen(tab(a), info->fileName, info->shared != 0, info->readOnly != 0))) return r;
    RddResult r = defineFields(a);
    if (!r) r = rddCallVia<RDD_OPEN>(&dbfParent, a, &withAlias);
    if (r) {
        rdd::close(a);
        return r;
    }
    takePendingHooks(dbf(a)->hooks);
    envHook(dbf(a), 1);
    return rdd::goTop(a);
}

RddResult dbfCreate(WorkArea* a, OpenInfo* info) {
    char aliasBuffer[NAME_PART_SIZE];
    OpenInfo withAlias = *info;
    withAlias.alias = defaultAlias(info, aliasBuffer);
    if (RddResult r = rddCallVia<RDD_CREATE>(&dbfParent, a, &withAlias)) return r;
    uint16_t count = a->fieldCount;
    auto* fields = static_cast<DbfField*>(memAllocZero(uint32_t(count ? count : 1) * sizeof(DbfField)));
    for (uint16_t i = 0; i < count; ++i) {
        char name[RDD_NAME_BUFFER] = {};
        rdd::fieldName(a, uint16_t(i + 1), name);
        size_t n = std::strlen(name);
        std::memcpy(fields[i].name, name, n < kDbfFieldNameMax ? n : kDbfFieldNameMax);
        const FieldDescriptor& d = a->fields[i];
        fields[i].type = typeLetter(d.type);
        fields[i].length = d.length;
        fields[i].decimals = uint8_t(d.decimals);
    }
    RddResult r = rddFromStatus(dbfTableCreate(tab(a), info->fileName, fields, count));
    memFree(fields);
    if (r) {
        rdd::close(a);
        return r;
    }
    return rdd::goTop(a);
}

RddResult dbfClose(WorkArea* a) {
    RddResult status = rdd::clearRelations(a);
    dbf(a)->pendingRelation = nullptr;
    if (isOpen(a)) {
        RddResult r = rddFromStatus(dbfTableClose(tab(a)));
        if (!status) status = r;
        envHook(dbf(a), 2);
    } else {
        dbfTableClose(tab(a));  // frees what a failed open left
    }
    releaseHooks(dbf(a));
    RddResult r = rddCallVia<RDD_CLOSE>(&dbfParent, a);
    return status ? status : r;
}

RddResult dbfRelease(WorkArea* a) {
    // An area released without close (a failed open) still gives back its
    // files and hooks.
    dbfTableClose(tab(a));
    releaseHooks(dbf(a));
    return rddCallVia<RDD_RELEASE>(&dbfParent, a);
}

RddResult dbfInfo(WorkArea* a, uint16_t code, Item* out) {
    DbfTable* t = tab(a);
    switch (code) {
        case DBI_ISDBF:
        case DBI_CANPUTREC: setLogical(out, true); return RDD_OK;
        case DBI_GETHEADERSIZE: setInteger(out, int32_t(t->headerLength)); return RDD_OK;
        case DBI_LASTUPDATE:
            itemClear(out);
            out->type = T_DATE;
            out->v.l = t->header[2] ? dateFromYmd(1900 + t->header[1], t->header[2], t->header[3], 0) : 0;
            return RDD_OK;
        case DBI_GETRECSIZE: setInteger(out, int32_t(t->recordLength)); return RDD_OK;
        case DBI_GETLOCKARRAY:
            makeArray(out, t->lockCount);
            for (uint32_t i = 0; i < t->lockCount; ++i) setInteger(&arrayItems(out)[i], int32_t(t->lockedRecords[i]));
            return RDD_OK;
        case DBI_TABLEEXT: makeString(out, ".dbf", 4); return RDD_OK;
        case 20: setLogical(out, t->fileLocked); return RDD_OK;
        case 23: setInteger(out, int32_t(t->tableFile)); return RDD_OK;
        case 31: setInteger(out, int32_t(t->lockCount)); return RDD_OK;
        case 32: setLogical(out, t->bufferCurrent); return RDD_OK;
        case 36: setLogical(out, t->shared); return RDD_OK;
        case DBI_DRIVERVERSION: makeString(out, "3.19", 4); return RDD_OK;
        default: return rddCallVia<RDD_INFO>(&dbfParent, a, code, out);
    }
}

// ---- transfers ----------------------------------------------------------

RddResult dbfTrans(WorkArea* a, TransferInfo* t) {
    if ((t->flags & TRANSFER_WHOLE_ALLOWED) && !tab(a)->hasMemo && t->destination) {
        Item canPut{}, size{};
        // Whole records only between tables of the same record length: a
        // record image is copied byte for byte.
        if (!rdd::info(t->destination, DBI_CANPUTREC, &canPut) && canPut.type == T_LOGICAL && canPut.v.l &&
            !rdd::info(t->destination, DBI_GETRECSIZE, &size) && (size.type & M_NUMERIC) &&
            size.v.l == int32_t(tab(a)->recordLength))
            t->flags |= TRANSFER_WHOLE_CHOSEN;
    }
    return rddCallVia<RDD_TRANS>(&dbfParent, a, t);
}

RddResult dbfTransRecord(WorkArea* a, TransferInfo* t) {
    if (!(t->flags & TRANSFER_WHOLE_CHOSEN)) return rddCallVia<RDD_TRANSRECORD>(&dbfParent, a, t);
    WorkArea* to = t->destination;
    if (!to) return RDD_FAILED;
    uint8_t* image = nullptr;
    if (RddResult r = dbfGetRecordSlot(a, &image)) return r;
    bool deleted = tab(a)->deletedFlag;
    if (RddResult r = rdd::append(to, 1)) return r;
    // The source buffer stays valid: appending elsewhere does not move it.
    if (RddResult r = rdd::putRecord(to, image)) return r;
    return deleted ? rdd::deleteRecord(to) : RDD_OK;
}

// ---- relations ----------------------------------------------------------

RddResult dbfChildSync(WorkArea* a, RelationRecord* r) {
    if (RddResult s = rddFromStatus(dbfGoCold(tab(a)))) return s;
    dbf(a)->pendingRelation = r;
    return rdd::syncChildren(a);
}

RddResult dbfForceRelation(WorkArea* a) {
    RelationRecord* r = dbf(a)->pendingRelation;
    if (!r) return RDD_OK;
    dbf(a)->pendingRelation = nullptr;
    RddResult s = rdd::relationEval(a, r);
    uint32_t target = 0;
    if (!s && !r->parent->eof && a->result && (a->result->type & M_NUMERIC)) {
        double v = (a->result->type & T_DOUBLE) ? a->result->v.d : double(a->result->v.l);
        target = v < 1 || v > 4294967295.0 ? 0 : uint32_t(v);
    }
    if (s == RDD_UNWIND) return s;
    RddResult g = rdd::goTo(a, target);
    a->found = tab(a)->positioned && tab(a)->recNo <= tab(a)->recordCount;
    a->bof = 0;
    return g;
}

RddResult dbfChildStart(WorkArea* a, RelationRecord* r) {
    if (RddResult s = rdd::childSync(a, r)) return s;
    return rddCallVia<RDD_CHILDSTART>(&dbfParent, a, r);
}

RddResult dbfChildEnd(WorkArea* a, RelationRecord* r) {
    if (dbf(a)->pendingRelation == r) {
        if (RddResult s = rdd::forceRelation(a)) return s;
    }
    return rddCallVia<RDD_CHILDEND>(&dbfParent, a, r);
}

RddResult dbfSetFilter(WorkArea* a, const Item* block, const Item* text) {
    if (RddResult r = resolve(a)) return r;
    return rddCallVia<RDD_SETFILTER>(&dbfParent, a, block, text);
}

void fillDbf(RddMethodTable* t) {
    rddSetSlot<RDD_BOF>(t, dbfBof);
    rddSetSlot<RDD_EOF>(t, dbfEof);
    rddSetSlot<RDD_FOUND>(t, dbfFound);
    rddSetSlot<RDD_GOBOTTOM>(t, dbfGoBottom);
    rddSetSlot<RDD_GOTO>(t, dbfGoToSlot);
    rddSetSlot<RDD_GOTOID>(t, dbfGoToId);
    rddSetSlot<RDD_GOTOP>(t, dbfGoTop);
    rddSetSlot<RDD_SKIP>(t, dbfSkip);
    rddSetSlot<RDD_SKIPRAW>(t, dbfSkipRaw);
    rddSetSlot<RDD_ADDFIELD>(t, dbfAddField);
    rddSetSlot<RDD_APPEND>(t, dbfAppendSlot);
    rddSetSlot<RDD_DELETERECORD>(t, dbfDeleteSlot);
    rddSetSlot<RDD_DELETED>(t, dbfDeletedSlot);
    rddSetSlot<RDD_FLUSH>(t, dbfFlushSlot);
    rddSetSlot<RDD_GETRECORD>(t, dbfGetRecordSlot);
    rddSetSlot<RDD_GETVALUE>(t, dbfGetValueSlot);
    rddSetSlot<RDD_GETVARLEN>(t, dbfGetVarLenSlot);
    rddSetSlot<RDD_GOCOLD>(t, dbfGoColdSlot);
    rddSetSlot<RDD_GOHOT>(t, dbfGoHotSlot);
    rddSetSlot<RDD_PUTRECORD>(t, dbfPutRecordSlot);
    rddSetSlot<RDD_PUTVALUE>(t, dbfPutValueSlot);
    rddSetSlot<RDD_RECALL>(t, dbfRecallSlot);
    rddSetSlot<RDD_RECCOUNT>(t, dbfRecCountSlot);
    rddSetSlot<RDD_RECNO>(t, dbfRecNo);
    rddSetSlot<RDD_CLOSE>(t, dbfClose);
    rddSetSlot<RDD_CREATE>(t, dbfCreate);
    rddSetSlot<RDD_INFO>(t, dbfInfo);
    rddSetSlot<RDD_NEWAREA>(t, dbfNewArea);
    rddSetSlot<RDD_OPEN>(t, dbfOpen);
    rddSetSlot<RDD_RELEASE>(t, dbfRelease);
    rddSetSlot<RDD_STRUCTSIZE>(t, dbfStructSize);
    rddSetSlot<RDD_SYSNAME>(t, dbfSysName);
    rddSetSlot<RDD_PACK>(t, dbfPackSlot);
    rddSetSlot<RDD_TRANS>(t, dbfTrans);
    rddSetSlot<RDD_TRANSRECORD>(t, dbfTransRecord);
    rddSetSlot<RDD_ZAP>(t, dbfZapSlot);
    rddSetSlot<RDD_CHILDEND>(t, dbfChildEnd);
    rddSetSlot<RDD_CHILDSTART>(t, dbfChildStart);
    rddSetSlot<RDD_CHILDSYNC>(t, dbfChildSync);
    rddSetSlot<RDD_FORCERELATION>(t, dbfForceRelation);
    rddSetSlot<RDD_SETFILTER>(t, dbfSetFilter);
    rddSetSlot<RDD_LOCK>(t, dbfLockSlot);
    rddSetSlot<RDD_UNLOCK>(t, dbfUnlockSlot);
    fillDbfSort(t);
}

MethodFillRegistration dbfRegistration("DBF", fillDbf, &dbfParent);

}  // namespace

const DbfTable* dbfTableOf(const WorkArea* a) { return &reinterpret_cast<const DbfArea*>(a)->table; }
RelationRecord** dbfPendingRelation(WorkArea* a) { return &dbf(a)->pendingRelation; }

}  // namespace xb
