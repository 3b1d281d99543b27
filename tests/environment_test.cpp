// The one reader of environment variables and its whole-value form: the
// full length is reported even when the value does not fit, no part of such
// a value is handed on, and both backends agree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/environment.h"

using namespace xb::os;

namespace {

void setVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv((std::string(name) + "=" + value).c_str());
#else
    setenv(name, value, 1);
#endif
}

struct ReadCase {
    const char* value;
    uint32_t size;        // the buffer offered
    const char* expected;  // what the buffer holds afterwards
    bool whole;           // environmentValue's answer
};

TEST(Environment, ReaderReportsFullLengthAndHandsOnOnlyWholeValues) {
    const ReadCase cases[] = {
        {"abc", 16, "abc", true},
        {"abc", 4, "abc", true},    // exactly fits with its terminator
        {"abcd", 4, "", false},  // does not fit: the length says so
        {"abcdef", 1, "", false},
        {"x y=z", 8, "x y=z", true},
    };
    for (const ReadCase& c : cases) {
        setVariable("XB_ENV_READER_TEST", c.value);
        char buf[32];
        std::memset(buf, '#', sizeof buf);
        uint32_t length = 999;
        ASSERT_TRUE(environmentVariable("XB_ENV_READER_TEST", buf, c.size, &length)) << c.value;
        EXPECT_EQ(length, std::strlen(c.value)) << c.value;
        EXPECT_STREQ(buf, c.expected) << c.value << " in " << c.size;
        char whole[32];
        std::memset(whole, 0, sizeof whole);
        EXPECT_EQ(environmentValue("XB_ENV_READER_TEST", whole, c.size), c.whole) << c.value << " in " << c.size;
        if (c.whole) {
            EXPECT_STREQ(whole, c.value);
        }
    }
}

TEST(Environment, MissingAndNamelessVariablesAreNotSet) {
    char buf[8] = "keep";
    uint32_t length = 7;
    EXPECT_FALSE(environmentVariable("XB_ENV_READER_SURELY_UNSET", buf, sizeof buf, &length));
    EXPECT_FALSE(environmentVariable("", buf, sizeof buf, &length));
    EXPECT_FALSE(environmentVariable(nullptr, buf, sizeof buf, &length));
    EXPECT_FALSE(environmentValue("XB_ENV_READER_SURELY_UNSET", buf, sizeof buf));
    EXPECT_EQ(length, 7u);
    EXPECT_STREQ(buf, "keep");
}

}  // namespace
