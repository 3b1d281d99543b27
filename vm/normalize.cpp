#include "vm/normalize.h"

#include "vm/settings.h"

namespace xb {

NumberSettings currentNumberSettings() { return NumberSettings{settingFixedFormat(), settingDecimals()}; }

NumberShape normalizedShape(const Item* it) {
    if (it->type == T_INTEGER)
        return defaultShape(true, double(it->v.l), it->width, 0, currentNumberSettings());
    if (it->type == T_DOUBLE) return defaultShape(false, it->v.d, it->width, it->decimals, currentNumberSettings());
    return NumberShape{0, 0};
}

void normalizeNumeric(Item* it) {
    if (it->type != T_INTEGER && it->type != T_DOUBLE) return;
    NumberShape s = normalizedShape(it);
    it->width = s.width;
    it->decimals = s.decimals;
}

}  // namespace xb
