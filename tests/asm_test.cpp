// The pcode assembler and disassembler: byte encodings of every operand mode,
// labels, codeblocks, the validation of untrusted text, round trips, and
// robustness against garbage.
// Project headers first: vm/symbols.h declares a NAME_MAX that the C
// library's macro of that name would break.
#include "vm/symbols.h"
#include "tests/support/asm_fixture.h"
#include "tools/asm/disassembler.h"
#include "vm/opcodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace xb;
using namespace xb::pcasm;

namespace {

using Bytes = std::vector<uint8_t>;

// The encoding and round-trip tests assemble fragments that are not whole
// programs (a JUMPFALSE with nothing pushed): the pcode verifier stays off.
const AsmOptions kUnverified{false};

const char* const kSymbols =
    "symbol P proc\n"
    "symbol FOPEN\n"
    "symbol FWRITE\n";

// The bytes of a procedure P whose body is body followed by ENDPROC, minus
// that final 0x60.
Bytes bodyBytes(const std::string& body) {
    std::string text = std::string(kSymbols) + "proc P\n" + body + "\nENDPROC\nend\n";
    ScopedModule s(text.c_str(), kUnverified);
    const AsmProc* p = findProc(s.m, "P");
    if (!p) return {};
    return Bytes(s.m.code + p->offset, s.m.code + p->offset + p->length - 1);
}

// The first error the assembler reports for text.
AsmError errorOf(const std::string& text) {
    AsmModule m{};
    AsmError e{};
    if (assemble(text.data(), text.size(), &m, &e)) {
        freeModule(&m);
        e.line = 0;
        std::strcpy(e.message, "(assembled)");
    }
    return e;
}

Bytes procBytes(const AsmModule& m, const char* name) {
    const AsmProc* p = findProc(m, name);
    return p ? Bytes(m.code + p->offset, m.code + p->offset + p->length) : Bytes{};
}

// The instructions of a procedure, each with its operand bytes.
std::vector<Bytes> instructions(const Bytes& code) {
    std::vector<Bytes> out;
    for (size_t at = 0; at < code.size();) {
        int n = operandLength(&code[at], code.data() + code.size());
        if (n < 0) break;
        size_t length = opcodeInfo(code[at]).mode == OM_BLOCK ? 3 : 1 + size_t(n);
        out.emplace_back(code.begin() + at, code.begin() + at + length);
        at += length;
    }
    return out;
}

// A module source of the image as checked in, or "" when unreadable.
std::string shippedModule(const char* name) {
    std::string text;
    FILE* f = std::fopen((std::string(XB_SOURCE_DIR "/modules/") + name + ".xbasm").c_str(), "rb");
    if (!f) return text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    return text;
}

// The distances of every jump-mode instruction, in order.
std::vector<int> jumpDistances(const Bytes& code) {
    std::vector<int> out;
    for (size_t at = 0; at < code.size();) {
        int n = operandLength(&code[at], code.data() + code.size());
        if (n < 0) break;
        OperandMode mode = opcodeInfo(code[at]).mode;
        if (mode == OM_J) out.push_back(int16_t(code[at + 1] | code[at + 2] << 8));
        if (mode == OM_U) out.push_back(code[at + 1] | code[at + 2] << 8);
        at += mode == OM_BLOCK ? 3 : 1 + n;
    }
    return out;
}

}  // namespace

TEST(AsmEncoding, EveryOperandModeAtByteLevel) {
    EXPECT_EQ(bodyBytes("PUSHNIL\nNOP\n111\nEMPTY\n167\nEXT 167"), (Bytes{0x7B, 0x00, 0x6F, 167, 167, 167}));
    EXPECT_EQ(bodyBytes("TEMPVALUE 2\nTEMPVALUE 0xFF"), (Bytes{0x02, 0x02, 0x02, 0xFF}));
    EXPECT_EQ(bodyBytes("LINE 300\nPUSHWORD 65535"), (Bytes{0x2A, 0x2C, 0x01, 0x3B, 0xFF, 0xFF}));
    EXPECT_EQ(bodyBytes("PUSHINT -1\nPUSHINT -32768\nPUSHINT 32767"),
              (Bytes{0x36, 0xFF, 0xFF, 0x36, 0x00, 0x80, 0x36, 0xFF, 0x7F}));
    EXPECT_EQ(bodyBytes("PUSHSYMNIL FOPEN\npushsym fwrite\nPUSHSYM 1"),
              (Bytes{0x13, 2, 0, 0x12, 3, 0, 0x12, 1, 0}));
    EXPECT_EQ(bodyBytes("FRAME 1 3"), (Bytes{0x28, 1, 3}));
    EXPECT_EQ(bodyBytes("PUSHSTR \"Com1:\""), (Bytes{0x01, 5, 'C', 'o', 'm', '1', ':', 0}));
    EXPECT_EQ(bodyBytes("PUSHSTR \"\\r\\n\\t\\\\\\\"\\xF3\\x00\""),
              (Bytes{0x01, 7, '\r', '\n', '\t', '\\', '"', 0xF3, 0x00, 0}));
    EXPECT_EQ(bodyBytes("PUSHSTR \"\""), (Bytes{0x01, 0, 0}));
    // 115200 = 1.7578125 * 2^16: exponent 0x40F, fraction 0xC2
    EXPECT_EQ(bodyBytes("PUSHDOUBLE 10 0 115200"), (Bytes{0x05, 10, 0, 0, 0, 0, 0, 0, 0x20, 0xFC, 0x40}));
    EXPECT_EQ(bodyBytes("PUSHDOUBLE 1 2 -0.5e0"), (Bytes{0x05, 1, 2, 0, 0, 0, 0, 0, 0, 0xE0, 0xBF}));
    EXPECT_EQ(bodyBytes("PUSHDOUBLE 0 0 0x7FF8000000000001"), (Bytes{0x05, 0, 0, 1, 0, 0, 0, 0, 0, 0xF8, 0x7F}));
    EXPECT_EQ(bodyBytes("JUMP 0\nSEQBEGIN 0\nSEQEND"), (Bytes{0x1E, 0, 0, 0x19, 0, 0, 0x61}));
}

TEST(AsmEncoding, XOperandsAreNamedAndPatchedByBinding) {
    ScopedModule s("symbol P proc\nproc P\nPUSHSYMNILX qout\nPUSHMEMVARX GETLIST\nDO 0\nENDPROC\nend\n");
    ASSERT_EQ(s.m.xrefCount, 2u);
    EXPECT_EQ(s.m.xrefs[0].offset, 1u);
    EXPECT_STREQ(s.m.xrefs[0].name, "QOUT");
    EXPECT_EQ(s.m.xrefs[1].offset, 6u);
    EXPECT_EQ(procBytes(s.m, "P"), (Bytes{0x55, 0, 0, 0, 0, 0x4F, 0, 0, 0, 0, 0x27, 0, 0, 0x60}));
}

TEST(AsmEncoding, ModuleTableAndFunctions) {
    ScopedModule s(
        "module ERRORSYS\n"
        "symbol ERRORSYS proc\n"
        "symbol ERRORBLOCK\n"
        "symbol DEFERROR static proc\n"
        "symbol CLIPINIT$ proc init\n"
        "symbol BYE exit proc\n"
        "proc DEFERROR\nENDPROC\nend\n"
        "proc ERRORSYS\nLINE 0\nENDPROC\nend\n"
        "proc clipinit$\nENDPROC\nend\n"
        "proc BYE\nENDPROC\nend\n");
    const AsmModule& m = s.m;
    EXPECT_STREQ(m.name, "ERRORSYS");
    ASSERT_EQ(m.count, 6u);
    const ModuleSymbol zero{};
    EXPECT_EQ(std::memcmp(&m.pristine[0], &zero, sizeof zero), 0);
    const char* names[] = {"", "ERRORSYS", "ERRORBLOCK", "DEFERROR", "CLIPINIT$", "BYE"};
    const uint8_t scopes[] = {0, SC_PUBLIC, SC_PUBLIC, SC_STATIC, SC_INIT, SC_EXIT};
    for (uint32_t n = 0; n < m.count; ++n) {
        EXPECT_STREQ(m.pristine[n].name, names[n]);
        EXPECT_EQ(m.pristine[n].scope, scopes[n]);
    }
    ImageModule img = s.image();
    EXPECT_EQ(imageFunction(img, &m.pristine[2]), nullptr);
    const Function* f = s.proc("ERRORSYS");
    ASSERT_TRUE(f);
    EXPECT_EQ(imageFunction(img, &m.pristine[1]), f);
    EXPECT_EQ(f->native, nullptr);
    EXPECT_EQ(f->module, m.table);
    EXPECT_EQ(f->pcode[0], OP_LINE);
    EXPECT_EQ(imageFunction(img, &m.pristine[3]), s.proc("DEFERROR"));
    EXPECT_EQ(std::memcmp(m.table, m.pristine, m.count * sizeof(ModuleSymbol)), 0);
    EXPECT_EQ(img.symbols, m.table);
    EXPECT_EQ(img.pristine, m.pristine);
    EXPECT_EQ(img.count, 6u);
}

TEST(AsmLabels, ForwardAndBackward) {
    // JUMP at 1: its operand ends at 4, so "top" (0) is -4 away
    EXPECT_EQ(bodyBytes("top: NOP\nJUMP top"), (Bytes{0x00, 0x1E, 0xFC, 0xFF}));
    EXPECT_EQ(bodyBytes("JUMPFALSE skip\nPUSHNIL\nPOP\nskip:\nSEQBEGIN rec\nNOP\nrec: SEQEND"),
              (Bytes{0x1B, 2, 0, 0x7B, 0x76, 0x19, 1, 0, 0x00, 0x61}));
}

// The application's MAIN as shipped (modules/app_main.xbasm): the
// label-placed jumps come out at their distances (the IF's 131 bytes, the
// RETURN's 0), and the port is opened for reading and writing (FOPEN with
// two arguments, the second PUSHWORD 2).
TEST(AsmLabels, MainProcedureOfTheShippedModule) {
    std::string text = shippedModule("app_main");
    ASSERT_FALSE(text.empty());
    ScopedModule s(text.c_str());
    Bytes code = procBytes(s.m, "MAIN");
    EXPECT_EQ(jumpDistances(code), (std::vector<int>{131, 0}));
    EXPECT_EQ(Bytes(code.begin(), code.begin() + 11), (Bytes{0x2A, 0, 0, 0x28, 0, 2, 0x2A, 11, 0, 0x13, 2}));
    std::vector<Bytes> steps = instructions(code);
    auto open = std::find(steps.begin(), steps.end(), Bytes{0x3B, 2, 0});  // PUSHWORD 2
    ASSERT_NE(open, steps.end());
    ASSERT_NE(open + 1, steps.end());
    EXPECT_EQ(open[1], (Bytes{0x29, 2, 0}));  // FUNC 2
    EXPECT_EQ(std::count(steps.begin(), steps.end(), Bytes{0x29, 1, 0}), 0);  // no FUNC 1 left
}

// DEFERROR: a RETURN jumps to the final ENDPROC (past the JUMP 0), the loop
// jumps back to its IDLE.
TEST(AsmLabels, DefaultErrorHandlerJumpsLandOnTheirLabels) {
    ScopedModule s(R"(
symbol ERRORSYS
symbol ERRORBLOCK
symbol DEFERROR static proc
symbol GENCODE
symbol OSCODE
symbol CANDEFAULT
symbol NETERR
symbol ERRORMESSAGE
symbol PROCNAME
symbol PROCLINE
symbol OUTERR
symbol ERRORLEVEL
symbol __QUIT
proc DEFERROR
    LINE 0
    FRAME 1 3
    LINE 19
    PUSHSYM GENCODE
    PUSHLOCAL 1
    SEND 0
    PUSHWORD 5
    JUMPNOTEQUAL l23
    LINE 20
    ZERO
    POPRET
    JUMP out
l23: LINE 23
    PUSHSYM GENCODE
    PUSHLOCAL 1
    SEND 0
    PUSHWORD 21
    EXACTEQUAL
    JUMPFALSEKEEP a1
    PUSHSYM OSCODE
    PUSHLOCAL 1
    SEND 0
    PUSHWORD 32
    EXACTEQUAL
a1: JUMPFALSEKEEP a2
    PUSHSYM CANDEFAULT
    PUSHLOCAL 1
    SEND 0
a2: JUMPFALSE l28
    LINE 24
    PUSHSYMNIL NETERR
    TRUE
    DO 1
    LINE 25
    FALSE
    POPRET
    JUMP out
l28: LINE 28
    PUSHSYM GENCODE
    PUSHLOCAL 1
    SEND 0
    PUSHWORD 40
    EXACTEQUAL
    JUMPFALSEKEEP b1
    PUSHSYM CANDEFAULT
    PUSHLOCAL 1
    SEND 0
b1: JUMPFALSE l33
    LINE 29
    PUSHSYMNIL NETERR
    TRUE
    DO 1
    LINE 30
    FALSE
    POPRET
    JUMP out
l33: LINE 33
    PUSHSYMNIL ERRORMESSAGE
    PUSHLOCAL 1
    FUNC 1
    POPLOCAL 2
    LINE 44
    ZERO
    POPLOCAL 3
    LINE 68
    PUSHSYM OSCODE
    PUSHLOCAL 1
    SEND 0
    EMPTY
    NOT
    JUMPFALSE l73
    LINE 69
    PUSHLOCAL 2
    PUSHSTR " (DOS Error "
    PUSHSYM OSCODE
    PUSHLOCAL 1
    SEND 0
    STR1
    LTRIM
    PLUS
    PUSHSTR ") "
    PLUS
    PLUS
    POPLOCAL 2
l73: LINE 73
    PUSHLOCAL 2
    PUSHSTR "\r"
    PUSHSTR "\n"
    PLUS
    PLUS
    POPLOCAL 2
    LINE 75
    PUSHWORD 2
    POPLOCAL 4
    LINE 77
loop: IDLE
    PUSHSYMNIL PROCNAME
    PUSHLOCAL 4
    FUNC 1
    EMPTY
    NOT
    JUMPFALSE l83
    LINE 79
    PUSHLOCAL 2
    PUSHSTR "\r"
    PUSHSTR "\n"
    PLUS
    PUSHSTR "- Llamado desde "
    PLUS
    PUSHSYMNIL PROCNAME
    PUSHLOCAL 4
    FUNC 1
    TRIM
    PLUS
    PUSHSTR "("
    PLUS
    PUSHSYMNIL PROCLINE
    PUSHLOCAL 4
    FUNC 1
    STR1
    LTRIM
    PLUS
    PUSHSTR ")  "
    PLUS
    PLUS
    POPLOCAL 2
    LINE 80
    PUSHLOCAL 4
    INC
    POPLOCAL 4
    JUMP loop
l83: LINE 83
    PUSHSYMNIL OUTERR
    PUSHLOCAL 2
    DO 1
    LINE 84
    PUSHSYMNIL ERRORLEVEL
    ONE
    DO 1
    LINE 85
    PUSHSYMNIL __QUIT
    DO 0
    LINE 87
    FALSE
    POPRET
    JUMP 0
out: ENDPROC
end
)");
    EXPECT_EQ(jumpDistances(procBytes(s.m, "DEFERROR")),
              (std::vector<int>{8, 368, 13, 9, 18, 303, 9, 18, 254, 43, 87, -102, 0}));
    // the shipped module's DEFERROR is this procedure
    std::string shipped = shippedModule("std_errorsys");
    ASSERT_FALSE(shipped.empty());
    ScopedModule m(shipped.c_str());
    EXPECT_EQ(procBytes(m.m, "DEFERROR"), procBytes(s.m, "DEFERROR"));
}

TEST(AsmBlocks, LengthsOfFlatAndNestedBlocks) {
    // ERRORSYS's block is 16 bytes, INITHANDLER$'s 19
    EXPECT_EQ(bodyBytes("PUSHBLOCK {\nFRAME 1 0\nLINE 8\nPUSHSYMNIL 3\nPUSHLOCAL 1\nFUNC 1\nENDBLOCK\n}\nPOP"),
              (Bytes{0x23, 16, 0, 0x28, 1, 0, 0x2A, 8, 0, 0x13, 3, 0, 0x37, 1, 0, 0x29, 1, 0, 0x5F, 0x76}));
    Bytes b = bodyBytes("FRAME 0 1\nPUSHBLOCK 19 {\nFRAME 1 0\nLINE 28\nPUSHSYMNIL 2\nPUSHLOCAL 1\nPUSHOUTER 1\n"
                        "FUNC 2\nENDBLOCK\n}\nDETACHLOCALS");
    ASSERT_EQ(b.size(), 3u + 3 + 19 + 1);
    EXPECT_EQ(b[3], 0x23);
    EXPECT_EQ(b[4], 19);
    EXPECT_EQ(b[4 + 2 + 19], OP_DETACHLOCALS);
    // outer length counts the inner block's header and code
    Bytes n = bodyBytes("FRAME 0 1\nPUSHBLOCK {\nPUSHBLOCK {\nPUSHOUTER 1\nENDBLOCK\n}\nENDBLOCK\n}");
    EXPECT_EQ(n, (Bytes{0x28, 0, 1, 0x23, 8, 0, 0x23, 4, 0, 0x34, 1, 0, 0x5F, 0x5F}));
    // labels stay inside their block: a jump over the inner block's code
    Bytes j = bodyBytes("PUSHBLOCK {\nJUMPTRUE e\nPUSHBLOCK {\nENDBLOCK\n}\ne: ENDBLOCK\n}");
    EXPECT_EQ(j, (Bytes{0x23, 8, 0, 0x20, 4, 0, 0x23, 1, 0, 0x5F, 0x5F}));
}

TEST(AsmValidation, EveryFaultNamesItsLine) {
    // Lines 1-3 hold the symbols, line 4 "proc P", the body starts at line 5;
    // "end" follows unless the body is complete.
    struct Case {
        std::string body;
        uint32_t line;
        const char* words;  // expected in the message
        bool complete = false;
    };
    const std::vector<Case> cases = {
        {"PUSHSYM 4\nENDPROC", 5, "outside the module table"},
        {"NOP\nPUSHSYM 0\nENDPROC", 6, "outside the module table"},
        {"PUSHSYM FREAD\nENDPROC", 5, "undeclared symbol FREAD"},
        {"PUSHLOCAL 1\nENDPROC", 5, "beyond the FRAME"},
        {"FRAME 1 2\nPOPLOCAL 3\nPUSHLOCALREF 4\nENDPROC", 7, "local 4 beyond the FRAME (3"},
        {"FRAME 0 3\nPUSHBLOCK {\nFRAME 1 0\nPUSHLOCAL 2\nENDBLOCK\n}\nENDPROC", 8, "beyond the FRAME (1"},
        {"FRAME 0 1\nPUSHBLOCK {\nPUSHOUTER 2\nENDBLOCK\n}\nENDPROC", 7, "outer local 2 beyond"},
        {"FRAME 0 1\nPUSHOUTER 1\nENDPROC", 6, "outside a codeblock"},
        {"DO 256\nENDPROC", 5, "more than 255 arguments"},
        {"NOP\nEVALSEND 300\nENDPROC", 6, "more than 255 arguments"},
        {"JUMP 100\nENDPROC", 5, "leaves the procedure"},
        {"NOP\nJUMP -5\nENDPROC", 6, "leaves the procedure"},
        {"JUMP 1\nPUSHINT 5\nENDPROC", 5, "inside an instruction"},
        {"x: NOP\nPUSHBLOCK {\nJUMP x\nENDBLOCK\n}\nENDPROC", 7, "leaves its codeblock"},
        {"JUMP in\nPUSHBLOCK {\nin: ENDBLOCK\n}\nENDPROC", 5, "into a nested codeblock"},
        {"JUMP nowhere\nENDPROC", 5, "undefined label nowhere"},
        {"back: NOP\nSEQBEGIN back\nENDPROC", 6, "only goes forward"},
        {"PUSHNILL\nENDPROC", 5, "unknown mnemonic PUSHNILL"},
        {"EXT 12\nENDPROC", 5, "126..255"},
        {"PUSHINT 40000\nENDPROC", 5, "bad operand 40000"},
        {"TEMPVALUE 256\nENDPROC", 5, "bad operand 256"},
        {"FRAME 1\nENDPROC", 5, "needs a byte"},
        {"FRAME 200 100\nENDPROC", 5, "more than 255 parameters"},
        {"POP 1\nENDPROC", 5, "too many operands"},
        {"PUSHSTR abc\nENDPROC", 5, "quoted string"},
        {"PUSHDOUBLE 10 0 1.5x\nENDPROC", 5, "bad number 1.5x"},
        {"PUSHDOUBLE 10 0 inf\nENDPROC", 5, "bad number inf"},
        {"PUSHSYMX 1234\nENDPROC", 5, "needs a symbol name"},
        {"PUSHSTR \"" + std::string(256, 'a') + "\"\nENDPROC", 5, "longer than 255"},
        {"PUSHSTR \"ab\nENDPROC", 5, "unterminated string"},
        {"PUSHSTR \"\\q\"\nENDPROC", 5, "unknown escape"},
        {"PUSHSTR \"\\x4\"\nENDPROC", 5, "two hex digits"},
        {"NOP\nNO\x01P\nENDPROC", 6, "control character 0x01"},
        {"a: NOP\na: NOP\nENDPROC", 6, "duplicate label a (first at line 5)"},
        {"LINE 0\nPUSHNIL\nFRAME 0 1\nENDPROC", 7, "FRAME must come first"},
        {"FRAME 0 1\nFRAME 0 1\nENDPROC", 6, "second FRAME"},
        {"PUSHNIL", 4, "procedure without end", true},
        {"PUSHNIL", 6, "must end with ENDPROC"},
        {"PUSHBLOCK {\nENDBLOCK\nENDPROC", 8, "missing } for the PUSHBLOCK at line 5"},
        {"PUSHBLOCK {\nPUSHNIL\n}\nENDPROC", 7, "must end with ENDBLOCK"},
        {"PUSHBLOCK 5 {\nENDBLOCK\n}\nENDPROC", 7, "length 5 given, 1 assembled"},
        {"}\nENDPROC", 5, "without an open codeblock"},
        {"ENDPROC\nend\nproc P\nENDPROC", 7, "duplicate proc P"},
        {"symbol Q\nENDPROC", 5, "inside a procedure"},
    };
    for (const Case& c : cases) {
        std::string text = std::string(kSymbols) + "proc P\n" + c.body + (c.complete ? "" : "\nend");
        AsmError e = errorOf(text);
        SCOPED_TRACE(c.body);
        EXPECT_EQ(e.line, c.line) << e.message;
        EXPECT_NE(std::strstr(e.message, c.words), nullptr) << e.message;
        EXPECT_EQ(std::strncmp(e.message, ("line " + std::to_string(c.line) + ": ").c_str(),
                               5 + std::to_string(c.line).size() + 2),
                  0)
            << e.message;
    }
}

TEST(AsmValidation, ModuleLevelFaults) {
    struct Case {
        const char* text;
        uint32_t line;
        const char* words;
    };
    const std::string longName(59, 'N');
    const std::string longText = "symbol " + longName + "\n";
    const Case cases[] = {
        {"symbol A\nsymbol a\n", 2, "duplicate symbol A (first at line 1)"},
        {longText.c_str(), 1, "longer than 58"},
        {"symbol A-B\n", 1, "bad symbol name"},
        {"symbol A static init\n", 1, "more than one scope"},
        {"symbol A global\n", 1, "unknown symbol keyword global"},
        {"symbol A\nproc A\nENDPROC\nend\n", 2, "needs a line `symbol A proc`"},
        {"\n\nsymbol A proc\n", 3, "declared proc but has no body"},
        {"module A\nmodule B\n", 2, "second module line"},
        {"NOP\n", 1, "expected module, symbol or proc"},
        {"end\n", 1, "end outside a procedure"},
    };
    for (const Case& c : cases) {
        AsmError e = errorOf(c.text);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(e.line, c.line) << e.message;
        EXPECT_NE(std::strstr(e.message, c.words), nullptr) << e.message;
    }
    // a name of exactly 58 characters is fine; symbols may be used above their line
    std::string ok = "symbol P proc\nproc P\nPUSHSYM " + std::string(58, 'N') + "\nENDPROC\nend\nsymbol " +
                     std::string(58, 'N') + "\n";
    EXPECT_EQ(errorOf(ok).line, 0u) << errorOf(ok).message;
}

namespace {

// Random but valid procedure bodies straight as bytes, over every opcode
// number (X forms aside: raw disassembly cannot name their symbols).
struct CodeGenerator {
    std::mt19937 rng;
    Bytes out;
    uint32_t symbols = 3;  // entries 1..3 exist

    explicit CodeGenerator(uint32_t seed) : rng(seed) {}
    uint32_t below(uint32_t n) { return uint32_t(rng() % n); }
    void put16(uint32_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }

    void body(int depth, uint32_t procLocals) {
        std::vector<size_t> starts;
        uint32_t locals = 0;
        if (below(2)) {
            uint32_t p = below(100), l = below(100);
            out.insert(out.end(), {OP_FRAME, uint8_t(p), uint8_t(l)});
            locals = p + l;
        }
        if (depth == 0) procLocals = locals;
        for (uint32_t count = below(25); count > 0; --count) {
            const auto op = uint8_t(below(256));
            const OperandMode mode = opcodeInfo(op).mode;
            const bool outer = op == OP_PUSHOUTER || op == OP_POPOUTER || op == OP_PUSHOUTERREF;
            if (op == OP_FRAME || mode == OM_X || (outer && depth == 0) || (mode == OM_BLOCK && depth >= 3)) continue;
            starts.push_back(out.size());
            out.push_back(op);
            switch (mode) {
            case OM_NONE: break;
            case OM_B: out.push_back(uint8_t(rng())); break;
            case OM_N:
                if (op == OP_DO || op == OP_FUNC || op == OP_SEND || op == OP_EVALSEND) put16(below(256));
                else if (op == OP_PUSHLOCAL || op == OP_POPLOCAL || op == OP_PUSHLOCALREF) put16(below(locals + 1));
                else if (outer) put16(below(procLocals + 1));
                else put16(below(65536));
                break;
            case OM_I: put16(rng()); break;
            case OM_S: put16(1 + below(symbols)); break;
            case OM_J: put16(uint32_t(int(starts[below(uint32_t(starts.size()))]) - int(out.size() + 2))); break;
            case OM_U: put16(0); break;
            case OM_BB: put16(rng()); break;
            case OM_STR: {
                uint32_t n = below(12);
                out.push_back(uint8_t(n));
                for (uint32_t i = 0; i < n; ++i) out.push_back(uint8_t(rng()));
                out.push_back(0);
                break;
            }
            case OM_DBL:
                for (int i = 0; i < 10; ++i) out.push_back(uint8_t(rng()));
                break;
            case OM_BLOCK: {
                size_t at = out.size();
                put16(0);
                body(depth + 1, procLocals);
                size_t n = out.size() - at - 2;
                out[at] = uint8_t(n);
                out[at + 1] = uint8_t(n >> 8);
                break;
            }
            case OM_X: break;
            }
        }
        out.push_back(depth ? OP_ENDBLOCK : OP_ENDPROC);
    }
};

const char* const kRichModule = R"(
module SAMPLE                 ; a module touching every feature
symbol MAIN proc
symbol FOPEN
symbol HELPER static proc
symbol START$ init proc
symbol STOP exit proc
symbol EVAL
proc MAIN
    LINE 0
    FRAME 1 2
top:
    PUSHSYMNIL FOPEN
    PUSHSTR "Funci\xF3n \"x\"\r\n"
    PUSHDOUBLE 10 2 3.25
    PUSHDOUBLE 0 0 0xFFF0000000000000
    FUNC 2
    POPLOCAL 3
    PUSHSYMNILX QOUT
    PUSHBLOCK {
        FRAME 1 0
        PUSHLOCAL 1
        PUSHOUTER 2
        PUSHBLOCK {
            POPOUTER 3
            ENDBLOCK
        }
        JUMPFALSE skip
        PUSHNIL
    skip:
        ENDBLOCK
    }
    DETACHLOCALS
    DO 1
    SEQBEGIN recover
    PUSHINT -7
    BREAK
    SEQEND
recover:
    PUSHLOCAL 1
    JUMPTRUE top
    EXT 200
    111
    ENDPROC
end
proc HELPER
    PUSHMEMVARX getlist
    POP
    ENDPROC
end
proc START$
    ENDPROC
end
proc STOP
    ENDPROC
end
)";

}  // namespace

TEST(AsmRoundTrip, DisassemblyFormat) {
    Bytes code = bodyBytes(
        "LINE 0\nPUSHSYMNIL FOPEN\nPUSHSTR \"a\\\"\\r\\n\\xF3\"\nPUSHDOUBLE 10 2 0.1\nPUSHBLOCK {\nPUSHINT -1\n"
        "ENDBLOCK\n}\n111\nEMPTY\nx: JUMP x\nFRAME2: SEQBEGIN 0");
    ModuleSymbol table[3] = {};
    std::strcpy(table[2].name, "FOPEN");
    EXPECT_EQ(disassemble(code.data(), code.size(), table, 3),
              "LINE 0\n"
              "PUSHSYMNIL 2  ; FOPEN\n"
              "PUSHSTR \"a\\\"\\r\\n\\xF3\"\n"
              "PUSHDOUBLE 10 2 0.1\n"
              "PUSHBLOCK 4 {\n"
              "    PUSHINT -1\n"
              "    ENDBLOCK\n"
              "}\n"
              "111\n"
              "EMPTY\n"
              "JUMP -3\n"
              "SEQBEGIN 0\n");
    // without a table (or beyond it) no names; X operands show their address
    EXPECT_EQ(disassemble(code.data() + 3, 3, nullptr, 0), "PUSHSYMNIL 2\n");
    EXPECT_EQ(disassemble(code.data() + 3, 3, table, 2), "PUSHSYMNIL 2\n");
    const uint8_t x[] = {OP_PUSHSYMX, 0x78, 0x56, 0x34, 0x12, 4, 0xFF};
    EXPECT_EQ(disassemble(x, sizeof x), "PUSHSYMX 0x12345678  ; symbol address\n4\n255\n");
}

TEST(AsmRoundTrip, RandomValidCodeReassemblesToTheSameBytes) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        CodeGenerator g(seed);
        g.body(0, 0);
        std::string listing = disassemble(g.out.data(), g.out.size());
        std::string text = std::string(kSymbols) + "proc P\n" + listing + "end\n";
        AsmModule m{};
        AsmError e{};
        ASSERT_TRUE(assemble(text.data(), text.size(), &m, &e, kUnverified)) << "seed " << seed << ": " << e.message << "\n"
                                                                  << listing;
        EXPECT_EQ(procBytes(m, "P"), g.out) << "seed " << seed << "\n" << listing;
        freeModule(&m);
    }
}

TEST(AsmRoundTrip, WholeModuleThroughDisassembleModule) {
    ScopedModule a(kRichModule, kUnverified);
    std::string text = disassembleModule(a.m);
    ScopedModule b(text.c_str(), kUnverified);
    ASSERT_EQ(b.m.count, a.m.count) << text;
    EXPECT_STREQ(b.m.name, "SAMPLE");
    for (uint32_t n = 0; n < a.m.count; ++n) {
        EXPECT_STREQ(b.m.pristine[n].name, a.m.pristine[n].name);
        EXPECT_EQ(b.m.pristine[n].scope, a.m.pristine[n].scope);
        EXPECT_EQ(imageFunction(b.image(), &b.m.pristine[n]) == nullptr, imageFunction(a.image(), &a.m.pristine[n]) == nullptr)
            << n;
    }
    ASSERT_EQ(b.m.codeLength, a.m.codeLength);
    EXPECT_EQ(std::memcmp(b.m.code, a.m.code, a.m.codeLength), 0) << text;
    ASSERT_EQ(b.m.xrefCount, 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(b.m.xrefs[i].offset, a.m.xrefs[i].offset);
        EXPECT_STREQ(b.m.xrefs[i].name, a.m.xrefs[i].name);
    }
    EXPECT_STREQ(b.m.xrefs[1].name, "GETLIST");
    EXPECT_EQ(disassembleModule(b.m), text);
    EXPECT_NE(text.find("symbol HELPER static proc"), std::string::npos) << text;
    EXPECT_NE(text.find("\nproc START$\n"), std::string::npos) << text;
}

TEST(AsmDisassembler, StopsSafelyOnTruncatedCode) {
    ScopedModule s(kRichModule, kUnverified);
    Bytes code = procBytes(s.m, "MAIN");
    for (size_t n = 0; n <= code.size(); ++n) {
        std::string text = disassemble(code.data(), n);
        if (n == 2) {
            EXPECT_NE(text.find("; truncated instruction at offset 0"), std::string::npos) << text;
        }
        if (n == 3) {
            EXPECT_EQ(text, "LINE 0\n");
        }
    }
    const uint8_t beyond[] = {OP_PUSHBLOCK, 0xFF, 0x00, OP_ENDBLOCK};
    EXPECT_EQ(disassemble(beyond, sizeof beyond), "; truncated instruction at offset 0\n");
    // an instruction may not run past the end of its block
    const uint8_t crossing[] = {OP_PUSHBLOCK, 2, 0, OP_PUSHINT, 1, 0, OP_ENDBLOCK};
    EXPECT_EQ(disassemble(crossing, sizeof crossing), "PUSHBLOCK 2 {\n    ; truncated instruction at offset 3\n");
    const uint8_t str[] = {OP_PUSHSTR, 5, 'a', 'b'};
    EXPECT_EQ(disassemble(str, sizeof str), "; truncated instruction at offset 0\n");
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        Bytes junk(rng() % 64);
        for (auto& b : junk) b = uint8_t(rng());
        std::string text = disassemble(junk.data(), junk.size());
        std::string wrapped = std::string(kSymbols) + "proc P\n" + text + "end\n";
        AsmModule m{};
        AsmError e{};
        if (assemble(wrapped.data(), wrapped.size(), &m, &e)) freeModule(&m);
    }
}

TEST(AsmFuzz, MutatedTextNeverCrashesAndWhatAssemblesRoundTrips) {
    const std::string base = kRichModule;
    const char* const pieces[] = {"{", "}", "end", "proc MAIN", "PUSHBLOCK {", "\"", "\\x", "JUMP top", "x:",
                                  "99999999999999", "-", ";", "\n", "\0", "FRAME 255 0", "PUSHLOCAL 9", "EXT"};
    std::mt19937 rng(12345);
    int assembled = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string t = base;
        for (int k = 1 + int(rng() % 4); k > 0; --k) {
            size_t at = rng() % (t.size() + 1);
            switch (rng() % 4) {
            case 0:
                if (at < t.size()) t[at] = char(rng());
                break;
            case 1: t.erase(at, rng() % 12); break;
            case 2: {
                const char* p = pieces[rng() % (sizeof pieces / sizeof *pieces)];
                t.insert(at, p, std::max<size_t>(1, std::strlen(p)));
                break;
            }
            default:
                if (at < t.size()) t.insert(at, t.substr(at, rng() % 40));
            }
        }
        AsmModule m{};
        AsmError e{};
        if (!assemble(t.data(), t.size(), &m, &e, kUnverified)) {
            EXPECT_EQ(std::strncmp(e.message, "line ", 5), 0) << e.message;
            continue;
        }
        ++assembled;
        std::string listing = disassembleModule(m);
        AsmModule again{};
        ASSERT_TRUE(assemble(listing.data(), listing.size(), &again, &e, kUnverified)) << e.message << "\n" << listing;
        ASSERT_EQ(again.codeLength, m.codeLength);
        EXPECT_EQ(std::memcmp(again.code, m.code, m.codeLength), 0) << listing;
        freeModule(&again);
        freeModule(&m);
    }
    EXPECT_GT(assembled, 0);  // some mutations (in comments, strings) stay valid
}

TEST(AsmBlocks, DeepNestingNeedsNoRecursion) {
    std::string text = std::string(kSymbols) + "proc P\n";
    const int depth = 5000;
    for (int i = 0; i < depth; ++i) text += "PUSHBLOCK {\n";
    for (int i = 0; i < depth; ++i) text += "ENDBLOCK\n}\n";
    text += "ENDPROC\nend\n";
    ScopedModule s(text.c_str());
    Bytes code = procBytes(s.m, "P");
    ASSERT_EQ(code.size(), size_t(depth) * 4 + 1);
    EXPECT_EQ(code[1] | code[2] << 8, (depth - 1) * 4 + 1);
    std::string listing = disassemble(code.data(), code.size());
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '}'), depth);
}

// The worked example of docs/pcode-assembler.md assembles as it says.
TEST(AsmDocs, ExampleAssemblesWithTheListedDistances) {
    FILE* f = std::fopen(XB_SOURCE_DIR "/docs/pcode-assembler.md", "rb");
    ASSERT_TRUE(f);
    std::string doc;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) doc.append(buf, n);
    std::fclose(f);
    size_t at = doc.find("## An example");
    ASSERT_NE(at, std::string::npos);
    size_t open = doc.find("```\n", at) + 4, close = doc.find("```", open);
    ScopedModule s(doc.substr(open, close - open).c_str());
    EXPECT_EQ(jumpDistances(procBytes(s.m, "LOCKERRHANDLER")), (std::vector<int>{8, 19, 0}));
    Bytes init = procBytes(s.m, "INITHANDLER$");
    ASSERT_GT(init.size(), 14u);
    EXPECT_EQ(init[12], OP_PUSHBLOCK);
    EXPECT_EQ(init[13], 19);
    EXPECT_EQ(s.m.pristine[5].scope, SC_INIT);
}

// The compiled modules' sources assemble, and their disassembly assembles
// back to the same bytes.
TEST(AsmRoundTrip, ModuleSourcesOfTheImage) {
    const char* const files[] = {"app_main", "std_clipinit", "std_errorsys", "std_rddsys",
                                 "std_dbfntx", "std_ntxerr",  "std_dbfonly"};
    int read = 0;
    for (const char* name : files) {
        SCOPED_TRACE(name);
        std::string path = std::string(XB_SOURCE_DIR "/modules/") + name + ".xbasm";
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) continue;  // not every checkout carries every module
        std::string text;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
        std::fclose(f);
        ++read;
        ScopedModule a(text.c_str());
        ASSERT_GT(a.m.procCount, 0u);
        std::string listing = disassembleModule(a.m);
        ScopedModule b(listing.c_str());
        ASSERT_EQ(b.m.codeLength, a.m.codeLength) << listing;
        EXPECT_EQ(std::memcmp(b.m.code, a.m.code, a.m.codeLength), 0) << listing;
        EXPECT_EQ(b.m.count, a.m.count);
    }
    EXPECT_GT(read, 0);
}
