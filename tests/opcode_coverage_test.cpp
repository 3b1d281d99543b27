// Every opcode of vm/opcodes.def has a handler, except the ones listed here:
// those that have none by design, and those the class layer installs while
// it runs.
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

// No handler by design: the screen and keyboard opcodes of a full-screen
// console, which a process without a screen does not have.
const std::set<int> kWithoutHandler = {200, 201, 202, 203, 204};
// Installed by the class layer while it runs.
const std::set<int> kClassLayer = {207, 209};

TEST(OpcodeCoverage, EveryDefinedOpcodeHasAHandlerUnlessListed) {
    initDispatch();
    std::vector<std::string> missing;
    for (const Defined& d : kDefined) {
        bool listed = kWithoutHandler.count(d.number) || kClassLayer.count(d.number);
        bool handled = hasOpHandler(uint8_t(d.number));
        if (!handled && !listed) missing.push_back(std::string(d.name) + " " + std::to_string(d.number));
        if (handled && kWithoutHandler.count(d.number)) missing.push_back(std::string(d.name) + " has a handler");
    }
    EXPECT_TRUE(missing.empty()) << "without a handler: " << ::testing::PrintToString(missing);
    // every listed number is a defined opcode (the lists name no stale numbers)
    std::set<int> defined;
    for (const Defined& d : kDefined) defined.insert(d.number);
    for (const std::set<int>* list : {&kWithoutHandler, &kClassLayer})
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
