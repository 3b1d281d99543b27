#include "lib/text_wrap.h"

namespace xb {

WrapLayout wrapLayout(int32_t width, int32_t tab, bool wordWrap) {
    WrapLayout l{};
    l.width = width < 1 ? 79u : width > 65535 ? 65535u : uint32_t(width);
    l.tab = tab < 1 ? 1u : uint32_t(tab) > l.width ? l.width : uint32_t(tab);
    l.wordWrap = wordWrap;
    return l;
}

bool nextWrappedLine(TextWrap* w, const WrapLayout& layout, std::string* out) {
    out->clear();
    if (w->pos >= w->length) return false;
    const char* s = w->text;
    const uint32_t n = w->length;
    size_t blankOut = std::string::npos;  // out's length before the last blank
    uint32_t blankIn = 0;                 // that blank's position in the text
    for (uint32_t i = w->pos;; ++i) {
        if (i >= n) {
            w->pos = n;
            return true;
        }
        uint8_t c = uint8_t(s[i]);
        bool pairEnd = i + 1 < n && s[i + 1] == '\n' && (c == '\r' || c == kSoftReturn);
        if (pairEnd || c == '\n') {
            w->pos = i + (pairEnd ? 2 : 1);
            return true;
        }
        uint32_t cells = c == '\t' ? layout.tab - uint32_t(out->size()) % layout.tab : 1;
        if (out->size() + cells > layout.width) {
            if (layout.wordWrap && (c == ' ' || c == '\t')) {
                w->pos = i + 1;
            } else if (layout.wordWrap && blankOut != std::string::npos) {
                out->resize(blankOut);
                w->pos = blankIn + 1;
            } else if (out->empty()) {
                // one tab wider than what is left: take it as blanks to the end
                out->assign(layout.width, ' ');
                w->pos = i + 1;
            } else {
                w->pos = i;
            }
            return true;
        }
        if (c == ' ' || c == '\t') {
            blankOut = out->size();
            blankIn = i;
        }
        if (c == '\t') out->append(cells, ' ');
        else out->push_back(char(c));
    }
}

}  // namespace xb
