#include <gtest/gtest.h>

#include "capture/Registration.h"
#include "capture/Synthetic.h"

using capture::registerFrames;
using namespace testing_capture;

TEST(Registration, FindsKnownShiftsBothWays) {
    kit::Image page = makePage(640, 3000);
    kit::Image prev = rows(page, 1000, 400);
    for (int s : {0, 1, 17, 99, 150, 279, -1, -23, -200, -279}) {
        auto r = registerFrames(prev, rows(page, 1000 + s, 400));
        ASSERT_TRUE(r) << s;
        EXPECT_EQ(r->dy, s);
        EXPECT_LT(r->cost, 1.0);
    }
}

TEST(Registration, SmoothContentAndFixedMargins) {
    // Wide, soft horizontal bands with a fixed side bar that never scrolls.
    kit::Image page(300, 2000);
    for (int y = 0; y < 2000; ++y)
        for (int x = 0; x < 300; ++x) {
            double v = 0.5 + 0.25 * std::sin(y * 0.05) + 0.2 * std::sin(y * 0.013 + x * 0.02);
            page.setPixel(x, y, {uint8_t(v * 255), uint8_t(v * 200), uint8_t(v * 100), 255});
        }
    auto frame = [&](int top) {
        kit::Image f = rows(page, top, 240);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 20; ++x) f.setPixel(x, y, {0, 0, 0, 255});
        return f;
    };
    auto r = registerFrames(frame(500), frame(563));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->dy, 63);
}

TEST(Registration, StillFramesAndUnrelatedFrames) {
    kit::Image flat(200, 200);
    flat.fill(kit::Color::white(0.7));
    auto still = registerFrames(flat, flat);
    ASSERT_TRUE(still);
    EXPECT_EQ(still->dy, 0);

    kit::Image a = makePage(200, 200, 1), b = makePage(200, 200, 2);
    EXPECT_FALSE(registerFrames(a, b));
    EXPECT_FALSE(registerFrames(a, rows(a, 0, 100)));
    EXPECT_FALSE(registerFrames(kit::Image(), a));
}

TEST(Registration, ShiftsBeyondTheLimitAreNotFound) {
    kit::Image page = makePage(200, 1000);
    // The largest allowed shift still registers; more than that does not.
    EXPECT_EQ(registerFrames(rows(page, 0, 200), rows(page, 100, 200), 100)->dy, 100);
    auto r = registerFrames(rows(page, 0, 200), rows(page, 150, 200), 100);
    EXPECT_TRUE(!r || r->dy != 150);
}
