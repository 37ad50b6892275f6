#include <gtest/gtest.h>

#include "capture/ImageOps.h"
#include "capture/ScrollCapturer.h"
#include "capture/Synthetic.h"
#include "kit/base/Timer.h"
#include "kit/desktop/EventMonitor.h"

using capture::ScrollCapturer;
using namespace testing_capture;

class AutoScroll : public ::testing::Test {
protected:
    void SetUp() override {
        spy.install();
        desk = installDesktop(400, 600, 3000);
    }
    void TearDown() override {
        kit::setScreenSource(nullptr);
        capture::resetHost();
    }
    // Runs the capture to its end on the manual clock.
    std::optional<kit::Image> run(int direction, kit::Rect region, double maxSeconds = 120) {
        std::optional<kit::Image> result;
        int calls = 0;
        ScrollCapturer::start(direction, region, [&](const kit::Image& img) {
            result = img;
            ++calls;
        });
        for (double t = 0; t < maxSeconds && !result; t += 0.05) clock.advance(0.05);
        clock.advance(5);
        EXPECT_LE(calls, 1);
        EXPECT_FALSE(ScrollCapturer::isCapturing());
        return result;
    }
    kit::ManualClockScope clock;
    HostSpy spy;
    std::shared_ptr<FakeDesktop> desk;
};

TEST_F(AutoScroll, ScrollsToTheEndAndReproducesEveryRow) {
    // A busy program draws one scroll late: that cycle sees the page still,
    // which is no end yet.
    desk->lateScroll = 6;
    kit::Rect region(0, 100, 400, 300);
    auto img = run(-1, region);
    ASSERT_TRUE(img && !img->isNull());
    int maxScroll = 3000 - 600;
    EXPECT_EQ(desk->scrollY, maxScroll);
    EXPECT_EQ(*img, rows(desk->page, 100, 300 + maxScroll));
    EXPECT_EQ(spy.lastPreset["stopped"], "endReached");
    EXPECT_EQ(kit::EventMonitor::installedCount(), 0u);
    EXPECT_FALSE(desk->cursorHidden);
    EXPECT_EQ(desk->pointerAt, (kit::Point{500, 400}));
}

TEST_F(AutoScroll, ProgramsThatDrawLateAreWaitedForNotTakenForTheEnd) {
    // Under load a scroll can show later than the next cycle and the look
    // after it, the first scroll too, and its clicks one by one. The page
    // counts as ended only once it has stayed still for longer than its
    // redraws have taken: the whole page, no alert, also when a redraw takes
    // longer than any before.
    struct Case {
        double every;
        std::map<int, double> once;
        double spacing = 0;
    };
    const Case cases[] = {{0, {{1, 0.45}}}, {0, {{1, 1.2}}},   {0, {{1, 2.7}}},  {0, {{7, 0.45}}}, {0.3, {}},
                          {1.2, {}},        {0.4, {{9, 0.8}}}, {0.05, {}, 0.13}, {0.2, {}, 0.1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "every scroll " << k.every << " s late, " << k.once.size()
                                        << " later, clicks " << k.spacing << " s apart");
        desk->scrollY = desk->scrollCalls = 0;
        desk->drawing.clear();  // the clicks the last capture sent at the page's end
        desk->drawDelay = k.every;
        desk->drawDelays = k.once;
        desk->clickSpacing = k.spacing;
        spy.alerts.clear();
        auto img = run(-1, kit::Rect(0, 100, 400, 300));
        ASSERT_TRUE(img && !img->isNull());
        EXPECT_TRUE(spy.alerts.empty());
        EXPECT_EQ(spy.lastPreset["stopped"], "endReached");
        EXPECT_EQ(*img, rows(desk->page, 100, 300 + 2400));
    }
}

TEST_F(AutoScroll, ALookWhosePictureComesBackLateIsNoEnd) {
    // The look right after a scroll is asked before the program has drawn
    // it, and its picture comes back 5.8 s later on a busy machine, still
    // showing the page unmoved; the program drew the scroll 1 s after its
    // clicks. That look says nothing of the seconds it waited: the page is
    // looked at again and goes on to its end, the first scroll too.
    for (int late : {5, 1}) {
        SCOPED_TRACE(testing::Message() << "scroll " << late << " drawn late");
        desk->scrollY = desk->scrollCalls = 0;
        desk->drawDelays = {{late, 1.0}};
        bool waited = false;
        desk->afterGrab = [&](int) {
            if (desk->scrollCalls != late || std::exchange(waited, true)) return;
            EXPECT_FALSE(desk->drawing.empty());  // the picture shows the page before the scroll
            clock.clock().pass(5.8);
        };
        spy.alerts.clear();
        auto img = run(-1, kit::Rect(0, 100, 400, 300));
        ASSERT_TRUE(waited);
        ASSERT_TRUE(img && !img->isNull());
        EXPECT_TRUE(spy.alerts.empty());
        EXPECT_EQ(spy.lastPreset["stopped"], "endReached");
        EXPECT_EQ(*img, rows(desk->page, 100, 300 + 2400));
    }
}

TEST_F(AutoScroll, ClicksThatShowOnlyInPartAreNotTakenForTheEnd) {
    // Halfway down the program starts scrolling a third as far a click (a
    // list switching to line steps): the clicks sent show a third of what
    // they should, then nothing more. One more scroll tells that from the
    // end, and the capture goes on with the shorter click to the page's end.
    desk->onGrab = [&](int grab) {
        if (grab == 12) desk->pixelsPerClick = 12;
    };
    auto img = run(-1, kit::Rect(0, 100, 400, 300));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(spy.lastPreset["stopped"], "endReached");
    EXPECT_EQ(*img, rows(desk->page, 100, 300 + 2400));
}

TEST_F(AutoScroll, ScrollsUpFromTheBottom) {
    desk->scrollY = 3000 - 600;
    desk->pixelsPerClick = 53;
    auto img = run(1, kit::Rect(0, 200, 400, 300));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(*img, rows(desk->page, 200, 300 + 2400));
}

TEST_F(AutoScroll, ApplicationsThatScrollFarPerClickAreStillStitchedExactly) {
    // Two clicks would move 300 rows, more than a strip shows; one click is measured first.
    desk->pixelsPerClick = 150;
    auto img = run(-1, kit::Rect(0, 100, 400, 300));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(*img, rows(desk->page, 100, 300 + 2400));
    EXPECT_EQ(desk->scrollCalls, 17);  // one click a cycle: 2400 rows / 150, and the cycle that saw the end
}

TEST_F(AutoScroll, ScaleTwoAndFractionalScalesUseRealPixels) {
    for (double scale : {2.0, 1.5}) {
        desk->scale = scale;
        desk->scrollY = 0;
        int screenPx = int(std::lround(600 * scale));
        // A region of 301 points: at 1.5 its strips are not whole multiples of the scale.
        auto img = run(-1, kit::Rect(0, 100, 200, 301));
        ASSERT_TRUE(img && !img->isNull()) << scale;
        int top = int(std::lround(100 * scale));
        EXPECT_EQ(img->width(), int(std::lround(200 * scale)));
        EXPECT_EQ(*img, rows(desk->page, top, img->height()).cropped(0, 0, img->width(), img->height()))
            << scale;
        EXPECT_EQ(img->height(), int(std::lround(301 * scale)) + 3000 - screenPx) << scale;
    }
}

TEST_F(AutoScroll, TextLinesThatLookAlikeComeOutEveryLineOnceInOrder) {
    // Terminals, logs and tables scroll by whole lines, and their middle
    // columns read the same on every line: every row of the result must still
    // be the page's, over the whole width and over a narrow region at the left.
    struct Case {
        LinesKind kind;
        int pixelsPerClick, regionWidth, direction = -1;
    };
    const Case cases[] = {{LinesKind::numbered, 65, 480},    {LinesKind::numbered, 13, 170},
                          {LinesKind::bareNumbers, 39, 480}, {LinesKind::bareNumbers, 130, 100},
                          {LinesKind::log, 130, 480},        {LinesKind::log, 39, 300},
                          {LinesKind::table, 39, 480},       {LinesKind::table, 65, 160},
                          {LinesKind::numbered, 39, 480, 1}, {LinesKind::log, 26, 300, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << int(k.kind) << " at " << k.pixelsPerClick << " px a click, "
                                        << k.regionWidth << " px wide, direction " << k.direction);
        desk->page = makeLinesPage(k.kind, 480, 150);
        desk->screenW = 480;
        int scrolled = desk->page.height() - 600;
        desk->scrollY = k.direction > 0 ? scrolled : 0;
        desk->pixelsPerClick = k.pixelsPerClick;
        spy.notices.clear();
        auto img = run(k.direction, kit::Rect(0, 100, k.regionWidth, 299));
        ASSERT_TRUE(img && !img->isNull());
        EXPECT_EQ(spy.lastPreset["stopped"], "endReached");
        EXPECT_TRUE(spy.notices.empty());
        EXPECT_EQ(desk->scrollY, k.direction > 0 ? 0 : scrolled);
        EXPECT_EQ(img->height(), 299 + scrolled);
        int firstWrongRow = -1;
        for (int y = 0; y < img->height() && firstWrongRow < 0; ++y)
            if (rows(*img, y, 1) != desk->page.cropped(0, 100 + y, k.regionWidth, 1)) firstWrongRow = y;
        EXPECT_EQ(firstWrongRow, -1);
    }
}

TEST_F(AutoScroll, LinesThatCannotBeToldApartEndInterruptedWithWhatWasPlaced) {
    // The striped table's middle columns without its row numbers: a scroll of
    // three lines matches every odd number of lines equally well. The capture
    // ends at once with the rows it is sure of and says why, in one notice.
    desk->page = makeLinesPage(LinesKind::table, 480, 150);
    desk->screenW = 480;
    desk->pixelsPerClick = 39;
    auto img = run(-1, kit::Rect(60, 100, 240, 299));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(spy.lastPreset["stopped"], "interrupted");
    ASSERT_EQ(spy.notices.size(), 1u);
    EXPECT_NE(spy.notifyPairs[0].second.find("could not be stitched reliably"), std::string::npos);
    EXPECT_TRUE(spy.alerts.empty());
    ASSERT_GE(img->height(), 299);
    EXPECT_EQ(*img, desk->page.cropped(60, 100, 240, img->height()));

    // A few rows marked near the top (as a search marks its matches) let the
    // first click be measured for sure; from then on the clicks sent pick the
    // shift among the look-alikes. A row marked near the end tells the end
    // from more of the same. 93 lines of scrolling: 3 at the first click,
    // then 9 a cycle.
    desk->page = makeLinesPage(LinesKind::table, 480, 139);
    for (int line : {3, 4, 7, 12, 18, 95})
        for (int y = line * kLinePitch + 2; y < (line + 1) * kLinePitch - 2; ++y)
            for (int x = 100; x < 250; ++x) desk->page.setPixel(x, y, {0, 0, 200, 255});
    desk->screenH = 46 * kLinePitch;
    desk->scrollY = 0;
    spy.notices.clear();
    img = run(-1, kit::Rect(60, 0, 240, 299));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(spy.lastPreset["stopped"], "endReached");
    EXPECT_TRUE(spy.notices.empty());
    EXPECT_EQ(desk->scrollY, 93 * kLinePitch);
    EXPECT_EQ(*img, desk->page.cropped(60, 0, 240, 299 + 93 * kLinePitch));
}

TEST_F(AutoScroll, ARunOfAlikeLinesTallerThanTheRegionEndsWithWhatIsSureAndSaysSo) {
    // Inside such a run the region looks the same whether the page moved or
    // reached its end. The capture stops there with the rows it saw where it
    // placed them, never a row the page did not have, and says it stopped
    // early: in the middle of a page, and at its end, also where the end
    // came within a click of the region turning all alike.
    struct Case {
        int lines, from, run;
        bool empty;
        int regionY = 100;  // 299: the region reaches the bottom of the page's view
        int header = 0;     // rows of a title that stays at the top of the screen
    };
    const Case cases[] = {{400, 300, 60, false},     {400, 300, 60, true},
                          {150, 101, 49, false},     {133, 100, 33, false, 299},
                          {136, 100, 36, true, 299}, {150, 101, 49, false, 0, 10}};
    desk->screenW = 480;
    desk->screenH = 46 * kLinePitch;
    desk->pixelsPerClick = 39;
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.run << (k.empty ? " empty" : " alike") << " lines from line "
                                        << k.from << " of " << k.lines << ", region at " << k.regionY);
        desk->page = pageWithRun(k.lines, k.from, k.run, k.empty);
        desk->header = makePage(480, k.header);
        desk->scrollY = 0;
        spy.notices.clear();
        auto img = run(-1, kit::Rect(0, k.regionY, 480, 299));
        ASSERT_TRUE(img && !img->isNull());
        EXPECT_EQ(spy.notices, std::vector<std::string>{"Scrolling capture stopped early"});
        EXPECT_EQ(spy.lastPreset["stopped"], "interrupted");
        EXPECT_GE(k.regionY + img->height(), k.from * kLinePitch);  // every line before the run
        EXPECT_EQ(rows(*img, k.header, img->height() - k.header),
                  rows(desk->page, k.regionY + k.header, img->height() - k.header));
    }
    desk->header = {};

    // A click of less than whole lines leaves the run looking different at
    // each scroll, and the clicks sent pick among the look-alikes. A program
    // that draws them one by one is waited for until it has drawn them all.
    desk->page = pageWithRun(150, 40, 60, false);
    desk->scrollY = 0;
    desk->pixelsPerClick = 42;
    desk->drawDelay = 0.05;
    desk->clickSpacing = 0.13;
    auto img = run(-1, kit::Rect(0, 0, 480, 299));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(*img, rows(desk->page, 0, img->height()));
}

TEST_F(AutoScroll, ShotsPickedByTheClicksSentAreLeftOutWhenTheEndCutsAScrollShort) {
    // A click moves 42 rows, not whole lines: a run of alike lines looks
    // different after each scroll, and the clicks sent pick the shift among
    // the look-alikes. The page ends inside the run, and its last scroll
    // goes 8 rows where two clicks say 84: the look-alike 86 is picked for
    // it. The page then stands still, which inside the run could as well be
    // moving: the image ends with the last shot whose movement was measured
    // (its region still showed a line before the run), every row the page's,
    // and says it stopped early.
    desk->page = pageWithRun(360, 300, 60, false);
    desk->screenW = 480;
    desk->screenH = 46 * kLinePitch;
    desk->pixelsPerClick = 42;
    auto img = run(-1, kit::Rect(0, 0, 480, 299));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(desk->scrollY, 360 * kLinePitch - 46 * kLinePitch);
    EXPECT_EQ(spy.notices, std::vector<std::string>{"Scrolling capture stopped early"});
    EXPECT_EQ(spy.lastPreset["stopped"], "interrupted");
    // The region of the last measured shot showed the line before the run,
    // and one more scroll would have taken it out of sight.
    int lastTop = img->height() - 299;
    EXPECT_LT(lastTop, 300 * kLinePitch);
    EXPECT_GT(lastTop + 84, 299 * kLinePitch);
    EXPECT_EQ(*img, rows(desk->page, 0, img->height()));
}

TEST_F(AutoScroll, AStripThatAgreesWithTheLastFrameButNotWithThePictureEndsInterrupted) {
    // The page redraws a band by itself just as a frame is grabbed, above
    // the part of the frame its strip takes: the next frame agrees with that
    // frame but not with the picture built so far, which holds the band as it
    // was. Stitching on would mix the two; the capture ends with what it
    // placed, from the page as it was, and says why.
    kit::Image page = desk->page, other = makePage(400, 3000, 7);
    desk->onGrab = [&](int grab) {
        if (grab != 4) return;
        capture::copyInto(desk->page, rows(other, 0, 50), 0, desk->scrollY + 100 + 100);
    };
    auto img = run(-1, kit::Rect(0, 100, 400, 450));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(spy.lastPreset["stopped"], "interrupted");
    EXPECT_EQ(spy.notices, std::vector<std::string>{"Scrolling capture stopped early"});
    EXPECT_GE(img->height(), 450 + 100);
    EXPECT_EQ(*img, rows(page, 100, img->height()));
}

TEST_F(AutoScroll, StopsAtTheHeightLimit) {
    spy.ints["scrollingMax"] = 1000;
    auto img = run(-1, kit::Rect(0, 100, 400, 300));
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(spy.lastPreset["stopped"], "maxHeight");
    // Every strip is stitched, the last one too: the image runs down to the
    // region's bottom as the screen last showed it, even past the limit.
    EXPECT_EQ(img->height(), desk->scrollY + 300);
    EXPECT_GE(img->height() + 100, 1000);  // the limit was reached (one step ahead)
    EXPECT_EQ(*img, rows(desk->page, 100, img->height()));
    EXPECT_EQ(spy.notices, std::vector<std::string>{"Max height reached"});
}

TEST_F(AutoScroll, AKeyPressInterruptsAndKeepsWhatWasCaptured) {
    std::optional<kit::Image> result;
    ScrollCapturer::start(-1, kit::Rect(0, 100, 400, 300), [&](const kit::Image& img) { result = img; });
    clock.advance(0.5);
    kit::EventMonitor::deliver({kit::MonitorEvent::Type::KeyDown, 0, 0}, true);
    clock.advance(1);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_EQ(spy.lastPreset["stopped"], "interrupted");
    EXPECT_EQ(*result, rows(desk->page, 100, result->height()));
    EXPECT_EQ(kit::EventMonitor::installedCount(), 0u);
}

TEST_F(AutoScroll, APageThatDoesNotMoveEndsWithoutStarting) {
    // A blinking caret changes the region, but nothing in it shifted.
    desk->pixelsPerClick = 0;
    desk->caretBlinks = true;
    auto img = run(-1, kit::Rect(0, 100, 400, 300));
    ASSERT_TRUE(img);
    EXPECT_EQ(rows(*img, 0, 140), rows(desk->page, 100, 140));  // the caret is below
    EXPECT_EQ(img->height(), 300);
    EXPECT_EQ(spy.alerts, std::vector<std::string>{"Kadrix wasn't able to scroll"});
    EXPECT_EQ(spy.lastPreset["stopped"], "withoutStarting");

    // At a fractional scale the hashes taken at the start and in the cycles
    // must see the same pixels, or a still page would seem to have moved.
    desk->scale = 1.5;
    spy.alerts.clear();
    img = run(-1, kit::Rect(1, 101, 313, 301));
    ASSERT_TRUE(img);
    EXPECT_EQ(spy.alerts, std::vector<std::string>{"Kadrix wasn't able to scroll"});
    EXPECT_EQ(spy.lastPreset["stopped"], "withoutStarting");
}

TEST_F(AutoScroll, OneCaptureAtATimeAndZeroRegionsDoNothing) {
    int first = 0, second = 0;
    ScrollCapturer::start(-1, kit::Rect(0, 100, 400, 300), [&](const kit::Image&) { ++first; });
    ScrollCapturer::start(-1, kit::Rect(0, 100, 400, 300), [&](const kit::Image&) { ++second; });
    for (int i = 0; i < 2000 && ScrollCapturer::isCapturing(); ++i) clock.advance(0.05);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    ScrollCapturer::start(-1, kit::Rect(), [&](const kit::Image&) { ++second; });
    EXPECT_FALSE(ScrollCapturer::isCapturing());
    EXPECT_EQ(second, 0);
}

TEST_F(AutoScroll, SpeedTableIsClampedAndStepsFollowTheRegion) {
    EXPECT_EQ(ScrollCapturer::speedRow(-4).interval, 0.8);
    EXPECT_EQ(ScrollCapturer::speedRow(2).interval, 0.12);
    EXPECT_EQ(ScrollCapturer::speedRow(99).largestStep, 300);
    EXPECT_EQ(ScrollCapturer::stepFor(600, 100), 100);
    EXPECT_EQ(ScrollCapturer::marginFor(600, 100), 250);
    EXPECT_EQ(ScrollCapturer::stepFor(900, 300), 300);
    EXPECT_EQ(ScrollCapturer::marginFor(900, 300), 300);
    EXPECT_EQ(ScrollCapturer::stepFor(120, 100), 40);
    EXPECT_EQ(ScrollCapturer::marginFor(120, 40), 40);
    EXPECT_EQ(ScrollCapturer::stepFor(2, 100), 0);
}

TEST_F(AutoScroll, PermissionRefusalsTellTheUser) {
    desk->trusted = false;
    ScrollCapturer::permissionAttempts = 0;
    EXPECT_FALSE(ScrollCapturer::permissionsGranted());
    EXPECT_EQ(spy.warnings, std::vector<std::string>{"Scrolling Not Available"});
    EXPECT_FALSE(ScrollCapturer::permissionsGranted());
    EXPECT_EQ(spy.alerts, std::vector<std::string>{"Scrolling Not Available"});
    EXPECT_TRUE(spy.oopsed("attempt #2"));
    desk->trusted = true;
    EXPECT_TRUE(ScrollCapturer::permissionsGranted());
}
