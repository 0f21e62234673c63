// SPDX-License-Identifier: GPL-3.0-or-later
// The number fields' text rule, case by case.
#include "base/int_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct IntCase {
    const char* text;
    bool ok;
    std::int32_t value;
};

const IntCase kCases[] = {
    {"5", true, 5},
    {"-5", true, -5},
    {"+7", true, 7},
    {"  12", true, 12},
    {"\t12", true, 12},
    {"12  ", true, 12},
    {" \t-3\t ", true, -3},
    {"0", true, 0},
    {"000", true, 0},
    {"  0  ", true, 0},
    {"007", true, 7},
    {"1 2", false, 0},
    {"12a", false, 0},
    {"abc", false, 0},
    {"", false, 0},
    {"   ", false, 0},
    {"+0", false, 0},
    {"-0", false, 0},
    {"-", false, 0},
    {"+ 5", false, 0},
    {"5-", false, 0},
    {"0x10", false, 0},
    {"\n5", false, 0},
    {"5\n", false, 0},
    {"2147483647", true, INT_MAX},
    {"2147483648", true, INT_MAX},
    {"99999999999999999999", true, INT_MAX},
    {"-2147483648", true, INT_MIN},
    {"-2147483649", true, INT_MIN},
    {"-99999999999999999999", true, INT_MIN},
    // Only 31 bytes are read: whatever follows them does not count.
    {"                              5abc", true, 5},
    {"                              a5", false, 0},
    {"0000000000000000000000000000001", true, 1},
    {"00000000000000000000000000000001", true, 0},
};

TEST(IntTextTest, ParsesOrRefusesByTheRule) {
    for (const IntCase& c : kCases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        std::int32_t value = 4242;
        EXPECT_EQ(ParseIntText(c.text, value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 4242); // untouched when refused
    }
}

TEST(IntTextTest, WrittenTextReadsBack) {
    for (std::int32_t v : {0, 1, -1, 250, -10000, INT_MAX, INT_MIN}) {
        std::int32_t back = 99;
        ASSERT_TRUE(ParseIntText(IntText(v), back)) << v;
        EXPECT_EQ(back, v);
    }
    EXPECT_EQ(IntText(-5), "-5");
}

} // namespace
