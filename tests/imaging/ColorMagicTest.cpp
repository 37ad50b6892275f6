#include <gtest/gtest.h>

#include "Fixtures.h"
#include "imaging/ColorMagic.h"

using namespace imaging;
using test::paint;

TEST(ColorMagic, FourBlocksGiveFourColoursMostFrequentFirst) {
    kit::Image img(400, 300);
    paint(img, 0, 0, 250, 300, 200, 30, 30);    // red: the largest block
    paint(img, 250, 0, 150, 100, 30, 160, 40);  // green
    paint(img, 250, 100, 150, 100, 40, 60, 210);
    paint(img, 250, 200, 150, 100, 230, 200, 20);
    auto colors = ColorMagic::dominantColors(img, 8, 400);
    ASSERT_EQ(colors.size(), 4u);
    EXPECT_EQ(ColorMagic::cg2hex(colors[0]), "#C81E1E");
    std::vector<std::string> rest;
    for (size_t i = 1; i < 4; ++i) rest.push_back(ColorMagic::cg2hex(colors[i]));
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(rest, (std::vector<std::string>{"#1EA028", "#283CD2", "#E6C814"}));
    // Above the threshold only: each small block holds 30 x 20 = 600 pixels.
    EXPECT_EQ(ColorMagic::dominantColors(img, 8, 600).size(), 1u);
    EXPECT_EQ(ColorMagic::dominantColors(img, 2, 0).size(), 2u);
}

TEST(ColorMagic, GreyDarkLightAndTransparentPixelsDoNotCount) {
    kit::Image img(100, 100);
    paint(img, 0, 0, 25, 100, 128, 128, 133);                                  // grey: spread 5
    paint(img, 25, 0, 25, 100, 20, 10, 15);                                    // near black
    paint(img, 50, 0, 25, 100, 250, 250, 240);                                 // near white
    EXPECT_TRUE(ColorMagic::dominantColors(img, 8, 0).empty());                // the rest is transparent
    EXPECT_TRUE(ColorMagic::dominantColors(kit::Image(2, 50), 8, 0).empty());  // shrinks to nothing
    EXPECT_TRUE(ColorMagic::resize(kit::Image(2, 2), 0.2).isNull());
    EXPECT_EQ(ColorMagic::resize(kit::Image(10, 7), 0.5).height(), 4);  // 3.5 rounds up
}

TEST(ColorMagic, ClusteringMergesNearColoursAddingOneEach) {
    ColorMagic::CountedSet set;
    for (int i = 0; i < 50; ++i) set.add({200, 0, 0});
    for (int i = 0; i < 40; ++i) set.add({0, 0, 200});
    for (int i = 0; i < 30; ++i) set.add({210, 10, 10});  // 30/255 from red: merges
    EXPECT_EQ(set.count({210, 10, 10}), 30u);
    EXPECT_EQ(set.size(), 3u);
    // Red 50 + 1 = 51, blue 40: both above 40.5? Red only above 45.
    auto top = ColorMagic::dominantColorFrequencies(set, 8, 100, 45);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(ColorMagic::cg2hex(top[0]), "#C80000");
    // Exactly one is added for the merged colour, not its 30: red's cluster
    // counts 51, so it passes a threshold of 50 and fails one of 51.
    EXPECT_EQ(ColorMagic::dominantColorFrequencies(set, 8, 100, 50).size(), 1u);
    EXPECT_TRUE(ColorMagic::dominantColorFrequencies(set, 8, 100, 51).empty());
    // Two more near colours: one each again (53).
    ColorMagic::CountedSet more = set;
    for (int i = 0; i < 20; ++i) more.add({205, 5, 0});
    for (int i = 0; i < 10; ++i) more.add({195, 0, 5});
    EXPECT_EQ(ColorMagic::dominantColorFrequencies(more, 8, 100, 52).size(), 1u);
    EXPECT_TRUE(ColorMagic::dominantColorFrequencies(more, 8, 100, 53).empty());
    EXPECT_EQ(ColorMagic::dominantColorFrequencies(set, 8, 100, 0).size(), 2u);
    // Only the first cluster made is kept when one is asked for.
    EXPECT_EQ(ColorMagic::cg2hex(ColorMagic::dominantColorFrequencies(set, 1, 100, 0).at(0)), "#C80000");
    // Counts at or below area / 10000 are dropped.
    EXPECT_TRUE(ColorMagic::dominantColorFrequencies(set, 8, 500000, 0).empty());
}

TEST(ColorMagic, TopColorsOfStoredTexts) {
    EXPECT_TRUE(ColorMagic::topColors({}, 8).empty());
    EXPECT_TRUE(ColorMagic::topColors({"#000000", "#FFFFFF", "#808080", "#7F8080"}, 8).empty());
    auto top = ColorMagic::topColors({"#FF0000", "#00FF00", "#FF0000", "#FE0101", "garbage"}, 8);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(ColorMagic::cg2hex(top[0]), "#FF0000");
    EXPECT_EQ(ColorMagic::cg2hex(top[1]), "#00FF00");
}

TEST(ColorMagic, HexTexts) {
    EXPECT_EQ(ColorMagic::cg2hex({1.0, 0.5, 0.0, 1}), "#FF8000");
    kit::Color c = ColorMagic::hex2cg("  #ff8000 ", 0.3);
    EXPECT_EQ(c, (kit::Color{1.0, 128 / 255.0, 0.0, 0.3}));
    EXPECT_EQ(ColorMagic::hex2cg("FF80", 0.3), kit::Color::black());
    EXPECT_EQ(ColorMagic::hex2cg("FF80G0", 0.3), kit::Color::black());
}
