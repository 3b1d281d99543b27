// The pcode verifier: what it refuses (with the line), what it must accept
// because the interpreter runs it safely, the compiled modules, xbrun's exit
// code 2, and robustness against mutated and random input.
// Project headers first: vm/symbols.h declares a NAME_MAX that the C
// library's macro of that name would break.
#include "vm/symbols.h"
#include "modules/app_main.h"
#include "modules/modules.h"
#include "tests/support/asm_fixture.h"
#include "tests/support/capture_run.h"
#include "tests/support/program_run.h"
#include "tools/asm/verifier.h"
#include "vm/opcodes.h"
#include "vm/opeffects.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace xb;
using namespace xb::pcasm;

namespace {

// Five lines before the body: the body's first line is line 6.
constexpr uint32_t kBodyLine = 6;
const char* const kHead =
    "symbol MAIN proc\n"
    "symbol QOUT\n"
    "symbol NOSUCHFUNC\n"
    "symbol S\n"
    "proc MAIN\n";

// body: instructions separated by " / "; ENDPROC and end are appended.
std::string program(const std::string& body) {
    std::string text = kHead;
    size_t from = 0;
    for (;;) {
        size_t cut = body.find(" / ", from);
        text += body.substr(from, cut == std::string::npos ? std::string::npos : cut - from) + "\n";
        if (cut == std::string::npos) break;
        from = cut + 3;
    }
    return text + "ENDPROC\nend\n";
}

struct Outcome {
    bool ok;
    uint32_t line;
    std::string message;
};

Outcome assembleText(const std::string& text, AsmOptions options = {}) {
    AsmModule m{};
    AsmError e{};
    bool ok = assemble(text.data(), text.size(), &m, &e, options);
    if (ok) freeModule(&m);
    return {ok, e.line, e.message};
}

std::string readSource(const std::string& name) {
    std::ifstream in(std::string(XB_SOURCE_DIR) + "/modules/" + name + ".xbasm", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const char* const kSources[] = {"app_main",   "std_clipinit", "std_errorsys", "std_rddsys",
                                "std_dbfntx", "std_ntxerr",   "std_dbfonly"};

// Walks random paths through verified code (the procedure's own body; its
// blocks are values pushed by PUSHBLOCK) with the effect table, independently
// of the verifier's algorithm: no pop may go below the frame, and no
// instruction but those of a tail that only ends the activation (LINE, JUMP,
// ... up to ENDPROC) may be reached with two depths.
void walkPaths(const uint8_t* code, uint32_t length, std::mt19937& rng, const std::string& context) {
    std::vector<int64_t> seen(length, -1);
    for (int walk = 0; walk < 8; ++walk) {
        uint32_t at = 0;
        int64_t depth = 0;
        for (int step = 0; step < 400 && at < length; ++step) {
            const uint8_t op = code[at];
            const OpEffect& fx = opEffect(op);
            const bool neutral = fx.rule == SR_FIXED && fx.pops == 0 && fx.pushes == 0 &&
                                 (fx.flow == FL_NEXT || fx.flow == FL_JUMP || fx.flow == FL_END);
            if (seen[at] >= 0 && !neutral && seen[at] != depth) {
                ADD_FAILURE() << "offset " << at << " reached with " << depth << " and " << seen[at] << "\n" << context;
                return;
            }
            seen[at] = depth;
            const int n = operandLength(code + at, code + length);
            if (n < 0) {
                ADD_FAILURE() << "truncated at " << at << "\n" << context;
                return;
            }
            if (!fx.known || fx.flow == FL_END || fx.flow == FL_UNWIND) break;
            const uint32_t operand = n >= 2 ? uint32_t(code[at + 1] | code[at + 2] << 8) : n == 1 ? code[at + 1] : 0;
            const int64_t pops =
                fx.pops + (fx.rule == SR_COUNT ? operand : 0) + (fx.rule == SR_TEMP && operand == 2 ? 1 : 0);
            if (depth < pops) {
                ADD_FAILURE() << "pop below the frame at " << at << "\n" << context;
                return;
            }
            const int64_t after = depth - pops + fx.pushes;
            const int64_t target =
                opcodeInfo(op).mode == OM_J ? int64_t(at) + 3 + int16_t(operand) : int64_t(at) + 3 + operand;
            const bool jump =
                fx.flow == FL_JUMP || ((fx.flow == FL_BRANCH || fx.flow == FL_KEEP || fx.flow == FL_SEQ) && rng() % 2);
            if (jump) {
                at = uint32_t(target);
                depth = fx.flow == FL_KEEP ? after + 1 : fx.flow == FL_SEQ ? depth : after;
            } else {
                at += uint32_t(1 + n);
                depth = after;
            }
        }
    }
}

}  // namespace

// Each body is refused at the given body line (1 = first line of the body),
// with the words in the message; the same body without the verifier assembles.
TEST(Verifier, RefusesWhatWouldLeaveTheFrameNamingTheLine) {
    struct Case {
        const char* body;
        uint32_t line;
        const char* words;
    };
    const Case cases[] = {
        // calls count their Symbol, self and arguments
        {"PUSHSYMNIL QOUT / FUNC 200", 2, "FUNC takes 202 item(s) but only 2"},
        {"PUSHSYMNIL NOSUCHFUNC / FUNC 2", 2, "FUNC takes 4 item(s) but only 2"},
        {"PUSHSYMNIL QOUT / PUSHNIL / DO 2", 3, "DO takes 4 item(s) but only 3"},
        {"PUSHSYM QOUT / SEND 0", 2, "SEND takes 2 item(s) but only 1"},
        {"PUSHSYM QOUT / PUSHNIL / EVALSEND 1", 3, "EVALSEND takes 3"},
        // counted operands
        {"ARRAYGEN 1000", 1, "ARRAYGEN takes 1000 item(s) but only 0"},
        {"ONE / ARRAYDIM 65535", 2, "ARRAYDIM takes 65535 item(s) but only 1"},
        {"PRIVATE 65535", 1, "PRIVATE takes 65535"},
        {"PARAMETERS 65535", 1, "PARAMETERS takes 65535"},
        {"PUSHSYM S / PUBLIC 2", 2, "PUBLIC takes 2 item(s) but only 1"},
        // fixed effects
        {"FRAME 0 1 / POP / POP", 2, "POP takes 1 item(s) but only 0 lie above the frame"},
        {"PUSHNIL / JUMPNOTEQUAL x / x: NOP", 2, "JUMPNOTEQUAL takes 2"},
        {"TEMPVALUE 1 / TEMPVALUE 2", 2, "TEMPVALUE takes 1"},
        {"ONE / ARRAYPUT", 2, "ARRAYPUT takes 3"},
        {"BREAK", 1, "BREAK takes 1"},
        {"POPRET", 1, "POPRET takes 1"},
        {"ONE / ONE / SUBSTR3", 3, "SUBSTR3 takes 3"},
        {"ONE / EXT 152", 2, "MACROPOPALIASFIELD takes 3"},
        // paths that meet with different depths
        {"TRUE / JUMPFALSE no / PUSHINT 1 / JUMP join / no: / join: PUSHNIL / POPRET", 4,
         "paths meet at line 11 with different stack depths: 1 from here, 0 from line 7"},
        {"top: PUSHNIL / JUMP top", 2, "different stack depths: 1 from here, 0 from the entry"},
        {"FALSE / JUMPFALSEKEEP x / TRUE / x: POP / POP", 5, "POP takes 1 item(s) but only 0"},
        {"TRUE / JUMPTRUEKEEP x / x: POP", 2, "paths meet at line 8"},
        // an unwinding cuts the stack back to its height at SEQBEGIN
        {"SEQBEGIN rec / PUSHNIL / PUSHNIL / SEQEND / JUMP done / rec: POP / done: NOP", 6, "POP takes 1 item(s) but only 0"},
        {"ONE / SEQBEGIN rec / SEQEND / POP / rec: POPRET", 4, "paths meet at line 10"},
        // codeblocks have their own frame
        {"PUSHBLOCK { / POP / ONE / ENDBLOCK / } / POP", 2, "POP takes 1 item(s) but only 0"},
        {"PUSHBLOCK { / FRAME 1 0 / PUSHLOCAL 1 / JUMPTRUE t / ONE / t: PUSHNIL / ENDBLOCK / } / POP", 5,
         "paths meet at line 11 with different stack depths: 1 from here, 0 from line 9"},
        // statics need a module that allocates and selects them
        {"PUSHSTATIC 1 / POP", 1, "PUSHSTATIC in a module without statics (no STATICSALLOC)"},
        {"ONE / POPSTATIC 255", 2, "POPSTATIC in a module without statics"},
        {"PUSHWORD 2 / STATICSALLOC S / PUSHSTATICREF 1 / POP", 3, "(no STATICSBASE)"},
        {"PUSHWORD 2 / STATICSALLOC S / STATICSBASE S / ONE / POPSTATIC 3", 5, "static 3 beyond the module's 2 statics"},
        {"PUSHWORD 2 / STATICSALLOC S / STATICSBASE S / PUSHSTATIC 0 / POP", 4, "static 0"},
        {"STATICSBASE QOUT", 1, "allocates no statics"},
        // the FRAME runs once, at the head
        {"head: LINE 0 / FRAME 0 1 / JUMP head", 3, "goes back to the FRAME at line 7"},
        {"TRUE / JUMPTRUE h / h: FRAME 0 1", 3, "FRAME must come first"},
    };
    for (const Case& c : cases) {
        std::string text = program(c.body);
        Outcome o = assembleText(text);
        EXPECT_FALSE(o.ok) << c.body;
        EXPECT_EQ(o.line, kBodyLine + c.line - 1) << c.body << ": " << o.message;
        EXPECT_NE(o.message.find(c.words), std::string::npos) << c.body << ": " << o.message;
        EXPECT_EQ(o.message.rfind("line " + std::to_string(o.line) + ": ", 0), 0u) << o.message;
        if (std::strstr(c.body, "h: FRAME")) continue;  // the assembler itself refuses that one
        EXPECT_TRUE(assembleText(text, AsmOptions{false}).ok) << c.body;  // only the verifier refuses it
    }
}

// Code the interpreter runs without harm must pass: a verifier that refuses
// valid code is as wrong as one that lets a crash through.
TEST(Verifier, AcceptsWhatTheInterpreterRunsSafely) {
    const char* const bodies[] = {
        // calls of every kind, by their counts
        "PUSHSYMNIL QOUT / PUSHSTR \"a\" / ONE / DO 2",
        "PUSHSYMNIL QOUT / FUNC 0 / PUSHSYM QOUT / PUSHNIL / ONE / SEND 1 / PLUS / POPRET",
        "FRAME 1 0 / PUSHSYM QOUT / PUSHLOCAL 1 / PUSHNIL / PUSHNIL / EVALSEND 2 / POP",
        // the types are the run-time checks' business, not the verifier's
        "PUSHNIL / PUSHNIL / FUNC 0 / POP",
        "PUSHINT 7 / PUSHNIL / SEND 0 / POP",
        "ARRAYGEN 0 / PUBLIC 1",
        "ZERO / PRIVATE 1",
        "ONE / ONE / ARRAYDIM 2 / ARRAYGEN 0 / ARRAYGEN 0 / ARRAYGEN 2 / ARRAYGEN 2 / POP",
        // short-circuit logic keeps the tested value on the jump
        "TRUE / JUMPFALSEKEEP a / FALSE / a: JUMPTRUEKEEP b / TRUE / b: POPRET",
        "FRAME 1 0 / PUSHLOCAL 1 / ONE / JUMPNOTEQUAL x / x: NOP",
        // RETURN from inside a loop or a sequence with items left behind:
        // the return cuts the stack back, so the end may be reached with any depth
        "TRUE / JUMPFALSE skip / ONE / PUSHNIL / JUMP out / skip: / out: LINE 9 / JUMP 0",
        "FRAME 0 1 / ONE / SEQBEGIN rec / ONE / ONE / SEQEND / JUMP done / rec: PUSHRET / POPLOCAL 1 / done: LINE 3",
        // the recovery code starts with the depth at SEQBEGIN
        "PUSHNIL / SEQBEGIN rec / PUSHNIL / PUSHNIL / SEQEND / POP / POP / JUMP done / rec: / done: POP",
        "SEQBEGIN rec / ONE / BREAK / SEQEND / rec: NOP",
        // a loop that keeps its depth
        "FRAME 0 1 / ZERO / POPLOCAL 1 / top: IDLE / PUSHLOCAL 1 / PUSHINT 10 / LESS / JUMPFALSE done / "
        "PUSHLOCAL 1 / INC / POPLOCAL 1 / JUMP top / done: NOP",
        // blocks: an empty one, one using outer locals, one made inside a block
        "PUSHBLOCK { / ENDBLOCK / } / POP",
        "FRAME 0 2 / PUSHBLOCK { / FRAME 1 0 / PUSHLOCAL 1 / POPOUTER 2 / PUSHOUTERREF 1 / ENDBLOCK / } / "
        "DETACHLOCALS / POPLOCAL 1",
        "FRAME 1 0 / PUSHBLOCK { / PUSHBLOCK { / PUSHOUTER 1 / ENDBLOCK / } / DETACHLOCALS / ENDBLOCK / } / POP",
        // code after an unconditional jump, a BREAK or an undefined opcode never runs
        "JUMP over / POP / POP / over: NOP",
        "ONE / BREAK / POP / POP",
        "4 / POP",
        // statics of a module that allocates and selects them
        "PUSHWORD 2 / STATICSALLOC S / STATICSBASE S / ONE / POPSTATIC 2 / PUSHSTATICREF 1 / POP",
        // temporary values and the local 0 (the self)
        "TEMPVALUE 1 / ONE / TEMPVALUE 2 / PUSHTEMP / POP / TEMPVALUE 3 / PUSHLOCAL 0 / POP",
        // DEBUGINFO skips its bytes like a jump
        "DEBUGINFO d / POP / d: NOP",
    };
    for (const char* body : bodies) {
        Outcome o = assembleText(program(body));
        EXPECT_TRUE(o.ok) << body << ": " << o.message;
    }
}

// The compiled modules pass unchanged: from their sources, and as the bytes
// the image carries (named by offset, having no source).
TEST(Verifier, TheSevenCompiledModulesPass) {
    for (const char* name : kSources) {
        std::string text = readSource(name);
        ASSERT_FALSE(text.empty()) << name;
        Outcome o = assembleText(text);
        EXPECT_TRUE(o.ok) << name << ": " << o.message;
    }
    std::vector<const modules::CompiledModule*> all = {&modules::appMain};
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) all.push_back(modules::standardModules()[i]);
    ASSERT_EQ(all.size(), 7u);
    for (const modules::CompiledModule* m : all) {
        std::vector<VerifyProc> procs;
        for (uint32_t i = 0; i < m->procCount; ++i) procs.push_back({m->procs[i].code, m->procs[i].length, nullptr});
        VerifyFault f{};
        EXPECT_TRUE(verifyModule(procs.data(), uint32_t(procs.size()), &f)) << m->name << ": " << f.text;
    }
}

// Without a source the fault names the procedure and the byte offset.
TEST(Verifier, BytesWithoutSourceAreNamedByOffset) {
    const uint8_t ok[] = {OP_FRAME, 0, 1, OP_PUSHLOCAL, 1, 0, OP_POPRET, OP_ENDPROC};
    const uint8_t under[] = {OP_LINE, 0, 0, OP_POP, OP_ENDPROC};
    const uint8_t offEnd[] = {OP_PUSHNIL, OP_POP};
    const uint8_t truncated[] = {OP_PUSHBLOCK, 9, 0, OP_ENDBLOCK, OP_ENDPROC};
    const uint8_t inside[] = {OP_JUMP, 1, 0, OP_PUSHINT, 0x60, 0, OP_ENDPROC};
    const uint8_t doubleMeet[] = {OP_TRUE, OP_JUMPTRUE, 1, 0, OP_PUSHNIL, OP_PUSHNIL, OP_POP, OP_ENDPROC};
    struct Case {
        const uint8_t* code;
        uint32_t length;
        bool passes;
        uint32_t offset;
        const char* words;
    };
    const Case cases[] = {
        {ok, sizeof ok, true, 0, ""},
        {under, sizeof under, false, 3, "POP takes 1"},
        {offEnd, sizeof offEnd, false, 1, "POP runs off the end of its procedure"},
        {truncated, sizeof truncated, false, 0, "truncated instruction: PUSHBLOCK"},
        {inside, sizeof inside, false, 0, "JUMP lands inside an instruction"},
        {doubleMeet, sizeof doubleMeet, false, 4, "paths meet at offset 5 with different stack depths: 1 from here, 0 "
                                                   "from offset 1"},
    };
    for (const Case& c : cases) {
        VerifyProc procs[2] = {{ok, sizeof ok, nullptr}, {c.code, c.length, nullptr}};
        VerifyFault f{};
        EXPECT_EQ(verifyModule(procs, 2, &f), c.passes) << c.words;
        if (c.passes) continue;
        EXPECT_EQ(f.proc, 1u);
        EXPECT_EQ(f.offset, c.offset) << f.text;
        EXPECT_EQ(f.line, 0u);
        EXPECT_NE(std::strstr(f.text, c.words), nullptr) << f.text;
    }
}

// Every opcode's table line agrees with the operand modes: jumps have a
// target, counted pops read a u16, FRAME reads two bytes.
TEST(Verifier, EffectTableMatchesTheOperandModes) {
    int named = 0;
    for (int op = 0; op < 256; ++op) {
        const OpcodeInfo& info = opcodeInfo(uint8_t(op));
        const OpEffect& e = opEffect(uint8_t(op));
        EXPECT_EQ(e.known, info.name != nullptr) << op;
        if (!info.name) continue;
        ++named;
        const bool jumps = e.flow == FL_JUMP || e.flow == FL_BRANCH || e.flow == FL_KEEP || e.flow == FL_SEQ;
        EXPECT_EQ(jumps, info.mode == OM_J || info.mode == OM_U) << info.name;
        if (e.rule == SR_COUNT) {
            EXPECT_EQ(info.mode, OM_N) << info.name;
        }
        if (e.rule == SR_TEMP) {
            EXPECT_EQ(info.mode, OM_B) << info.name;
        }
        if (e.rule == SR_FRAME) {
            EXPECT_EQ(op, OP_FRAME);
        }
        if (e.flow == FL_KEEP || e.flow == FL_BRANCH) {
            EXPECT_GE(e.pops, 1) << info.name;
        }
    }
    EXPECT_GT(named, 170);
    EXPECT_EQ(opEffect(0x6F).flow, opEffect(OP_NOP).flow);  // the second NOP shares the first's line
    EXPECT_FALSE(opEffect(4).known);
}

// Mutated module sources: whatever the mutation, the assembler answers with a
// line or assembles; what assembles and verifies is walked along random paths
// with the effect table, which must never find a pop below the frame or an
// instruction reached with two depths.
TEST(VerifierFuzz, MutatedModulesAreRefusedCleanlyOrDepthConsistent) {
    std::vector<std::vector<std::string>> sources;
    for (const char* name : kSources) {
        std::vector<std::string> lines;
        std::stringstream s(readSource(name));
        for (std::string l; std::getline(s, l);) lines.push_back(l);
        sources.push_back(lines);
    }
    const char* const inserts[] = {"POP", "PUSHNIL", "DUP", "PUSHSYMNIL QOUT", "FUNC 1", "DO 3", "ARRAYGEN 2",
                                   "JUMP out", "JUMPFALSE out", "SEQBEGIN out", "BREAK", "PUSHOUTER 1",
                                   "PUSHSTATIC 1", "ENDBLOCK", "PUSHLOCAL 2", "EXT 152", "4"};
    std::mt19937 rng(2024);
    int verified = 0, refused = 0;
    for (int round = 0; round < 1500; ++round) {
        std::vector<std::string> lines = sources[rng() % sources.size()];
        for (int k = 1 + int(rng() % 3); k > 0; --k) {
            size_t at = rng() % lines.size();
            switch (rng() % 4) {
            case 0: lines.erase(lines.begin() + long(at)); break;
            case 1: lines.insert(lines.begin() + long(at), lines[rng() % lines.size()]); break;
            case 2: lines.insert(lines.begin() + long(at), inserts[rng() % (sizeof inserts / sizeof *inserts)]); break;
            default: std::swap(lines[at], lines[rng() % lines.size()]);
            }
            if (lines.empty()) lines.push_back("");
        }
        std::string text;
        for (const std::string& l : lines) text += l + "\n";
        AsmModule m{};
        AsmError e{};
        if (!assemble(text.data(), text.size(), &m, &e)) {
            ++refused;
            ASSERT_EQ(std::strncmp(e.message, "line ", 5), 0) << e.message;
            ASSERT_GT(e.line, 0u);
            continue;
        }
        ++verified;
        for (uint32_t p = 0; p < m.procCount; ++p) {
            walkPaths(m.code + m.procs[p].offset, m.procs[p].length, rng, text);
        }
        freeModule(&m);
    }
    EXPECT_GT(verified, 50);
    EXPECT_GT(refused, 300);
}

// Random bytes never crash the verifier: every answer is a pass or a fault
// inside the code, and what passes holds up to the random walks.
TEST(VerifierFuzz, RandomBytesGetAnAnswer) {
    std::mt19937 rng(99);
    int passed = 0;
    for (int i = 0; i < 5000; ++i) {
        std::vector<uint8_t> code(1 + rng() % 48);
        for (auto& b : code) b = rng() % 4 ? uint8_t(rng()) : uint8_t(OP_PUSHBLOCK);
        VerifyProc p{code.data(), uint32_t(code.size()), nullptr};
        VerifyFault f{};
        if (!verifyModule(&p, 1, &f)) {
            EXPECT_LT(f.offset, code.size());
            EXPECT_NE(f.text[0], 0);
        } else {
            ++passed;
            walkPaths(code.data(), uint32_t(code.size()), rng, "random bytes");
        }
    }
    EXPECT_GT(passed, 10);
}

// xbrun refuses what the verifier refuses, with exit code 2 and the line,
// before anything runs (no Error.txt); the same module without the fault runs.
TEST(VerifierRun, XbrunEndsWithCodeTwoAndTheLine) {
    test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    struct Case {
        const char* body;
        const char* message;
    };
    std::string pops = "FRAME 0 1";
    for (int i = 0; i < 300; ++i) pops += " / POP";
    const Case cases[] = {
        {pops.c_str(), "line 7: POP takes 1 item(s) but only 0"},
        {"ONE / ARRAYDIM 65535 / POP", "line 7: ARRAYDIM takes 65535"},
        {"PARAMETERS 65535", "line 6: PARAMETERS takes 65535"},
        {"ONE / POPSTATIC 255", "line 7: POPSTATIC in a module without statics"},
        {"ONE / POPOUTER 1", "line 7: POPOUTER outside a codeblock"},
        {"PUSHSYMNIL QOUT / FUNC 200 / POP", "line 7: FUNC takes 202 item(s)"},
        {"PUSHSYMNIL NOSUCHFUNC / FUNC 2 / POP", "line 7: FUNC takes 4 item(s)"},
        {"ARRAYGEN 1000 / POP", "line 6: ARRAYGEN takes 1000"},
        {"PRIVATE 65535", "line 6: PRIVATE takes 65535"},
        {"PUSHSTATIC 1 / POP", "line 6: PUSHSTATIC in a module without statics"},
        {"PUSHOUTERREF 1 / POP", "line 6: PUSHOUTERREF outside a codeblock"},
        {"top: PUSHNIL / JUMP top", "line 7: paths meet at line 6"},
    };
    for (const Case& c : cases) {
        std::string file = run.write("bad.xbasm", program(c.body));
        test::Captured r = test::runCaptured(run, xbrun, {file});
        EXPECT_EQ(r.exitCode, 2) << c.message << "\n" << r.err;
        // "line N: text" is reported as "bad.xbasm:N: error: text"
        std::string m = c.message;
        size_t colon = m.find(": ");
        std::string expected = "bad.xbasm:" + m.substr(5, colon - 5) + ": error: " + m.substr(colon + 2);
        EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
        EXPECT_EQ(run.read("Error.txt"), "<missing>") << c.message;
    }
    std::string good = run.write("good.xbasm", program("PUSHSYMNIL QOUT / PUSHSTR \"ok\" / DO 1"));
    test::RunResult r = run.run(xbrun, {good});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}
