// The macro lexer: one rule per first character, operators by longest match.
#include "macro/lexer.h"

#include <cstring>

#include "base/casemap.h"

namespace xb::macro {

namespace {

inline bool asciiLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool digit(uint8_t c) { return c >= '0' && c <= '9'; }

// Dotted words, compared without regard to case.
struct DottedWord {
    const char* spelling;
    uint8_t length;
    uint8_t kind;
};
constexpr DottedWord DOTTED[] = {
    {".AND.", 5, TK_AND}, {".OR.", 4, TK_OR}, {".NOT.", 5, TK_NOT}, {".T.", 3, TK_TRUE},
    {".Y.", 3, TK_TRUE},  {".F.", 3, TK_FALSE}, {".N.", 3, TK_FALSE},
};

// The dotted word starting at p, or null.
const DottedWord* dottedWordAt(const char* p) {
    for (const DottedWord& w : DOTTED) {
        bool same = true;
        for (int i = 0; i < w.length && same; ++i) same = toUpper(uint8_t(p[i])) == uint8_t(w.spelling[i]);
        if (same) return &w;
    }
    return nullptr;
}

// Operators and punctuation, longer spellings before their prefixes.
struct Spelling {
    const char* text;
    uint8_t length;
    uint8_t kind;
};
constexpr Spelling OPERATORS[] = {
    {"**=", 3, 61}, {"**", 2, 78}, {"*=", 2, 58}, {"*", 1, 75},  {"!=", 2, 71}, {"!", 1, 64},
    {"->", 2, 85},  {"--", 2, 54}, {"-=", 2, 57}, {"-", 1, 74},  {"++", 2, 53}, {"+=", 2, 56},
    {"+", 1, 73},   {"<>", 2, 71}, {"<=", 2, 69}, {"<", 1, 67},  {">=", 2, 70}, {">", 1, 68},
    {"==", 2, 66},  {"=", 1, 65},  {":=", 2, 55}, {":", 1, 25},  {"%=", 2, 60}, {"%", 1, 77},
    {"/=", 2, 59},  {"/", 1, 76},  {"^=", 2, 61}, {"^", 1, 78},  {"#", 1, 71},  {"$", 1, 72},
    {"(", 1, 16},   {")", 1, 17},  {"]", 1, 19},  {"{", 1, 20},  {"}", 1, 21},  {",", 1, 22},
    {"|", 1, 24},   {"@", 1, 47},  {"&", 1, 86},
};

// A number from p (a digit, or a point before a digit); 0 on failure.
size_t numberLength(const char* p) {
    size_t n = 0;
    bool point = false;
    for (;;) {
        uint8_t c = uint8_t(p[n]);
        if (digit(c)) {
            ++n;
        } else if (c == '.') {
            if (digit(uint8_t(p[n + 1]))) {
                if (point) return 0;
                point = true;
                ++n;
            } else if (dottedWordAt(p + n)) {
                return n;
            } else {
                ++n;
            }
        } else {
            return n;
        }
    }
}

// Recognises one token at p; false when no rule yields one.
bool scanToken(char* p, uint8_t previous, MacroToken* t) {
    uint8_t c = uint8_t(*p);
    t->kind = 0;
    t->macroFlag = 0;
    t->text = p;
    size_t length = 0;
    if (c == '"' || c == '\'' || (c == '[' && !(previous == TK_IDENT || previous == TK_NIL ||
                                               previous == TK_RSUB || previous == TK_RPAREN ||
                                               previous == TK_RBRACE || previous == TK_PERIOD))) {
        char close = c == '[' ? ']' : char(c);
        const char* end = std::strchr(p + 1, close);
        if (!end) return false;
        t->kind = TK_STRING;
        length = size_t(end - p) + 1;
    } else if (c == '[') {
        t->kind = TK_LSUB;
        length = 1;
    } else if ((c == 'N' || c == 'n') && previous != TK_MACRO && toUpper(uint8_t(p[1])) == 'I' &&
               toUpper(uint8_t(p[2])) == 'L' && !asciiLetter(uint8_t(p[3])) && !digit(uint8_t(p[3]))) {
        std::memcpy(p, "NIL", 3);
        t->kind = TK_NIL;
        length = 3;
    } else if (asciiLetter(c) || c == '_') {
        bool macro = false;
        for (;;) {
            uint8_t d = uint8_t(p[length]);
            if (asciiLetter(d) || digit(d) || d == '_') {
                ++length;
            } else if (d == '&') {
                macro = true;
                ++length;
            } else if (d == '.' && macro) {
                ++length;
            } else {
                break;
            }
        }
        upperText(p, p, length);
        t->kind = TK_IDENT;
        t->macroFlag = macro ? 1 : 0;
    } else if (digit(c) || (c == '.' && digit(uint8_t(p[1])))) {
        length = numberLength(p);
        if (length == 0) return false;
        t->kind = TK_NUMBER;
    } else if (c == '.') {
        if (const DottedWord* w = dottedWordAt(p)) {
            std::memcpy(p, w->spelling, w->length);
            t->kind = w->kind;
            length = w->length;
        } else {
            t->kind = TK_PERIOD;
            length = 1;
        }
    } else {
        for (const Spelling& s : OPERATORS) {
            if (s.text[0] == char(c) && std::strncmp(p, s.text, s.length) == 0) {
                t->kind = s.kind;
                length = s.length;
                break;
            }
        }
        if (!t->kind) return false;
    }
    if (length > 0xFFFF) return false;  // the length field is 16 bits
    t->length = uint16_t(length);
    return true;
}

}  // namespace

bool tokenize(char* text, MacroToken* tokens) {
    char* p = text;
    int count = 0;
    uint8_t previous = TK_END;
    for (;;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        MacroToken t;
        if (!scanToken(p, previous, &t)) return false;
        if (count == MAX_TOKENS) return false;
        tokens[count++] = t;
        previous = t.kind;
        p += t.length;
    }
    tokens[count] = MacroToken{TK_END, 0, 0, nullptr};
    return true;
}

}  // namespace xb::macro
