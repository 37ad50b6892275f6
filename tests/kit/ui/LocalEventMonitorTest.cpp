// Local monitors see events at the window before the views, and may consume them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#include "kit/ui/LocalEventMonitor.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"
#include "kit/ui/qt/WindowPrivate.h"

using namespace kit;

namespace {

class Sink : public View {
public:
    using View::View;
    std::vector<Event> got;
    void keyDown(const Event& e) override { got.push_back(e); }
    void mouseDown(const Event& e) override { got.push_back(e); }
    bool acceptsFirstResponder() const override { return true; }
};

}  // namespace

TEST(LocalEventMonitor, SeesKeysFirstAndCanConsumeThem) {
    Window win({0, 0, 200, 100}, WindowStyle::Titled);
    auto sink = std::make_shared<Sink>(Rect{0, 0, 200, 100});
    win.contentView()->addSubview(sink);
    win.makeKeyAndOrderFront();
    win.makeFirstResponder(sink.get());
    QApplication::processEvents();
    QWindow* handle = qt::windowWidget(win)->windowHandle();
    ASSERT_NE(handle, nullptr);

    std::vector<Event> seen;
    auto token = LocalEventMonitor::add(
        LocalEventMonitor::Mask::KeyDown | LocalEventMonitor::Mask::LeftMouseDown, [&](const Event& e) {
            seen.push_back(e);
            return e.keyCode != KeyCode::Escape;  // swallow Escape
        });
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, 23, 0, 0, "\t");
    QApplication::sendEvent(handle, &tab);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 9, 0, 0, QString(QChar(27)));
    QApplication::sendEvent(handle, &esc);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].keyCode, KeyCode::Tab);
    EXPECT_EQ(seen[0].window, &win);
    ASSERT_EQ(sink->got.size(), 1u) << "Escape was consumed";
    EXPECT_EQ(sink->got[0].keyCode, KeyCode::Tab);

    // A click: the monitor sees it y-up in the window, and the view's click
    // count is not disturbed by the look.
    QPointF at(30, 20);
    for (int i = 0; i < 2; ++i) {
        QMouseEvent press(QEvent::MouseButtonPress, at, handle->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, handle->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &release);
    }
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].type, EventType::LeftMouseDown);
    EXPECT_EQ(seen[2].locationInWindow, (Point{30, 80}));
    ASSERT_EQ(sink->got.size(), 3u);
    EXPECT_EQ(sink->got[1].clickCount, 1);
    EXPECT_EQ(sink->got[2].clickCount, 2);
    EXPECT_EQ(seen[3].clickCount, 2) << "the monitor sees the count the view will get";

    LocalEventMonitor::remove(token);
    QApplication::sendEvent(handle, &esc);
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(sink->got.size(), 4u) << "without the monitor Escape reaches the view";
    win.orderOut();
}
