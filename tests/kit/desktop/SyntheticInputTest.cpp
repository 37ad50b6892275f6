#include <gtest/gtest.h>

#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <functional>

#include "kit/desktop/ScreenSource.h"
#include "kit/desktop/SyntheticInput.h"
#include "kit/desktop/x11/PointerWatch.h"

namespace {

struct InputRecorder : kit::ScreenSource {
    std::vector<int> clicks;
    std::vector<kit::Point> warps;
    std::vector<bool> hidden;
    bool scrollClicks(int v, int) override {
        clicks.push_back(v);
        return true;
    }
    void warp(kit::Point p) override { warps.push_back(p); }
    void setCursorHidden(bool h) override { hidden.push_back(h); }
    bool inputTrusted() override { return true; }
};

}  // namespace

TEST(SyntheticInput, DistancesBecomeWholeWheelClicks) {
    EXPECT_EQ(kit::SyntheticInput::clicksFor(0), 0);
    EXPECT_EQ(kit::SyntheticInput::clicksFor(-1), -1);  // any movement is at least one click
    EXPECT_EQ(kit::SyntheticInput::clicksFor(100), 2);
    EXPECT_EQ(kit::SyntheticInput::clicksFor(-300), -6);
    EXPECT_EQ(kit::SyntheticInput::clicksFor(std::nan("")), 0);
}

TEST(SyntheticInput, GoesToTheInstalledSource) {
    auto rec = std::make_shared<InputRecorder>();
    kit::setScreenSource(rec);
    EXPECT_TRUE(kit::SyntheticInput::trusted());
    kit::SyntheticInput::warp({10, 20});
    kit::SyntheticInput::scroll(-100);
    kit::SyntheticInput::scroll(0);
    kit::SyntheticInput::setCursorHidden(true);
    EXPECT_EQ(rec->warps, (std::vector<kit::Point>{{10, 20}}));
    EXPECT_EQ(rec->clicks, (std::vector<int>{-2, 0}));
    EXPECT_EQ(rec->hidden, std::vector<bool>{true});
    kit::setScreenSource(nullptr);
}

// On a real X server (run by the kit live tests): a hidden pointer comes back
// when the user moves the mouse, but our own warps do not count as moves.
TEST(KitLiveSyntheticInput, OnlyTheUsersPointerMovesAreNoticed) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
    if (QStandardPaths::findExecutable("xdotool").isEmpty()) GTEST_SKIP() << "needs xdotool";
    auto spinUntil = [](const std::function<bool()>& done, int ms) {
        for (int t = 0; t < ms && !done(); t += 20) {
            QEventLoop loop;
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
            loop.exec();
        }
    };
    int moves = 0;
    ASSERT_TRUE(kit::x11::onNextPointerMotion([&] { ++moves; }));
    kit::SyntheticInput::warp({100, 100});
    kit::SyntheticInput::warp({300, 200});
    spinUntil([&] { return moves > 0; }, 400);
    EXPECT_EQ(moves, 0);
    QProcess::execute("xdotool", {"mousemove_relative", "5", "5"});
    spinUntil([&] { return moves > 0; }, 3000);
    EXPECT_EQ(moves, 1);
    // Once: later moves are not reported until someone watches again.
    QProcess::execute("xdotool", {"mousemove_relative", "5", "5"});
    spinUntil([&] { return moves > 1; }, 400);
    EXPECT_EQ(moves, 1);

    // Hiding watches by itself; showing stops the watch.
    kit::SyntheticInput::setCursorHidden(true);
    kit::SyntheticInput::setCursorHidden(false);
    EXPECT_TRUE(kit::x11::onNextPointerMotion({}));
}
