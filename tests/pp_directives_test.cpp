// Directives (#define, #undef, #ifdef/#ifndef/#else/#endif, #include,
// #error) and the source layer under them: comments, ';' continuation,
// UTF-8 input, error limits.
#include <gtest/gtest.h>

#include "pp/source.h"
#include "tests/support/pp_fixture.h"

using xb::pptest::runPp;

TEST(PpDefine, ObjectAndFunctionForms) {
    auto r = runPp("#define LIMIT 10\n"
                   "#define EMPTY\n"
                   "#define MAX(a, b) iif(a > b, a, b)\n"
                   "x := LIMIT + EMPTY 1\n"
                   "y := MAX(x, LIMIT * 2)\n"
                   "z := MAX\n"
                   "w := limit\n"
                   "o:LIMIT := c->LIMIT\n");
    EXPECT_TRUE(r.ok) << r.errors();
    EXPECT_EQ(r.text(), "x := 10 + 1\n"
                        "y := iif(x > 10 * 2, x, 10 * 2)\n"
                        "z := MAX\n"
                        "w := limit\n"
                        "o:LIMIT := c->LIMIT");
}

TEST(PpDefine, UndefAndOptionDefines) {
    xb::pp::Options o;
    o.standardHeader = false;
    o.defines = {{"DEBUG", "1"}, {"NAME", "\"app\""}};
    std::vector<xb::pp::Line> out;
    std::vector<xb::pp::Diagnostic> diags;
    EXPECT_TRUE(xb::pp::preprocess("? NAME, DEBUG\n#undef DEBUG\n? DEBUG\n#ifdef NAME\n? 1\n#endif\n", "t.prg", o, &out,
                                   &diags));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].text, "? \"app\", 1");
    EXPECT_EQ(out[1].text, "? DEBUG");
    EXPECT_EQ(out[2].text, "? 1");
}

TEST(PpDefine, Errors) {
    auto r = runPp("#define\n#define 1x\n#define F(a, \n#define G(a b) a\n#undef\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errors(), "test.prg:1: error: #define without a name\n"
                          "test.prg:2: error: #define without a name\n"
                          "test.prg:3: error: #define F( without its ')'\n"
                          "test.prg:4: error: #define G: parameters must be names separated by commas\n"
                          "test.prg:5: error: #undef without a name");
}

TEST(PpConditional, NestedSections) {
    auto r = runPp("#define A\n"
                   "#ifdef A\n"
                   " x := 1\n"
                   " #ifdef B\n"
                   "  x := 2\n"
                   "  #ifdef A\n"
                   "   x := 3\n"
                   "  #else\n"
                   "   x := 4\n"
                   "  #endif\n"
                   " #else\n"
                   "  x := 5\n"
                   "  #ifndef B\n"
                   "   x := 6\n"
                   "  #endif\n"
                   " #endif\n"
                   "#else\n"
                   " x := 7\n"
                   " #error not read\n"
                   " #unknown not read either\n"
                   "#endif\n"
                   "#ifndef A\n"
                   " #define C\n"
                   "#endif\n"
                   "#ifdef C\n"
                   " x := 8\n"
                   "#endif\n");
    EXPECT_TRUE(r.ok) << r.errors();
    EXPECT_EQ(r.text(), " x := 1\n  x := 5\n   x := 6");
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[1].line, 12);
}

TEST(PpConditional, UnbalancedSectionsAreErrors) {
    auto r = runPp("#else\n#endif\n#ifdef A\n#else\n#else\n#ifndef\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errors(), "test.prg:1: error: #else without #ifdef\n"
                          "test.prg:2: error: #endif without #ifdef\n"
                          "test.prg:5: error: #else after #else\n"
                          "test.prg:6: error: #ifndef without a name\n"
                          "test.prg:3: error: #ifdef or #ifndef without its #endif\n"
                          "test.prg:6: error: #ifdef or #ifndef without its #endif");
}

TEST(PpDirective, ErrorAndUnknown) {
    auto r = runPp("x := 1\n#error Wrong version: \"3\"\n#error\n#pragma once\n# \n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errors(), "test.prg:2: error: Wrong version: \"3\"\n"
                          "test.prg:3: error: #error\n"
                          "test.prg:4: error: unknown directive #pragma");
    EXPECT_EQ(r.text(), "x := 1");
}

TEST(PpDirective, ErrorsStopAtTheLimitPerFile) {
    std::string src;
    for (int i = 0; i < 30; ++i) src += "#error e\n";
    auto r = runPp(src);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.diags.size(), size_t(xb::pp::MAX_ERRORS_PER_FILE));
}

namespace {

xb::pptest::PpRun runIn(const std::string& file, const std::string& src, const std::map<std::string, std::string>& files,
                        const std::vector<std::string>& dirs) {
    xb::pp::Options o;
    o.standardHeader = false;
    o.includeDirs = dirs;
    o.readFile = [files](const std::string& p, std::string* c) {
        auto it = files.find(p);
        if (it == files.end()) return false;
        *c = it->second;
        return true;
    };
    xb::pptest::PpRun r;
    r.ok = xb::pp::preprocess(src, file, o, &r.lines, &r.diags);
    return r;
}

}  // namespace

TEST(PpInclude, IncludingFolderFirstThenIncludeFoldersInOrder) {
    std::map<std::string, std::string> files = {
        {"src/a.ch", "#define WHERE \"src\"\n"},
        {"inc1/a.ch", "#define WHERE \"inc1\"\n"},
        {"inc1/b.ch", "#define B \"inc1\"\n"},
        {"inc2/b.ch", "#define B \"inc2\"\n"},
        {"inc2/c.ch", "#define C \"inc2\"\n"},
    };
    auto r = runIn("src/main.prg", "#include \"a.ch\"\n#include \"b.ch\"\n#include 'c.ch'\n? WHERE, B, C\n", files,
                   {"inc1", "inc2/"});
    EXPECT_TRUE(r.ok) << r.errors();
    EXPECT_EQ(r.text(), "? \"src\", \"inc1\", \"inc2\"");
}

TEST(PpInclude, LinesKeepTheirFileAndNestedIncludesSearchFromTheirOwnFolder) {
    std::map<std::string, std::string> files = {
        {"lib/outer.ch", "\nx := 1\n#include \"inner.ch\"\n"},
        {"lib/inner.ch", "y := 2\n#command HELLO => QOUT(\"hi\")\n"},
    };
    auto r = runIn("main.prg", "#include <lib/outer.ch>\nHELLO\n", files, {});
    EXPECT_TRUE(r.ok) << r.errors();
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0].file, "lib/outer.ch");
    EXPECT_EQ(r.lines[0].line, 2);
    EXPECT_EQ(r.lines[1].file, "lib/inner.ch");
    EXPECT_EQ(r.lines[1].line, 1);
    EXPECT_EQ(r.lines[2].file, "main.prg");
    EXPECT_EQ(r.lines[2].text, "QOUT(\"hi\")");
}

TEST(PpInclude, ErrorsNameTheFileAndLine) {
    std::map<std::string, std::string> files = {
        {"bad.ch", "x := 1\n#error inside\n"},
        {"self.ch", "#include \"self.ch\"\n"},
    };
    auto r = runIn("m.prg", "#include \"missing.ch\"\n#include \"bad.ch\"\n#include\n#include \"\"\n", files, {"i"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errors(), "m.prg:1: error: cannot open #include file \"missing.ch\"\n"
                          "bad.ch:2: error: inside\n"
                          "m.prg:3: error: #include needs a file name in quotes\n"
                          "m.prg:4: error: #include needs a file name in quotes");
    auto s = runIn("m.prg", "#include \"self.ch\"\n", files, {});
    EXPECT_FALSE(s.ok);
    ASSERT_FALSE(s.diags.empty());
    EXPECT_EQ(s.diags[0].file, "self.ch");
    EXPECT_NE(s.diags[0].message.find("nested too deeply"), std::string::npos);
}

TEST(PpInclude, WithoutAFileReaderEveryIncludeFails) {
    xb::pp::Options o;
    o.standardHeader = false;
    std::vector<xb::pp::Line> out;
    std::vector<xb::pp::Diagnostic> diags;
    EXPECT_FALSE(xb::pp::preprocess("#include \"x.ch\"\n", "m.prg", o, &out, &diags));
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags[0].message, "cannot open #include file \"x.ch\"");
}

TEST(PpSource, CommentsBecomeBlanksAndColumnsStay) {
    auto r = runPp("x := 1 // note\n"
                   "y := \"a // b\" && and\n"
                   "* a whole line\n"
                   "  NOTE another\n"
                   "z := 3 /* one */ + 4\n"
                   "w := 5 /* two\n"
                   "  lines */ + 6\n"
                   "notes := 7\n"
                   "v := 2 * 3\n");
    EXPECT_TRUE(r.ok) << r.errors();
    ASSERT_EQ(r.lines.size(), 7u);
    EXPECT_EQ(r.lines[0].text, "x := 1        ");
    EXPECT_EQ(r.lines[1].text, "y := \"a // b\"       ");
    EXPECT_EQ(r.lines[2].text, "z := 3           + 4");
    EXPECT_EQ(r.lines[3].text, "w := 5       ");
    EXPECT_EQ(r.lines[3].line, 6);
    EXPECT_EQ(r.lines[4].text, "           + 6");
    EXPECT_EQ(r.lines[4].line, 7);
    EXPECT_EQ(r.lines[5].line, 8);
    EXPECT_EQ(r.lines[6].text, "v := 2 * 3");
}

TEST(PpSource, SemicolonAtTheEndJoinsLines) {
    auto r = runPp("x := 1 + ;\n     2 + ; // more\n     3\ny := \"a;\"\n");
    EXPECT_TRUE(r.ok) << r.errors();
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0].line, 1);
    EXPECT_EQ(r.lines[0].text, "x := 1 +       2 +               3");
    EXPECT_EQ(r.lines[1].line, 4);
}

TEST(PpSource, ARuleOverSeveralLines) {
    auto r = runPp("#command SHOW <x> ;\n   => QOUT(<x>) ;\n    ; QOUT(<x>)\n\nSHOW 1 + ;\n 2\n");
    EXPECT_TRUE(r.ok) << r.errors();
    EXPECT_EQ(r.text(), "QOUT(1 + 2) ; QOUT(1 + 2)");
    EXPECT_EQ(r.lines[0].line, 5);
}

TEST(PpSource, Utf8BecomesWindows1252) {
    EXPECT_EQ(xb::pp::toWindows1252("caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xE4\xB8\xAD"),
              "caf\xE9 \x80 \x93q\x94 ?");
    // Not UTF-8: already single-byte text.
    EXPECT_EQ(xb::pp::toWindows1252("caf\xE9 \x80"), "caf\xE9 \x80");
    EXPECT_EQ(xb::pp::toWindows1252("\xEF\xBB\xBFx := 1"), "x := 1");
    EXPECT_EQ(xb::pp::toWindows1252("\xC0\x80"), "\xC0\x80");  // overlong: not UTF-8
    auto r = runPp("x := \"\xC3\xB1\"\n");
    EXPECT_EQ(r.text(), "x := \"\xF1\"");
}

TEST(PpSource, CarriageReturnsAndEndOfFileMark) {
    auto lines = xb::pp::logicalLines("a\r\nb;\r\nc\r\n\x1A");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "a");
    EXPECT_EQ(lines[1].text, "b c");
    EXPECT_EQ(lines[1].line, 2);
}
