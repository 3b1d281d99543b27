// Every opcode of vm/opcodes.def has a handler, except the ones listed here:
// those that later work will give a handler (pending), those that have none
// by design, and those the class layer installs while it runs.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "lib/classes.h"
#include "vm/interp.h"
#include "vm/opcodes.h"

using namespace xb;

namespace {

struct Defined {
    const char* name;
    int number;
};

const Defined kDefined[] = {
#define OP(name, num, mode) {#name, num},
#define OP2(name, num, mode) {#name, num},
#include "vm/opcodes.def"
#undef OP
#undef OP2
};

// Opcodes whose handlers come with layers still being built (none today:
// the database built-ins and the macro opcodes have theirs).
std::set<int> pendingOpcodes() { return {}; }
// No handler by design (the screen and keyboard opcodes of a console this
// system does not have).
const std::set<int> kWithoutHandler = {200, 201, 202, 203, 204};
// Installed by the class layer while it runs.
const std::set<int> kClassLayer = {207, 209};

TEST(OpcodeCoverage, EveryDefinedOpcodeHasAHandlerUnlessListed) {
    initDispatch();
    const std::set<int> pending = pendingOpcodes();
    std::vector<std::string> missing, done;
    for (const Defined& d : kDefined) {
        bool listed = pending.count(d.number) || kWithoutHandler.count(d.number) || kClassLayer.count(d.number);
        bool handled = hasOpHandler(uint8_t(d.number));
        if (!handled && !listed) missing.push_back(std::string(d.name) + " " + std::to_string(d.number));
        if (handled && kWithoutHandler.count(d.number)) missing.push_back(std::string(d.name) + " has a handler");
        if (handled && pending.count(d.number)) done.push_back(d.name);
    }
    EXPECT_TRUE(missing.empty()) << "without a handler: " << ::testing::PrintToString(missing);
    // a pending opcode that got its handler should leave the list
    EXPECT_TRUE(done.empty()) << "pending opcodes that now have a handler: " << ::testing::PrintToString(done);
    // every listed number is a defined opcode (the lists name no stale numbers)
    std::set<int> defined;
    for (const Defined& d : kDefined) defined.insert(d.number);
    for (const std::set<int>* list : {&pending, &kWithoutHandler, &kClassLayer})
        for (int n : *list) EXPECT_TRUE(defined.count(n)) << n;
}

TEST(OpcodeCoverage, TheClassLayerInstallsAndRemovesItsTwo) {
    initDispatch();
    for (int n : kClassLayer) EXPECT_FALSE(hasOpHandler(uint8_t(n))) << n;
    classOpcodesInstall();
    for (int n : kClassLayer) EXPECT_TRUE(hasOpHandler(uint8_t(n))) << n;
    classOpcodesRemove();
    for (int n : kClassLayer) EXPECT_FALSE(hasOpHandler(uint8_t(n))) << n;
}

}  // namespace
