// The table of work areas and the database layer's start and stop events.
// Slot 0 of the table always mirrors the slot of the current area, so that
// an operation on the current area reads one pointer.
#pragma once
#include <cstdint>

namespace xb {

struct WorkArea;  // every driver's area record starts with its method table

constexpr uint16_t AREA_COUNT = 255;

// The 256 slots (null before the start event).
WorkArea** areaTable();
uint16_t currentAreaNumber();

// EVENT_START: allocates the table (once), switches exclusiveOpen on and
// clears the default driver. EVENT_STOP: closes and releases every area,
// releases every driver, frees the table and the default driver's name.
void databaseEvent(uint16_t code);

}  // namespace xb
