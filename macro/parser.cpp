// The macro parser: a right-recursive walk over the token array that knows
// no precedence; each new binary node is placed into the tree by the
// rebalancing step (combine) driven by the precedence groups.
//
// The grammar's syntax checks (node kinds that may not stand in a place,
// the end token reached exactly) are applied while the tree is built, so a
// text that fails any of them yields no tree and no code.
#include <cstdio>
#include <cstring>

#include "base/numfmt.h"
#include "macro/compiler.h"
#include "macro/node.h"
#include "vm/error.h"
#include "base/memory.h"

namespace xb::macro {

namespace {

// The tree of one compile lives in an arena: a static first block and, for
// large texts, further blocks from the tracked heap, all given back at once
// when the compile ends (releaseTree). Compiles never nest.
struct ArenaBlock {
    ArenaBlock* next;
};
// The arena's state. Its pointers start inside its own first block, so the
// record is reset in place (arenaReset), never by copying a fresh one.
struct Arena {
    alignas(8) char firstBlock[8192];
    char* arenaAt = firstBlock;
    char* arenaEnd = firstBlock + sizeof firstBlock;
    ArenaBlock* extraBlocks = nullptr;
};
Arena arena;

void* arenaAlloc(uint32_t n) {
    n = (n + 7) & ~7u;
    if (uint32_t(arena.arenaEnd - arena.arenaAt) < n) {
        uint32_t size = n + 8 > 16384 ? n + 8 : 16384;
        auto* b = static_cast<ArenaBlock*>(memAlloc(size));
        b->next = arena.extraBlocks;
        arena.extraBlocks = b;
        arena.arenaAt = reinterpret_cast<char*>(b) + 8;
        arena.arenaEnd = reinterpret_cast<char*>(b) + size;
    }
    void* p = arena.arenaAt;
    arena.arenaAt += n;
    return p;
}

void arenaReset() {
    while (arena.extraBlocks) {
        ArenaBlock* next = arena.extraBlocks->next;
        memFree(arena.extraBlocks);
        arena.extraBlocks = next;
    }
    arena.arenaAt = arena.firstBlock;
    arena.arenaEnd = arena.firstBlock + sizeof arena.firstBlock;
}

Node* newNode(uint8_t type) {
    auto* n = static_cast<Node*>(arenaAlloc(sizeof(Node)));
    std::memset(n, 0, sizeof(Node));
    n->type = type;
    return n;
}

bool listAdd(NodeList* l, Node* n) {
    if (l->count == 0xFFFF) return false;
    if (l->count == l->capacity) {
        uint16_t cap = uint16_t(l->capacity + 4);
        auto* items = static_cast<Node**>(arenaAlloc(uint32_t(cap) * sizeof(Node*)));
        if (l->count) std::memcpy(items, l->items, l->count * sizeof(Node*));
        l->items = items;
        l->capacity = cap;
    }
    l->items[l->count++] = n;
    return true;
}

char* copyText(const char* p, uint32_t n) {
    auto* s = static_cast<char*>(arenaAlloc(n + 1));
    std::memcpy(s, p, n);
    s[n] = 0;
    return s;
}

bool isAssignment(uint8_t t) { return t >= N_ASSIGN && t <= N_POWASSIGN; }

int group(uint8_t t) {
    if (isAssignment(t)) return 1;
    if (t == N_OR) return 28;
    if (t == N_AND) return 29;
    if (t >= N_EQUAL && t <= 38) return 31;
    if (t == 39 || t == 40) return 39;
    if (t >= 41 && t <= 43) return 41;
    if (t == N_POWER) return 44;
    return 2;
}

Node* combine(Node* n, Node* r) {
    int p = group(r->type);
    if (p == 1 || p == 2 || group(n->type) < p) {
        n->right = r;
        return n;
    }
    r->left = combine(n, r->left);
    return r;
}

// Walks a finished tree before it is released; a node of a type no rule
// makes is reported on the error output.
void checkTree(const Node* n) {
    if (n->type == 0 || n->type > N_PREDEC || n->type == 19 || n->type == 20) {
        char text[48];
        int len = std::snprintf(text, sizeof text, "FreeExpression() de tipo: %ld", long(n->type));
        if (errorOutputWrite) errorOutputWrite(text, uint32_t(len));
        return;
    }
    if (n->left) checkTree(n->left);
    if (n->right) checkTree(n->right);
    for (uint16_t i = 0; i < n->list.count; ++i) checkTree(n->list.items[i]);
    for (uint16_t i = 0; i < n->params.count; ++i) checkTree(n->params.items[i]);
}

struct Parser {
    MacroToken* tok;
    int pos;

    uint8_t kind() const { return tok[pos].kind; }
    uint8_t kindAt(int i) const { return tok[i].kind; }
    const MacroToken& cur() const { return tok[pos]; }
    // Never moves past the end token.
    void advance() {
        if (tok[pos].kind != TK_END) ++pos;
    }
    bool accept(uint8_t k) {
        if (kind() != k) return false;
        advance();
        return true;
    }

    Node* expression();
    Node* unary();
    Node* primary(bool macroPrefix);
    Node* numberLiteral();
    Node* stringLiteral();
    Node* nameOrCall(bool macroPrefix);
    bool items(uint8_t close, NodeList* list);
    Node* item();
    Node* brace();
    Node* block();
    bool subscript(Node* s);
    Node* send(Node* receiver);
    Node* alias(Node* left);
};

// A failure: what was built stays in the arena until the compile ends.
Node* failWith(Node*, Node* = nullptr) { return nullptr; }

Node* Parser::expression() {
    Node* operand = unary();
    if (!operand) return nullptr;
    uint8_t op = kind();
    if (op < TK_ASSIGN || op > TK_POWER) return operand;
    if (op == TK_NOT) return failWith(operand);  // no binary node for .NOT.
    advance();
    if (kind() == TK_END) return failWith(operand);
    if (kind() == TK_NOT && !(op == TK_EQUAL || (op >= TK_ASSIGN && op <= TK_AND))) return failWith(operand);
    Node* right = expression();
    if (!right) return failWith(operand);
    Node* n = newNode(uint8_t(op - 34));
    n->left = operand;
    return combine(n, right);
}

Node* Parser::unary() {
    uint8_t k = kind();
    if (k == TK_NOT) {
        advance();
        if (kind() == TK_END) return nullptr;
        Node* operand = expression();
        if (!operand) return nullptr;
        if (isAssignment(operand->type)) return failWith(operand);
        Node* n = newNode(N_NOT);
        if (operand->type == N_OR || operand->type == N_AND) {
            Node* at = operand;
            while (at->left->type == N_OR || at->left->type == N_AND) at = at->left;
            n->left = at->left;
            at->left = n;
            return operand;
        }
        n->left = operand;
        return n;
    }
    if (k == TK_MINUS || k == TK_PLUS) {
        advance();
        if (kind() == TK_END || kind() == TK_NOT) return nullptr;
        Node* operand = unary();
        if (!operand) return nullptr;
        if (isAssignment(operand->type)) return failWith(operand);
        if (k == TK_PLUS) return operand;
        Node* n = newNode(N_NEGATE);
        n->left = operand;
        return n;
    }
    if (k == TK_INC || k == TK_DEC) {
        advance();
        uint8_t next = kind();
        if (next == TK_END || next == TK_NOT || next == TK_PLUS || next == TK_MINUS) return nullptr;
        Node* operand = unary();
        if (!operand) return nullptr;
        Node* n = newNode(k == TK_INC ? N_PREINC : N_PREDEC);
        n->left = operand;
        return n;
    }
    bool macroPrefix = false;
    if (k == TK_MACRO) {
        macroPrefix = true;
        advance();
        if (kind() == TK_END) return nullptr;
    }
    Node* n = primary(macroPrefix);
    if (!n) return nullptr;
    if (macroPrefix) n->macroPrefix = 1;
    for (;;) {
        if (kind() == TK_LSUB) {
            Node* s = newNode(N_SUBSCRIPT);
            s->left = n;
            n = s;
            if (!subscript(s)) return failWith(n);
        } else if (kind() == TK_SEND) {
            n = send(n);
            if (!n) return nullptr;
            if (kind() == TK_ALIAS) return failWith(n);
        } else if (kind() == TK_ALIAS) {
            switch (n->type) {
            case N_NIL: case N_INT: case N_DOUBLE: case N_EMPTYSTR: case N_STRING:
            case N_BLOCK: case N_LOGICAL: case N_ARRAY: case N_CALL: return failWith(n);
            default: break;
            }
            n = alias(n);
            if (!n) return nullptr;
        } else {
            return n;
        }
    }
}

Node* Parser::primary(bool macroPrefix) {
    switch (kind()) {
    case TK_NIL: advance(); return newNode(N_NIL);
    case TK_IDENT: return nameOrCall(macroPrefix);
    case TK_LPAREN: {
        advance();
        Node* n = newNode(N_LIST);
        if (!items(TK_RPAREN, &n->list) || n->list.count == 0) return failWith(n);
        return n;
    }
    default: break;
    }
    if (macroPrefix) return nullptr;
    switch (kind()) {
    case TK_NUMBER: return numberLiteral();
    case TK_STRING: return stringLiteral();
    case TK_TRUE:
    case TK_FALSE: {
        Node* n = newNode(N_LOGICAL);
        n->value = kind() == TK_TRUE ? 1 : 0;
        advance();
        return n;
    }
    case TK_LBRACE: return brace();
    default: return nullptr;
    }
}

Node* Parser::numberLiteral() {
    const MacroToken& t = cur();
    uint32_t n = t.length > 256 ? 256 : t.length;
    const char* point = static_cast<const char*>(std::memchr(t.text, '.', n));
    if (!point && n <= 4) {
        // the usual small integer, read without going through a double
        uint32_t v = 0;
        for (uint32_t i = 0; i < n; ++i) v = v * 10 + uint32_t(t.text[i] - '0');
        advance();
        if (v == 0) return newNode(N_ZERO);
        if (v == 1) return newNode(N_ONE);
        Node* node = newNode(v < 10000 ? N_WORD : N_INT);
        node->value = uint16_t(v);
        return node;
    }
    double value = textToNumber(t.text, n);
    advance();
    Node* node;
    uint32_t width, decimals = 0;
    if (!point) {
        if (value >= 32768) {
            node = newNode(N_DOUBLE);
        } else {
            if (value == 0) return newNode(N_ZERO);
            if (value == 1) return newNode(N_ONE);
            node = newNode(value < 10000 ? N_WORD : N_INT);
            node->value = uint16_t(value);
            return node;
        }
        width = (n > 9 ? n : 9) + 1;
    } else {
        node = newNode(N_DOUBLE);
        uint32_t before = uint32_t(point - t.text);
        decimals = n - before - 1;
        width = (before > 10 ? before : 10) + decimals + 1;
    }
    // the pcode operands are bytes
    node->width = uint8_t(width > 255 ? 255 : width);
    node->decimals = uint8_t(decimals > 255 ? 255 : decimals);
    node->number = value;
    return node;
}

Node* Parser::stringLiteral() {
    const MacroToken& t = cur();
    advance();
    if (t.length == 2) return newNode(N_EMPTYSTR);
    Node* n = newNode(N_STRING);
    n->textLength = uint32_t(t.length - 2);
    n->text = copyText(t.text + 1, n->textLength);
    return n;
}

Node* Parser::nameOrCall(bool macroPrefix) {
    const MacroToken& t = cur();
    advance();
    if (t.length == 2 && std::memcmp(t.text, "IF", 2) == 0 && kind() != TK_END && kind() != TK_LPAREN)
        return nullptr;
    Node* n;
    if (t.macroFlag) {
        n = newNode(N_STRING);
        n->isMacroText = 1;
        n->evaluate = 1;
        uint32_t prefix = macroPrefix ? 1 : 0;
        n->textLength = t.length + prefix;
        n->text = static_cast<char*>(arenaAlloc(n->textLength + 1));
        n->text[0] = '&';
        std::memcpy(n->text + prefix, t.text, t.length);
        n->text[n->textLength] = 0;
    } else {
        n = newNode(N_IDENT);
        n->textLength = t.length > MACRO_NAME_MAX ? MACRO_NAME_MAX : t.length;
        n->text = copyText(t.text, n->textLength);
    }
    if (macroPrefix && kind() == TK_PERIOD) advance();
    if (kind() != TK_LPAREN) return n;
    advance();
    n->type = N_CALL;
    if (!n->isMacroText && std::strcmp(n->text, "_GET_") == 0) std::memcpy(n->text, "__GET", 5);
    if (!items(TK_RPAREN, &n->list)) return failWith(n);
    return n;
}

// Rule for argument lists: an empty item is NIL.
bool Parser::items(uint8_t close, NodeList* list) {
    if (accept(close)) return true;
    for (;;) {
        if (kind() == TK_COMMA) {
            if (!listAdd(list, newNode(N_NIL))) return false;
        } else {
            Node* n = item();
            if (!n) return false;
            if (!listAdd(list, n)) return false;
            if (accept(close)) return true;
            if (kind() != TK_COMMA) return false;
        }
        advance();  // the comma
        if (accept(close)) return listAdd(list, newNode(N_NIL));
    }
}

Node* Parser::item() {
    if (!accept(TK_BYREF)) return expression();
    Node* n = expression();
    if (!n) return nullptr;
    if (n->type != N_IDENT) return failWith(n);
    n->type = N_BYREF;
    return n;
}

Node* Parser::brace() {
    advance();
    if (kind() == TK_BAR) return block();
    Node* n = newNode(N_ARRAY);
    if (!items(TK_RBRACE, &n->list)) return failWith(n);
    return n;
}

Node* Parser::block() {
    advance();  // the bar
    Node* b = newNode(N_BLOCK);
    if (!accept(TK_BAR)) {
        for (;;) {
            if (kind() != TK_IDENT) return failWith(b);
            const MacroToken& t = cur();
            uint32_t n = t.length > MACRO_PARAM_MAX ? MACRO_PARAM_MAX : t.length;
            for (uint16_t i = 0; i < b->params.count; ++i) {
                const Node* p = b->params.items[i];
                if (p->textLength == n && std::memcmp(p->text, t.text, n) == 0) return failWith(b);
            }
            Node* p = newNode(N_IDENT);
            p->text = copyText(t.text, n);
            p->textLength = n;
            if (!listAdd(&b->params, p)) return failWith(b, p);
            advance();
            if (accept(TK_BAR)) break;
            if (!accept(TK_COMMA)) return failWith(b);
        }
    }
    for (;;) {
        Node* e = expression();
        if (!e) return failWith(b);
        if (!listAdd(&b->list, e)) return failWith(b, e);
        if (accept(TK_RBRACE)) return b;
        if (!accept(TK_COMMA)) return failWith(b);
    }
}

// Indexes up to ']'; a '[' right after it continues the same list.
bool Parser::subscript(Node* s) {
    while (accept(TK_LSUB)) {
        for (;;) {
            Node* e = expression();
            if (!e) return false;
            if (!listAdd(&s->list, e)) return false;
            if (accept(TK_RSUB)) break;
            if (!accept(TK_COMMA)) return false;
        }
    }
    return true;
}

Node* Parser::send(Node* receiver) {
    advance();  // ':'
    Node* s = newNode(N_SEND);
    s->left = receiver;
    if (kind() != TK_IDENT) return failWith(s);
    const MacroToken& t = cur();
    Node* m = newNode(N_IDENT);
    m->textLength = t.length > MACRO_PARAM_MAX ? MACRO_PARAM_MAX : t.length;
    m->text = copyText(t.text, m->textLength);
    s->right = m;
    advance();
    if (accept(TK_LPAREN)) {
        s->hasParentheses = 1;
        if (!items(TK_RPAREN, &s->list)) return failWith(s);
    }
    return s;
}

Node* Parser::alias(Node* left) {
    advance();  // '->'
    Node* a = newNode(N_ALIASED);
    a->left = left;
    if (kind() == TK_IDENT) {
        if (kindAt(pos + 1) == TK_LPAREN) return failWith(a);
        const MacroToken& t = cur();
        Node* f = newNode(N_IDENT);
        f->textLength = t.length > MACRO_NAME_MAX ? MACRO_NAME_MAX : t.length;
        f->text = copyText(t.text, f->textLength);
        a->right = f;
        advance();
        return a;
    }
    if (accept(TK_LPAREN)) {
        a->fieldParenthesised = 1;
        Node* l = newNode(N_LIST);
        a->right = l;
        for (;;) {
            Node* e = expression();
            if (!e) return failWith(a);
            if (!listAdd(&l->list, e)) return failWith(a, e);
            if (accept(TK_RPAREN)) break;
            if (!accept(TK_COMMA)) return failWith(a);
        }
        if (l->list.count == 1) {
            a->right = l->list.items[0];
            l->list.count = 0;
        }
        return a;
    }
    if (accept(TK_MACRO)) {
        a->fieldIsMacro = 1;
        a->right = unary();
        if (!a->right) return failWith(a);
        // the token after the field is passed over, but never the end
        if (kind() != TK_ASSIGN) advance();
        return a;
    }
    return failWith(a);
}

}  // namespace

void releaseTree(Node* n) {
    if (n) checkTree(n);
    arenaReset();
}

Node* parseMacro(MacroToken* tokens) {
    Parser p{tokens, 0};
    Node* root = p.expression();
    if (!root) {
        arenaReset();
        return nullptr;
    }
    // the root must yield a value at the top level
    bool refused = p.kind() != TK_END || isAssignment(root->type) || root->type == N_BYREF ||
                   root->type == N_SEND || root->type == N_EQUAL || root->type == N_PREINC ||
                   root->type == N_PREDEC;
    if (refused) {
        arenaReset();
        return nullptr;
    }
    return root;
}

}  // namespace xb::macro
