// The DBF sort slot: a sorted copy of the records in a scope. The scope is
// walked as dbEval walks it; each selected record gives a sort record (its
// key fields, then its record number as the tie-breaker, so equal keys keep
// the table's order); the external sort engine orders them within
// dbfSortBudget bytes of memory; then the source is positioned on each
// record in order and transRecord copies it into the destination.
//
// Key flags (SortKey::flags): DBF_SORT_DESCENDING reverses the field's
// order, DBF_SORT_NOCASE compares C fields through the national upper-case
// table. N fields compare as numbers (a numeric marker the driver adds),
// D fields by their YYYYMMDD text, L fields F before T, C and M fields
// (M: the block number text) byte by byte.
//
// Failures: a record that cannot be read is internal error 1280; the sort
// engine's failures are its internal errors (4110, 4412 to 4415).
#include "rdd/dbf/dbf_sort.h"

#include <cstring>

#include "base/casemap.h"
#include "base/hooks.h"
#include "rdd/dbf/dbf_driver.h"
#include "rdd/default_methods.h"
#include "rdd/ext_sort.h"
#include "rdd/workarea.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/stack.h"

namespace xb {

uint32_t& dbfSortBudget = runtimeHooks.dbfSortBudget;

namespace {

constexpr uint16_t kNumericMarker = 0x8000;
constexpr uint16_t kMaxKeys = 64;

struct KeyPart {
    uint32_t at;      // offset in the sort record
    uint32_t source;  // offset in the table record
    uint16_t length;  // bytes in the sort record
    uint16_t fieldLength;
    uint16_t flags;
    char type;
};

struct SortContext {
    KeyPart parts[kMaxKeys];
    uint16_t partCount;
    uint32_t keyBytes;  // the record number follows
};

int compareKeys(const void* pa, const void* pb, void* context) {
    const auto* c = static_cast<const SortContext*>(context);
    const auto* a = static_cast<const uint8_t*>(pa);
    const auto* b = static_cast<const uint8_t*>(pb);
    for (uint16_t i = 0; i < c->partCount; ++i) {
        const KeyPart& k = c->parts[i];
        int r = 0;
        if (k.flags & kNumericMarker) {
            double x, y;
            std::memcpy(&x, a + k.at, sizeof x);
            std::memcpy(&y, b + k.at, sizeof y);
            r = x < y ? -1 : x > y ? 1 : 0;
        } else if (k.flags & DBF_SORT_NOCASE) {
            for (uint32_t j = 0; j < k.length && r == 0; ++j)
                r = int(toUpper(a[k.at + j])) - int(toUpper(b[k.at + j]));
        } else {
            r = std::memcmp(a + k.at, b + k.at, k.length);
        }
        if (r) return (k.flags & DBF_SORT_DESCENDING) ? -r : r;
    }
    uint32_t x, y;
    std::memcpy(&x, a + c->keyBytes, 4);
    std::memcpy(&y, b + c->keyBytes, 4);
    return x < y ? -1 : x > y ? 1 : 0;
}

// The key parts from the sort request; false for a field out of range.
bool describeKeys(const DbfTable* t, const SortInfo* s, SortContext* c) {
    c->partCount = 0;
    c->keyBytes = 0;
    for (uint16_t i = 0; i < s->keyCount && i < kMaxKeys; ++i) {
        const SortKey& key = s->keys[i];
        if (key.field >= t->fieldCount) return false;
        const DbfField& f = t->fields[key.field];
        KeyPart& k = c->parts[c->partCount++];
        k.type = f.type;
        k.source = t->fieldOffsets[key.field];
        k.flags = key.flags;
        k.fieldLength = f.length;
        if (f.type == 'N') {
            k.flags |= kNumericMarker;
            k.length = sizeof(double);
        } else {
            k.length = f.length;
        }
        k.at = c->keyBytes;
        c->keyBytes += k.length;
    }
    return true;
}

struct Collect {
    ExtSort* sort;
    SortContext* context;
    uint8_t* record;
};

RddResult collect(WorkArea* a, Collect* c) {
    uint8_t* image = nullptr;
    if (rdd::getRecord(a, &image) || !image) fatalError(1280);
    const DbfTable* t = dbfTableOf(a);
    for (uint16_t i = 0; i < c->context->partCount; ++i) {
        const KeyPart& k = c->context->parts[i];
        uint8_t* out = c->record + k.at;
        if (k.flags & kNumericMarker) {
            double v = dbfDecodeNumber(reinterpret_cast<const char*>(image) + k.source, k.fieldLength);
            std::memcpy(out, &v, sizeof v);
        } else if (k.type == 'L') {
            *out = dbfDecodeLogical(char(image[k.source])) ? 'T' : 'F';
        } else {
            std::memcpy(out, image + k.source, k.length);
        }
    }
    std::memcpy(c->record + c->context->keyBytes, &t->recNo, 4);
    ExtSortStatus r = extSortAdd(c->sort, c->record);
    if (r) fatalError(extSortErrorNumber(r));
    return RDD_OK;
}

RddResult collectAction(WorkArea* a, void* c) { return collect(a, static_cast<Collect*>(c)); }

RddResult dbfSort(WorkArea* a, const SortInfo* s) {
    if (!s->transfer.destination || s->keyCount == 0) return RDD_FAILED;
    const DbfTable* t = dbfTableOf(a);
    SortContext context{};
    if (!describeKeys(t, s, &context)) return RDD_FAILED;
    ExtSort sort{};
    uint32_t recordSize = context.keyBytes + 4;
    char tempBase[kDbfNameMax + 8];
    std::strcpy(tempBase, t->tableName[0] ? t->tableName : "sort");
    ExtSortStatus r = extSortBegin(&sort, recordSize, dbfSortBudget ? dbfSortBudget : DBF_SORT_DEFAULT_BUDGET, compareKeys, &context, tempBase);
    if (r) {
        extSortEnd(&sort);
        fatalError(extSortErrorNumber(r));
    }
    uint8_t* record = static_cast<uint8_t*>(memAlloc(recordSize));
    Collect c{&sort, &context, record};
    RddResult status = scopeLoop(a, &s->transfer.scope, collectAction, &c);
    memFree(record);
    if (!status && (r = extSortFinish(&sort))) {
        extSortEnd(&sort);
        fatalError(extSortErrorNumber(r));
    }
    TransferInfo transfer = s->transfer;
    while (!status) {
        const void* next = nullptr;
        if ((r = extSortNext(&sort, &next))) {
            extSortEnd(&sort);
            fatalError(extSortErrorNumber(r));
        }
        if (!next) break;
        uint32_t recNo;
        std::memcpy(&recNo, static_cast<const uint8_t*>(next) + context.keyBytes, 4);
        status = rdd::goTo(a, recNo);
        if (!status) status = rdd::transRecord(a, &transfer);
    }
    extSortEnd(&sort);
    return status;
}

}  // namespace

void fillDbfSort(RddMethodTable* table) { rddSetSlot<RDD_SORT>(table, dbfSort); }

}  // namespace xb
