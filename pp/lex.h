// Tokens of one logical line, as the directives and the rule engine see
// them. The lexer never fails: a byte it does not know becomes a one-byte
// token of its own, an unterminated string runs to the end of the line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace xb::pp {

enum TokKind : uint8_t {
    TK_IDENT,    // name (letters, digits, '_')
    TK_NUMBER,   // 12, 1.5, .5, 0x1F
    TK_STRING,   // "..." '...' [...] with its delimiters
    TK_LOGICAL,  // .T. .F. .Y. .N.
    TK_MACRO,    // &name or &name.suffix (a lone '&' is TK_OP)
    TK_OP,       // operators and punctuation, one or more bytes
};

struct Token {
    std::string text;
    TokKind kind = TK_OP;
    bool space = false;  // white space before it in its source (rule or line)
};

using Tokens = std::vector<Token>;

// What the lexer is reading: a source line decides whether '[' opens a
// string by the token before it; a rule's pattern or result never has '['
// strings (the brackets are optional clauses there).
enum class LexMode : uint8_t { Line, Rule };

// Splits text into tokens.
Tokens lex(const std::string& text, LexMode mode);

// Reads one token at text[*pos] (white space skipped first, its presence
// noted in space). False at the end of the text.
bool lexOne(const std::string& text, size_t* pos, LexMode mode, const Token* previous, Token* out);

// The text of tokens: each token after the first preceded by one blank when
// it had white space before it.
std::string render(const Tokens& t, size_t from, size_t to);
inline std::string render(const Tokens& t) { return render(t, 0, t.size()); }

// ASCII case-insensitive equality.
bool sameText(const std::string& a, const std::string& b);

// True when the token can end an operand (a name, a literal, a closing bracket).
bool endsOperand(const Token& t);

}  // namespace xb::pp
