// Field access from the virtual machine: how the variable opcodes reach the
// fields of open tables, and the interface the database layer implements.
//
// For the database layer:
//
// * Binding. When a table opens in area n, push each of its FieldDescriptors
//   onto the front of its name's chain (GlobalSymbol::fieldChain, linked
//   through FieldDescriptor::next) with `area` = n; on close unlink them again.
//   The machine takes the first descriptor of the chain whose `area` is the
//   one it wants (the current area, or the area an alias selected), so a name
//   open in several areas resolves by area, never by order of opening.
//
// * FieldAccess. Install a table of the functions below with
//   setFieldAccess() when the database layer starts (and restore the
//   default with setFieldAccess(nullptr) when it stops). Every function that
//   returns uint16_t returns a handler status word: 0 done, ST_UNWIND (the
//   driver's error handling unwound), or an error word that the interpreter
//   raises. The machine calls them only with a descriptor found on a chain.
//     currentArea()                  the current work-area number (1 at start)
//     areaExists(area)               the area table holds an area in that slot;
//                                    false for a bound descriptor is fatal 1101
//     fieldPosition(area, d)         d's 0-based position in the area's
//                                    descriptor array
//     getValue(area, pos, out)       fills *out, which the machine pushed
//                                    already shaped after the descriptor (see
//                                    pushField); on non-zero the machine pops it
//     getVarLen(area, pos, &len)     length of a memo value before it is read
//     putValue(area, pos, value)     stores *value (the top Item); the machine
//                                    pops it on 0 and leaves it otherwise
//     selectArea(area)               makes area current, returns the previous
//                                    number; 0 selects the lowest free area;
//                                    256 or more, or no free area, is fatal 1101
//
// With no database layer installed the default table answers for an empty
// area table: current area 1, no area exists, selection only moves the
// current number.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/item.h"

namespace xb {

struct GlobalSymbol;

// One field of an open table, as the database layer describes it.
struct FieldDescriptor {
    uint16_t type;      // Item type of the values: String, Memo, Double, Integer, Date, Logical
    uint16_t subtype;   // copied from the field definition ('F' or 0); not used here
    uint16_t length;    // display width / string length
    uint16_t decimals;
    uint16_t area;      // work-area number the field belongs to
    uint16_t pad;
    GlobalSymbol* symbol;   // the field name
    FieldDescriptor* next;  // next descriptor of the same name in another area
};
#if XB_TARGET_64
static_assert(sizeof(FieldDescriptor) == 32 && offsetof(FieldDescriptor, symbol) == 16 &&
                  offsetof(FieldDescriptor, next) == 24,
              "FieldDescriptor layout on x86_64");
#else
static_assert(sizeof(FieldDescriptor) == 20 && offsetof(FieldDescriptor, symbol) == 12 &&
                  offsetof(FieldDescriptor, next) == 16,
              "FieldDescriptor layout on i386");
#endif

struct FieldAccess {
    uint16_t (*currentArea)();
    bool (*areaExists)(uint16_t area);
    uint32_t (*fieldPosition)(uint16_t area, const FieldDescriptor* d);
    uint16_t (*getValue)(uint16_t area, uint32_t pos, Item* out);
    uint16_t (*getVarLen)(uint16_t area, uint32_t pos, uint32_t* length);
    uint16_t (*putValue)(uint16_t area, uint32_t pos, Item* value);
    uint16_t (*selectArea)(uint16_t area);
};

// The table in force (never null). setFieldAccess(nullptr) restores the default.
const FieldAccess* fieldAccess();
void setFieldAccess(const FieldAccess* access);

// The first descriptor of the symbol's chain that belongs to area, or null.
FieldDescriptor* findField(const GlobalSymbol* symbol, uint16_t area);

// Reads the field d into a new top Item / stores the top into it; status words.
uint16_t pushField(const FieldDescriptor* d);
uint16_t popField(const FieldDescriptor* d);

// Waits until the symbol names a field of area, raising the missing-variable
// error between looks. AREA_CURRENT asks the current area again each time
// (the error block may select another one).
constexpr int32_t AREA_CURRENT = -1;
uint16_t waitForField(const GlobalSymbol* symbol, int32_t area, FieldDescriptor** found);

// The work-area number an Item designates: an Alias gives its number, an
// Integer its value (0xFFFF when outside 0..65535), anything else 0.
uint16_t areaOfItem(const Item* it);

}  // namespace xb
