// The driver registry: the drivers RDDREGISTER made known, the driver modules
// linked into the image, and how a driver's method table is obtained from
// its module (loaded on first use, released when the last area lets go).
#pragma once
#include <cstdint>

#include "rdd/method_table.h"

namespace xb {

constexpr uint32_t DRIVER_NAME_MAX = 58;
constexpr uint32_t DRIVER_SLOTS = 32;

// ---- driver modules (the image's built-in list)

using DriverEntryFunction = uint16_t (*)(uint32_t, uint32_t, uint32_t, uint32_t);
using GetFuncTable = uint16_t (*)(uint16_t* count, RddMethodTable* table);
using DriverWep = uint16_t (*)(uint16_t);

struct DriverExport {
    const uint8_t* name;  // length byte, then the characters (upper case)
    void (*function)();
};
struct DriverModule {
    const uint8_t* name;  // length-prefixed; a record without a name is skipped
    DriverEntryFunction entry;
    uint16_t exportCount;
    DriverExport exports[2];
};
// The records of the image, in order; *count receives their number.
const DriverModule* driverModules(uint32_t* count);
// Further modules (tests, extensions), searched after the image's own: at
// most 8; false when full. The record must outlive its registration.
bool addDriverModule(const DriverModule* module);
void removeDriverModule(const DriverModule* module);

// The body of a driver's GETFUNCTABLE: sets *count to 92; with a table,
// copies the parent's resolved table (the default layer when parent is
// null) into it and into parentCopy, where the driver keeps it for its parent
// calls, then lets fill write the driver's own slots. 0, or 8 when the
// parent cannot be had.
uint16_t inheritDriverTable(uint16_t* count, RddMethodTable* table, const char* parent,
                            RddMethodTable* parentCopy, MethodFill fill);

// ---- the registry

struct DriverEntry {
    char name[60];  // normalised, NUL-terminated
    uint16_t kind;  // RDDREGISTER's second argument; 255 hides it from the list
    const DriverModule* module;
    uint16_t useCount;
    RddMethodTable* methods;
};
struct DriverRegistry {
    DriverEntry entries[DRIVER_SLOTS];
    int8_t count;
};
DriverRegistry& driverRegistry();

// Trailing blanks cut, at most 58 characters, a-z raised. out holds 60 bytes.
void normaliseDriverName(const char* name, uint32_t length, char* out);
// The module of that name (case-insensitive) that exports GETFUNCTABLE first.
const DriverModule* findDriverModule(const char* name);

// RDDREGISTER's work for a checked name: true when the name is registered
// afterwards (false only when the registry is full).
bool registerDriver(const char* name, uint16_t kind);

enum FindDriverResult : uint16_t {
    FD_FOUND = 0, FD_NOT_REGISTERED = 1, FD_NO_MODULE = 4, FD_NO_GETFUNCTABLE = 5, FD_TABLE_FAILED = 6
};
// Finds the entry, loading its module and building its table when needed.
uint16_t findDriver(const char* name, DriverEntry** entry);
// findDriver and one more use; null when the driver cannot be had.
RddMethodTable* acquireDriver(const char* name);
// One use less; at none the module is released (its WEP) and the table freed.
void releaseDriver(RddMethodTable* methods);
// The same by name, for a driver whose table exists (nothing is loaded).
void releaseDriverNamed(const char* name);
// Copies the resolved table of parent (acquiring it) or, without a parent,
// the generic table. 0, or non-zero when the parent cannot be had.
uint16_t copyDriverTable(RddMethodTable* destination, const char* parent);

// The stored default (RDDSETDEFAULT), else "DBFNTX", which must then be
// registered with kind 1 (fatal error 9006 otherwise). out holds 60 bytes.
void defaultDriverName(char* out);
const char* storedDefaultDriver();  // "" when none was set
void setDefaultDriver(const char* normalisedName);
void clearDefaultDriver();

// Shutdown: releases every driver that is still in use.
void releaseAllDrivers();
// Forgets every registration (tests).
void resetDriverRegistry();

}  // namespace xb
