// Dates for native library code: a date Item from the compact YYYYMMDD form
// and the compact form of a date Item (the form DBF date fields keep).
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

// Makes *out a Date Item of the compact text (n bytes, need not be
// terminated): the empty date when the text is shorter than 8 bytes or is no
// valid date. Years below 100 take the epoch setting.
void makeDateItem(Item* out, const char* compact, uint32_t n);

// Writes the 8 characters YYYYMMDD of a Date Item into out (eight blanks for
// the empty date) and returns true. Any other Item leaves out unchanged and
// returns false.
bool dateItemCompact(const Item* it, char* out);

}  // namespace xb
