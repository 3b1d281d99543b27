// Table structure and field values by number: DBCREATE, DBSTRUCT,
// FIELDGET, FIELDPUT, FIELDPOS, HEADER, RECSIZE and LUPDATE. Thin layers over
// createFields/create, fieldInfo, getValue/putValue and info.
#include <cstring>
#include <string>
#include <vector>

#include "vm/function.h"
#include "vm/symbols.h"
#include "base/casemap.h"
#include "rdd/areas.h"
#include "rdd/db_natives.h"
#include "rdd/registry.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/fields.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// The field numbered by argument 1 (1-based) of the current area, or null.
WorkArea* fieldOfArgument(uint16_t* index) {
    WorkArea* a = currentArea();
    Item* n = paramItem(1, M_NUMERIC);
    if (!a || !n) return nullptr;
    int32_t v = itemInt(n);
    if (v < 1 || v > a->fieldCount) return nullptr;
    *index = uint16_t(v - 1);
    return a;
}

// An info code's answer of the current area, NIL without an area.
void retInfo(uint16_t code) {
    WorkArea* a = currentArea();
    if (!a) return;
    Item* out = tempAlloc();
    itemClear(out);
    if (!rdd::info(a, code, out)) retItem(out);
    tempRelease(out);
}

double numberOf(const Item* it) { return it->type == T_DOUBLE ? it->v.d : double(it->v.l); }

// A structure no table can hold, refused before any file is made (a
// deliberate check: these used to make tables that later reads trip over):
// a row that is not {name, type, length, decimals}; a name that is not an
// identifier (a letter or "_", then letters, digits and "_"; trailing
// blanks ignored); a name given twice (compared upper-cased over the 10
// characters a table keeps); a C field of length 0 or below; an N field of
// length 0 or below, or whose decimals leave no room for a digit before the
// point (decimals above 0 need length >= decimals + 2).
bool impossibleStructure(const Item* structure) {
    uint32_t rows = arrayLength(structure);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < rows; ++i) {
        const Item* row = &arrayItems(structure)[i];
        if (!isArray(row) || arrayLength(row) < 4) return true;
        const Item* e = arrayItems(row);
        if (!isString(&e[0]) || !isString(&e[1]) || !isNumeric(&e[2])) return true;
        std::string name(strData(&e[0]), strLength(&e[0]));
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (name.empty()) return true;
        for (size_t k = 0; k < name.size(); ++k) {
            unsigned char c = static_cast<unsigned char>(name[k]);
            bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
            if (!(letter || (k > 0 && c >= '0' && c <= '9'))) return true;
            name[k] = char(c >= 'a' && c <= 'z' ? c - 32 : c);
        }
        name = name.substr(0, 10);
        for (const std::string& other : names)
            if (other == name) return true;
        names.push_back(name);
        char type = strLength(&e[1]) ? char(strData(&e[1])[0] & ~0x20) : ' ';
        double length = numberOf(&e[2]);
        double decimals = isNumeric(&e[3]) ? numberOf(&e[3]) : 0;
        if (type == 'C' && length < 1) return true;
        if (type == 'N' && (length < 1 || decimals < 0 || (decimals > 0 && length < decimals + 2))) return true;
    }
    return false;
}

}  // namespace

// DBCREATE(file, structure, [driver]): creates the table and closes it
// again. The area record never takes a slot: its number is 0, so nothing is
// bound to names while it exists.
XB_NATIVE(fnDBCREATE, "DBCREATE") {
    retNil();
    Item* file = argumentItem(1);
    Item* structure = argumentItem(2);
    if (!file || !isString(file) || !structure || !isArray(structure) || impossibleStructure(structure))
        return argumentError("DBCMD", 1001, EF_DEFAULT);
    Item* driver = argumentItem(3);
    char name[DRIVER_NAME_MAX + 2];
    if (driver && isString(driver) && strLength(driver) > 0) {
        uint32_t n = strLength(driver);
        if (n > DRIVER_NAME_MAX + 1) n = DRIVER_NAME_MAX + 1;
        std::memcpy(name, strData(driver), n);
        name[n] = 0;
    } else {
        defaultDriverName(name);
    }
    RddMethodTable* methods = acquireDriver(name);
    if (!methods) {
        uint16_t r = argumentError("DBCMD", 1015, EF_DEFAULT);
        retNil();
        return r;
    }
    WorkArea* a = newAreaRecord(methods);
    OpenInfo info{};
    info.fileName = itemTextCopy(file);
    RddResult r = rdd::newArea(a);
    if (r) {
        memFree(a);
        releaseDriver(methods);
    } else {
        r = rdd::createFields(a, structure);
        if (!r) r = rdd::create(a, &info);
        if (!r) rdd::close(a);
        rdd::release(a);
    }
    memFree(const_cast<char*>(info.fileName));
    return noResult(r);
}

// DBSTRUCT(): {{name, type, length, decimals}, ...} of the current area;
// an empty array without one.
XB_NATIVE(fnDBSTRUCT, "DBSTRUCT") {
    WorkArea* a = currentArea();
    uint16_t count = 0;
    if (a) rdd::fieldCount(a, &count);
    retArray(count);
    for (uint16_t i = 0; i < count; ++i) {
        // each row is rooted in the result before it is filled
        Item* row = &arrayItems(returnItem())[i];
        makeArray(row, 4);
        for (uint16_t code = 1; code <= 4; ++code) {
            Item* cell = &arrayItems(&arrayItems(returnItem())[i])[code - 1];
            if (RddResult r = rdd::fieldInfo(a, uint16_t(i + 1), code, cell)) return nativeStatus(r);
        }
    }
    return 0;
}

// FIELDGET(n): the value of field n, NIL when there is no such field.
XB_NATIVE(fnFIELDGET, "FIELDGET") {
    uint16_t index = 0;
    WorkArea* a = fieldOfArgument(&index);
    if (!a) return 0;
    if (uint16_t r = pushField(&a->fields[index])) return noResult(r);
    *returnItem() = *vm.top;
    pop();
    return 0;
}

// FIELDPUT(n, value): stores value into field n and returns it; NIL when
// there is no such field or the driver refused it.
XB_NATIVE(fnFIELDPUT, "FIELDPUT") {
    uint16_t index = 0;
    WorkArea* a = fieldOfArgument(&index);
    Item* value = argumentItem(2);
    if (!a || !value) return 0;
    if (RddResult r = rdd::putValue(a, index, value)) return noResult(r);
    retItem(value);
    return 0;
}

// FIELDPOS(name): the 1-based number of the field of that name in the
// current area (blanks around it and case ignored), 0 when none.
XB_NATIVE(fnFIELDPOS, "FIELDPOS") {
    retInt(0);
    WorkArea* a = currentArea();
    Item* text = paramItem(1, M_STRING);
    if (!a || !text) return 0;
    char name[SYMBOL_NAME_MAX + 1];
    uint32_t n = strLength(text), at = 0;
    const char* s = strData(text);
    while (at < n && s[at] == ' ') ++at;
    while (n > at && s[n - 1] == ' ') --n;
    n -= at;
    if (n > uint32_t(SYMBOL_NAME_MAX)) return 0;
    upperText(name, s + at, n);
    name[n] = 0;
    for (uint16_t i = 0; i < a->fieldCount; ++i)
        if (std::strcmp(symbolName(a->fields[i].symbol), name) == 0) {
            retInt(i + 1);
            break;
        }
    return 0;
}

// HEADER(), RECSIZE(): lengths in bytes, 0 without an area; LUPDATE(): the
// date of the last update, an empty date without an area.
XB_NATIVE(fnHEADER, "HEADER") {
    retInt(0);
    retInfo(DBI_GETHEADERSIZE);
    return 0;
}

XB_NATIVE(fnRECSIZE, "RECSIZE") {
    retInt(0);
    retInfo(DBI_GETRECSIZE);
    return 0;
}

XB_NATIVE(fnLUPDATE, "LUPDATE") {
    itemClear(returnItem());
    returnItem()->type = T_DATE;
    retInfo(DBI_LASTUPDATE);
    return 0;
}

}  // namespace xb
