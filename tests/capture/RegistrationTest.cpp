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

TEST(Registration, ContentRedrawnWithSmallChangesStillRegisters) {
    // A page redrawn a little differently after the scroll (dithering, a soft
    // image resampled): no row is drawn again byte for byte, and the shift
    // must still be found.
    kit::Image page = makePage(640, 3000);
    for (int s : {0, 41, -97}) {
        kit::Image next = rows(page, 1000 + s, 400);
        for (int y = 0; y < next.height(); ++y)
            for (int x = (y * 7) % 5; x < next.width(); x += 5) {
                kit::PixelBGRA p = next.pixel(x, y);
                p.g = uint8_t(p.g > 128 ? p.g - 3 : p.g + 3);
                next.setPixel(x, y, p);
            }
        auto r = registerFrames(rows(page, 1000, 400), next);
        ASSERT_TRUE(r) << s;
        EXPECT_EQ(r->dy, s);
        EXPECT_TRUE(r->unambiguous()) << s;
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

TEST(Registration, LinesThatLookAlikeAreToldApartOverTheWholeWidthOrReportedAsTies) {
    // Numbered lines: the middle columns agree at every whole number of lines,
    // the numbers at the left only at the true one. Tall frames too, where a
    // search on rows averaged in blocks would miss shifts off the block grid.
    kit::Image page = makeLinesPage(LinesKind::numbered, 480, 160);
    for (int h : {390, 700})
        for (int lines : {1, 5, 10, 15, -3}) {
            auto r = registerFrames(rows(page, 260, h), rows(page, 260 + lines * kLinePitch, h));
            ASSERT_TRUE(r) << lines;
            EXPECT_EQ(r->dy, lines * kLinePitch) << h;
            EXPECT_EQ(r->ties, std::vector<int>{lines * kLinePitch}) << h;
        }
    // The region takes in the pager's status line below the text, which stays
    // put and changes (the file's name in reverse, then a colon): it adds its
    // own difference to every shift, and the true one must still win.
    kit::Image prev = rows(page, 260, 390), next = rows(page, 325, 390);
    for (int y = 377; y < 390; ++y)
        for (int x = 0; x < 480; ++x) {
            uint8_t p = x < 110 && y > 378 ? 0 : 250, n = x < 6 && y > 378 ? 0 : 250;
            prev.setPixel(x, y, {p, p, p, 255});
            next.setPixel(x, y, {n, n, n, 255});
        }
    auto withStatus = registerFrames(prev, next);
    ASSERT_TRUE(withStatus);
    EXPECT_EQ(withStatus->ties, std::vector<int>{65});

    // The striped table's middle columns: every odd number of lines agrees.
    kit::Image table = makeLinesPage(LinesKind::table, 480, 120).cropped(100, 0, 240, 120 * kLinePitch);
    auto r = registerFrames(rows(table, 260, 299), rows(table, 260 + 3 * kLinePitch, 299));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->unambiguous());
    for (int t : r->ties) EXPECT_EQ(std::abs(t / kLinePitch) % 2, 1) << t;
    for (int lines : {-1, 1, 3, 5})
        EXPECT_NE(std::find(r->ties.begin(), r->ties.end(), lines * kLinePitch), r->ties.end()) << lines;
    // A prediction picks one only when it clearly points at it.
    EXPECT_EQ(capture::nearestTo(r->ties, 3 * kLinePitch), 3 * kLinePitch);
    EXPECT_EQ(capture::nearestTo(r->ties, 3 * kLinePitch + 2), 3 * kLinePitch);
    EXPECT_FALSE(capture::nearestTo(r->ties, 4 * kLinePitch));
    EXPECT_FALSE(capture::nearestTo(r->ties, 0));
    // Halfway between two ties the prediction points at neither.
    EXPECT_FALSE(capture::nearestTo({20, 24}, 22));
    EXPECT_FALSE(capture::nearestTo({24, 20}, 22.5));
    EXPECT_EQ(capture::nearestTo({20, 30}, 21), 20);
}

TEST(Registration, AFrameLooksAlikeShiftedOnlyWhereAScrollCannotBeSeen) {
    using capture::looksAlikeShifted;
    // A run of one line, or of empty lines, under a title that stays: a
    // scroll by whole lines leaves it the same, the title aside.
    kit::Image run = rows(pageWithRun(120, 10, 100, false), 40 * kLinePitch, 299);
    kit::Image empty = rows(pageWithRun(120, 10, 100, true), 40 * kLinePitch, 299);
    capture::copyInto(run, makePage(480, 10), 0, 0);
    EXPECT_TRUE(looksAlikeShifted(run));
    EXPECT_TRUE(looksAlikeShifted(empty));
    EXPECT_TRUE(looksAlikeShifted(doubled(run)));
    // Lines told apart only by their numbers at the left; a mostly empty
    // region with two lines of text; a picture whose every row comes twice.
    kit::Image numbered = rows(makeLinesPage(LinesKind::numbered, 480, 40), 0, 299);
    kit::Image sparse = rows(pageWithRun(120, 0, 120, true), 0, 299);
    capture::copyInto(sparse, rows(makeLinesPage(LinesKind::log, 480, 2), 0, 2 * kLinePitch), 0, 150);
    EXPECT_FALSE(looksAlikeShifted(numbered));
    EXPECT_FALSE(looksAlikeShifted(doubled(numbered)));
    EXPECT_FALSE(looksAlikeShifted(sparse));
    EXPECT_FALSE(looksAlikeShifted(doubled(makePage(240, 150))));
}

#include <QFont>
#include <QImage>
#include <QPainter>

#include "kit/base/qt/QtImage.h"

TEST(Registration, RenderedTextLinesThatLookAlike) {
    // A page of text lines of the same length and layout: every line looks
    // like its neighbours except for a few characters.
    QImage q(700, 3000, QImage::Format_ARGB32_Premultiplied);
    q.fill(Qt::white);
    QPainter p(&q);
    p.setFont(QFont("DejaVu Sans", 11));
    p.setPen(Qt::black);
    for (int i = 0; i < 140; ++i)
        p.drawText(20, 20 + i * 21,
                   QString("Line %1: the quick brown fox jumps over the lazy dog %2").arg(i).arg(i * 7 % 13));
    p.end();
    kit::Image page = kit::qt::toImage(q);
    kit::Image prev = rows(page, 900, 500);
    for (int s : {3, 21, 42, 63, 120, 199, 300, -21, -150}) {
        auto r = registerFrames(prev, rows(page, 900 + s, 500));
        ASSERT_TRUE(r) << s;
        EXPECT_EQ(r->dy, s) << "cost " << r->cost;
    }
}
