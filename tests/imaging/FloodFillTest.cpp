#include <gtest/gtest.h>

#include "Fixtures.h"
#include "imaging/FloodFill.h"

using namespace imaging;
using test::paintUp;

TEST(FloodFill, LonePixelGivesItsOwnBoxAndReportsTheFill) {
    test::Recorder rec;
    kit::Image img = test::solid(5, 5, 200, 200, 200);
    paintUp(img, 2, 3, 1, 1, 0, 0, 0);
    EXPECT_EQ(scanlineFloodFill(Capture::of(img), 2, 3), kit::Rect(2, 3, 1, 1));
    EXPECT_EQ(rec.value("floodfill-select", "aborted"), EventValue(std::string("false")));
    EXPECT_EQ(rec.value("floodfill-select", "width"), EventValue(1LL));
    // Fractions are truncated; the background around the pixel is one region.
    EXPECT_EQ(scanlineFloodFill(Capture::of(img), 0.9, 0.2), kit::Rect(0, 0, 5, 5));
}

TEST(FloodFill, FollowsGradualStepsButStopsAtTen) {
    for (int step : {9, 10}) {
        // A red ramp between two blue rows; its ends differ by 255.
        kit::Image img = test::solid(30, 3, 0, 0, 200);
        for (int x = 0; x < 30; ++x) paintUp(img, x, 1, 1, 1, std::min(255, x * step), 0, 0);
        kit::Rect r = scanlineFloodFill(Capture::of(img), 0, 1);
        EXPECT_EQ(r, step == 9 ? kit::Rect(0, 1, 30, 1) : kit::Rect(0, 1, 1, 1)) << step;
    }
}

TEST(FloodFill, AreaLimitIsOnTheBoxDifferences) {
    test::Recorder rec;
    kit::Image img = test::solid(2002, 2001, 50, 50, 50);
    paintUp(img, 2001, 0, 1, 2001, 250, 0, 0);
    EXPECT_EQ(scanlineFloodFill(Capture::of(img), 10, 10), kit::Rect(0, 0, 2001, 2001));
    paintUp(img, 2001, 0, 1, 2001, 50, 50, 50);
    EXPECT_EQ(scanlineFloodFill(Capture::of(img), 10, 10), kit::Rect(10, 10, 0, 0));
    EXPECT_EQ(rec.value("floodfill-select", "aborted"), EventValue(std::string("true")));
    EXPECT_EQ(rec.value("floodfill-select", "height"), EventValue(0LL));
    // One row, however long, has a box of area zero.
    kit::Image line = test::solid(6000, 3, 0, 0, 0);
    paintUp(line, 0, 1, 6000, 1, 90, 90, 90);
    EXPECT_EQ(scanlineFloodFill(Capture::of(line), 3000, 1), kit::Rect(0, 1, 6000, 1));
}

TEST(FloodFill, StopsAtTheCropEdges) {
    kit::Image img = test::solid(20, 20, 10, 10, 10);
    Capture cap = test::cropped(img, {5, 5, 8, 6});
    EXPECT_EQ(scanlineFloodFill(cap, 7, 5), kit::Rect(0, 0, 8, 6));  // top row of the crop
    EXPECT_EQ(scanlineFloodFill(cap, 0, 0), kit::Rect(0, 0, 8, 6));
    test::paint(img, 5, 5, 3, 2, 200, 0, 0);  // a block in the crop's top-left corner
    cap.pixels = img;
    EXPECT_EQ(scanlineFloodFill(cap, 1, 5), kit::Rect(0, 4, 3, 2));
}

TEST(FloodFill, ClicksOutsideTheCropOrBufferSelectNothing) {
    kit::Image img = test::solid(10, 10, 10, 10, 10);
    Capture cap = test::cropped(img, {0, 0, 10, 10});
    // The crop tool lets x reach the width; there is no pixel there.
    EXPECT_EQ(scanlineFloodFill(cap, 10, 3), kit::Rect(10, 3, 0, 0));
    EXPECT_EQ(scanlineFloodFill(cap, 3, 10), kit::Rect(3, 10, 0, 0));
    EXPECT_EQ(scanlineFloodFill(cap, -1, 3), kit::Rect(-1, 3, 0, 0));
    // A crop reaching past the buffer fills only what the buffer holds.
    Capture wide = test::cropped(img, {4, 0, 10, 10});
    EXPECT_EQ(scanlineFloodFill(wide, 0, 0), kit::Rect(0, 0, 6, 10));
    EXPECT_EQ(scanlineFloodFill(wide, 8, 0), kit::Rect(8, 0, 0, 0));
    EXPECT_EQ(scanlineFloodFill(Capture{}, 1, 2), kit::Rect(1, 2, 0, 0));
    // A bogus crop of a billion pixels a side costs no more than the buffer.
    Capture huge = test::cropped(img, {-5e8, -5e8, 1e9, 1e9});
    EXPECT_EQ(scanlineFloodFill(huge, 5e8 + 2, 5e8 - 3), kit::Rect(5e8, 5e8 - 10, 10, 10));
}
