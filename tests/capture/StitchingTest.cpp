#include <gtest/gtest.h>

#include <climits>
#include <cmath>

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
    kit::Image img = ScrollCapturer::findShiftImage(shots, {}, last, 100, 100, 1.0, -1).image;
    EXPECT_EQ(img, rows(page, 0, 540));
    EXPECT_EQ(spy.events, std::vector<std::string>{"timer"});

    // With measured advances the tail of the last two strips bounds the search.
    std::vector<int> adv{100, 100, 40, 0};
    EXPECT_EQ(ScrollCapturer::findShiftImage(shots, adv, last, 100, 100, 1.0, -1).image, rows(page, 0, 540));

    // Upwards: the final frame lies 60 rows above the base.
    std::vector<kit::Image> up{rows(page, 1000, 300)};
    for (int t : {900, 800, 740, 740}) up.push_back(rows(page, t, 200));
    kit::Image upLast = rows(page, 740, 300);
    EXPECT_EQ(ScrollCapturer::findShiftImage(up, {}, upLast, 100, 100, 1.0, 1).image, rows(page, 740, 560));
}

TEST_F(Stitching, FindShiftNeedsTwoShots) {
    EXPECT_TRUE(
        ScrollCapturer::findShiftImage({rows(page, 0, 300)}, {}, {}, 100, 100, 1.0, -1).image.isNull());
    EXPECT_TRUE(spy.oopsed("not enough shots taken"));

    // Exactly two: the final frame is aligned against the first frame, as far
    // as the dropped strip was measured to move.
    std::vector<kit::Image> two{rows(page, 0, 300), rows(page, 190, 200)};
    kit::Image last = rows(page, 90, 300);
    EXPECT_EQ(ScrollCapturer::findShiftImage(two, {90}, last, 100, 100, 1.0, -1).image, rows(page, 0, 390));
    EXPECT_EQ(ScrollCapturer::findShiftImage(two, {}, last, 100, 100, 1.0, -1).image, rows(page, 0, 390));
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

TEST_F(Stitching, SegmentSearchTriesAFrameWhollyInsideTheBase) {
    // The final frame shows rows 200...499, all inside the base: the last
    // candidate of the search, with the frame's whole height as overlap.
    kit::Image base = rows(page, 0, 500);
    EXPECT_EQ(ScrollCapturer::overlayShiftSegment(base, rows(page, 200, 300), 50, -1), 300);
    // One row short of it is the candidate before.
    EXPECT_EQ(ScrollCapturer::overlayShiftSegment(base, rows(page, 201, 300), 50, -1), 299);
}

TEST_F(Stitching, ANegativeAdvanceCountsAsNoMove) {
    // The page jumped back 30 rows between two cycles (a bounce): that strip
    // adds no height, and the strips after it still land where they belong.
    std::vector<kit::Image> shots{rows(page, 0, 300), rows(page, 200, 200), rows(page, 170, 200),
                                  rows(page, 270, 200)};
    kit::Image img = ScrollCapturer::combineMeasured(shots, {100, -30, 100}, -1);
    ASSERT_EQ(img.height(), 300 + 100 + 0 + 100);
    EXPECT_EQ(img.cropped(0, 0, img.width(), 200), rows(page, 0, 200));
    EXPECT_EQ(img.cropped(0, 300, img.width(), 200), rows(page, 270, 200))
        << "the last strip lies at the bottom";
}

TEST_F(Stitching, ExtremeArgumentsEndQuicklyWithoutOverflow) {
    kit::Image base = rows(page, 0, 500), last = rows(page, 230, 300);
    std::vector<kit::Image> shots{rows(page, 0, 300), rows(page, 200, 200)};
    for (double dpr : {1e9, -1.0, 0.0, std::nan(""), double(INFINITY)}) {
        kit::Image img = ScrollCapturer::combine(shots, {}, -1, 100, 100, dpr);
        // Far too tall to make, or laid at one pixel per point: never a wrapped height.
        EXPECT_TRUE(img.isNull() || img.height() == 400) << dpr;
        ScrollCapturer::findShiftImage({shots[0], shots[1], shots[1]}, {}, last, 100, 100, dpr, -1).image;
    }
    for (int travel : {INT_MAX, INT_MIN, -1, 0, 100000}) {
        int overlap = ScrollCapturer::overlayShiftSegment(base, last, travel, -1);
        EXPECT_GE(overlap, 0) << travel;
        EXPECT_LE(overlap, last.height()) << travel;
    }
    EXPECT_FALSE(ScrollCapturer::overlayShiftStamp(base, last, INT_MAX, 1));
    EXPECT_FALSE(ScrollCapturer::overlayShiftStamp(base, last, INT_MIN, -1));
    for (auto [overlap, area] :
         {std::pair{INT_MAX, INT_MAX - 1}, {INT_MAX, 0}, {INT_MAX, INT_MIN}, {5, INT_MIN}}) {
        uint64_t score = ScrollCapturer::overlayCompareSegment(base, last, overlap, area, 1, ~0ull);
        (void)ScrollCapturer::overlayCompareSegment(base, last, overlap, area, -1, ~0ull);
        EXPECT_EQ(score, ScrollCapturer::kUnreadable) << overlap << "," << area;
    }
    EXPECT_EQ(ScrollCapturer::stepFor(1e300, 100), 100);
    EXPECT_EQ(ScrollCapturer::stepFor(std::nan(""), 100), 0);
    EXPECT_EQ(ScrollCapturer::stepFor(-50, 100), 0);
    EXPECT_GE(ScrollCapturer::marginFor(1e300, INT_MIN), 0);
    EXPECT_EQ(ScrollCapturer::marginFor(300, 100), 100);
}
