// Procedures go into the module builder as each is finished: their order,
// the table entries whose scope is learnt after first use, the procedures
// that wait for the statics' entry, and faults named at their source line
// whichever way the procedure went.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/compile_fixture.h"
#include "vm/opcodes.h"

using namespace xb;

namespace {

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

struct OrderCase {
    const char* source;
    const char* procs;  // the module's procedures in order, blank-separated
};

const OrderCase kOrders[] = {
    {"PROCEDURE A\n? 1\nPROCEDURE B\n? 2\n", "A B"},
    // Statics in the second procedure: it and every later one wait.
    {"PROCEDURE A\n? 1\nPROCEDURE B\nSTATIC s := 2\n? s\nPROCEDURE C\n? 3\nFUNCTION D\nRETURN 4\n",
     "A B C D STATICS$"},
    // A file static: the first procedure already waits.
    {"STATIC g := 1\nPROCEDURE A\n? g\nPROCEDURE B\n? 2\n", "A B STATICS$"},
    // Statics only in the last procedure.
    {"PROCEDURE A\n? 1\nPROCEDURE B\n? 2\nPROCEDURE C\nSTATIC s\ns := 3\n", "A B C STATICS$"},
    // Statements before the first procedure form one named after the file.
    {"? 1\nPROCEDURE B\nSTATIC s := 2\n? s\n", "T B STATICS$"},
};

TEST(CompilerBuild, ProceduresKeepTheirOrder) {
    for (const OrderCase& c : kOrders) {
        test::Compiled r("t.prg", c.source);
        ASSERT_TRUE(r.ok) << c.source << r.errors;
        const pcasm::AsmModule& m = r.program.modules[0];
        std::string names;
        uint32_t next = 0;
        for (uint32_t i = 0; i < m.procCount; ++i) {
            names += (i ? " " : "") + std::string(m.procs[i].name);
            EXPECT_EQ(m.procs[i].offset, next) << c.source;  // laid out one after another
            next += m.procs[i].length;
            // Every procedure that selects statics names the table's last entry.
            const uint8_t* code = m.code + m.procs[i].offset;
            for (uint32_t at = 0; at + 2 < m.procs[i].length && at < 8; ++at)
                if (code[at] == OP_STATICSBASE && at == 3) EXPECT_EQ(u16(code + at + 1), m.count - 1) << c.source;
        }
        EXPECT_EQ(next, m.codeLength);
        EXPECT_EQ(names, c.procs) << c.source;
        if (std::string(c.procs).find("STATICS$") != std::string::npos) {
            EXPECT_STREQ(m.pristine[m.count - 1].name, "STATICS$");
        }
    }
}

// A name called before its definition enters the table as a plain name; the
// definition makes it a (static) procedure, and the table says so.
TEST(CompilerBuild, AScopeLearntLaterReachesTheTable) {
    test::Compiled r("t.prg",
                     "PROCEDURE Main\nLater()\nRETURN\n"
                     "STATIC FUNCTION Later\nRETURN 1\n"
                     "INIT PROCEDURE First\nRETURN\n");
    ASSERT_TRUE(r.ok) << r.errors;
    const pcasm::AsmModule& m = r.program.modules[0];
    ASSERT_EQ(m.count, 4u);
    EXPECT_STREQ(m.pristine[1].name, "MAIN");
    EXPECT_STREQ(m.pristine[2].name, "LATER");
    EXPECT_EQ(m.pristine[2].scope, 1);
    EXPECT_STREQ(m.pristine[3].name, "FIRST$");
    EXPECT_EQ(m.pristine[3].scope, 2);
    EXPECT_NE(pcasm::findProc(m, "LATER"), nullptr);
    EXPECT_NE(pcasm::findProc(m, "FIRST$"), nullptr);
}

// A jump too far is named at the line of the statement that made it, in a
// procedure built at once and in one that waited for the statics.
TEST(CompilerBuild, FaultsNameTheirSourceLine) {
    std::string body;
    for (int i = 0; i < 150; ++i) body += "F(\"" + std::string(250, 'y') + "\")\n";
    struct Case {
        std::string source;
        const char* where;
    } cases[] = {
        {"PROCEDURE A\n? 1\nPROCEDURE P\nIF .T.\n" + body + "ENDIF\n", "t.prg:4:1: error: cannot generate code: "},
        {"STATIC s\nPROCEDURE A\n? s\nPROCEDURE P\n? 1\nIF .T.\n" + body + "ENDIF\n",
         "t.prg:6:1: error: cannot generate code: "},
    };
    for (const Case& c : cases) {
        test::Compiled bad("t.prg", c.source);
        EXPECT_FALSE(bad.ok);
        EXPECT_TRUE(bad.program.modules.empty());
        EXPECT_EQ(bad.errors.rfind(c.where, 0), 0u) << bad.errors;
        EXPECT_EQ(bad.errors.find('\n'), bad.errors.size() - 1) << "one error: " << bad.errors;
    }
}

// A file with a compile error reports only that, even where a procedure
// the builder already took was sound.
TEST(CompilerBuild, CompileErrorsComeAlone) {
    test::Compiled bad("t.prg", "PROCEDURE A\n? 1\nPROCEDURE B\nx := (1 +\n");
    EXPECT_FALSE(bad.ok);
    EXPECT_TRUE(bad.program.modules.empty());
    EXPECT_EQ(bad.errors.find("cannot generate code"), std::string::npos) << bad.errors;
    EXPECT_EQ(bad.errors.rfind("t.prg:4:", 0), 0u) << bad.errors;
}

}  // namespace
