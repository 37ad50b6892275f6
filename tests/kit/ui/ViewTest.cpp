// Views: y-up placement, flipping, conversions, autoresizing, the responder
// chain, tracking areas, click counts and layer painting, with synthetic Qt
// events on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

#include "kit/ui/View.h"
#include "kit/ui/Window.h"
#include "kit/ui/qt/ViewPrivate.h"
#include "support/EventLoopWait.h"

using namespace kit;

namespace {

class Recorder : public View {
public:
    using View::View;
    std::vector<Event> events;
    bool firstResponder = false;
    bool passOn = false;
    void record(const Event& e) {
        events.push_back(e);
        if (passOn) passToNextResponder(e);
    }
    void mouseDown(const Event& e) override { record(e); }
    void mouseDragged(const Event& e) override { record(e); }
    void mouseUp(const Event& e) override { record(e); }
    void rightMouseDown(const Event& e) override { record(e); }
    void mouseEntered(const Event& e) override { record(e); }
    void mouseExited(const Event& e) override { record(e); }
    void mouseMoved(const Event& e) override { record(e); }
    void keyDown(const Event& e) override { record(e); }
    bool acceptsFirstResponder() const override { return firstResponder; }
    bool draggingEntered(const DraggingInfo& info) override {
        drops.push_back(info);
        return !info.filePaths.empty() && !info.fromThisApplication;
    }
    bool performDragOperation(const DraggingInfo& info) override {
        drops.push_back(info);
        return true;
    }
    std::vector<DraggingInfo> drops;
};

class RecordingWindow : public Window {
public:
    using Window::Window;
    std::vector<Event> keys, mice;
    void keyDown(const Event& e) override { keys.push_back(e); }
    void mouseEvent(const Event& e) override { mice.push_back(e); }
};

void send(QWidget* w, QEvent::Type type, QPointF local, Qt::MouseButton button,
          Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, local, w->mapToGlobal(local), button, held, mods);
    QApplication::sendEvent(w, &e);
}

QWidget* widget(const View& v) {
    return qt::viewWidget(v);
}

}  // namespace

TEST(ViewGeometry, YUpFramesPlaceWidgetsFromTheBottom) {
    auto root = View::make({0, 0, 200, 100});
    auto child = View::make({10, 20, 50, 30});
    root->addSubview(child);
    EXPECT_EQ(widget(*child)->geometry(), QRect(10, 100 - 20 - 30, 50, 30));
    root->setFlipped(true);
    EXPECT_EQ(widget(*child)->geometry(), QRect(10, 20, 50, 30)) << "flipped superview: y down";
    root->setFlipped(false);
    root->setFrameSize({200, 300});
    EXPECT_EQ(widget(*child)->geometry().y(), 300 - 20 - 30) << "bottom margin kept when the superview grows";
}

TEST(ViewGeometry, ConversionsBetweenViewsWindowAndFlippedViews) {
    auto root = View::make({0, 0, 300, 200});
    auto a = View::make({100, 50, 100, 100});
    auto b = View::make({10, 10, 40, 40});
    root->addSubview(a);
    a->addSubview(b);
    EXPECT_EQ(b->convert(Point{5, 5}, nullptr), (Point{115, 65}));
    EXPECT_EQ(b->convertFrom(Point{115, 65}, nullptr), (Point{5, 5}));
    EXPECT_EQ(b->convert(Point{0, 0}, a.get()), (Point{10, 10}));
    a->setFlipped(true);
    // b now sits 10 below a's top: its bottom-left is at y = 100 - 10 - 40 = 50 in a's y-up terms.
    EXPECT_EQ(b->convert(Point{0, 0}, nullptr), (Point{110, 50 + 50}));
    EXPECT_EQ(b->convertFrom(b->convert(Point{3, 7}, nullptr), nullptr), (Point{3, 7}));
    Rect r = b->convert(Rect(0, 0, 10, 10), root.get());
    EXPECT_EQ(r, Rect(110, 100, 10, 10));
}

TEST(ViewGeometry, AutoresizingFollowsTheSuperview) {
    auto root = View::make({0, 0, 200, 100});
    auto fill = View::make({10, 10, 180, 80});
    fill->setAutoresizingMask(Autoresizing::WidthSizable | Autoresizing::HeightSizable);
    auto topRight = View::make({170, 70, 20, 20});
    topRight->setAutoresizingMask(Autoresizing::MinXMargin | Autoresizing::MinYMargin);
    root->addSubview(fill);
    root->addSubview(topRight);
    root->setFrameSize({300, 150});
    EXPECT_EQ(fill->frame(), Rect(10, 10, 280, 130));
    EXPECT_EQ(topRight->frame(), Rect(270, 120, 20, 20));
}

TEST(ViewEvents, ClicksArriveYUpWithCountsAndDragsStayWithTheView) {
    Window win({100, 100, 200, 100}, WindowStyle::Borderless);
    auto v = std::make_shared<Recorder>(Rect{20, 10, 100, 50});
    win.contentView()->addSubview(v);
    QWidget* w = widget(*v);
    send(w, QEvent::MouseButtonPress, {5, 45}, Qt::LeftButton);
    send(w, QEvent::MouseButtonRelease, {5, 45}, Qt::LeftButton);
    send(w, QEvent::MouseButtonPress, {5, 45}, Qt::LeftButton);
    send(w, QEvent::MouseMove, {30, 40}, Qt::LeftButton);
    send(w, QEvent::MouseButtonRelease, {30, 40}, Qt::LeftButton);
    ASSERT_EQ(v->events.size(), 5u);
    EXPECT_EQ(v->events[0].type, EventType::LeftMouseDown);
    EXPECT_EQ(v->events[0].locationInWindow, (Point{25, 15}))
        << "widget (5,45) is 5 up from the view's bottom";
    EXPECT_EQ(v->events[0].clickCount, 1);
    EXPECT_EQ(v->events[0].window, &win);
    EXPECT_EQ(v->events[2].clickCount, 2);
    EXPECT_EQ(v->events[1].clickCount, 1);
    EXPECT_EQ(v->events[3].type, EventType::LeftMouseDragged);
    EXPECT_EQ(v->events[4].type, EventType::LeftMouseUp);
    EXPECT_EQ(v->events[4].clickCount, 2) << "the release of a double click carries its count";
    EXPECT_EQ(v->convertFrom(v->events[3].locationInWindow, nullptr), (Point{30, 10}));
}

TEST(ViewEvents, UnhandledEventsClimbToTheSuperviewAndWindow) {
    RecordingWindow win({0, 0, 200, 100}, WindowStyle::Titled);
    auto outer = std::make_shared<Recorder>(Rect{0, 0, 200, 100});
    outer->passOn = true;
    auto inner = View::make({10, 10, 50, 50});  // handles nothing itself
    win.contentView()->addSubview(outer);
    outer->addSubview(inner);
    send(widget(*inner), QEvent::MouseButtonPress, {1, 1}, Qt::LeftButton);
    ASSERT_EQ(outer->events.size(), 1u);
    EXPECT_EQ(win.mice.size(), 1u);
    QKeyEvent k(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier, 52, 0, 0, "z");
    QApplication::sendEvent(widget(*inner), &k);
    ASSERT_EQ(win.keys.size(), 1u);
    EXPECT_EQ(win.keys[0].keyCode, KeyCode::Z);
    EXPECT_TRUE(win.keys[0].has(ModifierFlag::Command));
}

TEST(ViewEvents, TrackingAreasSendEnterMoveAndExit) {
    Window win({0, 0, 200, 100}, WindowStyle::Borderless);
    auto v = std::make_shared<Recorder>(Rect{0, 0, 200, 100});
    win.contentView()->addSubview(v);
    win.orderFront();
    v->addTrackingArea({0, 0, 100, 100}, TrackingOption::MouseEnteredAndExited | TrackingOption::MouseMoved |
                                             TrackingOption::ActiveAlways);
    QWidget* w = widget(*v);
    send(w, QEvent::MouseMove, {150, 50}, Qt::NoButton);  // outside the area
    EXPECT_TRUE(v->events.empty());
    send(w, QEvent::MouseMove, {50, 50}, Qt::NoButton);
    send(w, QEvent::MouseMove, {60, 50}, Qt::NoButton);
    send(w, QEvent::MouseMove, {150, 50}, Qt::NoButton);
    ASSERT_EQ(v->events.size(), 3u);
    EXPECT_EQ(v->events[0].type, EventType::MouseEntered);
    EXPECT_EQ(v->events[1].type, EventType::MouseMoved);
    EXPECT_EQ(v->events[2].type, EventType::MouseExited);
    send(w, QEvent::MouseMove, {50, 50}, Qt::NoButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget(*win.contentView()), &leave);
    ASSERT_EQ(v->events.size(), 5u);
    EXPECT_EQ(v->events[4].type, EventType::MouseExited) << "leaving the window exits every area";
    win.orderOut();
}

TEST(ViewEvents, FirstResponderGetsKeys) {
    Window win({0, 0, 200, 100}, WindowStyle::Titled);
    auto v = std::make_shared<Recorder>(Rect{0, 0, 50, 50});
    v->firstResponder = true;
    win.contentView()->addSubview(v);
    win.makeKeyAndOrderFront();
    ASSERT_TRUE(win.makeFirstResponder(v.get()));
    QApplication::processEvents();
    EXPECT_EQ(win.firstResponder(), v.get());
    QKeyEvent k(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 9, 0, 0, QString(QChar(27)));
    QApplication::sendEvent(qt::viewWidget(*v), &k);
    ASSERT_EQ(v->events.size(), 1u);
    EXPECT_EQ(v->events[0].keyCode, KeyCode::Escape);
    win.orderOut();
}

TEST(ViewDrops, FilesAreOfferedAndOurOwnDragsCanBeRefused) {
    auto v = std::make_shared<Recorder>(Rect{0, 0, 100, 100});
    v->registerForDraggedFilesAndImages(true);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/tmp/a.png"), QUrl("https://example.org/x")});
    QDragEnterEvent enter(QPoint(10, 90), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget(*v), &enter);
    EXPECT_TRUE(enter.isAccepted());
    ASSERT_EQ(v->drops.size(), 1u);
    EXPECT_EQ(v->drops[0].filePaths, std::vector<std::string>{"/tmp/a.png"});
    EXPECT_EQ(v->drops[0].urls, std::vector<std::string>{"https://example.org/x"});
    EXPECT_EQ(v->drops[0].location, (Point{10, 10}));
    EXPECT_FALSE(v->drops[0].fromThisApplication);
    QDropEvent drop(QPointF(10, 90), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget(*v), &drop);
    EXPECT_TRUE(drop.isAccepted());
}

// Another program's list of places, handed over as the X server hands it:
// bytes, counted each time the view fetches them.
class OfferedList : public QMimeData {
public:
    explicit OfferedList(QByteArray list) : list_(std::move(list)) {}
    QStringList formats() const override { return {"text/uri-list"}; }
    bool hasFormat(const QString& type) const override { return type == "text/uri-list"; }
    mutable int fetched = 0;

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        if (type != "text/uri-list") return {};
        ++fetched;
        return list_;
    }

private:
    QByteArray list_;
};

// What the view was told of a drag of `list` entering and dropped.
std::pair<DraggingInfo, DraggingInfo> dragged(const OfferedList& mime) {
    auto v = std::make_shared<Recorder>(Rect{0, 0, 100, 100});
    v->registerForDraggedFilesAndImages(true);
    QDragEnterEvent enter(QPoint(10, 90), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget(*v), &enter);
    QDropEvent drop(QPointF(20, 80), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    if (enter.isAccepted()) QApplication::sendEvent(widget(*v), &drop);
    while (v->drops.size() < 2) v->drops.emplace_back();
    return {v->drops[0], v->drops[1]};
}

// A folder's worth of files dragged from a file manager: the view takes the
// first, and the other 349,999 are not converted, nor the list fetched again
// at the drop (it held the main thread 5.5 s and added 130 MB).
TEST(ViewDrops, OnlyTheHeadOfALongListIsRead) {
    QByteArray list;
    for (int i = 0; i < 350000; ++i) list += "file:///tmp/many/picture-" + QByteArray::number(i) + ".png\r\n";
    OfferedList mime(list);
    const auto [entered, dropped] = dragged(mime);
    ASSERT_FALSE(entered.filePaths.empty());
    EXPECT_EQ(entered.filePaths.front(), "/tmp/many/picture-0.png");
    EXPECT_LE(entered.filePaths.size(), 16u);
    EXPECT_EQ(dropped.filePaths, entered.filePaths);
    EXPECT_EQ(dropped.location, (Point{20, 20}));
    EXPECT_EQ(mime.fetched, 1);
}

// Lists as writers end them, and one whose first entry runs past what is
// read: no place is made of the part read.
TEST(ViewDrops, ListsAreReadByTheirLines) {
    const struct {
        QByteArray list;
        std::vector<std::string> files;
    } cases[] = {
        {"# from a file manager\r\nfile:///tmp/a%20b.png\r\nhttps://example.org/x\r\n", {"/tmp/a b.png"}},
        {QByteArray("file:///tmp/a.png\0", 18), {"/tmp/a.png"}},
        {"file:///tmp/a.png\nfile:///tmp/b.png", {"/tmp/a.png", "/tmp/b.png"}},
        {"file:///tmp/" + QByteArray(100000, 'x') + ".png\r\nfile:///tmp/a.png\r\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list.left(40).toStdString());
        OfferedList mime(c.list);
        const std::vector<std::string> files = dragged(mime).first.filePaths;
        EXPECT_TRUE(files == c.files)
            << files.size() << " files, the first " << (files.empty() ? "" : files.front().substr(0, 40));
    }
}

TEST(ViewPainting, TheLayerTreeIsDrawnYUp) {
    auto root = View::make({0, 0, 40, 20});
    root->layer()->setBackgroundColor(Color::rgb(0, 0, 255));
    auto bottom = Layer::make();
    bottom->setFrame({0, 0, 40, 10});
    bottom->setBackgroundColor(Color::rgb(255, 0, 0));
    root->layer()->addSublayer(bottom);
    Image img = root->snapshot(2);
    ASSERT_EQ(img.width(), 80);
    ASSERT_EQ(img.height(), 40);
    EXPECT_EQ(img.pixel(40, 35), (PixelBGRA{0, 0, 255, 255})) << "bottom rows are red";
    EXPECT_EQ(img.pixel(40, 5), (PixelBGRA{255, 0, 0, 255})) << "top rows are blue";
}

TEST(ViewPainting, ALayerOpacityDimsTheSubviewsToo) {
    auto root = View::make({0, 0, 40, 20});
    auto child = View::make({0, 0, 20, 20});
    child->layer()->setBackgroundColor(Color::rgb(255, 0, 0));
    root->addSubview(child);
    EXPECT_EQ(root->snapshot(1).pixel(10, 10), (PixelBGRA{0, 0, 255, 255}));

    root->layer()->setOpacity(0.5);
    PixelBGRA dimmed = root->snapshot(1).pixel(10, 10);
    EXPECT_NEAR(dimmed.a, 128, 3) << "the subview fades with its superview";
    EXPECT_NEAR(dimmed.r, 128, 3);

    // A subview added to a faded view fades at once; one taken out is whole again.
    auto late = View::make({20, 0, 20, 20});
    late->layer()->setBackgroundColor(Color::rgb(0, 255, 0));
    root->addSubview(late);
    EXPECT_NEAR(root->snapshot(1).pixel(30, 10).a, 128, 3);
    late->removeFromSuperview();
    EXPECT_EQ(late->snapshot(1).pixel(10, 10), (PixelBGRA{0, 255, 0, 255}));

    root->layer()->setOpacity(1);
    EXPECT_EQ(root->snapshot(1).pixel(10, 10), (PixelBGRA{0, 0, 255, 255}));
}

TEST(ViewHierarchy, OrderRemovalAndLifetime) {
    auto root = View::make({0, 0, 100, 100});
    auto a = View::make(), b = View::make(), c = View::make();
    root->addSubview(a);
    root->addSubview(b);
    root->addSubview(c, false, b.get());  // below b
    ASSERT_EQ(root->subviews().size(), 3u);
    EXPECT_EQ(root->subviews()[1], c);
    b->removeFromSuperview();
    EXPECT_EQ(b->superview(), nullptr);
    EXPECT_EQ(root->subviews().size(), 2u);
    EXPECT_TRUE(c->isDescendantOf(*root));
    root.reset();  // subviews outlive their superview
    EXPECT_EQ(a->superview(), nullptr);
    a->setFrame({1, 2, 3, 4});
    EXPECT_EQ(a->frame(), Rect(1, 2, 3, 4));
}

TEST(ViewEvents, AReleaseAndPressPairOfOneKeyIsARepeat) {
    Window win({0, 0, 100, 100}, WindowStyle::Titled);
    auto v = std::make_shared<Recorder>(Rect{0, 0, 100, 100});
    v->firstResponder = true;
    win.contentView()->addSubview(v);
    struct Ups : Recorder {
        using Recorder::Recorder;
        void keyUp(const Event& e) override { record(e); }
    };
    auto ups = std::make_shared<Ups>(Rect{0, 0, 100, 100});
    win.contentView()->addSubview(ups);
    QWidget* w = widget(*ups);
    auto send = [w](QEvent::Type t) {
        QKeyEvent k(t, Qt::Key_A, Qt::NoModifier, 38, 0, 0, "a");
        QApplication::sendEvent(w, &k);
    };
    send(QEvent::KeyPress);
    send(QEvent::KeyRelease);  // X11's repeat pair, not marked by Qt
    send(QEvent::KeyPress);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 100) QApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(ups->events.size(), 2u) << "no release between the presses";
    EXPECT_FALSE(ups->events[0].isARepeat);
    EXPECT_TRUE(ups->events[1].isARepeat);
    send(QEvent::KeyRelease);
    EXPECT_EQ(ups->events.size(), 2u) << "held back for a moment";
    // It comes once the pairing time is over, however late a busy machine
    // turns the loop: the wait counts turns, so it cannot end before the last one.
    testsupport::waitFor([&] { return ups->events.size() >= 3; }, 5000, 10);
    ASSERT_EQ(ups->events.size(), 3u);
    EXPECT_EQ(ups->events[2].type, EventType::KeyUp);
}

TEST(ViewAppearance, ATurnBetweenLightAndDarkIsReportedOnce) {
    struct Watcher : View {
        using View::View;
        int changes = 0;
        bool darkSeen = false;
        void viewDidChangeEffectiveAppearance() override {
            ++changes;
            darkSeen = isDarkAppearance();
        }
    };
    Window win({0, 0, 100, 100}, WindowStyle::Titled);
    auto v = std::make_shared<Watcher>(Rect{0, 0, 50, 50});
    win.contentView()->addSubview(v);
    // Palettes reach views from above, from the application's theme or a
    // window's own; the content view stands for both here.
    QWidget* above = widget(*win.contentView());
    const QPalette original = above->palette();
    const bool startDark = v->isDarkAppearance();
    auto themed = [&](bool dark, QColor text) {
        QPalette p = original;
        p.setColor(QPalette::Window, dark ? QColor(30, 30, 30) : QColor(240, 240, 240));
        p.setColor(QPalette::WindowText, text);
        return p;
    };
    above->setPalette(themed(!startDark, Qt::gray));
    EXPECT_EQ(v->changes, 1);
    EXPECT_EQ(v->darkSeen, !startDark);
    above->setPalette(themed(!startDark, Qt::red));  // same appearance, other colours
    EXPECT_EQ(v->changes, 1);
    above->setPalette(themed(startDark, Qt::red));
    EXPECT_EQ(v->changes, 2);
    EXPECT_EQ(v->darkSeen, startDark);
}
