// Brings the virtual machine up around one test and down again afterwards:
// memory, the stacks, the module tables of the test (written in the pcode
// assembler's text) and the well-known symbols. Subsystems with their own
// start and stop add them to vmTestUp/vmTestDown.
//
//   class MyTest : public xb::test::VmTest {};
//   TEST_F(MyTest, Adds) {
//       load(R"(symbol MAIN proc
//               proc MAIN
//                   ONE
//                   POPRET
//                   ENDPROC
//               end)");
//       xb::Item r = call("MAIN");
//       EXPECT_EQ(r.v.l, 1);
//   }
#pragma once
#include "tests/support/asm_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "vm/symbols.h"
#include "platform/platform.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/fields.h"
#include "base/hooks.h"
#include "vm/seams.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"
#include "vm/statics.h"
#include "vm/vm_init.h"

namespace xb::test {

// What a test's error launcher saw of one raise.
struct RaisedError {
    ErrorDescriptor d;
    std::string operation;
    std::string subsystem;
    std::vector<Item> operands;
};

class VmTest : public ::testing::Test {
protected:
    std::vector<pcasm::AsmModule> modules;
    std::vector<ImageModule> image;
    bool up = false;

    // The errors raised during the test, and the answer the launcher gives.
    static inline std::vector<RaisedError>* raised = nullptr;
    static inline Item answer{};
    static inline bool answerUnwinds = false;

    static uint16_t recordingLauncher(ErrorDescriptor* d, const Item* operands, uint16_t count) {
        RaisedError e;
        e.d = *d;
        e.operation = d->operation ? d->operation : "";
        e.subsystem = d->subsystem ? d->subsystem : "";
        for (uint16_t i = 0; i < count; ++i) e.operands.push_back(operands[i]);
        raised->push_back(e);
        if (answerUnwinds) {
            vm.callResult = ST_UNWIND;
            return ST_UNWIND;
        }
        *returnItem() = answer;
        return 0;
    }

    std::vector<RaisedError> errors;

    // Every seam a test or a subsystem changes (hooks, file calls, field
    // table, tunables, opcode handlers) is put back afterwards.
    Seams savedSeams = currentSeams();

    void SetUp() override {
        savedSeams = currentSeams();
        raised = &errors;
        itemClear(&answer);
        answerUnwinds = false;
    }

    void TearDown() override {
        down();
        restoreSeams(savedSeams);
    }

    // Assembles the modules (the first is the main module) and starts the VM.
    void load(std::initializer_list<const char*> texts) {
        for (const char* t : texts) modules.push_back(pcasm::assembleOrDie(t));
        for (auto& m : modules) image.push_back(pcasm::moduleImage(m));
        os::heapCreate();
        vmStart();
        setImage(image.data(), uint32_t(image.size()));
        registerModuleSymbols();
        for (auto& m : modules) pcasm::bindModule(&m);
        vmBindSymbols();
        errorLauncher = recordingLauncher;
        up = true;
    }
    void load(const char* text) { load({text}); }

    void down() {
        if (!up) return;
        vmStop();
        setFieldAccess(nullptr);
        vmRelease();
        for (auto& m : modules) pcasm::freeModule(&m);
        modules.clear();
        image.clear();
        up = false;
    }

    // Answers the next raises with this value (substitution, or a logical for retry/default).
    void answerWith(const Item& it) {
        answer = it;
        answerUnwinds = false;
    }
    void answerLogical(bool b) {
        itemClear(&answer);
        answer.type = T_LOGICAL;
        answer.v.l = b;
        answerUnwinds = false;
    }
    void answerInt(int32_t v) {
        itemClear(&answer);
        answer.type = T_INTEGER;
        answer.v.l = v;
        answerUnwinds = false;
    }
    void answerUnwind() { answerUnwinds = true; }

    // Calls procedure `name` with the given Items as arguments; returns the return Item.
    Item call(const char* name, std::initializer_list<Item> args = {}) {
        GlobalSymbol* s = findSymbol(name);
        EXPECT_NE(s, nullptr) << name;
        if (!s) return Item{};
        pushSymbol(s);
        pushNil();
        for (const Item& a : args) push(&a);
        lastStatus = callProc(uint16_t(args.size()));
        return *returnItem();
    }
    uint16_t lastStatus = 0;

    static Item intItem(int32_t v) {
        Item it{};
        it.type = T_INTEGER;
        it.v.l = v;
        return it;
    }
    static Item doubleItem(double d, uint16_t width = 0, uint16_t decimals = 0) {
        Item it{};
        it.type = T_DOUBLE;
        it.width = width;
        it.decimals = decimals;
        it.v.d = d;
        return it;
    }
    static Item logicalItem(bool b) {
        Item it{};
        it.type = T_LOGICAL;
        it.v.l = b;
        return it;
    }
    static Item wordItem(int32_t v) {
        Item it{};
        it.type = T_WORD;
        it.v.l = v;
        return it;
    }
    // Checks of a result: type, value and shape.
    static void expectInt(const Item& r, int32_t v, uint16_t width) {
        EXPECT_EQ(r.type, T_INTEGER);
        EXPECT_EQ(r.v.l, v);
        EXPECT_EQ(r.width, width);
        EXPECT_EQ(r.decimals, 0);
    }
    static void expectDouble(const Item& r, double d, uint16_t width, uint16_t decimals) {
        EXPECT_EQ(r.type, T_DOUBLE);
        EXPECT_EQ(r.v.d, d);
        EXPECT_EQ(r.width, width);
        EXPECT_EQ(r.decimals, decimals);
    }
    static void expectLogical(const Item& r, bool b) {
        EXPECT_EQ(r.type, T_LOGICAL);
        EXPECT_EQ(r.v.l, b ? 1 : 0);
    }
    static Item nilItem() { return Item{}; }
    static Item dateItem(int32_t day) {
        Item it{};
        it.type = T_DATE;
        it.v.l = day;
        return it;
    }
    // Heap values live in static-area temporaries, where the collector sees
    // them, until the test's VM goes down.
    static Item str(const std::string& s) {
        Item* t = tempAlloc();
        makeString(t, s.data(), uint32_t(s.size()));
        return *t;
    }
    static Item memo(const std::string& s) {
        Item it = str(s);
        it.type = T_MEMO;
        return it;
    }
    static Item array(uint32_t n) {
        Item* t = tempAlloc();
        makeArray(t, n);
        return *t;
    }
    static Item block() {
        Item* t = tempAlloc();
        makeCodeblock(t);
        return *t;
    }
    static std::string text(const Item& it) {
        if (!(it.type & M_STRING)) return "<not a string>";
        return std::string(strData(&it), strLength(&it));
    }
};

}  // namespace xb::test
