// The display conversion of the output functions for the shapes the output
// tests leave out: numbers without a width, the fixedFormat rule on a
// number that has one, texts, memos and the types that show nothing.
#include "tests/support/builtin_fixture.h"

#include "runtime/display.h"

using namespace xb;
using namespace xb::test;

namespace {

class DisplayConversion : public BuiltinTest {
protected:
    static std::string show(const Item& it) {
        DisplayText t = displayText(&it);
        return std::string(t.text, t.length);
    }
};

TEST_F(DisplayConversion, NumbersWithoutAWidthTakeTheWidthRule) {
    EXPECT_EQ(show(intItem(5, 0)), "         5");
    EXPECT_EQ(show(intItem(2000000000, 0)), std::string(10, ' ') + "2000000000");
    EXPECT_EQ(show(doubleItem(5.25, 0, 2)), std::string(9, ' ') + "5.25");
    EXPECT_EQ(show(doubleItem(-5.25, 0, 2)), std::string(11, ' ') + "-5.25");
    EXPECT_EQ(show(doubleItem(2.5, 0, 0)), "         3");
    EXPECT_EQ(show(doubleItem(123456, 5, 0)), "*****");
}

TEST_F(DisplayConversion, FixedFormatReshapesNumbersThatHaveAWidth) {
    settingSetLogical(SET_FIXEDFORMAT, true);
    settingSetNumber(SET_DECIMALS, 4);
    // the old decimals' room comes out of the width, the setting's goes in
    EXPECT_EQ(show(doubleItem(3.14159, 8, 2)), "    3.1416");
    EXPECT_EQ(show(intItem(7, 3)), "  7.0000");
}

TEST_F(DisplayConversion, TextsAsTheyAreAndOtherTypesAsNothing) {
    EXPECT_EQ(show(str("a b ")), "a b ");
    EXPECT_EQ(show(memo("memo")), "memo");
    EXPECT_EQ(show(str(std::string("a\0b", 3))), std::string("a\0b", 3));
    EXPECT_EQ(show(array(2)), "");
    EXPECT_EQ(show(block()), "");
    // a Word item is no number to show, whatever its value and width
    for (int32_t v : {0, 7, 65535}) {
        Item w = wordItem(v);
        w.width = 10;
        EXPECT_EQ(show(w), "") << v;
    }
}

}  // namespace
