// Calls into a library built from this runtime (the sample library of the
// build, cmake/extlib.cmake): pcode loads it, resolves its procedures and
// calls them with arguments of every kind that crosses; every number that is
// no loaded library or resolved symbol is refused; a library without all
// five entries is never called; an error inside the library ends only that
// call. The export-name mapping is checked as text.
#include "tests/support/program_run.h"
#include "tests/support/vm_fixture.h"

#include <cstdio>
#include <fstream>

#include "image/extcall.h"
#include "image/item_import.h"
#include "platform/export_name.h"

using namespace xb;

namespace {

TEST(ExportNames, StdcallNamesMapToPlainNames) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"_DllGetSymbol@4", "DllGetSymbol"}, {"_DllGetEval@0", "DllGetEval"}, {"_DllDo@4", "DllDo"},
        {"Plain", "Plain"},                  {"_x@", "x@"},                   {"a@1b", "a@1b"},
        {"_Name@123", "Name"},               {"__lead@8", "_lead"},           {"@4", ""},
    };
    for (const Case& c : cases) {
        char out[32];
        ASSERT_TRUE(os::plainExportName(c.in, out, sizeof out)) << c.in;
        EXPECT_STREQ(out, c.out) << c.in;
    }
    char small[6];
    EXPECT_FALSE(os::plainExportName("_DllGetSymbol@4", small, sizeof small));  // does not fit
    EXPECT_TRUE(os::plainExportName("_DllDo@4", small, sizeof small));          // exactly fits
    EXPECT_FALSE(os::plainExportName(nullptr, small, sizeof small));
}

#if defined(XB_EXTLIB_PATH) && defined(XB_PARTLIB_PATH)

// The host's side in pcode: thin wrappers so that every call goes through
// the registered functions and their parameter checks.
const char* const HOST = R"(symbol LOAD proc
symbol FREE proc
symbol RESOLVE proc
symbol RESOLVE1 proc
symbol CALL proc
symbol CALL1 proc
symbol LIBLOAD
symbol LIBFREE
symbol LIBSYMBOL
symbol LIBCALL
proc LOAD
    FRAME 1 0
    PUSHSYMNIL LIBLOAD
    PUSHLOCAL 1
    FUNC 1
    POPRET
    ENDPROC
end
proc FREE
    FRAME 1 0
    PUSHSYMNIL LIBFREE
    PUSHLOCAL 1
    FUNC 1
    POPRET
    ENDPROC
end
proc RESOLVE
    FRAME 2 0
    PUSHSYMNIL LIBSYMBOL
    PUSHLOCAL 1
    PUSHLOCAL 2
    FUNC 2
    POPRET
    ENDPROC
end
proc RESOLVE1
    FRAME 1 0
    PUSHSYMNIL LIBSYMBOL
    PUSHLOCAL 1
    FUNC 1
    POPRET
    ENDPROC
end
proc CALL
    FRAME 6 0
    PUSHSYMNIL LIBCALL
    PUSHLOCAL 1
    PUSHLOCAL 2
    PUSHLOCAL 3
    PUSHLOCAL 4
    PUSHLOCAL 5
    PUSHLOCAL 6
    FUNC 6
    POPRET
    ENDPROC
end
proc CALL1
    FRAME 1 0
    PUSHSYMNIL LIBCALL
    PUSHLOCAL 1
    FUNC 1
    POPRET
    ENDPROC
end
)";

class LibraryCallTest : public test::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        load(HOST);
    }
    void TearDown() override {
        freeAllLibraries();
        VmTest::TearDown();
    }
    uint32_t number(const Item& r) {
        EXPECT_TRUE(r.type == T_INTEGER) << r.type;
        return uint32_t(r.v.l);
    }
    uint32_t loadLib(const char* path) { return number(call("LOAD", {str(path)})); }
    uint32_t resolve(uint32_t h, const char* name) { return number(call("RESOLVE", {intItem(int32_t(h)), str(name)})); }
    // LIBCALL(h, s, a, b, c, d): the four arguments beyond those given are NIL,
    // so the library procedure always sees six parameters' worth minus two.
    Item callLib(uint32_t h, uint32_t s, std::initializer_list<Item> args = {}) {
        std::vector<Item> all = {intItem(int32_t(h)), intItem(int32_t(s))};
        all.insert(all.end(), args.begin(), args.end());
        GlobalSymbol* libcall = findSymbol("LIBCALL");
        pushSymbol(libcall);
        pushNil();
        for (const Item& a : all) push(&a);
        lastStatus = callProc(uint16_t(all.size()));
        return *returnItem();
    }
};

TEST_F(LibraryCallTest, ProceduresAreCalledWithNoneAndWithSeveralArguments) {
    uint32_t h = loadLib(XB_EXTLIB_PATH);
    ASSERT_NE(h, 0u);
    uint32_t greeting = resolve(h, "GREETING");
    uint32_t pack = resolve(h, "PACK");
    ASSERT_NE(greeting, 0u);
    ASSERT_NE(pack, 0u);
    EXPECT_NE(greeting, pack);
    EXPECT_EQ(resolve(h, "GREETING"), greeting);  // the same symbol again

    Item r = callLib(h, greeting);
    EXPECT_EQ(text(r), "Hola desde la biblioteca");

    // numbers, a text with a NUL and a byte above 127, a date, a nested array
    Item inner = array(2);
    arrayItems(&inner)[0] = str("uno");
    arrayItems(&inner)[1] = doubleItem(2.5, 10, 1);
    Item outer = array(2);
    arrayItems(&outer)[0] = inner;
    arrayItems(&outer)[1] = logicalItem(true);
    std::string odd("a\0b\xF3", 4);
    r = callLib(h, pack, {intItem(-7), str(odd), dateItem(2451545), outer});
    ASSERT_TRUE(isArray(&r));
    ASSERT_EQ(arrayLength(&r), 5u);
    Item* e = arrayItems(&r);
    expectInt(e[0], 4, e[0].width);  // PCOUNT()
    EXPECT_EQ(e[1].type, T_INTEGER);
    EXPECT_EQ(e[1].v.l, -7);
    EXPECT_EQ(text(e[2]), odd);
    EXPECT_EQ(e[3].type, T_DATE);
    EXPECT_EQ(e[3].v.l, 2451545);
    ASSERT_TRUE(isArray(&e[4]));
    ASSERT_EQ(arrayLength(&e[4]), 2u);
    EXPECT_NE(bodyOf(&e[4]), bodyOf(&outer));  // a copy came back, not our array
    Item* o = arrayItems(&e[4]);
    ASSERT_TRUE(isArray(&o[0]));
    EXPECT_EQ(text(arrayItems(&o[0])[0]), "uno");
    expectDouble(arrayItems(&o[0])[1], 2.5, 10, 1);
    expectLogical(o[1], true);
    // with fewer arguments the procedure sees fewer
    r = callLib(h, pack, {str("solo")});
    ASSERT_TRUE(isArray(&r));
    expectInt(arrayItems(&r)[0], 1, arrayItems(&r)[0].width);
    EXPECT_EQ(text(arrayItems(&r)[1]), "solo");
    EXPECT_EQ(arrayItems(&r)[2].type, T_NIL);
}

TEST_F(LibraryCallTest, ReturnedValuesOutliveTheLibrarysCollection) {
    uint32_t h = loadLib(XB_EXTLIB_PATH);
    uint32_t pack = resolve(h, "PACK"), collects = resolve(h, "COLLECTS"), nested = resolve(h, "NESTED");
    Item* kept = tempAlloc();
    *kept = callLib(h, pack, {str("guardado"), str(std::string(300, 'x'))});
    Item* twice = tempAlloc();
    *twice = callLib(h, nested, {str("compartido")});
    // the library drops and collects what it returned
    expectLogical(callLib(h, collects), true);
    expectLogical(callLib(h, collects), true);
    ASSERT_TRUE(isArray(kept));
    EXPECT_EQ(text(arrayItems(kept)[1]), "guardado");
    EXPECT_EQ(text(arrayItems(kept)[2]), std::string(300, 'x'));
    // the one array the library returned twice is one array here too
    ASSERT_TRUE(isArray(twice));
    Item* t = arrayItems(twice);
    ASSERT_TRUE(isArray(&t[0]));
    EXPECT_EQ(bodyOf(&t[0]), bodyOf(&t[1]));
    EXPECT_EQ(text(arrayItems(&t[0])[0]), "compartido");
    EXPECT_EQ(text(arrayItems(&t[0])[1]), "dentro");
    // and our own collector keeps them
    collectGarbage(true);
    EXPECT_EQ(text(arrayItems(kept)[1]), "guardado");
}

TEST_F(LibraryCallTest, NumbersThatAreNoLibraryOrSymbolAreRefused) {
    uint32_t h = loadLib(XB_EXTLIB_PATH);
    ASSERT_NE(h, 0u);
    uint32_t greeting = resolve(h, "GREETING");
    ASSERT_NE(greeting, 0u);
    // resolve: unknown name, missing name, missing or bogus handle
    EXPECT_EQ(resolve(h, "NOSUCHPROC"), 0u);
    EXPECT_EQ(number(call("RESOLVE1", {intItem(int32_t(h))})), 0u);
    EXPECT_EQ(number(call("RESOLVE", {nilItem(), str("GREETING")})), 0u);
    for (uint32_t bogus : {1u, h + 1, h ^ 0x100u, 0x7FFFFFFFu, greeting})
        if (bogus != h) { EXPECT_EQ(resolve(bogus, "GREETING"), 0u) << bogus; }
    // call: bogus handles, symbols never resolved, a symbol of another
    // library's table, too few arguments
    for (uint32_t bogus : {0u, 1u, h + 1, 0x7FFFFFFFu, greeting})
        if (bogus != h) { EXPECT_EQ(callLib(bogus, greeting).type, T_NIL) << bogus; }
    for (uint32_t bogus : {0u, 1u, greeting + 1, greeting - 1, h, 0x12345678u})
        if (bogus != greeting) { EXPECT_EQ(callLib(h, bogus).type, T_NIL) << bogus; }
    EXPECT_EQ(call("CALL1", {intItem(int32_t(h))}).type, T_NIL);
    // a name without a function resolves and calls to NIL
    uint32_t loose = resolve(h, "LOOSEEND");
    EXPECT_NE(loose, 0u);
    EXPECT_EQ(callLib(h, loose).type, T_NIL);
    // still fine
    EXPECT_EQ(text(callLib(h, greeting)), "Hola desde la biblioteca");
    // a freed handle is refused from then on, and freeing twice fails
    expectLogical(call("FREE", {intItem(int32_t(h))}), true);
    expectLogical(call("FREE", {intItem(int32_t(h))}), false);
    EXPECT_EQ(resolve(h, "GREETING"), 0u);
    EXPECT_EQ(callLib(h, greeting).type, T_NIL);
#if XB_TARGET_64
    // the same slot loaded again is another handle: the old one stays refused
    uint32_t again = loadLib(XB_EXTLIB_PATH);
    ASSERT_NE(again, 0u);
    EXPECT_NE(again, h);
    EXPECT_EQ(resolve(h, "GREETING"), 0u);
    EXPECT_NE(resolve(again, "GREETING"), 0u);
#endif
}

TEST_F(LibraryCallTest, ALibraryWithoutGetEvalIsNeverCalled) {
    uint32_t h = loadLib(XB_PARTLIB_PATH);
    ASSERT_NE(h, 0u);
    uint32_t proc = resolve(h, "PROC");
    ASSERT_NE(proc, 0u);
    EXPECT_EQ(callLib(h, proc, {intItem(1), str("dos")}).type, T_NIL);
    EXPECT_EQ(callLib(h, proc).type, T_NIL);
    // 100 + the calls its other entries received
    EXPECT_EQ(resolve(h, "COUNT"), 100u);
}

TEST_F(LibraryCallTest, FilesThatAreNoLibraryAreRefused) {
    test::ProgramRun run;
    std::string text = run.write("notalib.so", "this is plain text, not a library\n");
    std::string empty = run.write("empty.dll", "");
    EXPECT_EQ(loadLib(text.c_str()), 0u);
    EXPECT_EQ(loadLib(empty.c_str()), 0u);
    EXPECT_EQ(loadLib((run.dir + "/missing.so").c_str()), 0u);
    EXPECT_EQ(loadLib(""), 0u);
    EXPECT_EQ(number(call("LOAD", {intItem(5)})), 0u);
}

TEST_F(LibraryCallTest, CyclesAndDeepNestingCrossBothWays) {
    uint32_t h = loadLib(XB_EXTLIB_PATH);
    uint32_t pack = resolve(h, "PACK");
    // a = {a, "ciclo"}: an array that holds itself
    Item cyclic = array(2);
    arrayItems(&cyclic)[0] = cyclic;
    arrayItems(&cyclic)[1] = str("ciclo");
    // 100000 arrays, each the only element of the one above
    const uint32_t depth = 100000;
    Item* deep = tempAlloc();
    makeArray(deep, 1);
    Item* at = deep;
    for (uint32_t i = 1; i < depth; ++i) {
        at = &arrayItems(at)[0];
        makeArray(at, 1);
    }
    arrayItems(at)[0] = intItem(42);
    Item r = callLib(h, pack, {cyclic, *deep});
    ASSERT_TRUE(isArray(&r));
    Item* c = &arrayItems(&r)[1];
    ASSERT_TRUE(isArray(c));
    EXPECT_NE(bodyOf(c), bodyOf(&cyclic));
    EXPECT_EQ(bodyOf(&arrayItems(c)[0]), bodyOf(c));  // still holds itself
    EXPECT_EQ(text(arrayItems(c)[1]), "ciclo");
    Item* d = &arrayItems(&r)[2];
    uint32_t levels = 0;
    while (isArray(d) && arrayLength(d) == 1) {
        d = &arrayItems(d)[0];
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(d->type, T_INTEGER);
    EXPECT_EQ(d->v.l, 42);
}

TEST_F(LibraryCallTest, CodeblocksAndReferencesArriveAsNil) {
    uint32_t h = loadLib(XB_EXTLIB_PATH);
    uint32_t pack = resolve(h, "PACK");
    Item r = callLib(h, pack, {block(), memo("nota"), wordItem(3), nilItem()});
    ASSERT_TRUE(isArray(&r));
    Item* e = arrayItems(&r);
    EXPECT_EQ(e[1].type, T_NIL);  // the codeblock
    EXPECT_EQ(e[2].type, T_MEMO);
    EXPECT_EQ(text(e[2]), "nota");
    EXPECT_EQ(e[3].type, T_WORD);
    EXPECT_EQ(e[3].v.l, 3);
    EXPECT_EQ(e[4].type, T_NIL);
}

// A program run by xbrun: an error inside the library ends that call with
// NIL and its report on the error output; the program goes on and calls
// the library again. Exit code 3: both steps went as they should.
TEST(LibraryCallProgram, AnErrorInTheLibraryEndsOnlyThatCall) {
    test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built";
    // The path goes into the program's text: a parameter beginning with a
    // slash would be taken for a runtime switch.
    std::string path;
    for (const char* c = XB_EXTLIB_PATH; *c; ++c) path += *c == '\\' ? std::string("\\\\") : std::string(1, *c);
    std::string text = R"(symbol MAIN proc
symbol LIBLOAD
symbol LIBSYMBOL
symbol LIBCALL
symbol ERRORLEVEL
proc MAIN
    LINE 0
    FRAME 1 2
    PUSHSYMNIL LIBLOAD
    PUSHSTR "@PATH@"
    FUNC 1
    POPLOCAL 2
    ZERO
    POPLOCAL 3
    PUSHSYMNIL LIBCALL
    PUSHLOCAL 2
    PUSHSYMNIL LIBSYMBOL
    PUSHLOCAL 2
    PUSHSTR "FAILS"
    FUNC 2
    FUNC 2
    VALTYPE
    PUSHSTR "U"
    EXACTEQUAL
    JUMPFALSE second
    ONE
    POPLOCAL 3
second:
    PUSHSYMNIL LIBCALL
    PUSHLOCAL 2
    PUSHSYMNIL LIBSYMBOL
    PUSHLOCAL 2
    PUSHSTR "GREETING"
    FUNC 2
    FUNC 2
    PUSHSTR "Hola desde la biblioteca"
    EXACTEQUAL
    JUMPFALSE done
    PUSHLOCAL 3
    PUSHWORD 2
    PLUS
    POPLOCAL 3
done:
    PUSHSYMNIL ERRORLEVEL
    PUSHLOCAL 3
    DO 1
    ENDPROC
end
)";
    text.replace(text.find("@PATH@"), 6, path);
    std::string program = run.write("host.xbasm", text);
    test::RunResult r = run.run(xbrun, {program});
    EXPECT_EQ(r.exitCode, 3) << r.err;
#ifndef _WIN32
    // the library's default handler wrote its report (message boxes go to
    // standard error here)
    EXPECT_NE(r.err.find("Error"), std::string::npos) << r.err;
#endif
}

#endif

}  // namespace
