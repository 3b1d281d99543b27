// Statements and procedures. Shapes (the pcode of each statement):
//   every procedure   LINE 0; [FRAME p l]; [STATICSBASE STATICS$]; body; [out:] ENDPROC
//   a statement       LINE n, then its code; ELSE, ELSEIF, ENDIF, ENDDO, NEXT,
//                     OTHERWISE, ENDCASE, RECOVER and END get no LINE
//   IF c              c; JUMPFALSE next (JUMPNOTEQUAL when c is x == integer)
//   ELSEIF/ELSE       JUMP end; next: ... (ELSEIF tests without a LINE)
//   DO WHILE c        LINE n; head: IDLE; c; JUMPFALSE exit; body; JUMP head; exit:
//   FOR v := a TO b [STEP s]
//                     LINE n; a; POP v; head: IDLE; the test; JUMPFALSE exit;
//                     body; step: v + s (INC without STEP); POP v; JUMP head; exit:
//                     The test is v <= b (v >= b for a negative constant step);
//                     a step that is not a constant is tested at run time:
//                     s < 0 chooses v >= b. The limit and step are evaluated
//                     on every turn.
//   DO CASE           each CASE: LINE n; c; JUMPFALSE next; body; JUMP end (when
//                     another CASE or OTHERWISE follows)
//   BEGIN SEQUENCE    LINE n; SEQBEGIN recover; body; SEQEND; JUMP end;
//                     recover: [PUSHRET; POP v]; recovery; end:
//   RETURN [x]        LINE n; [x; POPRET]; SEQEND for each open sequence; JUMP out
//   EXIT / LOOP       LINE n; SEQEND for each sequence opened inside the loop; JUMP
//   LOCAL x := v      LINE n; v; POP x (nothing for a LOCAL without initialiser)
//   PUBLIC/PRIVATE    LINE n; then for each name in turn: [v;] PUSHSYM x;
//                     PUBLIC 1 (PRIVATE 1); [POPMEMVAR x]
//   PARAMETERS a, b   LINE n; PUSHSYM a; PUSHSYM b; PARAMETERS 2 (FRAME counts them)
//   ? / ??            PUSHSYMNIL QOUT (QQOUT); the values; DO n
//   DO name WITH ...  PUSHSYMNIL name; arguments (plain variables by reference); DO n
//   a call            PUSHSYMNIL f; arguments; DO n
//   x := v, x += v    v; POP x (x; v; PLUS; POP x): no DUP for a statement
//   a procedure without RETURN simply ends with ENDPROC (NIL is returned).
// File statics are set by the module's STATICS$ procedure: LINE 0; count;
// STATICSALLOC STATICS$; STATICSBASE STATICS$; for each initialiser LINE n;
// value; POPSTATIC i; ENDPROC. STATICS$ is the module's last table entry.
#include "compiler/stmt.h"

#include <algorithm>
#include <cstring>

#include "vm/opcodes.h"

namespace xb::xbc {

namespace {

// Keyword k written as w: in full, or abbreviated to four letters or more.
// Every statement's first word meets many keywords: most differ at once.
bool kw(const std::string& w, const char* k) {
    if (w.empty() || w[0] != k[0]) return false;
    size_t n = std::strlen(k);
    if (w.size() == n) return std::memcmp(w.data(), k, n) == 0;
    return w.size() >= 4 && w.size() < n && std::memcmp(w.data(), k, w.size()) == 0;
}

struct StatementCompiler {
    ModuleGen* mod = nullptr;
    ProcGen* proc = nullptr;
    std::vector<std::unique_ptr<ProcGen>> done;
    bool anyProcedure = false;  // a PROCEDURE/FUNCTION line was met
    ExprPool pool;
    std::vector<Token> toks;
    std::vector<Token> lineTokens;
    int line = 0;

    void error(int col, const std::string& m) {
        if (proc) proc->failed = true;
        mod->error(line, col, m);
    }

    // ----- procedures -----

    void finishProc() {
        if (!proc) return;
        for (auto it = proc->controls.rbegin(); it != proc->controls.rend(); ++it) {
            static const char* names[] = {"IF", "DO WHILE", "FOR", "DO CASE", "BEGIN SEQUENCE"};
            mod->error(it->line, 0, std::string(names[it->kind]) + " is not closed");
        }
        ProcGen& p = *proc;
        if (p.paramCount + p.localCount > 255)
            mod->error(line, 0, "more than 255 parameters and locals in " + p.name);
        // The head goes before the body, the end after it; both at no source line.
        ProcCode code;
        code.name = p.name;
        std::vector<Instr> body = std::move(p.body);
        p.body.clear();
        p.line = 0;
        p.col = 0;
        p.emitLine(0);
        if (p.paramCount + p.localCount) p.emitPair(OP_FRAME, p.paramCount, p.localCount);
        if (p.usesStatics) p.emitSym(OP_STATICSBASE, "STATICS$");
        code.code = std::move(p.body);
        code.code.reserve(code.code.size() + body.size() + 2);
        for (Instr& i : body) code.code.push_back(std::move(i));
        p.body.clear();
        p.label("out");
        p.emitOp(OP_ENDPROC);
        for (Instr& i : p.body) code.code.push_back(std::move(i));
        assembleProc(mod, std::move(code));
        done.push_back(std::unique_ptr<ProcGen>(proc));
        proc = nullptr;
    }

    ProcGen* startProc(const std::string& name, uint8_t scope, int col) {
        finishProc();
        SymbolEntry& s = mod->symbol(name);
        if (s.isProc) {
            mod->error(line, col, "procedure " + name + " is defined twice (first at line " +
                                      std::to_string(s.defLine) + ")");
        } else {
            s.isProc = true;
            s.scope = scope;
            s.defLine = line;
        }
        proc = new ProcGen();
        proc->mod = mod;
        proc->name = name;
        proc->line = line;
        return proc;
    }

    // The procedure that statements before the first PROCEDURE belong to.
    void ensureProc(int col) {
        if (!proc) startProc(mod->moduleName, SCOPE_PUBLIC, col);
    }

    // ----- token helpers -----

    size_t pos = 0;
    const Token& tk(size_t k = 0) { return toks[std::min(pos + k, toks.size() - 1)]; }
    bool atEnd() { return tk().kind == T_END; }
    bool isWord(size_t k, const char* w) { return tk(k).kind == T_IDENT && tk(k).text == w; }

    Expr* parseExpr() {
        ExprParser p(&toks, pos, line, &pool);
        Expr* e = p.expression();
        pos = p.pos;
        if (!e) error(p.errCol, p.errText);
        return e;
    }

    bool expectEnd() {
        if (atEnd()) return true;
        error(tk().col, "unexpected text after the statement");
        return false;
    }

    std::string name(const char* what) {
        if (tk().kind != T_IDENT || tk().macroName) {
            error(tk().col, std::string("expected ") + what);
            return "";
        }
        return toks[pos++].text;
    }

    void emitLine() { proc->emitLine(line); }

    // ----- statements -----

    void statement() {
        pos = 0;
        const Token& t0 = tk();
        if (t0.kind == T_END) return;
        if (proc) {
            proc->line = line;
            proc->col = t0.col;
            proc->failed = false;
        }
        if (t0.kind == T_QUESTION || t0.kind == T_QQ) return qout(t0.kind == T_QQ);
        if (t0.kind == T_IDENT && !t0.macroName && isKeywordPosition()) {
            const std::string& w = t0.text;
            if (w == "INIT" && tk(1).kind == T_IDENT && kw(tk(1).text, "PROCEDURE")) return procedure(1, SCOPE_INIT);
            if (w == "EXIT" && tk(1).kind == T_IDENT && kw(tk(1).text, "PROCEDURE")) return procedure(1, SCOPE_EXIT);
            if (kw(w, "STATIC") && tk(1).kind == T_IDENT &&
                (kw(tk(1).text, "PROCEDURE") || kw(tk(1).text, "FUNCTION")))
                return procedure(1, SCOPE_STATIC);
            if (kw(w, "PROCEDURE") || kw(w, "FUNCTION")) return procedure(0, SCOPE_PUBLIC);
            if (kw(w, "LOCAL")) return local();
            if (kw(w, "STATIC")) return staticDecl();
            if (kw(w, "MEMVAR")) return memvarDecl();
            if (kw(w, "FIELD")) return fieldDecl();
            if (kw(w, "REQUEST")) return request();
            if (kw(w, "PRIVATE")) return memvarCreate(OP_PRIVATE);
            if (kw(w, "PUBLIC")) return memvarCreate(OP_PUBLIC);
            if (kw(w, "PARAMETERS")) return parameters();
            if (w == "IF") return ifStmt();
            if (w == "ELSEIF") return elseIf();
            if (w == "ELSE") return elseStmt();
            if (kw(w, "ENDIF")) return endStmt(Control::IF, "ENDIF");
            if (w == "DO" && isWord(1, "WHILE")) return whileStmt(2);
            if (kw(w, "WHILE")) return whileStmt(1);
            if (kw(w, "ENDDO")) return endStmt(Control::WHILE, "ENDDO");
            if (w == "DO" && isWord(1, "CASE")) return doCase();
            if (w == "CASE") return caseStmt();
            if (kw(w, "OTHERWISE")) return otherwise();
            if (kw(w, "ENDCASE")) return endStmt(Control::CASE, "ENDCASE");
            if (w == "FOR") return forStmt();
            if (w == "NEXT") return endStmt(Control::FOR, "NEXT");
            if (w == "EXIT") return exitLoop(true);
            if (w == "LOOP") return exitLoop(false);
            if (kw(w, "BEGIN") && tk(1).kind == T_IDENT && kw(tk(1).text, "SEQUENCE")) return beginSequence();
            if (kw(w, "RECOVER")) return recover();
            if (w == "END") return endAny();
            if (kw(w, "BREAK")) return breakStmt();
            if (kw(w, "RETURN")) return returnStmt();
            if (w == "DO" && tk(1).kind == T_IDENT) return doProc();
        }
        exprStatement();
    }

    // A leading word is a keyword unless what follows makes it a variable
    // or a call (x := 1, x[1], x:msg, x->f, x++, f(...)).
    bool isKeywordPosition() {
        TokKind k = tk(1).kind;
        if ((k >= T_ASSIGN && k <= T_POWASSIGN) || k == T_EQ || k == T_LBRACK || k == T_COLON || k == T_ALIAS)
            return false;
        if (k == T_INC || k == T_DEC) return tk(2).kind == T_IDENT;  // RETURN ++n, but n++
        if (k == T_LPAREN) {
            const std::string& w = tk().text;
            return w == "IF" || w == "ELSEIF" || w == "CASE" || kw(w, "WHILE") || kw(w, "RETURN") || kw(w, "BREAK");
        }
        return true;
    }

    void executable() {
        ensureProc(tk().col);
        proc->sawExecutable = true;
        if (proc->returned && mod->warnings) mod->warning(line, tk().col, "unreachable code");
        proc->returned = false;
    }

    void procedure(size_t skip, uint8_t scope) {
        pos = skip + 1;
        int col = tk().col;
        std::string n = name("a procedure name");
        if (n.empty()) return;
        if (scope == SCOPE_INIT || scope == SCOPE_EXIT) n = n.substr(0, NAME_MAX_LEN - 1) + "$";
        anyProcedure = true;
        ProcGen* p = startProc(n, scope, col);
        if (tk().kind == T_LPAREN) {
            ++pos;
            std::vector<std::string> params;
            while (tk().kind != T_RPAREN) {
                int pc = tk().col;
                std::string q = name("a parameter name");
                if (q.empty()) return;
                if (std::find(params.begin(), params.end(), q) != params.end())
                    return error(pc, "parameter " + q + " given twice");
                params.push_back(q);
                if (tk().kind == T_COMMA) ++pos;
                else if (tk().kind != T_RPAREN) return error(tk().col, "expected , or )");
            }
            ++pos;
            for (size_t i = 0; i < params.size(); ++i) p->vars[params[i]] = VarInfo{V_LOCAL, int(i + 1), {}};
            p->paramCount = int(params.size());
        }
        expectEnd();
    }

    void declarationCheck(const char* what) {
        if (proc && proc->sawExecutable)
            error(tk().col, std::string(what) + " declaration follows executable statements");
    }

    void local() {
        ensureProc(tk().col);
        declarationCheck("LOCAL");
        pos = 1;
        bool lineDone = false;
        while (true) {
            int col = tk().col;
            std::string n = name("a variable name");
            if (n.empty()) return;
            if (proc->vars.count(n) && proc->vars[n].kind == V_LOCAL)
                return error(col, "variable " + n + " is declared twice");
            proc->vars[n] = VarInfo{V_LOCAL, proc->paramCount + ++proc->localCount, {}};
            Expr target;
            target.kind = E_IDENT;
            target.text = n;
            target.line = line;
            target.col = col;
            if (tk().kind == T_LBRACK) {  // LOCAL a[n, m]: an array of that shape
                ++pos;
                ExprParser p(&toks, pos, line, &pool);
                std::vector<Expr*> dims;
                if (!p.itemList(T_RBRACK, &dims, false)) return error(p.errCol, p.errText);
                pos = p.pos + 1;
                if (!lineDone) emitLine(), lineDone = true;
                for (Expr* d : dims) proc->push(d);
                proc->emitN(OP_ARRAYDIM, dims.size());
                proc->store(&target);
            } else if (tk().kind == T_ASSIGN || tk().kind == T_EQ) {
                ++pos;
                Expr* v = parseExpr();
                if (!v) return;
                if (!lineDone) emitLine(), lineDone = true;
                proc->push(v);
                proc->store(&target);
            }
            if (tk().kind == T_COMMA) {
                ++pos;
                continue;
            }
            expectEnd();
            return;
        }
    }

    void staticDecl() {
        staticItems();
        // The initialisers' nodes live as long as the module, also when the
        // statement failed after one of them was recorded.
        for (auto& n : pool.nodes) mod->staticPool.nodes.push_back(std::move(n));
        pool.nodes.clear();
    }

    void staticItems() {
        bool fileLevel = !proc;
        declarationCheck("STATIC");
        pos = 1;
        while (true) {
            int col = tk().col;
            std::string n = name("a variable name");
            if (n.empty()) return;
            auto& scope = fileLevel ? mod->fileVars : proc->vars;
            if (scope.count(n) && scope[n].kind == V_STATIC) return error(col, "variable " + n + " is declared twice");
            int slot = ++mod->staticCount;
            scope[n] = VarInfo{V_STATIC, slot, {}};
            if (tk().kind == T_ASSIGN || tk().kind == T_EQ) {
                ++pos;
                Expr* v = parseExpr();
                if (!v) return;
                ProcGen probe;
                if (!probe.isConstant(v)) return mod->error(line, v->col, "STATIC " + n + " needs a constant initialiser");
                mod->staticInits.push_back({slot, line, v});
            }
            if (tk().kind == T_COMMA) {
                ++pos;
                continue;
            }
            expectEnd();
            return;
        }
    }

    void memvarDecl() {
        declarationCheck("MEMVAR");
        pos = 1;
        auto& scope = proc ? proc->vars : mod->fileVars;
        while (true) {
            std::string n = name("a variable name");
            if (n.empty()) return;
            scope[n] = VarInfo{V_MEMVAR, 0, {}};
            if (tk().kind != T_COMMA) break;
            ++pos;
        }
        expectEnd();
    }

    void fieldDecl() {
        declarationCheck("FIELD");
        pos = 1;
        std::vector<std::string> names;
        while (true) {
            std::string n = name("a field name");
            if (n.empty()) return;
            names.push_back(n);
            if (tk().kind != T_COMMA) break;
            ++pos;
        }
        std::string alias;
        if (isWord(0, "IN")) {
            ++pos;
            alias = name("an alias");
            if (alias.empty()) return;
        }
        if (!expectEnd()) return;
        auto& scope = proc ? proc->vars : mod->fileVars;
        for (const std::string& n : names) scope[n] = VarInfo{V_FIELD, 0, alias};
    }

    void request() {
        pos = 1;
        while (true) {
            std::string n = name("a name");
            if (n.empty()) return;
            mod->symbol(n);
            if (tk().kind != T_COMMA) break;
            ++pos;
        }
        expectEnd();
    }

    void memvarCreate(int op) {
        executable();
        pos = 1;
        emitLine();
        while (true) {
            int nameCol = tk().col;
            std::string n = name("a variable name");
            if (n.empty()) return;
            Expr* init = nullptr;
            if (tk().kind == T_ASSIGN || tk().kind == T_EQ) {
                ++pos;
                if (!(init = parseExpr())) return;
            }
            if (init) proc->push(init);
            proc->emitSym(OP_PUSHSYM, proc->sym(n, line, nameCol));
            proc->emitN(op, 1);
            if (init) proc->emitSym(OP_POPMEMVAR, proc->sym(n, line, nameCol));
            proc->vars[n] = VarInfo{V_MEMVAR, 0, {}};
            if (tk().kind != T_COMMA) break;
            ++pos;
        }
        expectEnd();
    }

    void parameters() {
        ensureProc(tk().col);
        if (proc->paramCount) return error(tk().col, "the procedure already has parameters");
        if (proc->localCount) return error(tk().col, "PARAMETERS must come before LOCAL declarations");
        executable();
        pos = 1;
        std::vector<std::string> names;
        std::vector<int> cols;
        while (true) {
            cols.push_back(tk().col);
            std::string n = name("a parameter name");
            if (n.empty()) return;
            names.push_back(n);
            if (tk().kind != T_COMMA) break;
            ++pos;
        }
        if (!expectEnd()) return;
        emitLine();
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string& n = names[i];
            proc->emitSym(OP_PUSHSYM, proc->sym(n, line, cols[i]));
            proc->vars[n] = VarInfo{V_MEMVAR, 0, {}};
        }
        proc->emitN(OP_PARAMETERS, names.size());
        proc->paramCount = int(names.size());
    }

    void qout(bool sameLine) {
        executable();
        pos = 1;
        ExprParser p(&toks, pos, line, &pool);
        std::vector<Expr*> args;
        if (!atEnd()) {
            if (!p.itemList(T_END, &args, false)) return error(p.errCol, p.errText);
        }
        if (args.size() > 255) return error(toks[0].col, "more than 255 arguments");
        emitLine();
        proc->emitSym(OP_PUSHSYMNIL, proc->sym(sameLine ? "QQOUT" : "QOUT"));
        for (Expr* a : args) proc->push(a);
        proc->emitN(OP_DO, args.size());
    }

    void doProc() {
        executable();
        pos = 1;
        int nameCol = tk().col;
        std::string n = name("a procedure name");
        if (n.empty()) return;
        std::vector<Expr*> args;
        if (isWord(0, "WITH")) {
            ++pos;
            ExprParser p(&toks, pos, line, &pool);
            if (!p.itemList(T_END, &args, true)) return error(p.errCol, p.errText);
            pos = p.pos;
        }
        if (!expectEnd()) return;
        if (args.size() > 255) return error(toks[0].col, "more than 255 arguments");
        emitLine();
        proc->emitSym(OP_PUSHSYMNIL, proc->sym(n, line, nameCol));
        for (Expr* a : args) {
            if (a->kind == E_IDENT) proc->pushRef(a);  // plain variables go by reference
            else proc->push(a);
        }
        proc->emitN(OP_DO, args.size());
    }

    void exprStatement() {
        executable();
        pos = 0;
        Expr* e = parseExpr();
        if (!e || !expectEnd()) return;
        emitLine();
        proc->statementExpr(e);
    }

    // ----- control structures -----

    Control* top(Control::Kind k) {
        if (!proc || proc->controls.empty() || proc->controls.back().kind != k) return nullptr;
        return &proc->controls.back();
    }

    void ifStmt() {
        executable();
        pos = 1;
        Control c(Control::IF, line, proc->newLabel(), proc->newLabel(), {});
        Expr* e = parseExpr();
        if (e && expectEnd()) {
            emitLine();
            proc->condition(e, c.nextLabel);
        }
        proc->controls.push_back(std::move(c));
    }

    void elseIf() {
        Control* c = top(Control::IF);
        if (!c) return error(tk().col, "ELSEIF without IF");
        if (c->sawElse) return error(tk().col, "ELSEIF after ELSE");
        pos = 1;
        Expr* e = parseExpr();
        proc->emitJump(OP_JUMP, c->endLabel);
        proc->label(c->nextLabel);
        c->nextLabel = proc->newLabel();
        proc->returned = false;
        if (e && expectEnd()) proc->condition(e, c->nextLabel);
    }

    void elseStmt() {
        Control* c = top(Control::IF);
        if (!c) return error(tk().col, "ELSE without IF");
        if (c->sawElse) return error(tk().col, "a second ELSE");
        pos = 1;
        expectEnd();
        proc->emitJump(OP_JUMP, c->endLabel);
        proc->label(c->nextLabel);
        c->nextLabel.clear();
        c->sawElse = true;
        proc->returned = false;
    }

    void whileStmt(size_t skip) {
        executable();
        pos = skip;
        Control c(Control::WHILE, line, proc->newLabel(), {}, proc->newLabel());
        c.nextLabel = c.headLabel;
        Expr* e = parseExpr();
        emitLine();
        proc->label(c.headLabel);
        proc->emitOp(OP_IDLE);
        if (e && expectEnd()) proc->condition(e, c.endLabel);
        proc->controls.push_back(std::move(c));
    }

    void doCase() {
        executable();
        pos = 2;
        expectEnd();
        proc->controls.emplace_back(Control::CASE, line, proc->newLabel(), "", "");
    }

    void caseStmt() {
        Control* c = top(Control::CASE);
        if (!c) return error(tk().col, "CASE without DO CASE");
        if (c->sawElse) return error(tk().col, "CASE after OTHERWISE");
        if (c->anyArm) {
            proc->emitJump(OP_JUMP, c->endLabel);
            proc->label(c->nextLabel);
        }
        c->anyArm = true;
        c->nextLabel = proc->newLabel();
        proc->returned = false;
        pos = 1;
        Expr* e = parseExpr();
        if (e && expectEnd()) {
            emitLine();
            proc->condition(e, c->nextLabel);
        }
    }

    void otherwise() {
        Control* c = top(Control::CASE);
        if (!c) return error(tk().col, "OTHERWISE without DO CASE");
        if (c->sawElse) return error(tk().col, "a second OTHERWISE");
        pos = 1;
        expectEnd();
        if (c->anyArm) {
            proc->emitJump(OP_JUMP, c->endLabel);
            proc->label(c->nextLabel);
            c->nextLabel.clear();
        }
        c->sawElse = true;
        proc->returned = false;
    }

    void forStmt() {
        executable();
        pos = 1;
        Control c(Control::FOR, line, proc->newLabel(), proc->newLabel(), proc->newLabel());
        Expr* init = parseExpr();
        if (init && init->kind == E_BINARY && init->op == T_EQ && isAssignable(init->a)) {
            init->kind = E_ASSIGN;
            init->op = T_ASSIGN;
        }
        bool ok = init && init->kind == E_ASSIGN && init->op == T_ASSIGN;
        if (init && !ok) error(init->col, "FOR needs counter := start");
        if (ok && !isWord(0, "TO")) ok = false, error(tk().col, "expected TO");
        Expr* limit = nullptr;
        Expr* step = nullptr;
        if (ok) {
            ++pos;
            ok = (limit = parseExpr()) != nullptr;
        }
        if (ok && isWord(0, "STEP")) {
            ++pos;
            ok = (step = parseExpr()) != nullptr;
        }
        if (ok) ok = expectEnd();
        if (ok) {
            c.forVar = init->a;
            c.forLimit = limit;
            c.forStep = step;
            emitLine();
            proc->push(init->b);
            proc->store(init->a);
            proc->label(c.headLabel);
            proc->emitOp(OP_IDLE);
            forTest(c);
            c.forPool.nodes = std::move(pool.nodes);
            pool.nodes.clear();
        }
        proc->controls.push_back(std::move(c));
    }

    void forTest(Control& c) {
        int32_t sign = 1;
        const Expr* s = c.forStep;
        if (s && s->kind == E_NUM) sign = s->number < 0 ? -1 : 1;
        else if (s && s->kind == E_NEG && s->a->kind == E_NUM) sign = s->a->number > 0 ? -1 : 1;
        else if (s) sign = 0;
        if (sign) {
            proc->push(c.forVar);
            proc->push(c.forLimit);
            proc->emitOp(sign > 0 ? OP_LESSEQUAL : OP_GREATEREQUAL);
        } else {
            std::string down = proc->newLabel(), test = proc->newLabel();
            proc->push(c.forStep);
            proc->emitOp(OP_ZERO);
            proc->emitOp(OP_LESS);
            proc->emitJump(OP_JUMPTRUE, down);
            proc->push(c.forVar);
            proc->push(c.forLimit);
            proc->emitOp(OP_LESSEQUAL);
            proc->emitJump(OP_JUMP, test);
            proc->label(down);
            proc->push(c.forVar);
            proc->push(c.forLimit);
            proc->emitOp(OP_GREATEREQUAL);
            proc->label(test);
        }
        proc->emitJump(OP_JUMPFALSE, c.endLabel);
    }

    void beginSequence() {
        executable();
        pos = 2;
        expectEnd();
        Control c(Control::SEQUENCE, line, proc->newLabel(), proc->newLabel(), {});
        emitLine();
        proc->emitJump(OP_SEQBEGIN, c.nextLabel);
        proc->controls.push_back(std::move(c));
    }

    void recover() {
        Control* c = top(Control::SEQUENCE);
        if (!c) return error(tk().col, "RECOVER without BEGIN SEQUENCE");
        if (c->sawElse) return error(tk().col, "a second RECOVER");
        pos = 1;
        Expr* target = nullptr;
        if (isWord(0, "USING")) {
            ++pos;
            int col = tk().col;
            std::string n = name("a variable after USING");
            if (n.empty()) return;
            target = pool.make(E_IDENT, line, col);
            target->text = n;
        }
        if (!expectEnd()) return;
        proc->emitOp(OP_SEQEND);
        proc->emitJump(OP_JUMP, c->endLabel);
        proc->label(c->nextLabel);
        c->sawElse = true;
        proc->returned = false;
        if (target) {
            proc->emitOp(OP_PUSHRET);
            proc->store(target);
        }
    }

    void endAny() {
        if (!proc || proc->controls.empty()) return error(tk().col, "END without a structure to close");
        Control::Kind k = proc->controls.back().kind;
        if (k == Control::SEQUENCE && tk(1).kind == T_IDENT && kw(tk(1).text, "SEQUENCE")) pos = 2;
        else pos = 1;
        if (k == Control::FOR) return error(tk().col, "FOR is closed by NEXT");
        closeControl(true);
    }

    void endStmt(Control::Kind k, const char* word) {
        pos = 1;
        if (k == Control::FOR && tk().kind == T_IDENT) ++pos;  // NEXT counter
        if (!proc || proc->controls.empty() || proc->controls.back().kind != k) {
            static const char* opens[] = {"IF", "DO WHILE", "FOR", "DO CASE", "BEGIN SEQUENCE"};
            std::string msg = std::string(word) + " without " + opens[k];
            if (proc && !proc->controls.empty())
                msg += " (the open " + std::string(opens[proc->controls.back().kind]) + " is at line " +
                       std::to_string(proc->controls.back().line) + ")";
            return error(toks[0].col, msg);
        }
        closeControl(false);
    }

    void closeControl(bool anyEnd) {
        (void)anyEnd;
        expectEnd();
        Control c = std::move(proc->controls.back());
        proc->controls.pop_back();
        proc->returned = false;
        switch (c.kind) {
        case Control::IF:
        case Control::CASE:
            if (!c.nextLabel.empty()) proc->label(c.nextLabel);
            proc->label(c.endLabel);
            break;
        case Control::WHILE:
            proc->emitJump(OP_JUMP, c.headLabel);
            proc->label(c.endLabel);
            break;
        case Control::FOR:
            proc->label(c.nextLabel);
            if (c.forVar) {
                proc->push(c.forVar);
                if (c.forStep) {
                    proc->push(c.forStep);
                    proc->emitOp(OP_PLUS);
                } else {
                    proc->emitOp(OP_INC);
                }
                proc->store(c.forVar);
            }
            proc->emitJump(OP_JUMP, c.headLabel);
            proc->label(c.endLabel);
            break;
        case Control::SEQUENCE:
            if (!c.sawElse) {
                proc->emitOp(OP_SEQEND);
                proc->label(c.nextLabel);
            }
            proc->label(c.endLabel);
            break;
        }
    }

    // Sequences still open (their RECOVER not reached) above control index from.
    int openSequences(size_t from) {
        int n = 0;
        for (size_t i = from; i < proc->controls.size(); ++i)
            if (proc->controls[i].kind == Control::SEQUENCE && !proc->controls[i].sawElse) ++n;
        return n;
    }

    void exitLoop(bool isExit) {
        executable();
        pos = 1;
        if (!expectEnd()) return;
        size_t i = proc->controls.size();
        while (i > 0 && proc->controls[i - 1].kind != Control::WHILE && proc->controls[i - 1].kind != Control::FOR) --i;
        if (i == 0) return error(toks[0].col, std::string(isExit ? "EXIT" : "LOOP") + " outside a loop");
        emitLine();
        for (int k = openSequences(i); k > 0; --k) proc->emitOp(OP_SEQEND);
        Control& loop = proc->controls[i - 1];
        proc->emitJump(OP_JUMP, isExit ? loop.endLabel : loop.nextLabel);
        proc->returned = true;
    }

    void breakStmt() {
        executable();
        pos = 1;
        Expr* e = nullptr;
        if (!atEnd() && !(e = parseExpr())) return;
        if (!expectEnd()) return;
        emitLine();
        if (e) proc->push(e);
        else proc->emitOp(OP_PUSHNIL);
        proc->emitOp(OP_BREAK);
        proc->returned = true;
    }

    void returnStmt() {
        executable();
        pos = 1;
        Expr* e = nullptr;
        if (!atEnd() && !(e = parseExpr())) return;
        if (!expectEnd()) return;
        emitLine();
        if (e) {
            proc->push(e);
            proc->emitOp(OP_POPRET);
        }
        for (int k = openSequences(0); k > 0; --k) proc->emitOp(OP_SEQEND);
        proc->emitJump(OP_JUMP, "out");
        proc->returned = true;
    }

    // ----- the whole file -----

    void staticsProc() {
        if (!mod->staticCount) return;
        SymbolEntry s;
        s.name = "STATICS$";
        s.scope = SCOPE_INIT;
        s.isProc = true;
        mod->symbols.push_back(s);
        mod->symbolIndex[s.name] = mod->symbols.size();
        ProcGen p;
        p.mod = mod;
        p.name = "STATICS$";
        p.line = 0;
        p.emitLine(0);
        p.pushInteger(mod->staticCount);
        p.emitSym(OP_STATICSALLOC, "STATICS$");
        p.emitSym(OP_STATICSBASE, "STATICS$");
        for (const StaticInit& si : mod->staticInits) {
            p.line = si.line;
            p.col = si.value->col;
            p.emitLine(si.line);
            p.push(si.value);
            p.emitN(OP_POPSTATIC, si.slot);
        }
        p.emitOp(OP_ENDPROC);
        p.flushSymbols();
        assembleProc(mod, ProcCode{"STATICS$", std::move(p.body)});
    }

    void run(const std::vector<pp::Line>& lines) {
        for (const pp::Line& l : lines) {
            if (mod->tooManyErrors()) break;
            line = l.line;
            int errCol = 0;
            std::string errText;
            std::vector<Token>& all = lineTokens;  // reused: its capacity stays
            if (!tokenizeLine(l.text, &all, &errCol, &errText)) {
                mod->error(line, errCol, errText);
                continue;
            }
            // One statement at a time, split at ';'.
            size_t start = 0;
            for (size_t i = 0; i < all.size(); ++i) {
                if (all[i].kind != T_SEMI && all[i].kind != T_END) continue;
                toks.assign(all.begin() + long(start), all.begin() + long(i));
                Token end = all[i];
                end.kind = T_END;
                toks.push_back(end);
                pool.clear();
                statement();
                if (proc) proc->flushSymbols();
                if (mod->tooManyErrors()) break;
                start = i + 1;
            }
        }
        finishProc();
        staticsProc();
    }
};

}  // namespace

bool compileModule(const std::vector<pp::Line>& lines, ModuleGen* mod) {
    int before = mod->errorCount;
    StatementCompiler sc;
    sc.mod = mod;
    sc.run(lines);
    return mod->errorCount == before;
}

}  // namespace xb::xbc
