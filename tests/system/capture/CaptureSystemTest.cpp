// Capture routes and scrolling captures against real windows on an X display
// (Xvfb with openbox), driven with xdotool.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <filesystem>

#include "capture/Capturer.h"
#include "capture/ScrollCapturer.h"
#include "capture/Synthetic.h"
#include "capture/VisionStitcher.h"
#include "kit/base/Files.h"
#include "kit/base/Process.h"
#include "kit/base/qt/QtImage.h"
#include "kit/desktop/Grab.h"
#include "kit/desktop/Screen.h"
#include "kit/desktop/WindowList.h"
#include "kit/image/ImageIO.h"
#include "support/EventLoopWait.h"
#include "system/capture/TextPage.h"

using capture::Capturer;
using capture::WindowShadow;
using namespace testing_capture;

namespace {

std::string binDir() {
    return QCoreApplication::applicationDirPath().toStdString();
}

using testsupport::spin;
using testsupport::waitFor;

void xdo(const QStringList& args) {
    QProcess::execute("xdotool", args);
}
// Runs a shell line in the background while the test blocks in a capture.
void later(const QString& script) {
    QProcess::startDetached("bash", {"-c", script});
}
// The same once the screenshot tool shows its selection overlay.
void whenPicking(const QString& script) {
    later(
        "for i in $(seq 200); do xdotool search --name '^kadrix-screencapture$' >/dev/null && break; sleep "
        "0.1; "
        "done; sleep 0.3; " +
        script);
}

std::optional<kit::WindowInfo> windowTitled(const std::string& title) {
    for (auto& w : kit::onScreenWindows())
        if (w.title == title) return w;
    return std::nullopt;
}

class Client {
public:
    explicit Client(const QStringList& args) {
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start(QString::fromStdString(binDir() + "/kadrix-testclient"), args);
        proc_.waitForStarted();
    }
    ~Client() {
        proc_.kill();
        proc_.waitForFinished();
    }

private:
    QProcess proc_;
};

// The page row that the image's first rows show (searched from py on), or py.
int firstRowAt(const kit::Image& img, const kit::Image& page, int px, int py) {
    auto same = [&](int iy, int py2) {
        for (int x = 0; x < img.width(); ++x)
            if (!(img.pixel(x, iy) == page.pixel(px + x, py2))) return false;
        return true;
    };
    for (int y = py; y + 8 < page.height(); ++y) {
        bool all = true;
        for (int k = 0; k < 8 && all; ++k) all = same(k * 7 % img.height(), y + k * 7 % img.height());
        if (all) return y;
    }
    return py;
}

// Share of rows of `img` equal to the page rows starting at (px, py).
double matchingRows(const kit::Image& img, const kit::Image& page, int px, int py) {
    if (img.isNull() || img.height() == 0) return 0;
    int good = 0;
    for (int y = 0; y < img.height(); ++y) {
        bool same = py + y < page.height();
        for (int x = 0; x < img.width() && same; ++x) same = img.pixel(x, y) == page.pixel(px + x, py + y);
        good += same;
    }
    return double(good) / img.height();
}

struct ScrollWindow {
    kit::Rect viewport;
    int offset = 0;
};

std::optional<ScrollWindow> readInfo(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    auto parts = QString::fromUtf8(f.readAll()).split(' ');
    if (parts.size() < 5) return std::nullopt;
    return ScrollWindow{kit::Rect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt()),
                        parts[4].trimmed().toInt()};
}

}  // namespace

class CaptureSystem : public ::testing::Test {
protected:
    void SetUp() override {
        spy.toolPath = binDir() + "/kadrix-screencapture";
        spy.install();
        capture::captureContext() = {};
        xdo({"mousemove", "5", "5"});
    }
    void TearDown() override { capture::resetHost(); }
    HostSpy spy;
};

TEST_F(CaptureSystem, FullScreenWithAndWithoutPointer) {
    Client red({"solid", "Red Window", "200", "150", "400", "300", "#d01020"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Red Window").has_value(); }));
    spin(300);
    xdo({"mousemove", "700", "600"});
    spin(200);
    spy.strings["captureCursor"] = "exclude";
    kit::Image without = Capturer::fullscreen();
    spy.strings["captureCursor"] = "include";
    kit::Image with = Capturer::fullscreen();
    spy.strings["captureCursor"] = "auto";
    kit::Image plain = Capturer::fullscreen();
    auto main = kit::mainScreen();
    ASSERT_TRUE(main);
    ASSERT_EQ(without.width(), int(main->frame.width()));
    EXPECT_EQ(without, plain);
    auto w = windowTitled("Red Window");
    kit::Point c = w->bounds->center();
    EXPECT_EQ(without.pixel(int(c.x), int(c.y)), (kit::PixelBGRA{0x20, 0x10, 0xd0, 255}));
    // The pointer is drawn only when asked for, and only around its position.
    int differing = 0;
    for (int y = 590; y < 640; ++y)
        for (int x = 690; x < 740; ++x) differing += !(with.pixel(x, y) == without.pixel(x, y));
    EXPECT_GT(differing, 20);
    EXPECT_EQ(with.pixel(100, 100), without.pixel(100, 100));
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Red Window");
}

TEST_F(CaptureSystem, ActiveWindowIsTheFrontLayerZeroWindow) {
    Client blue({"solid", "Blue Window", "300", "200", "360", "240", "#1030c0"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Blue Window").has_value(); }));
    Client tiny({"solid", "Tiny Window", "50", "50", "60", "60", "#00ff00"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Tiny Window").has_value(); }));
    spin(400);
    kit::Image img = Capturer::window(WindowShadow::transparent);
    auto w = windowTitled("Blue Window");
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width(), int(w->bounds->width()));
    EXPECT_EQ(img.height(), int(w->bounds->height()));
    EXPECT_EQ(img.pixel(img.width() / 2, img.height() / 2), (kit::PixelBGRA{0xc0, 0x30, 0x10, 255}));
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Blue Window");
}

TEST_F(CaptureSystem, FloatingWindowsAreNotLayerZero) {
    Client under({"solid", "Under Window", "300", "200", "400", "300", "#808000"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Under Window").has_value(); }));
    Client pin({"ontop", "Pin Window", "350", "250", "200", "150", "#ff00ff"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Pin Window").has_value(); }));
    spin(400);
    auto list = kit::onScreenWindows();
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list.front().title, "Pin Window");  // front to back
    EXPECT_EQ(list.front().layer, kit::kLayerFloating);
    Capturer::window(WindowShadow::transparent);
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Under Window");
    Capturer::noteWindowUnder(400, 300);
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Under Window");
}

TEST_F(CaptureSystem, AreaDraggedInTheToolAndRepeated) {
    Client green({"solid", "Green Window", "100", "100", "500", "400", "#20a040"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Green Window").has_value(); }));
    spin(400);
    // From the area's top-left pixel to its bottom-right pixel, both taken.
    whenPicking("xdotool mousemove 150 160 mousedown 1 mousemove 300 260 mousemove 451 361 mouseup 1");
    kit::Image img = Capturer::interactive(WindowShadow::transparent, false, false, false);
    ASSERT_FALSE(img.isNull());
    kit::Rect expected(150, 160, 302, 202);
    EXPECT_EQ(capture::captureContext().rememberedArea, expected);
    EXPECT_EQ(img, kit::grabArea(expected));
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Green Window");

    kit::Image again = Capturer::interactive(WindowShadow::transparent, false, true, false);
    EXPECT_EQ(again, img);
    EXPECT_TRUE(spy.notices.empty());
    EXPECT_TRUE(spy.oopses.empty());
}

TEST_F(CaptureSystem, EscapeGivesNoImageAndNoError) {
    whenPicking("xdotool key Escape");
    kit::Image img = Capturer::interactive(WindowShadow::transparent, false, false, false);
    EXPECT_TRUE(img.isNull());
    EXPECT_TRUE(spy.notices.empty());
    EXPECT_TRUE(spy.oopses.empty());
    EXPECT_FALSE(capture::captureContext().rememberedArea);
    // With nothing to repeat the repeat says so and asks for an area.
    whenPicking("xdotool key Escape");
    Capturer::interactive(WindowShadow::transparent, false, true, false);
    EXPECT_EQ(spy.notices, std::vector<std::string>{"No area to repeat"});
}

// The fallback of the Escape tests: 3 s on, unless DONE exists (the capture
// ended), LATE is made and a second Escape is given to the overlay itself, so
// a lost first Escape fails the test instead of hanging it.
static QString escapeAgainUnless(const QString& done, const QString& late) {
    return QString(
               "sleep 3; [ -e '%1' ] || { touch '%2'; xdotool search --onlyvisible --name "
               "'^kadrix-screencapture$' windowfocus key Escape; }")
        .arg(done, late);
}

// Another program holding the keyboard while the overlay comes up (a menu
// still open): once it lets go, the keys are the overlay's, wherever the
// focus went meanwhile, and Escape cancels. Where they are not, the Escape
// is lost and the overlay is cancelled only by a second Escape given to it
// 3 s later.
TEST_F(CaptureSystem, EscapeCancelsOnceAnotherProgramLetsGoOfTheKeyboard) {
    const QString dir = QString::fromStdString(kit::files::tempDir());
    const QString release = dir + "/menu-release", done = dir + "/escape-done", late = dir + "/escape-late";
    for (const QString& f : {release, done, late}) QFile::remove(f);
    Client menu({"grab", "Menu", "20", "20", "80", "80", release});
    ASSERT_TRUE(waitFor([] {
        return QProcess::execute("bash", {"-c", "xdotool search --name '^Menu$' >/dev/null"}) == 0;
    }));
    whenPicking(QString("touch '%1'; sleep 0.4; xdotool search --onlyvisible --name '^Menu$' windowfocus; "
                        "xdotool key Escape; ")
                    .arg(release) +
                escapeAgainUnless(done, late));
    kit::Image img = Capturer::interactive(WindowShadow::transparent, false, false, false);
    QFile(done).open(QIODevice::WriteOnly);
    EXPECT_TRUE(img.isNull());
    EXPECT_FALSE(QFile::exists(late)) << "the first Escape did not reach the overlay";
    EXPECT_TRUE(spy.oopses.empty());
}

// A key given while the overlay is made but not yet shown (it has its title,
// by which scripts find it, a moment before it maps and takes the keys) is
// kept and acted on once it shows. The tool is asked to wait in that moment,
// so the key falls there every time; where it is not kept, the overlay is
// cancelled only by a second Escape given to it 3 s later.
TEST_F(CaptureSystem, EscapeGivenWhileTheOverlayComesUpIsKept) {
    const QString dir = QString::fromStdString(kit::files::tempDir());
    const QString done = dir + "/early-done", late = dir + "/early-late", shown = dir + "/early-shown";
    for (const QString& f : {done, late, shown}) QFile::remove(f);
    qputenv("KADRIX_TEST_OVERLAY_SHOW_DELAY_MS", "700");
    later(
        QString("for i in $(seq 500); do xdotool search --name '^kadrix-screencapture$' >/dev/null && break; "
                "sleep 0.01; done; "
                "xdotool search --onlyvisible --name '^kadrix-screencapture$' >/dev/null && touch '%1'; "
                "xdotool key Escape; ")
            .arg(shown) +
        escapeAgainUnless(done, late));
    kit::Image img = Capturer::interactive(WindowShadow::transparent, false, false, false);
    QFile(done).open(QIODevice::WriteOnly);
    qunsetenv("KADRIX_TEST_OVERLAY_SHOW_DELAY_MS");
    EXPECT_FALSE(QFile::exists(shown)) << "the Escape came after the overlay showed: the test did not test";
    EXPECT_TRUE(img.isNull());
    EXPECT_FALSE(QFile::exists(late)) << "the Escape given while the overlay came up was lost";
    EXPECT_TRUE(spy.oopses.empty());
}

TEST_F(CaptureSystem, WindowPickedByClickInTheTool) {
    Client yellow({"solid", "Yellow Window", "500", "300", "300", "200", "#e0c000"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Yellow Window").has_value(); }));
    spin(400);
    auto w = windowTitled("Yellow Window");
    kit::Point c = w->bounds->center();
    whenPicking(QString("xdotool mousemove %1 %2; sleep 0.3; xdotool click 1").arg(int(c.x)).arg(int(c.y)));
    kit::Image img = Capturer::interactive(WindowShadow::transparent, true, false, false);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width(), int(w->bounds->width()));
    EXPECT_EQ(img.pixel(img.width() / 2, img.height() / 2), (kit::PixelBGRA{0x00, 0xc0, 0xe0, 255}));
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Yellow Window");
}

TEST_F(CaptureSystem, CoveredWindowGivesItsOwnPixels) {
    Client blue({"solid", "Covered Window", "300", "200", "360", "240", "#1030c0"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Covered Window").has_value(); }));
    Client red({"solid", "Covering Window", "380", "260", "200", "120", "#c02010"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Covering Window").has_value(); }));
    spin(400);
    auto w = windowTitled("Covered Window");
    auto cover = windowTitled("Covering Window");
    ASSERT_TRUE(w && cover);
    ASSERT_FALSE(w->bounds->intersection(*cover->bounds).isEmpty());
    const kit::PixelBGRA blueOwn{0xc0, 0x30, 0x10, 255};
    // Where the red window lies over it, in window pixels.
    kit::Rect over = w->bounds->intersection(*cover->bounds);
    auto inWindow = [&](const kit::Image& img) {
        return img.pixel(int(over.midX() - w->bounds->x()), int(over.midY() - w->bounds->y()));
    };
    ASSERT_EQ(
        kit::grabArea(*w->bounds).pixel(int(over.midX() - w->bounds->x()), int(over.midY() - w->bounds->y())),
        (kit::PixelBGRA{0x10, 0x20, 0xc0, 255}))
        << "the covering window is not on top";

    kit::Image img = kit::grabWindow(w->number);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width(), int(w->bounds->width()));
    EXPECT_EQ(inWindow(img), blueOwn);

    // Picked in the tool by a click on its uncovered part.
    whenPicking(QString("xdotool mousemove %1 %2; sleep 0.3; xdotool click 1")
                    .arg(int(w->bounds->x()) + 30)
                    .arg(int(w->bounds->maxY()) - 30));
    kit::Image picked = Capturer::interactive(WindowShadow::transparent, true, false, false);
    ASSERT_FALSE(picked.isNull());
    EXPECT_EQ(picked.width(), int(w->bounds->width()));
    EXPECT_EQ(inWindow(picked), blueOwn);
    // And the screen shows the red window on top again.
    EXPECT_EQ(kit::grabArea(over).pixel(int(over.width() / 2), int(over.height() / 2)),
              (kit::PixelBGRA{0x10, 0x20, 0xc0, 255}));
}

TEST_F(CaptureSystem, LiveOverlayFramesTheRegionAndLeavesItClear) {
    Client white({"solid", "White Window", "100", "100", "500", "400", "#ffffff"});
    ASSERT_TRUE(waitFor([] { return windowTitled("White Window").has_value(); }));
    spin(400);
    const kit::Rect region(200, 200, 200, 150);
    auto overlay = capture::OverlayWindow::create(region);
    ASSERT_TRUE(overlay);
    spin(600);
    kit::Image around =
        kit::grabArea(kit::Rect(region.x() - 4, region.y() - 4, region.width() + 8, region.height() + 8));
    overlay->close();
    overlay.reset();
    ASSERT_FALSE(around.isNull());
    // Inside: the window's white, untouched.
    EXPECT_EQ(around.pixel(4, 4), (kit::PixelBGRA{255, 255, 255, 255}));
    EXPECT_EQ(around.pixel(4 + 199, 4 + 149), (kit::PixelBGRA{255, 255, 255, 255}));
    // The first ring outside: the inner border (40 % black), not plain white.
    const kit::PixelBGRA inner = around.pixel(3, 50);
    EXPECT_LT(inner.r, 200) << int(inner.r);
    EXPECT_GT(inner.r, 100) << int(inner.r);
    // The second ring: the outer border over the dim, darker again.
    EXPECT_LT(around.pixel(2, 50).r, inner.r);
}

TEST_F(CaptureSystem, RectangleOptionKeepsToTheScreens) {
    std::string path = Capturer::temporaryCapturePath();
    auto screen = kit::mainScreen();
    ASSERT_TRUE(screen);
    const kit::Rect s = screen->frame;
    // Wholly off every screen: an error and no file.
    kit::Process off(spy.toolPath, {"-x", "-R" + std::to_string(int(s.maxX()) + 10) + ",10,100,100", path});
    std::string said;
    auto r = off.run([&](std::string_view chunk) { said += chunk; });
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(said.find("outside every screen"), std::string::npos) << said;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
    // Partly off, and far too large: only the part on the screen, no clear pixels.
    for (std::string rect : {"-50,-40,150,100", "-100000,-100000,300000,300000"}) {
        kit::Process part(spy.toolPath, {"-x", "-R" + rect, path});
        r = part.run();
        ASSERT_EQ(r.exitCode, 0) << rect << ": " << r.error;
        kit::Image img = kit::ImageIO::read(path);
        ASSERT_FALSE(img.isNull()) << rect;
        kit::Rect expected = rect == "-50,-40,150,100" ? kit::Rect(0, 0, 100, 60) : s;
        EXPECT_EQ(img.width(), int(expected.width()));
        EXPECT_EQ(img.height(), int(expected.height()));
        EXPECT_EQ(img.pixel(0, 0).a, 255) << rect;
        EXPECT_EQ(Capturer::getXattrRect(path), expected) << rect;
        QFile::remove(QString::fromStdString(path));
    }
}

TEST_F(CaptureSystem, CaptureRectangleReadBackFromTheFile) {
    std::string path = Capturer::temporaryCapturePath();
    kit::Process tool(spy.toolPath, {"-x", "-R40,50,120,80", path});
    auto r = tool.run();
    ASSERT_EQ(r.exitCode, 0) << r.error;
    EXPECT_EQ(Capturer::getXattrRect(path), kit::Rect(40, 50, 120, 80));
    EXPECT_TRUE(spy.oopses.empty());
    kit::files::remove(path);
}

// ───────────────────────── scrolling ─────────────────────────

class ScrollSystem : public CaptureSystem {
protected:
    void openPage(bool fromBottom, bool text = false) {
        if (text) page = kit::qt::toImage(textPage(page.width(), page.height()));
        info = QString::fromStdString(kit::files::tempDir() + "/scroll-info");
        QFile::remove(info);
        client = std::make_unique<Client>(QStringList{text ? "text" : "scroll", "Scroll Page", "200", "100",
                                                      "640", "520", QString::number(page.width()),
                                                      QString::number(page.height()),
                                                      fromBottom ? "bottom" : "top", info});
        ASSERT_TRUE(waitFor([&] { return readInfo(info).has_value(); }));
        spin(300);
        sw = *readInfo(info);
        region = kit::Rect(sw.viewport.x() + 20, sw.viewport.y() + 30, sw.viewport.width() - 60,
                           sw.viewport.height() - 60);
        xdo({"mousemove", QString::number(int(region.midX())), QString::number(int(region.midY()))});
    }
    std::optional<kit::Image> runAuto(int direction) {
        std::optional<kit::Image> result;
        capture::ScrollCapturer::start(direction, region, [&](const kit::Image& img) { result = img; });
        waitFor([&] { return result.has_value(); }, 60000);
        return result;
    }
    // The xdotool line that drags `region` out in the screenshot tool.
    QString dragOverRegion() const {
        return QString("xdotool mousemove %1 %2 mousedown 1 mousemove %3 %4 mousemove %5 %6 mouseup 1")
            .arg(int(region.x()))
            .arg(int(region.y()))
            .arg(int(region.midX()))
            .arg(int(region.midY()))
            .arg(int(region.maxX()) - 1)
            .arg(int(region.maxY()) - 1);
    }
    int pageX() const { return int(region.x() - sw.viewport.x()); }
    int pageY() const { return int(region.y() - sw.viewport.y()); }

    kit::Image page = makePage(600, 3000);
    QString info;
    std::unique_ptr<Client> client;
    ScrollWindow sw;
    kit::Rect region;
};

TEST_F(ScrollSystem, AutomaticCaptureDownToTheEnd) {
    openPage(false);
    auto img = runAuto(-1);
    ASSERT_TRUE(img && !img->isNull());
    int maxScroll = page.height() - int(sw.viewport.height());
    EXPECT_EQ(img->height(), int(region.height()) + maxScroll);
    double share = matchingRows(*img, page, pageX(), pageY());
    std::cout << "auto down: " << img->height() << " rows, matching " << share * 100 << " %" << std::endl;
    EXPECT_EQ(share, 1.0);
    EXPECT_EQ(spy.lastPreset["stopped"], "endReached");
}

TEST_F(ScrollSystem, AutomaticCaptureUpToTheStart) {
    openPage(true);
    auto img = runAuto(1);
    ASSERT_TRUE(img && !img->isNull());
    int maxScroll = page.height() - int(sw.viewport.height());
    EXPECT_EQ(img->height(), int(region.height()) + maxScroll);
    double share = matchingRows(*img, page, pageX(), pageY());
    std::cout << "auto up: " << img->height() << " rows, matching " << share * 100 << " %" << std::endl;
    EXPECT_EQ(share, 1.0);
}

TEST_F(ScrollSystem, AutomaticCaptureOfTextLines) {
    openPage(false, true);
    auto img = runAuto(-1);
    ASSERT_TRUE(img && !img->isNull());
    int maxScroll = page.height() - int(sw.viewport.height());
    double share = matchingRows(*img, page, pageX(), pageY());
    std::cout << "auto text: " << img->height() << " rows, matching " << share * 100 << " %" << std::endl;
    EXPECT_EQ(img->height(), int(region.height()) + maxScroll);
    EXPECT_EQ(share, 1.0);
}

TEST_F(ScrollSystem, AutomaticCaptureStopsAtTheHeightLimit) {
    spy.ints["scrollingMax"] = 1200;
    openPage(false);
    auto img = runAuto(-1);
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_LE(img->height(), 1200);
    EXPECT_GT(img->height(), 900);
    EXPECT_EQ(matchingRows(*img, page, pageX(), pageY()), 1.0);
    EXPECT_EQ(spy.lastPreset["stopped"], "maxHeight");
}

TEST_F(ScrollSystem, AutomaticCaptureStopsOnAKeyOrAClick) {
    openPage(false);
    later("sleep 1.0; xdotool key a");
    auto img = runAuto(-1);
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(spy.lastPreset["stopped"], "interrupted");
    EXPECT_LT(img->height(), 2000);
    EXPECT_EQ(matchingRows(*img, page, pageX(), pageY()), 1.0);

    openPage(false);
    later("sleep 1.0; xdotool click 1");
    img = runAuto(-1);
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(spy.lastPreset["stopped"], "interrupted");
}

TEST_F(ScrollSystem, AutomaticCaptureOfARegionPickedInTheTool) {
    openPage(false);
    whenPicking(dragOverRegion());
    std::optional<kit::Image> img;
    capture::ScrollCapturer::start(-1, std::nullopt, [&](const kit::Image& i) { img = i; });
    waitFor([&] { return img.has_value(); }, 60000);
    ASSERT_TRUE(img && !img->isNull());
    EXPECT_EQ(img->width(), int(region.width()));
    EXPECT_EQ(img->height(), int(region.height()) + page.height() - int(sw.viewport.height()));
    EXPECT_EQ(matchingRows(*img, page, pageX(), pageY()), 1.0);
    EXPECT_EQ(spy.lastPreset["stopped"], "endReached");
}

TEST_F(ScrollSystem, LiveCaptureFollowsWheelClicksAtSeveralSpeeds) {
    openPage(false);
    std::optional<kit::Image> result;
    capture::VisionStitcher::startLiveCapture(region, [&](const kit::Image& img) { result = img; });
    // Slow single clicks, then pairs, then a burst too fast to follow and a step back.
    later(
        "sleep 0.8;"
        "for i in 1 2 3 4; do xdotool click 5; sleep 0.45; done;"
        "for i in 1 2 3; do xdotool click --repeat 2 --delay 20 5; sleep 0.35; done;"
        "xdotool click --repeat 7 --delay 10 5; sleep 0.7;"
        "xdotool click --repeat 4 --delay 20 4; sleep 0.7;"
        "for i in 1 2; do xdotool click 5; sleep 0.4; done;"
        "xdotool key Escape");
    waitFor([&] { return result.has_value(); }, 30000);
    ASSERT_TRUE(result && !result->isNull());
    // The user may have scrolled before the first frame: find where the image starts.
    double share = matchingRows(*result, page, pageX(), firstRowAt(*result, page, pageX(), pageY()));
    std::cout << "live: " << result->height() << " rows, matching " << share * 100 << " %" << std::endl;
    EXPECT_GT(result->height(), int(region.height()) + 300);
    EXPECT_EQ(share, 1.0);
}

TEST_F(ScrollSystem, LiveCaptureOfTextLines) {
    openPage(false, true);
    std::optional<kit::Image> result;
    capture::VisionStitcher::startLiveCapture(region, [&](const kit::Image& img) { result = img; });
    later(
        "sleep 0.8;"
        "for i in 1 2 3 4 5 6; do xdotool click 5; sleep 0.4; done;"
        "for i in 1 2 3; do xdotool click --repeat 2 --delay 20 5; sleep 0.35; done;"
        "xdotool key Escape");
    waitFor([&] { return result.has_value(); }, 30000);
    ASSERT_TRUE(result && !result->isNull());
    double share = matchingRows(*result, page, pageX(), firstRowAt(*result, page, pageX(), pageY()));
    std::cout << "live text: " << result->height() << " rows, matching " << share * 100 << " %" << std::endl;
    EXPECT_GT(result->height(), int(region.height()) + 300);
    EXPECT_EQ(share, 1.0);
}

TEST_F(ScrollSystem, LiveCaptureOfARegionPickedInTheTool) {
    // As the user starts it: the region is dragged in the screenshot tool, whose
    // overlay is gone before the first frame and the live overlay are made. The
    // wheel turns once the first frame is taken, as a user waits for the
    // overlay: a busy machine put it off past a fixed pause, and the turns
    // before it were lost to the picture.
    openPage(false, true);
    std::optional<kit::Image> result;
    QString framed = QString::fromStdString(kit::files::tempDir() + "/live-first-frame");
    QFile::remove(framed);
    whenPicking(dragOverRegion() +
                QString("; for i in $(seq 100); do [ -e '%1' ] && break; sleep 0.1; done;"
                        " sleep 0.3; for i in 1 2 3 4 5; do xdotool click 5; sleep 0.4; done;"
                        " xdotool key Escape")
                    .arg(framed));
    capture::VisionStitcher::startLiveCapture(std::nullopt, [&](const kit::Image& img) { result = img; });
    waitFor(
        [&] {
            if (!capture::VisionStitcher::shared().lastScreenshot.isNull() && !QFile::exists(framed))
                QFile(framed).open(QIODevice::WriteOnly);
            return result.has_value();
        },
        30000);
    ASSERT_TRUE(result && !result->isNull());
    EXPECT_EQ(result->width(), int(region.width()));
    double share = matchingRows(*result, page, pageX(), firstRowAt(*result, page, pageX(), pageY()));
    std::cout << "live picked: " << result->height() << " rows, matching " << share * 100 << " %"
              << std::endl;
    EXPECT_GT(result->height(), int(region.height()) + 200);
    EXPECT_EQ(share, 1.0);
}

// ───────────────────────── at scale 2 (QT_SCALE_FACTOR=2) ─────────────────────────

class ScaleTwo : public CaptureSystem {
protected:
    void SetUp() override {
        auto main = kit::mainScreen();
        if (!main || main->scale != 2.0) GTEST_SKIP() << "runs with QT_SCALE_FACTOR=2";
        CaptureSystem::SetUp();
    }
};

TEST_F(ScaleTwo, AreaDragGivesPhysicalPixelsOfTheLogicalRectangle) {
    Client green({"solid", "Green Window", "50", "50", "400", "300", "#20a040"});
    ASSERT_TRUE(waitFor([] { return windowTitled("Green Window").has_value(); }));
    spin(400);
    // xdotool speaks root pixels: twice the logical coordinates.
    whenPicking("xdotool mousemove 300 320 mousedown 1 mousemove 500 500 mousemove 902 722 mouseup 1");
    kit::Image img = Capturer::interactive(WindowShadow::transparent, false, false, false);
    ASSERT_FALSE(img.isNull());
    kit::Rect expected(150, 160, 302, 202);
    EXPECT_EQ(capture::captureContext().rememberedArea, expected);
    EXPECT_EQ(img.width(), 604);
    EXPECT_EQ(img.height(), 404);
    EXPECT_EQ(img.scale(), 2.0);
    EXPECT_EQ(img, kit::grabArea(expected));
    EXPECT_EQ(Capturer::interactive(WindowShadow::transparent, false, true, false), img);
}

TEST_F(ScaleTwo, AutomaticScrollingAtScaleTwo) {
    kit::Image page = makePage(600, 3000);
    QString info = QString::fromStdString(kit::files::tempDir() + "/scroll-info-2x");
    QFile::remove(info);
    Client client({"scroll", "Scroll Page", "40", "40", "320", "240", "600", "3000", "top", info});
    ASSERT_TRUE(waitFor([&] { return readInfo(info).has_value(); }));
    spin(300);
    ScrollWindow sw = *readInfo(info);
    kit::Rect region(sw.viewport.x() + 10, sw.viewport.y() + 15, sw.viewport.width() - 30,
                     sw.viewport.height() - 30);
    kit::Image before = kit::grabArea(region);
    std::optional<kit::Image> result;
    capture::ScrollCapturer::start(-1, region, [&](const kit::Image& img) { result = img; });
    waitFor([&] { return result.has_value(); }, 60000);
    ASSERT_TRUE(result && !result->isNull());
    kit::Image after = kit::grabArea(region);
    std::cout << "auto at 2x: " << result->height() << " rows" << std::endl;
    // The page is drawn scaled up, so the truth is what the screen showed at
    // the start and at the end, and the height the scrolling covered.
    EXPECT_EQ(result->scale(), 2.0);
    EXPECT_EQ(result->height(), 2 * int(region.height() + 3000 - sw.viewport.height()));
    EXPECT_EQ(result->cropped(0, 0, before.width(), before.height()), before);
    EXPECT_EQ(result->cropped(0, result->height() - after.height(), after.width(), after.height()), after);
}
