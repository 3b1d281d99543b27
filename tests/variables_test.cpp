// Variables run through the interpreter: references passed down two calls,
// privates and publics, the missing-variable error and its retry, PARAMETERS,
// statics of two modules, temporary values, and the collector's memvar roots.
#include "tests/support/vm_fixture.h"

#include "vm/settings.h"
#include "runtime/settings_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace xb;
using xb::test::VmTest;

namespace {

// What VARPROBE saw of its first parameter, unresolved.
std::vector<Item> probed;

// A launcher for the missing-variable tests: answers true (retry) and, from
// the try numbered createOnTry on, makes `createName` a public holding 42.
struct RetryPlan {
    std::vector<ErrorDescriptor> seen;
    std::vector<std::string> operations;
    uint16_t createOnTry = 0;
    const char* createName = nullptr;
    bool unwind = false;
};
RetryPlan* plan;

uint16_t retryLauncher(ErrorDescriptor* d, const Item*, uint16_t count) {
    EXPECT_EQ(count, 0u);
    plan->seen.push_back(*d);
    plan->operations.push_back(d->operation ? d->operation : "");
    if (plan->unwind) {
        vm.callResult = ST_UNWIND;
        return ST_UNWIND;
    }
    if (plan->createName && d->tries >= plan->createOnTry) {
        GlobalSymbol* s = findOrCreateSymbol(plan->createName);
        if (!s->memvarSlot) {
            Item* v = newPublic(s);
            itemClear(v);
            v->type = T_INTEGER;
            v->v.l = 42;
        }
    }
    itemClear(returnItem());
    returnItem()->type = T_LOGICAL;
    returnItem()->v.l = 1;
    return 0;
}

}  // namespace

XB_NATIVE(fnVarTestProbe, "VARPROBE") {
    probed.push_back(vm.frame[2]);
    return 0;
}

XB_NATIVE(fnVarTestCollect, "VARCOLLECT") {
    collectGarbage(true);
    retInt(int32_t(liveObjectCount()));
    return 0;
}

class Variables : public VmTest {
protected:
    RetryPlan retry;
    void SetUp() override {
        VmTest::SetUp();
        probed.clear();
        plan = &retry;
    }
    void useRetryLauncher() { errorLauncher = retryLauncher; }
    static int32_t elementInt(const Item& array, uint32_t i) { return arrayItems(&array)[i - 1].v.l; }
    static const Item& element(const Item& array, uint32_t i) { return arrayItems(&array)[i - 1]; }
};

TEST_F(Variables, LocalReferencePassedThroughTwoProceduresReachesTheCaller) {
    load(R"(
symbol MAIN proc
symbol P1 proc
symbol P2 proc
symbol VARPROBE
proc MAIN
    FRAME 0 1
    PUSHINT 1
    POPLOCAL 1
    PUSHSYMNIL P1
    PUSHLOCALREF 1
    DO 1
    PUSHLOCAL 1
    POPRET
    ENDPROC
end
proc P1
    FRAME 1 0
    PUSHSYMNIL P2
    PUSHLOCALREF 1        ; the parameter already holds a reference
    DO 1
    ENDPROC
end
proc P2
    FRAME 1 0
    PUSHSYMNIL VARPROBE
    PUSHLOCALREF 1
    DO 1
    PUSHINT 5
    POPLOCAL 1
    ENDPROC
end)");
    Item r = call("MAIN");
    EXPECT_EQ(r.type, T_INTEGER);
    EXPECT_EQ(r.v.l, 5);
    // P2 received MAIN's reference itself, not a reference to P1's slot
    ASSERT_EQ(probed.size(), 1u);
    EXPECT_EQ(probed[0].type, T_ITEMREF);
    EXPECT_EQ(static_cast<Item*>(probed[0].v.o.ptr)->type, T_INTEGER);
    EXPECT_EQ(vm.top, vm.stack);
}

TEST_F(Variables, MemvarReferencePassedThroughTwoProceduresReachesTheVariable) {
    load(R"(
symbol MAIN proc
symbol P1 proc
symbol P2 proc
symbol V
symbol VARPROBE
proc MAIN
    PUSHSYM V
    PUBLIC 1
    PUSHINT 1
    POPMEMVAR V
    PUSHSYMNIL P1
    PUSHMEMVARREF V
    DO 1
    PUSHMEMVAR V
    POPRET
    ENDPROC
end
proc P1
    FRAME 1 0
    PUSHSYMNIL P2
    PUSHLOCALREF 1
    DO 1
    ENDPROC
end
proc P2
    FRAME 1 0
    PUSHSYMNIL VARPROBE
    PUSHLOCALREF 1
    DO 1
    PUSHINT 7
    POPLOCAL 1
    ENDPROC
end)");
    Item r = call("MAIN");
    EXPECT_EQ(r.v.l, 7);
    ASSERT_EQ(probed.size(), 1u);
    EXPECT_EQ(probed[0].type, T_MEMVARREF);
    EXPECT_EQ(probed[0].v.area, findSymbol("V")->memvarSlot);
}

TEST_F(Variables, PrivateHidesPublicUntilItsProcedureReturns) {
    load(R"(
symbol MAIN proc
symbol P proc
symbol Q proc
symbol X
proc MAIN
    PUSHSYM X
    PUBLIC 1
    PUSHINT 10
    POPMEMVAR X
    PUSHSYMNIL P
    FUNC 0
    PUSHMEMVAR X
    ARRAYGEN 2
    POPRET
    ENDPROC
end
proc P
    PUSHSYM X
    PRIVATE 1
    PUSHINT 20
    POPMEMVAR X
    PUSHSYMNIL Q
    FUNC 0
    POPRET
    ENDPROC
end
proc Q
    PUSHMEMVAR X
    POPRET
    ENDPROC
end)");
    Item r = call("MAIN");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(elementInt(r, 1), 20);  // the called procedure saw the private
    EXPECT_EQ(elementInt(r, 2), 10);  // the public is back, unchanged
    MemvarTable* t = memvarTable();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->privateDepth, 0u);
    EXPECT_EQ(t->nextPrivate, 65534);
    EXPECT_EQ(findSymbol("X")->memvarSlot, 1);
}

TEST_F(Variables, UndeclaredAssignmentCreatesAPrivateOfTheAssigningProcedure) {
    load(R"(
symbol MAIN proc
symbol P proc
symbol Q proc
symbol Y
proc MAIN
    PUSHSYMNIL P
    FUNC 0
    POPRET
    ENDPROC
end
proc P
    PUSHINT 3
    POPMEMVAR Y
    PUSHSYMNIL Q
    FUNC 0
    POPRET
    ENDPROC
end
proc Q
    PUSHMEMVAR Y
    POPRET
    ENDPROC
end)");
    Item r = call("MAIN");
    EXPECT_EQ(r.v.l, 3);
    EXPECT_EQ(findSymbol("Y")->memvarSlot, 0);
    EXPECT_EQ(memvarTable()->privateDepth, 0u);
    EXPECT_EQ(memvarTable()->publicCount, 0);
}

TEST_F(Variables, PublicKeepsExistingValuesAndStartsNewOnesFalseExceptDadovir) {
    load(R"(
symbol MAIN proc
symbol A
symbol B
symbol C
symbol DADOVIR
proc MAIN
    PUSHSYM A
    PUBLIC 1
    PUSHINT 5
    POPMEMVAR A
    PUSHSYM B
    PRIVATE 1
    PUSHINT 6
    POPMEMVAR B
    PUSHSYM A
    PUSHSYM B
    PUSHSYM C
    PUSHSYM DADOVIR
    PUBLIC 4
    PUSHMEMVAR A
    PUSHMEMVAR B
    PUSHMEMVAR C
    PUSHMEMVAR DADOVIR
    ARRAYGEN 4
    POPRET
    ENDPROC
end)");
    Item r = call("MAIN");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(elementInt(r, 1), 5);
    EXPECT_EQ(elementInt(r, 2), 6);
    EXPECT_EQ(element(r, 3).type, T_LOGICAL);
    EXPECT_EQ(element(r, 3).v.l, 0);
    EXPECT_EQ(element(r, 4).type, T_LOGICAL);
    EXPECT_EQ(element(r, 4).v.l, 1);
    // B stayed a private of MAIN and went with it; A, C and DADOVIR are publics
    EXPECT_EQ(findSymbol("B")->memvarSlot, 0);
    EXPECT_EQ(memvarTable()->publicCount, 3);
}

TEST_F(Variables, ReadingAMissingVariableRetriesUntilTheErrorBlockCreatesIt) {
    load(R"(
symbol MAIN proc
symbol Z
proc MAIN
    PUSHMEMVAR Z
    POPRET
    ENDPROC
end)");
    useRetryLauncher();
    retry.createName = "Z";
    retry.createOnTry = 3;
    Item r = call("MAIN");
    EXPECT_EQ(lastStatus, 0);
    EXPECT_EQ(r.v.l, 42);
    ASSERT_EQ(retry.seen.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(retry.seen[i].genCode, EG_NOVAR);
        EXPECT_EQ(retry.seen[i].subCode, 1003);
        EXPECT_EQ(retry.seen[i].flags, EF_RETRY);
        EXPECT_EQ(retry.seen[i].tries, i + 1);
        EXPECT_STREQ(retry.seen[i].subsystem, "BASE");
        EXPECT_EQ(retry.operations[i], "Z");
    }
}

TEST_F(Variables, ReferenceToAMissingVariableWaitsTooAndAnUnwindingEndsTheRead) {
    load(R"(
symbol MAIN proc
symbol W
symbol VARPROBE
proc MAIN
    PUSHSYMNIL VARPROBE
    PUSHMEMVARREF W
    DO 1
    ENDPROC
end)");
    useRetryLauncher();
    retry.unwind = true;
    call("MAIN");
    EXPECT_EQ(lastStatus, ST_UNWIND);
    EXPECT_EQ(retry.seen.size(), 1u);
    EXPECT_TRUE(probed.empty());

    retry.unwind = false;
    retry.createName = "W";
    retry.createOnTry = 1;
    retry.seen.clear();
    call("MAIN");
    EXPECT_EQ(lastStatus, 0);
    ASSERT_EQ(probed.size(), 1u);
    EXPECT_EQ(probed[0].type, T_MEMVARREF);
}

TEST_F(Variables, RefusingToRetryAMissingVariableEndsTheProgram) {
    load(R"(
symbol MAIN proc
symbol NOWHERE
proc MAIN
    PUSHMEMVAR NOWHERE
    POPRET
    ENDPROC
end)");
    answerLogical(false);
    EXPECT_EXIT(call("MAIN"), ::testing::ExitedWithCode(1), "");
}

TEST_F(Variables, ParametersBecomePrivatesAndKeepReferences) {
    load(R"(
symbol MAIN proc
symbol P proc
symbol A
symbol B
symbol C
proc MAIN
    FRAME 0 1
    PUSHINT 1
    POPLOCAL 1
    PUSHSYMNIL P
    PUSHLOCALREF 1
    PUSHSTR "dos"
    FUNC 2
    PUSHLOCAL 1
    ARRAYGEN 2
    POPRET
    ENDPROC
end
proc P
    PUSHSYM A
    PUSHSYM B
    PUSHSYM C
    PARAMETERS 3
    PUSHINT 8
    POPMEMVAR A           ; through the reference into MAIN's local
    PUSHMEMVAR B
    PUSHMEMVAR C
    ARRAYGEN 2
    POPRET
    ENDPROC
end)");
    Item r = call("MAIN");
    ASSERT_EQ(r.type, T_ARRAY);
    const Item& inner = element(r, 1);
    ASSERT_EQ(inner.type, T_ARRAY);
    EXPECT_EQ(text(element(inner, 1)), "dos");
    // C was not passed: NIL, not one of the Symbols that PARAMETERS consumed
    EXPECT_EQ(element(inner, 2).type, T_NIL);
    EXPECT_EQ(elementInt(r, 2), 8);
    EXPECT_EQ(findSymbol("A")->memvarSlot, 0);
}

TEST_F(Variables, StaticsOfTwoModulesAreSeparateAndReservedAsNil) {
    load({R"(
symbol MAIN proc
symbol P proc
symbol SETUP1 proc
symbol ONE$STATICS static
proc SETUP1
    PUSHINT 2
    STATICSALLOC ONE$STATICS
    ENDPROC
end
proc MAIN
    STATICSBASE ONE$STATICS
    PUSHINT 9
    POPSTATIC 2
    PUSHSYMNIL P
    PUSHSTATICREF 2
    DO 1
    PUSHSYMNIL OTHER
    FUNC 0
    PUSHSTATIC 1
    PUSHSTATIC 2
    ARRAYGEN 3
    POPRET
    ENDPROC
end
proc P
    FRAME 1 0
    PUSHINT 11
    POPLOCAL 1
    ENDPROC
end
symbol OTHER
)",
          R"(
symbol OTHER proc
symbol SETUP2 proc
symbol TWO$STATICS static
proc SETUP2
    PUSHINT 3
    STATICSALLOC TWO$STATICS
    ENDPROC
end
proc OTHER
    STATICSBASE TWO$STATICS
    PUSHINT 4
    POPSTATIC 1
    PUSHINT 5
    POPSTATIC 3
    PUSHSTATIC 1
    POPRET
    ENDPROC
end
)"});
    Item* low = vm.staticsLow;
    vm.staticsLow[-1].type = T_LOGICAL;  // dirt where the statics will go
    vm.staticsLow[-4].type = T_LOGICAL;
    call("SETUP1");
    call("SETUP2");
    EXPECT_EQ(vm.staticsLow, low - 5);
    for (Item* it = vm.staticsLow; it < low; ++it) EXPECT_EQ(it->type, T_NIL);

    Item r = call("MAIN");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(elementInt(r, 1), 4);          // the other module's static 1
    EXPECT_EQ(element(r, 2).type, T_NIL);    // ours is untouched
    EXPECT_EQ(elementInt(r, 3), 11);         // assigned through the reference
    // each module's statics start at its own block
    EXPECT_EQ(low[-1].v.l, 11);
    EXPECT_EQ(low[-2].type, T_NIL);
    EXPECT_EQ(low[-5].v.l, 4);
    EXPECT_EQ(low[-3].v.l, 5);
}

TEST_F(Variables, TemporaryValuesNestAndGoBackToTheStaticArea) {
    load(R"(
symbol MAIN proc
proc MAIN
    TEMPVALUE 1
    PUSHINT 4
    TEMPVALUE 2
    TEMPVALUE 1
    PUSHINT 6
    TEMPVALUE 2
    PUSHTEMP
    TEMPVALUE 0
    PUSHTEMP
    TEMPVALUE 0
    ARRAYGEN 2
    POPRET
    ENDPROC
end)");
    Item* low = vm.staticsLow;
    Item r = call("MAIN");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(elementInt(r, 1), 6);
    EXPECT_EQ(elementInt(r, 2), 4);
    EXPECT_EQ(vm.staticsLow, low);
}

TEST_F(Variables, CollectorKeepsWhatMemvarsHoldAndFreesWhatOnlyAReturnedFrameHeld) {
    load(R"(
symbol MAIN proc
symbol P proc
symbol G
symbol H
symbol VARCOLLECT
proc MAIN
    PUSHSYM G
    PUBLIC 1
    ZERO
    ZERO
    ARRAYGEN 1
    ARRAYGEN 2
    POPMEMVAR G            ; {0, {0}}: two arrays, reachable only through G
    PUSHSYMNIL P
    FUNC 0
    PUSHSYMNIL VARCOLLECT
    FUNC 0
    ARRAYGEN 2
    POPRET
    ENDPROC
end
proc P
    FRAME 0 1
    ONE
    ARRAYGEN 1
    POPLOCAL 1             ; only this frame holds it
    ONE
    ARRAYGEN 1
    POPMEMVAR H            ; a private of P
    PUSHSYMNIL VARCOLLECT
    FUNC 0
    POPRET
    ENDPROC
end)");
    collectGarbage(true);
    uint32_t base = liveObjectCount();
    Item r = call("MAIN");
    ASSERT_EQ(r.type, T_ARRAY);
    // inside P: G's two arrays, P's local and P's private
    EXPECT_EQ(elementInt(r, 1), int32_t(base + 4));
    // after P returned: only G's two arrays
    EXPECT_EQ(elementInt(r, 2), int32_t(base + 2));
    GlobalSymbol* g = findSymbol("G");
    Item* gv = memvarItem(g->memvarSlot);
    ASSERT_EQ(gv->type, T_ARRAY);
    EXPECT_EQ(arrayItems(&arrayItems(gv)[1])[0].v.l, 0);
}

TEST_F(Variables, SymbolAddressFormsReachTheSameVariables) {
    load(R"(
symbol MAIN proc
symbol VARPROBE
proc MAIN
    PUSHINT 6
    POPMEMVARX QX           ; undeclared: a private of MAIN
    PUSHSYMNIL VARPROBE
    PUSHMEMVARREFX QX
    DO 1
    PUSHMEMVARX QX
    PUSHVARIABLEX QX
    ARRAYGEN 2
    POPRET
    ENDPROC
end)");
    Item r = call("MAIN");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(elementInt(r, 1), 6);
    EXPECT_EQ(elementInt(r, 2), 6);
    ASSERT_EQ(probed.size(), 1u);
    EXPECT_EQ(probed[0].type, T_MEMVARREF);
    EXPECT_EQ(findSymbol("QX")->memvarSlot, 0);
}

TEST_F(Variables, SelfIsResolvedAndAnArrayReceiverCarriesItsClassHandle) {
    load(R"(
symbol METHOD proc
proc METHOD
    PUSHSELF
    POPRET
    ENDPROC
end)");
    pushNil();  // a rooted home for the receiver
    makeArray(vm.top, 2);
    bodyOf(vm.top)->classHandle = 5;
    Item receiver = *vm.top;
    Item ref{};
    ref.type = T_ITEMREF;
    ref.v.o.ptr = vm.top;

    pushSymbol(findSymbol("METHOD"));
    push(&ref);  // the self slot holds a reference to the object
    ASSERT_EQ(callProc(0), 0);
    Item r = *returnItem();
    EXPECT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(bodyOf(&r), bodyOf(&receiver));
    EXPECT_EQ(itemReceiver(&r), 1);
    EXPECT_EQ(itemClassHandle(&r), 5);
    EXPECT_EQ(itemReceiver(&receiver), 0);  // the object's own Item is unchanged
    pop();
}

// With fixedFormat on, a Double stored into a memory variable (or through a
// reference) loses its width and takes the decimals setting; a plain local
// keeps what the value had.
TEST_F(Variables, FixedFormatAppliesToMemvarStoresButNotToPlainLocals) {
    load(R"(
symbol MAIN proc
symbol P proc
symbol M
proc MAIN
    FRAME 0 2
    PUSHSYM M
    PUBLIC 1
    PUSHDOUBLE 10 4 3.1416
    POPMEMVAR M
    PUSHDOUBLE 10 4 3.1416
    POPLOCAL 1
    PUSHSYMNIL P
    PUSHLOCALREF 2
    DO 1
    PUSHMEMVAR M
    PUSHLOCAL 1
    PUSHLOCAL 2
    ARRAYGEN 3
    POPRET
    ENDPROC
end
proc P
    FRAME 1 0
    PUSHDOUBLE 10 4 3.1416
    POPLOCAL 1
    ENDPROC
end)");
    bool fixed = settingFixedFormat();
    uint16_t decimals = settingDecimals();
    settingSetLogical(SET_FIXEDFORMAT, true);
    settingSetNumber(SET_DECIMALS, 3);
    Item r = call("MAIN");
    settingSetLogical(SET_FIXEDFORMAT, fixed);
    settingSetNumber(SET_DECIMALS, decimals);
    ASSERT_EQ(r.type, T_ARRAY);
    const Item& memvar = element(r, 1);
    EXPECT_EQ(memvar.type, T_DOUBLE);
    EXPECT_EQ(memvar.width, 0);
    EXPECT_EQ(memvar.decimals, 3);
    EXPECT_EQ(memvar.v.d, 3.1416);
    const Item& local = element(r, 2);
    EXPECT_EQ(local.width, 10);
    EXPECT_EQ(local.decimals, 4);
    const Item& throughReference = element(r, 3);
    EXPECT_EQ(throughReference.width, 0);
    EXPECT_EQ(throughReference.decimals, 3);
}
