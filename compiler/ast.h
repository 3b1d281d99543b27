// Expression trees of the source compiler and the parser that builds them
// from a statement's tokens. Nodes live in an ExprPool owned by whoever
// parses (one statement at a time); nothing points outside the pool.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "compiler/lexer.h"

namespace xb::xbc {

enum ExprKind : uint8_t {
    E_NIL, E_NUM, E_STR, E_LOGICAL,
    E_IDENT,      // text: the name
    E_MACROVAR,   // &name: text the variable holding the text
    E_MACROEXPR,  // &(expr): a
    E_MACROTEXT,  // a name holding '&' (x&y.): text as written (upper case)
    E_ARRAY,      // list
    E_BLOCK,      // params, list (body)
    E_CALL,       // text name, list args
    E_MACROCALL,  // &name(args): text the variable, list args
    E_SEND,       // a receiver, text message, list args, parens
    E_INDEX,      // a array, list indexes
    E_ALIAS,      // a alias part, b field part (ident or list); fieldParens
    E_NOT, E_NEG, E_PREINC, E_PREDEC, E_POSTINC, E_POSTDEC,  // a
    E_BINARY,     // op (a T_ token), a, b
    E_ASSIGN,     // op (T_ASSIGN..T_POWASSIGN), a target, b value
    E_BYREF,      // a (an identifier)
    E_LIST,       // (e1, e2, ...): list
    E_IIF,        // list of three
};

struct Expr {
    ExprKind kind;
    int line = 0, col = 0;
    TokKind op = T_END;
    bool boolValue = false;
    bool isInt = false;     // E_NUM without a decimal point and below 32768
    int32_t intValue = 0;
    double number = 0;
    uint8_t width = 0, decimals = 0;
    bool parens = false;       // E_SEND: written with parentheses
    int nameCol = 0;           // E_SEND: column of the message name
    bool fieldParens = false;  // E_ALIAS: (expr) field part
    std::string text;
    Expr* a = nullptr;
    Expr* b = nullptr;
    std::vector<Expr*> list;
    std::vector<std::string> params;
};

struct ExprPool {
    std::vector<std::unique_ptr<Expr>> nodes;
    Expr* make(ExprKind k, int line, int col) {
        nodes.push_back(std::make_unique<Expr>());
        Expr* e = nodes.back().get();
        e->kind = k;
        e->line = line;
        e->col = col;
        return e;
    }
    void clear() { nodes.clear(); }
};

// A parser over one statement's tokens; pos advances as tokens are taken.
// On failure errCol/errText say where and why (the first failure wins).
struct ExprParser {
    ExprParser(const std::vector<Token>* t, size_t p, int l, ExprPool* ep) : toks(t), pos(p), line(l), pool(ep) {}
    const std::vector<Token>* toks;
    size_t pos;
    int line;
    ExprPool* pool;
    int errCol = 0;
    std::string errText;
    int depth = 0;  // nesting of the rules being parsed (bounded: no stack overflow)

    const Token& peek(size_t k = 0) const;
    bool at(TokKind k) const { return peek().kind == k; }
    bool fail(const std::string& why);
    bool failAt(int col, const std::string& why);

    // A whole expression, assignments included; null on failure.
    Expr* expression();
    // Items separated by commas up to the closing token (not taken); empty
    // items are NIL; '@name' items allowed when byRef.
    bool itemList(TokKind close, std::vector<Expr*>* out, bool byRef);
};

// Deepest nesting of parentheses, blocks, unary operators and the like.
constexpr int MAX_EXPR_DEPTH = 256;

// True for the targets an assignment can store into.
bool isAssignable(const Expr* e);

}  // namespace xb::xbc
