// The byte layouts of the i386 and x86_64 builds: the Item and the records
// beside it, Items of every type through the stack and back, symbols named
// by 32-bit numbers after many thousands of symbols, and the bytes 60..63 of
// a module table entry.
#include "tests/support/vm_fixture.h"

#include <cstring>
#include <string>
#include <vector>

#include "vm/symref.h"
#include "vm/vm.h"

using namespace xb;
using xb::test::VmTest;

namespace {

std::vector<uint8_t> bytesOf(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    return std::vector<uint8_t>(b, b + n);
}

uint16_t u16At(const Item& it, size_t at) {
    uint16_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&it) + at, 2);
    return v;
}

TEST(ItemLayout, FieldsSitAtTheirBytes) {
    Item s{};
    s.type = T_STRING;
    setStrLength(&s, 0x00123456u);
    EXPECT_EQ(u16At(s, 0), T_STRING);
    EXPECT_EQ(u16At(s, 2), 0x3456);  // length low 16 bits
    EXPECT_EQ(u16At(s, 4), 0x0012);  // length high 16 bits
    EXPECT_EQ(strLength(&s), 0x00123456u);

    Item d{};
    d.type = T_DOUBLE;
    d.width = 12;
    d.decimals = 3;
    d.v.d = -2.5;
    double back;
    std::memcpy(&back, reinterpret_cast<const uint8_t*>(&d) + 8, 8);
    EXPECT_EQ(back, -2.5);
    EXPECT_EQ(u16At(d, 2), 12);
    EXPECT_EQ(u16At(d, 4), 3);

    // An Array with both receiver fields set: the pointer is whole at byte 8
    // and the two fields sit where this target keeps them.
    int anchor = 0;
    Item a{};
    a.type = T_ARRAY;
    a.v.o.ptr = &anchor;
    setItemReceiver(&a, 1);
    setItemClassHandle(&a, 0xBEEF);
    void* ptr;
    std::memcpy(&ptr, reinterpret_cast<const uint8_t*>(&a) + 8, sizeof ptr);
    EXPECT_EQ(ptr, &anchor);
    EXPECT_EQ(itemReceiver(&a), 1);
    EXPECT_EQ(itemClassHandle(&a), 0xBEEF);
    const auto* raw = reinterpret_cast<const uint8_t*>(&a);
#if XB_TARGET_64
    EXPECT_EQ(raw[6], 1);
    EXPECT_EQ(u16At(a, 2), 0xBEEF);
    EXPECT_EQ(raw[4] | raw[5] | raw[7], 0);
#else
    EXPECT_EQ(raw[12], 1);
    EXPECT_EQ(u16At(a, 14), 0xBEEF);
    EXPECT_EQ(raw[2] | raw[3] | raw[4] | raw[5] | raw[6] | raw[7] | raw[13], 0);
#endif
    // clearing the marks leaves exactly the plain Array Item
    setItemReceiver(&a, 0);
    setItemClassHandle(&a, 0);
    Item plain{};
    plain.type = T_ARRAY;
    plain.v.o.ptr = &anchor;
    EXPECT_EQ(bytesOf(&a, 16), bytesOf(&plain, 16));
}

TEST(RecordLayout, SizesAndOffsetsOfThisTarget) {
    struct Row {
        const char* what;
        size_t got, i386, x86_64;
    };
    const Row rows[] = {
        {"Item", sizeof(Item), 16, 16},
        {"ModuleSymbol", sizeof(ModuleSymbol), 64, 64},
        {"ModuleSymbol.scope", offsetof(ModuleSymbol, scope), 59, 59},
        {"GlobalSymbol", sizeof(GlobalSymbol), 20, 40},
        {"GlobalSymbol.name", offsetof(GlobalSymbol, name), 8, 16},
        {"GlobalSymbol.hash", offsetof(GlobalSymbol, hash), 16, 32},
        {"Function", sizeof(Function), 12, 24},
        {"ObjectHeader", sizeof(ObjectHeader), 4, 8},
        {"ObjectBody", sizeof(ObjectBody), 20, 24},
        {"ObjectBody.data", offsetof(ObjectBody, data), 16, 16},
        // the Item's double is 8-aligned in the Windows ABI, 4-aligned on Linux i386
        {"Codeblock", sizeof(Codeblock), alignof(Item) == 8 ? 56u : 48u, 72},
        {"Codeblock.detachedLocals", offsetof(Codeblock, detachedLocals), alignof(Item) == 8 ? 32u : 28u, 48},
        {"FieldDescriptor", sizeof(FieldDescriptor), 20, 32},
        {"PrivateEntry", sizeof(PrivateEntry), 12, 16},
        {"FrameSlot", sizeof(FrameSlot), 16, 16},
        {"FrameSlot.symbolOrLocals", offsetof(FrameSlot, symbolOrLocals), 8, 8},
        {"FrameExtra", sizeof(FrameExtra), 12, 24},
        {"ErrorDescriptor", sizeof(ErrorDescriptor), 28, 48},
    };
    for (const Row& r : rows) EXPECT_EQ(r.got, XB_TARGET_64 ? r.x86_64 : r.i386) << r.what;
}

TEST(ImageForm, EntriesNameTheirModulesProcedures) {
    Function functions[3] = {};
    const ImageModule m{nullptr, nullptr, 0, functions, 3};
    for (uint32_t i = 0; i < 3; ++i) {
        ModuleSymbol e{};
        setImageFunction(&e, functions, i);
        EXPECT_EQ(imageFunction(m, &e), &functions[i]) << i;
    }
    const ModuleSymbol none{};
    EXPECT_EQ(imageFunction(m, &none), nullptr);
    // the generated tables' initialiser gives the same bytes as the setter
    const ModuleSymbol generated = {"P", SC_STATIC, XB_IMAGE_FUNCTION(functions, 2)};
    ModuleSymbol set{};
    set.name[0] = 'P';
    set.scope = SC_STATIC;
    setImageFunction(&set, functions, 2);
    EXPECT_EQ(bytesOf(&generated, 64), bytesOf(&set, 64));
#if XB_TARGET_64
    // a procedure number beyond the module's procedures names nothing
    ModuleSymbol beyond{};
    beyond.ref = 4;
    EXPECT_EQ(imageFunction(m, &beyond), nullptr);
    EXPECT_EQ(generated.ref, 3u);
#endif
}

class Layout : public VmTest {
protected:
    void loadEcho() {
        load(R"(
symbol MAIN proc
symbol ECHO proc
symbol DUPECHO proc
proc MAIN
    ENDPROC
end
proc ECHO
    FRAME 1 0
    PUSHLOCAL 1
    POPRET
    ENDPROC
end
proc DUPECHO
    FRAME 1 1
    PUSHLOCAL 1
    DUP
    POPLOCAL 2
    POP
    PUSHLOCAL 2
    POPRET
    ENDPROC
end
)");
    }
};

TEST_F(Layout, ItemsOfEveryTypeComeBackByteForByte) {
    loadEcho();
    Item receiver = array(2);
    setItemReceiver(&receiver, 1);
    setItemClassHandle(&receiver, 7);
    Item sym{};
    sym.type = T_SYMBOL;
    sym.v.o.ptr = findSymbol("ECHO");
    Item word = wordItem(0xFFFF);
    word.width = 5;
    Item longString = str(std::string(70000, 'x'));  // length beyond 16 bits
    struct Case {
        const char* what;
        Item it;
    };
    const Case cases[] = {
        {"NIL", nilItem()},
        {"Word", word},
        {"Integer", [] { Item i = intItem(-2147483647 - 1); i.width = 11; return i; }()},
        {"Double", doubleItem(-1234.5678, 12, 4)},
        {"Date", dateItem(2451545)},
        {"Logical", logicalItem(true)},
        {"Symbol", sym},
        {"String", str("plain bytes\x01\xFF")},
        {"long String", longString},
        {"Block", block()},
        {"Array", array(3)},
        {"receiver Array", receiver},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // the stack primitives
        Item* base = vm.top;
        push(&c.it);
        EXPECT_EQ(bytesOf(vm.top, 16), bytesOf(&c.it, 16));
        pop();
        EXPECT_EQ(vm.top, base);
        // a parameter read back and returned by pcode, and copied through a local
        Item echoed = call("ECHO", {c.it});
        EXPECT_EQ(bytesOf(&echoed, 16), bytesOf(&c.it, 16));
        Item copied = call("DUPECHO", {c.it});
        EXPECT_EQ(bytesOf(&copied, 16), bytesOf(&c.it, 16));
        EXPECT_EQ(lastStatus, 0);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(Layout, RegisteredEntriesNameTheirRecordInBytes60To63) {
    loadEcho();
    for (uint16_t n = 1; n <= 3; ++n) {
        const ModuleSymbol& e = modules[0].table[n];
        GlobalSymbol* s = findSymbol(e.name);
        ASSERT_NE(s, nullptr) << e.name;
        uint32_t raw;
        std::memcpy(&raw, reinterpret_cast<const uint8_t*>(&e) + 60, 4);
        EXPECT_EQ(raw, symbolRef(s)) << e.name;
        EXPECT_EQ(symbolFromRef(raw), s) << e.name;
        EXPECT_EQ(moduleGlobal(modules[0].table, n), s);
        EXPECT_EQ(s->function, &modules[0].functions[n - 1]);
#if !XB_TARGET_64
        EXPECT_EQ(raw, uint32_t(reinterpret_cast<uintptr_t>(s)));  // the address itself
#endif
    }
}

TEST_F(Layout, SymbolNumbersResolveAfterManyThousandsOfSymbols) {
    loadEcho();
    constexpr int N = 20000;  // far beyond the first pool block of 128
    const int32_t before = memInUse();
    std::vector<GlobalSymbol*> made;
    for (int i = 0; i < N; ++i) made.push_back(findOrCreateSymbol(("LAYOUT" + std::to_string(i)).c_str()));
    const int32_t grown = memInUse() - before;
    // each symbol is one record and one 64-byte name slot, on the tracked heap
    EXPECT_GE(grown, int32_t(N * (sizeof(GlobalSymbol) + sizeof(ModuleSymbol))));
    for (int i = 0; i < N; ++i) {
        GlobalSymbol* s = made[size_t(i)];
        ASSERT_EQ(symbolFromRef(symbolRef(s)), s) << i;
        ASSERT_EQ(std::string(symbolName(s)), "LAYOUT" + std::to_string(i));
        ASSERT_EQ(entryGlobal(s->name), s) << i;  // the name slot's bytes 60..63
    }
#if XB_TARGET_64
    // numbers outside the pool name nothing
    EXPECT_EQ(symbolFromRef(0), nullptr);
    EXPECT_EQ(symbolFromRef(symbolRecords.count + 1), nullptr);
    EXPECT_EQ(symbolFromRef(0xFFFFFFFFu), nullptr);
#endif

    // X operands bound to the last symbols made still reach them from pcode
    pcasm::AsmModule late = pcasm::assembleOrDie(R"(
symbol LATE proc
proc LATE
    FRAME 0 1
    PUSHSYMX layout19999
    POPLOCAL 1
    PUSHSYMNILX echo
    PUSHLOCAL 1
    FUNC 1
    POPRET
    ENDPROC
end
)");
    pcasm::bindModule(&late);
    GlobalSymbol* entry = findOrCreateSymbol("LATE");
    entry->function = &late.functions[0];
    Item r = call("LATE");
    EXPECT_EQ(lastStatus, 0);
    ASSERT_EQ(r.type, T_SYMBOL);
    EXPECT_EQ(symbolOf(&r), made.back());
    pcasm::freeModule(&late);

    // the pools go back to the tracked heap at shutdown
    const int32_t full = memInUse();
    freeSymbols();
    EXPECT_GE(full - memInUse(), grown);
}

}  // namespace
