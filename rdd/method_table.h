// A driver's method table: 92 operations reached by slot number. Each slot's
// signature is fixed by its number (the operations take the work area first);
// the table itself only holds them.
//
// Where the operations come from: the generic table (driver name "") and
// each driver register a fill function that writes the slots they implement.
// A driver's GETFUNCTABLE copies its parent's resolved table and then runs
// its own fill, so a driver that registers nothing inherits everything.
#pragma once
#include <cstdint>

#include "vm/target.h"

namespace xb {

constexpr uint16_t RDD_METHOD_COUNT = 92;
constexpr uint16_t RDD_CLOSE = 34;
constexpr uint16_t RDD_RELEASE = 39;

using RddMethod = void (*)();
struct RddMethodTable {
    RddMethod slot[RDD_METHOD_COUNT];
};
#if XB_TARGET_64
static_assert(sizeof(RddMethodTable) == RDD_METHOD_COUNT * 8, "92 slots of 8 bytes on x86_64");
#else
static_assert(sizeof(RddMethodTable) == RDD_METHOD_COUNT * 4, "92 slots of 4 bytes");
#endif

using MethodFill = void (*)(RddMethodTable* table);
struct MethodFillRegistration {
    const char* driver;
    MethodFill fill;
    MethodFillRegistration* next;
    MethodFillRegistration(const char* driverName, MethodFill f);
};
// The fill registered for driver ("" for the generic table), or null.
MethodFill findMethodFill(const char* driver);

}  // namespace xb
