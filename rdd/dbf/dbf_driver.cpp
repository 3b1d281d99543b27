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

uint16_t envRaise(void* ctx, ErrorDescriptor* d) { return rdd::error(static_cast<WorkArea*>(ctx), d); }

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
uint16_t envGoCold(void* ctx) { return rdd::goCold(static_cast<WorkArea*>(ctx)); }
uint16_t envGoHot(void* ctx) { return rdd::goHot(static_cast<WorkArea*>(ctx)); }

const DbfEnv kEnv = {envRaise, envHook, envOpen, envGoCold, envGoHot};

void releaseHooks(DbfArea* x) {
    for (Item*& h : x->hooks) {
        if (h) tempRelease(h);
        h = nullptr;
    }
}

// Every operation that reads or moves the position follows a pending
// relation first.
uint16_t resolve(WorkArea* a) { return dbf(a)->pendingRelation ? rdd::forceRelation(a) : 0; }

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

uint16_t dbfBof(WorkArea* a, uint16_t* f) {
    uint16_t r = resolve(a);
    *f = a->bof != 0;
    return r;
}
uint16_t dbfEof(WorkArea* a, uint16_t* f) {
    uint16_t r = resolve(a);
    *f = a->eof != 0;
    return r;
}
uint16_t dbfFound(WorkArea* a, uint16_t* f) {
    uint16_t r = resolve(a);
    *f = a->found != 0;
    return r;
}

uint16_t dbfGoToSlot(WorkArea* a, uint32_t n) {
    dbf(a)->pendingRelation = nullptr;
    if (uint16_t r = dbfGoTo(tab(a), n)) return r;
    return a->relations ? rdd::syncChildren(a) : 0;
}

uint16_t dbfGoToId(WorkArea* a, const Item* id) {
    if (!(id->type & M_NUMERIC)) {
        ErrorDescriptor d = errorDescriptor(nullptr, EG_DATATYPE, 1020, 0);
        d.fileName = tab(a)->tableName;
        uint16_t r = rdd::error(a, &d);
        return r == ST_UNWIND ? r : RDD_FAILED;
    }
    double v = (id->type & T_DOUBLE) ? id->v.d : double(id->v.l);
    uint32_t n = v < 1 || v > 4294967295.0 ? 0 : uint32_t(v);
    return rdd::goTo(a, n);
}

uint16_t dbfGoTop(WorkArea* a) {
    a->atTop = 1;
    a->atBottom = 0;
    if (uint16_t r = rdd::goTo(a, 1)) return r;
    return rdd::skipFilter(a, 1);
}

uint16_t dbfGoBottom(WorkArea* a) {
    if (uint16_t r = dbfGoCold(tab(a))) return r;
    uint32_t count = 0;
    dbfRecCount(tab(a), &count);
    a->atTop = 0;
    a->atBottom = 1;
    if (uint16_t r = rdd::goTo(a, count)) return r;
    return rdd::skipFilter(a, -1);
}

uint16_t dbfSkipRaw(WorkArea* a, int32_t n) {
    if (uint16_t r = resolve(a)) return r;
    if (n == 0) {
        uint32_t bof = a->bof, eof = a->eof;
        uint16_t r = rdd::goTo(a, tab(a)->recNo);
        a->bof = bof;
        a->eof = eof;
        return r;
    }
    int64_t to = int64_t(tab(a)->recNo) + n;
    return rdd::goTo(a, to < 1 || to > 0xFFFFFFFFll ? 0 : uint32_t(to));
}

uint16_t dbfSkip(WorkArea* a, int32_t n) {
    if (uint16_t r = resolve(a)) return r;
    a->atTop = a->atBottom = 0;
    if (n == 0 || settingHideDeleted() || a->filterBlock) return rddCallVia<RDD_SKIP>(&dbfParent, a, n);
    if (uint16_t r = rdd::skipRaw(a, n)) return r;
    if (n < 0) {
        if (a->bof) {
            if (uint16_t r = rdd::goTop(a)) return r;
            a->bof = 1;
        }
        a->eof = 0;
    } else {
        a->bof = 0;
    }
    return 0;
}

// ---- fields and records -------------------------------------------------

uint16_t dbfAddField(WorkArea* a, const FieldDefinition* f) {
    FieldDefinition forced = *f;
    if (f->type == T_DATE) forced.length = 8;
    if (f->type == T_LOGICAL) forced.length = 1;
    if (f->type == T_MEMO) forced.length = 10;
    return rddCallVia<RDD_ADDFIELD>(&dbfParent, a, &forced);
}

uint16_t dbfGetValueSlot(WorkArea* a, uint16_t i, Item* out) {
    if (uint16_t r = resolve(a)) return r;
    return dbfGetValue(tab(a), i, out);
}
uint16_t dbfPutValueSlot(WorkArea* a, uint16_t i, const Item* v) {
    if (uint16_t r = resolve(a)) return r;
    return dbfPutValue(tab(a), i, v);
}
uint16_t dbfGetVarLenSlot(WorkArea* a, uint16_t i, uint32_t* n) {
    if (uint16_t r = resolve(a)) return r;
    return dbfGetVarLen(tab(a), i, n);
}
uint16_t dbfDeleteSlot(WorkArea* a) {
    if (uint16_t r = resolve(a)) return r;
    return dbfDeleteRecord(tab(a));
}
uint16_t dbfRecallSlot(WorkArea* a) {
    if (uint16_t r = resolve(a)) return r;
    return dbfRecall(tab(a));
}
uint16_t dbfDeletedSlot(WorkArea* a, uint16_t* f) {
    if (uint16_t r = resolve(a)) return r;
    bool d = false;
    uint16_t r = dbfDeleted(tab(a), &d);
    *f = d;
    return r;
}
uint16_t dbfGetRecordSlot(WorkArea* a, uint8_t** image) {
    if (uint16_t r = resolve(a)) return r;
    const uint8_t* p = nullptr;
    uint16_t r = dbfGetRecord(tab(a), &p);
    *image = const_cast<uint8_t*>(p);
    return r;
}
uint16_t dbfPutRecordSlot(WorkArea* a, const uint8_t* image) {
    if (uint16_t r = resolve(a)) return r;
    return dbfPutRecord(tab(a), image);
}
uint16_t dbfGoColdSlot(WorkArea* a) { return dbfGoColdRaw(tab(a)); }
uint16_t dbfGoHotSlot(WorkArea* a) { return dbfGoHotRaw(tab(a)); }
uint16_t dbfRecCountSlot(WorkArea* a, uint32_t* n) { return dbfRecCount(tab(a), n); }
uint16_t dbfRecNo(WorkArea* a, Item* out) {
    uint16_t r = resolve(a);
    setInteger(out, int32_t(tab(a)->recNo));
    return r;
}

uint16_t dbfAppendSlot(WorkArea* a, uint16_t releaseLocks) {
    dbf(a)->pendingRelation = nullptr;
    return dbfAppend(tab(a), releaseLocks != 0);
}
uint16_t dbfFlushSlot(WorkArea* a) { return dbfFlush(tab(a)); }
uint16_t dbfPackSlot(WorkArea* a) {
    if (uint16_t r = resolve(a)) return r;
    return dbfPack(tab(a));
}
uint16_t dbfZapSlot(WorkArea* a) {
    if (uint16_t r = resolve(a)) return r;
    return dbfZap(tab(a));
}

uint16_t dbfLockSlot(WorkArea* a, LockInfo* l) {
    if (uint16_t r = resolve(a)) return r;
    bool result = false;
    uint16_t r = dbfLock(tab(a), l->method, l->record, &result);
    l->result = result;
    return r;
}
uint16_t dbfUnlockSlot(WorkArea* a, uint32_t n) { return dbfUnlock(tab(a), n); }

// ---- life of the area ---------------------------------------------------

uint16_t dbfNewArea(WorkArea* a) {
    if (uint16_t r = rddCallVia<RDD_NEWAREA>(&dbfParent, a)) return r;
    DbfArea* x = dbf(a);
    dbfTableInit(&x->table, &kEnv, x, &a->bof, &a->eof, &a->found);
    x->pendingRelation = nullptr;
    for (Item*& h : x->hooks) h = nullptr;
    return 0;
}

uint16_t dbfStructSize(WorkArea*, uint16_t* size) {
    *size = uint16_t(sizeof(DbfArea));
    return 0;
}

uint16_t dbfSysName(WorkArea*, char* out) {
    std::strcpy(out, "DBF");
    return 0;
}

// The fields the engine read become the area's field descriptors.
uint16_t defineFields(WorkArea* a) {
    DbfTable* t = tab(a);
    if (uint16_t r = rdd::setFieldExtent(a, uint16_t(t->fieldCount))) return r;
    for (uint32_t i = 0; i < t->fieldCount; ++i) {
        const DbfField& f = t->fields[i];
        FieldDefinition d{f.name, itemType(f.type), 0, f.length, uint16_t(f.type == 'N' ? f.decimals : 0)};
        if (uint16_t r = rdd::addField(a, &d)) return r;
    }
    return 0;
}

uint16_t dbfOpen(WorkArea* a, OpenInfo* info) {
    char aliasBuffer[NAME_PART_SIZE];
    OpenInfo withAlias = *info;
    withAlias.alias = defaultAlias(info, aliasBuffer);
    if (uint16_t r = dbfTableOpen(tab(a), info->fileName, info->shared != 0, info->readOnly != 0)) return r;
    uint16_t r = defineFields(a);
    if (!r) r = rddCallVia<RDD_OPEN>(&dbfParent, a, &withAlias);
    if (r) {
        rdd::close(a);
        return r;
    }
    takePendingHooks(dbf(a)->hooks);
    envHook(dbf(a), 1);
    return rdd::goTop(a);
}

uint16_t dbfCreate(WorkArea* a, OpenInfo* info) {
    char aliasBuffer[NAME_PART_SIZE];
    OpenInfo withAlias = *info;
    withAlias.alias = defaultAlias(info, aliasBuffer);
    if (uint16_t r = rddCallVia<RDD_CREATE>(&dbfParent, a, &withAlias)) return r;
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
    uint16_t r = dbfTableCreate(tab(a), info->fileName, fields, count);
    memFree(fields);
    if (r) {
        rdd::close(a);
        return r;
    }
    return rdd::goTop(a);
}

uint16_t dbfClose(WorkArea* a) {
    uint16_t status = rdd::clearRelations(a);
    dbf(a)->pendingRelation = nullptr;
    if (isOpen(a)) {
        uint16_t r = dbfTableClose(tab(a));
        if (!status) status = r;
        envHook(dbf(a), 2);
    } else {
        dbfTableClose(tab(a));  // frees what a failed open left
    }
    releaseHooks(dbf(a));
    uint16_t r = rddCallVia<RDD_CLOSE>(&dbfParent, a);
    return status ? status : r;
}

uint16_t dbfRelease(WorkArea* a) {
    // An area released without close (a failed open) still gives back its
    // files and hooks.
    dbfTableClose(tab(a));
    releaseHooks(dbf(a));
    return rddCallVia<RDD_RELEASE>(&dbfParent, a);
}

uint16_t dbfInfo(WorkArea* a, uint16_t code, Item* out) {
    DbfTable* t = tab(a);
    switch (code) {
        case DBI_ISDBF:
        case DBI_CANPUTREC: setLogical(out, true); return 0;
        case DBI_GETHEADERSIZE: setInteger(out, int32_t(t->headerLength)); return 0;
        case DBI_LASTUPDATE:
            itemClear(out);
            out->type = T_DATE;
            out->v.l = t->header[2] ? dateFromYmd(1900 + t->header[1], t->header[2], t->header[3], 0) : 0;
            return 0;
        case DBI_GETRECSIZE: setInteger(out, int32_t(t->recordLength)); return 0;
        case DBI_GETLOCKARRAY:
            makeArray(out, t->lockCount);
            for (uint32_t i = 0; i < t->lockCount; ++i) setInteger(&arrayItems(out)[i], int32_t(t->lockedRecords[i]));
            return 0;
        case DBI_TABLEEXT: makeString(out, ".dbf", 4); return 0;
        case 20: setLogical(out, t->fileLocked); return 0;
        case 23: setInteger(out, int32_t(t->tableFile)); return 0;
        case 31: setInteger(out, int32_t(t->lockCount)); return 0;
        case 32: setLogical(out, t->bufferCurrent); return 0;
        case 36: setLogical(out, t->shared); return 0;
        case DBI_DRIVERVERSION: makeString(out, "3.19", 4); return 0;
        default: return rddCallVia<RDD_INFO>(&dbfParent, a, code, out);
    }
}

// ---- transfers ----------------------------------------------------------

uint16_t dbfTrans(WorkArea* a, TransferInfo* t) {
    if ((t->flags & TRANSFER_WHOLE_ALLOWED) && !tab(a)->hasMemo && t->destination) {
        Item canPut{}, size{};
        // Whole records only between tables of the same record length: a
        // record image is copied byte for byte.
        if (rdd::info(t->destination, DBI_CANPUTREC, &canPut) == 0 && canPut.type == T_LOGICAL && canPut.v.l &&
            rdd::info(t->destination, DBI_GETRECSIZE, &size) == 0 && (size.type & M_NUMERIC) &&
            size.v.l == int32_t(tab(a)->recordLength))
            t->flags |= TRANSFER_WHOLE_CHOSEN;
    }
    return rddCallVia<RDD_TRANS>(&dbfParent, a, t);
}

uint16_t dbfTransRecord(WorkArea* a, TransferInfo* t) {
    if (!(t->flags & TRANSFER_WHOLE_CHOSEN)) return rddCallVia<RDD_TRANSRECORD>(&dbfParent, a, t);
    WorkArea* to = t->destination;
    if (!to) return RDD_FAILED;
    uint8_t* image = nullptr;
    if (uint16_t r = dbfGetRecordSlot(a, &image)) return r;
    bool deleted = tab(a)->deletedFlag;
    if (uint16_t r = rdd::append(to, 1)) return r;
    // The source buffer stays valid: appending elsewhere does not move it.
    if (uint16_t r = rdd::putRecord(to, image)) return r;
    return deleted ? rdd::deleteRecord(to) : 0;
}

// ---- relations ----------------------------------------------------------

uint16_t dbfChildSync(WorkArea* a, RelationRecord* r) {
    if (uint16_t s = dbfGoCold(tab(a))) return s;
    dbf(a)->pendingRelation = r;
    return rdd::syncChildren(a);
}

uint16_t dbfForceRelation(WorkArea* a) {
    RelationRecord* r = dbf(a)->pendingRelation;
    if (!r) return 0;
    dbf(a)->pendingRelation = nullptr;
    uint16_t s = rdd::relationEval(a, r);
    uint32_t target = 0;
    if (s == 0 && !r->parent->eof && a->result && (a->result->type & M_NUMERIC)) {
        double v = (a->result->type & T_DOUBLE) ? a->result->v.d : double(a->result->v.l);
        target = v < 1 || v > 4294967295.0 ? 0 : uint32_t(v);
    }
    if (s == ST_UNWIND) return s;
    uint16_t g = rdd::goTo(a, target);
    a->found = tab(a)->positioned && tab(a)->recNo <= tab(a)->recordCount;
    a->bof = 0;
    return g;
}

uint16_t dbfChildStart(WorkArea* a, RelationRecord* r) {
    if (uint16_t s = rdd::childSync(a, r)) return s;
    return rddCallVia<RDD_CHILDSTART>(&dbfParent, a, r);
}

uint16_t dbfChildEnd(WorkArea* a, RelationRecord* r) {
    if (dbf(a)->pendingRelation == r) {
        if (uint16_t s = rdd::forceRelation(a)) return s;
    }
    return rddCallVia<RDD_CHILDEND>(&dbfParent, a, r);
}

uint16_t dbfSetFilter(WorkArea* a, const Item* block, const Item* text) {
    if (uint16_t r = resolve(a)) return r;
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
