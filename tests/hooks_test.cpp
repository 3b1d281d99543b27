// The runtime's hooks live in one record: each name is that record's field,
// so one copy saves or restores all of them.
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

}  // namespace
