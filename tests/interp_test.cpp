// The interpreter: frames, returns, sequences and unwinding, raised errors
// answered by substitution or retry, nested activations from native code,
// and the collector's view of what calls leave behind.
#include "tests/support/vm_fixture.h"

#include <vector>

#include "vm/function.h"

using namespace xb;
using xb::test::VmTest;

namespace {

std::vector<Item> recorded;

// T_RECORD(x): remembers x for the test.
XB_NATIVE(fnTestRecord, "T_RECORD") {
    recorded.push_back(*paramItem(1, M_ANY));
    return 0;
}

// T_CALL(name, arg): calls the named procedure from native code with one
// argument and returns what it returned.
XB_NATIVE(fnTestCall, "T_CALL") {
    char* name = itemTextCopy(paramItem(1, M_STRING));
    GlobalSymbol* s = findSymbol(name);
    memFree(name);
    Item arg = *paramItem(2, M_ANY);
    pushSymbol(s);
    pushNil();
    push(&arg);
    return callProc(1);
}

// T_MAKESTR(n): a new run-time string of n bytes.
XB_NATIVE(fnTestMakeStr, "T_MAKESTR") {
    char* p = retStringAlloc(uint32_t(paramInt(1)));
    for (int32_t i = 0; i < paramInt(1); ++i) p[i] = char('a' + i % 26);
    return 0;
}

class Interp : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        recorded.clear();
    }
};

const char* const kFrames = R"(
symbol MAIN proc
symbol ONEPARAM proc
symbol TWOPARAMS proc
symbol NORETURN proc
symbol CALLNORETURN proc
proc MAIN
    ENDPROC
end
proc ONEPARAM           ; returns PCOUNT, records its one parameter
    FRAME 1 1
    PUSHLOCAL 1
    POPLOCAL 2
    PCOUNT
    POPRET
    ENDPROC
end
proc TWOPARAMS          ; returns its second parameter
    FRAME 2 0
    PUSHLOCAL 2
    POPRET
    ENDPROC
end
proc NORETURN
    LINE 0
    PUSHINT 5
    POP
    JUMP 0
    ENDPROC
end
proc CALLNORETURN
    PUSHINT 7
    POPRET
    PUSHSYMNIL NORETURN
    FUNC 0
    POPRET
    ENDPROC
end
)";

TEST_F(Interp, FrameFitsArgumentsToParameters) {
    load(kFrames);
    Item* before = vm.top;
    // three arguments to a one-parameter frame: PCOUNT says 3, the extra two are dropped
    Item r = call("ONEPARAM", {intItem(10), intItem(20), intItem(30)});
    EXPECT_EQ(r.type, T_INTEGER);
    EXPECT_EQ(r.v.l, 3);
    EXPECT_EQ(vm.top, before);
    // no arguments to a two-parameter frame: both are NIL
    itemClear(returnItem());
    r = call("TWOPARAMS");
    EXPECT_EQ(r.type, T_NIL);
    r = call("TWOPARAMS", {intItem(1), intItem(2)});
    EXPECT_EQ(r.v.l, 2);
    EXPECT_EQ(vm.top, before);
    EXPECT_EQ(vm.execDepth, 0);
}

TEST_F(Interp, FuncOfProcedureWithoutReturnGivesNil) {
    load(kFrames);
    Item r = call("CALLNORETURN");
    EXPECT_EQ(r.type, T_NIL);
}

const char* const kSequences = R"(
symbol MAIN proc
symbol THROWER proc
symbol T_RECORD
proc MAIN
    FRAME 0 1
    PUSHINT 1              ; stays below the sequence
    SEQBEGIN recover
    PUSHINT 2              ; left behind inside the sequence
    PUSHINT 3
    PUSHSYMNIL THROWER
    DO 0
    SEQEND
    JUMP done
recover:
    PUSHSYMNIL T_RECORD
    PUSHRET                ; the value given to BREAK
    DO 1
    POPLOCAL 1             ; the stack was cut back: this is the 1
    PUSHSYMNIL T_RECORD
    PUSHLOCAL 1
    DO 1
done:
    ENDPROC
end
proc THROWER
    PUSHINT 42
    BREAK
    PUSHSYMNIL T_RECORD    ; never reached
    PUSHINT 99
    DO 1
    ENDPROC
end
)";

TEST_F(Interp, BreakInCalledProcedureResumesAtRecoverInCaller) {
    load(kSequences);
    Item* before = vm.top;
    call("MAIN");
    EXPECT_EQ(lastStatus, 0);
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].v.l, 42);
    EXPECT_EQ(recorded[1].v.l, 1);
    EXPECT_EQ(vm.top, before);
    EXPECT_EQ(sequenceDepth(), 0u);
}

TEST_F(Interp, UnwindingWithoutSequenceReturnsToCallerOfExecute) {
    load(kSequences);
    Item* before = vm.top;
    call("THROWER");
    EXPECT_EQ(lastStatus, ST_UNWIND);
    EXPECT_EQ(vm.top, before);
    EXPECT_EQ(vm.execDepth, 0);
    EXPECT_TRUE(recorded.empty());
}

const char* const kUndefined = R"(
symbol MAIN proc
symbol NOSUCHFUNC
proc MAIN
    PUSHSYMNIL NOSUCHFUNC
    PUSHINT 5
    PUSHSTR "x"
    FUNC 2
    POPRET
    ENDPROC
end
)";

TEST_F(Interp, UndefinedFunctionRaisesAndTakesTheSubstitutedValue) {
    load(kUndefined);
    answerInt(99);
    Item r = call("MAIN");
    EXPECT_EQ(r.v.l, 99);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 12);
    EXPECT_EQ(errors[0].d.subCode, 1001);
    EXPECT_EQ(errors[0].d.flags, EF_SUBSTITUTE);
    EXPECT_EQ(errors[0].operation, "NOSUCHFUNC");
    EXPECT_EQ(errors[0].subsystem, "BASE");
    ASSERT_EQ(errors[0].operands.size(), 2u);
    EXPECT_EQ(errors[0].operands[0].v.l, 5);
    // the routine stays installed: a second call raises again
    call("MAIN");
    EXPECT_EQ(errors.size(), 2u);
}

// Test handlers placed on numbers no opcode uses.
int retryCount;
uint16_t failingBinary() { return opStatus(errorWord(1081, 2, true)); }  // "+" argument error, 2 operands, subst
uint16_t retryingWithOperand() {
    uint16_t v = readU16(vm.pc);
    vm.pc += 2;
    if (retryCount++ == 0) return opStatus(errorWord(1000 + (14 << 6) + 3, 0, false, true));  // gencode 14, retry
    pushLong(v);
    return 0;
}

struct HandlerSwap {
    uint8_t op;
    OpHandler saved;
    HandlerSwap(uint8_t o, OpHandler h) : op(o), saved(opTable[o]) { installOpHandler(o, h); }
    ~HandlerSwap() { installOpHandler(op, saved); }
};

TEST_F(Interp, SubstitutionReplacesTheOperands) {
    load(R"(
symbol MAIN proc
proc MAIN
    PUSHINT 1
    PUSHINT 2
    4
    POPRET
    ENDPROC
end
)");
    HandlerSwap swap(4, failingBinary);
    answerInt(77);
    Item* before = vm.top;
    Item r = call("MAIN");
    EXPECT_EQ(r.v.l, 77);
    EXPECT_EQ(vm.top, before);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operation, "+");
    EXPECT_EQ(errors[0].d.genCode, 1);
    EXPECT_EQ(errors[0].d.subCode, 1081);
    EXPECT_EQ(errors[0].operands.size(), 2u);
}

TEST_F(Interp, RetryRunsTheWholeInstructionAgain) {
    load(R"(
symbol MAIN proc
proc MAIN
    PUSHWORD 1234
    POPRET
    ENDPROC
end
)");
    retryCount = 0;
    HandlerSwap swap(OP_PUSHWORD, retryingWithOperand);
    answerLogical(true);
    Item r = call("MAIN");
    // the retry re-reads the operand from the first byte of the instruction
    EXPECT_EQ(r.type, T_INTEGER);
    EXPECT_EQ(r.v.l, 1234);
    EXPECT_EQ(retryCount, 2);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.flags, EF_RETRY);
}

TEST_F(Interp, NestedActivationsThroughCallProc) {
    load(R"(
symbol MAIN proc
symbol INNER proc
symbol T_CALL
proc MAIN
    PUSHSYMNIL T_CALL
    PUSHSTR "inner"
    PUSHINT 5
    FUNC 2
    POPRET
    ENDPROC
end
proc INNER
    FRAME 1 0
    PUSHLOCAL 1
    POPRET
    ENDPROC
end
)");
    Item* before = vm.top;
    Item r = call("MAIN");
    EXPECT_EQ(r.v.l, 5);
    EXPECT_EQ(vm.top, before);
    EXPECT_EQ(vm.execDepth, 0);
    EXPECT_EQ(vm.frame, vm.stack);
}

TEST_F(Interp, CollectorFreesWhatOnlyAReturnedFrameHeld) {
    load(R"(
symbol MAIN proc
symbol HOLDER proc
symbol KEEPER proc
symbol T_MAKESTR
proc MAIN
    ENDPROC
end
proc HOLDER
    FRAME 0 1
    PUSHSYMNIL T_MAKESTR
    PUSHINT 100
    FUNC 1
    POPLOCAL 1
    ENDPROC
end
proc KEEPER
    PUSHSYMNIL T_MAKESTR
    PUSHINT 30
    FUNC 1
    POPRET
    ENDPROC
end
)");
    call("HOLDER");
    collectGarbage(true);
    EXPECT_EQ(liveObjectCount(), 0u);
    Item r = call("KEEPER");
    collectGarbage(true);
    EXPECT_EQ(liveObjectCount(), 1u);
    EXPECT_EQ(text(*returnItem()).substr(0, 3), "abc");
    EXPECT_EQ(strLength(returnItem()), 30u);
    (void)r;
}

TEST_F(Interp, StackOverflowIsFatalError667) {
    load(R"(
symbol MAIN proc
proc MAIN
    PUSHSYMNIL MAIN
    DO 0
    ENDPROC
end
)");
    EXPECT_EXIT(call("MAIN"), ::testing::ExitedWithCode(1), "Error no recuperable 667: Fallo en la pila");
}

TEST_F(Interp, UndefinedOpcodeReportsAndEnds) {
    load(R"(
symbol MAIN proc
proc MAIN
    LINE 3
    4
    ENDPROC
end
)");
    // two runs: the regex dialect on Windows has no alternation to span lines
    EXPECT_EXIT(call("MAIN"), ::testing::ExitedWithCode(1), "_0ERR\\(\\) 4");
    EXPECT_EXIT(call("MAIN"), ::testing::ExitedWithCode(1), "MAIN \\(3\\)  Error no recuperable 999");
}

TEST_F(Interp, ConditionalJumpOnNonLogicalCannotBeSubstituted) {
    load(R"(
symbol MAIN proc
proc MAIN
    PUSHINT 1
    JUMPFALSE 0
    ENDPROC
end
)");
    answerInt(0);
    EXPECT_EXIT(call("MAIN"), ::testing::ExitedWithCode(1), "Fallo en la recuperaci");
}

}  // namespace

namespace {

// A call made from the bottom frame must get the caller's flags back even
// though the callee's value lands in the return Item, which is slot 0.
TEST_F(Interp, BottomFrameKeepsItsFlagsAcrossACall) {
    load(R"(
symbol MAIN proc
proc MAIN
    PUSHDOUBLE 255 255 1.5
    POPRET
    ENDPROC
end
)");
    vm.frameFlags = 0x0001;
    Item r = call("MAIN");
    EXPECT_EQ(r.width, 255);
    EXPECT_EQ(vm.frameFlags, 0x0001);
}

}  // namespace
