// What the database functions share: the current area or the empty-area
// error, and how a method's status becomes a native function's result.
#pragma once
#include "rdd/rdd_result.h"
#include <cstdint>

#include "rdd/workarea.h"

namespace xb {

// The current area; without one raises "Area de trabajo no usada" (35,
// subsystem "DBCMD", subcode 2001, flags 4, the running function as
// operation) and returns null. *status receives ST_UNWIND when the handler
// unwound, else 0.
WorkArea* areaOrError(uint16_t* status);

// A method's status as the native's own: the functions discard failures
// (the method reported them), only an unwinding goes on.
inline uint16_t nativeStatus(uint16_t r) { return r == 0xFFFF ? r : 0; }
inline uint16_t nativeStatus(RddResult r) { return nativeStatus(rddStatusWord(r)); }
// The same for a function without a result: the return Item becomes NIL
// again (an error handler's answer may have been left in it).
uint16_t noResult(uint16_t r);
inline uint16_t noResult(RddResult r) { return noResult(rddStatusWord(r)); }

// Reads an Item into a string Item, or "" (FIELDNAME, ALIAS, DBFILTER...).
void retText(const char* text);

// A new area record: zeroed, of the size the driver's structSize asks for
// (at least a WorkArea), its methods set; memAlloc'd, the caller's.
WorkArea* newAreaRecord(RddMethodTable* methods);

// A scratch area record for asking a driver about itself without a table
// (structSize, info 9): zeroed, its methods set, freed with freeScratchArea.
WorkArea* scratchArea(RddMethodTable* methods);
void freeScratchArea(WorkArea* a);

}  // namespace xb
