// The numeric width rule: a number Item whose width is 0 gets the width (and,
// under the fixedFormat setting, the decimals) it is shown with. STR, VAL,
// TRANSFORM and the display conversion shape their numbers this way.
#pragma once
#include "base/numfmt.h"
#include "vm/item.h"

namespace xb {

// The fixedFormat and decimals settings as the number formatter takes them.
NumberSettings currentNumberSettings();

// The width and decimals the rule gives an Integer or Double Item (Integers
// take their decimals from the settings: the decimals setting under
// fixedFormat, else 0). Other types give {0, 0}.
NumberShape normalizedShape(const Item* it);

// Applies the rule and stores the width and decimals in the Item. Items
// that are not Integer or Double are left alone.
void normalizeNumeric(Item* it);

}  // namespace xb
