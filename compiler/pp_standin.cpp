// A minimal preprocessor until the full one arrives: Windows-1252 text,
// comments blanked, ';' continuation joined, no directives.
#include <cstdint>

#include "pp/preprocess.h"

namespace xb::pp {

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F (0 where the byte is unused).
constexpr uint16_t kHigh[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
                                0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

// Valid UTF-8 with at least one non-ASCII byte: converted; else unchanged.
std::string toWindows1252(const std::string& in) {
    std::string out;
    bool nonAscii = false;
    for (size_t i = 0; i < in.size();) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            out += char(c);
            ++i;
            continue;
        }
        nonAscii = true;
        int n = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (n < 0) return in;
        uint32_t cp = c & (n == 1 ? 0x1F : n == 2 ? 0x0F : 0x07);
        for (int k = 1; k <= n; ++k) {
            if (i + size_t(k) >= in.size()) return in;
            unsigned char d = static_cast<unsigned char>(in[i + size_t(k)]);
            if ((d & 0xC0) != 0x80) return in;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return in;  // overlong or out of range: not UTF-8
        i += size_t(n) + 1;
        if (cp >= 0xA0 && cp <= 0xFF) {
            out += char(cp);
            continue;
        }
        char b = '?';
        for (int k = 0; k < 32; ++k)
            if (kHigh[k] == cp) b = char(0x80 + k);
        out += b;
    }
    return nonAscii ? out : in;
}

bool blankLine(const std::string& s) {
    for (char c : s)
        if (c != ' ' && c != '\t') return false;
    return true;
}

}  // namespace

bool preprocess(const std::string& text, const std::string& fileName, const Options&, std::vector<Line>* out,
                std::vector<Diagnostic>*) {
    std::string src = toWindows1252(text);
    // Physical lines.
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < src.size(); ++i) {
        char c = src[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < src.size() && src[i + 1] == '\n') ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);

    bool inBlock = false;  // inside /* */
    Line pending;
    bool havePending = false;
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string s = lines[n];
        char quote = 0;
        bool statementStart = !havePending;
        for (size_t i = 0; i < s.size(); ++i) {
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
            if (c == ' ' || c == '\t') continue;
            bool first = statementStart;
            statementStart = false;
            if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
                s[i] = s[i + 1] = ' ';
                ++i;
                inBlock = true;
                statementStart = first;
            } else if ((c == '/' && i + 1 < s.size() && s[i + 1] == '/') ||
                       (c == '&' && i + 1 < s.size() && s[i + 1] == '&') || (first && c == '*')) {
                for (size_t k = i; k < s.size(); ++k) s[k] = ' ';
                break;
            } else if (first && (c == 'N' || c == 'n') && s.size() >= i + 4) {
                std::string w = s.substr(i, 4);
                for (char& x : w) x = char(x >= 'a' && x <= 'z' ? x - 32 : x);
                bool end = i + 4 == s.size() || s[i + 4] == ' ' || s[i + 4] == '\t';
                if (w == "NOTE" && end) {
                    for (size_t k = i; k < s.size(); ++k) s[k] = ' ';
                    break;
                }
            } else if (c == ';') {
                statementStart = true;
            }
        }
        // A ';' ending the line continues the statement on the next line.
        size_t last = s.find_last_not_of(" \t");
        bool continues = last != std::string::npos && s[last] == ';' && !quote;
        if (continues) s[last] = ' ';
        if (!havePending) {
            pending = Line{fileName, int(n) + 1, s, false};
            havePending = true;
        } else {
            pending.text += " " + s;
        }
        if (!continues) {
            if (!blankLine(pending.text)) out->push_back(pending);
            havePending = false;
        }
    }
    if (havePending && !blankLine(pending.text)) out->push_back(pending);
    return true;
}

}  // namespace xb::pp
