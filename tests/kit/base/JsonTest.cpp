#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kit/base/Json.h"
#include "kit/base/Parse.h"

using kit::Json;
namespace json = kit::json;

TEST(Json, DumpIsCompactWithSortedKeys) {
    Json j = {{"zeta", 1}, {"alpha", {{"b", true}, {"a", nullptr}}}, {"mid", {1.5, "x"}}};
    EXPECT_EQ(json::dump(j), R"({"alpha":{"a":null,"b":true},"mid":[1.5,"x"],"zeta":1})");
    // Invalid UTF-8 does not throw; NaN becomes null.
    Json bad = {{"s", std::string("a\xff") + "b"}, {"n", std::nan("")}};
    EXPECT_EQ(json::dump(bad),
              "{\"n\":null,\"s\":\"a\xEF\xBF\xBD"
              "b\"}");
}

TEST(Json, ParseRefusesMalformedTextWithoutThrowing) {
    EXPECT_FALSE(json::parse(""));
    EXPECT_FALSE(json::parse("{"));
    EXPECT_FALSE(json::parse("{\"a\":1} trailing"));
    EXPECT_FALSE(json::parse("{'a':1}"));
    EXPECT_FALSE(json::parse("[1,]"));
    EXPECT_FALSE(json::parse(std::string(100000, '[')));
    // Deep nesting is refused even when well formed (it would overflow the
    // stack when copied or dumped); brackets inside strings do not count.
    EXPECT_FALSE(json::parse(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_TRUE(json::parse(std::string(512, '[') + std::string(512, ']')));
    EXPECT_FALSE(json::parse(std::string(513, '[') + std::string(513, ']')));
    EXPECT_TRUE(json::parse("[\"" + std::string(1000, '[') + "\\\"\"]"));
    auto ok = json::parse("  {\"a\": [1, 2.5, \"x\"]}\n");
    ASSERT_TRUE(ok);
    EXPECT_EQ((*ok)["a"][1].get<double>(), 2.5);
    // Integers and doubles stay apart.
    EXPECT_TRUE((*ok)["a"][0].is_number_integer());
    EXPECT_TRUE((*ok)["a"][1].is_number_float());
}

TEST(Json, StrictIntegerReader) {
    EXPECT_EQ(json::toInt(Json(42)), 42);
    EXPECT_EQ(json::toInt(Json(-7)), -7);
    EXPECT_EQ(json::toInt(*json::parse("3.0")), 3);
    EXPECT_FALSE(json::toInt(*json::parse("2.5")));
    EXPECT_FALSE(json::toInt(Json(true)));
    EXPECT_FALSE(json::toInt(Json("3")));
    EXPECT_FALSE(json::toInt(Json(nullptr)));
    EXPECT_FALSE(json::toInt(*json::parse("18446744073709551615")));  // above int64
    EXPECT_EQ(json::toInt(*json::parse("9223372036854775807")), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(json::toInt(*json::parse("-9223372036854775808")), std::numeric_limits<int64_t>::min());
    EXPECT_FALSE(json::toInt(Json(9.3e18)));  // beyond int64 as a double
    EXPECT_FALSE(json::toInt(Json(std::numeric_limits<double>::infinity())));
}

TEST(Json, StrictReadersOfOtherKinds) {
    EXPECT_EQ(json::toDouble(Json(2)), 2.0);
    EXPECT_EQ(json::toDouble(Json(2.5)), 2.5);
    EXPECT_FALSE(json::toDouble(Json(true)));
    EXPECT_FALSE(json::toDouble(Json("2.5")));
    EXPECT_EQ(json::toString(Json("x")), "x");
    EXPECT_FALSE(json::toString(Json(1)));
    EXPECT_EQ(json::toBool(Json(false)), false);
    EXPECT_FALSE(json::toBool(Json(0)));

    Json obj = {{"i", 5}, {"d", 0.25}, {"s", "t"}, {"b", true}};
    EXPECT_EQ(json::intAt(obj, "i"), 5);
    EXPECT_EQ(json::doubleAt(obj, "d"), 0.25);
    EXPECT_EQ(json::stringAt(obj, "s"), "t");
    EXPECT_EQ(json::boolAt(obj, "b"), true);
    EXPECT_FALSE(json::intAt(obj, "missing"));
    EXPECT_FALSE(json::intAt(obj, "d"));
    EXPECT_FALSE(json::intAt(Json::array({1}), "i"));
    EXPECT_EQ(json::memberAt(Json(3), "i"), nullptr);
}

TEST(Json, DoubleTextIsShortestRoundTrip) {
    struct Case {
        double v;
        const char* text;
    } cases[] = {
        {10.0, "10.0"},
        {0.5, "0.5"},
        {12.34, "12.34"},
        {5.0, "5.0"},
        {-3.25, "-3.25"},
        {0.1, "0.1"},
        {1.0 / 3, "0.3333333333333333"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
        {1.5e-7, "1.5e-07"},
        {123456789.0, "123456789.0"},
        {1e16, "10000000000000000.0"},
        {1.5e20, "1.5e+20"},
        {1e100, "1e+100"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {5e-324, "5e-324"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json::doubleText(c.v), c.text) << c.text;
        if (std::isfinite(c.v)) {
            EXPECT_EQ(kit::parseDouble(json::doubleText(c.v)), c.v) << c.text;
        }
    }
    EXPECT_EQ(json::doubleText(std::nan("")), "nan");
    EXPECT_EQ(json::doubleText(-std::numeric_limits<double>::infinity()), "-inf");
}
