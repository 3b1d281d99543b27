// The library's functions by group, each call written as macro text and its
// result shown in a readable form: values and argument errors, one table
// per group. Results are rendered as 'text', numbers as %g (with :w.d for
// doubles' width and decimals where a case cares), D:YYYYMMDD, .T./.F., NIL
// and {a, b} for arrays.
#include "tests/support/macro_fixture.h"
#include "tests/support/native_call.h"

#include <cstdio>
#include <string>

#include "base/dates.h"
#include "runtime/files.h"
#include "runtime/settings_block.h"

using namespace xb;
using xb::test::MacroTest;

namespace {

std::string render(const Item& it, int depth = 0) {
    char buf[64];
    switch (it.type) {
    case T_NIL: return "NIL";
    case T_LOGICAL: return it.v.l ? ".T." : ".F.";
    case T_INTEGER:
    case T_WORD: std::snprintf(buf, sizeof buf, "%ld", long(it.v.l)); return buf;
    case T_DOUBLE: std::snprintf(buf, sizeof buf, "%.10g", it.v.d); return buf;
    case T_DATE: {
        char d[9] = "        ";
        dateToCompact(it.v.l, d);
        return std::string("D:") + std::string(d, 8);
    }
    case T_STRING:
    case T_MEMO: return "'" + test::textOf(it) + "'";
    case T_ARRAY: {
        if (depth > 5) return "{...}";
        std::string s = "{";
        for (uint32_t i = 0; i < arrayLength(&it); ++i) {
            if (i) s += ", ";
            s += render(arrayItems(&it)[i], depth + 1);
        }
        return s + "}";
    }
    case T_BLOCK: return "{||}";
    default: return "?";
    }
}

struct ValueCase {
    const char* expr;
    const char* expected;
};
struct ErrorCase {
    const char* expr;
    const char* operation;
    uint16_t subCode;
};

class LibraryFunctions : public MacroTest {
protected:
    void SetUp() override {
        MacroTest::SetUp();
        settingSetLogical(SET_FIXEDFORMAT, false);
        settingSetNumber(SET_DECIMALS, 2);
    }

    void checkValues(const ValueCase* cases, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            errors.clear();
            Item r = eval(cases[i].expr);
            EXPECT_TRUE(errors.empty()) << cases[i].expr << " raised " << (errors.empty() ? 0 : errors[0].d.subCode);
            EXPECT_EQ(render(r), cases[i].expected) << cases[i].expr;
        }
    }
    // Each error case raises once, general code 1, subsystem BASE, with the
    // function as operation and the call's arguments as operands; the
    // substituted value is the call's result.
    void checkErrors(const ErrorCase* cases, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            errors.clear();
            answerWith(intItem(4242));
            Item r = eval(cases[i].expr);
            ASSERT_EQ(errors.size(), 1u) << cases[i].expr;
            EXPECT_EQ(errors[0].d.genCode, 1) << cases[i].expr;
            EXPECT_EQ(errors[0].subsystem, "BASE") << cases[i].expr;
            EXPECT_EQ(errors[0].operation, cases[i].operation) << cases[i].expr;
            EXPECT_EQ(errors[0].d.subCode, cases[i].subCode) << cases[i].expr;
            EXPECT_FALSE(errors[0].operands.empty()) << cases[i].expr;
            EXPECT_EQ(render(r), "4242") << cases[i].expr;
        }
    }
};

TEST_F(LibraryFunctions, TextValues) {
    const ValueCase cases[] = {
        {"ALLTRIM('  ab c  ')", "'ab c'"},
        {"ALLTRIM(CHR(9) + 'x ')", "'x'"},
        {"ALLTRIM('')", "''"},
        {"PADR('ab', 5)", "'ab   '"},
        {"PADR('abcdef', 3)", "'abc'"},
        {"PADL('ab', 5, '*')", "'***ab'"},
        {"PADL('abcdef', 3)", "'def'"},
        {"PADC('ab', 7, '-')", "'--ab---'"},
        {"PADR(12, 5)", "'12   '"},
        {"PADL(3.5, 6)", "'   3.5'"},
        {"PADR('x', -1)", "''"},
        {"RIGHT('abcdef', 2)", "'ef'"},
        {"RIGHT('abc', 10)", "'abc'"},
        {"RIGHT('abc', 0)", "''"},
        {"STRTRAN('a.b.c', '.', '-')", "'a-b-c'"},
        {"STRTRAN('a.b.c', '.')", "'abc'"},
        {"STRTRAN('a.b.c.d', '.', '/', 2)", "'a.b/c/d'"},
        {"STRTRAN('a.b.c.d', '.', '/', 1, 2)", "'a/b/c.d'"},
        {"STRTRAN('aaa', '', 'x')", "'aaa'"},
        {"STRTRAN('aaaa', 'aa', 'b')", "'bb'"},
        {"STUFF('abcdef', 2, 3, 'XY')", "'aXYef'"},
        {"STUFF('abc', 4, 0, 'd')", "'abcd'"},
        {"STUFF('abc', 2, 10, '')", "'a'"},
        {"STUFF('abc', 0, 1, 'Z')", "'Zbc'"},
        {"RAT('a', 'banana')", "6"},
        {"RAT('x', 'banana')", "0"},
        {"RAT('', 'banana')", "0"},
        {"STRZERO(5, 3)", "'005'"},
        {"STRZERO(-5, 4)", "'-005'"},
        {"STRZERO(3.25, 7, 2)", "'0003.25'"},
        {"STRZERO(12345, 3)", "'***'"},
        {"MEMOLINE('one two three four', 9, 1)", "'one two  '"},
        {"MEMOLINE('one two three four', 9, 2)", "'three    '"},
        {"MEMOLINE('one two three four', 9, 3)", "'four     '"},
        {"MEMOLINE('one two three four', 9, 4)", "'         '"},
        {"MEMOLINE('abcdefghij', 4, 2)", "'efgh'"},
        {"MEMOLINE('ab' + CHR(13) + CHR(10) + 'cd', 5, 2)", "'cd   '"},
        {"MEMOLINE('a' + CHR(9) + 'b', 6, 1, 4)", "'a   b '"},
        {"MEMOLINE('abcdef ghij', 4, 2, 4, .F.)", "'ef g'"},
        {"MLCOUNT('one two three four', 9)", "3"},
        {"MLCOUNT('', 10)", "0"},
        {"MLCOUNT('a' + CHR(13) + CHR(10) + CHR(13) + CHR(10) + 'b', 10)", "3"},
        {"MLCOUNT('abcdefghij', 4)", "3"},
        {"HARDCR('a' + CHR(141) + CHR(10) + 'b') == 'a' + CHR(13) + CHR(10) + 'b'", ".T."},
        {"MEMOTRAN('a' + CHR(13) + CHR(10) + 'b' + CHR(141) + CHR(10) + 'c')", "'a;b c'"},
        {"MEMOTRAN('a' + CHR(13) + CHR(10) + 'b', '|')", "'a|b'"},
        {"ASC(DESCEND('A'))", "191"},
        {"DESCEND(DESCEND('abc'))", "'abc'"},
        {"DESCEND(5)", "-5"},
        {"DESCEND(.T.)", ".F."},
        {"DESCEND(CTOD(''))", "0"},
    };
    checkValues(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(LibraryFunctions, TextArgumentErrors) {
    const ErrorCase cases[] = {
        {"ALLTRIM(5)", "ALLTRIM", 3101},      {"PADR('a', 'b')", "PADR", 3102},
        {"PADL(.T., 3)", "PADL", 3103},       {"PADC('a', 3, 5)", "PADC", 3104},
        {"RIGHT(5, 1)", "RIGHT", 3105},       {"RIGHT('a')", "RIGHT", 3105},
        {"STRTRAN('a', 5)", "STRTRAN", 3106}, {"STRTRAN('a', 'a', 5)", "STRTRAN", 3106},
        {"STUFF('a', 1, 1)", "STUFF", 3107},  {"RAT(1, 'a')", "RAT", 3108},
        {"STRZERO('5')", "STRZERO", 3109},    {"STRZERO(5, 'x')", "STRZERO", 3109},
        {"MEMOLINE(5)", "MEMOLINE", 3110},    {"MEMOLINE('a', 'b')", "MEMOLINE", 3110},
        {"MLCOUNT(.F.)", "MLCOUNT", 3111},    {"HARDCR(1)", "HARDCR", 3112},
        {"MEMOTRAN('a', 1)", "MEMOTRAN", 3113}, {"DESCEND({})", "DESCEND", 3114},
    };
    checkErrors(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(LibraryFunctions, ArrayValues) {
    const ValueCase cases[] = {
        {"ARRAY(3)", "{NIL, NIL, NIL}"},
        {"ARRAY(2, 2)", "{{NIL, NIL}, {NIL, NIL}}"},
        {"ARRAY(0)", "{}"},
        {"ACLONE({1, {2, 3}, 'a'})", "{1, {2, 3}, 'a'}"},
        {"ACOPY({1, 2, 3}, {0, 0, 0, 0})", "{1, 2, 3, 0}"},
        {"ACOPY({1, 2, 3}, {0, 0, 0, 0}, 2)", "{2, 3, 0, 0}"},
        {"ACOPY({1, 2, 3}, {0, 0, 0, 0}, 1, 2, 3)", "{0, 0, 1, 2}"},
        {"ACOPY({1, 2, 3}, {0, 0}, 1, 3, 2)", "{0, 1}"},
        {"ADEL({1, 2, 3}, 2)", "{1, 3, NIL}"},
        {"ADEL({1, 2, 3}, 5)", "{1, 2, 3}"},
        {"AINS({1, 2, 3}, 2)", "{1, NIL, 2}"},
        {"AINS({1, 2, 3}, 0)", "{1, 2, 3}"},
        {"AFILL(ARRAY(3), 7)", "{7, 7, 7}"},
        {"AFILL({1, 2, 3, 4}, 0, 2, 2)", "{1, 0, 0, 4}"},
        {"ASCAN({1, 2, 3}, 2)", "2"},
        {"ASCAN({'ab', 'cd'}, 'c')", "2"},
        {"ASCAN({1, 'x', 2}, 'x')", "2"},
        {"ASCAN({1, 2, 3}, 9)", "0"},
        {"ASCAN({1, 2, 3, 2}, 2, 3)", "4"},
        {"ASCAN({1, 2, 3, 2}, 2, 3, 1)", "0"},
        {"ASCAN({5, 6, 7}, {|e| e > 5})", "2"},
        {"ASCAN({.F., .T.}, .T.)", "2"},
        {"ASIZE({1, 2}, 4)", "{1, 2, NIL, NIL}"},
        {"ASIZE({1, 2, 3}, 1)", "{1}"},
        {"ASIZE({1}, -3)", "{}"},
        {"ATAIL({1, 2, 3})", "3"},
        {"ATAIL({})", "NIL"},
        {"ASORT({3, 1, 2})", "{1, 2, 3}"},
        {"ASORT({'b', 'c', 'a'})", "{'a', 'b', 'c'}"},
        {"ASORT({3, 1, 2}, NIL, NIL, {|x, y| x > y})", "{3, 2, 1}"},
        {"ASORT({5, 4, 3, 2, 1}, 2, 3)", "{5, 2, 3, 4, 1}"},
        {"ASORT({.T., .F.})", "{.F., .T.}"},
        {"ASORT({'a', 1, .T., NIL})", "{NIL, .T., 1, 'a'}"},
        {"LEN(AEVAL({1, 2, 3}, {|e, i| e * i}))", "3"},
    };
    checkValues(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(LibraryFunctions, AevalSeesEachElementAndPosition) {
    setVar("T", eval("0"));
    eval("AEVAL({10, 20, 30}, {|e, i| t := t + e * i})");
    EXPECT_EQ(render(var("T")), "140");
    setVar("T", eval("0"));
    eval("AEVAL({10, 20, 30}, {|e| t := t + e}, 2, 1)");
    EXPECT_EQ(render(var("T")), "20");
    EXPECT_TRUE(errors.empty());
}

TEST_F(LibraryFunctions, AsortIsStableForEqualKeysWithAndWithoutABlock) {
    // pairs {key, original position}: sort by key only; equal keys must
    // keep their order, whatever the array's size (runs of every length)
    for (int n : {2, 3, 7, 16, 33, 100}) {
        setVar("A", eval("{}"));
        for (int i = 0; i < n; ++i)
            eval("AADD(a, {" + std::to_string((i * 7) % 5) + ", " + std::to_string(i) + "})");
        Item sorted = eval("ASORT(a, NIL, NIL, {|x, y| x[1] < y[1]})");
        ASSERT_EQ(sorted.type, T_ARRAY);
        ASSERT_EQ(arrayLength(&sorted), uint32_t(n));
        for (int i = 1; i < n; ++i) {
            const Item* a = arrayItems(&arrayItems(&sorted)[i - 1]);
            const Item* b = arrayItems(&arrayItems(&sorted)[i]);
            ASSERT_LE(itemDouble(&a[0]), itemDouble(&b[0])) << n;
            if (itemDouble(&a[0]) == itemDouble(&b[0])) EXPECT_LT(itemDouble(&a[1]), itemDouble(&b[1])) << n;
        }
    }
    // without a block: texts that compare equal under SET EXACT OFF-free
    // ordering keep their places; equal numbers of different widths too
    setVar("A", eval("{2, 'b', 1, 'a', 1.0, 'b'}"));
    eval("ASORT(a)");
    EXPECT_EQ(render(var("A")), "{1, 1, 2, 'a', 'b', 'b'}");
    EXPECT_EQ(var("A").type, T_ARRAY);
    Item a = var("A");
    Item first = arrayItems(&a)[0];
    Item second = arrayItems(&a)[1];
    EXPECT_EQ(first.type, T_INTEGER);  // the 1 that came first stays first
    EXPECT_EQ(second.type, T_DOUBLE);
    EXPECT_TRUE(errors.empty());
}

TEST_F(LibraryFunctions, ArrayArgumentErrors) {
    const ErrorCase cases[] = {
        {"ARRAY('a')", "ARRAY", 3131},       {"ARRAY(-1)", "ARRAY", 3131},
        {"ARRAY(5000, 5000)", "ARRAY", 3131}, {"ACLONE(1)", "ACLONE", 3132},
        {"ACOPY({}, 1)", "ACOPY", 3133},     {"ADEL({1}, 'a')", "ADEL", 3134},
        {"AINS(1, 1)", "AINS", 3135},        {"AEVAL({1}, 1)", "AEVAL", 3136},
        {"AFILL('a', 1)", "AFILL", 3137},    {"ASCAN({1}, 1, 'a')", "ASCAN", 3138},
        {"ASIZE({}, 'a')", "ASIZE", 3139},   {"ASORT({}, NIL, NIL, 5)", "ASORT", 3140},
        {"ATAIL('abc')", "ATAIL", 3141},
    };
    checkErrors(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(LibraryFunctions, NumberAndDateValues) {
    const ValueCase cases[] = {
        {"MOD(7, 3)", "1"},
        {"MOD(-1, 3)", "2"},
        {"MOD(1, -3)", "-2"},
        {"MOD(-7, -3)", "-1"},
        {"MOD(7.5, 2)", "1.5"},
        {"MOD(6, 3)", "0"},
        {"STOD('20240229')", "D:20240229"},
        {"STOD('20230229')", "D:        "},
        {"STOD('')", "D:        "},
        {"DTOS(STOD('19991231') + 1)", "'20000101'"},
        {"DAYS(86400 * 3 + 5)", "3"},
        {"DAYS(100)", "0"},
        {"ELAPTIME('10:00:00', '12:30:15')", "'02:30:15'"},
        {"ELAPTIME('23:00:00', '01:00:00')", "'02:00:00'"},
        {"ELAPTIME('10:00:00', '10:00:00')", "'00:00:00'"},
    };
    checkValues(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(LibraryFunctions, NumberAndDateArgumentErrors) {
    const ErrorCase cases[] = {
        {"MOD('a', 1)", "MOD", 3161}, {"MOD(1)", "MOD", 3161},         {"STOD(5)", "STOD", 3162},
        {"DAYS('a')", "DAYS", 3163},  {"ELAPTIME(1, '')", "ELAPTIME", 3164},
    };
    checkErrors(cases, sizeof cases / sizeof cases[0]);
    // MOD by zero is the % operator's error: division by zero, 1341
    errors.clear();
    answerWith(intItem(0));
    eval("MOD(5, 0)");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 5);
    EXPECT_EQ(errors[0].d.subCode, 1341);
    EXPECT_EQ(errors[0].operation, "MOD");
}

TEST_F(LibraryFunctions, EnvironmentAndFilesNeverRaise) {
    const std::string name = std::string("libfn_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fsDelete((name + ".txt").c_str());
    setVar("F", eval("'" + name + ".txt'"));
    const ValueCase cases[] = {
        {"MEMOREAD(f)", "''"},
        {"MEMOWRIT(f, 'line 1' + CHR(13) + CHR(10) + 'x' + CHR(0) + 'y')", ".T."},
        {"LEN(MEMOREAD(f))", "11"},
        {"RIGHT(MEMOREAD(f), 3) == 'x' + CHR(0) + 'y'", ".T."},
        {"MEMOWRIT(f, '')", ".T."},
        {"MEMOREAD(f)", "''"},
        {"ASCAN(DIRECTORY('libfn_*.txt'), {|r| r[1] == f})", "1"},
        {"DIRECTORY(f)[1][2]", "0"},
        {"VALTYPE(DIRECTORY(f)[1][3])", "'D'"},
        {"LEN(DIRECTORY(f)[1][4])", "8"},
        {"DIRECTORY('no_such_file_*.none')", "{}"},
        {"MEMOREAD(5)", "''"},
        {"MEMOWRIT(5, 'x')", ".F."},
        {"MEMOWRIT(f)", ".F."},
        {"GETENV('XB_LIBRARY_TEST_UNSET_VARIABLE')", "''"},
        {"GETENV(5)", "''"},
        {"VALTYPE(CURDIR())", "'C'"},
        {"LEFT(CURDIR(), 1) == '/'", ".F."},
        {"VALTYPE(DIRECTORY())", "'A'"},
    };
    checkValues(cases, sizeof cases / sizeof cases[0]);
    fsDelete((name + ".txt").c_str());
    EXPECT_EQ(render(eval("MEMOREAD(f)")), "''");
}

TEST_F(LibraryFunctions, GetenvReadsTheEnvironment) {
#ifdef _WIN32
    _putenv("XB_LIBRARY_TEST_VAR=valor 1");
#else
    setenv("XB_LIBRARY_TEST_VAR", "valor 1", 1);
#endif
    EXPECT_EQ(render(eval("GETENV('XB_LIBRARY_TEST_VAR')")), "'valor 1'");
    EXPECT_TRUE(errors.empty());
}

}  // namespace
