#include <gtest/gtest.h>

#include <limits>

#include "kit/base/Parse.h"

using namespace kit;

TEST(Parse, IntegersTakeTheWholeText) {
    EXPECT_EQ(parseInt64("0"), 0);
    EXPECT_EQ(parseInt64("42"), 42);
    EXPECT_EQ(parseInt64("+42"), 42);
    EXPECT_EQ(parseInt64("-5"), -5);
    EXPECT_EQ(parseInt64("007"), 7);
    for (const char* bad : {"", "+", "-", " 1", "1 ", "1a", "0x10", "1.0", "1e3", "--1", "+-1", "١"})
        EXPECT_FALSE(parseInt64(bad)) << bad;
}

TEST(Parse, IntegersRefuseOverflow) {
    EXPECT_EQ(parseInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(parseInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_FALSE(parseInt64("9223372036854775808"));
    EXPECT_FALSE(parseInt64("-9223372036854775809"));
    EXPECT_FALSE(parseInt64("99999999999999999999999"));
    EXPECT_EQ(parseInt32("2147483647"), 2147483647);
    EXPECT_EQ(parseInt32("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_FALSE(parseInt32("2147483648"));
    EXPECT_EQ(parseUInt64("18446744073709551615"), std::numeric_limits<uint64_t>::max());
    EXPECT_FALSE(parseUInt64("18446744073709551616"));
    EXPECT_FALSE(parseUInt64("-0"));
    EXPECT_EQ(parseUInt64("+7"), 7u);
}

TEST(Parse, Doubles) {
    EXPECT_EQ(parseDouble("1.5"), 1.5);
    EXPECT_EQ(parseDouble("-.5"), -0.5);
    EXPECT_EQ(parseDouble("+2."), 2.0);
    EXPECT_EQ(parseDouble("1e3"), 1000.0);
    EXPECT_EQ(parseDouble("1E-2"), 0.01);
    EXPECT_EQ(parseDouble("12"), 12.0);
    EXPECT_EQ(parseDouble("0.1"), 0.1);
    // Underflow reads as zero; overflow is refused.
    EXPECT_EQ(parseDouble("1e-400"), 0.0);
    EXPECT_EQ(
        parseDouble("0.00000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                    "00000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                    "00000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                    "00000000000000000000000000000000000000000000000000000000000000000000000000000000001"),
        0.0);
    EXPECT_FALSE(parseDouble("1e400"));
    EXPECT_FALSE(parseDouble(std::string(400, '9')));
    for (const char* bad :
         {"", ".", "-", "e5", "1e", "1e+", "inf", "nan", "-inf", "0x1p3", " 1", "1 ", "1,5", "1.2.3", "++1"})
        EXPECT_FALSE(parseDouble(bad)) << bad;
}
