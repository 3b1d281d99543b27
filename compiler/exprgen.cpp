// Expression code: values, stores, references, calls, sends, blocks and
// aliased references. Shapes shared with the macro compiler (constants,
// inline built-in functions, aliased forms) are the same bytes; what only
// compiled code has is here too: locals and statics by slot, outer locals of
// blocks, .AND./.OR. with short-circuit jumps, and statements that discard
// values without computing a copy (no DUP for an assignment statement).
#include <cstdio>
#include <cstring>

#include "compiler/gen.h"
#include "macro/builtins.h"
#include "vm/opcodes.h"

namespace xb::xbc {

namespace {

// 0 for a token that is no binary operator.
int binaryOpcode(TokKind k) {
    switch (k) {
    case T_EQ: return OP_EQUAL;
    case T_EXEQ: return OP_EXACTEQUAL;
    case T_LT: return OP_LESS;
    case T_GT: return OP_GREATER;
    case T_LE: return OP_LESSEQUAL;
    case T_GE: return OP_GREATEREQUAL;
    case T_NE: return OP_NOTEQUAL;
    case T_DOLLAR: return 170;
    case T_PLUS: case T_PLUSASSIGN: return OP_PLUS;
    case T_MINUS: case T_MINUSASSIGN: return OP_MINUS;
    case T_MULT: case T_MULTASSIGN: return OP_MULT;
    case T_DIV: case T_DIVASSIGN: return OP_DIVIDE;
    case T_MOD: case T_MODASSIGN: return 179;
    case T_POW: case T_POWASSIGN: return 169;
    default: return 0;
    }
}

// An integer constant as the macro compiler classes it (negated integers
// folded); false for anything else.
bool integerConstant(const Expr* e, int32_t* v) {
    if (e->kind == E_NUM && e->isInt) {
        *v = e->intValue;
        return true;
    }
    if (e->kind == E_NEG && e->a->kind == E_NUM && e->a->isInt) {
        *v = -e->a->intValue;
        return true;
    }
    return false;
}

// A subscript the short forms ARRAYGETC/ARRAYPUTC take: a literal 0..9999.
bool constIndex(const Expr* e, int32_t* v) {
    return e->kind == E_NUM && e->isInt && e->intValue <= 9999 && (*v = e->intValue, true);
}

bool nameIs(const std::string& n, std::initializer_list<const char*> names) {
    for (const char* x : names)
        if (n == x) return true;
    return false;
}

bool hasMacroText(const std::string& s) {
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i + 1]);
        if (s[i] == '&' && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_')) return true;
    }
    return false;
}

}  // namespace

void ProcGen::pushInteger(int32_t v) {
    if (v == 0) emitOp(OP_ZERO);
    else if (v == 1) emitOp(OP_ONE);
    else if (v >= 2 && v <= 9999) emitN(OP_PUSHWORD, v);
    else if (v >= -32768 && v <= 32767) emitN(OP_PUSHINT, v);
    else {
        double d = v;
        uint8_t bits[8];
        std::memcpy(bits, &d, sizeof bits);
        emitDouble(10, 0, bits);
    }
}

void ProcGen::pushNumber(const Expr* e) {
    if (e->isInt) return pushInteger(e->intValue);
    uint8_t bits[8];
    std::memcpy(bits, &e->number, sizeof bits);
    emitDouble(e->width, e->decimals, bits);
}

void ProcGen::pushString(const std::string& s) {
    if (s.empty()) return emitOp(OP_PUSHEMPTYSTR);
    // Longer texts are pieces of at most 255 bytes joined with PLUS.
    for (size_t at = 0; at < s.size(); at += 255) {
        emitString(s.data() + at, s.size() - at < 255 ? s.size() - at : 255);
        if (at) emitOp(OP_PLUS);
    }
}

bool ProcGen::resolve(const std::string& name, VarInfo* out, Expr* at) {
    auto it = vars.find(name);
    if (it != vars.end()) {
        *out = it->second;
        return true;
    }
    auto ft = mod->fileVars.find(name);
    if (ft != mod->fileVars.end()) {
        *out = ft->second;
        return true;
    }
    if (mod->warnings && at) mod->warning(at->line, at->col, "variable " + name + " is not declared");
    return false;
}

// Block parameters first (innermost block only; an enclosing block's
// parameters are not reachable from a nested block), then the procedure's
// variables, the file's, and last the name at run time.
void ProcGen::pushIdent(Expr* e) {
    const std::string& n = e->text;
    for (size_t b = blocks.size(); b-- > 0;) {
        auto& ps = blocks[b]->params;
        for (size_t i = 0; i < ps.size(); ++i)
            if (ps[i] == n) {
                if (b + 1 != blocks.size()) return errorAt(e, "parameter " + n + " of an enclosing block cannot be used in a nested block");
                return emitN(OP_PUSHLOCAL, i + 1);
            }
    }
    VarInfo v;
    if (!resolve(n, &v, e)) return emitSym(OP_PUSHVARIABLE, sym(n, e));
    switch (v.kind) {
    case V_LOCAL:
        if (blocks.empty()) return emitN(OP_PUSHLOCAL, v.index);
        for (BlockScope* b : blocks) b->usesOuter = true;
        return emitN(OP_PUSHOUTER, v.index);
    case V_STATIC: usesStatics = true; return emitN(OP_PUSHSTATIC, v.index);
    case V_MEMVAR: return emitSym(OP_PUSHMEMVAR, sym(n, e));
    case V_FIELD:
        if (v.alias.empty()) return emitSym(OP_PUSHFIELD, sym(n, e));
        emitSym(OP_PUSHALIAS, sym(v.alias, e));
        return emitSym(OP_PUSHALIASFIELD, sym(n, e));
    }
}

void ProcGen::storeIdent(Expr* e) {
    const std::string& n = e->text;
    for (size_t b = blocks.size(); b-- > 0;) {
        auto& ps = blocks[b]->params;
        for (size_t i = 0; i < ps.size(); ++i)
            if (ps[i] == n) {
                if (b + 1 != blocks.size()) return errorAt(e, "parameter " + n + " of an enclosing block cannot be used in a nested block");
                return emitN(OP_POPLOCAL, i + 1);
            }
    }
    VarInfo v;
    if (!resolve(n, &v, e)) return emitSym(OP_POPMEMVAR, sym(n, e));
    switch (v.kind) {
    case V_LOCAL:
        if (blocks.empty()) return emitN(OP_POPLOCAL, v.index);
        for (BlockScope* b : blocks) b->usesOuter = true;
        return emitN(OP_POPOUTER, v.index);
    case V_STATIC: usesStatics = true; return emitN(OP_POPSTATIC, v.index);
    case V_MEMVAR: return emitSym(OP_POPMEMVAR, sym(n, e));
    case V_FIELD:
        if (v.alias.empty()) return emitSym(OP_POPFIELD, sym(n, e));
        emitSym(OP_PUSHALIAS, sym(v.alias, e));
        return emitSym(OP_POPALIASFIELD, sym(n, e));
    }
}

void ProcGen::pushRef(Expr* e) {
    if (e->kind != E_IDENT) return errorAt(e, "only a variable can be passed by reference");
    const std::string& n = e->text;
    for (size_t b = blocks.size(); b-- > 0;) {
        auto& ps = blocks[b]->params;
        for (size_t i = 0; i < ps.size(); ++i)
            if (ps[i] == n) {
                if (b + 1 != blocks.size()) return errorAt(e, "parameter " + n + " of an enclosing block cannot be used in a nested block");
                return emitN(OP_PUSHLOCALREF, i + 1);
            }
    }
    VarInfo v;
    if (!resolve(n, &v, e)) return emitSym(OP_PUSHMEMVARREF, sym(n, e));
    switch (v.kind) {
    case V_LOCAL:
        if (blocks.empty()) return emitN(OP_PUSHLOCALREF, v.index);
        for (BlockScope* b : blocks) b->usesOuter = true;
        return emitN(OP_PUSHOUTERREF, v.index);
    case V_STATIC: usesStatics = true; return emitN(OP_PUSHSTATICREF, v.index);
    case V_MEMVAR: return emitSym(OP_PUSHMEMVARREF, sym(n, e));
    case V_FIELD: return errorAt(e, "a field cannot be passed by reference");
    }
}

void ProcGen::list(Expr* e) {
    for (size_t i = 0; i < e->list.size(); ++i) {
        if (i) emitOp(OP_POP);
        push(e->list[i]);
    }
}

namespace {
// Bounds the generator's recursion: a chain like 1+1+...+1 nests to the left.
struct GenDepth {
    int& d;
    explicit GenDepth(int& x) : d(x) { ++d; }
    ~GenDepth() { --d; }
};
constexpr int MAX_GEN_DEPTH = 1000;
}  // namespace

void ProcGen::push(Expr* e) {
    GenDepth depth(genDepth);
    if (genDepth > MAX_GEN_DEPTH) {
        if (genDepth == MAX_GEN_DEPTH + 1) errorAt(e, "expression too complex");
        return;
    }
    switch (e->kind) {
    case E_NIL: return emitOp(OP_PUSHNIL);
    case E_NUM: return pushNumber(e);
    case E_STR:
        pushString(e->text);
        if (hasMacroText(e->text)) emitOp(148);
        return;
    case E_LOGICAL: return emitOp(e->boolValue ? OP_TRUE : OP_FALSE);
    case E_IDENT: return pushIdent(e);
    case E_MACROVAR: {
        Expr name = *e;
        name.kind = E_IDENT;
        pushIdent(&name);
        return emitOp(145);
    }
    case E_MACROEXPR: push(e->a); return emitOp(145);
    case E_MACROTEXT: pushString(e->text); return emitOp(145);
    case E_ARRAY:
        if (e->list.size() > 65535) return errorAt(e, "array literal with more than 65535 elements");
        for (Expr* x : e->list) push(x);
        return emitN(OP_ARRAYGEN, e->list.size());
    case E_BLOCK: return block(e);
    case E_CALL:
    case E_MACROCALL: return call(e, true);
    case E_SEND: return send(e, true);
    case E_INDEX: {
        push(e->a);
        for (Expr* i : e->list) {
            int32_t v;
            if (constIndex(i, &v)) {
                emitN(OP_ARRAYGETC, v);
            } else {
                push(i);
                emitOp(OP_ARRAYGET);
            }
        }
        return;
    }
    case E_ALIAS: return aliased(e, false);
    case E_NOT: push(e->a); return emitOp(OP_NOT);
    case E_NEG: {
        int32_t v;
        if (integerConstant(e, &v)) return pushInteger(v);
        push(e->a);
        return emitOp(OP_NEGATE);
    }
    case E_PREINC:
    case E_PREDEC:
    case E_POSTINC:
    case E_POSTDEC: return incDec(e, true);
    case E_BINARY: {
        if (e->op == T_AND || e->op == T_OR) {
            std::string end = newLabel();
            push(e->a);
            emitJump(e->op == T_AND ? OP_JUMPFALSEKEEP : OP_JUMPTRUEKEEP, end);
            push(e->b);
            return label(end);
        }
        push(e->a);
        push(e->b);
        return emitOp(binaryOpcode(e->op));
    }
    case E_ASSIGN: return assign(e, true);
    case E_BYREF: return pushRef(e->a);
    case E_LIST: return list(e);
    case E_IIF: {
        std::string otherwise = newLabel(), end = newLabel();
        push(e->list[0]);
        emitJump(OP_JUMPFALSE, otherwise);
        push(e->list[1]);
        emitJump(OP_JUMP, end);
        label(otherwise);
        push(e->list[2]);
        return label(end);
    }
    }
}

void ProcGen::statementExpr(Expr* e) {
    switch (e->kind) {
    case E_CALL:
    case E_MACROCALL: return call(e, false);
    case E_SEND: return send(e, false);
    case E_ASSIGN: return assign(e, false);
    case E_PREINC:
    case E_PREDEC:
    case E_POSTINC:
    case E_POSTDEC: return incDec(e, false);
    case E_BINARY:
        if (e->op == T_EQ && isAssignable(e->a)) {  // `x = value` as a statement assigns
            Expr a = *e;
            a.kind = E_ASSIGN;
            a.op = T_ASSIGN;
            return assign(&a, false);
        }
        break;
    case E_LIST:
        for (Expr* x : e->list) statementExpr(x);
        return;
    default: break;
    }
    push(e);
    emitOp(OP_POP);
}

void ProcGen::condition(Expr* e, const std::string& falseLabel) {
    int32_t v;
    if (e->kind == E_BINARY && e->op == T_EXEQ && integerConstant(e->b, &v)) {
        push(e->a);
        pushInteger(v);
        return emitJump(OP_JUMPNOTEQUAL, falseLabel);
    }
    push(e);
    emitJump(OP_JUMPFALSE, falseLabel);
}

static Expr* unwrap(Expr* t) {
    while (t->kind == E_LIST && t->list.size() == 1) t = t->list[0];
    return t;
}

void ProcGen::store(Expr* target) {
    Expr* t = unwrap(target);
    switch (t->kind) {
    case E_IDENT: return storeIdent(t);
    case E_MACROVAR: {
        Expr name = *t;
        name.kind = E_IDENT;
        pushIdent(&name);
        return emitOp(150);
    }
    case E_MACROTEXT: pushString(t->text); return emitOp(150);
    case E_INDEX: {
        push(t->a);
        for (size_t k = 0; k < t->list.size(); ++k) {
            Expr* i = t->list[k];
            int32_t v;
            bool last = k + 1 == t->list.size();
            if (constIndex(i, &v)) {
                emitN(last ? OP_ARRAYPUTC : OP_ARRAYGETC, v);
            } else {
                push(i);
                emitOp(last ? OP_ARRAYPUT : OP_ARRAYGET);
            }
        }
        return;
    }
    case E_ALIAS: return aliased(t, true);
    default: return errorAt(t, "cannot assign to this expression");
    }
}

void ProcGen::assign(Expr* e, bool valueWanted) {
    Expr* t = unwrap(e->a);
    bool compound = e->op != T_ASSIGN;
    if (t->kind == E_SEND) {
        std::string msg = t->text.substr(0, 57);
        emitSym(OP_PUSHSYM, sym("_" + msg, t->line, t->nameCol));
        push(t->a);
        if (compound) {
            emitSym(OP_PUSHSYM, sym(msg, t->line, t->nameCol));
            push(t->a);
            emitN(OP_SEND, 0);
        }
        push(e->b);
        if (compound) emitOp(binaryOpcode(e->op));
        emitN(OP_SEND, 1);
        if (!valueWanted) emitOp(OP_POP);
        return;
    }
    if (compound) push(t);
    push(e->b);
    if (compound) emitOp(binaryOpcode(e->op));
    if (valueWanted) emitOp(OP_DUP);
    store(t);
}

void ProcGen::incDec(Expr* e, bool valueWanted) {
    Expr* t = unwrap(e->a);
    bool inc = e->kind == E_PREINC || e->kind == E_POSTINC;
    bool post = e->kind == E_POSTINC || e->kind == E_POSTDEC;
    if (t->kind == E_SEND) {
        if (valueWanted && post) return errorAt(e, "postfix ++ or -- of a message cannot give a value");
        emitSym(OP_PUSHSYM, sym("_" + t->text.substr(0, 57), t->line, t->nameCol));
        push(t->a);
        emitSym(OP_PUSHSYM, sym(t->text.substr(0, 57), t->line, t->nameCol));
        push(t->a);
        emitN(OP_SEND, 0);
        emitOp(inc ? OP_INC : OP_DEC);
        emitN(OP_SEND, 1);
        if (!valueWanted) emitOp(OP_POP);
        return;
    }
    push(t);
    if (valueWanted && post) emitOp(OP_DUP);
    emitOp(inc ? OP_INC : OP_DEC);
    if (valueWanted && !post) emitOp(OP_DUP);
    store(t);
}

void ProcGen::call(Expr* e, bool valueWanted) {
    size_t n = e->list.size();
    if (n > 255) return errorAt(e, "more than 255 arguments");
    if (e->kind == E_MACROCALL) {
        Expr name = *e;
        name.kind = E_IDENT;
        pushIdent(&name);
        emitOp(154);
        emitOp(OP_PUSHNIL);
        for (Expr* a : e->list) push(a);
        return emitN(valueWanted ? OP_FUNC : OP_DO, int64_t(n));
    }
    if (const macro::Builtin* b = macro::findBuiltin(e->text.c_str())) {
        uint8_t op = macro::builtinOpcode(*b, uint32_t(n));
        if (!op) return errorAt(e, "wrong number of arguments to " + e->text);
        // Opcodes without a handler are called by name instead.
        bool byName = (op >= 200 && op <= 204) || op == 207;
        if (!byName) {
            int32_t c;
            if (op == 159 && integerConstant(e->list[0], &c) && c >= 0 && c <= 255) {
                pushString(std::string(1, char(c)));  // CHR(constant): the one-byte text
            } else if (op == OP_EVALSEND) {
                emitSym(OP_PUSHSYM, sym("EVAL", e));
                for (Expr* a : e->list) push(a);
                emitN(OP_EVALSEND, n - 1);
            } else {
                for (Expr* a : e->list) push(a);
                emitOp(op);
            }
            if (!valueWanted) emitOp(OP_POP);
            return;
        }
    }
    emitSym(OP_PUSHSYMNIL, sym(e->text, e));
    for (Expr* a : e->list) push(a);
    emitN(valueWanted ? OP_FUNC : OP_DO, int64_t(n));
}

void ProcGen::send(Expr* e, bool valueWanted) {
    size_t n = e->list.size();
    if (n > 255) return errorAt(e, "more than 255 arguments");
    std::string msg = e->text.substr(0, 57);
    emitSym(OP_PUSHSYM, sym(msg, e->line, e->nameCol));
    push(e->a);
    for (Expr* a : e->list) push(a);
    emitN(msg == "EVAL" ? OP_EVALSEND : OP_SEND, int64_t(n));
    if (!valueWanted) emitOp(OP_POP);
}

void ProcGen::block(Expr* e) {
    if (e->params.size() > 255) return errorAt(e, "more than 255 block parameters");
    BlockScope scope{e->params, false};
    blocks.push_back(&scope);
    openBlock();
    if (!e->params.empty()) emitPair(OP_FRAME, int64_t(e->params.size()), 0);
    emitLine(line);
    list(e);
    emitOp(OP_ENDBLOCK);
    closeBlock();
    blocks.pop_back();
    if (scope.usesOuter) emitOp(OP_DETACHLOCALS);
}

// alias->field, alias->(expr), (expr)->field, M->var, FIELD->name, n->field,
// &var->field. Only the last alias of a chain (a->b->c) counts.
void ProcGen::aliased(Expr* e, bool isStore) {
    Expr* alias = e->a;
    while (alias->kind == E_ALIAS) alias = alias->b;
    Expr* field = e->b;
    if (e->fieldParens) {
        if (isStore) return errorAt(e, "cannot assign to an aliased expression");
        if (alias->kind == E_IDENT) emitSym(OP_PUSHALIAS, sym(alias->text, alias));
        else push(alias);
        emitOp(126);
        list(field);
        return emitOp(127);
    }
    const std::string& f = field->text;
    int32_t v;
    if (alias->kind == E_IDENT) {
        const std::string& a = alias->text;
        if (isStore ? a == "M" : nameIs(a, {"M", "MEMV", "MEMVA", "MEMVAR"}))
            return emitSym(isStore ? OP_POPMEMVAR : OP_PUSHMEMVAR, sym(f, field));
        if (isStore ? nameIs(a, {"FIELD", "_FIELD"}) : nameIs(a, {"_FIE", "_FIEL", "_FIELD", "FIEL", "FIELD"}))
            return emitSym(isStore ? OP_POPFIELD : OP_PUSHFIELD, sym(f, field));
        emitSym(OP_PUSHALIAS, sym(a, alias));
    } else if (alias->kind == E_NUM && constIndex(alias, &v)) {
        pushInteger(v);
    } else if (alias->kind == E_MACROVAR) {
        Expr name = *alias;
        name.kind = E_IDENT;
        pushIdent(&name);
        emitOp(146);
    } else if (alias->kind == E_LIST) {
        push(alias);
        pushString(f);
        return emitOp(isStore ? 152 : 153);
    } else {
        return errorAt(alias, "an alias must be a name, a number or a parenthesised expression");
    }
    emitSym(isStore ? OP_POPALIASFIELD : OP_PUSHALIASFIELD, sym(f, field));
}

bool ProcGen::isConstant(const Expr* e) const {
    switch (e->kind) {
    case E_NIL: case E_NUM: case E_STR: case E_LOGICAL: return !(e->kind == E_STR && hasMacroText(e->text));
    case E_NEG: case E_NOT: return isConstant(e->a);
    case E_BINARY: return isConstant(e->a) && isConstant(e->b);
    case E_ARRAY: case E_LIST:
        for (const Expr* x : e->list)
            if (!isConstant(x)) return false;
        return true;
    case E_CALL: {
        int32_t c;
        return e->text == "CHR" && e->list.size() == 1 && integerConstant(e->list[0], &c);
    }
    default: return false;
    }
}

}  // namespace xb::xbc
