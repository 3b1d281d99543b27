// The program corpus (tests/programs): every NAME.prg is compiled and run in
// a child process through the in-process harness. NAME.out is its expected
// standard output; NAME.err, when present, its expected compile errors (the
// program must not compile); NAME.log its expected error output (Error.txt)
// and NAME.exit its exit code (0 when absent). A program made of several
// files names the others on its first line ("// with: a.prg b.prg"); those
// files start with "// part of" and are not run on their own.
#ifndef _WIN32
#include "tests/support/prg_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;

bool readFile(const fs::path& p, std::string* text) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *text = s.str();
    return true;
}

std::vector<std::string> programNames() {
    std::vector<std::string> names;
    fs::path dir = fs::path(XB_SOURCE_DIR) / "tests" / "programs";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        if (e.path().extension() != ".prg") continue;
        std::string text;
        readFile(e.path(), &text);
        if (text.rfind("// part of", 0) == 0) continue;
        names.push_back(e.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ProgramCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(ProgramCorpus, RunsAsExpected) {
    const std::string name = GetParam();
    fs::path dir = fs::path(XB_SOURCE_DIR) / "tests" / "programs";
    std::string main;
    ASSERT_TRUE(readFile(dir / (name + ".prg"), &main));
    std::vector<std::pair<std::string, std::string>> files{{name + ".prg", main}};
    if (main.rfind("// with:", 0) == 0) {
        std::istringstream words(main.substr(8, main.find('\n') - 8));
        std::string f;
        while (words >> f) {
            std::string text;
            ASSERT_TRUE(readFile(dir / f, &text)) << f;
            files.push_back({f, text});
        }
    }
    xb::test::PrgResult r = xb::test::runProgram(files);
    if (std::getenv("XB_PROGRAMS_RECORD")) {  // writes the expected files of a new program (then read them!)
        if (!r.compiled) {
            std::ofstream(dir / (name + ".err"), std::ios::binary) << r.diagnostics;
        } else {
            std::ofstream(dir / (name + ".out"), std::ios::binary) << r.out;
            if (r.log != "<missing>") std::ofstream(dir / (name + ".log"), std::ios::binary) << r.log;
            if (r.exitCode) std::ofstream(dir / (name + ".exit"), std::ios::binary) << r.exitCode;
        }
    }
    std::string expected;
    if (readFile(dir / (name + ".err"), &expected)) {
        EXPECT_FALSE(r.compiled);
        EXPECT_EQ(r.diagnostics, expected);
        return;
    }
    ASSERT_TRUE(r.compiled) << r.diagnostics;
    ASSERT_TRUE(readFile(dir / (name + ".out"), &expected)) << name << ".out is missing; the output was:\n" << r.out;
    EXPECT_EQ(r.out, expected) << "standard error:\n" << r.err;
    std::string log;
    if (readFile(dir / (name + ".log"), &log)) {
        EXPECT_EQ(r.log, log);
    }
    std::string code = "0";
    readFile(dir / (name + ".exit"), &code);
    EXPECT_EQ(r.exitCode, std::stoi(code)) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramCorpus, ::testing::ValuesIn(programNames()),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });

}  // namespace
#endif
