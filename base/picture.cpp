// Picture functions, templates, Merge and TRANSFORM; see picture.h.
#include "base/picture.h"

#include <cstring>

#include "base/casemap.h"
#include "base/dates.h"

namespace xb {

namespace {

constexpr uint32_t kMinOutput = 64;         // smallest picture output buffer
constexpr uint32_t kMaxTemplateWidth = 64;  // widest number a template can ask for
constexpr uint32_t kDateTextMax = 10;       // longest text of a date format

bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

uint32_t maxOf(uint32_t a, uint32_t b) { return a > b ? a : b; }

// What TRANSFORM works out before writing anything; transformBufferSize and
// transform share it so that the size asked for is the size used. Filled in
// place: tpl and v may point into the plan itself.
struct Plan {
    PictureFunctions f;
    PictureKind kind;
    const char* tpl;
    uint32_t tplLen;
    char dateTpl[kDateTextMax + 1];
    const char* v;  // value text (numbers: set by transform once formatted)
    uint32_t n;
    char small[kDateTextMax + 1];  // text of a date or logical value
    int sign;
    double number;  // the number as shown (its magnitude under X, ( and ))
    NumberShape shape;
    uint32_t drop;       // 1 when the "0" before the point is dropped (".99")
    uint32_t capacity;   // output capacity Merge works with
    uint32_t resultMax;  // capacity or scroll width, whichever is larger
    uint32_t total;      // bytes the caller's buffer must hold
};

uint32_t countPlaceholders(PictureKind kind, const char* p, uint32_t m) {
    uint32_t count = 0;
    for (uint32_t i = 0; i < m; ++i) count += isPlaceholder(kind, static_cast<uint8_t>(p[i]));
    return count;
}

void planNumber(const TransformValue& value, const TransformContext& ctx, Plan* pl) {
    double x = value.number;
    const uint16_t decimals = value.isInteger ? 0 : value.decimals;
    NumberShape shape{value.width, decimals};
    if (ctx.numbers.fixedFormat || value.width == 0)
        shape = defaultShape(false, x, value.width, decimals, ctx.numbers);
    pl->sign = x < 0 ? -1 : (x > 0 ? 1 : 0);
    if (pl->sign < 0 && (pl->f.debit || pl->f.parenthesesLeft || pl->f.parenthesesRight)) x = -x;
    pl->number = x;
    pl->drop = 0;
    if (pl->tplLen > 0) {
        const char* point = static_cast<const char*>(std::memchr(pl->tpl, '.', pl->tplLen));
        const uint32_t before = point ? static_cast<uint32_t>(point - pl->tpl) : pl->tplLen;
        const uint32_t whole = countPlaceholders(PictureKind::Number, pl->tpl, before);
        const uint32_t d =
            point ? countPlaceholders(PictureKind::Number, point + 1, pl->tplLen - before - 1) : 0;
        uint64_t w = uint64_t(whole) + (d > 0 ? uint64_t(d) + 1 : 0);
        if (w > kMaxTemplateWidth) w = kMaxTemplateWidth;
        // More decimals than the capped width only ever give asterisks.
        shape = NumberShape{static_cast<uint16_t>(w), static_cast<uint16_t>(d > w ? w : d)};
        if (uint64_t(d) + 1 == w && x >= 0 && x < 1) pl->drop = 1;
    }
    pl->shape = shape;
    pl->v = nullptr;
    pl->n = shape.width;
}

// Returns false for a NIL value (nothing to plan: the result is empty).
bool makePlan(const TransformValue& value, const char* pic, uint32_t picLen,
              const TransformContext& ctx, Plan* pl) {
    if (pic == nullptr) picLen = 0;
    const uint32_t start = readPictureFunctions(pic, picLen, &pl->f);
    pl->tpl = pic + start;
    pl->tplLen = picLen - start;
    switch (value.kind) {
        case ValueKind::Number: pl->kind = PictureKind::Number; break;
        case ValueKind::Text: pl->kind = PictureKind::Text; break;
        case ValueKind::Date: pl->kind = PictureKind::Date; break;
        case ValueKind::Logical: pl->kind = PictureKind::Logical; break;
        case ValueKind::Nil: return false;
    }
    if (value.kind == ValueKind::Date || pl->f.dateTemplate ||
        (pl->f.european && value.kind != ValueKind::Number)) {
        pl->tplLen = dateTemplate(ctx.dates, pl->dateTpl);
        pl->tpl = pl->dateTpl;
    }
    pl->sign = 0;
    switch (value.kind) {
        case ValueKind::Logical:
            pl->small[0] = value.logical ? 'T' : 'F';
            pl->v = pl->small;
            pl->n = 1;
            break;
        case ValueKind::Text:
            pl->v = value.text;
            pl->n = value.length;
            if (pl->tplLen > 0) {
                const uint32_t limit = pl->f.insertLiterals
                                           ? countPlaceholders(PictureKind::Text, pl->tpl, pl->tplLen)
                                           : pl->tplLen;
                if (pl->n > limit) pl->n = limit;
            }
            break;
        case ValueKind::Date: {
            uint32_t n = ctx.dates.text ? ctx.dates.text(ctx.dates.context, value.date, pl->small) : 0;
            pl->v = pl->small;
            pl->n = n > kDateTextMax ? kDateTextMax : n;
            break;
        }
        case ValueKind::Number: planNumber(value, ctx, pl); break;
        case ValueKind::Nil: break;
    }
    pl->capacity = maxOf(kMinOutput, maxOf(pl->kind == PictureKind::Text ? value.length : pl->n, picLen));
    pl->resultMax = maxOf(pl->capacity, pl->f.scrollWidth);
    pl->total = pl->resultMax;
    if (pl->kind == PictureKind::Number) pl->total += pl->shape.width + pl->drop;
    return true;
}

}  // namespace

uint32_t readPictureFunctions(const char* pic, uint32_t len, PictureFunctions* f) {
    std::memset(f, 0, sizeof *f);
    if (pic == nullptr || len == 0 || pic[0] != '@') return 0;
    uint32_t i = 1;
    while (i < len && pic[i] != ' ') {
        switch (toUpper(static_cast<uint8_t>(pic[i++]))) {
            case '!': f->upperCase = true; break;
            case '(': f->parenthesesLeft = true; break;
            case ')': f->parenthesesRight = true; break;
            case 'A': f->alphaOnly = true; break;
            case 'B': f->leftJustify = true; break;
            case 'C': f->credit = true; break;
            case 'D': f->dateTemplate = true; break;
            case 'E': f->european = true; break;
            case 'K': f->clearOnKey = true; break;
            case 'R': f->insertLiterals = true; break;
            case 'X': f->debit = true; break;
            case 'Z': f->blankZero = true; break;
            case 'S': {
                uint32_t w = 0;
                for (; i < len && isDigit(static_cast<uint8_t>(pic[i])); ++i) {
                    w = w * 10 + static_cast<uint32_t>(pic[i] - '0');
                    if (w > 65535) w = 65535;
                }
                f->scrollWidth = static_cast<uint16_t>(w);
                break;
            }
            default: break;
        }
    }
    return i < len ? i + 1 : len;
}

bool isPlaceholder(PictureKind kind, uint8_t c) {
    const uint8_t u = toUpper(c);
    switch (kind) {
        case PictureKind::Text:
            return u == '9' || u == '#' || u == 'A' || u == 'L' || u == 'N' || u == 'X' || u == 'Y' ||
                   u == '!';
        case PictureKind::Number:
        case PictureKind::Date: return u == '9' || u == '#' || u == '*' || u == '$';
        case PictureKind::Logical: return u == 'L' || u == '#' || u == 'Y';
    }
    return false;
}

uint32_t dateTemplate(const DateFormatter& dates, char* out) {
    if (dates.text == nullptr) return 0;
    uint32_t n = dates.text(dates.context, 0, out);
    if (n > kDateTextMax) n = kDateTextMax;
    for (uint32_t i = 0; i < n; ++i)
        if (out[i] == ' ') out[i] = '9';
    return n;
}

uint32_t mergePicture(PictureKind kind, int sign, const char* v, uint32_t n, const char* p,
                      uint32_t m, const PictureFunctions& f, char* out, uint32_t c) {
    const bool number = kind == PictureKind::Number;
    const uint8_t* V = reinterpret_cast<const uint8_t*>(v);
    const uint8_t* P = reinterpret_cast<const uint8_t*>(p);
    uint32_t i = 0, j = 0, k = 0;

    // 1. Value characters through the template.
    while (i < n && k < c) {
        if (j < m && !isPlaceholder(kind, P[j])) {
            const uint32_t at = j++;
            const uint8_t lit = P[at];
            if (number && lit == '.') {
                out[k++] = f.european ? ',' : '.';
                // Past the value's point; an overflowed field has an asterisk there.
                const void* dot = std::memchr(V + i, '.', n - i);
                if (dot != nullptr)
                    i = static_cast<uint32_t>(static_cast<const uint8_t*>(dot) - V) + 1;
                else if (V[i] == '*')
                    ++i;
            } else if (number && lit == ',' && k > 0) {
                const char prev = out[k - 1];
                if (isDigit(static_cast<uint8_t>(prev))) {
                    out[k++] = f.european ? '.' : ',';
                } else if (prev == '+' || prev == '-') {
                    // The sign moves right, past the separator.
                    out[k - 1] = (k < 2 || (at >= 2 && P[at - 2] == '$')) ? ' ' : out[k - 2];
                    out[k++] = prev;
                } else {
                    // Still in the leading fill: blank after '$', else the fill goes on.
                    out[k++] = (at >= 1 && P[at - 1] == '$') ? ' ' : prev;
                }
            } else {
                out[k++] = static_cast<char>(lit);
                if (!number && !f.insertLiterals) ++i;
            }
            continue;
        }
        const uint8_t ph = j < m ? P[j++] : '#';
        const uint8_t ch = V[i++];
        uint8_t o;
        if (toUpper(ph) == 'Y')
            o = static_cast<uint8_t>((charClass(ch) & ccYes) ? kYesNoText[0] : kYesNoText[2]);
        else if (ch == ' ' && (ph == '*' || ph == '$'))
            o = ph;
        else if (f.european && number && ch == '.')
            o = ',';
        else
            o = (f.upperCase || ph == '!') ? toUpper(ch) : ch;
        out[k++] = static_cast<char>(o);
    }

    // 2. The rest of the template: literals as they are, placeholders blank.
    if (f.insertLiterals || number) {
        for (; j < m && k < c; ++j) out[k++] = isPlaceholder(kind, P[j]) ? ' ' : static_cast<char>(P[j]);
    }

    // 3. Parentheses around a negative number. The '(' takes a blank's place;
    // when there is no blank to take, it is inserted instead, so no digit is lost.
    if (number && sign < 0 && (f.parenthesesLeft || f.parenthesesRight)) {
        uint32_t at = 0;
        if (!f.parenthesesLeft) {
            while (at < k && out[at] == ' ') ++at;
            if (at > 0) --at;
        }
        const bool insert = k == 0 || out[at] != ' ';
        if (k + (insert ? 2u : 1u) <= c) {
            if (insert) {
                std::memmove(out + at + 1, out + at, k - at);
                ++k;
            }
            out[at] = '(';
            out[k++] = ')';
        }
    }

    // 4. Credit and debit marks.
    const char* mark = nullptr;
    if (f.credit && sign > 0)
        mark = " CR";
    else if (f.debit && sign < 0)
        mark = " DB";
    if (mark != nullptr && k + 3 <= c) {
        std::memcpy(out + k, mark, 3);
        k += 3;
    }

    // 5. Zero shown as blanks (text, dates and logicals merge with sign 0).
    if (f.blankZero && sign == 0) std::memset(out, ' ', k);

    // 6. Left justification, a leading '(' staying in front.
    if (f.leftJustify && k > 0) {
        const uint32_t from = (number && sign < 0 && f.parenthesesLeft && out[0] == '(') ? 1 : 0;
        uint32_t q = from;
        while (q < k && out[q] == ' ') ++q;
        if (q > from && q < k) {
            std::memmove(out + from, out + q, k - q);
            std::memset(out + k - (q - from), ' ', q - from);
        }
    }

    // 7. Day and month of a date (characters 1-2 and 4-5) swap places.
    if (f.european && !number && k >= 5) {
        char t = out[0];
        out[0] = out[3];
        out[3] = t;
        t = out[1];
        out[1] = out[4];
        out[4] = t;
    }
    return k;
}

uint32_t transformBufferSize(const TransformValue& value, const char* pic, uint32_t picLen,
                             const TransformContext& ctx) {
    Plan pl;
    return makePlan(value, pic, picLen, ctx, &pl) ? pl.total : 0;
}

bool transform(const TransformValue& value, const char* pic, uint32_t picLen,
               const TransformContext& ctx, char* buf, uint32_t bufSize, uint32_t* length) {
    Plan pl;
    *length = 0;
    if (!makePlan(value, pic, picLen, ctx, &pl)) return true;
    if (bufSize < pl.total) return false;
    if (pl.kind == PictureKind::Number) {
        // The number text goes after the output area, which Merge never passes.
        char* text = buf + pl.resultMax;
        formatNumber(pl.number, pl.shape.width + pl.drop, pl.shape.decimals, text);
        pl.v = text + pl.drop;
    }
    uint32_t k = mergePicture(pl.kind, pl.sign, pl.v, pl.n, pl.tpl, pl.tplLen, pl.f, buf, pl.capacity);
    if (k < pl.f.scrollWidth) {
        std::memset(buf + k, ' ', pl.f.scrollWidth - k);
        k = pl.f.scrollWidth;
    }
    *length = k;
    return true;
}

}  // namespace xb
