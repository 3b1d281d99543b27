// The stack-effect table that the pcode verifier reads (vm/opeffects.def)
// against the handlers themselves: each handler runs on arguments it accepts
// and must move the stack top by exactly what the table says.
#include "tests/support/vm_fixture.h"
#include "vm/opeffects.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace xb::test {

namespace {

class OpEffects : public VmTest {
protected:
    void pushBlock() {
        static const uint8_t code[] = {2, 0, OP_ONE, OP_ENDBLOCK};
        const uint8_t* pc = vm.pc;
        vm.pc = code;
        opTable[OP_PUSHBLOCK]();
        vm.pc = pc;
    }

    // Pushes the arguments written as letters: i integer 2, I integer 1,
    // d double 2.5, s string, l true, f false, D date, a array of 3, n NIL,
    // y a Symbol, b a codeblock (made by PUSHBLOCK; its value is 1).
    void pushArgs(const char* args) {
        for (const char* c = args; *c; ++c) {
            Item it{};
            switch (*c) {
            case 'i': it = intItem(2); break;
            case 'I': it = intItem(1); break;
            case 'd': it = doubleItem(2.5, 0, 1); break;
            case 's': it = str("ab"); break;
            case 'l': it = logicalItem(true); break;
            case 'f': it = logicalItem(false); break;
            case 'D': it = dateItem(2451545); break;
            case 'a': it = array(3); break;
            case 'n': break;
            case 'b': pushBlock(); continue;
            case 'y': pushSymbol(findOrCreateSymbol("OPFX_NAME")); continue;
            default: ADD_FAILURE() << "bad argument letter " << *c; break;
            }
            push(&it);
        }
    }
};

struct Case {
    uint8_t op;
    const char* args;
    std::vector<uint8_t> operands;
    int expected;  // what the table must say for this run (the KEEP jumps differ by path)
};

}  // namespace

TEST_F(OpEffects, EveryHandlerMovesTheStackAsTheTableSays) {
    load(R"(symbol MAIN proc
symbol OPFX_VAR
symbol OPFX_STATICS
proc MAIN
    ENDPROC
end)");
    // A running frame: the procedure slot and its NIL self, as a call leaves them.
    pushSymbol(findSymbol("MAIN"));
    pushNil();
    Item* const caller = vm.frame;
    vm.frame = vm.top - 1;
    vm.paramCount = 0;
    vm.localCount = 0;
    vm.moduleSymbols = modules[0].table;
    Item* const base = vm.top;
    answerWith(nilItem());  // errors raised inside calls are answered with NIL

    const uint8_t sym2[] = {2, 0}, sym3[] = {3, 0};
    const Case cases[] = {
        {OP_NOP, "", {}, 0}, {0x6F, "", {}, 0}, {OP_LINE, "", {5, 0}, 0}, {OP_IDLE, "", {}, 0},
        {OP_DEBUGINFO, "", {0, 0}, 0},
        {OP_PUSHSTR, "", {1, 'x', 0}, 1}, {OP_PUSHEMPTYSTR, "", {}, 1},
        {OP_PUSHDOUBLE, "", {10, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, 1}, {OP_PUSHINT, "", {0xFF, 0xFF}, 1},
        {OP_PUSHWORD, "", {1, 0}, 1}, {OP_ZERO, "", {}, 1}, {OP_ONE, "", {}, 1}, {OP_TRUE, "", {}, 1},
        {OP_FALSE, "", {}, 1}, {OP_PUSHNIL, "", {}, 1}, {OP_PCOUNT, "", {}, 1}, {OP_PUSHSELF, "", {}, 1},
        {OP_PUSHRET, "", {}, 1}, {OP_POPRET, "i", {}, -1}, {OP_POP, "i", {}, -1}, {OP_DUP, "i", {}, 1},
        {OP_PUSHLOCAL, "", {0, 0}, 1}, {OP_PUSHLOCALREF, "", {0, 0}, 1},
        {OP_PUSHSYM, "", {1, 0}, 1}, {OP_PUSHSYMNIL, "", {1, 0}, 2},
        {OP_TEMPVALUE, "", {1}, 0}, {OP_TEMPVALUE, "i", {2}, -1}, {OP_PUSHTEMP, "", {}, 1}, {OP_TEMPVALUE, "", {3}, 0},
        {OP_POPMEMVAR, "i", {sym2[0], sym2[1]}, -1},
        {OP_STATICSALLOC, "i", {sym3[0], sym3[1]}, -1}, {OP_STATICSBASE, "", {sym3[0], sym3[1]}, 0},
        {OP_SEQBEGIN, "", {0, 0}, 0}, {OP_SEQEND, "", {}, 0},
        // jumps (distance 0): the KEEP forms keep the value only when they jump
        {OP_JUMP, "", {0, 0}, 0}, {OP_JUMPFALSE, "f", {0, 0}, -1}, {OP_JUMPTRUE, "f", {0, 0}, -1},
        {OP_JUMPNOTEQUAL, "ii", {0, 0}, -2}, {OP_JUMPFALSEKEEP, "l", {0, 0}, -1}, {OP_JUMPFALSEKEEP, "f", {0, 0}, 0},
        {OP_JUMPTRUEKEEP, "f", {0, 0}, -1}, {OP_JUMPTRUEKEEP, "l", {0, 0}, 0},
        // arrays, blocks, declarations and calls (counted operands)
        {OP_ARRAYGETC, "a", {1, 0}, 0}, {OP_ARRAYPUTC, "ia", {1, 0}, -2}, {OP_ARRAYGET, "aI", {}, -1},
        {OP_ARRAYPUT, "iaI", {}, -3}, {OP_ARRAYGEN, "iii", {3, 0}, -2}, {OP_ARRAYGEN, "", {0, 0}, 1},
        {OP_ARRAYDIM, "ii", {2, 0}, -1}, {OP_AADD, "ai", {}, -1},
        {OP_PUSHBLOCK, "", {1, 0, OP_ENDBLOCK}, 1},
        {OP_PRIVATE, "yy", {2, 0}, -2}, {OP_PUBLIC, "y", {1, 0}, -1}, {OP_PARAMETERS, "y", {1, 0}, -1},
        {OP_DO, "ynii", {2, 0}, -4}, {OP_FUNC, "yni", {1, 0}, -2}, {OP_SEND, "yi", {0, 0}, -1},
        {OP_EVALSEND, "yb", {0, 0}, -1},
        // operators
        {OP_PLUS, "ii", {}, -1}, {OP_MINUS, "ii", {}, -1}, {OP_MULT, "ii", {}, -1}, {OP_DIVIDE, "ii", {}, -1},
        {OP_MODULUS, "ii", {}, -1}, {OP_POWER, "ii", {}, -1}, {OP_NEGATE, "i", {}, 0}, {OP_ABS, "i", {}, 0},
        {OP_INC, "i", {}, 0}, {OP_DEC, "i", {}, 0}, {OP_EQUAL, "ii", {}, -1}, {OP_EXACTEQUAL, "ii", {}, -1},
        {OP_NOTEQUAL, "ii", {}, -1}, {OP_LESS, "ii", {}, -1}, {OP_LESSEQUAL, "ii", {}, -1},
        {OP_GREATER, "ii", {}, -1}, {OP_GREATEREQUAL, "ii", {}, -1}, {OP_INSTRING, "ss", {}, -1},
        {OP_AND, "ll", {}, -1}, {OP_OR, "ll", {}, -1}, {OP_NOT, "l", {}, 0},
        // inline functions
        {OP_ASC, "s", {}, 0}, {OP_AT, "ss", {}, -1}, {OP_CHR, "i", {}, 0}, {OP_LEFT, "si", {}, -1},
        {OP_LEN, "s", {}, 0}, {OP_LOWER, "s", {}, 0}, {OP_UPPER, "s", {}, 0}, {OP_LTRIM, "s", {}, 0},
        {OP_TRIM, "s", {}, 0}, {OP_REPLICATE, "si", {}, -1}, {OP_SPACE, "i", {}, 0}, {OP_SUBSTR2, "si", {}, -1},
        {OP_SUBSTR3, "sii", {}, -2}, {OP_EXP, "i", {}, 0}, {OP_LOG, "i", {}, 0}, {OP_SQRT, "i", {}, 0},
        {OP_INT, "d", {}, 0}, {OP_ROUND, "di", {}, -1}, {OP_MAX, "ii", {}, -1}, {OP_MIN, "ii", {}, -1},
        {OP_WORD, "i", {}, 0}, {OP_STR1, "i", {}, 0}, {OP_STR2, "ii", {}, -1}, {OP_STR3, "dii", {}, -2},
        {OP_VAL, "s", {}, 0}, {OP_TRANSFORM, "in", {}, -1}, {OP_EMPTY, "n", {}, 0}, {OP_VALTYPE, "n", {}, 0},
        {OP_CDOW, "D", {}, 0}, {OP_CMONTH, "D", {}, 0}, {OP_CTOD, "s", {}, 0}, {OP_DATE, "", {}, 1},
        {OP_DAY, "D", {}, 0}, {OP_DOW, "D", {}, 0}, {OP_DTOC, "D", {}, 0}, {OP_DTOS, "D", {}, 0},
        {OP_MONTH, "D", {}, 0}, {OP_YEAR, "D", {}, 0}, {OP_TIME, "", {}, 1}, {OP_SECONDS, "", {}, 1},
        {OP_ROW, "", {}, 1}, {OP_COL, "", {}, 1}, {OP_SETPOS, "ii", {}, -1},
        // last: it turns the frame's procedure slot into the locals array
        {OP_DETACHLOCALS, "b", {}, 0},
    };
    std::set<int> covered;
    for (const Case& c : cases) {
        const OpEffect& e = opEffect(c.op);
        const char* name = opcodeInfo(c.op).name;
        ASSERT_TRUE(e.known) << int(c.op);
        ASSERT_TRUE(hasOpHandler(c.op)) << name;
        covered.insert(c.op);
        vm.top = base;
        pushArgs(c.args);
        Item* before = vm.top;
        std::vector<uint8_t> code = c.operands;
        code.push_back(OP_ENDPROC);
        vm.pc = code.data();
        uint16_t r = opTable[c.op]();
        EXPECT_EQ(r, 0) << name << " " << c.args;
        EXPECT_EQ(vm.pc, code.data() + c.operands.size()) << name;
        // the table: pops (plus the counted operand) and pushes; a KEEP jump keeps its value
        int count = e.rule == SR_COUNT ? (c.operands[0] | c.operands[1] << 8) : 0;
        int pops = e.pops + count + (e.rule == SR_TEMP && c.operands[0] == 2 ? 1 : 0);
        int table = e.pushes - pops;
        EXPECT_EQ(table + (e.flow == FL_KEEP && c.expected == 0 ? 1 : 0), c.expected) << name << " " << c.args;
        EXPECT_EQ(int(vm.top - before), c.expected) << name << " " << c.args;
    }
    vm.top = base;
    vm.top -= 2;
    vm.frame = caller;

    // Every opcode with a handler is covered, except those that need a work
    // area, a memory variable or a running block to succeed, the ends, BREAK
    // and FRAME (whose effects the verifier's own tests show), and the ones
    // whose handlers are installed later (work areas, macros, classes).
    const std::set<int> elsewhere = {
        OP_POPFIELD, OP_POPALIASFIELD, OP_PUSHALIAS, OP_PUSHFIELD, OP_PUSHMEMVAR, OP_PUSHMEMVARREF,
        OP_PUSHALIASFIELD, OP_PUSHVARIABLE, OP_POPFIELDX, OP_POPMEMVARX, OP_POPALIASFIELDX, OP_PUSHALIASX,
        OP_PUSHFIELDX, OP_PUSHMEMVARX, OP_PUSHMEMVARREFX, OP_PUSHALIASFIELDX, OP_PUSHVARIABLEX, OP_PUSHSYMX,
        OP_PUSHSYMNILX, OP_POPOUTER, OP_PUSHOUTER, OP_PUSHOUTERREF, OP_POPLOCAL, OP_POPSTATIC, OP_PUSHSTATIC,
        OP_PUSHSTATICREF, OP_ALIASSELECT, OP_ALIASRESTORE, OP_ENDPROC, OP_ENDBLOCK, OP_BREAK, OP_FRAME,
        128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 144, 145, 146, 148, 150, 151, 152, 153, 154,
        OP_QSUPER, OP_CLASSNOP};
    for (int op = 0; op < 256; ++op) {
        if (!hasOpHandler(uint8_t(op)) || covered.count(op) || elsewhere.count(op)) continue;
        ADD_FAILURE() << "no effect case for " << opcodeInfo(uint8_t(op)).name << " (" << op << ")";
    }
}

}  // namespace xb::test
