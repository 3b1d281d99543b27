// Splits one line of assembler text into tokens: words, quoted strings
// (decoded), and the braces that open and close a codeblock. A semicolon
// outside a string starts a comment that runs to the end of the line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xb::pcasm {

enum TokenKind : uint8_t { TOK_WORD, TOK_STRING, TOK_OPEN, TOK_CLOSE };

struct Token {
    TokenKind kind;
    std::string text;  // the word, or the string's decoded bytes
};

// Tokenizes line[0..n) (without its line feed; a carriage return counts as
// blank). Returns false with *why set for a malformed line: control
// characters, an unterminated string, an unknown escape.
bool tokenizeLine(const char* line, size_t n, std::vector<Token>* out, std::string* why);

}  // namespace xb::pcasm
