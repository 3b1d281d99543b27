// The driver modules linked into the image: DBF (plain tables with memo
// files) and DBFNTX (DBF tables with NTX indexes, inheriting from DBF). Each
// record carries the module's name, its entry function and its exports.
#include <cstring>

#include "rdd/method_table.h"
#include "rdd/registry.h"

namespace xb {

namespace {

MethodFillRegistration* fills;

// The parents' tables as each driver copied them, for its own calls upward.
RddMethodTable dbfParent;
RddMethodTable dbfntxParent;

uint16_t moduleEntry(uint32_t, uint32_t, uint32_t, uint32_t) { return 1; }

void fillOwn(const char* driver, RddMethodTable* table) {
    if (MethodFill fill = findMethodFill(driver)) fill(table);
}

uint16_t dbfGetFuncTable(uint16_t* count, RddMethodTable* table) {
    *count = RDD_METHOD_COUNT;
    if (!table) return 0;
    copyDriverTable(table, nullptr);
    dbfParent = *table;
    fillOwn("DBF", table);
    return 0;
}

uint16_t dbfntxGetFuncTable(uint16_t* count, RddMethodTable* table) {
    *count = RDD_METHOD_COUNT;
    if (!table) return 0;
    if (copyDriverTable(table, "DBF") != 0) return 8;
    dbfntxParent = *table;
    fillOwn("DBFNTX", table);
    return 0;
}

// Gives back the use of DBF taken when the parent table was copied.
uint16_t dbfntxWep(uint16_t) {
    releaseDriverNamed("DBF");
    return 1;
}

constexpr uint8_t kDbf[] = "\x03" "DBF";
constexpr uint8_t kDbfntx[] = "\x06" "DBFNTX";
constexpr uint8_t kGetFuncTable[] = "\x0C" "GETFUNCTABLE";
constexpr uint8_t kWep[] = "\x03" "WEP";

const DriverModule modules[] = {
    {kDbf, moduleEntry, 1,
     {{kGetFuncTable, reinterpret_cast<void (*)()>(dbfGetFuncTable)}, {nullptr, nullptr}}},
    {kDbfntx, moduleEntry, 2,
     {{kGetFuncTable, reinterpret_cast<void (*)()>(dbfntxGetFuncTable)},
      {kWep, reinterpret_cast<void (*)()>(dbfntxWep)}}},
};

}  // namespace

const DriverModule* driverModules(uint32_t* count) {
    *count = sizeof modules / sizeof modules[0];
    return modules;
}

MethodFillRegistration::MethodFillRegistration(const char* driverName, MethodFill f)
    : driver(driverName), fill(f), next(fills) {
    fills = this;
}

MethodFill findMethodFill(const char* driver) {
    for (MethodFillRegistration* r = fills; r; r = r->next)
        if (std::strcmp(r->driver, driver) == 0) return r->fill;
    return nullptr;
}

}  // namespace xb
