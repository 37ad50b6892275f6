// The kit on a real X server: run with QT_QPA_PLATFORM=xcb on a display with
// a window manager (the Xvfb harness), e.g.
//   QT_QPA_PLATFORM=xcb test_kit --gtest_filter='KitLive*'
// On the offscreen platform of the unit-test run these skip. They drive the
// pointer and keyboard with xdotool, read the screen with ImageMagick's
// import and the clipboard with xclip.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "kit/base/Displays.h"
#include "kit/desktop/EventMonitor.h"
#include "kit/desktop/Grab.h"
#include "kit/desktop/x11/ClipboardRead.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Alert.h"
#include "kit/ui/LocalEventMonitor.h"
#include "kit/ui/Menu.h"
#include "kit/ui/Pasteboard.h"
#include "kit/ui/Popover.h"
#include "kit/ui/StatusItem.h"
#include "kit/ui/TextField.h"
#include "kit/ui/TextView.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"
#include "support/EventLoopWait.h"
#include "support/PeakMemory.h"
#include "support/ScratchFolder.h"

using namespace kit;

namespace {

#define REQUIRE_X11()                                                                  \
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server"; \
    if (QStandardPaths::findExecutable("xdotool").isEmpty()) GTEST_SKIP() << "needs xdotool"

using testsupport::pump;

// Runs a shell command while our event loop keeps turning (the clipboard
// and the window manager need us to answer).
QString sh(const QString& cmd) {
    QProcess p;
    p.start("sh", {"-c", cmd});
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 15000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        p.waitForFinished(10);
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The root window's pixels, read from the X server alone (a tool that walks
// the window tree fails when a window closes during the walk). Our windows
// get a moment to paint first.
QImage screenshot() {
    pump(150);
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

// The screen once `ready` holds for it, or as it is after ms milliseconds:
// on a loaded machine windows map and paint late.
QImage screenshotWhen(const std::function<bool(const QImage&)>& ready, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    QImage img = screenshot();
    while (!ready(img) && t.elapsed() < ms) img = screenshot();
    return img;
}

// Root coordinates (y down) → the AppKit screen space.
Rect contentAt(int x, int y, int w, int h) {
    return Displays::fromWindowServer(Rect(x, y, w, h));
}

class LiveRecorder : public View {
public:
    using View::View;
    std::vector<Event> events;
    void mouseDown(const Event& e) override { events.push_back(e); }
    void mouseUp(const Event& e) override { events.push_back(e); }
    void keyDown(const Event& e) override { events.push_back(e); }
    void keyUp(const Event& e) override { events.push_back(e); }
    bool acceptsFirstResponder() const override { return true; }
    int count(EventType t) const {
        return int(std::count_if(events.begin(), events.end(), [t](auto& e) { return e.type == t; }));
    }
};

struct Shown {
    Window window;
    std::shared_ptr<LiveRecorder> view;
    Shown(int x, int y, int w, int h) : window(contentAt(x, y, w, h), WindowStyle::Borderless) {
        view = std::make_shared<LiveRecorder>(Rect{0, 0, double(w), double(h)});
        window.contentView()->addSubview(view);
        window.makeKeyAndOrderFront();
        window.makeFirstResponder(view.get());
        pump(700);
    }
};

}  // namespace

TEST(KitLive, LayerTreeClicksAndKeysArriveAsTheApplicationExpects) {
    REQUIRE_X11();
    Shown s(100, 100, 300, 200);
    auto bottom = Layer::make();
    bottom->setFrame({0, 0, 300, 100});
    bottom->setBackgroundColor(Color::rgb(255, 0, 0));
    s.view->layer()->setBackgroundColor(Color::rgb(0, 0, 255));
    s.view->layer()->addSublayer(bottom);
    QImage shot = screenshotWhen([](const QImage& i) {
        return i.pixelColor(150, 120) == QColor(0, 0, 255) && i.pixelColor(150, 280) == QColor(255, 0, 0);
    });
    EXPECT_EQ(shot.pixelColor(150, 120), QColor(0, 0, 255)) << "top half";
    EXPECT_EQ(shot.pixelColor(150, 280), QColor(255, 0, 0)) << "bottom half (y up)";

    sh("xdotool mousemove 110 290 click 1");
    pump(5000, [&] { return s.view->count(EventType::LeftMouseUp) >= 1; });
    ASSERT_GE(s.view->events.size(), 1u);
    EXPECT_EQ(s.view->events[0].locationInWindow, (Point{10, 10}));
    EXPECT_EQ(s.view->events[0].clickCount, 1);
    pump(700);  // past the double-click interval
    s.view->events.clear();
    sh("xdotool click --repeat 2 --delay 80 1");
    pump(5000, [&] { return s.view->count(EventType::LeftMouseUp) >= 2; });
    int most = 0;
    for (auto& e : s.view->events) most = std::max(most, e.clickCount);
    EXPECT_EQ(most, 2);
    auto lastUp = std::find_if(s.view->events.rbegin(), s.view->events.rend(),
                               [](auto& e) { return e.type == EventType::LeftMouseUp; });
    ASSERT_NE(lastUp, s.view->events.rend());
    EXPECT_EQ(lastUp->clickCount, 2) << "the second release of a double click";

    s.view->events.clear();
    sh("xdotool key ctrl+c");
    pump(5000, [&] { return s.view->count(EventType::KeyDown) >= 1; });
    ASSERT_GE(s.view->count(EventType::KeyDown), 1);
    auto down = std::find_if(s.view->events.begin(), s.view->events.end(),
                             [](auto& e) { return e.type == EventType::KeyDown; });
    EXPECT_EQ(down->keyCode, KeyCode::C);
    EXPECT_TRUE(down->has(ModifierFlag::Command));
    EXPECT_EQ(down->characters, "c");

    pump(300);  // the releases
    s.view->events.clear();
    sh("xset r on; xset r rate 200 30; xdotool keydown a; sleep 1; xdotool keyup a");
    pump(300);
    int repeats = 0;
    for (auto& e : s.view->events) repeats += e.type == EventType::KeyDown && e.isARepeat;
    EXPECT_GT(repeats, 2);
    int releases = 0;
    for (auto& e : s.view->events) releases += e.type == EventType::KeyUp && e.keyCode == KeyCode::A;
    EXPECT_EQ(releases, 1) << "auto-repeat releases are dropped";
}

TEST(KitLive, PasteboardTalksToOtherClients) {
    REQUIRE_X11();
    if (QStandardPaths::findExecutable("xclip").isEmpty()) GTEST_SKIP() << "needs xclip";
    auto& pb = Pasteboard::general();
    pb.setString("kadrix text");
    EXPECT_EQ(sh("xclip -selection clipboard -o"), "kadrix text");
    Image img(8, 6);
    img.fill(Color::rgb(10, 20, 30));
    pb.setImage(img);
    QString png = QDir::temp().filePath(QString("kadrix-kitlive-clip-%1.png").arg(getpid()));
    sh("xclip -selection clipboard -o -t image/png > " + png);
    QImage back(png);
    EXPECT_EQ(back.size(), QSize(8, 6));
    EXPECT_EQ(back.pixelColor(3, 3), QColor(10, 20, 30));

    sh("printf 'from xclip' | xclip -selection clipboard -i");
    pump(5000, [&] { return pb.string() == "from xclip"; });
    EXPECT_EQ(pb.string(), "from xclip");
    QImage red(5, 4, QImage::Format_RGB32);
    red.fill(Qt::red);
    red.save(png);
    sh("xclip -selection clipboard -t image/png -i " + png);
    pump(5000, [&] { return pb.image().width() == 5; });
    Image got = pb.image();
    EXPECT_EQ(got.width(), 5);
    EXPECT_EQ(got.colorAt(1, 1).red8(), 255);
    QFile::remove(png);
}

// Bytes another program offers are read into one memory file as they
// arrive: refused once more than the cap has come, held once below it (the
// toolkit's read held them in the program's memory, and then a copy).
TEST(KitLive, ClipboardOffersAreHeldOnceAndStoppedPastTheCap) {
    REQUIRE_X11();
    if (QStandardPaths::findExecutable("xclip").isEmpty()) GTEST_SKIP() << "needs xclip";
    const QString blob = QDir::temp().filePath(QString("kadrix-kitlive-offer-%1").arg(getpid()));
    const auto offer = [&](const char* megabytes) {
        const int before = Pasteboard::general().changeCount();
        sh(QString("head -c %1M /dev/zero > %2 && xclip -selection clipboard -t image/png -i %2")
               .arg(megabytes, blob));
        pump(5000, [&] { return Pasteboard::general().changeCount() != before; });
    };
    offer("3");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    using Outcome = x11::ClipboardData::Outcome;
    const auto whole = x11::readClipboard("image/png", 4 << 20, until);
    ASSERT_EQ(whole.outcome, Outcome::Read);
    struct stat st {};
    EXPECT_EQ(::fstat(whole.fd, &st), 0);
    EXPECT_EQ(st.st_size, 3 << 20);
    ::close(whole.fd);
    EXPECT_EQ(x11::readClipboard("image/png", 1 << 20, until).outcome, Outcome::TooLarge);

    offer("200");
    const long long growth = testsupport::peakGrowthOf([] {
        std::string why;
        EXPECT_TRUE(Pasteboard::general().image(&why).isNull());
        EXPECT_EQ(why, "The file is not an image that can be read, or it is damaged.");
    });
    // The bytes lie in the memory file alone, none in the program's own memory.
    EXPECT_LT(growth, 64LL << 20);
    QFile::remove(blob);
}

// A window of its own for a client owning the clipboard, and the atoms it
// names.
xcb_window_t ownerWindow(xcb_connection_t* c) {
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root,
                      0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    return window;
}
xcb_atom_t atomOf(xcb_connection_t* c, const char* name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr),
        &std::free);
    return r ? r->atom : xcb_atom_t(XCB_NONE);
}

// A client owning the clipboard on a connection and thread of its own:
// `serve` answers the readers until `ending` holds. Each kind of owner
// starts it in its constructor and ends it in its destructor.
class TestOwner {
public:
    bool owning() const { return owning_; }

protected:
    virtual ~TestOwner() = default;
    virtual void serve(xcb_connection_t* c, xcb_window_t window) = 0;
    bool ending() const { return stop_; }
    void start() {
        thread_ = std::thread([this] {
            xcb_connection_t* c = xcb_connect(nullptr, nullptr);
            if (xcb_connection_has_error(c)) return xcb_disconnect(c);
            const xcb_window_t window = ownerWindow(c);
            xcb_set_selection_owner(c, window, atomOf(c, "CLIPBOARD"), XCB_CURRENT_TIME);
            xcb_flush(c);
            owning_ = true;
            serve(c, window);
            xcb_disconnect(c);
        });
        for (int i = 0; i < 500 && !owning_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void end() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false}, owning_{false};
    std::thread thread_;
};

// Another client owning the clipboard, which hands image/png over in pieces
// (INCR): it announces `announced` bytes, then puts each piece once the
// reader has removed the one before, the empty piece last.
class PiecewiseOwner : public TestOwner {
public:
    PiecewiseOwner(uint32_t announced, std::vector<QByteArray> pieces)
        : announced_(announced), pieces_(std::move(pieces)) {
        start();
    }
    ~PiecewiseOwner() override { end(); }
    // How many pieces the reader asked for.
    int asked() const { return asked_; }

private:
    void serve(xcb_connection_t* c, xcb_window_t) override {
        const auto atom = [c](const char* name) { return atomOf(c, name); };
        const xcb_atom_t targets = atom("TARGETS"), png = atom("image/png"), incr = atom("INCR");
        xcb_window_t requestor = 0;
        xcb_atom_t property = XCB_NONE;
        size_t next = 0;
        while (!ending() && !xcb_connection_has_error(c)) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> e(xcb_poll_for_event(c), &std::free);
            if (!e) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            const uint8_t type = e->response_type & 0x7F;
            if (type == XCB_SELECTION_REQUEST) {
                auto* r = reinterpret_cast<xcb_selection_request_event_t*>(e.get());
                xcb_selection_notify_event_t answer{};
                answer.response_type = XCB_SELECTION_NOTIFY;
                answer.requestor = r->requestor;
                answer.selection = r->selection;
                answer.target = r->target;
                answer.property = r->property;
                if (r->target == targets) {
                    const xcb_atom_t offered[] = {targets, png};
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, r->requestor, r->property, XCB_ATOM_ATOM,
                                        32, 2, offered);
                } else if (r->target == png) {
                    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(c, r->requestor, XCB_CW_EVENT_MASK, &mask);
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, r->requestor, r->property, incr, 32, 1,
                                        &announced_);
                    requestor = r->requestor;
                    property = r->property;
                    next = 0;
                } else {
                    answer.property = XCB_NONE;
                }
                xcb_send_event(c, 0, r->requestor, 0, reinterpret_cast<const char*>(&answer));
            } else if (type == XCB_PROPERTY_NOTIFY) {
                auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e.get());
                if (p->window != requestor || p->atom != property || p->state != XCB_PROPERTY_DELETE ||
                    next > pieces_.size())
                    continue;
                ++asked_;
                const QByteArray piece = next < pieces_.size() ? pieces_[next] : QByteArray();
                ++next;
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, png, 8,
                                    uint32_t(piece.size()), piece.constData());
            }
            xcb_flush(c);
        }
    }

    const uint32_t announced_;
    const std::vector<QByteArray> pieces_;
    std::atomic<int> asked_{0};
};

// Offers sent in pieces are held to the cap as they come: one announcing
// more than the cap is refused before a piece is asked for; one whose piece
// is larger than the room left is refused without the piece being read,
// and one within the cap arrives whole.
TEST(KitLive, PiecewiseClipboardOffersAreStoppedAtTheCap) {
    REQUIRE_X11();
    using Outcome = x11::ClipboardData::Outcome;
    constexpr long long cap = 1 << 20;
    const auto soon = [] { return std::chrono::steady_clock::now() + std::chrono::seconds(5); };
    {
        PiecewiseOwner owner(2 << 20, {QByteArray(64 << 10, 'x')});
        ASSERT_TRUE(owner.owning());
        EXPECT_EQ(x11::readClipboard("image/png", cap, soon()).outcome, Outcome::TooLarge);
        pump(300);
        EXPECT_EQ(owner.asked(), 0) << "a piece was asked for of an offer announced above the cap";
    }
    {
        PiecewiseOwner owner(300000, {QByteArray(200000, 'a'), QByteArray(100000, 'b')});
        ASSERT_TRUE(owner.owning());
        const auto read = x11::readClipboard("image/png", cap, soon());
        ASSERT_EQ(read.outcome, Outcome::Read);
        QFile held;
        ASSERT_TRUE(held.open(read.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        ASSERT_TRUE(held.seek(0));
        EXPECT_EQ(held.readAll(), QByteArray(200000, 'a') + QByteArray(100000, 'b'));
    }
    {
        // Announced small, then one piece of twelve times the cap.
        PiecewiseOwner owner(1000, {QByteArray(12 << 20, 'y')});
        ASSERT_TRUE(owner.owning());
        const long long growth = testsupport::peakGrowthOf(
            [&] { EXPECT_EQ(x11::readClipboard("image/png", cap, soon()).outcome, Outcome::TooLarge); });
        // Up to the room left and a little: a piece asked for whole (4 MB
        // a request) grows the program by more.
        EXPECT_LT(growth, 5LL << 19) << "the piece was read whole";
    }
}

// Another client owning the clipboard that is busy: it names its types
// `typesLateMs` late, hands the first type's bytes over `firstLateMs` late
// and every later type's `laterLateMs` late (never when negative), and
// counts the answers the server refused it (put on a window that is gone).
// One that `closesReaders` has the server close each reader's connection
// instead of answering.
class BusyOwner : public TestOwner {
public:
    BusyOwner(int typesLateMs, int firstLateMs, int laterLateMs, bool closesReaders = false)
        : typesLate_(typesLateMs),
          firstLate_(firstLateMs),
          laterLate_(laterLateMs),
          closesReaders_(closesReaders) {
        start();
    }
    ~BusyOwner() override { end(); }
    int asked() const { return asked_; }
    int answered() const { return answered_; }
    int refused() const { return refused_; }

private:
    void serve(xcb_connection_t* c, xcb_window_t) override {
        const auto atom = [c](const char* name) { return atomOf(c, name); };
        const xcb_atom_t targets = atom("TARGETS");
        const xcb_atom_t offered[] = {targets, atom("image/png"), atom("image/jpeg"), atom("image/gif")};
        while (!ending() && !xcb_connection_has_error(c)) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> e(xcb_poll_for_event(c), &std::free);
            if (!e || (e->response_type & 0x7F) != XCB_SELECTION_REQUEST) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            const auto r = *reinterpret_cast<xcb_selection_request_event_t*>(e.get());
            ++asked_;
            const int late = r.target == targets ? typesLate_ : bytesAsked_++ == 0 ? firstLate_ : laterLate_;
            if (late < 0) continue;
            if (closesReaders_) {
                xcb_kill_client(c, r.requestor);
                xcb_flush(c);
                continue;
            }
            for (int waited = 0; waited < late && !ending(); waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            xcb_void_cookie_t put =
                r.target == targets ? xcb_change_property_checked(c, XCB_PROP_MODE_REPLACE, r.requestor,
                                                                  r.property, XCB_ATOM_ATOM, 32, 4, offered)
                                    : xcb_change_property_checked(c, XCB_PROP_MODE_REPLACE, r.requestor,
                                                                  r.property, r.target, 8, 11, "no picture!");
            xcb_selection_notify_event_t answer{};
            answer.response_type = XCB_SELECTION_NOTIFY;
            answer.requestor = r.requestor;
            answer.selection = r.selection;
            answer.target = r.target;
            answer.property = r.property;
            xcb_void_cookie_t sent =
                xcb_send_event_checked(c, 0, r.requestor, 0, reinterpret_cast<const char*>(&answer));
            for (xcb_void_cookie_t cookie : {put, sent}) {
                std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(xcb_request_check(c, cookie),
                                                                                 &std::free);
                refused_ += error != nullptr;
            }
            ++answered_;
        }
    }

    const int typesLate_, firstLate_, laterLate_;
    const bool closesReaders_;
    int bytesAsked_ = 0;
    std::atomic<int> asked_{0}, answered_{0}, refused_{0};
};

// A reader that stops waiting leaves its window for the owner's late
// answer: a busy owner's answer once found the window gone, an error that
// ends a program keeping Xlib's default handler.
TEST(KitLive, AnOwnerAnsweringLateFindsItsWindow) {
    REQUIRE_X11();
    BusyOwner owner(400, 400, 400);
    ASSERT_TRUE(owner.owning());
    const auto types = x11::offeredTypes(std::chrono::steady_clock::now() + std::chrono::milliseconds(150));
    EXPECT_EQ(types.outcome, x11::ClipboardData::Outcome::TooSlow);
    pump(3000, [&] { return owner.answered() > 0; });
    ASSERT_EQ(owner.answered(), 1);
    EXPECT_EQ(owner.refused(), 0) << "the owner's answer was put on a window that was gone";
}

// Holds the X server on a connection of its own for `ms`, as a display slow
// to take a new client does: a connection made meanwhile is set up only once
// it lets go.
class ServerHeld {
public:
    explicit ServerHeld(int ms) : conn_(xcb_connect(nullptr, nullptr)) {
        xcb_grab_server(conn_);
        std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
        thread_ = std::thread([this, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            xcb_ungrab_server(conn_);
            xcb_flush(conn_);
        });
    }
    ~ServerHeld() {
        thread_.join();
        xcb_disconnect(conn_);
    }

private:
    xcb_connection_t* conn_;
    std::thread thread_;
};

// An owner's second counts from the sending of the question: our thread
// slow to connect (the display held for 600 ms) costs an owner answering
// 600 ms after the question nothing, for the key and the menu alike; one
// answering 1500 ms after it is late for both. The key tells a late owner,
// and one that never answers, as unanswered, never as offering no picture.
TEST(KitLive, AnOwnersSecondCountsFromTheSendingOfTheQuestion) {
    REQUIRE_X11();
    using Answer = Pasteboard::ImageAnswer;
    Pasteboard& pb = Pasteboard::general();
    const auto told = std::make_shared<std::optional<bool>>();
    pb.onImageAnswer([told](bool offered) { *told = offered; });
    std::unique_ptr<BusyOwner> previous;
    for (const int late : {600, 1500, -1}) {
        for (const bool key : {true, false}) {
            const int before = pb.changeCount();
            auto owner = std::make_unique<BusyOwner>(late, -1, -1);
            ASSERT_TRUE(owner->owning());
            pump(5000, [&] { return pb.changeCount() != before; });
            // The owner before goes once this one owns: gone while it still
            // owned, it would change the clipboard again during the question.
            previous = std::move(owner);
            told->reset();
            const bool inTime = late >= 0 && late < 1000;
            if (key) {
                const ServerHeld held(600);
                EXPECT_EQ(pb.awaitImageAnswer(), inTime ? Answer::offered : Answer::unanswered)
                    << "the key, an owner " << late << " ms late";
            } else {
                {
                    const ServerHeld held(600);
                    EXPECT_FALSE(pb.hasImage()) << "the menu answered before the owner";
                }
                pump(3000, [&] { return told->has_value(); });
                EXPECT_EQ(told->value_or(false), inTime) << "the menu, an owner " << late << " ms late";
            }
        }
    }
}

// The clipboard taken by another owner while the last was asked about: the
// answer about the one gone is dropped, and the menu is told about the one
// that holds the clipboard now, asked about in turn.
TEST(KitLive, AClipboardChangedWhileAskedAboutIsAskedAboutAgain) {
    REQUIRE_X11();
    Pasteboard& pb = Pasteboard::general();
    const auto told = std::make_shared<std::optional<bool>>();
    pb.onImageAnswer([told](bool offered) { *told = offered; });
    // The changes an owner of the tests before made as it went come first.
    for (int seen = -1; seen != pb.changeCount();) {
        seen = pb.changeCount();
        pump(300, [&] { return pb.changeCount() != seen; });
    }
    int before = pb.changeCount();
    auto first = std::make_unique<BusyOwner>(400, -1, -1);
    ASSERT_TRUE(first->owning());
    pump(5000, [&] { return pb.changeCount() != before; });
    told->reset();
    EXPECT_FALSE(pb.hasImage()) << "answered before the owner";
    // Taken once the question has reached the first owner, which answers
    // as it goes.
    pump(5000, [&] { return first->asked() > 0; });
    before = pb.changeCount();
    BusyOwner second(0, -1, -1);
    ASSERT_TRUE(second.owning());
    pump(5000, [&] { return pb.changeCount() != before; });
    first.reset();
    pump(5000, [&] { return told->has_value(); });
    EXPECT_EQ(told->value_or(false), true) << "the menu was not told of the clipboard as it is";
    EXPECT_TRUE(pb.hasImage());
}

// A load reads all the types offered within its one limit: an owner that
// hands the first type over late and holds the next ends it then, not
// after a limit for each type.
TEST(KitLive, AnOwnerHoldingEveryTypeEndsTheLoadWithinItsOneLimit) {
    REQUIRE_X11();
    const auto saved = ImageIO::decoderLimits();
    ImageIO::setDecoderLimits({1, saved.memoryBytes});
    const auto limit = ImageIO::decodeTimeLimit();
    {
        // Handed over with time left to find it is no picture, on a busy
        // machine too: the load then ends at its limit on the next type.
        const auto first = limit - std::chrono::milliseconds(1500);
        BusyOwner owner(0, int(first.count()), -1);
        ASSERT_TRUE(owner.owning());
        const auto start = std::chrono::steady_clock::now();
        std::string why;
        EXPECT_TRUE(Pasteboard::general().image(&why).isNull());
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(why, "The program offering the picture took too long to hand it over.");
        EXPECT_LT(took, limit + std::chrono::seconds(1)) << "the second type held for a limit of its own";
    }
    ImageIO::setDecoderLimits(saved);
}

// Another program offering the toolkit's own picture type, when no
// connection of our own to the display can be had (the server's clients
// all taken, say): its bytes are not handed to the toolkit, which would
// decode them here by whatever reader they name.
TEST(KitLive, AnotherProgramsToolkitPictureIsNotDecodedHere) {
    REQUIRE_X11();
    if (QStandardPaths::findExecutable("xclip").isEmpty()) GTEST_SKIP() << "needs xclip";
    const QString png = QDir::temp().filePath(QString("kadrix-kitlive-qtimage-%1.png").arg(getpid()));
    QImage blue(64, 48, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    ASSERT_TRUE(blue.save(png));
    const int before = Pasteboard::general().changeCount();
    sh("xclip -selection clipboard -t application/x-qt-image -i " + png);
    pump(5000, [&] { return Pasteboard::general().changeCount() != before; });
    QFile::remove(png);
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    std::string why;
    const Image got = Pasteboard::general().image(&why);
    qputenv("DISPLAY", display);
    EXPECT_TRUE(got.isNull()) << got.width() << " x " << got.height() << " decoded here";
    EXPECT_EQ(why, "The clipboard cannot be read.");
}

// A read whose connection to the display breaks says so, not that the
// owner was slow.
TEST(KitLive, AClipboardReadWhoseConnectionBreaksSaysSo) {
    REQUIRE_X11();
    BusyOwner owner(0, 0, 0, true);
    ASSERT_TRUE(owner.owning());
    const auto types = x11::offeredTypes(std::chrono::steady_clock::now() + std::chrono::seconds(5));
    EXPECT_EQ(types.outcome, x11::ClipboardData::Outcome::ConnectionLost);
    std::string why;
    EXPECT_TRUE(Pasteboard::general().image(&why).isNull());
    EXPECT_EQ(why, "The connection to the display was lost while the picture was handed over.");
}

TEST(KitLive, FloatingWindowsStayAboveNormalOnes) {
    REQUIRE_X11();
    Window normal(contentAt(50, 100, 300, 300), WindowStyle::Titled);
    normal.contentView()->layer()->setBackgroundColor(Color::rgb(0, 255, 0));
    Window floating(contentAt(120, 150, 100, 100), WindowStyle::Borderless);
    floating.setLevel(WindowLevel::Floating);
    floating.contentView()->layer()->setBackgroundColor(Color::rgb(255, 255, 0));
    floating.orderFront();
    pump(300);
    normal.makeKeyAndOrderFront();
    pump(300);
    sh("xdotool mousemove 60 380 click 1");  // activate the normal window
    QImage shot = screenshotWhen([](const QImage& i) {
        return i.pixelColor(170, 200) == QColor(255, 255, 0) && i.pixelColor(300, 350) == QColor(0, 255, 0);
    });
    EXPECT_EQ(shot.pixelColor(170, 200), QColor(255, 255, 0));
    EXPECT_EQ(shot.pixelColor(300, 350), QColor(0, 255, 0));
}

// Shows a window for a few seconds in its own process (another client).
TEST(KitLiveChild, ShowWindow) {
    if (!std::getenv("KADRIX_KITLIVE_CHILD")) GTEST_SKIP() << "runs as a child process only";
    Window w(contentAt(500, 300, 200, 150), WindowStyle::Borderless);
    w.setTitle("kitlive-other-client");
    w.orderFront();
    pump(4000);
}

TEST(KitLive, GlobalMonitorsSeeClicksInOtherClients) {
    REQUIRE_X11();
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("KADRIX_KITLIVE_CHILD", "1");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=KitLiveChild.ShowWindow"});
    pump(1500);
    std::vector<MonitorEvent> seen;
    auto token = EventMonitor::addGlobal(EventMonitor::LeftMouseDown,
                                         [&](const MonitorEvent& e) { seen.push_back(e); });
    pump(200);
    sh("xdotool mousemove 600 375 click 1");
    pump(5000, [&] { return !seen.empty(); });
    EventMonitor::remove(token);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].type, MonitorEvent::Type::LeftMouseDown);
    child.waitForFinished(6000);
}

TEST(KitLive, TrayIconOpensItsMenuAndRunsTheItem) {
    REQUIRE_X11();
    if (QStandardPaths::findExecutable("trayer").isEmpty()) GTEST_SKIP() << "needs trayer";
    QProcess tray;
    tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                          "--transparent", "false"});
    pump(5000, [] { return StatusItem::isTrayAvailable(); });
    ASSERT_TRUE(StatusItem::isTrayAvailable());
    StatusItem item;
    Image icon(22, 22);
    icon.fill(Color::rgb(255, 0, 255));
    item.setImage(icon);
    int ran = 0;
    auto menu = std::make_shared<Menu>();
    menu->addItem("Run It", [&](MenuItem&) { ++ran; });
    item.setMenu(menu);
    item.setVisible(true);
    // The icon shows in the tray at the top right.
    auto iconIn = [](const QImage& shot) {
        for (int x = shot.width() - 1; x > shot.width() - 200; --x)
            for (int y = 0; y < 24; ++y)
                if (shot.pixelColor(x, y) == QColor(255, 0, 255)) return QPoint(x, y);
        return QPoint(-1, -1);
    };
    QPoint found = iconIn(screenshotWhen([&](const QImage& i) { return iconIn(i).x() >= 0; }));
    ASSERT_GE(found.x(), 0) << "tray icon not on screen";
    sh(QString("xdotool mousemove %1 %2 click 1").arg(found.x()).arg(found.y()));
    pump(5000, [&] { return menu->isOpen(); });
    ASSERT_TRUE(menu->isOpen());
    sh("xdotool key Down Return");
    pump(5000, [&] { return ran > 0; });
    EXPECT_EQ(ran, 1);
    item.setVisible(false);
    tray.terminate();
    tray.waitForFinished(2000);
}

TEST(KitLive, AlertsPopoversAndTextViewsAnswerTheUser) {
    REQUIRE_X11();
    Shown s(100, 100, 300, 200);
    Alert alert;
    alert.messageText = "Replace the file?";
    alert.addButton("Replace");
    alert.addButton("Cancel");
    QTimer::singleShot(500, [] {
        sh("xdotool search --sync --name 'Replace the file' windowactivate --sync; sleep 0.3; xdotool key "
           "Escape");
    });
    EXPECT_EQ(alert.runModal(), 1);
    QTimer::singleShot(500, [] {
        sh("xdotool search --sync --name 'Replace the file' windowactivate --sync; sleep 0.3; xdotool key "
           "Return");
    });
    EXPECT_EQ(alert.runModal(), 0);

    Popover pop;
    pop.setContentView(View::make());
    pop.setContentSize({100, 50});
    pop.show(Rect(10, 10, 40, 20), *s.view, RectEdge::MaxY);
    pump(400);
    ASSERT_TRUE(pop.isShown());
    sh("xdotool mousemove 700 550 click 1");
    pump(5000, [&] { return !pop.isShown(); });
    EXPECT_FALSE(pop.isShown()) << "an outside click closes it";

    // An Escape closes it when nothing inside holds the keyboard.
    pop.show(Rect(10, 10, 40, 20), *s.view, RectEdge::MaxY);
    pump(5000, [&] { return QApplication::activeWindow() != nullptr && pop.isShown(); });
    pump(300);
    sh("xdotool key Escape");
    pump(5000, [&] { return !pop.isShown(); });
    EXPECT_FALSE(pop.isShown()) << "Escape with no view holding the keyboard";

    // An Escape that no view inside used closes it too, from the text field
    // that has the keyboard.
    auto field = std::make_shared<TextField>(Rect{10, 10, 80, 24});
    pop.contentView()->addSubview(field);
    pop.show(Rect(10, 10, 40, 20), *s.view, RectEdge::MaxY);
    pump(5000, [&] { return QApplication::activeWindow() != nullptr && pop.isShown(); });
    field->makeFirstResponder();
    pump(300);
    sh("xdotool key Escape");
    pump(5000, [&] { return !pop.isShown(); });
    EXPECT_FALSE(pop.isShown()) << "Escape closes it";

    auto tv = std::make_shared<TextView>(Rect{20, 120, 10, 24});
    tv->setSizesToContent(true);
    s.view->addSubview(tv);
    s.window.makeKeyAndOrderFront();
    pump(300);
    s.window.makeFirstResponder(tv.get());
    pump(200);
    std::string reported;
    tv->onTextChange = [&](TextView& v) { reported = v.string(); };
    sh("xdotool type --delay 30 'Hello kit'");
    pump(5000, [&] { return reported == "Hello kit"; });
    EXPECT_EQ(reported, "Hello kit");
    EXPECT_GT(tv->frame().width(), 40) << "sized to its text";
}

namespace {
class DragSource : public View {
public:
    using View::View;
    bool started = false, taken = false;
    std::string file;
    void mouseDown(const Event&) override {}
    void mouseDragged(const Event&) override {
        if (started) return;
        started = true;
        Image img(20, 20);
        img.fill(Color::rgb(0, 0, 255));
        taken = beginDraggingFile(file, img);
    }
};
class DropTarget : public View {
public:
    using View::View;
    std::vector<std::string> files;
    bool draggingEntered(const DraggingInfo&) override { return true; }
    bool performDragOperation(const DraggingInfo& i) override {
        files = i.filePaths;
        return true;
    }
};
}  // namespace

TEST(KitLive, AFieldHoldingTheKeyboardGetsACombinationAnotherProgramHolds) {
    REQUIRE_X11();
    // Another client takes Ctrl+Alt+K for itself, as a desktop's shortcut
    // daemon does.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(other);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, 'k');
    ASSERT_TRUE(codes && codes[0]);
    const xcb_keycode_t k = codes[0];
    std::free(codes);
    xcb_key_symbols_free(symbols);
    ASSERT_EQ(
        xcb_request_check(other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1,
                                                      k, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
        nullptr);
    xcb_flush(other);
    int otherPresses = 0;
    auto readOther = [&] {
        while (xcb_generic_event_t* e = xcb_poll_for_event(other)) {
            otherPresses += (e->response_type & 0x7f) == XCB_KEY_PRESS;
            std::free(e);
        }
    };
    // Whether the keyboard is free, as the server sees it: another client's
    // grab succeeds only then (and is let go at once).
    auto keyboardFree = [&] {
        auto* r = xcb_grab_keyboard_reply(
            other,
            xcb_grab_keyboard(other, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        const bool isFree = r && r->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(r);
        if (isFree) {
            xcb_ungrab_keyboard(other, XCB_CURRENT_TIME);
            std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
        }
        return isFree;
    };

    Window window(contentAt(100, 100, 300, 60), WindowStyle::Borderless);
    auto field = std::make_shared<TextField>(Rect{10, 10, 280, 40});
    window.contentView()->addSubview(field);
    window.makeKeyAndOrderFront();
    window.makeFirstResponder(field.get());
    pump(600);
    int seen = 0;
    auto monitor = LocalEventMonitor::add(LocalEventMonitor::Mask::KeyDown, [&](const Event& e) {
        seen += e.keyCode == KeyCode::K;
        return false;
    });
    // One press goes to one client: wait until either has it.
    auto press = [&] {
        const int seenBefore = seen, otherBefore = otherPresses;
        sh("xdotool key ctrl+alt+k");
        pump(5000, [&] {
            readOther();
            return seen != seenBefore || otherPresses != otherBefore;
        });
        pump(100);
        readOther();
    };
    press();
    EXPECT_EQ(seen, 0) << "the other program's grab takes the press";
    EXPECT_EQ(otherPresses, 1);
    field->setHoldsKeyboard(true);
    EXPECT_FALSE(keyboardFree());
    press();
    EXPECT_EQ(seen, 1) << "held, the keyboard brings every press here";
    EXPECT_EQ(otherPresses, 1);
    // Let go while the event loop does not turn, as a main thread busy right
    // after recording would: the server must know at once.
    field->setHoldsKeyboard(false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    bool letGo = keyboardFree();
    while (!letGo && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        letGo = keyboardFree();
    }
    EXPECT_TRUE(letGo) << "the keyboard is still held with the event loop stopped";
    press();
    EXPECT_EQ(seen, 1) << "let go, the other program has its combination again";
    EXPECT_EQ(otherPresses, 2);
    LocalEventMonitor::remove(monitor);
    xcb_disconnect(other);
}

TEST(KitLive, FilesDragFromOneViewToAnother) {
    REQUIRE_X11();
    Window a(contentAt(50, 50, 200, 200), WindowStyle::Borderless);
    testsupport::ScratchFolder scratch;
    auto src = std::make_shared<DragSource>(Rect{0, 0, 200, 200});
    src->file = scratch.file("dragged.png");
    a.contentView()->addSubview(src);
    Window b(contentAt(400, 50, 200, 200), WindowStyle::Borderless);
    auto dst = std::make_shared<DropTarget>(Rect{0, 0, 200, 200});
    dst->registerForDraggedFilesAndImages(true);
    b.contentView()->addSubview(dst);
    a.orderFront();
    b.orderFront();
    pump(500);
    QProcess::startDetached("sh",
                            {"-c",
                             "xdotool mousemove 150 150 mousedown 1; sleep 0.3; for x in 170 200 250 300 400 "
                             "450 500; do xdotool mousemove $x 150; sleep 0.15; done; sleep 0.3; xdotool "
                             "mouseup 1"});
    pump(5000, [&] { return !dst->files.empty(); });
    ASSERT_EQ(dst->files.size(), 1u);
    EXPECT_EQ(dst->files[0], src->file);
    pump(300);
    EXPECT_TRUE(src->taken);
}

TEST(KitLive, ShapedWindowsShowWhatIsBelowInTheirHoles) {
    REQUIRE_X11();
    Window under(contentAt(300, 300, 200, 100), WindowStyle::Borderless);
    under.contentView()->layer()->setBackgroundColor(Color::rgb(0, 255, 255));
    under.orderFront();
    Window overlay(contentAt(300, 300, 200, 100), WindowStyle::Borderless);
    overlay.setLevel(WindowLevel::Floating);
    overlay.contentView()->layer()->setBackgroundColor(Color::rgb(255, 0, 255));
    overlay.setShape({Rect(0, 0, 200, 20), Rect(0, 80, 200, 20)});
    overlay.orderFront();
    QImage shot = screenshotWhen([](const QImage& i) {
        return i.pixelColor(400, 305) == QColor(255, 0, 255) && i.pixelColor(400, 350) == QColor(0, 255, 255);
    });
    EXPECT_EQ(shot.pixelColor(400, 305), QColor(255, 0, 255)) << "top band";
    EXPECT_EQ(shot.pixelColor(400, 395), QColor(255, 0, 255)) << "bottom band";
    EXPECT_EQ(shot.pixelColor(400, 350), QColor(0, 255, 255)) << "the hole shows the window below";
}

TEST(KitLive, AFrozenAreaKeepsTheScreenAsItWasAndShowsItDimmedAtOnce) {
    REQUIRE_X11();
    Window shown(contentAt(300, 300, 200, 100), WindowStyle::Borderless);
    shown.contentView()->layer()->setBackgroundColor(Color::rgb(0, 255, 255));
    shown.orderFront();
    pump(600);
    const Rect area(250, 250, 300, 200);
    auto frozen = FrozenArea::take(area);
    ASSERT_TRUE(frozen);
    EXPECT_FALSE(FrozenArea::take(Rect(-10, 0, 100, 100))) << "a rectangle reaching off the screen";

    // The screen changes; the frozen area does not. On a busy machine the
    // repaint takes its time: the screen is read once it shows the new colour.
    shown.contentView()->layer()->setBackgroundColor(Color::rgb(255, 0, 255));
    screenshotWhen([](const QImage& i) { return i.pixelColor(400, 350) == QColor(255, 0, 255); });
    const Image then = frozen->image();
    ASSERT_EQ(then.width(), 300);
    ASSERT_EQ(then.height(), 200);
    const Image now = grabArea(area);
    auto at = [](const Image& img, int x, int y) {
        const uint8_t* p = img.row(y) + x * 4;  // premultiplied BGRA, opaque here
        return QColor(p[2], p[1], p[0], p[3]);
    };
    EXPECT_EQ(at(then, 150, 100), QColor(0, 255, 255));
    EXPECT_EQ(at(now, 150, 100), QColor(255, 0, 255));
    EXPECT_EQ(at(then, 10, 10), at(now, 10, 10)) << "what did not change is the same";

    // A window that paints nothing shows the frozen pixels dimmed, drawn by the server.
    QWindow blank;
    blank.setFlags(Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
    blank.setGeometry(250, 250, 300, 200);
    blank.create();
    QGuiApplication::sync();
    ASSERT_TRUE(frozen->showDimmedIn(uint32_t(blank.winId()), 100 / 255.0));
    blank.show();
    QImage shot =
        screenshotWhen([](const QImage& i) { return std::abs(i.pixelColor(400, 350).green() - 155) <= 1; });
    const QColor dimmed = shot.pixelColor(400, 350);
    EXPECT_NEAR(dimmed.red(), 0, 1);
    EXPECT_NEAR(dimmed.green(), 155, 1);
    EXPECT_NEAR(dimmed.blue(), 155, 1);
    const QColor root = at(then, 10, 10);
    EXPECT_NEAR(shot.pixelColor(260, 260).green(), root.green() * 155 / 255, 1);
}

// Runs once, the next time kit queues a copy between drawables, right after
// it: a test holds the server there for another client.
std::function<void()> afterCopyQueued;

extern "C" xcb_void_cookie_t xcb_copy_area(xcb_connection_t* c, xcb_drawable_t from, xcb_drawable_t to,
                                           xcb_gcontext_t gc, int16_t fromX, int16_t fromY, int16_t toX,
                                           int16_t toY, uint16_t width, uint16_t height) {
    using Copy = xcb_void_cookie_t (*)(xcb_connection_t*, xcb_drawable_t, xcb_drawable_t, xcb_gcontext_t,
                                       int16_t, int16_t, int16_t, int16_t, uint16_t, uint16_t);
    static const auto copy = reinterpret_cast<Copy>(dlsym(RTLD_NEXT, "xcb_copy_area"));
    const xcb_void_cookie_t queued = copy(c, from, to, gc, fromX, fromY, toX, toY, width, height);
    if (auto then = std::exchange(afterCopyQueued, nullptr)) then();
    return queued;
}

// What other clients draw once take() has returned is not in the frozen area,
// even when the server carries out their drawing before a copy of ours it
// has not read yet (a busy server may): here another client holds the server
// from the moment the copy is queued, and draws as soon as take() returns.
TEST(KitLive, AFrozenAreaIsTheScreenAsItWasWhenTakenWhateverOthersDrawNext) {
    using namespace std::chrono_literals;
    REQUIRE_X11();
    Window shown(contentAt(300, 300, 200, 100), WindowStyle::Borderless);
    shown.contentView()->layer()->setBackgroundColor(Color::rgb(0, 255, 255));
    shown.orderFront();
    screenshotWhen([](const QImage& i) { return i.pixelColor(400, 350) == QColor(0, 255, 255); });

    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    const xcb_gcontext_t yellow = xcb_generate_id(other);
    const uint32_t values[] = {0xffff00, XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS};
    xcb_create_gc(other, yellow, root, XCB_GC_FOREGROUND | XCB_GC_SUBWINDOW_MODE, values);
    auto roundTrip = [other] { free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr)); };
    roundTrip();

    std::atomic<bool> taken = false;
    std::thread drawer;
    afterCopyQueued = [&] {
        xcb_grab_server(other);
        roundTrip();
        drawer = std::thread([&] {
            // A take() that waits for its copy waits for the server: it is let go after a second.
            const auto until = std::chrono::steady_clock::now() + 1s;
            while (!taken && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
            if (!taken) {
                xcb_ungrab_server(other);
                roundTrip();
                while (!taken) std::this_thread::sleep_for(5ms);
            }
            const xcb_rectangle_t over = {390, 340, 20, 20};
            xcb_poly_fill_rectangle(other, root, yellow, 1, &over);
            xcb_ungrab_server(other);
            roundTrip();
        });
    };
    auto frozen = FrozenArea::take(Rect(250, 250, 300, 200));
    taken = true;
    if (drawer.joinable()) drawer.join();
    afterCopyQueued = nullptr;
    xcb_disconnect(other);
    ASSERT_TRUE(frozen);
    const Image then = frozen->image();
    ASSERT_EQ(then.width(), 300);
    const uint8_t* p = then.row(100) + 150 * 4;
    EXPECT_EQ(QColor(p[2], p[1], p[0]), QColor(0, 255, 255))
        << "the frozen area holds what was drawn after it";
}
