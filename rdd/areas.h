// The table of work areas, the current area and the database layer's start
// and stop events. Slot 0 of the table always mirrors the slot of the
// current area, so that an operation on the current area reads one pointer;
// every writer goes through storeArea/selectArea, which keep it in step.
#pragma once
#include <cstdint>

#include "rdd/rdd_result.h"
#include "vm/item.h"

namespace xb {

struct WorkArea;

constexpr uint16_t AREA_COUNT = 255;

// The 256 slots (null before the start event).
WorkArea** areaTable();
uint16_t currentAreaNumber();
// The area in the current slot, or null (also before the start event).
WorkArea* currentArea();
// The area in slot n (1..255), or null.
WorkArea* areaAt(uint32_t n);
// Stores a (or null) into slot n, and into slot 0 when n is current.
void storeArea(uint16_t n, WorkArea* a);
// Makes n current and returns the previous number. 0 selects the lowest free
// area. 256 or more (alias M in M->(expression)) raises ("BASE", generic
// code 30, subcode 1101, default allowed), no free area ("DBCMD", generic
// code 31, subcode 1101, default allowed); either way the current area stays
// selected and is returned.
uint16_t selectArea(uint32_t n);
// The error selectArea raises: RDD_FAILED after a default, or ST_UNWIND.
uint16_t areaSelectionError(bool noFreeArea);
// The lowest empty slot 1..255, 0 when all are in use.
uint16_t lowestFreeArea();

// Selection by a value: a number gives the area directly; a string that
// begins with a digit (after blanks) is read as a decimal number; a number of
// 256 or more, or a value of any other type, gives 0; any other string is an
// alias, looked up until it is bound ("No existe el alias", 15/1002, retry
// only: any other answer ends the program). Status: 0 with *area set;
// ST_UNWIND when the handler unwound, or when TYPE examines the expression.
uint16_t areaOfValue(const Item* value, uint16_t* area);

// Closes and releases area a (close, then release, through its table).
// Refused while one of a's operations evaluates a block (the operation still
// uses the record): status RDD_FAILED after raising generic code 30 through
// the area's error operation. Otherwise the status of close or release.
RddResult closeAndRelease(WorkArea* a);

// EVENT_START: allocates the table (once), selects area 1, switches
// exclusiveOpen on, clears the default driver and installs the field access
// of the virtual machine. EVENT_STOP: closes and releases every area,
// releases every driver, frees the table and the default driver's name and
// uninstalls the field access.
void databaseEvent(uint16_t code);

}  // namespace xb
