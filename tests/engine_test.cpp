// The fast engine against the classic loop: the same programs give the same
// results, raised errors, stack and line under both. Generated programs
// cover the inline opcodes and the fused sequences with every kind of
// operand (Integers at their limits, Doubles, Strings, Logicals, NILs, local
// references); hand-written ones check substitution, recovery and retry
// around fused sequences, the bounded IDLE countdown and the hand-over to a
// handler a test has installed.
#include "tests/support/vm_fixture.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "vm/engine.h"

using namespace xb;
using xb::test::VmTest;

namespace {

// What one run showed: the returned Item (an Array's elements in order,
// Strings by their bytes), the raised errors, the status, the line and
// whether the stack came back to where it was.
struct Outcome {
    std::vector<std::string> values;
    std::vector<std::string> errors;
    uint16_t status = 0;
    std::vector<uint16_t> lines;  // the line recorded when each error was raised
    bool stackBack = false;
};

std::string describe(const Item* it) {
    char buf[96];
    switch (it->type) {
    case T_NIL: return "NIL";
    case T_INTEGER:
        std::snprintf(buf, sizeof buf, "I%d/%u", it->v.l, it->width);
        return buf;
    case T_DOUBLE:
        std::snprintf(buf, sizeof buf, "D%.17g/%u/%u", it->v.d, it->width, it->decimals);
        return buf;
    case T_LOGICAL: return it->v.l ? "T" : "F";
    case T_STRING: return "S" + std::string(strData(it), strLength(it));
    case T_ARRAY: {
        std::string s = "{";
        for (uint32_t i = 0; i < arrayLength(it); ++i) s += describe(arrayItems(it) + i) + ",";
        return s + "}";
    }
    default:
        std::snprintf(buf, sizeof buf, "type%04X", it->type);
        return buf;
    }
}

class Engine : public VmTest {
protected:
    static inline std::vector<uint16_t> errorLines;
    static uint16_t lineLauncher(ErrorDescriptor* d, const Item* operands, uint16_t count) {
        errorLines.push_back(vm.lineNumber);
        return recordingLauncher(d, operands, count);
    }

    void TearDown() override {
        VmTest::TearDown();
        selectEngine(ENGINE_FAST);
    }

    Outcome runWith(EngineKind kind, const std::string& text, const char* proc = "MAIN") {
        down();
        errors.clear();
        load(text.c_str());
        errorLines.clear();
        errorLauncher = lineLauncher;
        selectEngine(kind);
        Outcome o;
        Item* before = vm.top;
        Item r = call(proc);
        o.values.push_back(describe(&r));
        o.status = lastStatus;
        o.lines = errorLines;
        o.stackBack = vm.top == before;
        for (const auto& e : errors) o.errors.push_back(std::to_string(e.d.subCode) + " " + e.operation);
        return o;
    }

    // Runs the program under both engines and expects the same outcome.
    Outcome same(const std::string& text, const char* proc = "MAIN") {
        Outcome classic = runWith(ENGINE_CLASSIC, text, proc);
        Outcome fast = runWith(ENGINE_FAST, text, proc);
        EXPECT_EQ(classic.values, fast.values) << text;
        EXPECT_EQ(classic.errors, fast.errors) << text;
        EXPECT_EQ(classic.status, fast.status) << text;
        EXPECT_EQ(classic.lines, fast.lines) << text;
        EXPECT_EQ(classic.stackBack, fast.stackBack) << text;
        return fast;
    }
};

// ---- generated programs

constexpr int LOCALS = 5;

struct Generator {
    std::mt19937 rng;
    std::string code;
    int labels = 0;
    int line = 1;

    explicit Generator(uint32_t seed) : rng(seed) {}

    int pick(int n) { return int(rng() % uint32_t(n)); }
    std::string local() { return std::to_string(1 + pick(LOCALS)); }

    std::string constant() {
        switch (pick(11)) {
        case 0: return "PUSHINT " + std::to_string(int(rng() % 65536) - 32768);
        case 1: return "ZERO";
        case 2: return "ONE";
        case 3: return "PUSHDOUBLE 10 0 2147483647";
        case 4: return "PUSHDOUBLE 11 0 -2147483648";
        case 5: return "PUSHDOUBLE 6 2 " + std::to_string(pick(2000) - 1000) + ".25";
        case 6: return "PUSHSTR \"ab\"";
        case 7: return pick(2) ? "TRUE" : "FALSE";
        case 8: return "PUSHNIL";
        case 9: return "PUSHWORD " + std::to_string(rng() % 65536);
        default: return "PUSHDOUBLE 3 1 0.5";
        }
    }
    std::string operand() {
        switch (pick(6)) {
        case 0: return "PUSHINT " + std::to_string(pick(201) - 100);
        case 1: return "ZERO";
        case 2: return "ONE";
        case 3: return "PUSHDOUBLE 5 1 " + std::to_string(pick(100)) + ".5";
        default: return "PUSHLOCAL " + local();
        }
    }
    std::string relation() {
        static const char* const r[] = {"LESS", "LESSEQUAL", "GREATER", "GREATEREQUAL", "EQUAL", "EXACTEQUAL",
                                        "NOTEQUAL"};
        return r[pick(7)];
    }
    void emit(const std::string& s) { code += "    " + s + "\n"; }

    void simpleStatement() {
        emit("LINE " + std::to_string(line++));
        switch (pick(10)) {
        case 0:
        case 1:
            emit("PUSHLOCAL " + local());
            emit("PUSHLOCAL " + local());
            emit(pick(2) ? "PLUS" : "MINUS");
            emit("POPLOCAL " + local());
            break;
        case 2: {
            std::string a = local();
            emit("PUSHLOCAL " + a);
            emit(pick(2) ? "INC" : "DEC");
            emit("POPLOCAL " + (pick(3) ? a : local()));
            break;
        }
        case 3:
            emit(constant());
            emit("POPLOCAL " + local());
            break;
        case 4:
            emit("PUSHLOCAL " + local());
            emit("NOT");
            emit("POPLOCAL " + local());
            break;
        case 5:
            emit("PUSHLOCAL " + local());
            emit(operand());
            emit(pick(2) ? "PLUS" : "MINUS");
            emit("POPLOCAL " + local());
            break;
        case 6:
            emit("PUSHLOCAL " + local());
            emit(operand());
            emit(relation());
            emit("POPLOCAL " + local());
            break;
        case 7:
            emit("PUSHLOCAL " + local());
            emit("DUP");
            emit("POP");
            emit("POPLOCAL " + local());
            break;
        case 8:
            emit("IDLE");
            emit("NOP");
            break;
        default:
            emit("PUSHLOCAL " + local());
            emit(pick(2) ? "INC" : "DEC");
            emit("POP");
            break;
        }
    }

    void statement(int depth) {
        if (depth < 2 && pick(3) == 0) {
            // IF local R operand ... ENDIF, the condition sometimes inverted
            std::string skip = "skip" + std::to_string(labels++);
            emit("LINE " + std::to_string(line++));
            emit("PUSHLOCAL " + local());
            emit(operand());
            emit(relation());
            emit(std::string(pick(2) ? "JUMPFALSE " : "JUMPTRUE ") + skip);
            int n = 1 + pick(3);
            for (int i = 0; i < n; ++i) statement(depth + 1);
            code += skip + ":\n";
            return;
        }
        if (depth < 1 && pick(8) == 0) {
            // a counted loop over a local of its own kind
            std::string top = "top" + std::to_string(labels), done = "done" + std::to_string(labels++);
            emit("PUSHINT " + std::to_string(pick(5)));
            emit("POPLOCAL 6");
            code += top + ":\n";
            emit("LINE " + std::to_string(line++));
            emit("IDLE");
            emit("PUSHLOCAL 6");
            emit("PUSHINT 3");
            emit("LESSEQUAL");
            emit("JUMPFALSE " + done);
            int n = 1 + pick(3);
            for (int i = 0; i < n; ++i) statement(depth + 1);
            emit("PUSHLOCAL 6");
            emit("INC");
            emit("POPLOCAL 6");
            emit("JUMP " + top);
            code += done + ":\n";
            return;
        }
        simpleStatement();
    }

    std::string program() {
        code = "symbol MAIN proc\nproc MAIN\n    FRAME 0 6\n";
        for (int i = 1; i < LOCALS; ++i) {
            emit(constant());
            emit("POPLOCAL " + std::to_string(i));
        }
        // the last local refers to the first: pushes read through it and
        // stores write through it (it never holds anything else, so no
        // chain of references can close on itself)
        emit("PUSHLOCALREF 1");
        emit("POPLOCAL " + std::to_string(LOCALS));
        int n = 6 + pick(20);
        for (int i = 0; i < n; ++i) statement(0);
        for (int i = 1; i <= LOCALS; ++i) emit("PUSHLOCAL " + std::to_string(i));
        emit("ARRAYGEN " + std::to_string(LOCALS));
        emit("POPRET");
        emit("ENDPROC");
        code += "end\n";
        return code;
    }
};

TEST_F(Engine, GeneratedProgramsGiveTheSameResultsErrorsAndLines) {
    // every raised operator error takes a Logical, so conditions stay Logical
    int withErrors = 0;
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        Generator g(seed);
        std::string text = g.program();
        answerLogical(seed % 2 == 0);
        Outcome o = same(text);
        if (!o.errors.empty()) ++withErrors;
        if (HasFailure()) {
            ADD_FAILURE() << "seed " << seed;
            break;
        }
    }
    // the programs reach the handlers' other paths too, not only the inline ones
    EXPECT_GT(withErrors, 40);
    EXPECT_LT(withErrors, 400);
}

// ---- the paths next to the fused sequences

TEST_F(Engine, SumThatOverflowsAnIntegerLeavesTheFusedPath) {
    Outcome o = same(R"(
symbol MAIN proc
proc MAIN
    FRAME 0 3
    PUSHDOUBLE 10 0 2147483646
    PUSHINT 0
    PLUS
    POPLOCAL 1
    PUSHINT 1
    POPLOCAL 2
    PUSHINT 2147
    POPLOCAL 3
    PUSHLOCAL 3
    PUSHLOCAL 3
    PLUS
    POPLOCAL 3
    PUSHLOCAL 1
    PUSHLOCAL 2
    PLUS
    POPLOCAL 1
    PUSHLOCAL 1
    PUSHLOCAL 2
    PLUS
    POPLOCAL 2
    PUSHLOCAL 1
    PUSHLOCAL 2
    PUSHLOCAL 3
    ARRAYGEN 3
    POPRET
    ENDPROC
end
)");
    ASSERT_EQ(o.values.size(), 1u);
    EXPECT_EQ(o.values[0], "{D2147483647/0/0,D2147483648/0/0,I4294/10,}");
}

TEST_F(Engine, IntegerIncrementAtTheLimitBecomesADouble) {
    Outcome o = same(R"(
symbol MAIN proc
proc MAIN
    FRAME 0 2
    PUSHINT 32767
    PUSHINT 32767
    PLUS
    POPLOCAL 1
    LINE 7
    PUSHLOCAL 1
    INC
    POPLOCAL 1
    PUSHLOCAL 1
    ARRAYGEN 1
    POPRET
    ENDPROC
end
)");
    EXPECT_EQ(o.values[0], "{I65535/10,}");
}

TEST_F(Engine, FailingSumInAFusableSequenceTakesTheSubstitutedValue) {
    answerInt(5);
    Outcome o = same(R"(
symbol MAIN proc
proc MAIN
    FRAME 0 3
    PUSHINT 1
    POPLOCAL 1
    PUSHSTR "x"
    POPLOCAL 2
    LINE 4
    PUSHLOCAL 1
    PUSHLOCAL 2
    PLUS
    POPLOCAL 3
    LINE 5
    PUSHLOCAL 3
    ONE
    LESS
    JUMPTRUE never
    PUSHLOCAL 3
    POPRET
never:
    ENDPROC
end
)");
    EXPECT_EQ(o.values[0], "I5/0");
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0], "1081 +");
    EXPECT_EQ(o.lines, std::vector<uint16_t>{4});
}

const char* const kRecovery = R"(
symbol MAIN proc
proc MAIN
    FRAME 0 3
    PUSHINT 1
    POPLOCAL 1
    PUSHSTR "x"
    POPLOCAL 2
    PUSHINT 9
    POPLOCAL 3
    SEQBEGIN recover
    LINE 6
    PUSHLOCAL 1
    PUSHLOCAL 2
    LESSEQUAL
    JUMPFALSE skip
    PUSHINT 100
    POPLOCAL 3
skip:
    SEQEND
    JUMP done
recover:
    LINE 9
    PUSHLOCAL 3
    INC
    POPLOCAL 3
done:
    PUSHLOCAL 3
    POPRET
    ENDPROC
end
)";

TEST_F(Engine, ErrorInAFusableCompareAndBranchRecoversAtTheSequencesPoint) {
    answerUnwind();
    Outcome o = same(kRecovery);
    EXPECT_EQ(o.values[0], "I10/10");
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0], "1074 <=");
    EXPECT_EQ(o.lines, std::vector<uint16_t>{6});
    EXPECT_TRUE(o.stackBack);
}

// Answers the first raise that allows it with "retry", after putting a
// valid index where the failed ARRAYPUT finds its index.
int retryRaises;
uint16_t retryLauncher(ErrorDescriptor* d, const Item*, uint16_t) {
    itemClear(returnItem());
    returnItem()->type = T_LOGICAL;
    if (retryRaises++ == 0 && (d->flags & EF_RETRY)) {
        itemClear(vm.top);
        vm.top->type = T_INTEGER;
        vm.top->v.l = 1;
        returnItem()->v.l = 1;
    }
    return 0;
}

TEST_F(Engine, RetryAfterAFusedSequenceRunsOnlyTheFailedInstructionAgain) {
    const char* text = R"(
symbol MAIN proc
proc MAIN
    FRAME 0 3
    ZERO
    POPLOCAL 1
    ZERO
    POPLOCAL 2
    PUSHNIL
    ARRAYGEN 1
    POPLOCAL 3
    LINE 3
    PUSHLOCAL 1
    INC
    POPLOCAL 1
    PUSHLOCAL 1
    PUSHLOCAL 3
    PUSHLOCAL 2
    ARRAYPUT
    PUSHLOCAL 1
    PUSHLOCAL 3
    ARRAYGEN 2
    POPRET
    ENDPROC
end
)";
    std::vector<std::string> seen;
    for (EngineKind kind : {ENGINE_CLASSIC, ENGINE_FAST}) {
        down();
        errors.clear();
        load(text);
        errorLauncher = retryLauncher;
        retryRaises = 0;
        selectEngine(kind);
        Item r = call("MAIN");
        seen.push_back(describe(&r));
        EXPECT_EQ(retryRaises, 1);
    }
    EXPECT_EQ(seen[0], seen[1]);
    // the increment ran once: the retry went back to ARRAYPUT, not further
    EXPECT_EQ(seen[1], "{I1/10,{I1/10,},}");
}

// A store followed by JUMP runs on into the loop's head without a dispatch
// (its LINE recorded, its IDLE counted): the error the head's condition
// raises on the next turn carries the head's line.
TEST_F(Engine, AnErrorAtALoopsHeadReachedFromAStoreCarriesTheHeadsLine) {
    answerLogical(false);
    Outcome o = same(R"(
symbol MAIN proc
proc MAIN
    FRAME 0 2
    ZERO
    POPLOCAL 1
    ZERO
    POPLOCAL 2
top:
    LINE 3
    IDLE
    PUSHLOCAL 2
    PUSHINT 3
    LESS
    JUMPFALSE done
    LINE 4
    PUSHLOCAL 2
    INC
    POPLOCAL 2
    LINE 5
    PUSHLOCAL 2
    PUSHINT 2
    EQUAL
    JUMPFALSE next
    LINE 6
    PUSHSTR "x"
    POPLOCAL 2
    JUMP top
next:
    LINE 7
    PUSHLOCAL 1
    ONE
    PLUS
    POPLOCAL 1
    JUMP top
done:
    PUSHLOCAL 1
    PUSHLOCAL 2
    ARRAYGEN 2
    POPRET
    ENDPROC
end
)");
    EXPECT_EQ(o.values[0], "{I1/10,Sx,}");
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0], "1073 <");
    EXPECT_EQ(o.lines, std::vector<uint16_t>{3});
    EXPECT_TRUE(o.stackBack);
}

// local := local +- operand with each kind of operand, at the Integer
// limits and with Doubles of different decimals, fused or not.
TEST_F(Engine, LocalPlusOrMinusAnyOperandMatchesTheClassicLoop) {
    const char* const operands[] = {"ONE", "ZERO", "PUSHINT -7", "PUSHWORD 65535", "PUSHDOUBLE 6 3 1.125",
                                    "PUSHLOCAL 2", "PUSHLOCAL 3", "PUSHLOCAL 4"};
    const char* const starts[] = {"PUSHDOUBLE 10 0 2147483646", "PUSHDOUBLE 11 0 -2147483647", "PUSHINT 5",
                                  "PUSHDOUBLE 5 2 2.25", "PUSHSTR \"s\""};
    for (const char* start : starts) {
        for (const char* operand : operands) {
            for (const char* op : {"PLUS", "MINUS"}) {
                std::string text = std::string("symbol MAIN proc\nproc MAIN\n    FRAME 0 4\n    ") + start +
                                   "\n    POPLOCAL 1\n    PUSHDOUBLE 4 1 0.5\n    POPLOCAL 2\n    PUSHINT 1\n"
                                   "    POPLOCAL 3\n    TRUE\n    POPLOCAL 4\n";
                for (int k = 0; k < 3; ++k)
                    text += std::string("    LINE ") + std::to_string(10 + k) + "\n    PUSHLOCAL 1\n    " +
                            operand + "\n    " + op + "\n    POPLOCAL 1\n";
                text += "    PUSHLOCAL 1\n    POPRET\n    ENDPROC\nend\n";
                answerInt(3);
                same(text);
                if (HasFailure()) {
                    ADD_FAILURE() << start << " " << op << " " << operand;
                    return;
                }
            }
        }
    }
}

// ---- IDLE, and handlers installed over inline opcodes

int idleCalls;
void countIdle() { ++idleCalls; }

TEST_F(Engine, IdleServicesRunWithinABoundedNumberOfIdles) {
    load(R"(
symbol MAIN proc
proc MAIN
    FRAME 0 1
    ZERO
    POPLOCAL 1
top:
    IDLE
    PUSHLOCAL 1
    PUSHINT 999
    LESS
    JUMPFALSE done
    PUSHLOCAL 1
    INC
    POPLOCAL 1
    JUMP top
done:
    ENDPROC
end
)");
    idleServices = countIdle;
    idleCalls = 0;
    call("MAIN");  // 1000 IDLEs
    EXPECT_GE(idleCalls, int(1000 / IDLE_INTERVAL));
    EXPECT_LE(idleCalls, int(1000 / IDLE_INTERVAL) + 1);
    selectEngine(ENGINE_CLASSIC);
    idleCalls = 0;
    call("MAIN");
    EXPECT_EQ(idleCalls, 1000);
}

uint16_t pushSeven() {
    vm.pc += 2;
    pushLong(7);
    return 0;
}

TEST_F(Engine, AnInstalledHandlerOverAnInlineOpcodeRuns) {
    load(R"(
symbol MAIN proc
proc MAIN
    PUSHINT 3
    PUSHINT 4
    PLUS
    POPRET
    ENDPROC
end
)");
    Item r = call("MAIN");
    EXPECT_EQ(r.v.l, 7);
    OpHandler saved = opTable[OP_PUSHINT];
    installOpHandler(OP_PUSHINT, pushSeven);
    r = call("MAIN");
    installOpHandler(OP_PUSHINT, saved);
    EXPECT_EQ(r.v.l, 14);
    r = call("MAIN");
    EXPECT_EQ(r.v.l, 7);
}

}  // namespace
