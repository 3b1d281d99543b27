// Laying out a text in lines of a fixed width, as MEMOLINE and MLCOUNT see
// it: hard line ends (13, 10), soft ones (141, 10) and a lone 10 end a line;
// a line longer than the width is broken after its last blank that fits
// (the blank is dropped), or at the width when it has none or when word
// wrapping is off; tabs advance to the next multiple of the tab size.
#pragma once
#include <cstdint>
#include <string>

namespace xb {

constexpr uint8_t kSoftReturn = 141;

struct WrapLayout {
    uint32_t width;  // 1..65535
    uint32_t tab;    // 1..width
    bool wordWrap;
};
// Holds out-of-range requests to the limits above (width 79 when below 1).
WrapLayout wrapLayout(int32_t width, int32_t tab, bool wordWrap);

struct TextWrap {
    const char* text;
    uint32_t length;
    uint32_t pos;  // where the next line starts
};
// The next line into *out (tabs expanded, no padding); false at the end.
bool nextWrappedLine(TextWrap* w, const WrapLayout& layout, std::string* out);

}  // namespace xb
