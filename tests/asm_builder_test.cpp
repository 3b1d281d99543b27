// The assembler's typed builder, which the source compiler drives: the same
// module built by calls and by text gives the same bytes, table and names to
// bind; every operand a text line could get wrong is refused by the calls
// too, with a message, never a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tools/asm/assembler.h"
#include "tools/asm/builder.h"
#include "vm/opcodes.h"
#include "vm/symbol.h"

using namespace xb;
using namespace xb::pcasm;

namespace {

const char kText[] =
    "module T\n"
    "symbol MAIN proc\n"
    "symbol QOUT\n"
    "symbol HELPER static proc\n"
    "proc MAIN\n"
    "LINE 0\n"
    "FRAME 0 2\n"
    "PUSHSYMNIL QOUT\n"
    "PUSHSTR \"hi\\x01\"\n"
    "DO 1\n"
    "ONE\n"
    "POPLOCAL 1\n"
    "top:\n"
    "PUSHLOCAL 1\n"
    "PUSHWORD 10\n"
    "LESS\n"
    "JUMPFALSE done\n"
    "PUSHLOCAL 1\n"
    "INC\n"
    "POPLOCAL 1\n"
    "JUMP top\n"
    "done:\n"
    "PUSHBLOCK {\n"
    "FRAME 1 0\n"
    "LINE 3\n"
    "PUSHLOCAL 1\n"
    "PUSHDOUBLE 10 2 1.5\n"
    "PLUS\n"
    "ENDBLOCK\n"
    "}\n"
    "POPLOCAL 2\n"
    "PUSHMEMVARX SOMEVAR\n"
    "POP\n"
    "ENDPROC\n"
    "end\n"
    "proc HELPER\n"
    "LINE 0\n"
    "ENDPROC\n"
    "end\n";

// The same module through the calls. `line` counts the calls.
bool buildByCalls(AsmModule* out, AsmError* err) {
    ModuleBuilder b;
    Failure f{};
    b.setName("T");
    if (!b.declare("MAIN", SC_PUBLIC, true, 1, &f) || !b.declare("qout", SC_PUBLIC, false, 2, &f) ||
        !b.declare("Helper", SC_STATIC, true, 3, &f))
        return false;
    ProcAssembler* p = b.beginProc("MAIN", 4, &f);
    if (!p) return false;
    uint32_t n = 10;
    const uint8_t* bits;
    double d = 1.5;
    bits = reinterpret_cast<const uint8_t*>(&d);
    bool ok = p->opNumber(++n, OP_LINE, 0, &f) && p->opPair(++n, OP_FRAME, 0, 2, &f) &&
              p->opSymbol(++n, OP_PUSHSYMNIL, "QOUT", &f) && p->opString(++n, OP_PUSHSTR, "hi\x01", 3, &f) &&
              p->opNumber(++n, OP_DO, 1, &f) && p->opPlain(++n, OP_ONE, &f) && p->opNumber(++n, OP_POPLOCAL, 1, &f) &&
              p->label(++n, "top", &f) && p->opNumber(++n, OP_PUSHLOCAL, 1, &f) &&
              p->opNumber(++n, OP_PUSHWORD, 10, &f) && p->opPlain(++n, OP_LESS, &f) &&
              p->opJump(++n, OP_JUMPFALSE, "done", &f) && p->opNumber(++n, OP_PUSHLOCAL, 1, &f) &&
              p->opPlain(++n, OP_INC, &f) && p->opNumber(++n, OP_POPLOCAL, 1, &f) &&
              p->opJump(++n, OP_JUMP, "top", &f) && p->label(++n, "done", &f) &&
              p->openBlock(++n, OP_PUSHBLOCK, -1, &f) && p->opPair(++n, OP_FRAME, 1, 0, &f) &&
              p->opNumber(++n, OP_LINE, 3, &f) && p->opNumber(++n, OP_PUSHLOCAL, 1, &f) &&
              p->opDouble(++n, OP_PUSHDOUBLE, 10, 2, bits, &f) && p->opPlain(++n, OP_PLUS, &f) &&
              p->opPlain(++n, OP_ENDBLOCK, &f) && p->closeBlock(++n, &f) && p->opNumber(++n, OP_POPLOCAL, 2, &f) &&
              p->opName(++n, OP_PUSHMEMVARX, "SomeVar", &f) && p->opPlain(++n, OP_POP, &f) &&
              p->opPlain(++n, OP_ENDPROC, &f) && p->finish(++n, &f);
    if (!ok) return false;
    b.endProc();
    p = b.beginProc("HELPER", 50, &f);
    if (!p || !p->opNumber(51, OP_LINE, 0, &f) || !p->opPlain(52, OP_ENDPROC, &f) || !p->finish(53, &f)) return false;
    b.endProc();
    return b.finish(out, err, {});
}

TEST(AsmBuilder, CallsAndTextMakeTheSameModule) {
    AsmModule text{}, calls{};
    AsmError e1{}, e2{};
    ASSERT_TRUE(assemble(kText, std::strlen(kText), &text, &e1)) << e1.message;
    ASSERT_TRUE(buildByCalls(&calls, &e2)) << e2.message;
    EXPECT_STREQ(text.name, calls.name);
    ASSERT_EQ(text.count, calls.count);
    for (uint32_t i = 0; i < text.count; ++i) {
        EXPECT_STREQ(text.pristine[i].name, calls.pristine[i].name) << i;
        EXPECT_EQ(text.pristine[i].scope, calls.pristine[i].scope) << i;
    }
    ASSERT_EQ(text.codeLength, calls.codeLength);
    EXPECT_EQ(0, std::memcmp(text.code, calls.code, text.codeLength));
    ASSERT_EQ(text.procCount, calls.procCount);
    for (uint32_t i = 0; i < text.procCount; ++i) {
        EXPECT_STREQ(text.procs[i].name, calls.procs[i].name);
        EXPECT_EQ(text.procs[i].offset, calls.procs[i].offset);
        EXPECT_EQ(text.procs[i].length, calls.procs[i].length);
    }
    ASSERT_EQ(text.xrefCount, 1u);
    ASSERT_EQ(calls.xrefCount, 1u);
    EXPECT_EQ(text.xrefs[0].offset, calls.xrefs[0].offset);
    EXPECT_STREQ(calls.xrefs[0].name, "SOMEVAR");
    freeModule(&text);
    freeModule(&calls);
}

// One procedure MAIN (FRAME 0 1) of a module with the symbols MAIN and
// QOUT; `body` adds instructions and returns what the last call said.
struct Refusal {
    const char* what;
    std::function<bool(ProcAssembler*, Failure*)> body;
    const char* message;  // part of the complaint
};

const Refusal kRefusals[] = {
    {"a number for a string opcode", [](ProcAssembler* p, Failure* f) { return p->opNumber(9, OP_PUSHSTR, 1, f); },
     "wrong operand form"},
    {"no operand for a numbered one", [](ProcAssembler* p, Failure* f) { return p->opPlain(9, OP_DO, f); },
     "wrong operand form"},
    {"a label for a non-jump", [](ProcAssembler* p, Failure* f) { return p->opJump(9, OP_PLUS, "x", f); },
     "wrong operand form"},
    {"an opcode beyond a byte", [](ProcAssembler* p, Failure* f) { return p->opPlain(9, 300, f); },
     "bad opcode number"},
    {"a local beyond the FRAME", [](ProcAssembler* p, Failure* f) { return p->opNumber(9, OP_PUSHLOCAL, 2, f); },
     "beyond the FRAME"},
    {"an outer local outside a block", [](ProcAssembler* p, Failure* f) { return p->opNumber(9, OP_PUSHOUTER, 1, f); },
     "outside a codeblock"},
    {"a call with 256 arguments", [](ProcAssembler* p, Failure* f) { return p->opNumber(9, OP_DO, 256, f); },
     "more than 255 arguments"},
    {"a line beyond 16 bits", [](ProcAssembler* p, Failure* f) { return p->opNumber(9, OP_LINE, 65536, f); },
     "bad operand"},
    {"a string of 256 bytes",
     [](ProcAssembler* p, Failure* f) {
         std::string s(256, 'x');
         return p->opString(9, OP_PUSHSTR, s.data(), s.size(), f);
     },
     "longer than 255"},
    {"an undeclared symbol", [](ProcAssembler* p, Failure* f) { return p->opSymbol(9, OP_PUSHSYMNIL, "NOPE", f); },
     "undeclared symbol"},
    {"a symbol number outside the table",
     [](ProcAssembler* p, Failure* f) { return p->opNumber(9, OP_PUSHSYMNIL, 3, f); }, "outside the module table"},
    {"a bad global name", [](ProcAssembler* p, Failure* f) { return p->opName(9, OP_PUSHMEMVARX, "1X", f); },
     "needs a symbol name"},
    {"a second FRAME", [](ProcAssembler* p, Failure* f) { return p->opPair(9, OP_FRAME, 0, 1, f); },
     "a second FRAME"},
    {"a duplicate label",
     [](ProcAssembler* p, Failure* f) { return p->label(9, "a", f) && p->label(10, "a", f); }, "duplicate label"},
    {"a bad label name", [](ProcAssembler* p, Failure* f) { return p->label(9, "9a", f); }, "bad label name"},
    {"a jump to no label",
     [](ProcAssembler* p, Failure* f) {
         return p->opJump(9, OP_JUMP, "nowhere", f) && p->opPlain(10, OP_ENDPROC, f) && p->finish(11, f);
     },
     "undefined label"},
    {"no ENDPROC", [](ProcAssembler* p, Failure* f) { return p->finish(9, f); }, "must end with ENDPROC"},
    {"a block without ENDBLOCK",
     [](ProcAssembler* p, Failure* f) { return p->openBlock(9, OP_PUSHBLOCK, -1, f) && p->closeBlock(10, f); },
     "must end with ENDBLOCK"},
    {"a close without a block", [](ProcAssembler* p, Failure* f) { return p->closeBlock(9, f); },
     "without an open codeblock"},
    {"an end inside a block",
     [](ProcAssembler* p, Failure* f) { return p->openBlock(9, OP_PUSHBLOCK, -1, f) && p->finish(10, f); },
     "inside a codeblock"},
    {"a bad width", [](ProcAssembler* p, Failure* f) {
         uint8_t bits[8] = {};
         return p->opDouble(9, OP_PUSHDOUBLE, 256, 0, bits, f);
     },
     "bad width"},
};

TEST(AsmBuilder, CallsAreCheckedLikeText) {
    for (const Refusal& r : kRefusals) {
        ModuleBuilder b;
        Failure f{};
        ASSERT_TRUE(b.declare("MAIN", SC_PUBLIC, true, 1, &f)) << f.text;
        ASSERT_TRUE(b.declare("QOUT", SC_PUBLIC, false, 2, &f)) << f.text;
        ProcAssembler* p = b.beginProc("MAIN", 3, &f);
        ASSERT_NE(p, nullptr) << f.text;
        ASSERT_TRUE(p->opNumber(4, OP_LINE, 0, &f) && p->opPair(5, OP_FRAME, 0, 1, &f)) << f.text;
        f = Failure{};
        EXPECT_FALSE(r.body(p, &f)) << r.what;
        EXPECT_NE(f.text.find(r.message), std::string::npos) << r.what << ": " << f.text;
        EXPECT_GE(f.line, 9u) << r.what;
    }
}

TEST(AsmBuilder, TheTableIsChecked) {
    ModuleBuilder b;
    Failure f{};
    ASSERT_TRUE(b.declare("Main", SC_PUBLIC, true, 1, &f));
    EXPECT_FALSE(b.declare("MAIN", SC_PUBLIC, false, 2, &f));
    EXPECT_NE(f.text.find("duplicate symbol MAIN (first at line 1)"), std::string::npos) << f.text;
    EXPECT_FALSE(b.declare("1ABC", SC_PUBLIC, false, 3, &f));
    EXPECT_NE(f.text.find("bad symbol name"), std::string::npos) << f.text;
    EXPECT_FALSE(b.declare(std::string(59, 'A'), SC_PUBLIC, false, 4, &f));
    EXPECT_NE(f.text.find("longer than 58"), std::string::npos) << f.text;
    ASSERT_TRUE(b.declare("DATA", SC_PUBLIC, false, 5, &f));
    EXPECT_EQ(b.beginProc("DATA", 6, &f), nullptr);  // not a procedure
    EXPECT_EQ(b.beginProc("NONE", 7, &f), nullptr);  // not declared
    EXPECT_EQ(b.symbols().count(), 3u);

    // A declared procedure without a body.
    AsmModule m{};
    AsmError e{};
    EXPECT_FALSE(b.finish(&m, &e, {}));
    EXPECT_NE(std::string(e.message).find("declared proc but has no body"), std::string::npos) << e.message;
    EXPECT_EQ(m.code, nullptr);

    // A body begun twice, and one never ended.
    ProcAssembler* p = b.beginProc("MAIN", 8, &f);
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(b.finish(&m, &e, {}));
    EXPECT_NE(std::string(e.message).find("procedure without end"), std::string::npos) << e.message;
    ASSERT_TRUE(p->opNumber(9, OP_LINE, 0, &f) && p->opPlain(10, OP_ENDPROC, &f) && p->finish(11, &f)) << f.text;
    b.endProc();
    EXPECT_EQ(b.beginProc("MAIN", 12, &f), nullptr);
    EXPECT_NE(f.text.find("duplicate proc MAIN (first at line 8)"), std::string::npos) << f.text;
    ASSERT_TRUE(b.finish(&m, &e, {})) << e.message;
    EXPECT_EQ(m.procCount, 1u);
    freeModule(&m);
}

// The verifier runs on what the calls built: a procedure that takes the
// stack below its frame is refused, naming the call's line.
TEST(AsmBuilder, TheVerifierRunsOnTheBuiltModule) {
    ModuleBuilder b;
    Failure f{};
    ASSERT_TRUE(b.declare("MAIN", SC_PUBLIC, true, 1, &f));
    ProcAssembler* p = b.beginProc("MAIN", 2, &f);
    ASSERT_NE(p, nullptr);
    ASSERT_TRUE(p->opNumber(3, OP_LINE, 0, &f) && p->opPlain(4, OP_ONE, &f) && p->opPlain(5, OP_POP, &f) &&
                p->opPlain(6, OP_POP, &f) && p->opPlain(7, OP_ENDPROC, &f) && p->finish(8, &f))
        << f.text;
    b.endProc();
    AsmModule m{};
    AsmError e{};
    EXPECT_FALSE(b.finish(&m, &e, {}));
    EXPECT_EQ(e.line, 6u) << e.message;
    EXPECT_EQ(m.code, nullptr);
    AsmOptions off;
    off.verify = false;
    ModuleBuilder b2;
    ASSERT_TRUE(b2.declare("MAIN", SC_PUBLIC, true, 1, &f));
    p = b2.beginProc("MAIN", 2, &f);
    ASSERT_TRUE(p->opNumber(3, OP_LINE, 0, &f) && p->opPlain(4, OP_ONE, &f) && p->opPlain(5, OP_ENDPROC, &f) &&
                p->finish(6, &f));
    b2.endProc();
    ASSERT_TRUE(b2.finish(&m, &e, off)) << e.message;
    freeModule(&m);
}

}  // namespace
