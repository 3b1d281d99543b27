#include "tools/asm/lexer.h"

#include <cstdio>

namespace xb::pcasm {

namespace {

bool isBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r'; }
bool isControl(uint8_t c) { return (c < 0x20 && !isBlank(c)) || c == 0x7F; }

int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string controlMessage(uint8_t c) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "control character 0x%02X", c);
    return buf;
}

// Decodes the string starting at line[*i] (the opening quote); leaves *i
// after the closing quote.
bool readString(const uint8_t* line, size_t n, size_t* i, std::string* text, std::string* why) {
    size_t k = *i + 1;
    for (;;) {
        if (k >= n) {
            *why = "unterminated string";
            return false;
        }
        uint8_t c = line[k++];
        if (c == '"') break;
        if (isControl(c) || c == '\t' || c == '\r') {
            *why = controlMessage(c) + " in a string (write it as an escape)";
            return false;
        }
        if (c != '\\') {
            *text += char(c);
            continue;
        }
        if (k >= n) {
            *why = "unterminated string";
            return false;
        }
        uint8_t e = line[k++];
        switch (e) {
        case 'r': *text += '\r'; break;
        case 'n': *text += '\n'; break;
        case 't': *text += '\t'; break;
        case '\\': *text += '\\'; break;
        case '"': *text += '"'; break;
        case 'x': {
            int hi = k < n ? hexValue(line[k]) : -1;
            int lo = k + 1 < n ? hexValue(line[k + 1]) : -1;
            if (hi < 0 || lo < 0) {
                *why = "\\x needs two hex digits";
                return false;
            }
            *text += char(hi << 4 | lo);
            k += 2;
            break;
        }
        default:
            *why = isControl(e) ? controlMessage(e) + " in a string" : std::string("unknown escape \\") + char(e);
            return false;
        }
    }
    *i = k;
    return true;
}

}  // namespace

bool tokenizeLine(const char* text, size_t n, std::vector<Token>* out, std::string* why) {
    const auto* line = reinterpret_cast<const uint8_t*>(text);
    out->clear();
    size_t i = 0;
    while (i < n) {
        uint8_t c = line[i];
        if (isBlank(c)) {
            ++i;
        } else if (isControl(c)) {
            *why = controlMessage(c);
            return false;
        } else if (c == ';') {
            break;
        } else if (c == '{' || c == '}') {
            out->push_back({c == '{' ? TOK_OPEN : TOK_CLOSE, std::string(1, char(c))});
            ++i;
        } else if (c == '"') {
            Token t{TOK_STRING, {}};
            if (!readString(line, n, &i, &t.text, why)) return false;
            if (i < n && !isBlank(line[i]) && line[i] != ';') {
                *why = "a string must be followed by a blank";
                return false;
            }
            out->push_back(std::move(t));
        } else {
            size_t start = i;
            while (i < n && !isBlank(line[i]) && !isControl(line[i]) && line[i] != ';' && line[i] != '"' &&
                   line[i] != '{' && line[i] != '}')
                ++i;
            if (i < n && line[i] == '"') {
                *why = "a quote inside a word";
                return false;
            }
            out->push_back({TOK_WORD, std::string(text + start, i - start)});
        }
    }
    return true;
}

}  // namespace xb::pcasm
