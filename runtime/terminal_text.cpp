// Windows-1252 texts on a UTF-8 terminal (see terminal_text.h).
#include "runtime/terminal_text.h"

#include <cstring>

#include "platform/environment.h"

namespace xb {

namespace {

// Code points of 0x80..0x9F; 0 marks the bytes Windows-1252 leaves undefined.
const uint16_t HIGH_CONTROLS[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

uint32_t putUtf8(char* out, uint32_t cp) {
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    out[0] = char(0xE0 | (cp >> 12));
    out[1] = char(0x80 | ((cp >> 6) & 0x3F));
    out[2] = char(0x80 | (cp & 0x3F));
    return 3;
}

bool same(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? char(*a - 'A' + 'a') : *a;
        if (x != *b) return false;
    }
    return *a == *b;
}

[[maybe_unused]] bool localeSaysUtf8() {
    char value[256];
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        if (os::environmentValue(name, value, uint32_t(sizeof value)) && value[0]) return localeIsUtf8(value);
    }
    return false;
}

// -1 not decided yet, else 0 / 1
int decided[2] = {-1, -1};

}  // namespace

DisplayMode displayModeFromEnvironment() {
    char value[32];
    if (!os::environmentValue("XB_DISPLAY", value, uint32_t(sizeof value))) return DisplayMode::Automatic;
    if (same(value, "utf8") || same(value, "utf-8")) return DisplayMode::Utf8;
    if (same(value, "raw")) return DisplayMode::Raw;
    return DisplayMode::Automatic;
}

bool localeIsUtf8(const char* value) {
    const char* dot = std::strchr(value, '.');
    if (!dot) return false;
    char charset[32];
    size_t n = 0;
    for (const char* p = dot + 1; *p && *p != '@' && n + 1 < sizeof charset; ++p) charset[n++] = *p;
    charset[n] = 0;
    return same(charset, "utf-8") || same(charset, "utf8");
}

bool convertsForDisplay(os::Handle h) {
    int which = h == os::stdOutput() ? 0 : h == os::stdError() ? 1 : -1;
    if (which < 0) return false;
    if (decided[which] < 0) {
        DisplayMode mode = displayModeFromEnvironment();
        bool on = mode == DisplayMode::Utf8;
#ifndef _WIN32
        if (mode == DisplayMode::Automatic) on = os::isTerminal(h) && localeSaysUtf8();
#endif
        decided[which] = on ? 1 : 0;
    }
    return decided[which] == 1;
}

uint32_t cp1252ToUtf8(const char* text, uint32_t n, char* out) {
    uint32_t w = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t b = uint8_t(text[i]);
        uint32_t cp = b;
        if (b >= 0x80 && b < 0xA0) cp = HIGH_CONTROLS[b - 0x80] ? HIGH_CONTROLS[b - 0x80] : 0xFFFD;
        w += putUtf8(out + w, cp);
    }
    return w;
}

std::string cp1252ToUtf8(const char* text, uint32_t n) {
    std::string out(size_t(n) * 3, '\0');
    out.resize(cp1252ToUtf8(text, n, out.data()));
    return out;
}

std::string utf8ToCp1252(const std::string& text) {
    std::string out;
    size_t i = 0, n = text.size();
    while (i < n) {
        uint8_t b = uint8_t(text[i]);
        uint32_t cp = 0;
        size_t len = 0;
        if (b >= 0xC2 && b <= 0xDF) len = 2, cp = b & 0x1F;
        else if (b >= 0xE0 && b <= 0xEF) len = 3, cp = b & 0x0F;
        else if (b >= 0xF0 && b <= 0xF4) len = 4, cp = b & 0x07;
        bool valid = len > 0 && i + len <= n;
        for (size_t k = 1; valid && k < len; ++k) {
            uint8_t c = uint8_t(text[i + k]);
            if ((c & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!valid) {
            out += char(b);
            ++i;
            continue;
        }
        i += len;
        char byte = '?';
        if (cp >= 0xA0 && cp <= 0xFF) byte = char(cp);
        for (int k = 0; k < 32; ++k)
            if (HIGH_CONTROLS[k] && HIGH_CONTROLS[k] == cp) byte = char(0x80 + k);
        out += byte;
    }
    return out;
}

std::string displayForTerminal(os::Handle h, const std::string& text) {
    if (!convertsForDisplay(h)) return text;
    return cp1252ToUtf8(text.data(), uint32_t(text.size()));
}

}  // namespace xb
