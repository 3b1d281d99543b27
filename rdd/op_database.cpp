// The database built-ins the interpreter runs as extended opcodes 128..139
// (BOF, DELETED, EOF, FCOUNT, FIELDNAME, FLOCK, FOUND, SELECT, SELECT(alias),
// LASTREC, RLOCK, RECNO). Each asks the current area's method and leaves its
// result where its argument was; without an area each gives its neutral
// result, and only FLOCK and RLOCK also raise the empty-area error.
#include <cstring>

#include "vm/symbols.h"
#include "base/casemap.h"
#include "rdd/areas.h"
#include "rdd/db_natives.h"
#include "vm/error.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {

namespace {

using FlagMethod = RddResult (*)(WorkArea*, uint16_t*);

uint16_t pushFlag(FlagMethod method, bool withoutArea) {
    WorkArea* a = currentArea();
    uint16_t flag = withoutArea;
    RddResult r = a ? method(a, &flag) : RDD_OK;
    pushLogical(!r ? flag != 0 : withoutArea);
    return nativeStatus(r);
}

RddResult bofOf(WorkArea* a, uint16_t* f) { return rdd::bof(a, f); }
RddResult eofOf(WorkArea* a, uint16_t* f) { return rdd::eof(a, f); }
RddResult foundOf(WorkArea* a, uint16_t* f) { return rdd::found(a, f); }
RddResult deletedOf(WorkArea* a, uint16_t* f) { return rdd::deleted(a, f); }

uint16_t pushLock(uint16_t method) {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) {
        if (st == ST_UNWIND) return st;
        pushLogical(false);
        return 0;
    }
    LockInfo lock{};
    lock.method = method;
    RddResult r = rdd::lock(a, &lock);
    pushLogical(!r && lock.result != 0);
    return nativeStatus(r);
}

void pushRecordNumber(int32_t n) {
    pushLong(n);
    if (n >= 0 && n < 10000000) vm.top->width = 7;
}

}  // namespace

XB_OPCODE(BOF) { return pushFlag(bofOf, true); }
XB_OPCODE(EOF) { return pushFlag(eofOf, true); }
XB_OPCODE(FOUND) { return pushFlag(foundOf, false); }
XB_OPCODE(DELETED) { return pushFlag(deletedOf, false); }

XB_OPCODE(FCOUNT) {
    WorkArea* a = currentArea();
    uint16_t count = 0;
    RddResult r = a ? rdd::fieldCount(a, &count) : RDD_OK;
    pushLong(!r ? count : 0);
    return nativeStatus(r);
}

// FIELDNAME(n): the name, "" out of range; a non-number raises an argument
// error (subcode 1009) and gives "".
XB_OPCODE(FIELDNAME) {
    WorkArea* a = currentArea();
    char name[RDD_NAME_BUFFER] = "";
    uint16_t r = 0;
    if (a && !isNumeric(vm.top)) {
        ErrorDescriptor d = errorDescriptor("DBCMD", EG_ARG, 1009, EF_DEFAULT, "FIELDNAME");
        r = raiseAndDecide(&d);
    } else if (a) {
        int32_t n = isNumeric(vm.top) ? (vm.top->type == T_DOUBLE ? doubleToInt(vm.top->v.d) : vm.top->v.l) : 0;
        if (n >= 1 && n <= 0xFFFF) r = rddStatusWord(rdd::fieldName(a, uint16_t(n), name));
        name[RDD_NAME_BUFFER - 1] = 0;
    }
    pop();
    pushString(name, uint32_t(std::strlen(name)));
    return nativeStatus(r);
}

XB_OPCODE(FLOCK) { return pushLock(LOCK_FILE); }
XB_OPCODE(RLOCK) { return pushLock(LOCK_RECORD); }

XB_OPCODE(SELECT0) {
    pushLong(currentAreaNumber());
    return 0;
}

// SELECT(alias): the area bound to the alias, 0 when none.
XB_OPCODE(SELECT1) {
    int32_t area = 0;
    if (isString(vm.top)) {
        char name[SYMBOL_NAME_MAX + 1];
        uint32_t n = strLength(vm.top), at = 0;
        const char* s = strData(vm.top);
        while (at < n && (s[at] == ' ' || s[at] == '\t')) ++at;
        while (n > at && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
        n -= at;
        if (n <= uint32_t(SYMBOL_NAME_MAX)) {
            upperText(name, s + at, n);
            name[n] = 0;
            if (GlobalSymbol* sym = findSymbol(name)) area = sym->aliasArea;
        }
    }
    pop();
    pushLong(area);
    return 0;
}

XB_OPCODE(LASTREC) {
    WorkArea* a = currentArea();
    uint32_t count = 0;
    RddResult r = a ? rdd::recCount(a, &count) : RDD_OK;
    pushLong(!r ? int32_t(count) : 0);
    return nativeStatus(r);
}

XB_OPCODE(RECNO) {
    WorkArea* a = currentArea();
    if (!a) {
        pushRecordNumber(0);
        return 0;
    }
    Item* out = pushSlot();
    itemClear(out);
    RddResult r = rdd::recNo(a, out);
    int32_t n = !r && isNumeric(vm.top) ? itemInt(vm.top) : 0;
    pop();
    pushRecordNumber(n);
    return nativeStatus(r);
}

}  // namespace xb
