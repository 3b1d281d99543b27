// The list of native functions against what registers itself, the
// reference page made from it, and the inline built-ins called by name:
// each must give what its opcode gives (a differential run over a table of
// calls), raise the opcode's argument error with the function's operands,
// and take the form of the argument count given.
#include "tests/support/macro_fixture.h"
#include "tests/support/native_call.h"

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "lib/function_list.h"
#include "runtime/settings_block.h"
#include "vm/function.h"

using namespace xb;
using xb::test::invoke;
using xb::test::MacroTest;

namespace {

// Registrations made by the tests' and the tools' own sources are not the
// runtime's.
bool isRuntimeRegistration(const NativeRegistration* r) {
    if (!r->file) return true;
    std::string f = r->file;
    for (char& c : f)
        if (c == '\\') c = '/';
    return f.find("tests/") == std::string::npos && f.find("tools/") == std::string::npos;
}

TEST(FunctionList, EveryRegisteredFunctionHasAnEntryAndEveryEntryAFunction) {
    std::set<std::string> registered;
    for (NativeRegistration* r = nativeRegistrations(); r; r = r->next) {
        if (!isRuntimeRegistration(r)) continue;
        registered.insert(r->name);
        EXPECT_NE(findFunctionEntry(r->name), nullptr) << r->name << " (" << r->file << ") is not in lib/functions.def";
    }
    uint32_t n = 0;
    const FunctionEntry* list = functionList(&n);
    std::set<std::string> listed;
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_TRUE(listed.insert(list[i].name).second) << list[i].name << " is listed twice";
        EXPECT_TRUE(registered.count(list[i].name)) << list[i].name << " is listed but no function registers it";
    }
    EXPECT_GT(n, 200u);
}

TEST(FunctionList, EveryEntryIsDescribedAndInAKnownGroup) {
    uint32_t n = 0;
    const FunctionEntry* list = functionList(&n);
    std::string page = functionsMarkdown();
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_NE(std::string(list[i].summary), "") << list[i].name;
        EXPECT_NE(std::string(list[i].result), "") << list[i].name;
        EXPECT_NE(std::string(list[i].errors), "") << list[i].name;
        // a group without a title would leave the function off the page
        EXPECT_NE(page.find(std::string("| `") + list[i].name + "` |"), std::string::npos) << list[i].name;
    }
}

TEST(FunctionList, TheReferencePageIsUpToDate) {
    std::ifstream f(std::string(XB_SOURCE_DIR) + "/docs/functions.md", std::ios::binary);
#ifdef _WIN32
    if (!f.good()) GTEST_SKIP() << "the source tree is not reachable from here";
#endif
    ASSERT_TRUE(f.good()) << "docs/functions.md is missing: run xbfuncdoc > docs/functions.md";
    std::ostringstream s;
    s << f.rdbuf();
    EXPECT_TRUE(s.str() == functionsMarkdown()) << "docs/functions.md is stale: run xbfuncdoc > docs/functions.md";
}

class InlineByName : public MacroTest {
protected:
    void SetUp() override {
        MacroTest::SetUp();
        settingSetLogical(SET_FIXEDFORMAT, false);
        settingSetNumber(SET_DECIMALS, 2);
    }
    // The same Item, strings compared by their bytes.
    static void expectSame(const Item& a, const Item& b, const std::string& what) {
        EXPECT_EQ(a.type, b.type) << what;
        if (a.type != b.type) return;
        if (isString(&a)) {
            EXPECT_EQ(test::textOf(a), test::textOf(b)) << what;
        } else if (a.type == T_DOUBLE) {
            // bit for bit: a NaN of the same computation is the same NaN
            EXPECT_EQ(std::memcmp(&a.v.d, &b.v.d, sizeof(double)), 0) << what << ": " << a.v.d << " " << b.v.d;
            EXPECT_EQ(a.width, b.width) << what;
            EXPECT_EQ(a.decimals, b.decimals) << what;
        } else if (a.type == T_ARRAY) {
            EXPECT_EQ(arrayLength(&a), arrayLength(&b)) << what;
        } else {
            EXPECT_EQ(a.v.l, b.v.l) << what;
            EXPECT_EQ(a.width, b.width) << what;
        }
    }
};

// Each call as macro text (compiled to the opcode) and as the same call
// through the function's symbol (a name the macro compiler does not know
// as a built-in: the public variables X, Y, Z carry the arguments).
struct ByNameCase {
    const char* call;  // macro text using x, y, z
    const char* name;
    int argc;
};

TEST_F(InlineByName, EachGivesWhatItsOpcodeGives) {
    const ByNameCase cases[] = {
        {"UPPER(x)", "UPPER", 1},     {"LOWER(x)", "LOWER", 1},         {"LTRIM(x)", "LTRIM", 1},
        {"TRIM(x)", "TRIM", 1},       {"RTRIM(x)", "RTRIM", 1},         {"LEN(x)", "LEN", 1},
        {"ASC(x)", "ASC", 1},         {"AT(y, x)", "AT", 2},            {"LEFT(x, z)", "LEFT", 2},
        {"SUBSTR(x, z)", "SUBSTR", 2}, {"SUBSTR(x, z, z)", "SUBSTR", 3}, {"REPLICATE(x, z)", "REPLICATE", 2},
        {"SPACE(z)", "SPACE", 1},     {"CHR(z)", "CHR", 1},             {"STR(z)", "STR", 1},
        {"STR(z, z)", "STR", 2},      {"STR(z, z, z)", "STR", 3},       {"VAL(x)", "VAL", 1},
        {"INT(z)", "INT", 1},         {"ROUND(z, z)", "ROUND", 2},      {"MAX(z, y)", "MAX", 2},
        {"MIN(z, y)", "MIN", 2},      {"EMPTY(x)", "EMPTY", 1},         {"VALTYPE(x)", "VALTYPE", 1},
        {"SQRT(z)", "SQRT", 1},       {"EXP(z)", "EXP", 1},             {"LOG(z)", "LOG", 1},
        {"ABS(z)", "ABS", 1},         {"TRANSFORM(z, x)", "TRANSFORM", 2}, {"TYPE(x)", "TYPE", 1},
    };
    struct Values {
        const char* x;
        const char* y;
        const char* z;
    };
    const Values values[] = {
        {"'  Hola Mundo  '", "'o'", "3"}, {"'abc'", "'c'", "-2"}, {"''", "''", "7.75"}, {"'9.5xyz'", "'9'", "321"},
    };
    for (const Values& v : values) {
        setVar("X", eval(v.x));
        setVar("Y", eval(v.y));
        setVar("Z", eval(v.z));
        for (const ByNameCase& c : cases) {
            errors.clear();
            Item byOpcode = eval(c.call);
            size_t opcodeErrors = errors.size();
            const Item* args[3] = {nullptr, nullptr, nullptr};
            Item xs = var("X"), ys = var("Y"), zs = var("Z");
            // the arguments as the call text names them
            std::string call = c.call;
            size_t open = call.find('(');
            int k = 0;
            for (size_t i = open + 1; i < call.size() && k < c.argc; ++i) {
                char n = call[i];
                if (n == 'x') args[k++] = &xs;
                else if (n == 'y') args[k++] = &ys;
                else if (n == 'z') args[k++] = &zs;
            }
            errors.clear();
            Item byName;
            if (c.argc == 1) byName = invoke(c.name, {*args[0]});
            else if (c.argc == 2) byName = invoke(c.name, {*args[0], *args[1]});
            else byName = invoke(c.name, {*args[0], *args[1], *args[2]});
            std::string what = std::string(c.call) + " with x=" + v.x + " y=" + v.y + " z=" + v.z;
            EXPECT_EQ(errors.size(), opcodeErrors) << what;
            if (!errors.empty()) continue;
            expectSame(byName, byOpcode, what);
        }
    }
}

TEST_F(InlineByName, ArgumentErrorsAreTheOpcodesWithTheOperandsGiven) {
    answerWith(intItem(77));
    Item r = invoke("UPPER", {5});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1102);
    EXPECT_EQ(errors[0].d.genCode, 1);
    EXPECT_EQ(errors[0].subsystem, "BASE");
    EXPECT_EQ(errors[0].operation, "UPPER");
    ASSERT_EQ(errors[0].operands.size(), 1u);
    EXPECT_EQ(errors[0].operands[0].v.l, 5);
    EXPECT_EQ(r.type, T_INTEGER);
    EXPECT_EQ(r.v.l, 77);  // the substituted value is the result

    errors.clear();
    invoke("SUBSTR", {"abc", "x", 1});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1110);
    EXPECT_EQ(errors[0].operands.size(), 3u);

    // a missing argument is NIL, which the handler refuses
    errors.clear();
    invoke("LEFT", {"abc"});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1124);
    ASSERT_EQ(errors[0].operands.size(), 2u);
    EXPECT_EQ(errors[0].operands[1].type, T_NIL);

    // WORD's error allows neither substitution nor default: a handler that
    // unwinds ends the call
    errors.clear();
    answerUnwind();
    invoke("WORD", {"x"});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1091);
    EXPECT_EQ(errors[0].d.flags & EF_SUBSTITUTE, 0);
}

TEST_F(InlineByName, FunctionsWithoutArgumentsAndSurplusArguments) {
    Item d = invoke("DATE");
    EXPECT_EQ(d.type, T_DATE);
    EXPECT_GT(d.v.l, 2400000);
    Item t = invoke("TIME");
    EXPECT_EQ(test::textOf(t).size(), 8u);
    Item s = invoke("SECONDS");
    EXPECT_EQ(s.type, T_DOUBLE);
    EXPECT_EQ(s.decimals, 2);
    // surplus arguments are dropped
    EXPECT_EQ(test::textOf(invoke("UPPER", {"ab", "cd"})), "AB");
    EXPECT_EQ(test::textOf(invoke("CHR", {65, 66})), "A");
    EXPECT_EQ(invoke("SETPOS", {3, 4}).v.l, 3);
    EXPECT_EQ(invoke("ROW").v.l, 3);
    EXPECT_EQ(invoke("COL").v.l, 4);
    EXPECT_TRUE(errors.empty());
}

TEST_F(InlineByName, EvalByNamePassesTheArguments) {
    Item b = eval("{|a, b| a * 10 + b}");
    Item r = invoke("EVAL", {b, 4, 2});
    EXPECT_EQ(itemDouble(&r), 42);
    errors.clear();
    invoke("EVAL", {5});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 13);
}

TEST_F(InlineByName, DevposInkeyProwPcolAreRealFunctions) {
    EXPECT_EQ(invoke("DEVPOS", {7, 9}).type, T_NIL);
    EXPECT_EQ(invoke("ROW").v.l, 7);
    EXPECT_EQ(invoke("COL").v.l, 9);
    EXPECT_EQ(invoke("PROW").v.l, 0);
    EXPECT_EQ(invoke("PCOL").v.l, 0);
    EXPECT_EQ(invoke("INKEY").v.l, 0);  // nothing waits
    EXPECT_TRUE(errors.empty());
    invoke("DEVPOS", {"a", 1});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operation, "DEVPOS");
}

}  // namespace
