// Tracked memory: accounting, the live-block list and the idle tasks.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "base/memory.h"

using namespace xb;

namespace {

TEST(Memory, ZeroSizeBlocksAreDistinctAndCostNothing) {
    os::heapCreate();
    int32_t before = memInUse();
    void* a = memAlloc(0);
    void* b = memAlloc(0);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(memInUse(), before);
    memFree(a);
    memFree(b);
    memFree(nullptr);
    EXPECT_EQ(memInUse(), before);
}

TEST(Memory, ReallocAdjustsCountAndPeak) {
    int32_t before = memInUse();
    int32_t peakBefore = memPeak();
    auto* p = static_cast<char*>(memAlloc(100));
    for (int i = 0; i < 100; ++i) p[i] = char(i);
    p = static_cast<char*>(memRealloc(p, 40));
    EXPECT_EQ(memInUse(), before + 40);
    EXPECT_GE(memPeak(), peakBefore > before + 100 ? peakBefore : before + 100);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(p[i], char(i));
    // moving blocks keep the list intact: free them in any order
    void* q = memAlloc(10);
    p = static_cast<char*>(memRealloc(p, 100000));
    memFree(q);
    memFree(p);
    EXPECT_EQ(memInUse(), before);
}

TEST(Memory, ZeroFilledBlocks) {
    auto* p = static_cast<unsigned char*>(memAllocZero(64));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
    memFree(p);
}

int ran[20];
void task(int i) { ++ran[i]; }
template <int I>
void taskN() {
    task(I);
}

TEST(IdleTasks, TableGrowsAndMasksSelect) {
    IdleTask tasks[17] = {taskN<0>, taskN<1>, taskN<2>, taskN<3>, taskN<4>, taskN<5>, taskN<6>, taskN<7>, taskN<8>,
                          taskN<9>, taskN<10>, taskN<11>, taskN<12>, taskN<13>, taskN<14>, taskN<15>, taskN<16>};
    for (int i = 0; i < 17; ++i) EXPECT_EQ(registerIdleTask(tasks[i], i == 16 ? 0x0001 : 0x2001), i + 1);
    EXPECT_EQ(registerIdleTask(nullptr, 0x2000), 0);
    dispatchIdleTasks(0x2000);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(ran[i], 1);
    EXPECT_EQ(ran[16], 0);
    dispatchIdleTasks(0x0001);
    EXPECT_EQ(ran[16], 1);
    EXPECT_EQ(ran[0], 2);
    freeIdleTasks();
}

TEST(MemoryDeath, ExhaustionIsFatal5304) {
    EXPECT_EXIT(memAlloc(0xFFFFFFF0u), ::testing::ExitedWithCode(1), "5304");
}

}  // namespace
