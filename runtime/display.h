// The display conversion: how the console and error output show a value.
// NIL is "NIL", logicals ".T." / ".F.", dates in the date format, numbers
// by the number formatter after the default width rule, texts as they are;
// any other type is the empty text.
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

struct DisplayText {
    const char* text;  // a text's own bytes, or the process-wide display buffer
    uint32_t length;
};

// Valid until the next conversion (or, for a text, while the value lives).
DisplayText displayText(const Item* it);

}  // namespace xb
