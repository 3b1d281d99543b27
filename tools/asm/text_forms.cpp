#include "tools/asm/text_forms.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace xb::pcasm {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

constexpr int64_t INTEGER_LIMIT = int64_t(1) << 40;

}  // namespace

bool parseInteger(const std::string& text, int64_t* value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    int64_t v = 0;
    if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        for (i += 2; i < text.size(); ++i) {
            int d = hexDigit(text[i]);
            if (d < 0) return false;
            v = v * 16 + d;
            if (v > INTEGER_LIMIT) return false;
        }
    } else {
        for (; i < text.size(); ++i) {
            if (!isDigit(text[i])) return false;
            v = v * 10 + (text[i] - '0');
            if (v > INTEGER_LIMIT) return false;
        }
    }
    *value = negative ? -v : v;
    return true;
}

bool parseDouble(const std::string& text, uint8_t bits[8]) {
    if (text.size() == 18 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t b = 0;
        for (size_t i = 2; i < 18; ++i) {
            int d = hexDigit(text[i]);
            if (d < 0) return false;
            b = b << 4 | uint64_t(d);
        }
        std::memcpy(bits, &b, 8);
        return true;
    }
    // Check the shape ourselves: strtod would also take hex floats, "inf",
    // "nan" and leading blanks.
    size_t i = 0, digits = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        size_t exp = 0;
        while (i < text.size() && isDigit(text[i])) ++i, ++exp;
        if (exp == 0) return false;
    }
    if (i != text.size()) return false;
    double d = std::strtod(text.c_str(), nullptr);
    std::memcpy(bits, &d, 8);
    return true;
}

std::string formatDouble(const uint8_t bits[8]) {
    double d;
    std::memcpy(&d, bits, 8);
    char buf[40];
    if (!std::isfinite(d)) {
        uint64_t b;
        std::memcpy(&b, bits, 8);
        std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(b));
        return buf;
    }
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, d);
        double back = std::strtod(buf, nullptr);
        if (std::memcmp(&back, bits, 8) == 0) break;
    }
    return buf;
}

void appendQuoted(std::string& out, const uint8_t* bytes, size_t n) {
    static const char hex[] = "0123456789ABCDEF";
    out += '"';
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = bytes[i];
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += char(c);
            } else {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
    }
    out += '"';
}

}  // namespace xb::pcasm
