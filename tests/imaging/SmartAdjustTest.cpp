#include <gtest/gtest.h>

#include "Fixtures.h"
#include "imaging/SmartAdjust.h"

using namespace imaging;
using test::paintUp;

using Edges = std::pair<double, double>;

TEST(SmartAdjust, LooseSelectionSnapsToADarkWindow) {
    kit::Image img = test::solid(200, 150, 230, 230, 230);
    paintUp(img, 50, 40, 80, 60, 40, 40, 40);
    paintUp(img, 60, 50, 20, 10, 240, 240, 240);  // content inside the window
    Capture cap = Capture::of(img);
    EXPECT_EQ(smartAdjust(cap, {30, 20, 120, 100}), kit::Rect(50, 40, 80, 60));
    EXPECT_EQ(smartAdjust(cap, {150, 120, -120, -100}), kit::Rect(50, 40, 80, 60));  // drawn backwards
}

TEST(SmartAdjust, SideThroughContentJumpsToTheNearerEdgeWeighedThreeToOne) {
    // A dark block over the full height; a red stripe low in column 100 makes
    // that column non-uniform, so the left side must scout along the middle row.
    for (auto [from, to, expected] : {std::tuple{90, 125, 125.0}, {95, 120, 95.0}}) {
        kit::Image img = test::solid(300, 100, 255, 255, 255);
        paintUp(img, from, 0, to - from, 100, 20, 20, 20);
        paintUp(img, 96, 0, 10, 5, 200, 0, 0);
        Capture cap = Capture::of(img);
        EXPECT_EQ(smartAdjustMinX(cap, {100, 0, 150, 100}), kit::Rect(expected, 0, 250 - expected, 100));
    }
}

TEST(SmartAdjust, UniformAreaMovesOnlyOuterQuarterSidesToTheCropBorder) {
    Capture cap = Capture::of(test::solid(100, 80, 90, 120, 150));
    EXPECT_EQ(smartAdjust(cap, {10, 10, 20, 20}), kit::Rect(0, 0, 30, 30));
    EXPECT_EQ(smartAdjust(cap, {40, 30, 40, 20}), kit::Rect(40, 30, 60, 20));
    EXPECT_EQ(smartAdjust(cap, {5, 65, 90, 10}), kit::Rect(0, 65, 100, 15));
}

TEST(SmartAdjust, ScoutFindsEdgesSkipsSpikesAndHonoursPersistence) {
    kit::Image img = test::solid(100, 10, 0, 0, 0);
    paintUp(img, 30, 0, 30, 10, 128, 128, 128);
    paintUp(img, 60, 0, 40, 10, 255, 255, 255);
    Capture cap = Capture::of(img);
    EXPECT_EQ(scout(cap, 45, 5, false, 0), Edges(30, 60));
    EXPECT_EQ(scout(cap, 10, 5, false, 0), Edges(0, 30));
    EXPECT_EQ(scout(cap, 10, 5, false, 1), Edges(0, 60));
    EXPECT_EQ(scout(cap, 10, 5, false, 2), Edges(0, 100));

    // A one-pixel step of 30 followed by a far bigger one is a spike: the
    // edge is where the big step ends.
    kit::Image spike = test::solid(100, 4, 100, 100, 100);
    paintUp(spike, 50, 0, 1, 4, 110, 110, 110);
    paintUp(spike, 51, 0, 49, 4, 255, 255, 255);
    EXPECT_EQ(scout(Capture::of(spike), 10, 2, false, 0), Edges(0, 51));
    paintUp(spike, 50, 0, 1, 4, 255, 255, 255);
    EXPECT_EQ(scout(Capture::of(spike), 10, 2, false, 0), Edges(0, 50));
}

TEST(SmartAdjust, ScoutAlongAColumnGivesYPositionsLowerFirst) {
    kit::Image img = test::solid(100, 100, 250, 250, 250);
    paintUp(img, 0, 20, 100, 20, 10, 10, 10);
    Capture cap = Capture::of(img);
    EXPECT_EQ(scout(cap, 50, 30, true, 0), Edges(20, 40));
    EXPECT_EQ(scout(cap, 50, 70, true, 0), Edges(40, 100));
    // The crop shifts everything: crop y 0 is image y 10.
    Capture c = test::cropped(img, {0, 50, 100, 50});  // buffer rows 50..99 = image y 0..49
    EXPECT_EQ(scout(c, 50, 30, true, 0), Edges(20, 40));
}

TEST(SmartAdjust, OutOfRangePointsAndMissingPixels) {
    test::Recorder rec;
    Capture cap = Capture::of(test::solid(50, 40, 0, 0, 0));
    EXPECT_EQ(scout(cap, -5, 3, false, 0), Edges(0, 0));
    EXPECT_EQ(scout(cap, -5, 3, true, 0), Edges(3, 3));
    EXPECT_EQ(scout(cap, 7, -1, false, 0), Edges(7, 7));
    EXPECT_EQ(scout(cap, 60, 3, false, 0), Edges(49, 49));
    EXPECT_EQ(scout(cap, 7, 45, true, 0), Edges(39, 39));
    // Points on the crop's far edges read the edge pixels, never past them.
    EXPECT_EQ(scout(cap, 49.5, 0, false, 0), Edges(0, 50));
    EXPECT_EQ(scout(cap, 50, 3, false, 0), Edges(0, 50));
    EXPECT_EQ(scout(cap, 7, 40, true, 0), Edges(0, 40));
    EXPECT_EQ(scout(cap, 50, 3, true, 0), Edges(3, 3));  // no column there
    // A selection of the whole uniform image keeps every side on the border.
    EXPECT_EQ(smartAdjust(cap, {0, 0, 50, 40}), kit::Rect(0, 0, 50, 40));
    EXPECT_TRUE(rec.errors.empty());

    Capture none = cap;
    none.pixels = {};
    EXPECT_EQ(scout(none, 0.5, 0.5, false, 0), Edges(0, 0));
    EXPECT_FALSE(checkHomogeneitySide(none, 10, 10, 0, 10, 1, true, 0, 10));
    ASSERT_EQ(rec.errors.size(), 2u);
    EXPECT_EQ(rec.errors[0], "scout(sx:sy:vertical:persistence:): No pixel data");
    // Too small for the margin test.
    EXPECT_FALSE(checkHomogeneitySide(cap, 1.9, 10, 0, 10, 1, true, 0, 10));
}
