// The order functions over the current area: seeking (DBSEEK), the order
// list (ORDLISTADD, ORDLISTCLEAR, ORDLISTREBUILD, ORDSETFOCUS), creating
// (ORDCONDSET, ORDCREATE), scopes (ORDSCOPE) and what an order is (ORDKEY,
// ORDFOR, ORDNAME, ORDNUMBER, ORDBAGNAME, ORDBAGEXT, ORDKEYNO, ORDKEYCOUNT,
// INDEXORD, INDEXKEY). Each is a thin layer over the order slots and
// orderInfo; an area whose driver has no orders answers the empty value
// instead of raising.
#include <cstring>

#include "vm/function.h"
#include "rdd/db_natives.h"
#include "rdd/default_methods.h"
#include "rdd/orders.h"
#include "vm/error.h"
#include "vm/settings.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// A string argument as a NUL-terminated text without its trailing blanks
// ("" when absent).
const char* trimmedArgument(uint32_t n, char* buffer, uint32_t size) {
    argumentText(n, buffer, size);
    for (size_t len = std::strlen(buffer); len && buffer[len - 1] == ' ';) buffer[--len] = 0;
    return buffer;
}

bool hasOrders(WorkArea* a) { return !isUnsupportedSlot(rddMethodsOf(a), RDD_ORDERINFO); }

// orderInfo(code) for the order named by argument `which` (0: none given,
// the controlling order); value is the argument handed in, or null. The
// answer is returned; `empty` when the area has no orders.
uint16_t infoCall(uint16_t code, uint32_t which, const Item* value, void (*empty)()) {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a || !hasOrders(a)) {
        empty();
        return st;
    }
    Item* out = tempAlloc();
    if (value) *out = *value;
    else itemClear(out);
    const Item* order = which ? argumentItem(which) : nullptr;
    OrderInfo oi{isGiven(order) ? order : nullptr, nullptr, out};
    RddResult r = rdd::orderInfo(a, code, &oi);
    if (out->type == T_NIL) empty();
    else retItem(out);
    tempRelease(out);
    return nativeStatus(r);
}
void emptyText() { retText(""); }
void emptyNumber() { retInt(0); }
void emptyNil() { retNil(); }

}  // namespace

// DBSEEK(key, [soft], [last]): soft defaults to the SOFTSEEK setting; the
// result is found(). A key that is not a string (memo included), number,
// date or logical, or a soft or last that is neither logical nor absent, is
// an argument error 1001.
XB_NATIVE(fnDBSEEK, "DBSEEK") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) {
        retLogical(false);
        return st;
    }
    Item* key = argumentItem(1);
    Item* soft = argumentItem(2);
    Item* last = argumentItem(3);
    bool keyOk = key && (isString(key) || (key->type & (M_NUMERIC | T_DATE | T_LOGICAL)));
    bool flagsOk = (!isGiven(soft) || soft->type == T_LOGICAL) && (!isGiven(last) || last->type == T_LOGICAL);
    if (!keyOk || !flagsOk) {
        uint16_t r = argumentError("DBCMD", 1001, EF_DEFAULT);
        retLogical(false);
        return r;
    }
    RddResult r = rdd::seek(a, isGiven(soft) ? uint16_t(soft->v.l != 0) : uint16_t(settingSoftSeek()), key,
                           isGiven(last) ? uint16_t(last->v.l != 0) : uint16_t(0));
    if (r == RDD_UNWIND) return rddStatusWord(r);
    uint16_t found = 0;
    rdd::found(a, &found);
    retLogical(found != 0);
    return 0;
}

// ORDCONDSET(forText, forBlock, all, whileBlock, evalBlock, interval, start,
// next, record, rest, descending): the condition of the next ORDCREATE.
XB_NATIVE(fnORDCONDSET, "ORDCONDSET") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) {
        retLogical(false);
        return st;
    }
    OrderCondition c{};
    for (uint32_t i = 0; i < ORDER_CONDITION_ARGS; ++i) c.args[i] = argumentItem(i + 1);
    RddResult r = rdd::orderCondition(a, &c);
    if (r == RDD_UNWIND) return rddStatusWord(r);
    retLogical(!r);
    return 0;
}

// ORDCREATE(bag, [tag], keyText, [keyBlock], [unique]).
XB_NATIVE(fnORDCREATE, "ORDCREATE") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    char bag[512], tag[512], key[512];
    Item* block = argumentItem(4);
    Item* unique = paramItem(5, T_LOGICAL);
    OrderCreateInfo ci{trimmedArgument(1, bag, sizeof bag), trimmedArgument(2, tag, sizeof tag),
                       trimmedArgument(3, key, sizeof key), block && (block->type & T_BLOCK) ? block : nullptr,
                       uint16_t(unique && unique->v.l)};
    return noResult(rdd::orderCreate(a, &ci));
}

// ORDLISTADD(bag).
XB_NATIVE(fnORDLISTADD, "ORDLISTADD") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    char bag[512];
    OrderInfo oi{nullptr, trimmedArgument(1, bag, sizeof bag), nullptr};
    return noResult(rdd::orderListAdd(a, &oi));
}

XB_NATIVE(fnORDLISTCLEAR, "ORDLISTCLEAR") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    return noResult(rdd::orderListClear(a));
}

XB_NATIVE(fnORDLISTREBUILD, "ORDLISTREBUILD") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    return noResult(rdd::orderListRebuild(a));
}

// ORDSETFOCUS([tag, bag name or number]): the name of the order that was
// controlling ("" for natural order); a number 0 selects natural order.
XB_NATIVE(fnORDSETFOCUS, "ORDSETFOCUS") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a || !hasOrders(a)) {
        retText("");
        return st;
    }
    Item* out = tempAlloc();
    itemClear(out);
    Item* which = argumentItem(1);
    OrderInfo oi{isGiven(which) ? which : nullptr, nullptr, out};
    RddResult r = rdd::orderListFocus(a, &oi);
    if (isString(out)) retItem(out);
    else retText("");
    tempRelease(out);
    return nativeStatus(r);
}

XB_NATIVE(fnORDKEY, "ORDKEY") { return infoCall(DBOI_EXPRESSION, 1, nullptr, emptyText); }
XB_NATIVE(fnORDFOR, "ORDFOR") { return infoCall(DBOI_CONDITION, 1, nullptr, emptyText); }
XB_NATIVE(fnORDNAME, "ORDNAME") { return infoCall(DBOI_NAME, 1, nullptr, emptyText); }
XB_NATIVE(fnORDNUMBER, "ORDNUMBER") { return infoCall(DBOI_NUMBER, 1, nullptr, emptyNumber); }
XB_NATIVE(fnORDBAGNAME, "ORDBAGNAME") { return infoCall(DBOI_BAGNAME, 1, nullptr, emptyText); }
XB_NATIVE(fnORDBAGEXT, "ORDBAGEXT") { return infoCall(DBOI_BAGEXT, 0, nullptr, emptyText); }
XB_NATIVE(fnORDKEYNO, "ORDKEYNO") { return infoCall(DBOI_POSITION, 1, nullptr, emptyNumber); }
XB_NATIVE(fnORDKEYCOUNT, "ORDKEYCOUNT") { return infoCall(DBOI_KEYCOUNT, 1, nullptr, emptyNumber); }
// INDEXKEY(n): the key text of order n (0: the controlling order).
XB_NATIVE(fnINDEXKEY, "INDEXKEY") { return infoCall(DBOI_EXPRESSION, 1, nullptr, emptyText); }

// INDEXORD(): the number of the controlling order, 0 in natural order.
XB_NATIVE(fnINDEXORD, "INDEXORD") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a || !hasOrders(a)) {
        retInt(0);
        return st;
    }
    Item* out = tempAlloc();
    itemClear(out);
    OrderInfo oi{nullptr, nullptr, out};
    RddResult r = rdd::orderInfo(a, DBOI_NUMBER, &oi);
    retInt((out->type & M_NUMERIC) ? itemInt(out) : 0);
    tempRelease(out);
    return nativeStatus(r);
}

// ORDSCOPE(which, [value]): which 0 is the top scope, 1 the bottom one of
// the controlling order; with a value the scope is set, without one it is
// cleared. The previous value is returned (NIL when there was none).
XB_NATIVE(fnORDSCOPE, "ORDSCOPE") {
    Item* which = paramItem(1, M_NUMERIC);
    bool bottom = which && itemInt(which) == 1;
    Item* value = argumentItem(2);
    if (isGiven(value))
        return infoCall(bottom ? DBOI_SCOPEBOTTOM : DBOI_SCOPETOP, 0, value, emptyNil);
    return infoCall(bottom ? DBOI_SCOPEBOTTOMCLEAR : DBOI_SCOPETOPCLEAR, 0, nullptr, emptyNil);
}

}  // namespace xb
