// The code generator's records (internal to compiler/): a module being
// compiled (its symbol table in order of first appearance, its file-level
// declarations and statics) and the procedure being compiled (its variables,
// open control structures and the instructions of its body). Code is
// produced as typed instructions (opcode and operands), each remembering the
// source position it came from; compile.cpp hands them to the assembler's
// module builder (tools/asm/builder.h), which checks and encodes them, and
// maps any complaint back to the source.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/ast.h"
#include "pp/diagnostic.h"
#include "tools/asm/builder.h"

namespace xb::xbc {

// Scope values of a table entry.
enum : uint8_t { SCOPE_PUBLIC = 0, SCOPE_STATIC = 1, SCOPE_INIT = 2, SCOPE_EXIT = 4 };

struct SymbolEntry {
    std::string name;
    uint8_t scope = SCOPE_PUBLIC;
    bool isProc = false;
    int defLine = 0;  // line of the definition, when isProc
};

// One instruction (or label, or codeblock bracket) and the source position
// it came from. `text` holds the symbol name (I_SYMBOL), the label
// (I_JUMP, I_LABEL) or the string's bytes (I_STRING).
enum InstrKind : uint8_t { I_PLAIN, I_NUMBER, I_PAIR, I_SYMBOL, I_JUMP, I_STRING, I_DOUBLE, I_OPEN, I_CLOSE, I_LABEL };

struct Instr {
    InstrKind kind;
    uint8_t op;
    int32_t a;      // I_NUMBER: the operand; I_PAIR, I_DOUBLE: the first byte (width)
    int32_t b;      // I_PAIR, I_DOUBLE: the second byte (decimals)
    int line;
    int col;
    std::string text;
    uint8_t bits[8];  // I_DOUBLE: the IEEE value
};

enum VarKind : uint8_t { V_LOCAL, V_STATIC, V_MEMVAR, V_FIELD };

struct VarInfo {
    VarKind kind;
    int index = 0;      // locals and statics: 1-based slot
    std::string alias;  // V_FIELD declared IN alias
};

struct ProcCode {
    std::string name;  // table name
    std::vector<Instr> code;
};

struct StaticInit {
    int slot;
    int line;
    Expr* value;  // owned by the module's pool
};

struct ModuleGen {
    std::string file;        // as named (diagnostics)
    std::string moduleName;  // upper case, from the file name
    bool warnings = false;
    std::vector<pp::Diagnostic>* diags = nullptr;
    int errorCount = 0;

    std::vector<SymbolEntry> symbols;  // entry n is symbols[n - 1]
    std::unordered_map<std::string, size_t> symbolIndex;

    std::unordered_map<std::string, VarInfo> fileVars;  // file statics, MEMVAR, FIELD
    int staticCount = 0;
    std::vector<StaticInit> staticInits;
    ExprPool staticPool;  // the static initialisers outlive their statement

    // Each finished procedure goes straight into the assembler's builder
    // (emit_module.cpp), so its instructions need not outlive it. The entries
    // of `symbols` are handed over as they appear; the first fault the
    // builder finds is kept until the module is finished.
    std::unique_ptr<pcasm::ModuleBuilder> builder;
    size_t declared = 0;  // entries of `symbols` the builder has
    std::vector<std::pair<int, int>> sourceAt{{0, 0}};  // builder "line" -> source line, column
    // Procedures that name STATICS$ before its entry exists (it is the
    // table's last) wait here, and every one after them, to keep their order.
    std::vector<ProcCode> pending;
    bool buildFailed = false;
    int buildLine = 0, buildCol = 0;
    std::string buildWhy;

    // The entry of name, appended when new.
    SymbolEntry& symbol(const std::string& name);
    void error(int line, int col, const std::string& message);
    void warning(int line, int col, const std::string& message);
    bool tooManyErrors() const { return errorCount >= pp::MAX_ERRORS_PER_FILE; }
};

// One open control structure of a procedure.
struct Control {
    enum Kind : uint8_t { IF, WHILE, FOR, CASE, SEQUENCE } kind;
    int line;
    std::string endLabel;   // IF, CASE: after the structure; loops: the exit
    std::string nextLabel;  // IF, CASE: the next arm's test; loops: where LOOP goes
    std::string headLabel;  // loops: the head
    bool sawElse = false;   // IF: ELSE met; CASE: OTHERWISE met; SEQUENCE: RECOVER met
    bool anyArm = false;    // CASE: a CASE met
    Expr* forVar = nullptr; // FOR: the counter, limit, step
    Expr* forLimit = nullptr;
    Expr* forStep = nullptr;
    ExprPool forPool;       // keeps the FOR expressions until NEXT

    Control(Kind k, int l, std::string end, std::string next, std::string head)
        : kind(k), line(l), endLabel(std::move(end)), nextLabel(std::move(next)), headLabel(std::move(head)) {}
};

struct BlockScope {
    std::vector<std::string> params;
    bool usesOuter = false;
};

struct ProcGen {
    ModuleGen* mod;
    std::string name;     // table name
    int line = 0;         // current statement's line
    int col = 1;
    int paramCount = 0;
    int localCount = 0;   // declared locals (after the parameters)
    bool usesStatics = false;
    bool sawExecutable = false;
    bool returned = false;  // the last statement was a RETURN (for warnings)
    std::unordered_map<std::string, VarInfo> vars;
    std::vector<Instr> body;
    std::vector<Control> controls;
    std::vector<BlockScope*> blocks;  // blocks being generated, innermost last
    int labelCounter = 0;
    bool failed = false;  // an error in the current statement
    int genDepth = 0;     // nesting of push() (a left-leaning chain of operators is deep too)

    // Emission, by opcode with typed operands (the operand mode of the
    // opcode decides which; the assembler's builder checks the fit).
    void emitOp(int op);                                   // no operand
    void emitN(int op, int64_t v);                         // byte, number, signed number
    void emitPair(int op, int64_t v, int64_t w);           // two bytes (FRAME)
    void emitSym(int op, const std::string& name);         // a table entry by name
    void emitJump(int op, const std::string& label);
    void emitString(const char* bytes, size_t n);          // PUSHSTR, at most 255 bytes
    void emitDouble(int width, int decimals, const uint8_t bits[8]);  // PUSHDOUBLE
    void emitLine(int sourceLine);                         // LINE (16 bits: beyond 65,535 all are 65,535)
    void openBlock();                                      // PUSHBLOCK; its code follows
    void closeBlock();                                     // after the block's ENDBLOCK
    std::string newLabel();
    void label(const std::string& l);
    // Names enter the table in the order they appear in the source, not the
    // order the code uses them (a message is pushed before its receiver):
    // each statement's names wait here, with their positions, until
    // flushSymbols() at the statement's end.
    struct PendingSymbol {
        int line, col;
        std::string name;
    };
    std::vector<PendingSymbol> pendingSymbols;
    std::string sym(const std::string& name);  // at the statement's start
    std::string sym(const std::string& name, const Expr* at);
    std::string sym(const std::string& name, int atLine, int atCol);
    void flushSymbols();

    void error(int col, const std::string& message);
    void errorAt(const Expr* e, const std::string& message);

    // Expressions (exprgen.cpp).
    void push(Expr* e);             // leaves the value on the stack
    void statementExpr(Expr* e);    // evaluates for effect, leaves nothing
    void condition(Expr* e, const std::string& falseLabel);  // jumps when false
    void store(Expr* target);       // pops the top into the target
    void pushRef(Expr* e);          // a reference to a variable (@x)
    void assign(Expr* e, bool valueWanted);
    void incDec(Expr* e, bool valueWanted);
    void pushNumber(const Expr* e);
    void pushInteger(int32_t v);
    void pushString(const std::string& bytes);
    void pushIdent(Expr* e);
    void storeIdent(Expr* e);
    void call(Expr* e, bool valueWanted);
    void send(Expr* e, bool valueWanted);
    void block(Expr* e);
    void aliased(Expr* e, bool isStore);
    void list(Expr* e);
    bool resolve(const std::string& name, VarInfo* out, Expr* at);  // false: undeclared
    bool isConstant(const Expr* e) const;
};

// Assembles a finished procedure into the module's builder (nothing once the
// builder has failed).
void assembleProc(ModuleGen* m, ProcCode&& p);

// The module's table and code checked, verified and laid out into *out.
// False with the source position and the complaint of the first fault.
bool finishModule(ModuleGen* m, pcasm::AsmModule* out, int* line, int* col, std::string* why);

// Upper-case name of the module/implicit procedure made from a file name.
std::string nameFromFile(const std::string& file);


}  // namespace xb::xbc
