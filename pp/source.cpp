#include "pp/source.h"

#include <cstdint>

namespace xb::pp {
namespace {

// Windows-1252 bytes 0x80..0x9F and the characters they stand for (0 where
// the byte has no character).
const uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char fromCodePoint(uint32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return char(c);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c) return char(0x80 + i);
    return '?';
}

// Decodes one UTF-8 sequence at s[i]; 0 when it is not valid.
size_t decode(const std::string& s, size_t i, uint32_t* cp) {
    auto b = [&](size_t k) { return uint8_t(s[k]); };
    uint8_t c = b(i);
    size_t n;
    uint32_t v;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        v = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10FFFF)) || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return n;
}


}  // namespace

std::string toWindows1252(const std::string& in) {
    std::string text = in;
    if (text.size() >= 3 && uint8_t(text[0]) == 0xEF && uint8_t(text[1]) == 0xBB && uint8_t(text[2]) == 0xBF)
        text.erase(0, 3);
    bool high = false;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        size_t n = decode(text, i, &cp);
        if (n == 0) return text;  // not UTF-8: already single-byte text
        if (n > 1) high = true;
        i += n;
    }
    if (!high) return text;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        size_t n = decode(text, i, &cp);
        out += fromCodePoint(cp);
        i += n;
    }
    return out;
}

std::vector<LogicalLine> logicalLines(const std::string& text) {
    // Physical lines, with comments blanked.
    std::vector<std::string> lines;
    {
        size_t b = 0;
        while (b <= text.size()) {
            size_t e = text.find('\n', b);
            if (e == std::string::npos) e = text.size();
            std::string l = text.substr(b, e - b);
            if (!l.empty() && l.back() == '\r') l.pop_back();
            lines.push_back(l);
            b = e + 1;
        }
        if (!lines.empty() && lines.back().empty()) lines.pop_back();
        // A trailing end-of-file mark (Ctrl-Z) is no text.
        if (!lines.empty() && !lines.back().empty() && lines.back().back() == '\x1A') {
            lines.back().pop_back();
            if (lines.back().empty()) lines.pop_back();
        }
    }
    bool inBlock = false;      // inside /* ... */
    bool continued = false;    // this line continues the one before
    std::vector<bool> continues(lines.size(), false);
    for (size_t li = 0; li < lines.size(); ++li) {
        std::string& s = lines[li];
        size_t i = 0;
        if (!inBlock && !continued) {
            size_t f = s.find_first_not_of(" \t");
            if (f != std::string::npos) {
                bool note = s.size() >= f + 4 && (s[f] == 'n' || s[f] == 'N') && (s[f + 1] == 'o' || s[f + 1] == 'O') &&
                            (s[f + 2] == 't' || s[f + 2] == 'T') && (s[f + 3] == 'e' || s[f + 3] == 'E') &&
                            (s.size() == f + 4 || s[f + 4] == ' ' || s[f + 4] == '\t');
                if (s[f] == '*' || note) {
                    for (size_t k = f; k < s.size(); ++k) s[k] = ' ';
                    i = s.size();
                }
            }
        }
        char quote = 0;
        for (; i < s.size(); ++i) {
            char c = s[i];
            if (inBlock) {
                if (c == '*' && i + 1 < s.size() && s[i + 1] == '/') {
                    s[i] = s[i + 1] = ' ';
                    ++i;
                    inBlock = false;
                } else {
                    s[i] = ' ';
                }
                continue;
            }
            if (quote) {
                if (c == quote) quote = 0;
                continue;
            }
            if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
                s[i] = s[i + 1] = ' ';
                ++i;
                inBlock = true;
            } else if ((c == '/' && i + 1 < s.size() && s[i + 1] == '/') ||
                       (c == '&' && i + 1 < s.size() && s[i + 1] == '&')) {
                for (size_t k = i; k < s.size(); ++k) s[k] = ' ';
                break;
            }
        }
        size_t last = s.find_last_not_of(" \t\r\f");
        continued = last != std::string::npos && s[last] == ';' && !inBlock;
        if (continued) s[last] = ' ';
        continues[li] = continued;
    }
    std::vector<LogicalLine> out;
    for (size_t li = 0; li < lines.size(); ++li) {
        LogicalLine l;
        l.line = int(li + 1);
        l.text = lines[li];
        while (continues[li] && li + 1 < lines.size()) {
            ++li;
            l.text += lines[li];
        }
        out.push_back(std::move(l));
    }
    return out;
}

}  // namespace xb::pp
