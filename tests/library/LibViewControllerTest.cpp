// The library view against a real library in a private folder and a recording
// host: the gallery and status line, search ordering, the keys that act on
// the selection (and those that belong to the search field), delete with
// reselection, the tool bar's commands and actions on missing files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "LibraryFixture.h"
#include "controls/CtrlToolbar.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Timer.h"
#include "kit/draw/Layer.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Box.h"
#include "kit/ui/Button.h"
#include "kit/ui/CollectionView.h"
#include "kit/ui/Label.h"
#include "kit/ui/Popover.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Window.h"
#include "library/GalleryDelegate.h"
#include "library/IndexMachine.h"
#include "library/LibViewController.h"
#include "library/LibViewHost.h"
#include "library/LibraryLink.h"
#include "library/QuickLookWinController.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "shortcuts/Name.h"
#include "shortcuts/Names.h"
#include "shortcuts/Shortcut.h"
#include "support/EventLoopWait.h"
#include "support/PictureFiles.h"
#include "support/ScopedEnv.h"
#include "support/SlowDecoder.h"

using namespace library;

namespace {

struct RecordingHost : LibViewHost {
    std::vector<std::string> calls;
    bool shown = true;
    bool popoverShown() const override { return shown; }
    void closePopover() override { calls.push_back("close"); }
    void setPopoverTransient(bool t) override { calls.push_back(t ? "transient" : "stays"); }
    void grabScreenshot(const std::string& mode, const std::string& method) override {
        calls.push_back("grab " + mode + " " + method);
    }
    void startScrollingCapture(int direction, const std::string& method) override {
        calls.push_back("scrolling " + std::to_string(direction) + " " + method);
    }
    void loadFromClipboard(const std::string& method) override { calls.push_back("clipboard " + method); }
    bool copyImageFile(const std::string& path) override {
        calls.push_back("copy " + path.substr(path.find_last_of('/') + 1));
        return true;
    }
    bool openImage(const std::string& path, std::function<void()> shown) override {
        calls.push_back("open " + path.substr(path.find_last_of('/') + 1));
        if (shown) shown();
        return true;
    }
    void yieldFocus() override { calls.push_back("yieldFocus"); }
};

// A library whose search for "slow" can be held until the test lets it go (or
// ten seconds pass), so a later search overtakes it; it counts the slow
// searches that have returned.
struct SlowSearchLib : ScreenLib {
    using ScreenLib::ScreenLib;
    ~SlowSearchLib() override {
        letSlowGo();
        stopWork();
    }
    void holdSlow() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void letSlowGo() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        released_.notify_all();
    }
    std::vector<LibObject> search(const std::string& query) const override {
        if (query != "slow") return ScreenLib::search(query);
        {
            std::unique_lock lock(mutex_);
            released_.wait_for(lock, std::chrono::seconds(10), [&] { return !held_; });
        }
        auto found = ScreenLib::search(query);
        ++slowReturned;
        return found;
    }
    mutable std::atomic<int> slowReturned{0};

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable released_;
    bool held_ = false;
};

kit::Event key(uint16_t code, uint32_t flags = 0, std::string chars = {}) {
    kit::Event e;
    e.type = kit::EventType::KeyDown;
    e.keyCode = code;
    e.modifierFlags = flags;
    e.characters = std::move(chars);
    return e;
}

class LibView : public LibraryFolderFixture {
protected:
    void SetUp() override {
        LibraryFolderFixture::SetUp();
        trash.emplace("XDG_DATA_HOME", folder + "/.data");  // the trash lives here
        setViewHost(&host);
        lib = std::make_shared<SlowSearchLib>(folder);
        // Five screenshots, newest last in the model (the gallery shows it first).
        for (int i = 0; i < initialShots; ++i)
            add("shot" + std::to_string(i) + ".png", 100 + i, i == 2 ? "slow fast" : "fast");
        controller = std::make_unique<LibViewController>();
        controller->model = [this] { return lib; };
        window = std::make_unique<kit::Window>(kit::Rect{100, 100, 380, 580}, kit::WindowStyle::Titled);
        window->setContentView(controller->view());
        window->makeKeyAndOrderFront();
        setLibController(controller.get());
        ASSERT_TRUE(kit::runMainLoopUntil([&] { return lib->loaded(); }, 5));
        waitForGallery();
    }
    void TearDown() override {
        setLibController(nullptr);
        controller.reset();
        window.reset();
        lib->stopWork();  // a save or walk still running ends before its folder goes
        setViewHost(nullptr);
        LibraryFolderFixture::TearDown();
    }

    void add(const std::string& name, int64_t ts, const std::string& ocr, int64_t bytes = 2048) {
        kit::Image img(8, 6);
        auto png = kit::ImageIO::encodePNG(img);
        FILE* f = fopen((folder + "/" + name).c_str(), "wb");
        fwrite(png.data(), 1, png.size(), f);
        fclose(f);
        lib->addOrUpdate(
            std::make_shared<GrabData>(std::map<std::string, std::string>{{"filename", name},
                                                                          {"ts", std::to_string(ts)},
                                                                          {"ocr", ocr},
                                                                          {"bytes", std::to_string(bytes)},
                                                                          {"width", "8"},
                                                                          {"height", "6"}}));
    }
    void waitForGallery() {
        uint64_t before = controller->galleryGeneration();
        controller->refreshGallery();
        // The refresh also lets a preview go after a short debounce; a loaded
        // machine could otherwise see it land in the middle of a test's calls.
        ASSERT_TRUE(kit::runMainLoopUntil(
            [&] {
                return controller->galleryGeneration() > before && !controller->debounceUnselect.isValid();
            },
            5));
        host.calls.clear();
    }
    std::vector<std::string> galleryNames() const {
        std::vector<std::string> out;
        for (auto& r : controller->gallery->records)
            out.push_back(r.path.substr(r.path.find_last_of('/') + 1));
        return out;
    }
    void select(int item) { controller->cvGallery->clickItem(item); }

    int initialShots = 5;
    RecordingHost host;
    std::shared_ptr<SlowSearchLib> lib;
    std::optional<testsupport::ScopedEnv> trash;
    std::unique_ptr<LibViewController> controller;
    std::unique_ptr<kit::Window> window;
};

// A library with nothing in it yet.
class EmptyLibView : public LibView {
protected:
    EmptyLibView() { initialShots = 0; }
};

}  // namespace

TEST_F(LibView, GalleryShowsNewestFirstAndTheStatusLineDescribesTheSelection) {
    EXPECT_EQ(galleryNames(),
              (std::vector<std::string>{"shot4.png", "shot3.png", "shot2.png", "shot1.png", "shot0.png"}));
    EXPECT_EQ(controller->txStatus->stringValue(), "5 images");
    select(1);
    EXPECT_NE(controller->txStatus->stringValue().find("1 image ("), std::string::npos);
    EXPECT_NE(controller->txStatus->stringValue().find(", 2kb)"), std::string::npos);
    controller->cvGallery->clickItem(3, kit::ModifierFlag::Command);
    EXPECT_EQ(controller->txStatus->stringValue(), "2 images selected");
    // The user's last pick is the current item; without it, the highest selected.
    EXPECT_EQ(controller->currentSelection(), 3);
    controller->gallery->lastSelectedItem = -1;
    EXPECT_EQ(controller->currentSelection(), 3);
    controller->gallery->lastSelectedItem = 1;
    EXPECT_EQ(controller->currentSelection(), 1);
}

TEST_F(LibView, AnEarlierSlowSearchNeverReplacesALaterOnesResults) {
    // Each search task holds the library it was given until it has posted its
    // results: handed out through a token of the test's own, the library
    // shows when the tasks are over.
    auto token = std::make_shared<int>(0);
    controller->model = [this, token] { return std::shared_ptr<ScreenLib>(token, lib.get()); };
    const long idle = token.use_count();
    lib->holdSlow();
    controller->search("slow");
    controller->search("fast");
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return !controller->isSearching; }, 5));
    EXPECT_EQ(controller->gallery->records.size(), 5u);
    const uint64_t shown = controller->galleryGeneration();
    // The slow one ends after the later one's results show; once its
    // results are posted, and what was posted after them has run, they have
    // had their turn (one record, "shot2", had they been taken).
    lib->letSlowGo();
    ASSERT_TRUE(
        kit::runMainLoopUntil([&] { return lib->slowReturned == 1 && token.use_count() == idle; }, 5));
    bool turn = false;
    kit::dispatchMain([&] { turn = true; });
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return turn; }, 5));
    EXPECT_EQ(controller->galleryGeneration(), shown);
    EXPECT_EQ(controller->gallery->records.size(), 5u);
    EXPECT_EQ(controller->txStatus->stringValue(), "5 images found");
    // A refresh (new screenshots indexed) keeps showing the query's results.
    controller->search("slow");
    kit::runMainLoopUntil([&] { return !controller->isSearching; }, 5);
    controller->refreshGallery();
    kit::runMainLoopUntil([&] { return !controller->isSearching; }, 5);
    EXPECT_EQ(galleryNames(), (std::vector<std::string>{"shot2.png"}));

    controller->search("nothing like it");
    kit::runMainLoopUntil([&] { return !controller->isSearching; }, 5);
    EXPECT_TRUE(controller->isBigMsgOn);
    EXPECT_TRUE(controller->txStatus->isHidden());
    // A field of blanks brings the whole gallery back.
    uint64_t before = controller->galleryGeneration();
    controller->search("   ");
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return controller->galleryGeneration() > before; }, 5));
    EXPECT_EQ(controller->gallery->records.size(), 5u);
    EXPECT_FALSE(controller->isBigMsgOn);
}

TEST_F(LibView, CtrlBackspaceInTheSearchFieldNeverDeletesScreenshots) {
    select(0);
    controller->tbSearch->makeFirstResponder();
    kit::processMainEvents();
    ASSERT_TRUE(controller->tbSearch->isFirstResponder());
    EXPECT_FALSE(controller->handleKeyDown(key(kit::KeyCode::Delete, kit::ModifierFlag::Command)));
    EXPECT_TRUE(std::filesystem::exists(folder + "/shot4.png"));
    // With text in the field, Space and Ctrl+C belong to it too.
    controller->tbSearch->setStringValue("abc");
    EXPECT_FALSE(controller->handleKeyDown(key(kit::KeyCode::Space, 0, " ")));
    EXPECT_FALSE(controller->handleKeyDown(key(kit::KeyCode::C, kit::ModifierFlag::Command)));
    EXPECT_TRUE(host.calls.empty());
    // An empty field leaves Ctrl+C to the selected screenshot.
    controller->tbSearch->setStringValue("");
    EXPECT_TRUE(controller->handleKeyDown(
        key(kit::KeyCode::C, kit::ModifierFlag::Command | kit::ModifierFlag::Shift)));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"close", "copy shot4.png"}));
}

TEST_F(LibView, CtrlBackspaceInTheGalleryTrashesTheSelectionAndSelectsTheNext) {
    select(4);  // the oldest, at the end
    controller->cvGallery->makeFirstResponder();
    kit::processMainEvents();
    EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Delete, kit::ModifierFlag::Command)));
    EXPECT_FALSE(std::filesystem::exists(folder + "/shot0.png"));
    EXPECT_FALSE(lib->record("shot0.png"));
    EXPECT_EQ(controller->cvGallery->itemCount(), 4);
    EXPECT_EQ(controller->cvGallery->selectionIndexes(), (std::set<int>{3}));  // the new last
    waitForGallery();
    EXPECT_EQ(controller->gallery->records.size(), 4u);

    // Two in the middle: the item after them moves up into the anchor's place.
    select(1);
    controller->cvGallery->clickItem(2, kit::ModifierFlag::Command);
    controller->deleteSelected("test");
    EXPECT_EQ(galleryNames(), (std::vector<std::string>{"shot4.png", "shot1.png"}));
    EXPECT_EQ(controller->cvGallery->selectionIndexes(), (std::set<int>{1}));

    controller->cvGallery->setSelectionIndexes({0, 1});
    controller->deleteSelected("test");
    EXPECT_TRUE(controller->cvGallery->selectionIndexes().empty());
    EXPECT_EQ(controller->cvGallery->itemCount(), 0);
}

TEST_F(LibView, KeysWithoutASelectionAndTheDownArrow) {
    EXPECT_FALSE(controller->handleKeyDown(key(kit::KeyCode::Return)));  // nothing selected
    EXPECT_FALSE(controller->handleKeyDown(key(kit::KeyCode::Escape)));  // quick look closed
    EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::DownArrow)));
    EXPECT_EQ(controller->cvGallery->selectionIndexes(), (std::set<int>{0}));
    EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Return)));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"close", "open shot4.png", "yieldFocus"}));
}

TEST_F(LibView, TheLibraryShortcutClosesThePopoverThatHoldsTheKeyboard) {
    const auto& name = shortcuts::names::library();
    shortcuts::setShortcut(
        shortcuts::Shortcut(kit::KeyCode::L, kit::CarbonModifier::Command | kit::CarbonModifier::Shift),
        name);
    select(0);
    EXPECT_FALSE(controller->handleKeyDown(key(kit::KeyCode::L, kit::ModifierFlag::Command)));
    EXPECT_TRUE(controller->handleKeyDown(
        key(kit::KeyCode::L, kit::ModifierFlag::Command | kit::ModifierFlag::Shift)));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"close"}));
    shortcuts::setShortcut(std::nullopt, name);
}

TEST_F(LibView, SpaceOpensQuickLookBesideThePopoverAndSpaceClosesIt) {
    select(0);
    EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Space, 0, " ")));
    EXPECT_TRUE(controller->panelPreview->isOn);
    EXPECT_EQ(host.calls.front(), "stays");  // the popover stays open beside the panel
    EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Space, 0, " ")));
    EXPECT_FALSE(controller->panelPreview->isOn);
    EXPECT_EQ(host.calls.back(), "transient");
}

// The quick look reads its picture with the event loop running: a later
// selection, or the popover closing, during the read wins over it.
TEST_F(LibView, QuickLookShowsTheLastRequestMadeWhileAPictureIsRead) {
    // Newest first: item 1 is shot3, item 2 is shot2.
    testsupport::writePicture(folder + "/shot3.png", 13, 6, kit::Color::black());
    testsupport::writePicture(folder + "/shot2.png", 17, 6, kit::Color::black());
    select(0);
    ASSERT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Space, 0, " ")));
    ASSERT_TRUE(controller->panelPreview->isOn);
    testsupport::SlowDecoder slow(0.2);

    kit::dispatchMain([&] { select(2); });
    select(1);
    EXPECT_TRUE(controller->panelPreview->isOn);
    EXPECT_EQ(controller->panelPreview->imageView->image().width(), 17);

    // Closing the popover (Escape) while the quick look's picture is read.
    controller->panelPreview->hide();
    select(0);
    kit::dispatchMain([&] { controller->viewDidDisappear(); });
    EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Space, 0, " ")));
    EXPECT_FALSE(controller->panelPreview->isOn);
    EXPECT_FALSE(controller->panelPreview->window().isVisible());
}

// While the quick look's picture is still read, the keys that close it close
// it (it then never shows, and the popover stays), and another selection is
// the picture it shows.
TEST_F(LibView, KeysAndSelectionDuringTheQuickLooksReadActOnIt) {
    testsupport::writePicture(folder + "/shot3.png", 13, 6, kit::Color::black());  // item 1
    select(0);
    testsupport::SlowDecoder slow(0.3);
    std::optional<bool> taken;  // outlives the loop: a key not taken during the read is taken later
    for (uint16_t code : {kit::KeyCode::Escape, kit::KeyCode::Space}) {
        host.calls.clear();
        taken.reset();
        kit::dispatchMain([&, code] {
            taken = controller->handleKeyDown(key(code, 0, code == kit::KeyCode::Space ? " " : ""));
        });
        EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Space, 0, " ")));
        EXPECT_EQ(taken, std::optional<bool>(true)) << "key " << code;
        EXPECT_FALSE(controller->panelPreview->isOn) << "key " << code;
        EXPECT_FALSE(controller->panelPreview->window().isVisible()) << "key " << code;
        EXPECT_EQ(host.calls, (std::vector<std::string>{"stays", "transient"})) << "key " << code;
    }

    kit::dispatchMain([&] { select(1); });
    EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Space, 0, " ")));
    EXPECT_TRUE(controller->panelPreview->isOn);
    EXPECT_TRUE(controller->panelPreview->window().isVisible());
    EXPECT_EQ(controller->panelPreview->imageView->image().width(), 13);
}

// A read whose picture can no longer be shown ends at once, rather than
// holding a core for its seconds: the quick look closed, or moved on to
// another picture. The same picture asked for again keeps its read.
TEST_F(LibView, TheQuickLooksReadEndsOnceNobodyWaitsForIt) {
    // Pictures outside the library, which its indexing never reads: only
    // the quick look's reading of them is counted.
    const std::string a = kit::files::uniqueTempPath("quick-look-a-", ".png"),
                      b = kit::files::uniqueTempPath("quick-look-b-", ".png");
    testsupport::writePicture(a, 13, 6, kit::Color::black());
    testsupport::writePicture(b, 17, 6, kit::Color::black());
    auto look = [&](const std::string& path) {
        controller->performAction("quicklook", path, "selection", true);
    };
    std::vector<pid_t> first, second, third;
    {
        testsupport::SlowDecoder slow(5, testsupport::SlowDecoder::Busy);
        slow.whileReading(a, [&] {
            first = slow.running(a);
            EXPECT_TRUE(controller->handleKeyDown(key(kit::KeyCode::Escape)));
            second = slow.running(a);
        });
        look(a);
        EXPECT_EQ(first.size(), 1u);
        EXPECT_EQ(second, std::vector<pid_t>{}) << "closed, the quick look still reads its picture";
        EXPECT_FALSE(controller->panelPreview->isOn);

        slow.whileReading(a, [&] {
            first = slow.running(a);
            // Looked at while the next picture is read, which Escape then ends.
            slow.whileReading(b, [&] {
                second = slow.running(a);
                third = slow.running(b);
                controller->handleKeyDown(key(kit::KeyCode::Escape));
            });
            look(b);
        });
        look(a);
        EXPECT_EQ(first.size(), 1u);
        EXPECT_EQ(second, std::vector<pid_t>{}) << "the picture moved away from is still read";
        EXPECT_EQ(third.size(), 1u);
        EXPECT_EQ(slow.running(a), std::vector<pid_t>{});
        EXPECT_EQ(slow.running(b), std::vector<pid_t>{});
        EXPECT_FALSE(controller->panelPreview->isOn);
    }

    testsupport::SlowDecoder slow(3, testsupport::SlowDecoder::Busy);
    slow.whileReading(a, [&] {
        first = slow.running(a);
        kit::dispatchMain([&] { second = slow.running(a); });
        look(a);
    });
    look(a);
    EXPECT_EQ(first.size(), 1u);
    EXPECT_EQ(second, first) << "the same picture asked for again is read again";
    EXPECT_TRUE(controller->panelPreview->isOn);
    EXPECT_EQ(controller->panelPreview->imageView->image().width(), 13);
    std::filesystem::remove(a);
    std::filesystem::remove(b);
}

// Fitted again on each opening to the screen it opens on: the large size
// follows the screen's height, down to a low screen, and back to small.
TEST_F(LibView, ThePopoverIsFittedToItsScreenOnEachOpening) {
    double screenHeight = 1080;
    controller->popoverScreenHeight = [&] { return screenHeight; };
    auto open = [&](double height) {
        screenHeight = height;
        controller->viewWillAppear();
        const kit::Size size = controller->contentSize();
        EXPECT_TRUE(controller->view()->frame().size == size) << "the view keeps the popover's size";
        controller->viewDidDisappear();
        return std::pair{size.width, size.height};
    };
    services::Settings::shared().setLibPopoveerSize("medium");
    EXPECT_EQ(open(1080), (std::pair{560.0, 980.0}));
    EXPECT_EQ(open(700), (std::pair{560.0, 600.0}));
    EXPECT_EQ(open(500), (std::pair{560.0, 500.0 - 2 * kit::Popover::kContentInset}));
    EXPECT_EQ(open(1080), (std::pair{560.0, 980.0}));
    services::Settings::shared().setLibPopoveerSize("small");
    EXPECT_EQ(open(1080), (std::pair{380.0, 580.0}));
}

TEST_F(LibView, ActionsOnAFileThatIsGoneWarnAndKeepThePopover) {
    std::filesystem::remove(folder + "/shot3.png");
    controller->performAction("copy", folder + "/shot3.png", "test");
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(LibView, ToolBarTitlesReachTheirCommands) {
    kit::ManualClockScope clock;
    auto click = [&](const std::string& title) {
        for (auto* b : controller->toolbarActions->itemButtons())
            if (b->title() == title) b->performClick();
    };
    click("Load From Clipboard ");
    click("Scrolling Capture (Up)");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"close", "clipboard menu", "close", "scrolling 1 menu"}));
    host.calls.clear();
    click("Fullscreen Screenshot");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"close"}));  // the capture waits for the popover to go
    clock.advance(0.03);
    EXPECT_EQ(host.calls.back(), "grab fullscreen menu");
}

TEST_F(LibView, TheDarkLookTakesTheDarkColours) {
    auto background = [&] { return controller->view()->layer()->backgroundColor().value_or(kit::Color()); };
    controller->viewWillAppear();
    EXPECT_NEAR(background().r, 0.98, 1e-6);
    QPalette light = QApplication::palette(), dark = light;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    kit::processMainEvents();
    controller->viewWillAppear();
    kit::Image shot = controller->view()->snapshot();
    kit::Color darkBackground = background();
    // A switch back while the view is up takes the light colours again.
    QApplication::setPalette(light);
    kit::runMainLoopUntil([&] { return background().r > 0.9; }, 2);
    EXPECT_NEAR(background().r, 0.98, 1e-6);
    EXPECT_NEAR(darkBackground.r, 0.19, 1e-6);
    EXPECT_NEAR(darkBackground.g, 0.2, 1e-6);
    // What is drawn follows: the status row, between the text and the controls, is dark.
    ASSERT_FALSE(shot.isNull());
    int x = int(shot.width() * 0.5), y = shot.height() - int(12 * shot.width() / 380.0);
    const uint8_t* px = shot.bits() + size_t(y) * shot.bytesPerRow() + size_t(x) * 4;
    EXPECT_LT(px[2], 80);  // red of B, G, R, A
    EXPECT_LT(px[1], 80);
}

TEST_F(LibView, ConnectingAgainKeepsOnePeriodicRescan) {
    kit::ManualClockScope clock;
    LibViewController fresh;
    fresh.model = [this] { return lib; };
    fresh.connectLibrary();
    size_t timers = clock.clock().pendingCount();
    EXPECT_GE(timers, 1u);
    fresh.connectLibrary();
    fresh.connectLibrary();
    EXPECT_EQ(clock.clock().pendingCount(), timers);
    setLibController(controller.get());
}

// A walk that marks entries gone and a run that merges into the selected
// entry change what the status line reads; ThreadSanitizer watches the reads.
TEST_F(LibView, TheStatusLineReadsEntriesWhileAWalkAndARunChangeThem) {
    services::Settings::shared().setLibAllowOCR(false);
    services::Settings::shared().setLibIndexNonshots(true);  // the shots have no colours yet: all are merged
    for (int i = 0; i < 400; ++i)
        lib->addOrUpdate(std::make_shared<GrabData>(
            std::map<std::string, std::string>{{"filename", "missing-" + std::to_string(i) + ".png"}}));
    waitForGallery();
    select(0);
    auto im = lib->indexMachine.get();
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return !im->scanInProgress; }, 5));  // the rescan after the load
    controller->initIndex();
    ASSERT_TRUE(im->indexInitiated);
    bool over = kit::runMainLoopUntil(
        [&] {
            for (int i = 0; i < 20; ++i) {
                controller->updateStatusLine(std::nullopt);
                controller->updateVisibility();
            }
            return !im->indexInitiated && !im->indexInProgress && !im->scanInProgress;
        },
        20);
    services::Settings::shared().setLibIndexNonshots(false);
    services::Settings::shared().setLibAllowOCR(true);
    ASSERT_TRUE(over);
    EXPECT_EQ(lib->presentCount(), 5);
    EXPECT_EQ(lib->contentOf("shot4.png")->at("colors").empty(), false);
    controller->updateStatusLine(std::nullopt);  // the selection is still the newest shot
    EXPECT_NE(controller->txStatus->stringValue().find("1 image ("), std::string::npos)
        << controller->txStatus->stringValue();
}

// The progress area shows outside a run only as the offer to add the files
// the last walk found, with its text and its "Add Files" button, even when
// the offer was first made to an empty library in the big message area.
TEST_F(LibView, TheProgressAreaShowsOnlyWithItsOfferAndItsButton) {
    for (int i = 0; i < 3; ++i) {
        auto png = kit::ImageIO::encodePNG(kit::Image(8, 6));
        FILE* f = fopen((folder + "/SCR-2024010" + std::to_string(i) + "-aaaa.png").c_str(), "wb");
        fwrite(png.data(), 1, png.size(), f);
        fclose(f);
    }
    lib->indexMachine->walk(false, {});
    ASSERT_EQ(lib->indexMachine->queuedFiles, 3);
    controller->showLibraryState();
    EXPECT_FALSE(controller->vProgressHolder->isHidden());
    EXPECT_EQ(controller->txProgressLabel->stringValue(),
              "3 new images found. Do you want\nto add them to the library?");
    EXPECT_EQ(controller->btnProgressAction->title(), "Add Files");
    EXPECT_FALSE(controller->btnProgressAction->isHidden());

    services::Settings::shared().storeBool("libAllowPreexisting", false);
    controller->updateVisibility();
    EXPECT_TRUE(controller->vProgressHolder->isHidden());
    services::Settings::shared().storeBool("libAllowPreexisting", true);
}

// A save writes its file on the save worker and hands it over for indexing
// on the main thread; a walk in between offered the file as a new one.
TEST_F(LibView, AWalkDuringASaveOffersNoneOfItsFiles) {
    const auto walkAndSettle = [&] {
        controller->rescan();
        ASSERT_TRUE(kit::runMainLoopUntil([&] { return !lib->indexMachine->scanInProgress; }, 5));
        testsupport::pump(100);  // the walk's answer on the main thread
        controller->showLibraryState();
    };
    LibraryLink::shared().saveStarting();
    auto png = kit::ImageIO::encodePNG(kit::Image(8, 6));
    FILE* f = fopen((folder + "/SCR-20240101-aaaa.png").c_str(), "wb");
    fwrite(png.data(), 1, png.size(), f);
    fclose(f);
    walkAndSettle();
    EXPECT_EQ(lib->indexMachine->queuedFiles, 0);
    EXPECT_TRUE(controller->vProgressHolder->isHidden());

    // A file nobody handed over is offered once no save is under way.
    LibraryLink::shared().saveEnded();
    walkAndSettle();
    EXPECT_EQ(lib->indexMachine->queuedFiles, 1);
    EXPECT_EQ(controller->txProgressLabel->stringValue(),
              "1 new images found. Do you want\nto add them to the library?");
}

// The walk that finds older screenshots and the gallery's refresh answer in
// either order; the refresh used to put the empty library's message over
// the offer.
TEST_F(EmptyLibView, TheOfferOfOlderScreenshotsOutlivesALaterGalleryRefresh) {
    auto png = kit::ImageIO::encodePNG(kit::Image(8, 6));
    for (int i = 0; i < 3; ++i) {
        FILE* f = fopen((folder + "/SCR-2024010" + std::to_string(i) + "-aaaa.png").c_str(), "wb");
        fwrite(png.data(), 1, png.size(), f);
        fclose(f);
    }
    const std::string offer = "3 pre-existing screenshots found.\nDo you want to add them to the library?";
    services::Settings::shared().setDefaultFolderURL(folder);
    controller->rescan();
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return controller->txMessageLabel->stringValue() == offer; }, 5));
    waitForGallery();
    EXPECT_EQ(controller->txMessageLabel->stringValue(), offer);
    EXPECT_EQ(controller->btnMessageAction->title(), "Add Screenshots");
    services::Settings::shared().setDefaultFolderURL(std::nullopt);
}

// "Add Screenshots" with the folder moved away ends the run and says why;
// once the folder is back, "Try Again" indexes it.
TEST_F(LibView, AFolderThatCannotBeReadSaysWhyAndTryAgainIndexesItOnceBack) {
    services::Settings::shared().setLibAllowOCR(false);
    auto png = kit::ImageIO::encodePNG(kit::Image(8, 6));
    FILE* f = fopen((folder + "/SCR-20240101-aaaa.png").c_str(), "wb");
    fwrite(png.data(), 1, png.size(), f);
    fclose(f);
    auto im = lib->indexMachine.get();
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return !im->scanInProgress; }, 5));  // the rescan after the load
    std::filesystem::rename(folder, folder + "-away");
    controller->initIndex();
    EXPECT_EQ(controller->txMessageLabel->stringValue(), "Preparing to index your files...");
    bool told = kit::runMainLoopUntil(
        [&] {
            return controller->txMessageLabel->stringValue().find("No such file or directory") !=
                   std::string::npos;
        },
        5);
    if (!told) std::filesystem::rename(folder + "-away", folder);
    ASSERT_TRUE(told) << controller->txMessageLabel->stringValue();
    EXPECT_EQ(controller->txMessageLabel->stringValue(),
              "Can't read the folder " + folder + "\nNo such file or directory");
    EXPECT_FALSE(im->indexInitiated);
    EXPECT_TRUE(controller->isBigMsgOn);
    EXPECT_EQ(controller->btnMessageAction->title(), "Try Again");
    // The refresh that follows the run keeps the reason in view.
    for (int i = 0; i < 10; ++i) kit::processMainEvents();
    EXPECT_NE(controller->txMessageLabel->stringValue().find("Can't read the folder"), std::string::npos);

    // The rescan after the run finds the folder gone as well, and leaves the reason.
    bool rescanned = kit::runMainLoopUntil([&] { return !im->scanInProgress; }, 5);
    std::filesystem::rename(folder + "-away", folder);
    ASSERT_TRUE(rescanned);
    EXPECT_NE(controller->txMessageLabel->stringValue().find("Can't read the folder"), std::string::npos);
    controller->btnMessageAction->performClick();
    ASSERT_TRUE(kit::runMainLoopUntil(
        [&] { return lib->record("SCR-20240101-aaaa.png") && !im->indexInitiated; }, 10));
    services::Settings::shared().setLibAllowOCR(true);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return !controller->isBigMsgOn; }, 5));
    EXPECT_EQ(controller->txStatus->stringValue(), "6 images");
}
