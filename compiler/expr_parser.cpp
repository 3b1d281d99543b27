// The expression grammar of compiled code. Precedence, loosest first:
// assignments (right to left), .OR., .AND., .NOT., comparisons, + -, * / %,
// ^ (left to right, as the macro compiler groups it), unary - + ++ --, then
// the postfix forms ([ ], :, ->, ++, --). Numbers get the macro compiler's
// constant classes and widths so that both compile a literal alike.
#include <cmath>
#include <cstdlib>

#include "compiler/ast.h"

namespace xb::xbc {

namespace {

bool isComparison(TokKind k) { return k >= T_EQ && k <= T_DOLLAR; }
bool isAssignOp(TokKind k) { return k >= T_ASSIGN && k <= T_POWASSIGN; }

struct Impl {
    ExprParser& p;

    struct Depth {
        ExprParser& p;
        explicit Depth(ExprParser& q) : p(q) { ++p.depth; }
        ~Depth() { --p.depth; }
        bool tooDeep() const { return p.depth > MAX_EXPR_DEPTH && !p.fail("expression nested too deeply"); }
    };

    const Token& tok() { return p.peek(); }
    Expr* node(ExprKind k, const Token& t) { return p.pool->make(k, p.line, t.col); }

    Expr* assignment() {
        Depth d(p);
        if (d.tooDeep()) return nullptr;
        const Token& first = tok();
        Expr* lhs = orExpr();
        if (!lhs) return nullptr;
        if (isAssignOp(tok().kind)) {
            const Token& opTok = tok();
            if (!isAssignable(lhs)) return p.failAt(opTok.col, "cannot assign to this expression"), nullptr;
            TokKind op = opTok.kind;
            ++p.pos;
            Expr* rhs = assignment();
            if (!rhs) return nullptr;
            Expr* e = node(E_ASSIGN, first);
            e->col = lhs->col;
            e->op = op;
            e->a = lhs;
            e->b = rhs;
            return e;
        }
        return lhs;
    }

    Expr* binaryLeft(Expr* (Impl::*next)(), bool (*match)(TokKind)) {
        Expr* left = (this->*next)();
        while (left && match(tok().kind)) {
            const Token& opTok = tok();
            ++p.pos;
            Expr* right = (this->*next)();
            if (!right) return nullptr;
            Expr* e = node(E_BINARY, opTok);
            e->op = opTok.kind;
            e->a = left;
            e->b = right;
            left = e;
        }
        return left;
    }

    Expr* orExpr() { return binaryLeft(&Impl::andExpr, [](TokKind k) { return k == T_OR; }); }
    Expr* andExpr() { return binaryLeft(&Impl::notExpr, [](TokKind k) { return k == T_AND; }); }
    Expr* notExpr() {
        Depth d(p);
        if (d.tooDeep()) return nullptr;
        if (at(T_NOT)) {
            const Token& t = tok();
            ++p.pos;
            Expr* operand = notExpr();
            if (!operand) return nullptr;
            Expr* e = node(E_NOT, t);
            e->a = operand;
            return e;
        }
        return comparison();
    }
    Expr* comparison() { return binaryLeft(&Impl::additive, isComparison); }
    Expr* additive() {
        return binaryLeft(&Impl::multiplicative, [](TokKind k) { return k == T_PLUS || k == T_MINUS; });
    }
    Expr* multiplicative() {
        return binaryLeft(&Impl::power, [](TokKind k) { return k == T_MULT || k == T_DIV || k == T_MOD; });
    }
    Expr* power() { return binaryLeft(&Impl::unary, [](TokKind k) { return k == T_POW; }); }

    bool at(TokKind k) { return tok().kind == k; }

    Expr* unary() {
        Depth d(p);
        if (d.tooDeep()) return nullptr;
        const Token& t = tok();
        if (t.kind == T_MINUS || t.kind == T_PLUS) {
            ++p.pos;
            if (at(T_NOT)) return p.fail("unexpected .NOT."), nullptr;
            Expr* operand = unary();
            if (!operand) return nullptr;
            if (t.kind == T_PLUS) return operand;
            Expr* e = node(E_NEG, t);
            e->a = operand;
            return e;
        }
        if (t.kind == T_INC || t.kind == T_DEC) {
            ++p.pos;
            Expr* operand = unary();
            if (!operand) return nullptr;
            if (!isAssignable(operand)) return p.failAt(t.col, "++ and -- need a variable"), nullptr;
            Expr* e = node(t.kind == T_INC ? E_PREINC : E_PREDEC, t);
            e->a = operand;
            return e;
        }
        Expr* e = postfix();
        if (e && (at(T_INC) || at(T_DEC))) {
            const Token& o = tok();
            if (!isAssignable(e)) return p.fail("++ and -- need a variable"), nullptr;
            ++p.pos;
            Expr* x = node(o.kind == T_INC ? E_POSTINC : E_POSTDEC, o);
            x->col = e->col;
            x->a = e;
            e = x;
        }
        return e;
    }

    Expr* postfix() {
        Expr* e = primary();
        while (e) {
            const Token& t = tok();
            if (t.kind == T_LBRACK) {
                ++p.pos;
                Expr* x = e->kind == E_INDEX ? e : nullptr;
                if (!x) {
                    x = node(E_INDEX, t);
                    x->col = e->col;
                    x->a = e;
                }
                while (true) {
                    Expr* i = assignment();
                    if (!i) return nullptr;
                    x->list.push_back(i);
                    if (at(T_COMMA)) {
                        ++p.pos;
                        continue;
                    }
                    break;
                }
                if (!at(T_RBRACK)) return p.fail("expected ]"), nullptr;
                ++p.pos;
                e = x;
            } else if (t.kind == T_COLON) {
                ++p.pos;
                if (!at(T_IDENT) || tok().macroName) return p.fail("expected a message name after ':'"), nullptr;
                Expr* s = node(E_SEND, tok());
                s->col = e->col;
                s->text = tok().text;
                s->nameCol = tok().col;
                s->a = e;
                ++p.pos;
                if (at(T_LPAREN)) {
                    ++p.pos;
                    s->parens = true;
                    if (!p.itemList(T_RPAREN, &s->list, true)) return nullptr;
                    ++p.pos;
                }
                e = s;
            } else if (t.kind == T_ALIAS) {
                ++p.pos;
                Expr* a = node(E_ALIAS, t);
                a->col = e->col;
                a->a = e;
                if (at(T_IDENT) && !tok().macroName) {
                    Expr* f = node(E_IDENT, tok());
                    f->text = tok().text;
                    ++p.pos;
                    if (at(T_LPAREN)) return p.fail("a field name cannot be called"), nullptr;
                    a->b = f;
                } else if (at(T_LPAREN)) {
                    Expr* l = node(E_LIST, tok());
                    ++p.pos;
                    if (!p.itemList(T_RPAREN, &l->list, false)) return nullptr;
                    ++p.pos;
                    if (l->list.empty()) return p.fail("empty ( ) after ->"), nullptr;
                    a->fieldParens = true;
                    a->b = l;
                } else {
                    return p.fail("expected a field name or ( after ->"), nullptr;
                }
                e = a;
            } else {
                break;
            }
        }
        return e;
    }

    Expr* number(const Token& t) {
        Expr* e = node(E_NUM, t);
        const std::string& s = t.text;
        size_t point = s.find('.');
        e->number = std::strtod(s.c_str(), nullptr);
        if (point == std::string::npos) {
            e->decimals = 0;
            size_t w = s.size() > 9 ? s.size() : 9;
            e->width = uint8_t(w + 1 > 255 ? 255 : w + 1);
            if (e->number < 32768) {
                e->isInt = true;
                e->intValue = int32_t(e->number);
            }
        } else {
            size_t before = point, dec = s.size() - point - 1;
            size_t w = (before > 10 ? before : 10) + dec + 1;
            e->decimals = uint8_t(dec > 255 ? 255 : dec);
            e->width = uint8_t(w > 255 ? 255 : w);
        }
        return e;
    }

    Expr* primary() {
        const Token& t = tok();
        switch (t.kind) {
        case T_NIL: ++p.pos; return node(E_NIL, t);
        case T_NUM: ++p.pos; return number(t);
        case T_STR: {
            ++p.pos;
            Expr* e = node(E_STR, t);
            e->text = t.text;
            return e;
        }
        case T_TRUE:
        case T_FALSE: {
            ++p.pos;
            Expr* e = node(E_LOGICAL, t);
            e->boolValue = t.kind == T_TRUE;
            return e;
        }
        case T_AMP: {
            ++p.pos;
            if (at(T_LPAREN)) {
                ++p.pos;
                Expr* inner = assignment();
                if (!inner) return nullptr;
                if (!at(T_RPAREN)) return p.fail("expected )"), nullptr;
                ++p.pos;
                Expr* e = node(E_MACROEXPR, t);
                e->a = inner;
                return e;
            }
            if (!at(T_IDENT) || tok().macroName) return p.fail("expected a name or ( after &"), nullptr;
            std::string name = tok().text;
            ++p.pos;
            if (at(T_PERIOD) && !tok().spaceBefore) ++p.pos;  // &name. ends the name
            if (at(T_LPAREN)) {
                ++p.pos;
                Expr* e = node(E_MACROCALL, t);
                e->text = name;
                if (!p.itemList(T_RPAREN, &e->list, true)) return nullptr;
                ++p.pos;
                return e;
            }
            Expr* e = node(E_MACROVAR, t);
            e->text = name;
            return e;
        }
        case T_IDENT: {
            ++p.pos;
            if (t.macroName) {
                Expr* e = node(E_MACROTEXT, t);
                e->text = t.text;
                return e;
            }
            if (at(T_LPAREN)) {
                ++p.pos;
                Expr* e = node(E_CALL, t);
                e->text = t.text;
                if (!p.itemList(T_RPAREN, &e->list, true)) return nullptr;
                ++p.pos;
                if (t.text == "IIF" || t.text == "IF") {
                    if (e->list.size() != 3) return p.failAt(t.col, "IIF needs three arguments"), nullptr;
                    e->kind = E_IIF;
                }
                return e;
            }
            Expr* e = node(E_IDENT, t);
            e->text = t.text;
            return e;
        }
        case T_LPAREN: {
            ++p.pos;
            Expr* e = node(E_LIST, t);
            if (!p.itemList(T_RPAREN, &e->list, false)) return nullptr;
            ++p.pos;
            if (e->list.empty()) return p.failAt(t.col, "empty parentheses"), nullptr;
            for (Expr* x : e->list)
                if (x->kind == E_NIL && x->col == 0) return p.failAt(t.col, "empty item in parentheses"), nullptr;
            return e;
        }
        case T_LBRACE: {
            ++p.pos;
            if (at(T_BAR)) {
                ++p.pos;
                Expr* e = node(E_BLOCK, t);
                while (!at(T_BAR)) {
                    if (!at(T_IDENT) || tok().macroName) return p.fail("expected a block parameter"), nullptr;
                    for (const std::string& q : e->params)
                        if (q == tok().text) return p.fail("block parameter " + q + " given twice"), nullptr;
                    e->params.push_back(tok().text);
                    ++p.pos;
                    if (at(T_COMMA)) {
                        ++p.pos;
                        continue;
                    }
                    if (!at(T_BAR)) return p.fail("expected , or | in the block parameters"), nullptr;
                }
                ++p.pos;
                while (true) {
                    Expr* x = assignment();
                    if (!x) return nullptr;
                    e->list.push_back(x);
                    if (at(T_COMMA)) {
                        ++p.pos;
                        continue;
                    }
                    break;
                }
                if (!at(T_RBRACE)) return p.fail("expected } to end the block"), nullptr;
                ++p.pos;
                return e;
            }
            Expr* e = node(E_ARRAY, t);
            if (!p.itemList(T_RBRACE, &e->list, false)) return nullptr;
            ++p.pos;
            return e;
        }
        case T_END:
        case T_SEMI: return p.fail("expression expected"), nullptr;
        default: return p.fail("unexpected symbol in expression"), nullptr;
        }
    }
};

}  // namespace

const Token& ExprParser::peek(size_t k) const {
    size_t i = pos + k;
    return i < toks->size() ? (*toks)[i] : toks->back();
}

bool ExprParser::fail(const std::string& why) { return failAt(peek().col, why); }

bool ExprParser::failAt(int col, const std::string& why) {
    if (errText.empty()) {
        errCol = col;
        errText = why;
    }
    return false;
}

Expr* ExprParser::expression() {
    Impl impl{*this};
    return impl.assignment();
}

bool ExprParser::itemList(TokKind close, std::vector<Expr*>* out, bool byRef) {
    if (peek().kind == close) return true;
    while (true) {
        const Token& t = peek();
        if (t.kind == T_COMMA || t.kind == close) {
            out->push_back(pool->make(E_NIL, line, 0));  // an empty item (col 0 marks it)
        } else if (t.kind == T_AT && byRef) {
            ++pos;
            if (peek().kind != T_IDENT || peek().macroName) return fail("expected a variable after @");
            Expr* v = pool->make(E_IDENT, line, peek().col);
            v->text = peek().text;
            ++pos;
            Expr* r = pool->make(E_BYREF, line, t.col);
            r->a = v;
            out->push_back(r);
        } else {
            Expr* e = expression();
            if (!e) return false;
            out->push_back(e);
        }
        if (peek().kind == T_COMMA) {
            ++pos;
            continue;
        }
        if (peek().kind == close) return true;
        return fail(close == T_RPAREN ? "expected , or )" : close == T_RBRACE ? "expected , or }" : "expected ,");
    }
}

bool isAssignable(const Expr* e) {
    switch (e->kind) {
    case E_IDENT:
    case E_MACROVAR:
    case E_MACROTEXT:
    case E_INDEX: return true;
    case E_SEND: return !e->parens;
    case E_ALIAS: return !e->fieldParens;
    case E_LIST: return e->list.size() == 1 && isAssignable(e->list[0]);
    default: return false;
    }
}

}  // namespace xb::xbc
