// The settings block through SET: specifier numbers, the rules of each kind,
// the error for numbers that do not fit, the cut at a blank and the hooks.
#include "runtime/settings_block.h"
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/output.h"
#include "vm/settings.h"

using namespace xb;
using test::Arg;
using test::invoke;
using test::textOf;

namespace {

class SettingsTest : public test::VmTest {
protected:
    Setting saved[SETTING_COUNT + 1];
    std::string savedTexts[SETTING_COUNT + 1];
    uint8_t savedSeparate = 0;

    void SetUp() override {
        VmTest::SetUp();
        load("symbol P proc\nproc P\nENDPROC\nend\n");
        SettingsBlock& b = settingsBlock();
        for (int n = 1; n <= SETTING_COUNT; ++n) {
            saved[n] = b.entries[n];
            savedTexts[n] = b.entries[n].text ? b.entries[n].text : "";
        }
        savedSeparate = b.separateLogical;
    }
    void TearDown() override {
        SettingsBlock& b = settingsBlock();
        for (int n = 1; n <= SETTING_COUNT; ++n) {
            if (b.entries[n].kind == SK_TEXT) {
                settingSetText(uint8_t(n), savedTexts[n].c_str());
            } else {
                b.entries[n] = saved[n];
            }
        }
        settingSetText(SET_DATEFORMAT, savedTexts[SET_DATEFORMAT].empty() ? "mm/dd/yy" : savedTexts[SET_DATEFORMAT].c_str());
        b.separateLogical = savedSeparate;
        VmTest::TearDown();
    }
};

}  // namespace

TEST_F(SettingsTest, OnlyTheLowByteOfTheSpecifierCounts) {
    for (int which : {0, 47, 300, 256 + 47}) {
        Item r = invoke("SET", {which, true});
        EXPECT_EQ(r.type, T_NIL) << which;
    }
    EXPECT_FALSE(settingExactCompare());
    Item r = invoke("SET", {257, true});  // acts as 1
    ASSERT_EQ(r.type, T_LOGICAL);
    EXPECT_EQ(r.v.l, 0);
    EXPECT_TRUE(settingExactCompare());
    EXPECT_EQ(invoke("SET", {1}).v.l, 1);
    // a specifier that is not a number is no specifier
    EXPECT_EQ(invoke("SET", {"1", false}).type, T_NIL);
    EXPECT_TRUE(settingExactCompare());
}

TEST_F(SettingsTest, NumbersAboveSixteenBitsAreRefusedWithAnError) {
    Item r = invoke("SET", {SET_DECIMALS, 65536});
    EXPECT_EQ(r.type, T_INTEGER);
    EXPECT_EQ(r.v.l, 2);  // SET still reports the value it had
    EXPECT_EQ(settingDecimals(), 2);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].subsystem, "BASE");
    EXPECT_EQ(errors[0].d.subCode, 2020);
    EXPECT_EQ(errors[0].d.genCode, EG_ARG);

    invoke("SET", {SET_DECIMALS, 1e12});
    EXPECT_EQ(errors.size(), 2u);
    EXPECT_EQ(settingDecimals(), 2);

    // a negative number is kept in 16 bits; a double is cut toward zero
    EXPECT_EQ(invoke("SET", {SET_DECIMALS, -1}).v.l, 2);
    EXPECT_EQ(settingDecimals(), 65535);
    invoke("SET", {SET_DECIMALS, 65535});
    EXPECT_EQ(settingDecimals(), 65535);
    // the cut comes before the range check: 65535.5 and 65535.99 are 65535
    invoke("SET", {SET_DECIMALS, 3.0});
    invoke("SET", {SET_DECIMALS, 65535.5});
    EXPECT_EQ(settingDecimals(), 65535);
    invoke("SET", {SET_DECIMALS, 4.0});
    invoke("SET", {SET_DECIMALS, 65535.99});
    EXPECT_EQ(settingDecimals(), 65535);
    EXPECT_EQ(errors.size(), 2u);
    invoke("SET", {SET_DECIMALS, 65536.0});
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_EQ(settingDecimals(), 65535);
    invoke("SET", {SET_DECIMALS, 3.9});
    EXPECT_EQ(settingDecimals(), 3);
    // other types change nothing, and the result is an integer of width 0
    r = invoke("SET", {SET_DECIMALS, "7"});
    EXPECT_EQ(r.type, T_INTEGER);
    EXPECT_EQ(r.width, 0);
    EXPECT_EQ(settingDecimals(), 3);
    EXPECT_EQ(errors.size(), 3u);

    invoke("SET", {SET_EPOCH, 1950});
    EXPECT_EQ(settingEpoch(), 1950);
}

TEST_F(SettingsTest, DirectoriesAreCutAtTheFirstBlankAndReturnedAsCopies) {
    invoke("SET", {SET_DEFAULTDIR, "C:\\data more text"});
    EXPECT_STREQ(settingDefaultDir(), "C:\\data");
    Item r = invoke("SET", {SET_DEFAULTDIR});
    EXPECT_EQ(textOf(r), "C:\\data");
    // writing into the returned text leaves the setting alone
    const_cast<char*>(strData(&r))[0] = 'X';
    EXPECT_STREQ(settingDefaultDir(), "C:\\data");

    invoke("SET", {SET_SEARCHPATH, " leading"});
    EXPECT_STREQ(settingSearchPath(), "");
    // the date format is not a directory: it keeps its blanks
    invoke("SET", {SET_DATEFORMAT, "dd mm yyyy"});
    EXPECT_EQ(textOf(invoke("SET", {SET_DATEFORMAT})), "dd mm yyyy");
    // a non-text value leaves the text as it was
    EXPECT_EQ(textOf(invoke("SET", {SET_DEFAULTDIR, 5})), "C:\\data");
    EXPECT_STREQ(settingDefaultDir(), "C:\\data");
}

TEST_F(SettingsTest, TheDateFormatHookKeepsTenUpperCaseCharacters) {
    Item r = invoke("SET", {SET_DATEFORMAT, "dd-mm-yyyy-extra"});
    EXPECT_EQ(textOf(r), savedTexts[SET_DATEFORMAT].empty() ? "" : savedTexts[SET_DATEFORMAT]);
    EXPECT_STREQ(settingDateFormat(), "DD-MM-YYYY");
    EXPECT_EQ(textOf(invoke("SET", {SET_DATEFORMAT})), "dd-mm-yyyy-extra");
    // an empty text is stored but leaves the working format as it was
    invoke("SET", {SET_DATEFORMAT, ""});
    EXPECT_STREQ(settingDateFormat(), "DD-MM-YYYY");
    EXPECT_EQ(textOf(invoke("SET", {SET_DATEFORMAT})), "");
}

TEST_F(SettingsTest, LogicalSettingsTakeLogicalsAndTextsStartingWithOn) {
    const uint8_t which = SET_SOFTSEEK;
    struct Case {
        Arg value;
        bool expected;
    };
    const Case cases[] = {{true, true},  {"off", false}, {"on", true},   {"O", false},
                          {"oN", true},  {"", false},    {"ONWARD", true}, {"OFF", false}};
    for (const Case& c : cases) {
        invoke("SET", {which, c.value});
        EXPECT_EQ(settingSoftSeek(), c.expected) << c.value.s;
    }
    invoke("SET", {which, true});
    // a number changes nothing; the previous value is still reported
    Item r = invoke("SET", {which, 0});
    EXPECT_EQ(r.type, T_LOGICAL);
    EXPECT_EQ(r.v.l, 1);
    EXPECT_TRUE(settingSoftSeek());
}

TEST_F(SettingsTest, ThePairTakesOneOrTwoCharacters) {
    EXPECT_EQ(textOf(invoke("SET", {SET_DELIMITERS, "x"})), "xx");
    EXPECT_EQ(textOf(invoke("SET", {SET_DELIMITERS})), "xx");
    EXPECT_EQ(textOf(invoke("SET", {SET_DELIMITERS, "[]"})), "[]");
    EXPECT_EQ(textOf(invoke("SET", {SET_DELIMITERS, ""})), "[]");
    EXPECT_EQ(textOf(invoke("SET", {SET_DELIMITERS, 1})), "[]");
}

TEST_F(SettingsTest, HookedSpecifiersAnswerThroughTheirHandlers) {
    settingsHooksStart();
    settingsConsoleStart();
    Item r = invoke("SET", {12, false});
    ASSERT_EQ(r.type, T_LOGICAL);
    EXPECT_EQ(r.v.l, 1);  // on by default
    EXPECT_EQ(invoke("SET", {12}).v.l, 0);
    EXPECT_EQ(textOf(invoke("SET", {SET_COLOUR, "R/B"})), kColourText);
    EXPECT_EQ(textOf(invoke("SETCOLOR", {"R/B"})), "W/N,N/W,N/N,N/N,N/W");
    for (int which : {13, 14, 16, 38, 39, 44}) EXPECT_EQ(invoke("SET", {which, true}).type, T_NIL) << which;
    // the console start event set these
    EXPECT_EQ(textOf(invoke("SET", {20})), "SCREEN");
    EXPECT_EQ(invoke("SET", {17}).v.l, 1);
    EXPECT_EQ(textOf(invoke("SET", {20, "PRN x"})), "SCREEN");
    EXPECT_EQ(textOf(invoke("SET", {20})), "PRN");
    settingsConsoleStop();
    EXPECT_EQ(textOf(invoke("SET", {20})), "");
}
