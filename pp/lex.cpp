#include "pp/lex.h"

#include <cstring>

namespace xb::pp {
namespace {

bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// Operators of more than one byte, longest first.
const char* const kLongOps[] = {"**=", "...", ":=", "==", "!=", "<>", "<=", ">=", "->", "++", "--", "+=", "-=",
                                "*=",  "/=",  "%=", "^=", "**", "::", "=>"};

// .AND. .OR. .NOT. and the logical literals, matched without regard to case.
bool dottedWord(const std::string& s, size_t p, Token* out) {
    static const char* const words[] = {"AND", "OR", "NOT", "T", "F", "Y", "N"};
    for (const char* w : words) {
        size_t n = std::strlen(w);
        if (p + n + 1 >= s.size() + 1 || p + 1 + n >= s.size()) continue;
        bool ok = true;
        for (size_t i = 0; i < n && ok; ++i) ok = upper(s[p + 1 + i]) == w[i];
        if (!ok || s[p + 1 + n] != '.') continue;
        out->text = "." + std::string(w) + ".";
        out->kind = n == 1 ? TK_LOGICAL : TK_OP;
        return true;
    }
    return false;
}

}  // namespace

bool sameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

bool endsOperand(const Token& t) {
    if (t.kind == TK_IDENT || t.kind == TK_NUMBER || t.kind == TK_STRING || t.kind == TK_LOGICAL ||
        t.kind == TK_MACRO)
        return true;
    return t.text == ")" || t.text == "]" || t.text == "}";
}

bool lexOne(const std::string& s, size_t* pos, LexMode mode, const Token* previous, Token* out) {
    size_t p = *pos;
    bool space = false;
    while (p < s.size() && (s[p] == ' ' || s[p] == '\t' || s[p] == '\r' || s[p] == '\n' || s[p] == '\f' ||
                            s[p] == '\v' || s[p] == '\0')) {
        ++p;
        space = true;
    }
    if (p >= s.size()) {
        *pos = p;
        return false;
    }
    out->space = space;
    out->kind = TK_OP;
    char c = s[p];
    size_t start = p;
    if (isIdentStart(c)) {
        while (p < s.size() && isIdentChar(s[p])) ++p;
        out->kind = TK_IDENT;
    } else if (isDigit(c) || (c == '.' && p + 1 < s.size() && isDigit(s[p + 1]))) {
        if (c == '0' && p + 1 < s.size() && (s[p + 1] == 'x' || s[p + 1] == 'X')) {
            p += 2;
            while (p < s.size() && std::strchr("0123456789abcdefABCDEF", s[p]) && s[p]) ++p;
        } else {
            while (p < s.size() && isDigit(s[p])) ++p;
            if (p + 1 < s.size() && s[p] == '.' && isDigit(s[p + 1])) {
                ++p;
                while (p < s.size() && isDigit(s[p])) ++p;
            } else if (c == '.') {
                // ".5": the loop above stopped at the dot
                ++p;
                while (p < s.size() && isDigit(s[p])) ++p;
            }
        }
        out->kind = TK_NUMBER;
    } else if (c == '"' || c == '\'' ||
               (c == '[' && mode == LexMode::Line && !(previous && endsOperand(*previous)) &&
                s.find(']', p + 1) != std::string::npos)) {
        char close = c == '[' ? ']' : c;
        size_t end = s.find(close, p + 1);
        p = end == std::string::npos ? s.size() : end + 1;
        out->kind = TK_STRING;
    } else if (c == '.' && dottedWord(s, p, out)) {
        out->space = space;
        *pos = p + out->text.size();
        return true;
    } else if (c == '&' && p + 1 < s.size() && isIdentStart(s[p + 1])) {
        ++p;
        while (p < s.size() && isIdentChar(s[p])) ++p;
        if (p < s.size() && s[p] == '.') {
            ++p;
            while (p < s.size() && isIdentChar(s[p])) ++p;
        }
        out->kind = TK_MACRO;
    } else {
        size_t n = 1;
        for (const char* op : kLongOps) {
            size_t k = std::strlen(op);
            if (s.compare(p, k, op) == 0) {
                n = k;
                break;
            }
        }
        p += n;
    }
    out->text.assign(s, start, p - start);
    *pos = p;
    return true;
}

Tokens lex(const std::string& text, LexMode mode) {
    Tokens out;
    size_t pos = 0;
    Token t;
    while (lexOne(text, &pos, mode, out.empty() ? nullptr : &out.back(), &t)) out.push_back(t);
    return out;
}

std::string render(const Tokens& t, size_t from, size_t to) {
    std::string s;
    for (size_t i = from; i < to && i < t.size(); ++i) {
        if (i > from && t[i].space) s += ' ';
        s += t[i].text;
    }
    return s;
}

}  // namespace xb::pp
