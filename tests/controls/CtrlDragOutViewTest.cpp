#include <gtest/gtest.h>

#include "controls/CtrlDragOutView.h"

using namespace controls;

namespace {

kit::Event mouse(kit::EventType type) {
    kit::Event e;
    e.type = type;
    e.locationInWindow = {5, 5};
    return e;
}

TEST(CtrlDragOutViewTest, TheArrowCornerNeedsMoreThanAHundredPoints) {
    EXPECT_EQ(CtrlDragOutView::arrowCorner({0, 0, 100, 80}).width(), 0);
    kit::Rect corner = CtrlDragOutView::arrowCorner({0, 0, 101, 80});
    EXPECT_EQ(corner, (kit::Rect{0, 65, 15, 15}));
}

TEST(CtrlDragOutViewTest, OnlyADragStartsTheDragAndOnceAPress) {
    int started = 0;
    kit::View* from = nullptr;
    CtrlDragOut::initiate = [&](kit::View& v, const kit::Event&) {
        ++started;
        from = &v;
    };
    auto button = std::make_shared<CtrlDragOut>(kit::Rect{0, 0, 32, 32});
    button->dispatch(mouse(kit::EventType::LeftMouseDown));
    button->dispatch(mouse(kit::EventType::LeftMouseUp));
    EXPECT_EQ(started, 0);
    button->dispatch(mouse(kit::EventType::LeftMouseDown));
    button->dispatch(mouse(kit::EventType::LeftMouseDragged));
    button->dispatch(mouse(kit::EventType::LeftMouseDragged));
    EXPECT_EQ(started, 1);
    EXPECT_EQ(from, button.get());

    auto handle = std::make_shared<CtrlDragOutView>(kit::Rect{0, 0, 120, 80});
    handle->dispatch(mouse(kit::EventType::LeftMouseDown));
    handle->dispatch(mouse(kit::EventType::LeftMouseDragged));
    EXPECT_EQ(started, 2);
    EXPECT_EQ(from, handle.get());
    CtrlDragOut::initiate = {};
}

TEST(CtrlDragOutViewTest, TheTooltipIsTakenOverOnTheFirstMove) {
    auto button = std::make_shared<CtrlDragOut>(kit::Rect{0, 0, 32, 32});
    button->setToolTip("Drag me");
    std::string shown;
    int x = -1;
    button->tooltipCallback = [&](const std::string& t, int at) {
        shown = t;
        x = at;
    };
    kit::Event move = mouse(kit::EventType::MouseMoved);
    move.locationInWindow = {12.5, 3};
    button->mouseMoved(move);
    EXPECT_EQ(shown, "Drag me");
    EXPECT_EQ(x, 13);
    EXPECT_EQ(button->toolTip(), "");
}

}  // namespace
