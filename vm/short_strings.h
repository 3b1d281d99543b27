// The Strings of no byte and of one byte, built once and shared: SUBSTR(s,
// i, 1), CHR(n) and the like then take no allocation, and a large array of
// single characters costs its elements only. Strings are values (no
// operation writes into the bytes of an existing String), so sharing one
// object among any number of Items is invisible to programs.
//
// The shared objects are permanent (the collector never marks or frees
// them) and are not counted as live objects; their cells count as bytes in
// use from shortStringsInit to shortStringsDrop.
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

// Builds the 257 shared Strings (at start-up; a second call does nothing).
void shortStringsInit();
// Frees them (at teardown); makeString allocates as before afterwards.
void shortStringsDrop();
// The shared String holding bytes[0..n) when n <= 1 and the table is
// built; null otherwise.
ObjectBody* sharedShortString(const char* bytes, uint32_t n);

}  // namespace xb
