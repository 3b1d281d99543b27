// Inline built-in functions run as pcode: one small procedure per opcode,
// each taking the function's arguments as parameters, applying the opcode,
// recording the stack depth through a probe, and returning the result.
// Values of every type are built into rooted temporaries, so strings and
// arrays survive until the call.
#pragma once
#include "tests/support/vm_fixture.h"

#include <string>

#include "runtime/settings_block.h"

namespace xb::test {

// Items above the caller's frame slot when the probe BITESTDEPTH ran (self,
// parameters, and whatever the opcode left); set by the probe native in
// builtins_test.cpp.
inline int32_t builtinDepth = -1;

class BuiltinTest : public VmTest {
protected:
    struct Builtin {
        const char* mnemonic;
        int argc;
    };
    static constexpr Builtin kBuiltins[] = {
        {"ASC", 1},    {"AT", 2},      {"CHR", 1},     {"EMPTY", 1},   {"EXP", 1},      {"LOG", 1},
        {"SQRT", 1},   {"INT", 1},     {"LEFT", 2},    {"LEN", 1},     {"LOWER", 1},    {"UPPER", 1},
        {"LTRIM", 1},  {"TRIM", 1},    {"MAX", 2},     {"MIN", 2},     {"REPLICATE", 2}, {"ROUND", 2},
        {"SECONDS", 0}, {"SPACE", 1},  {"STR1", 1},    {"STR2", 2},    {"STR3", 3},     {"SUBSTR2", 2},
        {"SUBSTR3", 3}, {"TIME", 0},   {"VAL", 1},     {"VALTYPE", 1}, {"WORD", 1},     {"COL", 0},
        {"ROW", 0},    {"SETPOS", 2},  {"CDOW", 1},    {"CMONTH", 1},  {"CTOD", 1},     {"DATE", 0},
        {"DAY", 1},    {"DOW", 1},     {"DTOC", 1},    {"DTOS", 1},    {"MONTH", 1},    {"YEAR", 1},
        {"TRANSFORM", 2},
    };

    static std::string moduleText() {
        std::string t = "symbol BITESTDEPTH\n";
        for (auto& b : kBuiltins) t += std::string("symbol B_") + b.mnemonic + " proc\n";
        for (auto& b : kBuiltins) {
            t += std::string("proc B_") + b.mnemonic + "\nFRAME " + std::to_string(b.argc) + " 0\n";
            for (int i = 1; i <= b.argc; ++i) t += "PUSHLOCAL " + std::to_string(i) + "\n";
            t += std::string(b.mnemonic) + "\nPUSHSYMNIL BITESTDEPTH\nDO 0\nPOPRET\nENDPROC\nend\n";
        }
        return t;
    }

    // Extra procedures a test file adds to the module.
    virtual std::string extraProcedures() { return ""; }

    void SetUp() override {
        VmTest::SetUp();
        const std::string text = moduleText() + extraProcedures();
        load(text.c_str());
        settingSetLogical(SET_FIXEDFORMAT, false);
        settingSetNumber(SET_DECIMALS, 2);
    }
    void TearDown() override {
        settingSetLogical(SET_FIXEDFORMAT, false);
        settingSetNumber(SET_DECIMALS, 2);
        VmTest::TearDown();
    }

    static int argcOf(const char* mnemonic) {
        for (auto& b : kBuiltins)
            if (std::string(b.mnemonic) == mnemonic) return b.argc;
        ADD_FAILURE() << "no built-in " << mnemonic;
        return 0;
    }

    // Runs the built-in's procedure; checks that exactly one result replaced
    // the arguments.
    Item run(const char* mnemonic, std::initializer_list<Item> args = {}) {
        builtinDepth = -1;
        itemClear(returnItem());
        Item r = call((std::string("B_") + mnemonic).c_str(), args);
        EXPECT_EQ(builtinDepth, argcOf(mnemonic) + 2) << mnemonic << ": stack not balanced";
        EXPECT_EQ(vm.top, vm.stack);
        return r;
    }

    // Values.
    static Item intItem(int32_t v, uint16_t width = 10) {
        Item it = VmTest::intItem(v);
        it.width = width;
        return it;
    }

    // Checks of a result.
    static void expectText(const Item& r, const std::string& s) {
        EXPECT_EQ(r.type, T_STRING);
        EXPECT_EQ(text(r), s);
    }

    // The one error raised since the last check: "BASE", gencode 1, the
    // subcode, its operation name, the operands and the substitution flag.
    void expectArgError(uint16_t subCode, const char* operation, size_t operands, bool subst = true) {
        ASSERT_EQ(errors.size(), 1u) << "expected one error " << subCode;
        const RaisedError& e = errors[0];
        EXPECT_EQ(e.d.subCode, subCode);
        EXPECT_EQ(e.d.genCode, 1);
        EXPECT_EQ(e.operation, operation);
        EXPECT_EQ(e.subsystem, "BASE");
        EXPECT_EQ(e.d.severity, 2);
        EXPECT_EQ(e.d.flags, subst ? EF_SUBSTITUTE : 0);
        EXPECT_EQ(e.operands.size(), operands);
        errors.clear();
    }

    // Runs the built-in with arguments of a wrong type, answering the error
    // with a substitute: the error is the function's argument error and the
    // substitute is the result.
    void expectRejected(const char* mnemonic, std::initializer_list<Item> args, uint16_t subCode,
                        const char* operation) {
        answerInt(4321);
        Item r = run(mnemonic, args);
        expectArgError(subCode, operation, args.size());
        EXPECT_EQ(r.type, T_INTEGER) << mnemonic;
        EXPECT_EQ(r.v.l, 4321) << mnemonic;
    }
};

}  // namespace xb::test
