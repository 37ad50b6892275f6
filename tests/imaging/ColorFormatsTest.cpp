#include <gtest/gtest.h>

#include <climits>

#include "Fixtures.h"
#include "imaging/ColorFormats.h"
#include "services/Settings.h"

using namespace imaging;

TEST(ColorFormats, EveryFormatOfTheMenuExampleColour) {
    const std::pair<const char*, std::pair<std::string, std::string>> expected[] = {
        {"HEX", {"#FFC200", "#FFC200"}},
        {"HEXno", {"FFC200", "FFC200"}},
        {"RGBA", {"255, 194, 0", "rgba(255, 194, 0, 1)"}},
        {"RGB1", {"1.00, 0.76, 0.00", "(1.00, 0.76, 0.00)"}},
        {"Android", {"0xFFFFC200", "0xFFFFC200"}},
        {"UIColor", {"1.00, 0.76, 0.00", "UIColor(red: 1.00, green: 0.76, blue: 0.00, alpha: 1.00)"}},
        {"CSharp", {"255, 194, 0", "Color.fromArgb(255, 194, 0);"}},
    };
    ASSERT_EQ(colorFormats().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(colorFormats()[i].id, expected[i].first);
        EXPECT_EQ(formatColor(255, 194, 0, expected[i].first), expected[i].second) << expected[i].first;
    }
    EXPECT_EQ(colorFormats()[3].readoutWidth, "120");
}

TEST(ColorFormats, PaddingDecimalsAndFallback) {
    EXPECT_EQ(formatColor(0, 0, 0, "HEX").first, "#000000");
    EXPECT_EQ(formatColor(0, 0, 0, "RGBA").first, "0, 0, 0");
    EXPECT_EQ(formatColor(5, 5, 5, "HEXno").first, "050505");
    EXPECT_EQ(formatColor(5, 10, 255, "CSharp").first, "5, 10, 255");
    // Ids are compared exactly: anything else is the first row.
    EXPECT_EQ(formatColor(1, 2, 3, "hex").first, "#010203");
    // Components past 0...255 are clamped, every format alike.
    EXPECT_EQ(formatColor(300, -5, 128, "HEX").first, "#FF0080");
    EXPECT_EQ(formatColor(300, -5, 128, "RGBA").first, "255, 0, 128");
    EXPECT_EQ(formatColor(256, 1000, -1, "HEXno").first, "FFFF00");
    EXPECT_EQ(formatColor(INT_MIN, INT_MAX, 0, "HEX").first, "#00FF00");
    EXPECT_EQ(formatColor(1, 2, 3, "").second, "#010203");
}

TEST(ColorFormats, TheUsersChosenFormat) {
    EXPECT_EQ(formatColor(255, 194, 0).first, "#FFC200");  // the default
    services::Settings::shared().setColorFormat("CSharp");
    EXPECT_EQ(formatColor(255, 194, 0).second, "Color.fromArgb(255, 194, 0);");
    services::Settings::shared().setColorFormat("rgb1");
    EXPECT_EQ(formatColor(255, 194, 0).second, "#FFC200");
    services::Settings::shared().setColorFormat("HEX");
}

TEST(ColorFormats, ConversionPacksRedInTheLowByte) {
    Capture cap = Capture::of(test::solid(2, 2, 0, 0, 0));
    SampledColor c = convertColorSpaces(cap, 1, 2, 3);
    EXPECT_EQ(c.packed, 197121u);
    EXPECT_EQ(c.color, kit::Color::rgb(1, 2, 3));
    SampledColor none = convertColorSpaces(Capture{}, 1, 2, 3);
    EXPECT_EQ(none.packed, 0u);
    EXPECT_EQ(none.color, kit::Color::clear());
}
