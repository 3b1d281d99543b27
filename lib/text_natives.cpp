// Text functions: ALLTRIM, PADR, PADL, PADC, RIGHT, STRTRAN, STUFF, RAT,
// STRZERO, MEMOLINE, MLCOUNT, HARDCR, MEMOTRAN and DESCEND. Lengths and
// positions are byte counts (1-based positions); results are new strings.
// A wrong argument type raises the function's argument error (lib_args.h).
#include <cstring>
#include <string>

#include "vm/function.h"
#include "lib/lib_args.h"
#include "lib/text_wrap.h"
#include "vm/object.h"
#include "vm/opcodes.h"

namespace xb {

namespace {

std::string textOf(const Item* s) { return std::string(strData(s), strLength(s)); }
void retText(const std::string& s) { retString(s.data(), uint32_t(s.size())); }

// The text a PAD function pads: a text as it is; a number in its STR form
// without leading blanks; a date as DTOC shows it. False for other types.
bool padSource(Item* x, std::string* out) {
    if (isString(x)) {
        *out = textOf(x);
        return true;
    }
    Item r{};
    if (isNumeric(x)) {
        pushDeref(x);
        if (!libRunOpcode(OP_STR1, 1, &r)) return false;
        std::string s = textOf(&r);
        size_t b = s.find_first_not_of(' ');
        *out = b == std::string::npos ? std::string() : s.substr(b);
        return true;
    }
    if (x->type == T_DATE) {
        pushDeref(x);
        if (!libRunOpcode(OP_DTOC, 1, &r)) return false;
        *out = textOf(&r);
        return true;
    }
    return false;
}

// PADR/PADL/PADC(value, length, [fill]): where 'R' pads on the right, 'L' on
// the left, 'C' on both sides (the odd blank on the right). A longer text
// is cut to length (from the left for PADR and PADC, keeping the right end
// for PADL); a negative length gives "".
uint16_t pad(char where, uint16_t subCode) {
    Item* x = libArg(1);
    Item* len = libArg(2);
    Item* fill = libArg(3);
    std::string s;
    if (!x || !len || !isNumeric(len) || !padSource(x, &s) || (!libIsNil(fill) && !isString(fill)))
        return libArgError(subCode);
    int32_t n = itemInt(len);
    if (n < 0) n = 0;
    char c = !libIsNil(fill) && strLength(fill) > 0 ? strData(fill)[0] : ' ';
    size_t want = size_t(n);
    if (s.size() >= want) {
        retText(where == 'L' ? s.substr(s.size() - want) : s.substr(0, want));
        return 0;
    }
    size_t missing = want - s.size();
    size_t left = where == 'L' ? missing : where == 'C' ? missing / 2 : 0;
    retText(std::string(left, c) + s + std::string(missing - left, c));
    return 0;
}

bool isTrimmedLead(char c) { return c == ' ' || c == '\t'; }

}  // namespace

// ALLTRIM(text): without trailing blanks and without leading blanks and tabs
// (TRIM and LTRIM together).
XB_NATIVE(fnALLTRIM, "ALLTRIM") {
    Item* s = libText(1);
    if (!s) return libArgError(SC_ALLTRIM);
    const char* p = strData(s);
    uint32_t end = strLength(s);
    while (end > 0 && p[end - 1] == ' ') --end;
    uint32_t begin = 0;
    while (begin < end && isTrimmedLead(p[begin])) ++begin;
    retString(p + begin, end - begin);
    return 0;
}

XB_NATIVE(fnPADR, "PADR") { return pad('R', SC_PADR); }
XB_NATIVE(fnPADL, "PADL") { return pad('L', SC_PADL); }
XB_NATIVE(fnPADC, "PADC") { return pad('C', SC_PADC); }

// RIGHT(text, n): the last n bytes; "" for n below 1; the whole text when
// it is shorter.
XB_NATIVE(fnRIGHT, "RIGHT") {
    Item* s = libText(1);
    Item* n = libArg(2);
    if (!s || !n || !isNumeric(n)) return libArgError(SC_RIGHT);
    int32_t k = itemInt(n);
    uint32_t len = strLength(s);
    uint32_t take = k <= 0 ? 0 : uint32_t(k) > len ? len : uint32_t(k);
    retString(strData(s) + (len - take), take);
    return 0;
}

// STRTRAN(text, search, [replace], [first], [count]): the occurrences of
// search, from the first-th on (1 when absent) and at most count of them
// (all when absent), replaced by replace ("" when absent). An empty search
// changes nothing.
XB_NATIVE(fnSTRTRAN, "STRTRAN") {
    Item* s = libText(1);
    Item* search = libText(2);
    Item* repl = libArg(3);
    int32_t first = 1, count = -1;
    if (!s || !search || (!libIsNil(repl) && !isString(repl)) || !libOptInt(4, 1, &first) ||
        !libOptInt(5, -1, &count))
        return libArgError(SC_STRTRAN);
    if (!libIsNil(libArg(5)) && count < 0) count = 0;
    std::string text = textOf(s), needle = textOf(search);
    std::string with = libIsNil(repl) ? std::string() : textOf(repl);
    if (needle.empty() || count == 0) {
        retText(text);
        return 0;
    }
    if (first < 1) first = 1;
    std::string out;
    size_t at = 0;
    int32_t seen = 0, done = 0;
    for (;;) {
        size_t hit = text.find(needle, at);
        if (hit == std::string::npos || (count >= 0 && done >= count)) break;
        ++seen;
        if (seen >= first) {
            out.append(text, at, hit - at);
            out += with;
            ++done;
        } else {
            out.append(text, at, hit - at + needle.size());
        }
        at = hit + needle.size();
    }
    out.append(text, at, std::string::npos);
    retText(out);
    return 0;
}

// STUFF(text, start, delete, insert): delete bytes from start removed and
// insert put in their place. start is held to 1..length + 1 and delete to
// what is there.
XB_NATIVE(fnSTUFF, "STUFF") {
    Item* s = libText(1);
    Item* start = libArg(2);
    Item* del = libArg(3);
    Item* ins = libText(4);
    if (!s || !start || !isNumeric(start) || !del || !isNumeric(del) || !ins) return libArgError(SC_STUFF);
    std::string text = textOf(s);
    int64_t from = int64_t(itemInt(start)) - 1;
    if (from < 0) from = 0;
    if (from > int64_t(text.size())) from = int64_t(text.size());
    int64_t n = itemInt(del);
    if (n < 0) n = 0;
    if (from + n > int64_t(text.size())) n = int64_t(text.size()) - from;
    text.replace(size_t(from), size_t(n), textOf(ins));
    retText(text);
    return 0;
}

// RAT(search, text): the position of the last occurrence, 0 when none or
// when search is empty.
XB_NATIVE(fnRAT, "RAT") {
    Item* search = libText(1);
    Item* s = libText(2);
    if (!search || !s) return libArgError(SC_RAT);
    std::string text = textOf(s), needle = textOf(search);
    size_t at = needle.empty() ? std::string::npos : text.rfind(needle);
    retInt(at == std::string::npos ? 0 : int32_t(at + 1));
    return 0;
}

// STRZERO(number, [width], [decimals]): STR's text with its leading blanks
// turned into zeros; a minus sign goes in front of the zeros.
XB_NATIVE(fnSTRZERO, "STRZERO") {
    uint16_t n = paramCount();
    if (n > 3) n = 3;
    Item* x = libArg(1);
    if (!x || !isNumeric(x)) return libArgError(SC_STRZERO);
    for (uint16_t i = 1; i <= n; ++i) pushDeref(libArg(i) ? libArg(i) : x);
    static const uint8_t forms[4] = {0, OP_STR1, OP_STR2, OP_STR3};
    Item r{};
    if (n == 0 || !libRunOpcode(forms[n], n, &r)) return libArgError(SC_STRZERO);
    std::string text = textOf(&r);
    if (text.find('*') != std::string::npos) {  // overflow marks stay as STR gives them
        retText(text);
        return 0;
    }
    bool negative = false;
    for (char& c : text) {
        if (c == ' ') c = '0';
        else if (c == '-') {
            negative = true;
            c = '0';
        }
    }
    if (negative) text[0] = '-';
    retText(text);
    return 0;
}

// MEMOLINE(text, [width 79], [line 1], [tab 4], [wrap .T.]): the line-th
// line of the text laid out in lines of width, padded with blanks to width;
// blanks only past the last line.
XB_NATIVE(fnMEMOLINE, "MEMOLINE") {
    Item* s = libText(1);
    int32_t width, line, tab;
    Item* wrap = libArg(5);
    if (!s || !libOptInt(2, 79, &width) || !libOptInt(3, 1, &line) || !libOptInt(4, 4, &tab) ||
        (!libIsNil(wrap) && wrap->type != T_LOGICAL))
        return libArgError(SC_MEMOLINE);
    WrapLayout layout = wrapLayout(width, tab, libIsNil(wrap) || wrap->v.l);
    std::string out;
    TextWrap w{strData(s), strLength(s), 0};
    bool have = false;
    for (int32_t i = 1; i <= line && line >= 1; ++i) {
        have = nextWrappedLine(&w, layout, &out);
        if (!have) break;
    }
    if (!have) out.clear();
    out.resize(layout.width, ' ');
    retText(out);
    return 0;
}

// MLCOUNT(text, [width 79], [tab 4], [wrap .T.]): the number of lines.
XB_NATIVE(fnMLCOUNT, "MLCOUNT") {
    Item* s = libText(1);
    int32_t width, tab;
    Item* wrap = libArg(4);
    if (!s || !libOptInt(2, 79, &width) || !libOptInt(3, 4, &tab) || (!libIsNil(wrap) && wrap->type != T_LOGICAL))
        return libArgError(SC_MLCOUNT);
    WrapLayout layout = wrapLayout(width, tab, libIsNil(wrap) || wrap->v.l);
    TextWrap w{strData(s), strLength(s), 0};
    std::string out;
    int32_t lines = 0;
    while (nextWrappedLine(&w, layout, &out)) ++lines;
    retInt(lines);
    return 0;
}

// HARDCR(text): every soft line end (141, 10) made a hard one (13, 10).
XB_NATIVE(fnHARDCR, "HARDCR") {
    Item* s = libText(1);
    if (!s) return libArgError(SC_HARDCR);
    std::string text = textOf(s);
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (uint8_t(text[i]) == kSoftReturn && text[i + 1] == '\n') text[i] = '\r';
    retText(text);
    return 0;
}

// MEMOTRAN(text, [hard ";"], [soft " "]): hard line ends (13, 10) replaced
// by hard, soft ones (141, 10) by soft.
XB_NATIVE(fnMEMOTRAN, "MEMOTRAN") {
    Item* s = libText(1);
    Item* hard = libArg(2);
    Item* soft = libArg(3);
    if (!s || (!libIsNil(hard) && !isString(hard)) || (!libIsNil(soft) && !isString(soft)))
        return libArgError(SC_MEMOTRAN);
    std::string h = libIsNil(hard) ? std::string(";") : textOf(hard);
    std::string f = libIsNil(soft) ? std::string(" ") : textOf(soft);
    std::string text = textOf(s), out;
    for (size_t i = 0; i < text.size(); ++i) {
        bool pair = i + 1 < text.size() && text[i + 1] == '\n';
        if (pair && text[i] == '\r') {
            out += h;
            ++i;
        } else if (pair && uint8_t(text[i]) == kSoftReturn) {
            out += f;
            ++i;
        } else {
            out += text[i];
        }
    }
    retText(out);
    return 0;
}

// DESCEND(value): a value that sorts in the opposite order: each byte of a
// text complemented to 256 (0 stays 0), a number negated, a date as the
// negated day number, a logical inverted.
XB_NATIVE(fnDESCEND, "DESCEND") {
    Item* x = libArg(1);
    if (!x) return libArgError(SC_DESCEND);
    if (isString(x)) {
        std::string text = textOf(x);
        for (char& c : text) c = char(uint8_t(0x100 - uint8_t(c)));
        retText(text);
        return 0;
    }
    switch (x->type) {
    case T_INTEGER: retInt(-x->v.l); return 0;
    case T_DOUBLE: retDouble(-x->v.d, x->width, x->decimals); return 0;
    case T_DATE: retInt(-x->v.l); return 0;
    case T_LOGICAL: retLogical(!x->v.l); return 0;
    default: return libArgError(SC_DESCEND);
    }
}

}  // namespace xb
