// __DBSORT(target, fields, [for], [while], [next], [record], [rest]): a
// sorted copy of the current area's records into a new table target, with
// the same structure and driver. fields is an array of texts "NAME", each
// optionally followed by "/A" (ascending, the default), "/D" (descending)
// and "/C" (without regard to case), in either case and order. The scope
// arguments select records as DBEVAL's do. The new table is created, filled
// through the driver's sort operation and closed again; the current area
// stays current. Result: true when the copy was made.
//
// Errors: no current area 35/2001; target not a text or fields not an array
// of known field names: argument error 1003 ("DBCMD"). A driver without a
// sort operation raises its unsupported-operation error.
#include <cstring>

#include "vm/function.h"
#include "vm/symbols.h"
#include "base/casemap.h"
#include "rdd/areas.h"
#include "rdd/dbf/dbf_sort.h"
#include "rdd/default_methods.h"
#include "rdd/workarea.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

constexpr uint16_t kMaxSortKeys = 64;

// Calls the runtime function name with the given arguments; the result is
// left in the return Item. Status of the call.
uint16_t callFunction(const char* name, const Item* args, uint16_t count) {
    GlobalSymbol* s = findSymbol(name);
    if (!s) return rddStatusWord(RDD_FAILED);
    pushSymbol(s);
    pushNil();
    for (uint16_t i = 0; i < count; ++i) push(&args[i]);
    return callProc(count);
}

// "NAME/D/C" -> field index (0-based) and flags; false when the field is
// unknown.
bool parseKey(WorkArea* a, const Item* text, SortKey* key) {
    if (!text || !isString(text)) return false;
    char keyText[80];
    uint32_t n = strLength(text);
    if (n >= sizeof keyText) n = sizeof keyText - 1;
    std::memcpy(keyText, strData(text), n);
    keyText[n] = 0;
    key->flags = 0;
    char* slash = std::strchr(keyText, '/');
    for (char* p = slash; p && *p; ++p) {
        char c = char(toUpper(uint8_t(*p)));
        if (c == 'D') key->flags |= DBF_SORT_DESCENDING;
        if (c == 'C') key->flags |= DBF_SORT_NOCASE;
    }
    if (slash) *slash = 0;
    char* name = keyText;
    while (*name == ' ') ++name;
    size_t len = std::strlen(name);
    while (len && name[len - 1] == ' ') name[--len] = 0;
    for (size_t i = 0; i < len; ++i) name[i] = char(toUpper(uint8_t(name[i])));
    uint16_t count = 0;
    rdd::fieldCount(a, &count);
    for (uint16_t i = 1; i <= count; ++i) {
        char field[RDD_NAME_BUFFER] = "";
        rdd::fieldName(a, i, field);
        if (std::strcmp(field, name) == 0) {
            key->field = uint16_t(i - 1);
            return true;
        }
    }
    return false;
}

}  // namespace

XB_NATIVE(fnDBSORT, "__DBSORT") {
    retLogical(false);
    WorkArea* a = currentArea();
    if (!a) return noAreaError("DBCMD", 2001);
    Item* target = argumentItem(1);
    Item* fields = argumentItem(2);
    if (!target || !isString(target) || !fields || !isArray(fields) || arrayLength(fields) == 0 ||
        arrayLength(fields) > kMaxSortKeys)
        return argumentError("DBCMD", 1003, EF_DEFAULT);
    SortKey keys[kMaxSortKeys];
    uint16_t keyCount = uint16_t(arrayLength(fields));
    for (uint16_t i = 0; i < keyCount; ++i)
        if (!parseKey(a, &arrayItems(fields)[i], &keys[i])) return argumentError("DBCMD", 1003, EF_DEFAULT);

    // The structure of this table, kept rooted while the calls run.
    uint16_t source = currentAreaNumber();
    Item* work = tempAlloc();
    uint16_t status = callFunction("DBSTRUCT", nullptr, 0);
    Item args[3];
    if (!status) {
        args[0] = *target;
        args[1] = *returnItem();
        *work = args[1];
        status = callFunction("DBCREATE", args, 2);
    }
    WorkArea* destination = nullptr;
    if (!status) {
        itemClear(&args[0]);
        args[0].type = T_LOGICAL;
        args[0].v.l = 1;
        itemClear(&args[1]);
        args[2] = *target;
        status = callFunction("DBUSEAREA", args, 3);
        destination = status || currentAreaNumber() == source ? nullptr : currentArea();
        selectArea(source);
    }
    if (!status && destination) {
        uint16_t count = 0;
        rdd::fieldCount(a, &count);
        auto* pairs = static_cast<FieldPair*>(memAlloc(uint32_t(count ? count : 1) * sizeof(FieldPair)));
        for (uint16_t i = 0; i < count; ++i) pairs[i] = FieldPair{i, i};
        SortInfo info{};
        info.transfer.scope = ScopeInfo{nullptr, argumentItem(3), argumentItem(4), argumentItem(5), argumentItem(6), argumentItem(7)};
        info.transfer.destination = destination;
        info.transfer.pairCount = count;
        info.transfer.pairs = pairs;
        info.keyCount = keyCount;
        info.keys = keys;
        status = rddStatusWord(rdd::sort(a, &info));
        memFree(pairs);
        RddResult closed = closeAndRelease(destination);
        if (!status) status = rddStatusWord(closed);

    }
    tempRelease(work);
    selectArea(source);
    retLogical(status == 0 && destination != nullptr);
    return status == ST_UNWIND ? status : 0;
}

}  // namespace xb
