// The runtime's hooks live in one record: each name is that record's field,
// so one copy saves or restores all of them; with the opcode table they make
// the seams (vm/seams.h).
#include <gtest/gtest.h>

#include <cstring>

#include "image/startup.h"
#include "vm/error.h"
#include "base/memory.h"
#include "base/hooks.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/procname.h"
#include "vm/stack.h"
#include "vm/fields.h"
#include "vm/seams.h"
#include "runtime/files.h"
#include "rdd/dbf/dbf_locks.h"
#include "rdd/dbf/dbf_sort.h"

using namespace xb;

namespace {

void noQuit() {}
void noWrite(const char*, uint32_t) {}
Item* noSlot(uint16_t) { return nullptr; }
void noRegistration() {}

TEST(Hooks, EachNameIsItsFieldAndOneCopyRestoresThemAll) {
    const RuntimeHooks saved = runtimeHooks;
    quitHook = noQuit;
    errorOutputWrite = noWrite;
    memvarSlotItem = noSlot;
    afterSymbolRegistration = noRegistration;
    EXPECT_EQ(runtimeHooks.quitHook, noQuit);
    EXPECT_EQ(runtimeHooks.errorOutputWrite, noWrite);
    EXPECT_EQ(runtimeHooks.memvarSlotItem, noSlot);
    EXPECT_EQ(runtimeHooks.afterSymbolRegistration, noRegistration);
    runtimeHooks = saved;
    EXPECT_EQ(quitHook, saved.quitHook);
    EXPECT_EQ(errorOutputWrite, saved.errorOutputWrite);
    EXPECT_EQ(memvarSlotItem, saved.memvarSlotItem);
    EXPECT_EQ(afterSymbolRegistration, saved.afterSymbolRegistration);
}

TEST(Hooks, TheDefaultsAreSetBeforeAnythingRuns) {
    const RuntimeHooks d = defaultHooks();
    // the hooks that must never be null have their defaults
    EXPECT_NE(d.sendResolver, nullptr);
    EXPECT_NE(d.errorLauncher, nullptr);
    EXPECT_NE(d.errorOutputWrite, nullptr);
    EXPECT_NE(d.exitAfterFailureHook, nullptr);
    EXPECT_NE(d.memExhausted, nullptr);
    // the others start empty
    EXPECT_EQ(d.quitHook, nullptr);
    EXPECT_EQ(d.memvarSlotItem, nullptr);
    EXPECT_EQ(d.gcMarkMemvarRoots, nullptr);
    // a process that has not started its layers still has the defaults
    // wherever no test installed anything
    EXPECT_EQ(runtimeHooks.memExhausted, d.memExhausted);
    EXPECT_EQ(runtimeHooks.exitAfterFailureHook, d.exitAfterFailureHook);
}

bool noWait() { return false; }
uint16_t noOp() { return 0; }
bool failedWrite(os::Handle, const void*, uint32_t, uint32_t*) { return false; }
uint16_t areaSeven() { return 7; }

// Every seam that lived in a global of its own is a field of the record now:
// the file calls, the field table, the lock wait and the sort budget, and
// with the opcode table they come back in one step.
TEST(Hooks, EverySeamComesBackInOneStep) {
    const Seams saved = currentSeams();
    const uint8_t op = 200;  // a console opcode without a handler of its own
    const OpHandler before = opTable[op];

    fileSyscalls().writeFile = failedWrite;
    FieldAccess table = *fieldAccess();
    table.currentArea = areaSeven;
    setFieldAccess(&table);
    dbfLockWaitHook = noWait;
    dbfSortBudget = 4096;
    installOpHandler(op, noOp);
    quitHook = noQuit;

    // each name reads its field of the record
    EXPECT_EQ(runtimeHooks.fileCalls.writeFile, failedWrite);
    EXPECT_EQ(runtimeHooks.fieldAccess, &table);
    EXPECT_EQ(fieldAccess()->currentArea(), 7);
    EXPECT_EQ(runtimeHooks.dbfLockWait, noWait);
    EXPECT_FALSE(dbfLockWait());
    EXPECT_EQ(runtimeHooks.dbfSortBudget, 4096u);
    EXPECT_EQ(opTable[op], noOp);

    restoreSeams(saved);
    EXPECT_EQ(std::memcmp(&runtimeHooks, &saved.hooks, sizeof runtimeHooks), 0);
    EXPECT_EQ(fileSyscalls().writeFile, saved.hooks.fileCalls.writeFile);
    EXPECT_EQ(runtimeHooks.fieldAccess, saved.hooks.fieldAccess);
    EXPECT_NE(fieldAccess(), &table);
    EXPECT_EQ(dbfLockWaitHook, saved.hooks.dbfLockWait);
    EXPECT_EQ(dbfSortBudget, saved.hooks.dbfSortBudget);
    EXPECT_EQ(quitHook, saved.hooks.quitHook);
    EXPECT_EQ(opTable[op], before);
}

// The seams of the file and database layers default to null or zero, which
// means the platform's calls, no database layer, a one-millisecond wait and
// an 8 MiB sort: a program of a few layers can start from a zero record.
TEST(Hooks, ZeroSeamsOfTheLowerLayersMeanTheirDefaults) {
    const RuntimeHooks d = defaultHooks();
    EXPECT_EQ(d.fileCalls.readFile, nullptr);
    EXPECT_EQ(d.fileCalls.writeFile, nullptr);
    EXPECT_EQ(d.fieldAccess, nullptr);
    EXPECT_EQ(d.dbfLockWait, nullptr);
    EXPECT_EQ(d.dbfSortBudget, 0u);
    EXPECT_EQ(d.separateLogicalNotify, nullptr);
    const Seams saved = currentSeams();
    runtimeHooks.fieldAccess = nullptr;
    EXPECT_NE(fieldAccess(), nullptr);  // the table of a runtime without databases
    EXPECT_FALSE(fieldAccess()->areaExists(1));
    EXPECT_TRUE(dbfLockWait());  // slept, and goes on waiting
    restoreSeams(saved);
}

}  // namespace
