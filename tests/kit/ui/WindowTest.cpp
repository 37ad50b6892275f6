// Windows: flag mapping, frames in the y-up screen space, delegate calls and
// the application's window list, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include "kit/base/Displays.h"
#include "kit/base/qt/QtImage.h"
#include "kit/ui/Application.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"
#include "kit/ui/qt/WindowPrivate.h"

using namespace kit;

namespace {

struct Delegate : WindowDelegate {
    bool allowClose = true;
    int shouldClose = 0, willClose = 0, resized = 0, enteredFullScreen = 0, exitedFullScreen = 0;
    bool windowShouldClose(Window&) override {
        ++shouldClose;
        return allowClose;
    }
    void windowWillClose(Window&) override { ++willClose; }
    void windowDidResize(Window&) override { ++resized; }
    void windowDidEnterFullScreen(Window&) override { ++enteredFullScreen; }
    void windowDidExitFullScreen(Window&) override { ++exitedFullScreen; }
};

Qt::WindowFlags flags(const Window& w) {
    return qt::windowWidget(w)->windowFlags();
}

}  // namespace

TEST(WindowFlags, StylesAndLevelsMapToWindowManagerHints) {
    Window plain({0, 0, 100, 100}, WindowStyle::Borderless);
    EXPECT_TRUE(flags(plain) & Qt::FramelessWindowHint);
    EXPECT_FALSE(flags(plain) & Qt::WindowStaysOnTopHint);
    plain.setLevel(WindowLevel::Floating);
    EXPECT_TRUE(flags(plain) & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(flags(plain) & Qt::X11BypassWindowManagerHint);
    plain.setLevel(WindowLevel::ScreenSaver);
    EXPECT_TRUE(flags(plain) & Qt::X11BypassWindowManagerHint);
    plain.setIgnoresMouseEvents(true);
    EXPECT_TRUE(flags(plain) & Qt::WindowTransparentForInput);

    Window titled({0, 0, 100, 100}, WindowStyle::Titled | WindowStyle::Closable | WindowStyle::Resizable);
    EXPECT_FALSE(flags(titled) & Qt::FramelessWindowHint);
    EXPECT_TRUE(flags(titled) & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags(titled) & Qt::WindowMinimizeButtonHint);
    Window panel({0, 0, 100, 100}, WindowStyle::NonactivatingPanel | WindowStyle::Utility);
    EXPECT_TRUE(flags(panel) & Qt::WindowDoesNotAcceptFocus);
    EXPECT_EQ(flags(panel) & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(qt::windowWidget(panel)->testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST(WindowGeometry, FramesAreYUpFromThePrimaryDisplaysBottom) {
    double h = Displays::primary().frame.height();
    ASSERT_GT(h, 0);
    Window w({50, 100, 200, 80}, WindowStyle::Borderless);
    QRect g = qt::windowWidget(w)->geometry();
    EXPECT_EQ(g, QRect(50, int(h) - 100 - 80, 200, 80));
    EXPECT_EQ(w.frame(), Rect(50, 100, 200, 80));
    w.setFrame({10, 20, 120, 60});
    EXPECT_EQ(w.frame(), Rect(10, 20, 120, 60));
    EXPECT_EQ(w.contentView()->frame(), Rect(0, 0, 120, 60)) << "the content view fills the window";
    EXPECT_EQ(w.convertToScreen(Point{0, 0}), (Point{10, 20}));
    EXPECT_EQ(w.convertFromScreen(Point{15, 70}), (Point{5, 50}));
}

TEST(WindowGeometry, DisplaysConvertBetweenTheTwoSpaces) {
    double h = Displays::primary().frame.height();
    EXPECT_EQ(Displays::toWindowServer(Rect(0, 0, 10, 10)), Rect(0, h - 10, 10, 10));
    EXPECT_EQ(Displays::fromWindowServer(Displays::toWindowServer(Rect(3, 4, 5, 6))), Rect(3, 4, 5, 6));
    EXPECT_EQ(Displays::toWindowServer(Point{7, h}), (Point{7, 0}));
    auto at = Displays::at({1, 1});
    ASSERT_TRUE(at.has_value());
    EXPECT_TRUE(at->isPrimary);
    EXPECT_GE(at->scale, 1);
    EXPECT_FALSE(Displays::at({-5000, -5000}).has_value());
    EXPECT_EQ(Displays::intersecting(Rect(-10, -10, 20, 20)).size(), 1u);
}

TEST(WindowDelegate, ShouldCloseCanKeepTheWindowOpen) {
    auto d = std::make_shared<Delegate>();
    Window w({0, 0, 100, 100}, WindowStyle::Titled | WindowStyle::Closable);
    w.setDelegate(d);
    w.orderFront();
    d->allowClose = false;
    w.performClose();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(d->shouldClose, 1);
    EXPECT_EQ(d->willClose, 0);
    d->allowClose = true;
    w.performClose();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(d->willClose, 1);
    w.orderFront();
    w.close();  // closing by program does not ask
    EXPECT_EQ(d->shouldClose, 2);
    EXPECT_EQ(d->willClose, 2);
    EXPECT_FALSE(w.isVisible());
}

TEST(WindowDelegate, ResizeIsReportedAndAspectRatioKept) {
    auto d = std::make_shared<Delegate>();
    Window w({0, 0, 100, 100}, WindowStyle::Titled | WindowStyle::Resizable);
    w.setDelegate(d);
    w.setAspectRatio({2, 1});
    w.orderFront();
    w.setContentSize({300, 300});
    QApplication::processEvents();
    EXPECT_GE(d->resized, 1);
    EXPECT_EQ(w.contentSize(), (Size{300, 150}));
    EXPECT_EQ(w.contentView()->frame().size, (Size{300, 150}));
    w.orderOut();
}

TEST(WindowDelegate, FullScreenChangesAreReportedOnceEach) {
    auto d = std::make_shared<Delegate>();
    Window w({0, 0, 100, 100}, WindowStyle::Titled | WindowStyle::Resizable);
    w.setDelegate(d);
    w.orderFront();
    w.toggleFullScreen();
    QApplication::processEvents();
    EXPECT_TRUE(w.isFullScreen());
    EXPECT_EQ(d->enteredFullScreen, 1);
    EXPECT_EQ(d->exitedFullScreen, 0);
    w.toggleFullScreen();
    QApplication::processEvents();
    EXPECT_FALSE(w.isFullScreen());
    EXPECT_EQ(d->enteredFullScreen, 1);
    EXPECT_EQ(d->exitedFullScreen, 1);
    w.orderOut();
}

TEST(ApplicationWindows, TheApplicationKnowsItsWindows) {
    auto& app = Application::shared();
    size_t before = app.windows().size();
    {
        Window w({0, 0, 10, 10}, WindowStyle::Borderless);
        auto list = app.windows();
        ASSERT_EQ(list.size(), before + 1);
        EXPECT_EQ(list.back(), &w);
        w.orderFront();
        Window never({0, 0, 10, 10}, WindowStyle::Borderless);
        app.hide();
        EXPECT_FALSE(w.isVisible());
        EXPECT_TRUE(app.isHidden());
        app.activate();
        EXPECT_TRUE(w.isVisible()) << "activating brings back what hiding took away";
        EXPECT_FALSE(never.isVisible());
        EXPECT_FALSE(app.isHidden());
        app.hide();
    }
    EXPECT_EQ(app.windows().size(), before);
    app.activate();  // nothing left to bring back
    EXPECT_FALSE(app.isHidden());
    app.setActivationPolicy(ActivationPolicy::Accessory);
    EXPECT_EQ(app.activationPolicy(), ActivationPolicy::Accessory);
    app.setActivationPolicy(ActivationPolicy::Regular);
}

TEST(WindowGeometry, AnimatedFrameChangesEndAtTheTarget) {
    Window w({10, 10, 100, 100}, WindowStyle::Borderless);
    w.orderFront();
    w.setFrame({200, 150, 160, 90}, true);
    EXPECT_NE(w.frame(), Rect(200, 150, 160, 90)) << "still moving";
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1000 && w.frame() != Rect(200, 150, 160, 90))
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(w.frame(), Rect(200, 150, 160, 90));
    EXPECT_EQ(w.contentView()->frame().size, (Size{160, 90}));
    w.orderOut();
}

TEST(WindowGeometry, ShapesCutTheWindowToTheGivenParts) {
    Window w({0, 0, 200, 100}, WindowStyle::Borderless);
    // A frame around a hole: the bottom and top bands of the content.
    w.setShape({Rect(0, 0, 200, 20), Rect(0, 80, 200, 20)});
    QRegion mask = qt::windowWidget(w)->mask();
    EXPECT_TRUE(mask.contains(QPoint(100, 90))) << "bottom band (y down: rows 80-99)";
    EXPECT_TRUE(mask.contains(QPoint(100, 5))) << "top band";
    EXPECT_FALSE(mask.contains(QPoint(100, 50))) << "the hole";
    w.setShape({});
    EXPECT_TRUE(qt::windowWidget(w)->mask().isEmpty());
}

// A colour as the screen gets it, eight bits a channel.
static QColor onScreen(Color c) {
    return QColor::fromRgbF(float(c.r), float(c.g), float(c.b)).toRgb();
}

TEST(WindowLook, WithoutAColourOfItsOwnAWindowPaintsTheDesktopsWindowColour) {
    QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Window, QColor(40, 44, 52));
    QApplication::setPalette(dark);
    {
        Window w({0, 0, 40, 30}, WindowStyle::Titled);
        EXPECT_EQ(onScreen(w.backgroundColor()), QColor(40, 44, 52)) << "a dark desktop gets a dark window";
        QImage painted = qt::windowWidget(w)->grab().toImage();
        EXPECT_EQ(painted.pixelColor(20, 15), QColor(40, 44, 52));
        w.setBackgroundColor(Color::rgb(200, 10, 10));
        EXPECT_EQ(onScreen(w.backgroundColor()), QColor(200, 10, 10))
            << "a colour set stays, whatever the desktop";
        QApplication::setPalette(before);
        EXPECT_EQ(onScreen(w.backgroundColor()), QColor(200, 10, 10));
        EXPECT_EQ(qt::windowWidget(w)->grab().toImage().pixelColor(20, 15), QColor(200, 10, 10));
    }
    QApplication::setPalette(before);
}

TEST(WindowLook, TheApplicationIconHoldsEveryPixelSizeGiven) {
    auto square = [](int side) {
        QImage q(side, side, QImage::Format_ARGB32_Premultiplied);
        q.fill(Qt::red);
        return qt::toImage(q, side / 24.0);
    };
    QIcon before = QApplication::windowIcon();
    Application::shared().setIconImages({square(24), Image(), square(48)});
    auto sizes = QApplication::windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(24, 24)));
    EXPECT_TRUE(sizes.contains(QSize(48, 48))) << "sized by pixels, not by points";
    EXPECT_EQ(sizes.size(), 2) << "a picture that failed to draw is left out";
    Application::shared().setIconImages({Image()});
    EXPECT_EQ(QApplication::windowIcon().availableSizes().size(), 2)
        << "nothing to show keeps the icon there is";
    QApplication::setWindowIcon(before);
}
