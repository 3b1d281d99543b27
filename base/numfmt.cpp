// Number formatting and parsing; see numfmt.h for the contract of each function.
#include "base/numfmt.h"

#include <cmath>
#include <cstring>

namespace xb {

namespace {

// Up to this many decimals the fraction scaled by 10^d stays below 2^53, so
// the scaled product gives exact digits; beyond, the product's noise would
// show, and the digits come from the exact binary expansion instead.
constexpr uint32_t kScaledDecimals = 15;
constexpr uint32_t kMaxIntegralDigits = 310;  // DBL_MAX has 309 integral digits
constexpr double kTwo52 = 4503599627370496.0;
constexpr double kTwo64 = 18446744073709551616.0;
constexpr uint32_t kLimb = 1000000000u;  // big integers are kept in base 10^9

// Rounds an intermediate result to double precision. The x87 unit keeps
// 64-bit mantissas in its registers, which would make the scaled products
// below (and so the rounding of numbers such as 2.675) differ between builds
// and optimisation levels; going through memory fixes the precision.
double toDouble(double v) {
    volatile double r = v;
    return r;
}

// Writes the exact decimal digits of the integral value v (0 <= v < inf) to
// buf, most significant first, and returns their count (at least 1). Values
// of 2^64 and more are m * 2^k with a 53-bit m: the product is built in
// base-10^9 limbs, shifting by at most 32 bits at a time so that a limb
// times the shift plus the carry stays inside 64 bits.
uint32_t integralDigits(double v, char* buf) {
    char rev[kMaxIntegralDigits];
    uint32_t n = 0;
    if (v < kTwo64) {
        uint64_t u = static_cast<uint64_t>(v);
        do {
            rev[n++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
    } else {
        int exponent = 0;
        const double m = std::frexp(v, &exponent);  // v = m * 2^exponent, 0.5 <= m < 1
        uint64_t mant = static_cast<uint64_t>(std::ldexp(m, 53));
        int shift = exponent - 53;
        uint32_t limbs[40];
        uint32_t count = 0;
        while (mant != 0) {
            limbs[count++] = static_cast<uint32_t>(mant % kLimb);
            mant /= kLimb;
        }
        while (shift > 0) {
            const int s = shift > 32 ? 32 : shift;
            shift -= s;
            uint64_t carry = 0;
            for (uint32_t i = 0; i < count; ++i) {
                const uint64_t t = (static_cast<uint64_t>(limbs[i]) << s) + carry;
                limbs[i] = static_cast<uint32_t>(t % kLimb);
                carry = t / kLimb;
            }
            while (carry != 0) {
                limbs[count++] = static_cast<uint32_t>(carry % kLimb);
                carry /= kLimb;
            }
        }
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t limb = limbs[i];
            const bool top = i + 1 == count;
            for (int k = 0; k < 9 && (!top || limb != 0); ++k) {
                rev[n++] = static_cast<char>('0' + limb % 10);
                limb /= 10;
            }
        }
    }
    for (uint32_t i = 0; i < n; ++i) buf[i] = rev[n - 1 - i];
    return n;
}

// Writes the first n decimal digits of the exact fraction r (0 <= r < 1) to
// digits, rounded half away from zero at the last one, and returns whether
// the rounding carried into the integral part. r = M * 2^-k with a 53-bit M
// and k <= 1126 is held as a fixed-point binary fraction in 32-bit limbs
// (most significant first); each multiplication by 10 moves the next digit
// out of the top. The expansion ends after at most k digits; zeros follow.
bool exactFraction(double r, uint32_t n, char* digits) {
    constexpr uint32_t kLimbs = 36;  // 1152 bits
    uint32_t frac[kLimbs] = {};
    bool nonZero = r > 0;
    if (nonZero) {
        int exponent = 0;
        const double m = std::frexp(r, &exponent);  // r = m * 2^exponent, exponent <= 0
        const uint64_t mant = static_cast<uint64_t>(std::ldexp(m, 53));
        const int k = 53 - exponent;                  // r = mant * 2^-k
        for (int b = 0; b < 53; ++b) {
            if (!((mant >> b) & 1u)) continue;
            const int bit = k - b;  // the bit of weight 2^-bit, 1-based from the point
            frac[(bit - 1) / 32] |= 1u << (31 - (bit - 1) % 32);
        }
    }
    uint32_t i = 0;
    auto nextDigit = [&]() {
        uint64_t carry = 0;
        nonZero = false;
        for (uint32_t l = kLimbs; l-- > 0;) {
            const uint64_t t = static_cast<uint64_t>(frac[l]) * 10 + carry;
            frac[l] = static_cast<uint32_t>(t);
            carry = t >> 32;
            nonZero = nonZero || frac[l] != 0;
        }
        return static_cast<char>('0' + carry);
    };
    for (; i < n && nonZero; ++i) digits[i] = nextDigit();
    std::memset(digits + i, '0', n - i);
    if (!nonZero || nextDigit() < '5') return false;
    for (uint32_t j = n; j-- > 0;) {
        if (digits[j] != '9') {
            ++digits[j];
            return false;
        }
        digits[j] = '0';
    }
    return true;
}

// Half away from zero to an integral value. Magnitudes of 2^52 and more are
// already integral (and adding 0.5 to them would round to the wrong even
// neighbour); the fraction is compared rather than added, so that the double
// just below one half does not round up.
double roundHalfAway(double y) {
    if (!(std::fabs(y) < kTwo52)) return y;
    if (y >= 0) {
        const double lo = std::floor(y);
        return y - lo >= 0.5 ? lo + 1 : lo;
    }
    const double hi = std::ceil(y);
    return hi - y >= 0.5 ? hi - 1 : hi;
}

uint16_t saturate16(uint64_t v) {
    return static_cast<uint16_t>(v > kMaxNumberWidth ? kMaxNumberWidth : v);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double powerOfTen(int32_t e) {
    uint32_t n = e < 0 ? 0u - static_cast<uint32_t>(e) : static_cast<uint32_t>(e);
    double result = 1.0;
    double base = 10.0;
    while (n != 0) {
        if (n & 1u) result = toDouble(result * base);
        n >>= 1;
        if (n != 0) base = toDouble(base * base);
    }
    return e < 0 ? toDouble(1.0 / result) : result;
}

double roundNumber(double x, int32_t decimals) {
    if (x == 0) return 0.0;
    if (decimals > 0) {
        const double scale = powerOfTen(decimals);
        const double y = toDouble(x * scale);
        if (!std::isfinite(y)) return x;  // more decimals than the value has
        return toDouble(roundHalfAway(y) / scale);
    }
    if (decimals < 0) {
        const double scale = powerOfTen(decimals == INT32_MIN ? INT32_MAX : -decimals);
        const double r = roundHalfAway(toDouble(x / scale));
        return r == 0 ? 0.0 : toDouble(r * scale);
    }
    return roundHalfAway(x);
}

void formatNumber(double x, uint32_t width, uint32_t decimals, char* out) {
    if (width == 0) return;
    if (!std::isfinite(x)) {
        std::memset(out, '*', width);
        return;
    }
    bool negative = x < 0;
    const double ax = std::fabs(x);
    double p = std::floor(ax);

    // Fraction digits: up to kScaledDecimals from the scaled product, more
    // from the exact expansion, written straight into their place at the
    // right end of out.
    char scaledDigits[kScaledDecimals];
    const char* fraction = scaledDigits;
    bool fractionZero = true;
    if (decimals <= kScaledDecimals) {
        double f = 0;
        if (ax != p) {  // a fraction implies |x| < 2^52, so nothing here overflows
            const int32_t d = static_cast<int32_t>(decimals);
            const double s = powerOfTen(d + 1);
            const double scaled = toDouble(toDouble(toDouble(ax * s) - toDouble(p * s)) / 10);
            f = std::floor(scaled);
            if (scaled - f >= 0.5) f += 1;
            if (f >= powerOfTen(d)) {
                f = 0;
                p += 1;
            }
        }
        fractionZero = f == 0;
        uint64_t u = static_cast<uint64_t>(f);
        for (uint32_t i = decimals; i-- > 0; u /= 10) scaledDigits[i] = static_cast<char>('0' + u % 10);
    } else {
        if (uint64_t(decimals) + 1 > width) {  // not even room for "0." and the decimals
            std::memset(out, '*', width);
            return;
        }
        char* digits = out + (width - decimals);
        if (exactFraction(ax - p, decimals, digits)) p += 1;
        fraction = digits;
        for (uint32_t i = 0; i < decimals && fractionZero; ++i) fractionZero = digits[i] == '0';
    }
    if (p == 0 && fractionZero) negative = false;  // the sign follows the rounded value

    char intDigits[kMaxIntegralDigits];
    const uint32_t ni = integralDigits(p, intDigits);
    const uint64_t length = uint64_t(negative ? 1 : 0) + ni + (decimals > 0 ? 1ull + decimals : 0);
    if (length > width) {
        std::memset(out, '*', width);
        return;
    }
    uint32_t k = width - static_cast<uint32_t>(length);
    std::memset(out, ' ', k);
    if (negative) out[k++] = '-';
    std::memcpy(out + k, intDigits, ni);
    k += ni;
    if (decimals > 0) {
        out[k++] = '.';
        if (fraction != out + k) std::memcpy(out + k, fraction, decimals);
    }
}

void formatInteger(int32_t n, uint32_t width, uint32_t decimals, char* out) {
    formatNumber(static_cast<double>(n), width, decimals, out);
}

NumberShape defaultShape(bool isInteger, double value, uint16_t width, uint16_t decimals,
                         NumberSettings settings) {
    uint64_t w = width;
    uint64_t d = decimals;
    if (isInteger) {
        d = settings.fixedFormat ? settings.decimals : 0;
        if (w == 0) w = (value > -1e9 && value < 1e9) ? 10 : 20;
    } else {
        if (settings.fixedFormat) {
            if (d > 0 && w > 0) w = w > d + 1 ? w - (d + 1) : 0;
            d = settings.decimals;
        }
        if (w == 0) {
            if (value >= 0 && value < 1e9)
                w = 10;
            else if (value > -1e9 && value < 0)
                w = d + 11;
            else
                w = 20;
        }
    }
    if (d > 0) w += d + 1;
    return NumberShape{saturate16(w), saturate16(d)};
}

double textToNumber(const char* text, uint32_t length) {
    if (length >= 64) return 0.0;
    uint32_t i = 0;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < length && text[i] == '-') {
        negative = true;
        ++i;
    }
    // value = mant * 10^scale; digits past 19 significant ones only scale.
    constexpr uint64_t kKeep = 1000000000000000000ull;
    uint64_t mant = 0;
    int32_t scale = 0;
    for (; i < length && isDigit(text[i]); ++i) {
        if (mant < kKeep)
            mant = mant * 10 + static_cast<uint64_t>(text[i] - '0');
        else
            ++scale;
    }
    if (i < length && text[i] == '.') {
        for (++i; i < length && isDigit(text[i]); ++i) {
            if (mant < kKeep) {
                mant = mant * 10 + static_cast<uint64_t>(text[i] - '0');
                --scale;
            }
        }
    }
    if (mant == 0) return 0.0;
    double v = static_cast<double>(mant);
    v = toDouble(scale < 0 ? v / powerOfTen(-scale) : v * powerOfTen(scale));
    return negative ? -v : v;
}

NumberText textToNumberLayout(const char* text, uint32_t length) {
    NumberText r{textToNumber(text, length), saturate16(length), 0};
    const void* point = length ? std::memchr(text, '.', length) : nullptr;
    if (point != nullptr) {
        const uint32_t at = static_cast<uint32_t>(static_cast<const char*>(point) - text);
        r.decimals = saturate16(length - at - 1);
    }
    return r;
}

ValResult valText(const char* text, uint32_t length) {
    const NumberText t = textToNumberLayout(text, length);
    // Fewer than 10 characters hold at most 9 digits: the cut value fits.
    if (t.decimals == 0 && length < 10)
        return ValResult{true, static_cast<int32_t>(t.value), 0.0, 10, 0};
    return ValResult{false, 0, t.value, t.width, t.decimals};
}

NumberShape strShape1(double value, bool isInteger, uint16_t width, uint16_t decimals,
                      NumberSettings settings) {
    NumberShape s{width, isInteger ? uint16_t(0) : decimals};
    if (width == 0) {
        s = defaultShape(isInteger, value, width, decimals, settings);
        if (isInteger) s.decimals = 0;
    }
    return s;
}

NumberShape strShape2(int32_t width) {
    return NumberShape{width >= 1 ? saturate16(static_cast<uint64_t>(width)) : uint16_t(10), 0};
}

NumberShape strShape3(int32_t width, int32_t decimals) {
    NumberShape s = strShape2(width);
    uint64_t d = decimals >= 1 ? static_cast<uint64_t>(decimals) : 0;
    if (d + 1 > s.width) d = s.width - 1u;
    s.decimals = static_cast<uint16_t>(d);
    return s;
}

}  // namespace xb
