// The driver modules linked into the image: DBF (plain tables with memo
// files) and DBFNTX (DBF tables with NTX indexes, inheriting from DBF). Each
// record carries the module's name, its entry function and its exports.
#include <cstring>

#include "rdd/method_table.h"
#include "rdd/registry.h"

namespace xb {

namespace {

MethodFillRegistration* fills;

// The parents' tables, for drivers that did not register a table of their
// own to keep it in.
RddMethodTable dbfParent;
RddMethodTable dbfntxParent;

uint16_t moduleEntry(uint32_t, uint32_t, uint32_t, uint32_t) { return 1; }

uint16_t buildTable(const char* driver, const char* parent, uint16_t* count, RddMethodTable* table,
                    RddMethodTable* fallback) {
    const MethodFillRegistration* r = findMethodRegistration(driver);
    return inheritDriverTable(count, table, parent, r && r->parentTable ? r->parentTable : fallback,
                              r ? r->fill : nullptr);
}

// DBF takes the default layer and reports success whatever happens.
uint16_t dbfGetFuncTable(uint16_t* count, RddMethodTable* table) {
    buildTable("DBF", nullptr, count, table, &dbfParent);
    return 0;
}

uint16_t dbfntxGetFuncTable(uint16_t* count, RddMethodTable* table) {
    return buildTable("DBFNTX", "DBF", count, table, &dbfntxParent);
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

MethodFillRegistration::MethodFillRegistration(const char* driverName, MethodFill f, RddMethodTable* parent)
    : driver(driverName), fill(f), parentTable(parent), next(fills) {
    fills = this;
}

const MethodFillRegistration* findMethodRegistration(const char* driver) {
    for (MethodFillRegistration* r = fills; r; r = r->next)
        if (std::strcmp(r->driver, driver) == 0) return r;
    return nullptr;
}

MethodFill findMethodFill(const char* driver) {
    const MethodFillRegistration* r = findMethodRegistration(driver);
    return r ? r->fill : nullptr;
}

}  // namespace xb
