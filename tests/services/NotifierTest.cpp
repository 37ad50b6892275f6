#include <gtest/gtest.h>

#include "ServicesFixture.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Displays.h"
#include "kit/base/Timer.h"
#include "kit/ui/Window.h"
#include "services/AppHooks.h"
#include "services/Notifier.h"
#include "services/SystemNotifications.h"

using namespace services;

namespace {
struct PostedNotice {
    std::string identifier, title, body;
    bool critical;
    std::function<void()> clicked;
};

class FakeNotifications : public SystemNotifications {
public:
    bool granted = true;
    std::vector<bool> soundRequests;
    std::vector<PostedNotice> posted;
    void requestAuthorization(bool withSound, std::function<void(bool)> answer) override {
        soundRequests.push_back(withSound);
        bool g = granted;
        // The answer comes on another thread, as the desktop's does.
        std::thread([answer, g] { answer(g); }).join();
    }
    void post(const std::string& identifier, const std::string& title, const std::string& body, bool critical,
              std::function<void()> clicked) override {
        posted.push_back({identifier, title, body, critical, std::move(clicked)});
    }
};

class NotifierTest : public ServicesFixture {
protected:
    void SetUp() override {
        ServicesFixture::SetUp();
        system = std::make_shared<FakeNotifications>();
        notifier = std::make_unique<Notifier>(*settings, *telemetry, system);
    }
    void TearDown() override {
        notifier.reset();
        ServicesFixture::TearDown();
    }
    bool visible() const { return notifier->winNotifier() && notifier->winNotifier()->isVisible(); }

    kit::ManualClockScope clock{0, 1.7e9};
    std::shared_ptr<FakeNotifications> system;
    std::unique_ptr<Notifier> notifier;
};
}  // namespace

TEST_F(NotifierTest, ToastShowsItsContentThenFadesAfterThreeSeconds) {
    notifier->notify("Copied", "The screenshot is on the clipboard");
    ASSERT_TRUE(visible());
    EXPECT_EQ(notifier->customHeader()->text(), "Copied");
    EXPECT_EQ(notifier->customMessage()->text(), "The screenshot is on the clipboard");
    EXPECT_TRUE(notifier->customButton()->isHidden());
    EXPECT_TRUE(notifier->customBox()->isHidden());
    EXPECT_FALSE(notifier->customImage()->isHidden());

    clock.advance(2.9);
    EXPECT_TRUE(visible());
    clock.advance(0.1);
    EXPECT_EQ(notifier->state(), "closing");
    EXPECT_TRUE(visible()) << "fading";
    clock.advance(0.2);
    EXPECT_FALSE(visible());
    EXPECT_EQ(notifier->state(), "hidden");
    EXPECT_EQ(notifier->winNotifier()->alphaValue(), 1.0);
}

TEST_F(NotifierTest, ButtonClosesAtOnceAndRunsTheAction) {
    int ran = 0;
    notifier->notify("Saved", "SCR-1.png", std::nullopt, "Show", std::nullopt, [&] { ++ran; });
    EXPECT_FALSE(notifier->customButton()->isHidden());
    EXPECT_EQ(notifier->customButton()->title(), "Show");
    notifier->customButton()->performClick();
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(visible());
    EXPECT_EQ(notifier->state(), "hidden");
}

TEST_F(NotifierTest, NoDisplayTimeStaysUntilThePointerLeaves) {
    notifier->notify("Sticky", "Stays", std::nullopt, std::nullopt, 0.0);
    clock.advance(60);
    EXPECT_TRUE(visible());
    notifier->mouseListener()->mouseInside(true);
    clock.advance(5);
    EXPECT_TRUE(visible());
    notifier->mouseListener()->mouseInside(false);
    clock.advance(0.79);
    EXPECT_TRUE(visible());
    clock.advance(0.22);
    EXPECT_FALSE(visible());
}

TEST_F(NotifierTest, PointerInsideKeepsTheToastAndASecondNoticeRestartsIt) {
    notifier->notify("First", "one");
    clock.advance(2);
    notifier->mouseListener()->mouseInside(true);
    clock.advance(10);
    EXPECT_TRUE(visible());
    notifier->mouseListener()->mouseInside(false);
    clock.advance(0.5);
    notifier->notify("Second", "two");
    EXPECT_EQ(notifier->customHeader()->text(), "Second");
    clock.advance(2.9);
    EXPECT_TRUE(visible()) << "the new notice has its own three seconds";
    clock.advance(0.4);
    EXPECT_FALSE(visible());
}

TEST_F(NotifierTest, SwatchAndWarning) {
    notifier->notify("Colour", "#FF0000", kit::Color::rgb(255, 0, 0));
    EXPECT_FALSE(notifier->customBox()->isHidden());
    EXPECT_TRUE(notifier->customImage()->isHidden());
    kit::Image drawn = notifier->winNotifier()->contentView()->snapshot(1);
    // The swatch sits 14 points into the panel, which is 31 points in and 24 down.
    kit::Color swatch = drawn.colorAt(31 + 14 + 12, 24 + 52 - 14 - 12);
    EXPECT_GT(swatch.r, 0.9);
    EXPECT_LT(swatch.g, 0.1);

    notifier->warning("Problem", "Could not save");
    EXPECT_TRUE(notifier->customBox()->isHidden());
    EXPECT_FALSE(notifier->customImage()->isHidden());
    EXPECT_TRUE(notifier->customButton()->isHidden());
    clock.advance(4.9);
    EXPECT_TRUE(visible());
    clock.advance(0.4);
    EXPECT_FALSE(visible());
}

TEST_F(NotifierTest, OtherTypesShowNothing) {
    settings->setNotificationType("none");
    int ran = 0;
    notifier->notify("Hidden", "nothing", std::nullopt, std::nullopt, std::nullopt, [&] { ++ran; });
    notifier->warning("Hidden", "nothing");
    EXPECT_FALSE(visible());
    EXPECT_TRUE(system->posted.empty());
    EXPECT_TRUE(notifier->notificationAction) << "the action is stored whatever the type";
    EXPECT_EQ(ran, 0);
}

TEST_F(NotifierTest, SystemNotificationsKeepTheirOwnActions) {
    settings->setNotificationType("system");
    std::vector<std::string> ran;
    notifier->notify("First", "one", std::nullopt, std::nullopt, std::nullopt,
                     [&] { ran.push_back("first"); });
    notifier->notify("Second", "two", std::nullopt, std::nullopt, std::nullopt,
                     [&] { ran.push_back("second"); });
    notifier->warning("Warn", "three");
    ASSERT_EQ(system->posted.size(), 3u);
    EXPECT_EQ(system->soundRequests, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(system->posted[0].title, "First");
    EXPECT_EQ(system->posted[0].body, "one");
    EXPECT_FALSE(system->posted[0].critical);
    EXPECT_TRUE(system->posted[2].critical);
    EXPECT_NE(system->posted[0].identifier, system->posted[1].identifier);
    EXPECT_EQ(system->posted[0].identifier.size(), 36u);
    testing::internal::CaptureStdout();
    system->posted[0].clicked();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "background notification\n");
    EXPECT_EQ(ran, std::vector<std::string>{"first"});
    EXPECT_FALSE(visible());
}

TEST_F(NotifierTest, RefusedSystemNotificationsFallBackToTheToast) {
    settings->setNotificationType("system");
    system->granted = false;
    notifier->notify("Copied", "Text", std::nullopt, "Open");
    EXPECT_FALSE(visible()) << "the fallback waits for the main loop";
    kit::processMainEvents();
    ASSERT_TRUE(visible());
    EXPECT_EQ(notifier->customMessage()->text(),
              "Text\n\nP.S. Kadrix doesn't have permission to show System Notifications");
    EXPECT_FALSE(notifier->customButton()->isHidden());
    EXPECT_EQ(last()["type"], "alert-fallback");
    EXPECT_EQ(last()["title"], "Copied");
}

TEST_F(NotifierTest, RefusedSystemWarningFallsBackUnchangedForThreeSeconds) {
    settings->setNotificationType("system");
    system->granted = false;
    notifier->warning("Careful", "Disk");
    kit::processMainEvents();
    ASSERT_TRUE(visible());
    EXPECT_EQ(notifier->customMessage()->text(), "Disk");
    EXPECT_TRUE(notifier->customButton()->isHidden());
    EXPECT_EQ(last()["type"], "alert-fallback");
    clock.advance(2.9);
    EXPECT_TRUE(visible());
    clock.advance(0.4);
    EXPECT_FALSE(visible()) << "a fallback warning shows for 3 seconds";
}

TEST_F(NotifierTest, ToastSlidesBelowTheTopOfTheScreenTheEditorLeftFrom) {
    kit::Display screen = kit::Displays::primary();
    screen.frame = {1000, 0, 1600, 900};
    screen.visibleFrame = {1000, 0, 1600, 860};
    EXPECT_EQ(Notifier::startFrame(screen), (kit::Rect{1589, 837, 422, 122}));
    EXPECT_EQ(Notifier::finalFrame(screen), (kit::Rect{1589, 900 - 122 - 40, 422, 122})) << "below the panel";
    screen.visibleFrame = screen.frame;
    EXPECT_EQ(Notifier::finalFrame(screen).y(), 900 - 122 - 27) << "at least a menu bar's height";

    double hiddenAt = kit::wallNow() - 1;
    updateAppHooks([&](AppHooks& hooks) {
        hooks.lastActiveTime = [&] { return hiddenAt; };
        hooks.lastActiveScreen = [&] { return std::optional<kit::Display>(screen); };
    });
    notifier->notify("Placed", "on the editor's screen", std::nullopt, std::nullopt, 0.0);
    EXPECT_EQ(notifier->winNotifier()->frame(), Notifier::startFrame(screen)) << "the slide starts there";
    hiddenAt = kit::wallNow() - 2;
    notifier->notify("Placed", "on the toast's own screen", std::nullopt, std::nullopt, 0.0);
    EXPECT_NE(notifier->winNotifier()->frame(), Notifier::startFrame(screen));
}

TEST_F(NotifierTest, DidShowKeepsTheToastAndBringsItBack) {
    notifier->notify("Downloading", "Sit tight", std::nullopt, "Cancel");
    notifier->setMessageText("Total size: 1.0mb, progress: 50%");
    clock.advance(2.5);
    notifier->didShow();
    clock.advance(10);
    EXPECT_TRUE(visible());
    EXPECT_EQ(notifier->customMessage()->text(), "Total size: 1.0mb, progress: 50%");
    notifier->hideNow();
    EXPECT_FALSE(visible());
    notifier->didShow();
    EXPECT_TRUE(visible());
    EXPECT_EQ(notifier->state(), "shown");
}

TEST_F(NotifierTest, AToastGivenALongerMessageKeepsItsTopAndGrowsDownwards) {
    notifier->notify("Uploading", "Sit tight", std::nullopt, "Cancel", 0.0);
    clock.advance(1);  // slid in and resting
    const kit::Rect shown = notifier->winNotifier()->frame();
    // Longer than the smallest type fits in the panel's own height.
    std::string longText;
    for (int i = 1; i <= 12; ++i) longText += "Part " + std::to_string(i) + " of the picture is on its way. ";
    notifier->setMessageText(longText);
    const kit::Rect grown = notifier->winNotifier()->frame();
    EXPECT_GT(grown.height(), shown.height()) << "the longer message needs more lines";
    EXPECT_EQ(grown.maxY(), shown.maxY()) << "the top edge stays where the user saw it";
    EXPECT_EQ(grown.x(), shown.x());
    notifier->setMessageText("Done");
    EXPECT_EQ(notifier->winNotifier()->frame().maxY(), shown.maxY()) << "and when it shrinks again";
    EXPECT_EQ(notifier->winNotifier()->frame().height(), shown.height());
}

TEST_F(NotifierTest, PopoverSizesToItsText) {
    auto window = std::make_unique<kit::Window>(kit::Rect{100, 100, 300, 200}, kit::WindowStyle::Titled);
    auto sender = kit::View::make({10, 10, 50, 20});
    window->contentView()->addSubview(sender);
    notifier->popover(*sender, "", "A short help text");
    ASSERT_TRUE(notifier->popoverWindow());
    kit::Size size = notifier->popoverWindow()->frame().size;
    EXPECT_EQ(size.width, 280);
    EXPECT_GT(size.height, 40);
    EXPECT_LT(size.height, 100);
}

TEST_F(NotifierTest, PopoverShowsItsNamedPictureAtThePicturesSize) {
    auto window = std::make_unique<kit::Window>(kit::Rect{100, 100, 300, 200}, kit::WindowStyle::Titled);
    auto sender = kit::View::make({10, 10, 50, 20});
    window->contentView()->addSubview(sender);
    kit::Image hint(120, 80, 2);  // 60 × 40 points
    hint.fill(kit::Color{0.2, 0.6, 0.3, 1});
    updateAppHooks([&](AppHooks& hooks) {
        hooks.namedImage = [hint](const std::string& name) {
            return name == "helper-firsthide" ? hint : kit::Image();
        };
    });
    notifier->popover(*sender, "helper-firsthide", "");
    ASSERT_TRUE(notifier->popoverWindow());
    EXPECT_EQ(notifier->popoverWindow()->frame().size, (kit::Size{80, 60}));
    kit::Image shown = notifier->popoverWindow()->contentView()->snapshot(1);
    kit::Color middle = shown.colorAt(40, 30);
    EXPECT_NEAR(middle.g, 0.6, 0.02);
    EXPECT_NEAR(middle.r, 0.2, 0.02);

    // A name the set does not have keeps the picture's place, empty.
    notifier->popover(*sender, "no-such-picture", "");
    EXPECT_EQ(notifier->popoverWindow()->frame().size, (kit::Size{220, 170}));
    updateAppHooks([](AppHooks& hooks) { hooks.namedImage = nullptr; });
}

TEST_F(NotifierTest, HintUnderATrayIconStaysOnItsScreenAndLetsClicksThrough) {
    kit::Image picture(120, 80, 2);  // 60 × 40 points
    picture.fill(kit::Color{0.2, 0.6, 0.3, 1});
    updateAppHooks(
        [&](AppHooks& hooks) { hooks.namedImage = [picture](const std::string&) { return picture; }; });

    // An icon at the top-right corner of the screen: the hint hangs below it,
    // pushed left so that all of it shows.
    const kit::Rect screen = kit::Displays::main().frame;
    notifier->hint({screen.maxX() - 24, screen.maxY() - 24, 24, 24}, "helper-firsthide");
    kit::Window* hint = notifier->popoverWindow();
    ASSERT_TRUE(hint);
    kit::processMainEvents();
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->frame(), (kit::Rect{screen.maxX() - 80, screen.maxY() - 24 - 60, 80, 60}));
    EXPECT_TRUE(hint->ignoresMouseEvents());

    notifier->closePopover();
    EXPECT_EQ(notifier->popoverWindow(), nullptr);
    notifier->closePopover();  // nothing left to close
    updateAppHooks([](AppHooks& hooks) { hooks.namedImage = nullptr; });
}

TEST_F(NotifierTest, NoticesFromOtherThreadsShowOnTheMainThread) {
    std::thread([&] { notifier->notify("Uploaded", "from the reply handler"); }).join();
    EXPECT_FALSE(visible());
    kit::processMainEvents();
    EXPECT_TRUE(visible());
    EXPECT_EQ(notifier->customHeader()->text(), "Uploaded");
}

TEST_F(NotifierTest, TheProgramsNoticesFitThePanelWholeInThisDesktopsFont) {
    struct Notice {
        const char* title;
        const char* message;
        const char* button;
    };
    // The longest titles and messages the program shows, with the buttons they come with.
    const Notice notices[] = {
        {"No area to repeat",
         "Repeat Area Capture takes a screenshot of the previously captured area. You need to perform the "
         "area "
         "capture first.",
         nullptr},
        {"Can't take a scrolling screenshot",
         "The screenshot tool could not start or stopped with an error, so no region could be picked to "
         "scroll "
         "through.",
         nullptr},
        {"Text copied to the clipboard", "Quarterly figures", "Cut Breaks"},
        // A recognised text as its notice shows it, 110 characters: it wraps, the panel grows.
        {"Text copied to the clipboard",
         "1. The quick brown fox jumps over the lazy dog; item 0 of the list. 2. The quick brown fox jumps "
         "over the l...",
         "Cut Breaks"},
        {"Text without line breaks copied", "Quarterly figures", "Add Breaks"},
        {"Can't change folder while indexing",
         "Open Kadrix library and stop indexing process before changing the default folder.", nullptr},
        {"You didn't select the area",
         "Activate the feature once again, and select the area containing the text or QR code.", nullptr},
        {"Kadrix: URL Scheme (deeplinks) is disabled",
         "You could enable URL Scheme in Settings, on the Advanced tab", nullptr},
        {"Unrecognized \"then\" parameter",
         "Available options: \"copy\", \"save\", \"edit\", \"pin\", or a comma-separated combination",
         nullptr},
        {"Image is too large for a backdrop", "Backdrops work with screenshots of up to 15 megapixels.",
         nullptr},
        {"Max height reached", "You can change scrolling height limit in the app preferences", nullptr},
        {"Upload Failed!", "For better or worse, we failed to put the file in your storage", nullptr},
    };
    for (const Notice& n : notices) {
        notifier->notify(n.title, n.message, std::nullopt,
                         n.button ? std::optional<std::string>(n.button) : std::nullopt);
        const LabelView& title = *notifier->customHeader();
        const LabelView& message = *notifier->customMessage();
        const kit::Rect panel{
            0, 0, Notifier::kWindowWidth - Notifier::kInsetLeft - Notifier::kInsetRight,
            notifier->winNotifier()->frame().height() - Notifier::kInsetTop - Notifier::kInsetBottom};
        // Whole: each label holds all of its text, inside the panel, clear of the button.
        EXPECT_LE(title.fittingSize().width, title.bounds().width()) << n.title;
        EXPECT_LE(title.fittingSize().height, title.bounds().height()) << n.title;
        EXPECT_LE(message.fittingSize().width, message.bounds().width()) << n.message;
        EXPECT_LE(message.fittingSize().height, message.bounds().height()) << n.message;
        for (const kit::Rect& f : {title.frame(), message.frame()}) {
            EXPECT_GE(f.minY(), panel.minY()) << n.title;
            EXPECT_LE(f.maxY(), panel.maxY()) << n.title;
            if (n.button) {
                EXPECT_LE(f.maxX(), notifier->customButton()->frame().minX()) << n.title;
            }
        }
        EXPECT_LE(message.frame().maxY(), title.frame().minY()) << n.title;
    }
    // The panel grows no further than the screen below the toast's place.
    std::string words;
    for (int i = 0; i < 400; ++i) words += "word" + std::to_string(i) + " ";
    notifier->notify("Text copied to the clipboard", words, std::nullopt, std::string("Cut Breaks"));
    const kit::Display screen = notifier->winNotifier()->screen();
    EXPECT_GT(notifier->winNotifier()->frame().height(), Notifier::kWindowHeight);
    EXPECT_GE(Notifier::finalFrame(screen, notifier->winNotifier()->frame().height()).minY() +
                  Notifier::kInsetBottom,
              screen.visibleFrame.minY());
    // A path longer still keeps one line, cut in its middle so its name shows.
    const std::string path = "/home/someone/Pictures/" + std::string(200, 'x') + "/SCR-20250101-abcd.png";
    notifier->notify("Saved", path);
    EXPECT_EQ(notifier->customMessage()->truncation(), kit::TextTruncation::Middle);
    EXPECT_GT(notifier->customMessage()->fittingSize().width, notifier->customMessage()->bounds().width());
    EXPECT_LE(notifier->customMessage()->bounds().height(), 20);
}

TEST_F(NotifierTest, AToastStillSlidingInGoesBeforeACaptureButOneInPlaceStays) {
    notifier->notify("No area to repeat", "You need to perform the area capture first.");
    ASSERT_TRUE(visible());
    EXPECT_TRUE(notifier->isSliding());
    notifier->takeOffIfSliding();
    EXPECT_FALSE(visible());
    EXPECT_EQ(notifier->state(), "hidden");

    notifier->notify("Copied", "In place");
    clock.advance(Notifier::kSlideSeconds + 0.05);
    EXPECT_FALSE(notifier->isSliding());
    notifier->takeOffIfSliding();
    EXPECT_TRUE(visible());
}

// A busy machine: the main thread held up while the toast slides in. The old
// toast spent its three seconds sliding and left as it arrived.
TEST_F(NotifierTest, AToastHeldUpInItsSlideStaysItsTimeInPlace) {
    notifier->notify("Scrolling capture stopped early", "The image ends where the capture was sure of it.");
    const kit::Rect start = notifier->winNotifier()->frame();
    clock.clock().pass(2.95);
    clock.advance(0.05);
    EXPECT_FALSE(notifier->isSliding()) << "a late step goes as far as the time says";
    EXPECT_NE(notifier->winNotifier()->frame(), start);
    clock.advance(2.7);
    EXPECT_TRUE(visible()) << "in place for 2.7 s of its 2.8";
    clock.advance(0.1 + Notifier::kFadeSeconds + 0.05);
    EXPECT_FALSE(visible());
    EXPECT_EQ(notifier->state(), "hidden");
}
