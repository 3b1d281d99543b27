// The expression tree of the macro compiler (internal to macro/): node
// records, their growable lists, and the parser and generator entry points.
// The nodes, their lists and texts of one compile live in the parser's arena
// (a static block, then blocks of the tracked heap for large texts), owned
// by the compile: releaseTree gives all of it back at once.
#pragma once
#include <cstdint>

#include "macro/lexer.h"

namespace xb::macro {

enum NodeType : uint8_t {
    N_NIL = 1, N_ZERO = 2, N_ONE = 3, N_WORD = 4, N_INT = 5, N_DOUBLE = 6, N_EMPTYSTR = 7,
    N_STRING = 8, N_BLOCK = 9, N_LOGICAL = 10, N_ARRAY = 11, N_IDENT = 12, N_BYREF = 13,
    N_SUBSCRIPT = 14, N_CALL = 15, N_LIST = 16, N_SEND = 17, N_ALIASED = 18,
    N_ASSIGN = 21, N_POWASSIGN = 27,  // 21..27: := += -= *= /= %= ^=
    N_OR = 28, N_AND = 29, N_NOT = 30, N_EQUAL = 31, N_EXACTEQUAL = 32, N_POWER = 44,
    N_NEGATE = 45, N_PREINC = 46, N_PREDEC = 47,
};

struct Node;

struct NodeList {
    Node** items;
    uint16_t count;
    uint16_t capacity;  // starts at 4, grows by 4
};

struct Node {
    uint8_t type;
    uint8_t macroPrefix;         // written after '&'
    uint8_t isMacroText;         // STRING, CALL: the text came from an identifier holding '&'
    uint8_t evaluate;            // STRING, CALL: expand and evaluate when pushed
    uint8_t hasParentheses;      // SEND
    uint8_t fieldParenthesised;  // ALIASED
    uint8_t fieldIsMacro;        // ALIASED
    uint8_t inlineOpcode;        // CALL: 0 for a call by name
    uint8_t width, decimals;     // DOUBLE
    uint16_t value;              // WORD, INT, LOGICAL
    double number;               // DOUBLE
    char* text;                  // STRING text, IDENT/BYREF/CALL name (NUL-terminated)
    uint32_t textLength;
    Node* left;   // binary/assignment left; NOT/NEGATE/INC/DEC operand; subscript array;
                  // send receiver; alias part
    Node* right;  // binary/assignment right; send message name; field part
    NodeList list;    // call/send arguments, array elements, subscript indexes, list items, block body
    NodeList params;  // block parameters (IDENT nodes)
};

// Parses the whole token array into a tree whose root yields a value at the
// top level; null on any syntax failure (nothing is left allocated).
Node* parseMacro(MacroToken* tokens);
// Ends the tree's life (after generation): checks its node types, writing
// "FreeExpression() de tipo: %ld" for a type no rule makes, and empties the
// arena.
void releaseTree(Node* root);

// Appends the root's code to a buffer; false on a generation failure.
struct CodeBuffer {
    uint8_t* data;
    uint32_t length;
    uint32_t capacity;
    bool tooLong;  // the code passed 65,535 bytes
};
bool generateRoot(CodeBuffer* out, Node* root, bool storeMode);
void emitByte(CodeBuffer* out, uint8_t b);

}  // namespace xb::macro
