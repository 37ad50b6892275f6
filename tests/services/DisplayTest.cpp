// The toast on a real X display (run by display_test.sh under Xvfb with a
// window manager): it slides in, draws its panel, and a click on its button
// runs the notice's action. Skipped on the headless platform.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Displays.h"
#include "kit/base/Files.h"
#include "kit/base/Process.h"
#include "kit/desktop/Grab.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/SystemNotifications.h"
#include "services/Telemetry.h"

using namespace services;

namespace {
class ToastOnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("KADRIX_DISPLAY_TESTS")) GTEST_SKIP() << "needs an X display (display_test.sh)";
        storage = std::make_unique<kit::Defaults>("");
        settings = std::make_unique<Settings>(*storage);
        telemetry = std::make_unique<Telemetry>(
            *settings, [](const std::string&, const std::vector<EventRecord>&, PostCompletion) {});
        settings->setTelemetry(telemetry.get());
        notifier = std::make_unique<Notifier>(*settings, *telemetry, desktopNotifications());
    }

    // Waits for the slide to end, then grabs the toast's window from the screen.
    kit::Image shownToast() {
        kit::Rect target = Notifier::finalFrame(notifier->winNotifier()->screen());
        auto arrived = [&] {
            kit::Rect f = notifier->winNotifier()->frame();
            return std::abs(f.x() - target.x()) < 1 && std::abs(f.y() - target.y()) < 1;
        };
        EXPECT_TRUE(kit::runMainLoopUntil(arrived, 5))
            << "at " << notifier->winNotifier()->frame().x() << "," << notifier->winNotifier()->frame().y()
            << " " << notifier->winNotifier()->frame().width() << "x"
            << notifier->winNotifier()->frame().height() << ", not " << target.x() << "," << target.y()
            << " visible " << notifier->winNotifier()->isVisible();
        kit::runMainLoopUntil([] { return false; }, 0.3);  // let it paint
        kit::Image shot = kit::grabArea(kit::Displays::toWindowServer(target));
        if (const char* dir = std::getenv("KADRIX_SCREENSHOT_DIR")) {
            auto png = kit::ImageIO::encodePNG(shot);
            std::string name = std::string(dir) + "/" +
                               testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
            kit::files::writeAtomic(name, std::string(png.begin(), png.end()));
        }
        return shot;
    }

    // The colour at a point of the toast window (points from its top-left).
    static kit::Color colorAt(const kit::Image& shot, double x, double y) {
        return shot.colorAt(int(x * shot.scale()), int(y * shot.scale()));
    }
    // Pixels darker than `level` inside a rectangle of the window (points from its top-left).
    static int darkPixels(const kit::Image& shot, double x, double y, double w, double h,
                          double level = 0.5) {
        int count = 0;
        for (double j = y; j < y + h; j += 0.5)
            for (double i = x; i < x + w; i += 0.5) {
                kit::Color c = colorAt(shot, i, j);
                count += (c.r + c.g + c.b) / 3 < level;
            }
        return count;
    }

    std::unique_ptr<kit::Defaults> storage;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Telemetry> telemetry;
    std::unique_ptr<Notifier> notifier;
};
}  // namespace

TEST_F(ToastOnDisplay, AppearsAndItsButtonRunsTheAction) {
    bool ran = false;
    notifier->notify("Screenshot saved", "SCR-20261207-a.png", std::nullopt, "Open", 0.0,
                     [&] { ran = true; });
    kit::Image shot = shownToast();
    ASSERT_FALSE(shot.isNull());
    // The panel (31 in, 24 down, 360 × 52) is light; its title and message draw dark text.
    kit::Color panel = colorAt(shot, 31 + 200, 24 + 4);
    EXPECT_GT(panel.r, 0.75);
    EXPECT_GT(panel.g, 0.75);
    EXPECT_GT(darkPixels(shot, 31 + 48, 24 + 6, 150, 18), 20) << "the title is drawn";
    EXPECT_GT(darkPixels(shot, 31 + 48, 24 + 27, 150, 17), 20) << "the message is drawn";

    // Click the button where it is on the screen.
    kit::Rect button = notifier->customButton()->convertToScreen(notifier->customButton()->bounds());
    // xdotool speaks the X server's own pixels.
    kit::Point at = kit::Displays::toWindowServer(kit::Point{button.midX(), button.midY()});
    double scale = notifier->winNotifier()->backingScaleFactor();
    auto result = kit::Process("/usr/bin/xdotool", {"mousemove", std::to_string(int(at.x * scale)),
                                                    std::to_string(int(at.y * scale)), "click", "1"})
                      .run();
    ASSERT_TRUE(result.launched) << result.error;
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return ran; }, 5)) << "the button ran the action";
    EXPECT_FALSE(notifier->winNotifier()->isVisible());
    EXPECT_EQ(notifier->state(), "hidden");
}

TEST_F(ToastOnDisplay, WithoutANotificationServerTheToastStandsIn) {
    settings->setNotificationType("system");
    notifier->notify("Copied", "The text is on the clipboard");
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return notifier->state() != "hidden"; }, 5));
    EXPECT_EQ(
        notifier->customMessage()->text(),
        "The text is on the clipboard\n\nP.S. Kadrix doesn't have permission to show System Notifications");
    kit::Image shot = shownToast();
    EXPECT_GT(darkPixels(shot, 31 + 48, 24 + 6, 150, 18), 20);
    EXPECT_EQ(telemetry->events().back()["type"], "alert-fallback");
}

TEST_F(ToastOnDisplay, SystemNotificationIsPostedAndItsClickRunsTheAction) {
    const char* log = std::getenv("KADRIX_FAKE_SERVER_LOG");
    if (!log) GTEST_SKIP() << "needs the fake notification server (display_test.sh)";
    settings->setNotificationType("system");
    bool ran = false;
    testing::internal::CaptureStdout();
    notifier->notify("Screenshot saved", "SCR-20261207-b.png", std::nullopt, std::nullopt, std::nullopt,
                     [&] { ran = true; });
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return ran; }, 10)) << "the server's click ran the action";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "background notification\n");
    EXPECT_EQ(kit::files::readAll(log), "Screenshot saved\tSCR-20261207-b.png\n");
    EXPECT_TRUE(!notifier->winNotifier() || !notifier->winNotifier()->isVisible()) << "no toast";
    for (auto& record : telemetry->events()) EXPECT_NE(record["type"], "alert-fallback");
}

TEST_F(ToastOnDisplay, ShowsOnlyItsPanelWhereNothingShowsThroughAndKeepsAFilesName) {
    // A window of a known colour where the toast will stand.
    kit::Rect target = Notifier::finalFrame(kit::Displays::main());
    kit::Window below(target, kit::WindowStyle::Borderless);
    below.contentView()->layer()->setBackgroundColor(kit::Color::rgb(40, 120, 220));
    below.orderFront();
    kit::runMainLoopUntil([] { return false; }, 0.5);
    const std::string path =
        "/home/someone/Pictures/Screenshots/From the long afternoon/SCR-20261207-abcd.png";
    notifier->notify("Click to show in folder", path, std::nullopt, "Show in folder", 0.0, [] {});
    kit::Image shot = shownToast();
    ASSERT_FALSE(shot.isNull());
    // Outside the panel: what lies below (no compositor), or the soft shadow over it (compositor).
    kit::Color margin = colorAt(shot, 8, 8);
    EXPECT_GT(margin.b, 0.6) << "the window below shows around the panel, not black";
    kit::Color corner = colorAt(shot, 31 + 1, 24 + 1);
    EXPECT_GT(corner.b, 0.6) << "and at the panel's rounded corner";
    EXPECT_GT(colorAt(shot, 31 + 200, 24 + 4).r, 0.75) << "the panel is light";
    // The path is cut in the middle: its file name stays.
    EXPECT_EQ(notifier->customMessage()->text(), path);
    EXPECT_EQ(notifier->customMessage()->truncation(), kit::TextTruncation::Middle);
    notifier->notify("Copied", "The text is on the clipboard");
    EXPECT_EQ(notifier->customMessage()->truncation(), kit::TextTruncation::End);
}
