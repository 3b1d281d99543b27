// The global symbol table: hashing, registration order and overriding,
// statics, look-up forms, the alias letters and pool addresses.
#include "tests/support/vm_fixture.h"

#include <string>
#include <vector>

using namespace xb;
using xb::test::VmTest;

namespace {

class Symbols : public VmTest {};

TEST(SymbolCrc, KnownValues) {
    EXPECT_EQ(symbolCrc("abc"), 0xCADBBE3Du);
    EXPECT_EQ(symbolCrc(""), 0xFFFFFFFFu);
    // the complement of the ordinary CRC-32 of "123456789" (0xCBF43926)
    EXPECT_EQ(symbolCrc("123456789"), ~0xCBF43926u);
}

TEST_F(Symbols, DefinitionWinsWhicheverModuleComesFirst) {
    load({R"(
symbol MAIN proc
symbol SHARED
proc MAIN
    ENDPROC
end
)",
          R"(
symbol SHARED proc
proc SHARED
    PUSHINT 2
    POPRET
    ENDPROC
end
)",
          R"(
symbol USER proc
symbol SHARED
proc USER
    ENDPROC
end
)"});
    GlobalSymbol* s = findSymbol("SHARED");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->function, modules[1].functions + 0);
    // every module's entry points at the one record
    EXPECT_EQ(moduleGlobal(modules[0].table, 2), s);
    EXPECT_EQ(moduleGlobal(modules[1].table, 1), s);
    EXPECT_EQ(moduleGlobal(modules[2].table, 2), s);
    EXPECT_EQ(call("SHARED").v.l, 2);
}

TEST_F(Symbols, StaticFunctionsStayDistinctAndInvisible) {
    load({R"(
symbol MAIN proc
symbol HELPER static proc
proc MAIN
    ENDPROC
end
proc HELPER
    ONE
    POPRET
    ENDPROC
end
)",
          R"(
symbol HELPER static proc
proc HELPER
    ZERO
    POPRET
    ENDPROC
end
)"});
    EXPECT_EQ(findSymbol("HELPER"), nullptr);
    GlobalSymbol* a = moduleGlobal(modules[0].table, 2);
    GlobalSymbol* b = moduleGlobal(modules[1].table, 1);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->function, modules[0].functions + 1);
    EXPECT_EQ(b->function, modules[1].functions + 0);
}

TEST_F(Symbols, InitAndExitListsInRegistrationOrder) {
    load({R"(
symbol MAIN proc
symbol FIRST$ init proc
symbol BYE exit proc
proc MAIN
    ENDPROC
end
proc FIRST$
    ENDPROC
end
proc BYE
    ENDPROC
end
)",
          R"(
symbol SECOND$ init proc
proc SECOND$
    ENDPROC
end
)"});
    ASSERT_EQ(initProcedures().count, 2u);
    EXPECT_STREQ(symbolName(initProcedures().items[0]), "FIRST$");
    EXPECT_STREQ(symbolName(initProcedures().items[1]), "SECOND$");
    ASSERT_EQ(exitProcedures().count, 1u);
    EXPECT_STREQ(symbolName(exitProcedures().items[0]), "BYE");
    EXPECT_STREQ(firstModuleSymbol()->name, "MAIN");
}

TEST_F(Symbols, LookupFormsUpperCaseAndTrim) {
    load("symbol MAIN proc\nsymbol ERRORBLOCK\nproc MAIN\n ENDPROC\nend\n");
    GlobalSymbol* eb = findSymbol("ERRORBLOCK");
    ASSERT_NE(eb, nullptr);
    EXPECT_EQ(findSymbol("errorblock"), eb);
    EXPECT_EQ(findSymbol(" errorblock"), nullptr);
    EXPECT_EQ(findSymbolTrimmed("  errorBlock  "), eb);
    GlobalSymbol* abc = findOrCreateSymbol("  Abc def");
    EXPECT_STREQ(symbolName(abc), "ABC");
    EXPECT_EQ(findSymbol("abc"), abc);
    EXPECT_EQ(findOrCreateSymbol("\t\nabc"), abc);
    // names are cut to 58 characters
    std::string longName(70, 'Q');
    GlobalSymbol* q = findOrCreateSymbol(longName.c_str());
    EXPECT_EQ(std::string(symbolName(q)), std::string(58, 'Q'));
    EXPECT_EQ(findSymbol((longName + "ZZ").c_str()), q);
    // upper-casing covers the national letters
    GlobalSymbol* n = findOrCreateSymbol("a\xF1o");
    EXPECT_STREQ(symbolName(n), "A\xD1O");
}

TEST_F(Symbols, AliasLetters) {
    load("symbol MAIN proc\nproc MAIN\n ENDPROC\nend\n");
    EXPECT_EQ(findSymbol("A")->aliasArea, 1);
    EXPECT_EQ(findSymbol("K")->aliasArea, 11);
    EXPECT_EQ(findSymbol("M")->aliasArea, 0xFFFF);
    GlobalSymbol* l = findSymbol("L");
    EXPECT_TRUE(l == nullptr || l->aliasArea == 0);
}

TEST_F(Symbols, UsingANameNeverClearsItsFunction) {
    load({R"(
symbol MAIN proc
proc MAIN
    ENDPROC
end
)",
          "symbol MAIN\n"});
    EXPECT_EQ(findSymbol("MAIN")->function, modules[0].functions + 0);
}

TEST_F(Symbols, PoolsKeepAddressesAndIndexStaysSorted) {
    load("symbol MAIN proc\nproc MAIN\n ENDPROC\nend\n");
    std::vector<GlobalSymbol*> made;
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) {
        names.push_back("N" + std::to_string((i * 7919) % 1000));
        made.push_back(findOrCreateSymbol(names.back().c_str()));
    }
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(findSymbol(names[i].c_str()), made[i]);
        EXPECT_EQ(names[i], symbolName(made[i]));
        EXPECT_EQ(made[i]->hash, symbolCrc(names[i].c_str()));
    }
}

}  // namespace
