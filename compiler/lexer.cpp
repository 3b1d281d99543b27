// The source lexer (see lexer.h). Spellings follow the macro lexer's, plus
// what only statements have: ';' between statements, '?' and '??'.
#include "compiler/lexer.h"

#include <cstring>

namespace xb::xbc {

namespace {

bool isLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

bool dottedWord(const std::string& s, size_t i, const char* word) {
    size_t n = std::strlen(word);
    if (i + n > s.size()) return false;
    for (size_t k = 0; k < n; ++k)
        if (upper(s[i + k]) != word[k]) return false;
    return true;
}

struct Op {
    const char* text;
    TokKind kind;
};
// Longest spellings first.
constexpr Op OPS[] = {
    {"**=", T_POWASSIGN}, {"??", T_QQ}, {"**", T_POW}, {":=", T_ASSIGN}, {"+=", T_PLUSASSIGN},
    {"-=", T_MINUSASSIGN}, {"*=", T_MULTASSIGN}, {"/=", T_DIVASSIGN}, {"%=", T_MODASSIGN}, {"^=", T_POWASSIGN},
    {"++", T_INC}, {"--", T_DEC}, {"->", T_ALIAS}, {"==", T_EXEQ}, {"<=", T_LE}, {">=", T_GE},
    {"<>", T_NE}, {"!=", T_NE}, {"(", T_LPAREN}, {")", T_RPAREN}, {"{", T_LBRACE}, {"}", T_RBRACE},
    {"]", T_RBRACK}, {",", T_COMMA}, {"|", T_BAR}, {":", T_COLON}, {"@", T_AT}, {"!", T_NOT},
    {"=", T_EQ}, {"<", T_LT}, {">", T_GT}, {"#", T_NE}, {"$", T_DOLLAR}, {"+", T_PLUS}, {"-", T_MINUS},
    {"*", T_MULT}, {"/", T_DIV}, {"%", T_MOD}, {"^", T_POW}, {"&", T_AMP}, {";", T_SEMI}, {"?", T_QUESTION},
};

}  // namespace

bool tokenizeLine(const std::string& s, std::vector<Token>* out, int* errCol, std::string* errText) {
    out->clear();
    out->reserve(s.size() / 3 + 2);
    size_t i = 0;
    auto fail = [&](size_t at, const std::string& why) {
        *errCol = int(at) + 1;
        *errText = why;
        return false;
    };
    while (true) {
        bool space = false;
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
            ++i;
            space = true;
        }
        Token t{T_END, int(i) + 1, {}, false, space};
        if (i >= s.size()) {
            out->push_back(t);
            return true;
        }
        unsigned char c = static_cast<unsigned char>(s[i]);
        TokKind prev = out->empty() ? T_END : out->back().kind;
        if (c == '"' || c == '\'' ||
            (c == '[' && prev != T_IDENT && prev != T_RBRACK && prev != T_RPAREN && prev != T_RBRACE &&
             prev != T_NIL && prev != T_PERIOD)) {
            char close = c == '[' ? ']' : char(c);
            size_t end = s.find(close, i + 1);
            if (end == std::string::npos) return fail(i, "unterminated string");
            t.kind = T_STR;
            t.text = s.substr(i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '[') {
            t.kind = T_LBRACK;
            ++i;
        } else if (isLetter(c)) {
            size_t start = i;
            bool amp = false;
            while (i < s.size()) {
                unsigned char d = static_cast<unsigned char>(s[i]);
                if (isLetter(d) || isDigit(d)) {
                    ++i;
                } else if (d == '&' && i + 1 < s.size() && isLetter(static_cast<unsigned char>(s[i + 1]))) {
                    amp = true;
                    ++i;
                } else if (d == '.' && amp) {
                    ++i;
                } else {
                    break;
                }
            }
            std::string word = s.substr(start, i - start);
            for (char& ch : word) ch = upper(ch);
            if (!amp && word == "NIL" && prev != T_AMP) {
                t.kind = T_NIL;
            } else {
                t.kind = T_IDENT;
                t.macroName = amp;
                if (!amp && word.size() > NAME_MAX_LEN) word.resize(NAME_MAX_LEN);
            }
            t.text = std::move(word);
        } else if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(static_cast<unsigned char>(s[i + 1])))) {
            size_t start = i;
            bool point = false;
            while (i < s.size()) {
                if (isDigit(static_cast<unsigned char>(s[i]))) {
                    ++i;
                } else if (s[i] == '.') {
                    bool digitAfter = i + 1 < s.size() && isDigit(static_cast<unsigned char>(s[i + 1]));
                    if (digitAfter) {
                        if (point) return fail(i, "a second decimal point");
                        point = true;
                        ++i;
                    } else if (dottedWord(s, i, ".AND.") || dottedWord(s, i, ".OR.") || dottedWord(s, i, ".NOT.") ||
                               dottedWord(s, i, ".T.") || dottedWord(s, i, ".F.") || dottedWord(s, i, ".Y.") ||
                               dottedWord(s, i, ".N.")) {
                        break;
                    } else {
                        ++i;  // "1." is the number one
                        break;
                    }
                } else {
                    break;
                }
            }
            t.kind = T_NUM;
            t.text = s.substr(start, i - start);
            if (t.text.size() > 1 && t.text.back() == '.') t.text.pop_back();
        } else if (c == '.') {
            if (dottedWord(s, i, ".AND.")) {
                t.kind = T_AND;
                i += 5;
            } else if (dottedWord(s, i, ".OR.")) {
                t.kind = T_OR;
                i += 4;
            } else if (dottedWord(s, i, ".NOT.")) {
                t.kind = T_NOT;
                i += 5;
            } else if (dottedWord(s, i, ".T.") || dottedWord(s, i, ".Y.")) {
                t.kind = T_TRUE;
                i += 3;
            } else if (dottedWord(s, i, ".F.") || dottedWord(s, i, ".N.")) {
                t.kind = T_FALSE;
                i += 3;
            } else {
                t.kind = T_PERIOD;
                ++i;
            }
        } else {
            bool found = false;
            for (const Op& op : OPS) {
                if (op.text[0] != char(c)) continue;  // most spellings differ in the first byte
                size_t n = 1;
                while (op.text[n] && i + n < s.size() && s[i + n] == op.text[n]) ++n;
                if (!op.text[n]) {
                    t.kind = op.kind;
                    i += n;
                    found = true;
                    break;
                }
            }
            if (!found) {
                char buf[48];
                if (c >= 32 && c < 127)
                    std::snprintf(buf, sizeof buf, "unexpected character '%c'", c);
                else
                    std::snprintf(buf, sizeof buf, "unexpected character 0x%02X", c);
                return fail(i, buf);
            }
        }
        out->push_back(std::move(t));
    }
}

}  // namespace xb::xbc
