#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

#include "kit/desktop/EventMonitor.h"

using kit::EventMonitor;
using kit::MonitorEvent;

TEST(EventMonitor, MasksKindsAndRemoval) {
    int keys = 0, clicks = 0, local = 0;
    auto k = EventMonitor::addGlobal(EventMonitor::KeyDown, [&](const MonitorEvent&) { ++keys; });
    auto c = EventMonitor::addGlobal(EventMonitor::LeftMouseDown | EventMonitor::RightMouseDown,
                                     [&](const MonitorEvent&) { ++clicks; });
    auto l = EventMonitor::addLocal(EventMonitor::KeyDown, [&](const MonitorEvent&) { ++local; });
    EXPECT_NE(k, c);
    EventMonitor::deliver({MonitorEvent::Type::KeyDown, 53, 0}, true);
    EventMonitor::deliver({MonitorEvent::Type::RightMouseDown, -1, 3}, true);
    EventMonitor::deliver({MonitorEvent::Type::OtherMouseDown, -1, 2}, true);
    EventMonitor::deliver({MonitorEvent::Type::KeyDown, 0, 0}, false);
    EXPECT_EQ(keys, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(local, 1);
    EventMonitor::remove(k);
    EventMonitor::remove(c);
    EventMonitor::remove(l);
    EXPECT_EQ(EventMonitor::installedCount(), 0u);
    EventMonitor::deliver({MonitorEvent::Type::KeyDown, 53, 0}, true);
    EXPECT_EQ(keys, 1);
}

TEST(EventMonitor, AHandlerMayRemoveMonitorsWhileEventsAreDelivered) {
    int second = 0;
    EventMonitor::Token b = 0;
    auto a =
        EventMonitor::addGlobal(EventMonitor::KeyDown, [&](const MonitorEvent&) { EventMonitor::remove(b); });
    b = EventMonitor::addGlobal(EventMonitor::KeyDown, [&](const MonitorEvent&) { ++second; });
    EventMonitor::deliver({MonitorEvent::Type::KeyDown, 1, 0}, true);
    EXPECT_EQ(second, 0);
    EventMonitor::remove(a);
    EXPECT_EQ(EventMonitor::installedCount(), 0u);
}

TEST(EventMonitor, LocalMonitorsSeeKeysOfOurWindowsAndPassThemOn) {
    std::vector<int> codes;
    auto t = EventMonitor::addLocal(EventMonitor::KeyDown,
                                    [&](const MonitorEvent& e) { codes.push_back(e.keyCode); });
    QWidget w;
    w.show();
    ASSERT_TRUE(w.windowHandle());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(w.windowHandle(), &esc);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a", true);
    QApplication::sendEvent(w.windowHandle(), &repeat);  // auto-repeat is not a new key-down
    QKeyEvent onWidget(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "b");
    QApplication::sendEvent(&w, &onWidget);  // passed on from the window: already counted there
    EXPECT_EQ(codes, std::vector<int>{53});
    // Other keys carry their positional key code: X keycode 38 is the A key (0),
    // 10 is the 1 key (18).
    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 38, 0, 0, "a");
    QApplication::sendEvent(w.windowHandle(), &a);
    QKeyEvent one(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, 10, 0, 0, "1");
    QApplication::sendEvent(w.windowHandle(), &one);
    EXPECT_EQ(codes, (std::vector<int>{53, 0, 18}));
    EventMonitor::remove(t);
}
