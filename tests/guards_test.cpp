// The run-time guards: pcode that is well formed but takes more Items than
// its frame holds, calls something that is no Symbol, declares variables
// under names that are no Symbols, uses statics without a base or reaches
// the locals of a frame that returned. Each ends in a defined way: a raised
// error the error block sees, or a numbered fatal error; never a crash, a
// hang or a read outside the stack. Instructions a checking assembler would
// refuse are run here as raw bytes; the rest also run through xbrun.
#include "tests/support/program_run.h"
#include "tests/support/vm_fixture.h"

#include <string>
#include <vector>

#include "image/crash_report.h"
#include "vm/function.h"
#include "vm/guard.h"
#include "vm/opcodes.h"
#include "vm/procname.h"

using namespace xb;
using namespace xb::test;

namespace {

const char* const kModule = R"(
symbol MAIN proc
symbol RAW proc
symbol QOUT
symbol NOSUCHFUNC
symbol EVAL
symbol A
symbol B
proc MAIN
    ENDPROC
end
proc RAW
    ENDPROC
end
)";

// Pcode written byte by byte: opcodes, u16 operands and module symbols.
struct Code {
    std::vector<uint8_t> bytes;
    Code& op(uint8_t o) {
        bytes.push_back(o);
        return *this;
    }
    Code& u16(uint32_t v) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
        return *this;
    }
    Code& op(uint8_t o, uint32_t operand) { return op(o).u16(operand); }
    Code& times(uint32_t n, uint8_t o) {
        for (uint32_t i = 0; i < n; ++i) op(o);
        return *this;
    }
};

class Guards : public VmTest {
protected:
    Function raw{};
    std::vector<uint8_t> code;

    void SetUp() override {
        VmTest::SetUp();
        load(kModule);
    }

    // The entry number of a declared symbol in the module's table.
    uint16_t sym(const char* name) {
        const pcasm::AsmModule& m = modules[0];
        for (uint32_t i = 1; i < m.count; ++i)
            if (std::strcmp(m.table[i].name, name) == 0) return uint16_t(i);
        ADD_FAILURE() << "no symbol " << name;
        return 0;
    }
    // Runs the bytes as procedure RAW (called with no arguments).
    Item run(const Code& c) {
        code = c.bytes;
        raw = Function{nullptr, code.data(), modules[0].table};
        findSymbol("RAW")->function = &raw;
        return call("RAW");
    }
};

struct FatalCase {
    const char* what;
    Code code;
};

TEST_F(Guards, TakingMoreItemsThanTheFrameHoldsIsFatal668) {
    const uint16_t qout = sym("QOUT"), nosuch = sym("NOSUCHFUNC");
    std::vector<FatalCase> cases = {
        {"FUNC 200 after its Symbol alone", Code().op(OP_PUSHSYMNIL, qout).op(OP_FUNC, 200)},
        {"FUNC 2 with no arguments pushed", Code().op(OP_PUSHSYMNIL, nosuch).op(OP_FUNC, 2)},
        {"DO 3 over two NILs", Code().op(OP_PUSHNIL).op(OP_PUSHNIL).op(OP_DO, 3)},
        {"ARRAYGEN 1000", Code().op(OP_ARRAYGEN, 1000)},
        {"ARRAYDIM 65535", Code().op(OP_ONE).op(OP_ARRAYDIM, 65535)},
        {"PRIVATE 65535", Code().op(OP_PRIVATE, 65535)},
        {"PUBLIC 65535", Code().op(OP_PUBLIC, 65535)},
        {"PARAMETERS 65535", Code().op(OP_PARAMETERS, 65535)},
        {"300 POPs after FRAME 0 1", Code().op(OP_FRAME).op(0).op(1).times(300, OP_POP)},
        {"one POP of the self slot", Code().op(OP_POP)},
        {"PLUS over the self slot", Code().op(OP_PLUS)},
        {"PUSHLOCAL 65535 beyond the frame", Code().op(OP_FRAME).op(0).op(2).op(OP_PUSHLOCAL, 65535)},
        {"POPLOCAL 4 in a frame of two locals", Code().op(OP_FRAME).op(0).op(2).op(OP_ONE).op(OP_POPLOCAL, 4)},
        {"PUSHLOCALREF 9", Code().op(OP_PUSHLOCALREF, 9)},
    };
    for (FatalCase& c : cases) {
        c.code.op(OP_ENDPROC);
        EXPECT_EXIT(run(c.code), ::testing::ExitedWithCode(1), "Error no recuperable 668: Fallo en la pila")
            << c.what;
    }
}

TEST_F(Guards, TheSameInstructionsWithTheirItemsRunNormally) {
    const uint16_t a = sym("A");
    // ARRAYGEN 2 over two Items, ARRAYDIM 1, PUBLIC 1 over a Symbol
    Item r = run(Code()
                     .op(0x6F)  // the second NOP
                     .op(OP_ONE)
                     .op(OP_PUSHINT, 2)
                     .op(OP_ARRAYGEN, 2)
                     .op(OP_PUSHINT, 3)
                     .op(OP_ARRAYDIM, 1)
                     .op(OP_ARRAYGEN, 2)
                     .op(OP_PUSHSYM, a)
                     .op(OP_PUBLIC, 1)
                     .op(OP_POPRET)
                     .op(OP_ENDPROC));
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(arrayLength(&r), 2u);
    EXPECT_EQ(arrayLength(&arrayItems(&r)[0]), 2u);
    EXPECT_EQ(arrayLength(&arrayItems(&r)[1]), 3u);
    EXPECT_NE(findSymbol("A")->memvarSlot, 0);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(vm.top, vm.stack);
}

// A call whose Symbol slot holds something else raises an argument error
// named after the opcode, with that Item as its operand. The calls that
// give a value take the error block's answer as their value.
TEST_F(Guards, ACalleeThatIsNoSymbolRaisesAndTheAnswerIsTheCallsValue) {
    struct Case {
        const char* operation;
        Code code;
        uint16_t calleeType;
    };
    std::vector<Case> cases = {
        {"FUNC", Code().op(OP_PUSHNIL).op(OP_PUSHNIL).op(OP_FUNC, 0), T_NIL},
        {"SEND", Code().op(OP_PUSHINT, 7).op(OP_PUSHNIL).op(OP_SEND, 0), T_INTEGER},
        {"EVALSEND", Code().op(OP_ONE).op(OP_PUSHNIL).op(OP_PUSHNIL).op(OP_EVALSEND, 1), T_INTEGER},
        {"FUNC", Code().op(OP_ARRAYGEN, 0).op(OP_PUSHNIL).op(OP_ONE).op(OP_ONE).op(OP_FUNC, 2), T_ARRAY},
    };
    for (Case& c : cases) {
        errors.clear();
        answerInt(42);
        Item r = run(c.code.op(OP_POPRET).op(OP_ENDPROC));
        EXPECT_EQ(r.type, T_INTEGER) << c.operation;
        EXPECT_EQ(r.v.l, 42) << c.operation;
        ASSERT_EQ(errors.size(), 1u) << c.operation;
        EXPECT_EQ(errors[0].operation, c.operation);
        EXPECT_EQ(errors[0].subsystem, "BASE");
        EXPECT_EQ(errors[0].d.genCode, EG_ARG);
        EXPECT_EQ(errors[0].d.subCode, GUARD_SUBCODE);
        EXPECT_EQ(errors[0].d.flags, EF_SUBSTITUTE);
        ASSERT_EQ(errors[0].operands.size(), 1u);
        EXPECT_EQ(errors[0].operands[0].type, c.calleeType) << c.operation;
        EXPECT_EQ(vm.top, vm.stack) << c.operation;
    }

    // DO has no value: the default (false) skips the call
    errors.clear();
    answerLogical(false);
    Item r = run(Code()
                     .op(OP_PUSHINT, 5)
                     .op(OP_PUSHNIL)
                     .op(OP_ONE)
                     .op(OP_DO, 1)
                     .op(OP_PUSHINT, 9)
                     .op(OP_POPRET)
                     .op(OP_ENDPROC));
    EXPECT_EQ(r.v.l, 9);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operation, "DO");
    EXPECT_EQ(errors[0].d.flags, EF_DEFAULT);
    EXPECT_EQ(vm.top, vm.stack);

    // an error block that breaks out unwinds the call like any error
    errors.clear();
    answerUnwind();
    run(Code().op(OP_PUSHNIL).op(OP_PUSHNIL).op(OP_FUNC, 0).op(OP_POPRET).op(OP_ENDPROC));
    EXPECT_EQ(lastStatus, ST_UNWIND);
    EXPECT_EQ(errors.size(), 1u);
}

// callProc and evalSend, the entries native code calls through, check the
// same slot; the stack is as it was before the callee was pushed.
TEST_F(Guards, NativeCallersGetTheErrorToo) {
    answerInt(8);
    Item* before = vm.top;
    pushLong(3);
    pushNil();
    EXPECT_EQ(evalSend(0), 0);
    EXPECT_EQ(returnItem()->v.l, 8);  // evalSend leaves the value in the return Item
    EXPECT_EQ(vm.top, before);

    answerLogical(false);
    pushNil();
    pushNil();
    pushLong(1);
    EXPECT_EQ(callProc(1), 0);
    EXPECT_EQ(vm.top, before);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].operation, "EVALSEND");
    EXPECT_EQ(errors[1].operation, "DO");

    // a Symbol Item with no symbol behind it is no callee either
    Item empty{};
    empty.type = T_SYMBOL;
    push(&empty);
    pushNil();
    EXPECT_EQ(callProc(0), 0);
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_EQ(vm.top, before);
}

TEST_F(Guards, DeclarationsOfNamesThatAreNoSymbolsRaiseAndDeclareNothing) {
    const uint16_t a = sym("A"), b = sym("B");
    for (uint8_t op : {OP_PUBLIC, OP_PRIVATE, OP_PARAMETERS}) {
        const char* name = opcodeInfo(op).name;
        errors.clear();
        answerLogical(false);
        // A, then an empty array where the second name should be
        Item r = run(Code()
                         .op(OP_PUSHSYM, a)
                         .op(OP_ARRAYGEN, 0)
                         .op(op, 2)
                         .op(OP_PUSHSYM, b)
                         .op(OP_PUSHINT, 6)
                         .op(OP_ARRAYGEN, 0)
                         .op(OP_POP)
                         .op(OP_POP)
                         .op(OP_POP)
                         .op(OP_PUSHINT, 6)
                         .op(OP_POPRET)
                         .op(OP_ENDPROC));
        EXPECT_EQ(r.v.l, 6) << name;
        ASSERT_EQ(errors.size(), 1u) << name;
        EXPECT_EQ(errors[0].operation, name);
        EXPECT_EQ(errors[0].d.subCode, GUARD_SUBCODE);
        EXPECT_EQ(findSymbol("A")->memvarSlot, 0) << name;  // not even the good name
        EXPECT_EQ(vm.top, vm.stack);
    }
}

// A statics base left by a module that ran before (or by an earlier test in
// the same process) never outlives the static area it points into.
TEST_F(Guards, AFreshStaticAreaHasNoStaticsBase) {
    vm.staticsBase = staticsReserve(1);
    stackFree();
    EXPECT_EQ(vm.staticsBase, nullptr);
    vm.staticsBase = reinterpret_cast<Item*>(&code);  // anything but null
    stackInit();
    EXPECT_EQ(vm.staticsBase, nullptr);
    answerInt(7);
    errors.clear();
    Item r = run(Code().op(OP_PUSHSTATIC, 1).op(OP_POPRET).op(OP_ENDPROC));
    EXPECT_EQ(r.v.l, 7);
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(Guards, StaticsWithoutABaseOrOutsideTheAreaRaise) {
    ASSERT_EQ(vm.staticsBase, nullptr);
    // PUSHSTATIC and PUSHSTATICREF take the answer; POPSTATIC drops the value
    struct Case {
        uint8_t op;
        uint32_t index;
    };
    for (Case c : {Case{OP_PUSHSTATIC, 1}, Case{OP_PUSHSTATICREF, 1}, Case{OP_PUSHSTATIC, 65535}}) {
        errors.clear();
        answerInt(31);
        Item r = run(Code().op(c.op, c.index).op(OP_POPRET).op(OP_ENDPROC));
        EXPECT_EQ(r.v.l, 31) << opcodeInfo(c.op).name;
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].operation, opcodeInfo(c.op).name);
    }
    errors.clear();
    answerLogical(false);
    Item r = run(Code().op(OP_ONE).op(OP_POPSTATIC, 255).op(OP_PUSHINT, 4).op(OP_POPRET).op(OP_ENDPROC));
    EXPECT_EQ(r.v.l, 4);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operation, "POPSTATIC");

    // with one static in the area: static 1 is there, static 2 lies beyond its end
    Item* one = staticsReserve(1);
    vm.staticsBase = one;
    errors.clear();
    answerInt(-1);
    r = run(Code()
                .op(OP_PUSHINT, 12)
                .op(OP_POPSTATIC, 1)
                .op(OP_PUSHSTATIC, 1)
                .op(OP_PUSHSTATIC, 2)
                .op(OP_ARRAYGEN, 2)
                .op(OP_POPRET)
                .op(OP_ENDPROC));
    vm.staticsBase = nullptr;
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(arrayItems(&r)[0].v.l, 12);
    EXPECT_EQ(arrayItems(&r)[1].v.l, -1);
    EXPECT_EQ(errors.size(), 1u);
}

const char* const kDeadCreator = R"(
symbol MAIN proc
symbol MAKER proc
symbol OTHER proc
symbol EVAL
proc MAKER                  ; returns {|| x} and {|v| x := v} without detaching
    FRAME 0 1
    PUSHINT 5
    POPLOCAL 1
    PUSHBLOCK {
        PUSHOUTER 1
        ENDBLOCK
    }
    PUSHBLOCK {
        FRAME 1 0
        PUSHLOCAL 1
        POPOUTER 1
        PUSHNIL
        ENDBLOCK
    }
    PUSHBLOCK {
        PUSHOUTERREF 1
        ENDBLOCK
    }
    ARRAYGEN 3
    POPRET
    ENDPROC
end
proc OTHER                  ; runs in the slot MAKER had; evaluates block n
    FRAME 2 1
    PUSHINT 99
    POPLOCAL 3
    PUSHSYM EVAL
    PUSHLOCAL 1
    PUSHLOCAL 2
    ARRAYGET
    PUSHINT 77
    EVALSEND 1
    POP
    PUSHLOCAL 3             ; 99 unless the block wrote here
    POPRET
    ENDPROC
end
proc MAIN
    ENDPROC
end
)";

// A block whose creator returned without DETACHLOCALS: its slots are dead or
// belong to another call by now. The outer-local opcodes raise instead.
TEST_F(Guards, OuterLocalsOfAReturnedCreatorRaise) {
    down();
    load(kDeadCreator);
    Item blocks = call("MAKER");
    ASSERT_EQ(blocks.type, T_ARRAY);
    Item* kept = tempAlloc();
    *kept = blocks;
    const char* operations[] = {"PUSHOUTER", "POPOUTER", "PUSHOUTERREF"};
    for (int32_t n = 1; n <= 3; ++n) {
        errors.clear();
        answerInt(1234);
        if (n == 2) answerLogical(false);
        Item r = call("OTHER", {blocks, intItem(n)});
        EXPECT_EQ(r.v.l, 99) << n;  // OTHER's local, in MAKER's old slot, untouched
        ASSERT_EQ(errors.size(), 1u) << n;
        EXPECT_EQ(errors[0].operation, operations[n - 1]);
        EXPECT_EQ(errors[0].d.subCode, GUARD_SUBCODE);
    }
    EXPECT_EQ(vm.top, vm.stack);
}

// Walks of the caller chain end after at most as many steps as calls are
// running, whatever the chain says.
TEST_F(Guards, CallerChainWalksEndOnADamagedChain) {
    // a frame that names itself as its caller, as a miscounted call once made
    pushSymbol(findSymbol("MAIN"));
    pushNil();
    Item* frame = vm.top - 1;
    frameSlot(frame)->callerFrame = slotOf(frame);
    setFrameProcSymbol(frame, findSymbol("MAIN"));
    Item* savedFrame = vm.frame;
    uint16_t savedLine = vm.lineNumber;
    vm.frame = frame;
    vm.lineNumber = 0;
    ++vm.liveFrames;
    EXPECT_EQ(frameAbove(frame, 0), frame);
    EXPECT_EQ(frameAbove(frame, 1), nullptr);
    EXPECT_EQ(frameAbove(frame, 1000000), nullptr);
    char text[4096];
    uint32_t n = crashCallStack(text, sizeof text);
    EXPECT_EQ(std::string(text, n), "- Llamado desde MAIN(0)\r\n");
    // a caller above the frame is no caller either
    frameSlot(frame)->callerFrame = slotOf(frame) + 5;
    EXPECT_EQ(frameAbove(frame, 1), nullptr);
    --vm.liveFrames;
    vm.frame = savedFrame;
    vm.lineNumber = savedLine;
    vm.top -= 2;
}

// Marking keeps its own stack: nesting costs no native stack, and the
// threshold follows the live heap.
TEST_F(Guards, DeepNestingIsMarkedWithoutRecursionAndTheThresholdFollowsTheHeap) {
    collectGarbage(true);
    const uint32_t before = liveObjectCount();
    Item* root = tempAlloc();
    makeArray(root, 0);
    for (int i = 0; i < 100000; ++i) {
        Item* next = tempAlloc();
        makeArray(next, 1);
        arrayItems(next)[0] = *root;
        *root = *next;
        tempRelease(next);
    }
    collectGarbage(true);
    EXPECT_EQ(liveObjectCount(), before + 100001u);
    // 100,001 arrays of one element are live (capacity 65 each, storage
    // committed for the element in use): the next collection waits for as
    // much, which is more than the 4,000,000-byte floor
    EXPECT_GT(lastCollectionGrowth(), 100000u * uint32_t(sizeof(HeapObject) + sizeof(Item)));
    EXPECT_GT(lastCollectionGrowth(), 4000000u);
    tempRelease(root);
    collectGarbage(true);
    EXPECT_EQ(liveObjectCount(), before);
    EXPECT_EQ(lastCollectionGrowth(), 4000000u);
}

// The one decoder of handler status words and the one raise helper.
TEST_F(Guards, StatusWordsDecodeIntoDescriptorsAndErrorReportDecides) {
    struct Word {
        uint16_t word;
        const char* operation;
        uint16_t genCode, subCode, flags, operands;
    };
    for (const Word& w : {Word{0x0842, "conditional", 1, 1066, 0, 1}, Word{0x9154, "/", 5, 1340, EF_SUBSTITUTE, 2},
                          Word{opStatus(errorWord(1132, 0, false)), "array access", 2, 1132, 0, 0},
                          Word{opStatus(errorWord(1081, 2, true, true)), "+", 1, 1081, EF_SUBSTITUTE | EF_RETRY, 2}}) {
        ErrorDescriptor d = statusDescriptor(w.word);
        EXPECT_EQ(std::string(d.operation), w.operation);
        EXPECT_EQ(std::string(d.subsystem), "BASE");
        EXPECT_EQ(d.severity, 2);
        EXPECT_EQ(d.genCode, w.genCode) << w.word;
        EXPECT_EQ(d.subCode, w.subCode) << w.word;
        EXPECT_EQ(d.flags, w.flags) << w.word;
        EXPECT_EQ(statusOperandCount(w.word), w.operands) << w.word;
    }

    const ErrorReport open{"DBFNTX", EG_OPEN, 1001, EF_RETRY | EF_DEFAULT, nullptr, "datos.dbf", 2};
    answerLogical(true);
    EXPECT_EQ(raiseReport(open), 1);  // retry
    answerLogical(false);
    EXPECT_EQ(raiseReport(open), 0);  // default
    answerUnwind();
    EXPECT_EQ(raiseReport(open), ST_UNWIND);
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0].subsystem, "DBFNTX");
    EXPECT_EQ(errors[0].d.genCode, EG_OPEN);
    EXPECT_EQ(errors[0].d.subCode, 1001);
    EXPECT_EQ(errors[0].d.osCode, 2);
    EXPECT_EQ(std::string(errors[0].d.fileName), "datos.dbf");
    EXPECT_EQ(errors[0].d.severity, 2);
    // with substitution the answer is left in the return Item
    answerInt(5);
    Item operand = intItem(9);
    EXPECT_EQ(raiseReport({"BASE", EG_ARG, 1099, EF_SUBSTITUTE, "X"}, &operand, 1), 0);
    EXPECT_EQ(returnItem()->v.l, 5);
    EXPECT_EQ(errors.back().operands.size(), 1u);
    EXPECT_EQ(errors.back().operation, "X");
    // an answer the flags do not allow stops the run
    answerLogical(true);
    EXPECT_EXIT(raiseReport({"BASE", EG_ARG, 1099, EF_DEFAULT}), ::testing::ExitedWithCode(1), "Fallo en la recuperaci");
}

// ---- through xbrun: what a checking assembler lets pass ----

class GuardRuns : public ::testing::Test {
protected:
    ProgramRun scratch;
    std::string xbrun;
    void SetUp() override {
        xbrun = scratch.copyProgram("xbrun");
        if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    }
    // Runs the module; no sanitizer report may appear (sanitizer build).
    RunResult runModule(const std::string& text) {
        RunResult r = scratch.run(xbrun, {scratch.write("prog.xbasm", text)});
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("runtime error:"), std::string::npos) << r.err;
        return r;
    }
    std::string log() const { return scratch.read("Error.txt"); }
    static std::string firstLine(const std::string& s) { return s.substr(0, s.find('\r')); }
};

TEST_F(GuardRuns, EachCaseEndsWithTheDefaultReport) {
    struct Case {
        const char* body;
        const char* line;
    };
    const Case cases[] = {
        {"PUSHNIL\n PUSHNIL\n FUNC 0\n POP", "Error BASE/1064  Error de argumento: FUNC"},
        {"PUSHINT 7\n PUSHNIL\n SEND 0\n POP", "Error BASE/1064  Error de argumento: SEND"},
        {"PUSHNIL\n PUSHNIL\n DO 0", "Error BASE/1064  Error de argumento: DO"},
        {"ARRAYGEN 0\n PUBLIC 1", "Error BASE/1064  Error de argumento: PUBLIC"},
        {"PUSHINT 3\n PRIVATE 1", "Error BASE/1064  Error de argumento: PRIVATE"},
        {"PUSHNIL\n PARAMETERS 1", "Error BASE/1064  Error de argumento: PARAMETERS"},
    };
    for (const Case& c : cases) {
        std::string text = std::string("symbol MAIN proc\nproc MAIN\n LINE 4\n ") + c.body + "\n ENDPROC\nend\n";
        RunResult r = runModule(text);
        EXPECT_EQ(r.exitCode, 1) << c.body;
        EXPECT_EQ(firstLine(log()), c.line);
        EXPECT_NE(log().find("- Llamado desde MAIN(4)"), std::string::npos) << log();
    }
}

TEST_F(GuardRuns, TheErrorBlockSeesTheErrorAndItsAnswerIsTheValue) {
    RunResult r = runModule(R"(
symbol MAIN proc
symbol ERRORBLOCK
symbol OUTERR
symbol STR
proc MAIN
    LINE 1
    PUSHSYMNIL ERRORBLOCK
    PUSHBLOCK {
        FRAME 1 0
        PUSHINT 42
        ENDBLOCK
    }
    FUNC 1
    POP
    PUSHSYMNIL OUTERR
    PUSHINT 7
    PUSHNIL
    SEND 0
    PUSHNIL
    PUSHNIL
    FUNC 0
    PLUS
    DO 1
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(log(), "        84");
}

TEST_F(GuardRuns, ABlockWhoseCreatorReturnedRaisesInsteadOfReadingItsSlot) {
    RunResult r = runModule(R"(
symbol MAIN proc
symbol MAKER proc
symbol EVAL
proc MAKER
    FRAME 0 1
    PUSHINT 5
    POPLOCAL 1
    PUSHBLOCK {
        PUSHOUTER 1
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc MAIN
    LINE 9
    PUSHSYM EVAL
    PUSHSYMNIL MAKER
    FUNC 0
    EVALSEND 0
    POP
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(firstLine(log()), "Error BASE/1064  Error de argumento: PUSHOUTER");
}

TEST_F(GuardRuns, ANestingThreeHundredThousandDeepIsCollected) {
    // a := {} ; FOR i := 1 TO 300000 ; a := {a} ; NEXT ; a := NIL, then
    // enough new strings to run the collector over the freed nesting
    RunResult r = runModule(R"(
symbol MAIN proc
symbol OUTERR
symbol REPLICATE
proc MAIN
    FRAME 0 2
    ARRAYGEN 0
    POPLOCAL 1
    ONE
    POPLOCAL 2
loop:
    PUSHLOCAL 2
    PUSHDOUBLE 10 0 300000
    LESSEQUAL
    JUMPFALSE done
    PUSHLOCAL 1
    ARRAYGEN 1
    POPLOCAL 1
    PUSHLOCAL 2
    INC
    POPLOCAL 2
    JUMP loop
done:
    PUSHSYMNIL OUTERR
    PUSHLOCAL 2
    DO 1
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(log(), "    300001");
}

}  // namespace
