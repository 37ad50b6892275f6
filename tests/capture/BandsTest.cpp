// Scrolling captures of a page under rows that stay put at the region's top
// (a title) or bottom (a status line), live and automatic: the picture holds
// each band once, where it stood, and between them every page row once, in
// order. A capture that cannot keep to that ends with what it placed and
// says so.
#include <gtest/gtest.h>

#include "capture/ScrollCapturer.h"
#include "capture/Synthetic.h"
#include "capture/VisionStitcher.h"
#include "kit/base/Timer.h"
#include "kit/desktop/EventMonitor.h"

using capture::ScrollCapturer;
using capture::VisionStitcher;
using namespace testing_capture;

namespace {

// Rows of `got` from `at` on that differ from `want`'s, and the first of them.
struct Wrong {
    int count = 0, first = -1;
};
Wrong wrongRows(const kit::Image& got, int at, const kit::Image& want) {
    Wrong w;
    size_t bytes = size_t(got.width()) * 4;
    for (int r = 0; r < want.height(); ++r)
        if (at + r >= got.height() || std::memcmp(got.row(at + r), want.row(r), bytes) != 0) {
            ++w.count;
            if (w.first < 0) w.first = at + r;
        }
    return w;
}

std::string described(const Wrong& w, int of) {
    return std::to_string(w.count) + " wrong rows of " + std::to_string(of) + ", the first at row " +
           std::to_string(w.first);
}

}  // namespace

class Bands : public ::testing::Test {
protected:
    void SetUp() override { spy.install(); }
    void TearDown() override {
        if (VisionStitcher::shared().isCapturing()) VisionStitcher::shared().stop();
        kit::setScreenSource(nullptr);
        capture::resetHost();
    }
    kit::ManualClockScope clock;
    HostSpy spy;
};

TEST_F(Bands, EveryPageRowOnceBetweenTheBandsOnceLiveAndAutomatic) {
    // A page whose rows never repeat, in a region 299 points tall at the top
    // of the screen, under a title of `title` rows and over a footer of
    // `footer`, both of which stay as the page scrolls. Live: the user
    // scrolls by `step` rows `steps` times (negative: up). Automatic: the
    // capture scrolls to the page's end by itself.
    struct Case {
        bool live;
        int title, footer, step, steps, scale = 1;
    };
    const Case cases[] = {
        {true, 30, 0, 20, 6},     {true, 75, 0, 20, 6},     {true, 100, 0, 20, 6}, {true, 119, 0, 20, 6},
        {true, 100, 0, 60, 4},    {true, 100, 0, 150, 2},   {true, 0, 40, 60, 4},  {true, 0, 40, 190, 2},
        {true, 0, 120, 60, 4},    {true, 0, 120, 190, 2},   {true, 60, 60, 60, 4}, {true, 100, 40, -60, 3},
        {true, 100, 0, 20, 6, 2}, {true, 0, 40, 190, 2, 2}, {true, 135, 0, 20, 6}, {true, 0, 150, 20, 6},
        {false, 30, 30, 0, 0},    {false, 75, 0, 0, 0},     {false, 100, 0, 0, 0}, {false, 120, 0, 0, 0},
        {false, 0, 60, 0, 0},     {false, 0, 120, 0, 0},    {false, 60, 60, 0, 0}, {false, 100, 20, 0, 0},
        {false, 75, 40, 0, 0, 2}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message()
                     << (k.live ? "live" : "automatic") << ", title " << k.title << ", footer " << k.footer
                     << ", " << k.steps << " steps of " << k.step << ", scale " << k.scale);
        const int px = k.scale, h = 299 * px, title = k.title * px, footer = k.footer * px;
        auto desk = std::make_shared<FakeDesktop>();
        desk->page = makePage(480 * px, 1500 * px, 5);
        desk->header = makePage(480 * px, title, 11);
        desk->footer = makePage(480 * px, footer, 13);
        desk->footerAt = h - footer;
        desk->screenW = 480;
        desk->screenH = 400;
        desk->scale = px;
        desk->scrollY = k.step < 0 ? 800 * px : 0;
        const int start = desk->scrollY;
        kit::setScreenSource(desk);
        spy.notices.clear();
        const kit::Rect region(0, 0, 480, 299);

        std::optional<kit::Image> result;
        int moved = 0;
        if (k.live) {
            VisionStitcher::startLiveCapture(region, [&](const kit::Image& img) { result = img; });
            clock.advance(0.3);
            for (int i = 0; i < k.steps; ++i) {
                desk->scrollY += k.step * px;
                moved += k.step * px;
                clock.advance(0.3);
            }
            for (int i = 0; i < 40 && !result; ++i) clock.advance(0.3);
        } else {
            desk->pixelsPerClick = 37 * px;
            ScrollCapturer::start(-1, region, [&](const kit::Image& img) { result = img; });
            for (double t = 0; t < 120 && !result; t += 0.05) clock.advance(0.05);
            clock.advance(5);
            moved = desk->scrollY - start;
        }
        ASSERT_TRUE(result && !result->isNull());
        const kit::Image& got = *result;
        // The page rows the picture should hold between the bands: from the
        // first the region showed below the title, going down; from the last
        // going up.
        int pageRows = got.height() - title - footer;
        int firstRow = (moved < 0 ? start - (got.height() - h) : start) + title;
        ASSERT_GE(pageRows, h - title - footer);
        EXPECT_EQ(wrongRows(got, 0, desk->header).count, 0) << "the title";
        Wrong page = wrongRows(got, title, rows(desk->page, firstRow, pageRows));
        EXPECT_EQ(page.count, 0) << described(page, pageRows);
        EXPECT_EQ(wrongRows(got, got.height() - footer, desk->footer).count, 0) << "the footer";
        // All that was scrolled by, or less and a notice.
        const int whole = h + std::abs(moved);
        EXPECT_LE(got.height(), whole);
        if (got.height() < whole) {
            EXPECT_EQ(spy.notices, std::vector<std::string>{"Scrolling capture stopped early"});
        } else {
            EXPECT_TRUE(spy.notices.empty());
        }
        // The live capture measures a shift as far as the page rows between
        // the bands leave an overlap of about a seventh of the region; the
        // automatic one sends no more clicks than it can measure.
        const int reach = std::min(int(h * 0.85) - title - footer, int(h * 0.7));
        if (k.title + k.footer <= 299 * 2 / 5 && (!k.live || std::abs(k.step) * px <= reach)) {
            EXPECT_EQ(got.height(), whole) << "a scroll within reach left out";
        }
        kit::setScreenSource(nullptr);
    }
}

TEST_F(Bands, TheAutomaticCaptureTakesAWholePageUnderBandsUpToTwoFifths) {
    // A terminal's numbered lines (their middles read alike) or a page that
    // never repeats, in a region 299 rows tall under a title and over a
    // status line that stay as the page scrolls, scrolled down, or up from
    // the page's end, by three lines a wheel click. Up to two fifths of the
    // region together, the picture holds the title once at its top, every
    // page row once between them, the status line once at its bottom, and
    // nothing is said. Above two fifths it holds the first screen and says
    // it stopped early.
    struct Case {
        bool lines;
        int title, footer, direction = -1;
    };
    const Case cases[] = {{true, 30, 0},      {true, 90, 0},    {true, 119, 0},    {true, 36, 36},
                          {true, 0, 90},      {true, 30, 0, 1}, {true, 36, 36, 1}, {false, 90, 0},
                          {false, 36, 36, 1}, {true, 150, 0},   {false, 150, 0},   {true, 0, 150, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << (k.lines ? "lines" : "page") << ", title " << k.title
                                        << ", footer " << k.footer << ", direction " << k.direction);
        const int h = 299;
        auto desk = std::make_shared<FakeDesktop>();
        desk->page = k.lines ? makeLinesPage(LinesKind::numbered, 480, 120) : makePage(480, 1500, 5);
        // A title and a status line that read like the page: lines of a log,
        // cut through their text where they meet the page.
        kit::Image log = makeLinesPage(LinesKind::log, 480, 20);
        desk->header = rows(log, 3, k.title);
        desk->footer = rows(log, 13, k.footer);
        desk->footerAt = h - k.footer;
        desk->screenW = 480;
        desk->screenH = h;
        desk->pixelsPerClick = 3 * kLinePitch;
        const int scrolled = desk->page.height() - h;
        desk->scrollY = k.direction > 0 ? scrolled : 0;
        kit::setScreenSource(desk);
        spy.notices.clear();
        spy.alerts.clear();

        std::optional<kit::Image> result;
        ScrollCapturer::start(k.direction, kit::Rect(0, 0, 480, h),
                              [&](const kit::Image& img) { result = img; });
        for (double t = 0; t < 120 && !result; t += 0.05) clock.advance(0.05);
        clock.advance(5);
        ASSERT_TRUE(result && !result->isNull());
        const kit::Image& got = *result;
        EXPECT_TRUE(spy.alerts.empty());
        EXPECT_EQ(wrongRows(got, 0, desk->header).count, 0) << "the title";
        EXPECT_EQ(wrongRows(got, got.height() - k.footer, desk->footer).count, 0) << "the footer";
        if (k.title + k.footer > h * 2 / 5) {
            EXPECT_EQ(got.height(), h);
            EXPECT_EQ(spy.notices, std::vector<std::string>{"Scrolling capture stopped early"});
            continue;
        }
        EXPECT_TRUE(spy.notices.empty());
        EXPECT_EQ(desk->scrollY, k.direction > 0 ? 0 : scrolled);
        ASSERT_EQ(got.height(), h + scrolled);
        const int pageRows = got.height() - k.title - k.footer;
        Wrong page = wrongRows(got, k.title, rows(desk->page, k.title, pageRows));
        EXPECT_EQ(page.count, 0) << described(page, pageRows);
    }
}
