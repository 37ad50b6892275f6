#include <gtest/gtest.h>

#include "capture/Synthetic.h"
#include "capture/VisionStitcher.h"
#include "kit/base/Timer.h"
#include "kit/desktop/EventMonitor.h"

using capture::VisionStitcher;
using namespace testing_capture;

class LiveCapture : public ::testing::Test {
protected:
    void SetUp() override {
        spy.install();
        desk = installDesktop(400, 600, 4000);
        desk->scrollY = 1500;
    }
    void TearDown() override {
        if (VisionStitcher::shared().isCapturing()) VisionStitcher::shared().stop();
        kit::setScreenSource(nullptr);
        capture::resetHost();
    }
    void startCapture() {
        VisionStitcher::startLiveCapture(region, [this](const kit::Image& img) {
            result = img;
            ++calls;
        });
    }
    // The user scrolls by `dy` pixels, then the next frame is taken.
    void frameAfter(int dy) {
        desk->scrollY += dy;
        clock.advance(0.3);
    }
    void escape() { kit::EventMonitor::deliver({kit::MonitorEvent::Type::KeyDown, 53, 0}, true); }
    // A page of lines at the top of the screen, drawn at `scale` (pixels a
    // point), under a title `title` points tall that stays as it scrolls;
    // the region is the top 299 points, and nothing is captured yet.
    void showLinesAt(const kit::Image& page, int title, int scale) {
        desk->page = scale == 2 ? doubled(page) : page;
        desk->header = makePage(480 * scale, title * scale);
        desk->scale = scale;
        desk->screenW = 480;
        desk->scrollY = 0;
        desk->headerAt = 0;
        region = kit::Rect(0, 0, 480, 299);
        spy.notices.clear();
        result.reset();
        calls = 0;
    }
    std::string overlayText() {
        auto& o = VisionStitcher::overlayWindow();
        return o ? o->text() : "";
    }

    kit::ManualClockScope clock;
    HostSpy spy;
    std::shared_ptr<FakeDesktop> desk;
    kit::Rect region{0, 100, 400, 300};
    std::optional<kit::Image> result;
    int calls = 0;
};

TEST_F(LiveCapture, WheelClicksAtSeveralSpeedsReproduceThePage) {
    startCapture();
    EXPECT_EQ(overlayText(), "Start Scrolling (Up or Down)");
    frameAfter(0);  // first frame at 1500
    int total = 0;
    for (int dy : {30, 45, 0, 90, 120, 7, 150, 60, 0, 33}) {
        frameAfter(dy);
        total += dy;
    }
    EXPECT_EQ(overlayText().rfind("Keep Scrolling DOWN", 0) == 0 || overlayText() == "You're Going Too Fast!",
              true);
    escape();
    clock.advance(0.3);
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_EQ(*result, rows(desk->page, 1600, 300 + total));
    EXPECT_EQ(kit::EventMonitor::installedCount(), 0u);
    EXPECT_FALSE(VisionStitcher::overlayWindow());
}

TEST_F(LiveCapture, TooFastFramesAreDroppedNotLeftAsHoles) {
    startCapture();
    frameAfter(0);
    frameAfter(60);
    frameAfter(60);
    frameAfter(250);  // beyond the 210-row strip: dropped
    EXPECT_EQ(overlayText(), "You're Going Too Fast!");
    frameAfter(-100);  // back within reach of the last good frame
    frameAfter(40);
    escape();
    clock.advance(0.3);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_EQ(*result, rows(desk->page, 1600, 300 + 60 + 60 + 150 + 40));
}

TEST_F(LiveCapture, LookAlikeRowsThatCannotBeToldApartAreSkippedNotStitchedAtAGuess) {
    // The striped table's middle columns: a scroll of three lines agrees as
    // well as one of one or five. A marked line comes into view at the third
    // scroll and pins the shift from there on, so a guess before it would
    // misplace it. Those frames are skipped, and the image holds every row
    // of the page once, however little of it that is.
    desk->page = makeLinesPage(LinesKind::table, 480, 300).cropped(100, 0, 240, 300 * kLinePitch);
    for (int y = 150 * kLinePitch + 2; y < 151 * kLinePitch - 2; ++y)
        for (int x = 40; x < 140; ++x) desk->page.setPixel(x, y, {200, 0, 0, 255});
    desk->screenW = 240;
    region = kit::Rect(0, 100, 240, 299);
    startCapture();
    frameAfter(0);
    for (int i = 0; i < 5; ++i) frameAfter(3 * kLinePitch);
    EXPECT_EQ(overlayText(), "Start Scrolling (Up or Down)");  // nothing moved for sure, nothing too fast
    escape();
    clock.advance(0.3);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_EQ(*result, desk->page.cropped(0, 1600, 240, result->height()));
    EXPECT_EQ(VisionStitcher::shared().nilShifts, 5);
}

TEST_F(LiveCapture, AfterAlikeLinesThatFillTheRegionItEndsWithWhatIsSureAndSaysSo) {
    // Past a run of alike lines taller than the region nothing after it can
    // be placed against what was: the capture ends by its time limit with the
    // rows it placed, all the page's own, and says it stopped early. With a
    // title that stays at the top of the region, a frame of the run alone
    // looks as if it stood still, and still it tells nothing of where the
    // view is. Two lines a frame, in the middle of a page and at its end.
    struct Case {
        int lines, from, run, title, scale;
    };
    const Case cases[] = {{160, 40, 80, 0, 1},   {160, 40, 80, 10, 1}, {160, 40, 80, 10, 2},
                          {160, 40, 80, 25, 2},  {360, 300, 60, 0, 1}, {360, 300, 60, 10, 1},
                          {360, 300, 60, 10, 2}, {360, 300, 60, 30, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.run << " alike lines after " << k.from << " of " << k.lines
                                        << ", title " << k.title << ", scale " << k.scale);
        int px = k.scale;
        showLinesAt(pageWithRun(k.lines, k.from, k.run, false), k.title, px);
        int top = desk->scrollY = std::max(0, k.from - 30) * kLinePitch * px;
        startCapture();
        frameAfter(0);
        int end = desk->page.height() - 600 * px;
        for (int i = 0; i < 200 && !calls; ++i)
            frameAfter(std::min(2 * kLinePitch * px, end - desk->scrollY));
        ASSERT_EQ(calls, 1);
        ASSERT_TRUE(result && !result->isNull());
        EXPECT_EQ(spy.notices, std::vector<std::string>{"Scrolling capture stopped early"});
        EXPECT_GE(top + result->height(), k.from * kLinePitch * px);  // every line before the run
        int title = k.title * px;
        EXPECT_EQ(rows(*result, title, result->height() - title),
                  rows(desk->page, top + title, result->height() - title));
    }
}

TEST_F(LiveCapture, AlikeLinesUnderATitleThatChangesOrIsTallEndWithANotice) {
    // Alike lines scrolled by whole lines look as if they stood still, and
    // such a frame is no sure place to go on from, also where a title stays
    // in the measuring: one whose top row changes a pixel each frame (a
    // clock), or the rest of one taller than two fifths of the region. The
    // capture ends with what it placed, the page's own rows, and says it
    // stopped early.
    struct Case {
        int title, scale;
        bool ticks;
    };
    const Case cases[] = {{10, 1, true},   {10, 2, true},   {25, 1, true},   {40, 2, true},
                          {135, 1, false}, {140, 1, false}, {130, 2, false}, {150, 1, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message()
                     << "title " << k.title << (k.ticks ? " that changes" : "") << ", scale " << k.scale);
        int px = k.scale;
        showLinesAt(pageWithRun(160, 40, 80, false), k.title, px);
        desk->onGrab = [&](int grab) {
            if (k.ticks) desk->header.setPixel(grab % desk->header.width(), 0, {0, 0, uint8_t(grab), 255});
        };
        int top = desk->scrollY = 10 * kLinePitch * px;
        startCapture();
        frameAfter(0);
        int end = desk->page.height() - 600 * px;
        for (int i = 0; i < 200 && !calls; ++i)
            frameAfter(std::min(2 * kLinePitch * px, end - desk->scrollY));
        desk->onGrab = nullptr;
        ASSERT_EQ(calls, 1);
        ASSERT_TRUE(result && !result->isNull());
        EXPECT_EQ(spy.notices, std::vector<std::string>{"Scrolling capture stopped early"});
        int title = k.title * px;
        EXPECT_EQ(rows(*result, title, result->height() - title),
                  rows(desk->page, top + title, result->height() - title));
    }
}

TEST_F(LiveCapture, StoppingOverLinesThatDifferEndsWithoutANotice) {
    // The user stops scrolling over numbered lines, under a title that stays:
    // the frames after it stand still for sure, and the capture ends by its
    // time limit down to where the user stopped, with nothing to tell.
    for (int px : {1, 2}) {
        SCOPED_TRACE(testing::Message() << "scale " << px);
        showLinesAt(makeLinesPage(LinesKind::numbered, 480, 160), 10, px);
        startCapture();
        frameAfter(0);
        for (int i = 0; i < 20; ++i) frameAfter(2 * kLinePitch * px);
        for (int i = 0; i < 40 && !calls; ++i) frameAfter(0);
        ASSERT_EQ(calls, 1);
        ASSERT_TRUE(result && !result->isNull());
        EXPECT_TRUE(spy.notices.empty());
        EXPECT_EQ(result->height(), (299 + 40 * kLinePitch) * px);
        EXPECT_EQ(rows(*result, 10 * px, result->height() - 10 * px),
                  rows(desk->page, 10 * px, result->height() - 10 * px));
    }
}

TEST_F(LiveCapture, AFrameWhosePictureComesBackLateIsPlacedBeforeTheCaptureEnds) {
    // On a busy machine the look after the user's last scroll is asked in
    // time, but its picture comes back 3.5 s later, more than the time-out
    // after the scroll before. It shows the last scroll, which goes into the
    // picture; the capture ends once a look asked the whole time-out after
    // it has seen the page still, with nothing to tell.
    startCapture();
    frameAfter(0);
    int total = 0;
    for (int dy : {30, 45, 60}) {
        frameAfter(dy);
        total += dy;
    }
    bool late = false;
    desk->afterGrab = [&](int) {
        if (!std::exchange(late, true)) clock.clock().pass(3.5);
    };
    frameAfter(40);
    total += 40;
    ASSERT_TRUE(late);
    EXPECT_EQ(calls, 0);
    for (int i = 0; i < 40 && !calls; ++i) frameAfter(0);
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_TRUE(spy.notices.empty());
    EXPECT_EQ(*result, rows(desk->page, 1600, 300 + total));
}

TEST_F(LiveCapture, StillFramesAtAPagesEndOfAlikeLinesSayNothing) {
    // The page ends with lines that read alike, below two that differ: each
    // scroll is placed by those, and the frames after the last one look the
    // same moved by a line. They are the very frame placed last, so the view
    // is known: the capture ends by its time limit with the whole page and
    // nothing to tell. A frame that differs from it and cannot be placed
    // (a caret blinking in the alike lines) still brings the notice.
    for (bool caret : {false, true}) {
        SCOPED_TRACE(caret ? "a caret blinks at the end" : "still frames");
        showLinesAt(pageWithRun(140, 119, 21, false), 0, 1);
        startCapture();
        frameAfter(0);
        const int end = desk->page.height() - 299;
        while (desk->scrollY < end) frameAfter(std::min(2 * kLinePitch, end - desk->scrollY));
        desk->caretBlinks = caret;
        for (int i = 0; i < 40 && !calls; ++i) frameAfter(0);
        desk->caretBlinks = false;
        ASSERT_EQ(calls, 1);
        ASSERT_TRUE(result && !result->isNull());
        EXPECT_EQ(*result, desk->page);
        EXPECT_EQ(spy.notices, caret ? std::vector<std::string>{"Scrolling capture stopped early"}
                                     : std::vector<std::string>{});
    }
}

TEST_F(LiveCapture, APageScrolledUnderATitleThatStaysComesOutRowByRow) {
    // A title 20 to 30 points tall stays in the region while lines that read
    // alike in the middle scroll under it, by whole lines and by parts of
    // one: the title must not pass for the page standing still, nor pick a
    // shift of a few rows. Also with the band at the region's bottom (a
    // status line). The image holds the band once, and every other row is
    // the page's, in order.
    struct Case {
        LinesKind kind;
        int title, scale;
        bool atBottom;
    };
    const Case cases[] = {{LinesKind::numbered, 20, 2, false},    {LinesKind::numbered, 25, 1, false},
                          {LinesKind::numbered, 30, 2, false},    {LinesKind::bareNumbers, 25, 1, false},
                          {LinesKind::bareNumbers, 20, 2, false}, {LinesKind::numbered, 30, 1, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message()
                     << "kind " << int(k.kind) << ", band " << k.title
                     << (k.atBottom ? " at the bottom" : " at the top") << ", scale " << k.scale);
        int px = k.scale, band = k.title * px;
        showLinesAt(makeLinesPage(k.kind, 480, 160), k.title, px);
        if (k.atBottom) desk->headerAt = (299 - k.title) * px;
        startCapture();
        frameAfter(0);
        int moved = 0;
        for (int dy : {26, 39, 13, 50, 7, 90, 0, 45, 20, 33}) {
            frameAfter(dy * px);
            moved += dy * px;
        }
        escape();
        clock.advance(0.3);
        ASSERT_EQ(calls, 1);
        ASSERT_TRUE(result && !result->isNull());
        EXPECT_TRUE(spy.notices.empty());
        EXPECT_EQ(result->height(), 299 * px + moved);
        if (result->height() != 299 * px + moved) continue;
        int pageTop = k.atBottom ? 0 : band, bandTop = k.atBottom ? result->height() - band : 0;
        EXPECT_EQ(rows(*result, bandTop, band), desk->header);
        EXPECT_EQ(rows(*result, pageTop, result->height() - band),
                  rows(desk->page, pageTop, result->height() - band));
    }
}

TEST_F(LiveCapture, ScrollingUpGrowsTheImageAtTheTop) {
    startCapture();
    frameAfter(0);
    int total = 0;
    for (int dy : {-40, -60, -110, -25}) {
        frameAfter(dy);
        total -= dy;
    }
    frameAfter(30);  // against the settled direction: ignored
    desk->scrollY -= 30;
    escape();
    clock.advance(0.3);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_EQ(*result, rows(desk->page, 1600 - total, 300 + total));
    EXPECT_EQ(overlayText(), "");
}

// The first look is taken as the region is picked: Escape at once gives the
// region as it was, and lines the user scrolls past before the timer's first
// look (late on a busy machine) are in the picture.
TEST_F(LiveCapture, EndingsWithoutScrolling) {
    startCapture();
    escape();
    clock.advance(0.3);
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_EQ(*result, rows(desk->page, 1600, 300));

    calls = 0;
    startCapture();
    for (int i = 0; i < 40 && !calls; ++i) clock.advance(0.3);
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(*result, rows(desk->page, 1600, 300));
}

TEST_F(LiveCapture, ScrollingBeforeTheFirstTickIsInThePicture) {
    startCapture();
    desk->scrollY += 40;  // before the timer's first look
    frameAfter(50);
    escape();
    clock.advance(0.3);
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_EQ(*result, rows(desk->page, 1600, 390));
}

// A screen that cannot be read ends the capture at its time, with no
// picture, and its overlay goes.
TEST_F(LiveCapture, AScreenThatCannotBeReadEndsTheCaptureAtItsTime) {
    kit::setScreenSource(std::make_shared<UnreadableScreen>(desk->screens()));
    startCapture();
    ASSERT_TRUE(VisionStitcher::overlayWindow());
    for (int i = 0; i < 30 && !calls; ++i) clock.advance(0.3);
    EXPECT_EQ(calls, 0) << "ended before its time";
    for (int i = 0; i < 10 && !calls; ++i) clock.advance(0.3);
    ASSERT_EQ(calls, 1);
    EXPECT_TRUE(result->isNull());
    EXPECT_FALSE(VisionStitcher::overlayWindow());
}

TEST_F(LiveCapture, StopsAtTheHeightLimit) {
    spy.ints["scrollingMax"] = 520;
    startCapture();
    frameAfter(0);
    for (int i = 0; i < 10 && !calls; ++i) frameAfter(100);
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(result->height(), 520);
    EXPECT_EQ(*result, rows(desk->page, 1600, 520));
}

TEST_F(LiveCapture, OverlayTextSitsBelowOrAboveTheRegion) {
    auto below = capture::OverlayWindow::create(kit::Rect(100, 100, 200, 100));
    ASSERT_TRUE(below);
    EXPECT_EQ(below->cocoaRegion, kit::Rect(99, 99, 202, 102));
    EXPECT_GT(below->textFrame.minY(), below->cocoaRegion.maxY());
    auto above = capture::OverlayWindow::create(kit::Rect(100, 500, 200, 100));
    EXPECT_LT(above->textFrame.maxY(), above->cocoaRegion.minY());
    EXPECT_FALSE(capture::OverlayWindow::create(kit::Rect(5000, 5000, 10, 10)));
}
