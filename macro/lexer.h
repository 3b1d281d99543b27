// The macro lexer: cuts a macro text into the flat token array the parser
// walks by index, and normalises the text in place on the way (identifiers
// and dotted words upper case, NIL spelled "NIL"), so that later stages
// compare names byte for byte.
//
// The lexer works on the compiler's private writable copy of the text
// (blanks and tabs trimmed, NUL-terminated); tokens point into that copy,
// which must outlive the parse. The token array belongs to the caller.
#pragma once
#include <cstdint>

namespace xb::macro {

// Token kinds. A binary operator's node type is its kind minus 34.
enum TokenKind : uint8_t {
    TK_END = 0,
    TK_NIL = 1,
    TK_NUMBER = 2,
    TK_STRING = 3,
    TK_TRUE = 4,
    TK_FALSE = 5,
    TK_IDENT = 6,
    TK_LPAREN = 16,
    TK_RPAREN = 17,
    TK_LSUB = 18,
    TK_RSUB = 19,
    TK_LBRACE = 20,
    TK_RBRACE = 21,
    TK_COMMA = 22,
    TK_BAR = 24,
    TK_SEND = 25,
    TK_BYREF = 47,
    TK_INC = 53,
    TK_DEC = 54,
    TK_ASSIGN = 55,    // 55..61: := += -= *= /= %= ^=
    TK_POWASSIGN = 61,
    TK_OR = 62,
    TK_AND = 63,
    TK_NOT = 64,
    TK_EQUAL = 65,     // 65..72: = == < > <= >= <> $
    TK_PLUS = 73,
    TK_MINUS = 74,
    TK_POWER = 78,     // 73..78: + - * / % ^
    TK_ALIAS = 85,
    TK_MACRO = 86,
    TK_PERIOD = 87,
};

struct MacroToken {
    uint8_t kind;
    uint8_t macroFlag;  // identifiers holding '&'
    uint16_t length;    // characters in the text (a string counts its delimiters)
    char* text;         // first character inside the work copy; not terminated
};

constexpr int MAX_TOKENS = 255;
constexpr int TOKEN_ARRAY_SIZE = MAX_TOKENS + 1;

// Fills tokens[0..n) and the end token after them. False on any lexical
// failure: an unclosed string, a character no token starts with, a second
// decimal point, more than 255 tokens, a token longer than 65,535 bytes.
bool tokenize(char* text, MacroToken* tokens);

}  // namespace xb::macro
