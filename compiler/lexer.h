// The source lexer: one logical line (several statements separated by ';')
// cut into tokens. Identifiers are upper-cased and cut to the longest name a
// symbol table holds; string tokens hold their bytes without delimiters.
// Columns are 1-based positions in the line's text.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace xb::xbc {

enum TokKind : uint8_t {
    T_END,      // end of the line
    T_SEMI,     // ';' between two statements
    T_NUM, T_STR, T_TRUE, T_FALSE, T_NIL, T_IDENT,
    T_LPAREN, T_RPAREN, T_LBRACK, T_RBRACK, T_LBRACE, T_RBRACE,
    T_COMMA, T_BAR, T_COLON, T_AT, T_INC, T_DEC,
    // assignments, in the order of their operators below
    T_ASSIGN, T_PLUSASSIGN, T_MINUSASSIGN, T_MULTASSIGN, T_DIVASSIGN, T_MODASSIGN, T_POWASSIGN,
    T_OR, T_AND, T_NOT,
    T_EQ, T_EXEQ, T_LT, T_GT, T_LE, T_GE, T_NE, T_DOLLAR,
    T_PLUS, T_MINUS, T_MULT, T_DIV, T_MOD, T_POW,
    T_ALIAS, T_AMP, T_PERIOD, T_QUESTION, T_QQ,
};

struct Token {
    TokKind kind;
    int col;
    std::string text;   // identifier (upper case, cut), number text, string bytes
    bool macroName;     // identifier holding '&' (a name built by text substitution)
    bool spaceBefore;   // a blank precedes the token
};

// Longest name a symbol table entry holds.
constexpr size_t NAME_MAX_LEN = 58;

// Cuts text into tokens (ending with T_END). False on a lexical error, with
// the column and a message.
bool tokenizeLine(const std::string& text, std::vector<Token>* out, int* errCol, std::string* errText);

}  // namespace xb::xbc
