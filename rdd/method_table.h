// A driver's method table: 92 operations reached by slot number, and the
// typed ways to fill and call them. The slot list lives in rdd/methods.def.
//
// Calling: rdd::skip(area, 1) calls the skip operation of the area's own table
// (so a child driver's override is honoured). A driver calls its parent's
// implementation with rddCallVia<RDD_SKIP>(&parentTable, area, 1).
//
// Filling: rddSetSlot<RDD_SKIP>(table, mySkip) checks the signature at
// compile time. A slot is never null in a resolved table: the default layer
// (rdd/default_methods.h) fills every slot, and a driver's table starts as a
// copy of its parent's.
//
// Where the operations come from: the generic table (driver name "") and each
// driver register a fill function that writes the slots they implement, and
// a driver may register the table in which it keeps its parent's resolved
// table. A driver's GETFUNCTABLE copies its parent's resolved table, keeps
// that copy as the parent table, and then runs its own fill, so a driver that
// registers nothing inherits everything.
#pragma once
#include <cstdint>

#include "rdd/rdd_result.h"
#include "vm/item.h"
#include "vm/target.h"

namespace xb {

struct WorkArea;
struct FieldDefinition;
struct OpenInfo;
struct ScopeInfo;
struct SortInfo;
struct TransferInfo;
struct RelationRecord;
struct LockInfo;
struct ErrorDescriptor;
// The order records belong to the index driver, which defines them.
struct OrderInfo;
struct OrderCondition;
struct OrderCreateInfo;

enum RddSlot : uint16_t {
#define RDD_METHOD(n, ENUM, name, params, args) RDD_##ENUM = n,
#include "rdd/methods.def"
#undef RDD_METHOD
    RDD_METHOD_COUNT = 92
};

// One slot, stored type-erased; rddCallVia casts it back to its signature.
using RddMethod = void (*)();
struct RddMethodTable {
    RddMethod slot[RDD_METHOD_COUNT];
};
#if XB_TARGET_64
static_assert(sizeof(RddMethodTable) == RDD_METHOD_COUNT * 8, "92 slots of 8 bytes on x86_64");
#else
static_assert(sizeof(RddMethodTable) == RDD_METHOD_COUNT * 4, "92 slots of 4 bytes");
#endif

// The signature of each slot: RddSlotType<RDD_SKIP>::Fn.
template <uint16_t N>
struct RddSlotType;
#define RDD_METHOD(n, ENUM, name, params, args) \
    template <>                                 \
    struct RddSlotType<n> {                     \
        using Fn = RddResult(*) params;          \
    };
#include "rdd/methods.def"
#undef RDD_METHOD

template <uint16_t N>
inline void rddSetSlot(RddMethodTable* table, typename RddSlotType<N>::Fn f) {
    table->slot[N] = reinterpret_cast<RddMethod>(f);
}
template <uint16_t N>
inline typename RddSlotType<N>::Fn rddSlot(const RddMethodTable* table) {
    return reinterpret_cast<typename RddSlotType<N>::Fn>(table->slot[N]);
}
template <uint16_t N, class... A>
inline RddResult rddCallVia(const RddMethodTable* table, A... args) {
    return rddSlot<N>(table)(args...);
}

// The operation's name for diagnostics ("skip"); "unusedNN" for the slots no
// operation uses; null for a number of 92 or more.
const char* rddSlotName(uint32_t slot);

// The typed wrappers: rdd::goTop(area), rdd::getValue(area, 0, &item)...
// They call through the area's own table, its first field.
inline RddMethodTable* rddMethodsOf(const WorkArea* area) {
    return *reinterpret_cast<RddMethodTable* const*>(area);
}
namespace rdd {
#define RDD_METHOD(n, ENUM, name, params, args) \
    inline RddResult name params { return rddSlot<n>(rddMethodsOf(a)) args; }
#include "rdd/methods.def"
#undef RDD_METHOD
}  // namespace rdd

// ---- driver registration (the drivers' fill functions)

using MethodFill = void (*)(RddMethodTable* table);
struct MethodFillRegistration {
    const char* driver;
    MethodFill fill;
    RddMethodTable* parentTable;  // where the driver keeps its parent's table, or null
    MethodFillRegistration* next;
    MethodFillRegistration(const char* driverName, MethodFill f, RddMethodTable* parent = nullptr);
};
// The fill registered for driver ("" for the generic table), or null.
MethodFill findMethodFill(const char* driver);
// The registration of driver, or null.
const MethodFillRegistration* findMethodRegistration(const char* driver);

}  // namespace xb
