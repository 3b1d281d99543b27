#include "runtime/display.h"

#include <cstring>

#include "base/dates.h"
#include "base/numfmt.h"
#include "vm/settings.h"

namespace xb {

namespace {

// Numbers are as wide as their 16-bit width field allows.
char displayBuffer[kMaxNumberWidth + 1];

DisplayText fixed(const char* text) { return {text, uint32_t(std::strlen(text))}; }

DisplayText number(const Item* it) {
    const bool isInteger = it->type != T_DOUBLE;
    const double value = isInteger ? double(it->v.l) : it->v.d;
    NumberShape shape{it->width, uint16_t(isInteger ? 0 : it->decimals)};
    const NumberSettings settings{settingFixedFormat(), settingDecimals()};
    if (settings.fixedFormat || shape.width == 0)
        shape = defaultShape(isInteger, value, shape.width, shape.decimals, settings);
    if (isInteger) formatInteger(it->v.l, shape.width, shape.decimals, displayBuffer);
    else formatNumber(value, shape.width, shape.decimals, displayBuffer);
    return {displayBuffer, shape.width};
}

}  // namespace

DisplayText displayText(const Item* it) {
    switch (it->type) {
    case T_NIL: return fixed("NIL");
    case T_LOGICAL: return fixed(it->v.l ? ".T." : ".F.");
    case T_DATE: {
        size_t n = dateFormat(it->v.l, settingDateFormat(), displayBuffer);
        return {displayBuffer, uint32_t(n)};
    }
    case T_INTEGER:
    case T_DOUBLE: return number(it);
    // a Word item (type 1) is an internal value, not a number: like every
    // other type without a text of its own it shows as the empty text
    default:
        if (isString(it)) return {strData(it), strLength(it)};
        return {"", 0};
    }
}

}  // namespace xb
