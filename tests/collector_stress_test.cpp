// The collector over the object pools and the compiled literals: deep and
// wide structures, cycles, codeblocks holding detached locals, strings of
// every size class and beyond. After each structure is dropped and a
// collection runs, the bytes in use and the live objects are back where they
// were; literals survive every collection and are shared by every run of
// their PUSHSTR. Meant for the sanitizer builds as much as the plain ones.
#include "tests/support/vm_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

#include "vm/literals.h"
#include "vm/object_pool.h"

using namespace xb;
using xb::test::VmTest;

namespace {

const char* const kPrograms = R"(
symbol MAIN proc
symbol LIT proc
symbol BLOCKS proc
symbol EVAL
proc MAIN
    ENDPROC
end
proc LIT
    PUSHSTR "literal"
    POPRET
    ENDPROC
end
proc BLOCKS             ; 200 blocks holding the detached locals
    FRAME 0 3
    PUSHINT 200
    POPLOCAL 3
    ZERO
    ARRAYDIM 1
    POPLOCAL 2
top:
    PUSHLOCAL 3
    ZERO
    GREATER
    JUMPFALSE done
    PUSHLOCAL 3
    STR1
    POPLOCAL 1
    PUSHLOCAL 2
    PUSHBLOCK {
        FRAME 0 0
        PUSHOUTER 1
        ENDBLOCK
    }
    DETACHLOCALS
    AADD
    POP
    PUSHLOCAL 3
    DEC
    POPLOCAL 3
    JUMP top
done:
    PUSHLOCAL 2
    POPRET
    ENDPROC
end
)";

class Collector : public VmTest {
protected:
    int32_t bytes0 = 0;
    uint32_t objects0 = 0;

    void SetUp() override {
        VmTest::SetUp();
        load(kPrograms);
        collectGarbage(true);
        bytes0 = memInUse();
        objects0 = liveObjectCount();
    }
    // Everything the test built is unreachable now: a collection must give
    // back exactly what it took.
    void expectBack() {
        itemClear(returnItem());
        collectGarbage(true);
        EXPECT_EQ(liveObjectCount(), objects0);
        EXPECT_EQ(memInUse(), bytes0);
    }
    Item* root() { return tempAlloc(); }
};

TEST_F(Collector, DeepNestingIsMarkedAndFreedWithoutNativeRecursion) {
    Item* r = root();
    makeArray(r, 1);
    Item* cell = r;
    for (int i = 0; i < 100000; ++i) {
        Item* e = arrayItems(cell);
        makeArray(e, 1);
        cell = e;
    }
    makeString(arrayItems(cell), "bottom", 6);
    collectGarbage(true);
    EXPECT_EQ(liveObjectCount(), objects0 + 100002);
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, WideArraysOfStringsOfEverySizeClass) {
    Item* r = root();
    makeArray(r, 0);
    for (uint32_t i = 0; i < 5000; ++i) {
        std::string text(i % 400, char('a' + i % 26));  // pooled and tracked sizes alike
        pushString(text.data(), uint32_t(text.size()));
        arrayResize(r, 1);
        arrayItems(r)[arrayLength(r) - 1] = *vm.top;
        pop();
        if (i % 1000 == 0) collectGarbage(true);
    }
    collectGarbage(true);
    ASSERT_EQ(arrayLength(r), 5000u);
    for (uint32_t i = 0; i < 5000; i += 499) {
        const Item* e = arrayItems(r) + i;
        ASSERT_EQ(strLength(e), i % 400) << i;
        if (i % 400) EXPECT_EQ(strData(e)[0], char('a' + i % 26)) << i;
    }
    EXPECT_GT(poolCellsOut(), 0u);
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, CyclesAreFreedOnceUnreachable) {
    Item* r = root();
    for (int round = 0; round < 50; ++round) {
        // a ring of three arrays, the first also holding itself
        makeArray(r, 2);
        makeArray(arrayItems(r), 1);
        makeArray(arrayItems(arrayItems(r)), 1);
        *arrayItems(arrayItems(arrayItems(r))) = *r;
        arrayItems(r)[1] = *r;
        collectGarbage(true);
        EXPECT_EQ(liveObjectCount(), objects0 + 3);
        itemClear(r);
    }
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, BlocksHoldingDetachedLocalsKeepThemUntilDropped) {
    Item blocks = call("BLOCKS");
    ASSERT_EQ(blocks.type, T_ARRAY);
    Item* r = root();
    *r = blocks;
    itemClear(returnItem());
    for (int i = 0; i < 3; ++i) collectGarbage(true);
    ASSERT_EQ(arrayLength(r), 200u);
    // the blocks share their frame's detached locals: each answers the last
    // value local 1 took, STR(1)
    for (uint32_t i = 0; i < 200; i += 37) {
        pushSymbol(evalSymbol);
        push(arrayItems(r) + i);
        ASSERT_EQ(evalSend(0), 0);
        Item v = *returnItem();
        ASSERT_EQ(v.type, T_STRING);
        std::string text(strData(&v), strLength(&v));
        EXPECT_EQ(text, "         1") << i;
    }
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, LiteralsArePermanentSharedAndNotCountedAsLiveObjects) {
    Item a = call("LIT");
    collectGarbage(true);
    Item b = call("LIT");
    ASSERT_EQ(a.type, T_STRING);
    EXPECT_EQ(std::string(strData(&b), strLength(&b)), "literal");
    // one object for the literal, whatever the number of runs
    EXPECT_EQ(bodyOf(&a), bodyOf(&b));
    EXPECT_EQ(liveObjectCount(), objects0);
    EXPECT_GE(literalCount(), 1u);
    int32_t withLiteral = memInUse();
    itemClear(returnItem());
    for (int i = 0; i < 1000; ++i) call("LIT");
    collectGarbage(true);
    EXPECT_EQ(memInUse(), withLiteral);
    // the teardown helper takes the literals too
    freeAllObjects();
    EXPECT_EQ(literalCount(), 0u);
}

TEST_F(Collector, MacroCodeCopiesItsLiteralsEveryRun) {
    // the same PUSHSTR with the macro flag set builds a fresh String each
    // time, which the collector then frees
    const uint8_t code[] = {0x01, 2, 'h', 'i', 0, 0x79, 0x5F};  // PUSHSTR "hi" POPRET ENDBLOCK
    uint32_t before = literalCount();
    uint16_t saved = vm.frameFlags;
    vm.frameFlags |= FF_MACRO;
    ASSERT_EQ(execute(code, nullptr), 0);
    Item first = *returnItem();
    ASSERT_EQ(execute(code, nullptr), 0);
    Item second = *returnItem();
    vm.frameFlags = saved;
    EXPECT_NE(bodyOf(&first), bodyOf(&second));
    EXPECT_EQ(std::string(strData(&second), strLength(&second)), "hi");
    EXPECT_EQ(literalCount(), before);
    expectBack();
}

TEST_F(Collector, MarksAreClearedBySweepSoTheNextCollectionFreesWhatWasDropped) {
    Item* r = root();
    makeArray(r, 3);
    makeString(arrayItems(r), "kept across collections", 23);
    makeArray(arrayItems(r) + 1, 1);
    *arrayItems(arrayItems(r) + 1) = *r;  // a cycle through the root
    for (int i = 0; i < 4; ++i) {
        collectGarbage(true);
        ASSERT_EQ(liveObjectCount(), objects0 + 3) << i;
        EXPECT_EQ(std::string(strData(arrayItems(r)), 23), "kept across collections");
    }
    // an object marked by every earlier collection goes once dropped
    itemClear(arrayItems(r));
    collectGarbage(true);
    EXPECT_EQ(liveObjectCount(), objects0 + 2);
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, SweptCellsAreHandedOutAgainFromTheLowAddressUp) {
    Item* r = root();
    const uint32_t n = 3000;
    makeArray(r, n);
    for (uint32_t i = 0; i < n; ++i) makeString(arrayItems(r) + i, "same size!", 10);
    std::vector<const void*> before;
    for (uint32_t i = 0; i < n; i += 2) before.push_back(bodyOf(arrayItems(r) + i));
    // drop every other string: the sweep frees them in between the kept ones
    for (uint32_t i = 0; i < n; i += 2) itemClear(arrayItems(r) + i);
    collectGarbage(true);
    const uint32_t cells = poolCellsOut();
    std::sort(before.begin(), before.end());
    // new strings of the same class take the freed cells, lowest first
    for (uint32_t k = 0; k < 50; ++k) {
        makeString(arrayItems(r) + 2 * k, "other text", 10);
        EXPECT_EQ(bodyOf(arrayItems(r) + 2 * k), before[k]) << k;
    }
    EXPECT_EQ(poolCellsOut(), cells + 50);
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, LargeStringsBeyondThePoolsAreSweptFromTheirOwnList) {
    Item* r = root();
    makeArray(r, 0);
    const std::string big(5000, 'z');
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 40; ++i) {
            pushString(big.data(), uint32_t(big.size()) - uint32_t(i));
            if (i % 3 == 0) {  // a third is kept
                arrayResize(r, 1);
                arrayItems(r)[arrayLength(r) - 1] = *vm.top;
            }
            pop();
        }
        collectGarbage(true);
        EXPECT_EQ(liveObjectCount(), objects0 + 1 + 14u * uint32_t(round + 1)) << round;
    }
    for (uint32_t i = 0; i < arrayLength(r); ++i) {
        const Item* e = arrayItems(r) + i;
        ASSERT_EQ(strLength(e), 5000u - (i % 14) * 3u) << i;
        EXPECT_EQ(strData(e)[strLength(e) - 1], 'z');
    }
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, ArrayStorageIsCommittedAsUsedWhileTheCapacityFollowsItsRule) {
    Item* r = root();
    makeArray(r, 0);
    EXPECT_EQ(bodyOf(r)->capacity, 64u);
    const int32_t empty = memInUse();
    // an empty array costs far less than its 64 slots
    Item* other = root();
    makeArray(other, 0);
    EXPECT_LT(memInUse() - empty, int32_t(64 * sizeof(Item)));
    tempRelease(other);
    // the capacity grows by count + old + 64 exactly as before
    uint32_t expected = 64;
    for (uint32_t n = 1; n <= 5000; ++n) {
        arrayResize(r, 1);
        if (n > expected) expected = n + expected + 64;
        ASSERT_EQ(bodyOf(r)->capacity, expected) << n;
        itemClear(arrayItems(r) + n - 1);
        arrayItems(r)[n - 1].type = T_INTEGER;
        arrayItems(r)[n - 1].v.l = int32_t(n);
    }
    for (uint32_t n = 0; n < 5000; n += 97) ASSERT_EQ(arrayItems(r)[n].v.l, int32_t(n + 1));
    // shrinking keeps the elements below the new length, growing again reads NILs
    arrayResize(r, -4000);
    arrayResize(r, 10);
    EXPECT_EQ(arrayLength(r), 1010u);
    EXPECT_EQ(arrayItems(r)[999].v.l, 1000);
    for (uint32_t n = 1000; n < 1010; ++n) EXPECT_EQ(arrayItems(r)[n].type, T_NIL) << n;
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, StringsOfNoOrOneByteAreSharedAndCostNothing) {
    Item* r = root();
    makeArray(r, 600);
    collectGarbage(true);
    const int32_t bytes = memInUse();
    const uint32_t objects = liveObjectCount();
    for (uint32_t i = 0; i < 600; ++i) {
        const char c = char(i % 256);
        makeString(arrayItems(r) + i, &c, i % 3 == 0 ? 0 : 1);
    }
    EXPECT_EQ(memInUse(), bytes);
    EXPECT_EQ(liveObjectCount(), objects);
    for (uint32_t i = 0; i < 600; ++i) {
        const Item* e = arrayItems(r) + i;
        ASSERT_EQ(e->type, T_STRING);
        if (i % 3 == 0) {
            ASSERT_EQ(strLength(e), 0u);
            EXPECT_EQ(strData(e)[0], 0);
        } else {
            ASSERT_EQ(strLength(e), 1u);
            EXPECT_EQ(strData(e)[0], char(i % 256)) << i;
            EXPECT_EQ(strData(e)[1], 0);
        }
    }
    // the same byte is the same object; collections keep the shared ones
    EXPECT_EQ(bodyOf(arrayItems(r) + 1), bodyOf(arrayItems(r) + 257));
    for (int k = 0; k < 3; ++k) collectGarbage(true);
    EXPECT_EQ(strData(arrayItems(r) + 1)[0], char(1));
    // a two-byte string is an object of its own again
    makeString(arrayItems(r), "ab", 2);
    EXPECT_EQ(liveObjectCount(), objects + 1);
    tempRelease(r);
    expectBack();
}

TEST_F(Collector, StringsOfEveryLengthKeepTheirBytesWhereverTheyAreStored) {
    // up to seven bytes sit inside the object, longer ones after it, the
    // longest in blocks of their own
    Item* r = root();
    const uint32_t n = 300;
    makeArray(r, n);
    auto textOf = [](uint32_t len) {
        std::string t(len, ' ');
        for (uint32_t k = 0; k < len; ++k) t[k] = char('A' + (len * 7 + k) % 26);
        return t;
    };
    for (uint32_t len = 0; len < n; ++len) {
        const std::string t = textOf(len);
        const int32_t before = memInUse();
        makeString(arrayItems(r) + len, t.data(), len);
        if (len >= 2 && len <= 7) {
            EXPECT_EQ(memInUse() - before, int32_t(poolCellSize(poolClassOf(sizeof(HeapObject))))) << len;
        }
    }
    for (int round = 0; round < 2; ++round) {
        collectGarbage(true);
        for (uint32_t len = 0; len < n; ++len) {
            const Item* e = arrayItems(r) + len;
            ASSERT_EQ(strLength(e), len);
            EXPECT_EQ(std::string(strData(e), len), textOf(len)) << len;
            EXPECT_EQ(strData(e)[len], 0) << len;
        }
    }
    tempRelease(r);
    expectBack();
}

}  // namespace
