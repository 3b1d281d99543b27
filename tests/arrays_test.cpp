// Arrays run through the interpreter: literals and shapes, element access and
// assignment with their errors (substitutable or not, negative indexes), AADD,
// growth, and sizes whose element area cannot be allocated.
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace xb;
using xb::test::VmTest;

class Arrays : public VmTest {
protected:
    static const Item& element(const Item& array, uint32_t i) { return arrayItems(&array)[i - 1]; }
    // Runs procedure P whose body is `body`, with local 1 = {10, 20, 30, 40}.
    Item runOnFour(const std::string& body) {
        source = "symbol P proc\nproc P\nFRAME 0 1\nPUSHINT 10\nPUSHINT 20\nPUSHINT 30\nPUSHINT 40\n"
                 "ARRAYGEN 4\nPOPLOCAL 1\n" +
                 body + "\nENDPROC\nend\n";
        load(source.c_str());
        return call("P");
    }
    std::string source;
};

TEST_F(Arrays, LiteralsNestAndTheEmptyOneHasRoomForGrowth) {
    load(R"(
symbol P proc
proc P
    ONE
    PUSHINT 2
    PUSHINT 3
    ARRAYGEN 2
    ARRAYGEN 2
    ARRAYGEN 0
    ARRAYGEN 2
    POPRET
    ENDPROC
end)");
    Item r = call("P");
    ASSERT_EQ(r.type, T_ARRAY);
    ASSERT_EQ(arrayLength(&r), 2u);
    const Item& pair = element(r, 1);  // {1, {2, 3}}
    ASSERT_EQ(arrayLength(&pair), 2u);
    EXPECT_EQ(element(pair, 1).v.l, 1);
    EXPECT_EQ(element(element(pair, 2), 2).v.l, 3);
    const Item& empty = element(r, 2);
    EXPECT_EQ(arrayLength(&empty), 0u);
    EXPECT_EQ(bodyOf(&empty)->capacity, 64u);
    EXPECT_EQ(vm.top, vm.stack);
}

TEST_F(Arrays, DimensionsGiveDistinctSubarraysAndNegativeSizesGiveEmptyOnes) {
    load(R"(
symbol P proc
proc P
    FRAME 0 1
    PUSHINT 2
    PUSHINT 3
    ARRAYDIM 2
    POPLOCAL 1
    PUSHINT 7               ; a[1][3] := 7
    PUSHLOCAL 1
    ARRAYGETC 1
    PUSHINT 3
    ARRAYPUT
    PUSHLOCAL 1
    PUSHINT -4
    ARRAYDIM 1
    PUSHINT 2
    PUSHINT -1
    ARRAYDIM 2
    PUSHDOUBLE 10 1 2.9
    PUSHSTR "x"
    ARRAYDIM 2
    ARRAYGEN 4
    POPRET
    ENDPROC
end)");
    Item r = call("P");
    ASSERT_EQ(r.type, T_ARRAY);
    const Item& a = element(r, 1);
    ASSERT_EQ(arrayLength(&a), 2u);
    const Item& row1 = element(a, 1);
    const Item& row2 = element(a, 2);
    ASSERT_EQ(arrayLength(&row1), 3u);
    ASSERT_EQ(arrayLength(&row2), 3u);
    EXPECT_NE(bodyOf(&row1), bodyOf(&row2));
    EXPECT_EQ(element(row1, 3).v.l, 7);
    EXPECT_EQ(element(row2, 3).type, T_NIL);
    EXPECT_EQ(element(row1, 1).type, T_NIL);

    EXPECT_EQ(arrayLength(&element(r, 2)), 0u);  // size -4
    const Item& twoEmpty = element(r, 3);
    ASSERT_EQ(arrayLength(&twoEmpty), 2u);
    EXPECT_EQ(arrayLength(&element(twoEmpty, 1)), 0u);
    EXPECT_EQ(arrayLength(&element(twoEmpty, 2)), 0u);
    const Item& truncated = element(r, 4);  // 2.9 -> 2, a string size -> 0
    ASSERT_EQ(arrayLength(&truncated), 2u);
    EXPECT_EQ(arrayLength(&element(truncated, 1)), 0u);
}

TEST_F(Arrays, ElementsAreReadByTruncatedIndexAndWrittenInPlace) {
    Item r = runOnFour(R"(
    PUSHINT 99
    PUSHLOCAL 1
    PUSHINT 3
    ARRAYPUT
    PUSHINT 98
    PUSHLOCAL 1
    ARRAYPUTC 4
    PUSHLOCAL 1
    PUSHDOUBLE 10 1 2.9
    ARRAYGET
    PUSHLOCAL 1
    ARRAYGETC 3
    PUSHLOCAL 1
    ARRAYGETC 4
    ARRAYGEN 3
    POPRET)");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(element(r, 1).v.l, 20);
    EXPECT_EQ(element(r, 2).v.l, 99);
    EXPECT_EQ(element(r, 3).v.l, 98);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Arrays, IndexZeroAndNonArraysAreSubstitutableErrors) {
    answerInt(77);
    Item r = runOnFour(R"(
    PUSHLOCAL 1
    ZERO
    ARRAYGET
    ONE
    PUSHINT 2
    ARRAYGET
    ONE
    ARRAYGETC 2
    ARRAYGEN 3
    POPRET)");
    ASSERT_EQ(r.type, T_ARRAY);
    for (uint32_t i = 1; i <= 3; ++i) EXPECT_EQ(element(r, i).v.l, 77);
    ASSERT_EQ(errors.size(), 3u);
    // a[0]: bound error with both operands, substitution and retry allowed
    EXPECT_EQ(errors[0].d.genCode, EG_BOUND);
    EXPECT_EQ(errors[0].d.subCode, 1132);
    EXPECT_EQ(errors[0].operation, "array access");
    EXPECT_EQ(errors[0].d.flags, EF_SUBSTITUTE | EF_RETRY);
    ASSERT_EQ(errors[0].operands.size(), 2u);
    EXPECT_EQ(errors[0].operands[0].type, T_ARRAY);
    EXPECT_EQ(errors[0].operands[1].v.l, 0);
    // not an array
    EXPECT_EQ(errors[1].d.genCode, EG_ARG);
    EXPECT_EQ(errors[1].d.subCode, 1068);
    EXPECT_EQ(errors[1].d.flags, EF_SUBSTITUTE);
    EXPECT_EQ(errors[1].operands.size(), 2u);
    EXPECT_EQ(errors[2].d.subCode, 1068);
    EXPECT_EQ(errors[2].operands.size(), 1u);
}

// Beyond the length, including a negative index, is a bound error with no
// operands that nothing may substitute: the error block has to unwind.
TEST_F(Arrays, IndexesOutsideTheArrayAreBoundErrorsWithoutOperands) {
    const char* cases[] = {
        "PUSHLOCAL 1\nPUSHINT 5\nARRAYGET\nPOPRET",
        "PUSHLOCAL 1\nPUSHINT -1\nARRAYGET\nPOPRET",
        "PUSHLOCAL 1\nPUSHDOUBLE 20 0 -3000000000\nARRAYGET\nPOPRET",
        "PUSHLOCAL 1\nARRAYGETC 5\nPOPRET",
        "ONE\nPUSHLOCAL 1\nPUSHINT 5\nARRAYPUT",
        "ONE\nPUSHLOCAL 1\nPUSHINT -2\nARRAYPUT",
        "ONE\nPUSHLOCAL 1\nARRAYPUTC 0",
    };
    const uint16_t subcodes[] = {1132, 1132, 1132, 1132, 1133, 1133, 1133};
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i]);
        answerUnwind();
        errors.clear();
        runOnFour(cases[i]);
        EXPECT_EQ(lastStatus, ST_UNWIND);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].d.genCode, EG_BOUND);
        EXPECT_EQ(errors[0].d.subCode, subcodes[i]);
        EXPECT_EQ(errors[0].d.flags, 0);
        EXPECT_TRUE(errors[0].operands.empty());
        EXPECT_EQ(vm.top, vm.stack);
        down();
    }
}

TEST_F(Arrays, ABoundErrorAnsweredWithAValueEndsTheProgram) {
    answerInt(77);
    EXPECT_EXIT(runOnFour("PUSHLOCAL 1\nPUSHINT 5\nARRAYGET\nPOPRET"), ::testing::ExitedWithCode(1), "");
}

TEST_F(Arrays, AssignmentErrorsCarryTheirOperands) {
    answerUnwind();
    runOnFour("PUSHINT 9\nPUSHLOCAL 1\nZERO\nARRAYPUT");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1133);
    EXPECT_EQ(errors[0].operation, "array assign");
    EXPECT_EQ(errors[0].d.flags, EF_RETRY);
    ASSERT_EQ(errors[0].operands.size(), 3u);
    EXPECT_EQ(errors[0].operands[0].v.l, 9);
    down();
    errors.clear();
    runOnFour("PUSHINT 9\nONE\nONE\nARRAYPUT");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1069);
    EXPECT_EQ(errors[0].d.flags, 0);
    EXPECT_EQ(errors[0].operands.size(), 3u);
    down();
    errors.clear();
    runOnFour("PUSHINT 9\nONE\nARRAYPUTC 1");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1069);
    EXPECT_EQ(errors[0].operands.size(), 2u);
}

TEST_F(Arrays, AaddAppendsAndYieldsTheValue) {
    answerInt(5);
    Item r = runOnFour(R"(
    ARRAYGEN 0
    POPLOCAL 1
    PUSHLOCAL 1
    PUSHSTR "nuevo"
    AADD
    PUSHLOCAL 1
    ONE
    PUSHINT 3
    AADD
    ARRAYGEN 3
    POPRET)");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(text(element(r, 1)), "nuevo");
    const Item& a = element(r, 2);
    ASSERT_EQ(arrayLength(&a), 1u);
    EXPECT_EQ(text(element(a, 1)), "nuevo");
    EXPECT_EQ(element(r, 3).v.l, 5);  // AADD to a number: substituted
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1123);
    EXPECT_EQ(errors[0].operation, "AADD");
    EXPECT_EQ(errors[0].d.flags, EF_SUBSTITUTE);
    EXPECT_EQ(errors[0].operands.size(), 2u);
}

TEST_F(Arrays, GrowingPastTheCapacityReallocatesToNewCountPlusOldCapacityPlus64) {
    std::string body = "ARRAYGEN 0\nPOPLOCAL 1\n";
    for (int i = 0; i < 65; ++i) body += "PUSHLOCAL 1\nPUSHINT " + std::to_string(i + 1) + "\nAADD\nPOP\n";
    body += "PUSHLOCAL 1\nPOPRET";
    Item r = runOnFour(body);
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(arrayLength(&r), 65u);
    EXPECT_EQ(bodyOf(&r)->capacity, 193u);
    EXPECT_EQ(element(r, 1).v.l, 1);
    EXPECT_EQ(element(r, 65).v.l, 65);
}

// An element area beyond 32 bits is the memory manager's fatal error, never
// a short allocation that later writes run past.
TEST_F(Arrays, ElementAreasThatCannotBeAllocatedAreFatal) {
    auto exhausted = [] {
        std::fputs("memory exhausted", stderr);
        std::_Exit(7);
    };
    EXPECT_EXIT(
        {
            memExhausted = exhausted;
            runOnFour("PUSHDOUBLE 10 0 268435456\nARRAYDIM 1\nPOPRET");
        },
        ::testing::ExitedWithCode(7), "memory exhausted");
    EXPECT_EXIT(
        {
            memExhausted = exhausted;
            runOnFour("PUSHINT 2\nPUSHDOUBLE 10 0 2147483647\nARRAYDIM 2\nPOPRET");
        },
        ::testing::ExitedWithCode(7), "memory exhausted");
    EXPECT_EXIT(
        {
            memExhausted = exhausted;
            Item r = runOnFour("PUSHLOCAL 1\nPOPRET");
            arrayResize(&r, 0x7FFFFFFF);
        },
        ::testing::ExitedWithCode(7), "memory exhausted");
}
