#include <gtest/gtest.h>

#include "capture/ScrollCapturer.h"
#include "capture/Synthetic.h"

using capture::ScrollCapturer;
using namespace testing_capture;

class Stitching : public ::testing::Test {
protected:
    void SetUp() override { spy.install(); }
    void TearDown() override { capture::resetHost(); }
    HostSpy spy;
    kit::Image page = makePage(120, 2000);
};

TEST_F(Stitching, CombineLaysFixedStepsInBothDirections) {
    // Region 300 rows, step 100, margin 100: strips of 200 rows.
    std::vector<kit::Image> down{rows(page, 0, 300)};
    for (int i = 1; i <= 4; ++i) down.push_back(rows(page, i * 100 + 100, 200));
    kit::Image img = ScrollCapturer::combine(down, {}, -1, 100, 100, 1.0);
    EXPECT_EQ(img, rows(page, 0, 700));

    // Going up the first frame is the bottom of the page and strips come from the top edge.
    std::vector<kit::Image> up{rows(page, 1000, 300)};
    for (int i = 1; i <= 3; ++i) up.push_back(rows(page, 1000 - i * 100, 200));
    EXPECT_EQ(ScrollCapturer::combine(up, {}, 1, 100, 100, 1.0), rows(page, 700, 600));

    EXPECT_EQ(ScrollCapturer::combine({rows(page, 5, 50)}, {}, -1, 10, 5, 2.0), rows(page, 5, 50));
    EXPECT_TRUE(ScrollCapturer::combine({}, {}, -1, 10, 5, 1.0).isNull());
    EXPECT_TRUE(spy.oopsed("Trying to combine zero images"));
}

TEST_F(Stitching, CombineAtScaleTwoMatchesTheDocumentedHeights) {
    // First frame 1200 px, three strips of 700 px at 200-px steps: 1800 px.
    std::vector<kit::Image> shots{rows(page, 0, 1200)};
    for (int i = 1; i <= 3; ++i) shots.push_back(rows(page, 1200 + i * 200 - 700, 700));
    kit::Image img = ScrollCapturer::combine(shots, {}, -1, 100, 250, 2.0);
    ASSERT_EQ(img.height(), 1800);
    EXPECT_EQ(img, rows(page, 0, 1800));
}

TEST_F(Stitching, MeasuredAdvancesReproduceThePage) {
    int tops[] = {0, 70, 200, 290, 333};
    std::vector<kit::Image> shots{rows(page, 0, 300)};
    std::vector<int> adv;
    for (int i = 1; i < 5; ++i) {
        shots.push_back(rows(page, tops[i] + 100, 200));  // bottom 200 rows of the frame
        adv.push_back(tops[i] - tops[i - 1]);
    }
    EXPECT_EQ(ScrollCapturer::combineMeasured(shots, adv, -1), rows(page, 0, 633));

    std::vector<kit::Image> up{rows(page, 1000, 300)};
    std::vector<int> upAdv{45, 120, 3};
    int top = 1000;
    for (int a : upAdv) {
        top -= a;
        up.push_back(rows(page, top, 200));
    }
    EXPECT_EQ(ScrollCapturer::combineMeasured(up, upAdv, 1), rows(page, top, 1300 - top));
}

TEST_F(Stitching, FindShiftAlignsAPartialLastScroll) {
    // Steps of 100, then the page moves only 40 and stops.
    std::vector<kit::Image> shots{rows(page, 0, 300)};
    for (int t : {100, 200, 240, 240}) shots.push_back(rows(page, t + 100, 200));
    kit::Image last = rows(page, 240, 300);
    kit::Image img = ScrollCapturer::findShiftImage(shots, {}, last, 100, 100, 1.0, -1);
    EXPECT_EQ(img, rows(page, 0, 540));
    EXPECT_EQ(spy.events, std::vector<std::string>{"timer"});

    // With measured advances the tail of the last two strips bounds the search.
    std::vector<int> adv{100, 100, 40, 0};
    EXPECT_EQ(ScrollCapturer::findShiftImage(shots, adv, last, 100, 100, 1.0, -1), rows(page, 0, 540));

    // Upwards: the final frame lies 60 rows above the base.
    std::vector<kit::Image> up{rows(page, 1000, 300)};
    for (int t : {900, 800, 740, 740}) up.push_back(rows(page, t, 200));
    kit::Image upLast = rows(page, 740, 300);
    EXPECT_EQ(ScrollCapturer::findShiftImage(up, {}, upLast, 100, 100, 1.0, 1), rows(page, 740, 560));
}

TEST_F(Stitching, FindShiftNeedsTwoShots) {
    EXPECT_TRUE(ScrollCapturer::findShiftImage({rows(page, 0, 300)}, {}, {}, 100, 100, 1.0, -1).isNull());
    EXPECT_TRUE(spy.oopsed("not enough shots taken"));

    // Exactly two: the final frame is aligned against the first frame, as far
    // as the dropped strip was measured to move.
    std::vector<kit::Image> two{rows(page, 0, 300), rows(page, 190, 200)};
    kit::Image last = rows(page, 90, 300);
    EXPECT_EQ(ScrollCapturer::findShiftImage(two, {90}, last, 100, 100, 1.0, -1), rows(page, 0, 390));
    EXPECT_EQ(ScrollCapturer::findShiftImage(two, {}, last, 100, 100, 1.0, -1), rows(page, 0, 390));
}

TEST_F(Stitching, StampSearchNeedsAClearWinner) {
    kit::Image flat(100, 300);
    flat.fill(kit::Color::white(0.5));
    EXPECT_FALSE(ScrollCapturer::overlayShiftStamp(flat, flat, 50, -1));
    EXPECT_TRUE(spy.oopsed("Stamp based overlay failed, 0, 0, 0, 0, 0, 0"));
    spy.oopses.clear();
    // Too little travel for six candidates: silently inconclusive.
    EXPECT_FALSE(ScrollCapturer::overlayShiftStamp(flat, flat, 5, -1));
    EXPECT_TRUE(spy.oopses.empty());
    // Real content: the final frame moved 30 rows beyond the base.
    auto shift = ScrollCapturer::overlayShiftStamp(rows(page, 0, 500), rows(page, 230, 300), 50, -1);
    ASSERT_TRUE(shift);
    EXPECT_EQ(*shift, 270);
}

TEST_F(Stitching, SegmentSearchNeverPicksAnUnreadablePair) {
    kit::Image base = rows(page, 0, 500), last = rows(page, 230, 300);
    EXPECT_EQ(ScrollCapturer::overlayShiftSegment(base, last, 50, -1), 270);
    EXPECT_EQ(ScrollCapturer::overlayShiftSegment(kit::Image(), last, 50, -1), 0);
    EXPECT_EQ(ScrollCapturer::overlayCompareSegment(base, last, 10, 20, -1, 1000),
              ScrollCapturer::kUnreadable);
    EXPECT_TRUE(spy.oopsed("area > overlap"));
    // An overlap taller than the first image stays inside both buffers.
    kit::Image shortBase = rows(page, 0, 40);
    EXPECT_LT(ScrollCapturer::overlayCompareSegment(shortBase, last, 290, 50, 1, ~0ull), ~0ull);
}
