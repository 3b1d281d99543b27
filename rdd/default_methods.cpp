// The default layer: the fallback handler of every slot, the error
// operation with its subsystem rule, the flag and name queries, and the
// assembly of the default table from the files of generic operations.
#include "rdd/default_methods.h"
#include "vm/vm.h"

#include <cstring>

#include "vm/symbols.h"
#include "rdd/areas.h"
#include "rdd/generic.h"
#include "vm/interp.h"

namespace xb {

namespace {

const char* const slotNames[RDD_METHOD_COUNT] = {
#define RDD_METHOD(n, ENUM, name, params, args) #name,
#include "rdd/methods.def"
#undef RDD_METHOD
};

// The unsupported-operation handler in the exact signature of each slot.
template <class Fn>
struct Unsupported;
template <class... A>
struct Unsupported<RddResult (*)(WorkArea*, A...)> {
    static RddResult run(WorkArea* a, A...) { return unsupportedOperation(a); }
};

void fillUnsupported(RddMethodTable* t) {
#define RDD_METHOD(n, ENUM, name, params, args) \
    rddSetSlot<n>(t, &Unsupported<RddSlotType<n>::Fn>::run);
#include "rdd/methods.def"
#undef RDD_METHOD
}

bool unsupportedAt(const RddMethodTable* t, uint16_t slot) {
    static RddMethodTable stubs;
    static bool built = false;
    if (!built) {
        fillUnsupported(&stubs);
        built = true;
    }
    return t->slot[slot] == stubs.slot[slot];
}

RddResult flagOf(uint32_t value, uint16_t* out) {
    *out = value ? 1 : 0;
    return RDD_OK;
}
RddResult genericBof(WorkArea* a, uint16_t* f) { return flagOf(a->bof, f); }
RddResult genericEof(WorkArea* a, uint16_t* f) { return flagOf(a->eof, f); }
RddResult genericFound(WorkArea* a, uint16_t* f) { return flagOf(a->found, f); }

RddResult genericAlias(WorkArea* a, char* out) {
    out[0] = 0;
    if (!a->alias) return RDD_OK;
    std::strncpy(out, symbolName(a->alias), RDD_NAME_BUFFER - 1);
    out[RDD_NAME_BUFFER - 1] = 0;
    return RDD_OK;
}

RddResult genericStructSize(WorkArea*, uint16_t* size) {
    *size = WORKAREA_SIZE;
    return RDD_OK;
}

// Codes 1, 2 and 5 are false; code 4 gives the record id back.
RddResult genericRecordInfo(WorkArea* a, uint32_t id, uint16_t code, Item* out) {
    itemClear(out);
    switch (code) {
    case 1:
    case 2:
    case 5:
        out->type = T_LOGICAL;
        return RDD_OK;
    case 4:
        out->type = T_INTEGER;
        out->width = 10;
        out->v.l = int32_t(id);
        return RDD_OK;
    default:
        return unsupportedOperation(a);
    }
}

}  // namespace

const char* rddSlotName(uint32_t slot) { return slot < RDD_METHOD_COUNT ? slotNames[slot] : nullptr; }

bool isUnsupportedSlot(const RddMethodTable* table, uint16_t slot) {
    return slot < RDD_METHOD_COUNT && unsupportedAt(table, slot);
}

RddResult unsupportedOperation(WorkArea* a) {
    ErrorDescriptor d = errorDescriptor(nullptr, EG_UNSUPPORTED, 0, 0);
    RddResult r = rdd::error(a, &d);
    return r == RDD_UNWIND ? RDD_UNWIND : RDD_FAILED;
}

// Without a subsystem the driver's name stands in, "???DRIVE" when the
// driver cannot say it; the subsystem is taken off the descriptor again.
RddResult genericError(WorkArea* a, ErrorDescriptor* d) {
    char name[RDD_NAME_BUFFER];
    bool named = false;
    if (!d->subsystem) {
        if (unsupportedAt(a->methods, RDD_SYSNAME)) {
            std::strcpy(name, "???DRIVE");
        } else {
            name[0] = 0;
            rdd::sysName(a, name);
            name[RDD_NAME_BUFFER - 1] = 0;
        }
        d->subsystem = name;
        named = true;
    }
    if (d->severity == 0) d->severity = 2;
    uint16_t r = raiseAndDecide(d);
    if (named) d->subsystem = nullptr;
    return rddFromStatus(r);
}

RddResult raiseAreaError(WorkArea* a, const AreaErrorInfo& info) {
    ErrorDescriptor d = errorDescriptor(nullptr, info.genCode, info.subCode, info.flags, info.operation);
    d.osCode = info.osCode;
    d.tries = info.tries;
    d.fileName = info.fileName;
    return rdd::error(a, &d);
}

// A transient record (number 0) has no slot to select: the block runs in
// the current area.
uint16_t evalInArea(WorkArea* a, const Item* block) {
    uint16_t previous = a->areaNo ? selectArea(a->areaNo) : currentAreaNumber();
    ++a->busy;
    uint16_t r = evalBlock(block);
    --a->busy;
    if (previous != currentAreaNumber()) selectArea(previous);
    return r;
}

void fillDefaultMethods(RddMethodTable* t) {
    fillUnsupported(t);
    rddSetSlot<RDD_BOF>(t, genericBof);
    rddSetSlot<RDD_EOF>(t, genericEof);
    rddSetSlot<RDD_FOUND>(t, genericFound);
    rddSetSlot<RDD_ALIAS>(t, genericAlias);
    rddSetSlot<RDD_STRUCTSIZE>(t, genericStructSize);
    rddSetSlot<RDD_RECORDINFO>(t, genericRecordInfo);
    rddSetSlot<RDD_ERROR>(t, genericError);
    fillGenericFields(t);
    fillGenericSkip(t);
    fillGenericScope(t);
    fillGenericLifecycle(t);
    fillGenericRelations(t);
}

void setLogical(Item* out, bool value) {
    itemClear(out);
    out->type = T_LOGICAL;
    out->v.l = value;
}

void setInteger(Item* out, int32_t value) {
    itemClear(out);
    out->type = T_INTEGER;
    out->width = 10;
    out->v.l = value;
}

const RddMethodTable& defaultMethods() {
    static RddMethodTable table;
    static bool built = false;
    if (!built) {
        fillDefaultMethods(&table);
        built = true;
    }
    return table;
}

}  // namespace xb
