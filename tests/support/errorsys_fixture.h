// VmTest with the class layer and, on request, the error system running:
// raises then build ErrorObjects and evaluate the error block set by the
// test's pcode. Restores every hook the two install when the test ends.
//
//   class MyTest : public xb::test::ErrorSystemTest {};
//   TEST_F(MyTest, Raises) {
//       start(R"(symbol MAIN proc ...)");   // load + errorSystemStart()
//       ...
//   }
#pragma once
#include "tests/support/vm_fixture.h"

#include <initializer_list>

#include "lib/classes.h"
#include "runtime/errorsys.h"
#include "vm/procname.h"

namespace xb::test {

class ErrorSystemTest : public VmTest {
protected:
    ErrorLauncher savedLauncher = nullptr;
    void (*savedExhausted)() = nullptr;
    const Function* (*savedResolver)(GlobalSymbol*, Item*) = nullptr;
    const char* (*savedClassName)(const Item*) = nullptr;
    bool (*savedStarted)() = nullptr;

    void SetUp() override {
        VmTest::SetUp();
        savedLauncher = errorLauncher;
        savedExhausted = memExhausted;
        savedResolver = sendResolver;
        savedClassName = receiverClassName;
        savedStarted = memClassSystemStarted;
    }

    void TearDown() override {
        if (up) {
            errorSystemStop();
            freeClasses();
        }
        VmTest::TearDown();
        errorLauncher = savedLauncher;
        memExhausted = savedExhausted;
        sendResolver = savedResolver;
        receiverClassName = savedClassName;
        memClassSystemStarted = savedStarted;
    }

    // The modules, the class layer, and the recording launcher of VmTest.
    void loadWithClasses(std::initializer_list<const char*> texts) {
        load(texts);
        classSystemInstall();
    }
    void loadWithClasses(const char* text) { loadWithClasses({text}); }

    // The modules and the whole error system: raises reach the error block.
    void start(std::initializer_list<const char*> texts) {
        load(texts);
        errorSystemStart();
    }
    void start(const char* text) { start({text}); }

    // Sends message to receiver from native code; the answer (valid until
    // the next allocation may collect it) and the status in lastStatus.
    Item send(const Item& receiver, const char* message, std::initializer_list<Item> args = {}) {
        pushSymbol(findOrCreateSymbol(message));
        push(&receiver);
        for (const Item& a : args) push(&a);
        lastStatus = sendMessage(uint16_t(args.size()));
        Item r = *returnItem();
        itemClear(returnItem());
        return r;
    }

    // Keeps an Item reachable for the collector until the VM goes down.
    static Item* keep(const Item& it) {
        Item* t = tempAlloc();
        *t = it;
        return t;
    }
    static Item* keepString(const char* text) {
        Item* t = tempAlloc();
        makeString(t, text, uint32_t(std::strlen(text)));
        return t;
    }
};

}  // namespace xb::test
