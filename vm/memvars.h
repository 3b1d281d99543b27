// Memory variables: the process-wide table of public and private variables,
// found by name through GlobalSymbol::memvarSlot (0 = no variable).
//
// The table has 65,535 value slots numbered 1..65,535. Publics take slots
// from 1 upward and live until the end of the run; privates take slots from
// 65,535 downward, each recorded on the private stack with the slot its name
// had before and the frame that made it, and are undone when that frame
// returns. A name has one slot at a time: a new private hides the older
// variable of the same name until its frame returns.
//
// The table is created at the first use of any memory variable; creating it
// installs the collector's memvar roots (gcMarkMemvarRoots), the resolver of
// MemvarRefs (memvarSlotItem) and the call sequence's releasePrivatesHook.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/item.h"

namespace xb {

struct GlobalSymbol;

constexpr uint32_t MEMVAR_SLOTS = 65535;

// One entry of the private stack (12 bytes on i386, 16 on x86_64).
struct PrivateEntry {
    uint16_t savedSlot;     // the name's slot before this private hid it
    uint16_t pad;
    uint32_t frame;         // EvalStack slot of the frame that created it
    GlobalSymbol* symbol;
};
#if XB_TARGET_64
static_assert(sizeof(PrivateEntry) == 16 && offsetof(PrivateEntry, symbol) == 8, "private stack entry on x86_64");
#else
static_assert(sizeof(PrivateEntry) == 12 && offsetof(PrivateEntry, symbol) == 8, "private stack entry is 12 bytes");
#endif

struct MemvarTable {
    Item* values;            // MEMVAR_SLOTS Items; slot n is values[n - 1]
    int32_t publicCount;     // slots 1..publicCount are publics
    int32_t nextPrivate;     // the next private takes slot nextPrivate + 1 (starts at 65,534)
    PrivateEntry* privates;  // MEMVAR_SLOTS entries
    uint32_t privateDepth;
};

// The table, or null before the first memory variable.
MemvarTable* memvarTable();
// The Item of a slot (1..65,535); null for 0 or without a table.
Item* memvarItem(uint16_t slot);

// Creates a private variable (NIL) of the running frame and returns its Item.
// Slots or private stack exhausted: fatal error 669.
Item* newPrivate(GlobalSymbol* symbol);
// Gives the symbol the next public slot, set to false (true for "DADOVIR").
// Slots exhausted: fatal error 669. The caller checks that it has no slot.
Item* newPublic(GlobalSymbol* symbol);
// Undoes the privates created by the running frame and clears FF_PRIVATES.
void releasePrivates();

// Raises the missing-variable error (name, 14, 1003, retry) once; tries is
// the attempt number. 0 when the error block asked to retry, ST_UNWIND when
// it unwound (a refusal ends the program). Fields share it. While TYPE
// examines an expression (FF_QUIET) nothing is raised: the evaluation ends
// (ST_UNWIND, with the call result set).
uint16_t raiseMissingVariable(const GlobalSymbol* symbol, uint16_t tries);
// The same for a name used as an alias that has no work area (name, 15,
// 1002, retry): the alias opcodes and the selection of an area by name.
uint16_t raiseMissingAlias(const GlobalSymbol* symbol, uint16_t tries);

// The opcode services; each returns a handler status word (0 or ST_UNWIND).
// A missing variable raises (name, 14, 1003, retry) until it exists, the
// error block unwinds, or a false answer ends the program.
uint16_t waitForMemvar(GlobalSymbol* symbol);
uint16_t pushMemvar(GlobalSymbol* symbol);
uint16_t popMemvar(GlobalSymbol* symbol);  // creates a private when the name has none
uint16_t pushMemvarRef(GlobalSymbol* symbol);

// Shutdown: forget the publics (so that only what the stack and the privates
// hold survives the final collection), then free the table.
void memvarsDropPublics();
void memvarsFree();

}  // namespace xb
