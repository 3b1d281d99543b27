// The seven compiled modules written as source: compiled together as one
// program, each module's symbol table (names, scopes, which entries the
// module defines) and every procedure's pcode are exactly what the
// assembler makes from the module's assembler text.
#include "tests/support/compile_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tools/asm/assembler.h"
#include "tools/asm/disassembler.h"

namespace {

using namespace xb;

const char* const kModules[] = {"app_main", "std_clipinit", "std_errorsys", "std_rddsys",
                                "std_dbfntx", "std_ntxerr", "std_dbfonly"};

std::string listing(const pcasm::AsmModule& m, const pcasm::AsmProc& p) {
    return pcasm::disassemble(m.code + p.offset, p.length, m.pristine, m.count);
}

TEST(CompilerGolden, StandardModulesCompileToTheirAssembledBytes) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const char* name : kModules) {
        std::string text = test::readSourceFile(std::string("modules/") + name + ".prg");
        ASSERT_FALSE(text.empty()) << name;
        files.push_back({std::string(name) + ".prg", text});
    }
    test::Compiled c(files);
    ASSERT_TRUE(c.ok) << c.errors;
    ASSERT_EQ(c.program.modules.size(), std::size(kModules));

    for (size_t i = 0; i < std::size(kModules); ++i) {
        SCOPED_TRACE(kModules[i]);
        std::string text = test::readSourceFile(std::string("modules/") + kModules[i] + ".xbasm");
        pcasm::AsmModule ref{};
        pcasm::AsmError err{};
        ASSERT_TRUE(pcasm::assemble(text.data(), text.size(), &ref, &err)) << err.message;
        const pcasm::AsmModule& got = c.program.modules[i];

        EXPECT_STREQ(got.name, ref.name);  // a module is named after its file
        ASSERT_EQ(got.count, ref.count);
        for (uint32_t n = 1; n < ref.count; ++n) {
            EXPECT_STREQ(got.pristine[n].name, ref.pristine[n].name) << "entry " << n;
            EXPECT_EQ(got.pristine[n].scope, ref.pristine[n].scope) << ref.pristine[n].name;
            EXPECT_EQ(pcasm::findProc(got, ref.pristine[n].name) != nullptr,
                      pcasm::findProc(ref, ref.pristine[n].name) != nullptr)
                << ref.pristine[n].name;
        }
        ASSERT_EQ(got.procCount, ref.procCount);
        for (uint32_t p = 0; p < ref.procCount; ++p) {
            const pcasm::AsmProc& want = ref.procs[p];
            const pcasm::AsmProc* have = pcasm::findProc(got, want.name);
            ASSERT_NE(have, nullptr) << want.name;
            EXPECT_EQ(have->symbol, want.symbol) << want.name;
            bool same = have->length == want.length &&
                        std::memcmp(got.code + have->offset, ref.code + want.offset, want.length) == 0;
            EXPECT_TRUE(same) << want.name << "\n--- compiled:\n"
                              << listing(got, *have) << "--- assembled:\n"
                              << listing(ref, want);
        }
        pcasm::freeModule(&ref);
    }
}

}  // namespace
