#include <gtest/gtest.h>

#include "controls/CtrlButton.h"
#include "controls/CtrlButtonHover.h"
#include "controls/CtrlColorButton.h"
#include "controls/CtrlRadioImage.h"

using namespace controls;

namespace {

kit::Image solid(int w, int h, uint8_t shade) {
    kit::Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, {shade, shade, shade, 255});
    return img;
}

kit::Event mouseAt(kit::EventType type, kit::Point p) {
    kit::Event e;
    e.type = type;
    e.locationInWindow = p;
    return e;
}

}  // namespace

TEST(CtrlButton, ColoursFollowTheMouseState) {
    auto b = std::make_shared<CtrlButton>(kit::Rect{0, 0, 80, 24});
    b->backgroundColor = kit::Color::rgb(10, 20, 30);
    b->backgroundColorHover = kit::Color::rgb(40, 50, 60);
    b->backgroundColorPressed = kit::Color::rgb(70, 80, 90);
    b->borderColor = kit::Color::rgb(200, 0, 0);
    b->borderWidth = 1;
    b->textColor = kit::Color::rgb(0, 0, 255);
    b->setTitle("Copy");
    b->updateAppearance();
    const auto& l = b->layer();
    EXPECT_EQ(l->backgroundColor(), kit::Color::rgb(10, 20, 30));
    EXPECT_EQ(l->borderColor(), kit::Color::rgb(200, 0, 0));
    EXPECT_EQ(l->cornerRadius(), 4.0);

    b->mouseEntered({});
    EXPECT_EQ(b->mouseState, "hover");
    EXPECT_EQ(l->backgroundColor(), kit::Color::rgb(40, 50, 60));

    int clicks = 0;
    b->action = [&](ButtonBase&) { ++clicks; };
    b->mouseDown(mouseAt(kit::EventType::LeftMouseDown, {10, 10}));
    EXPECT_EQ(b->mouseState, "pressed");
    EXPECT_EQ(l->backgroundColor(), kit::Color::rgb(70, 80, 90));
    EXPECT_EQ(clicks, 0);  // acts on release
    b->mouseUp(mouseAt(kit::EventType::LeftMouseUp, {12, 10}));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(b->mouseState, "normal");
    // The released button looks normal again, not pressed.
    EXPECT_EQ(l->backgroundColor(), kit::Color::rgb(10, 20, 30));

    b->mouseExited({});
    EXPECT_EQ(l->backgroundColor(), kit::Color::rgb(10, 20, 30));

    // A release outside does not act.
    b->mouseDown(mouseAt(kit::EventType::LeftMouseDown, {10, 10}));
    b->mouseUp(mouseAt(kit::EventType::LeftMouseUp, {120, 10}));
    EXPECT_EQ(clicks, 1);

    // A disabled button neither acts nor keeps the pressed look.
    b->setEnabled(false);
    b->mouseDown(mouseAt(kit::EventType::LeftMouseDown, {10, 10}));
    b->mouseUp(mouseAt(kit::EventType::LeftMouseUp, {10, 10}));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(b->mouseState, "normal");
    EXPECT_EQ(l->backgroundColor(), kit::Color::rgb(10, 20, 30));
}

TEST(CtrlButton, ImagesPerState) {
    auto b = std::make_shared<CtrlButton>(kit::Rect{0, 0, 40, 40});
    kit::Image main = solid(10, 10, 10), hover = solid(10, 10, 200), other = solid(10, 10, 90);
    b->setImage(main);
    b->viewDidMoveToWindow();  // takes the image as its own
    b->mouseEntered({});
    EXPECT_EQ(b->image(), main);  // no hover image: the current one stays
    b->imageHover = hover;
    b->updateAppearance();
    EXPECT_EQ(b->image(), hover);
    b->mouseExited({});
    EXPECT_EQ(b->image(), main);

    // An image set in code is replaced by the button's own at the next redraw.
    b->setImage(other);
    EXPECT_EQ(b->image(), main);

    // An unknown state word: radius and border width apply, colours stay.
    b->layer()->setBackgroundColor(kit::Color::rgb(1, 2, 3));
    b->mouseState = "dragging";
    b->cornerRadius = 9;
    b->borderWidth = 2;
    b->updateAppearance();
    EXPECT_EQ(b->layer()->cornerRadius(), 9);
    EXPECT_EQ(b->layer()->borderWidth(), 2);
    EXPECT_EQ(b->layer()->backgroundColor(), kit::Color::rgb(1, 2, 3));
}

TEST(CtrlButtonHover, SwapsImagesAndFiresOnPress) {
    auto b = std::make_shared<CtrlButtonHover>(kit::Rect{0, 0, 32, 32});
    kit::Image normal = solid(20, 20, 30), lit = solid(20, 20, 220);
    b->normalImage = normal;
    b->hoverImage = lit;
    b->setImage(normal);
    b->mouseEntered({});
    EXPECT_EQ(b->image(), lit);
    b->mouseExited({});
    EXPECT_EQ(b->image(), normal);
    int fired = 0;
    b->action = [&](ButtonBase&) { ++fired; };
    b->mouseDown(mouseAt(kit::EventType::LeftMouseDown, {5, 5}));
    EXPECT_EQ(fired, 1);
    b->mouseUp(mouseAt(kit::EventType::LeftMouseUp, {500, 500}));
    EXPECT_EQ(fired, 1);
    // Drawn at its own size, centred.
    auto frames = b->layer()->sublayers();
    bool centred = false;
    for (auto& s : frames)
        if (!s->isHidden() && s->frame() == kit::Rect(6, 6, 20, 20)) centred = true;
    EXPECT_TRUE(centred);
}

TEST(CtrlColorButton, SelectedRingOnlyWhenTogglable) {
    auto b = std::make_shared<CtrlColorButton>(kit::Rect{0, 0, 24, 24});
    b->backgroundColor = kit::Color::rgb(255, 0, 0);
    b->setState(1);
    b->repaint();
    EXPECT_EQ(b->layer()->borderWidth(), 0.5);
    EXPECT_TRUE(b->linner->isHidden());
    EXPECT_EQ(b->layer()->cornerRadius(), 6.0);

    b->togglable = true;
    b->repaint();
    EXPECT_EQ(b->layer()->borderWidth(), 1.5);
    EXPECT_FALSE(b->linner->isHidden());
    EXPECT_FALSE(b->linner2->isHidden());
    EXPECT_EQ(b->linner->frame(), (kit::Rect{1.5, 1.5, 21, 21}));
    EXPECT_EQ(b->linner2->frame(), (kit::Rect{3, 3, 18, 18}));

    b->setHighlighted(true);
    auto fill = *b->layer()->backgroundColor();
    EXPECT_DOUBLE_EQ(fill.r, 0.8);
    EXPECT_DOUBLE_EQ(fill.g, 0);
    b->setHighlighted(false);
    EXPECT_EQ(b->layer()->backgroundColor(), kit::Color::rgb(255, 0, 0));
    // Sublayers are made once.
    size_t count = b->layer()->sublayers().size();
    b->repaint();
    EXPECT_EQ(b->layer()->sublayers().size(), count);
}

TEST(CtrlRadioImage, GradientStopsAndChosenLook) {
    EXPECT_EQ(CtrlRadioImage::completedStops(2, {}), (std::vector<double>{0.0, 1.0}));
    EXPECT_EQ(CtrlRadioImage::completedStops(2, {0.5}), (std::vector<double>{0.0, 0.5}));
    EXPECT_EQ(CtrlRadioImage::completedStops(3, {}), (std::vector<double>{0.0, 1.0}));
    EXPECT_EQ(CtrlRadioImage::completedStops(2, {0.2, 0.7}), (std::vector<double>{0.2, 0.7}));

    auto t = std::make_shared<CtrlRadioImage>(kit::Rect{0, 0, 40, 30});
    t->repaint();
    EXPECT_TRUE(t->gradient->isHidden());
    t->gradColors = {kit::Color::rgb(255, 0, 0), kit::Color::rgb(0, 0, 255)};
    t->gradStops = {0.5};
    t->setState(1);
    t->repaint();
    EXPECT_FALSE(t->gradient->isHidden());
    EXPECT_EQ(t->gradient->locations(), (std::vector<double>{0.0, 0.5}));
    EXPECT_EQ(t->gradient->frame(), (kit::Rect{0, 0, 40, 30}));
    EXPECT_EQ(t->layer()->borderWidth(), 2.0);
    EXPECT_FALSE(t->linner->isHidden());

    // Three colours with two stops would leave one colour without a place.
    t->gradColors.push_back(kit::Color::rgb(0, 255, 0));
    t->gradStops = {};
    t->repaint();
    EXPECT_TRUE(t->gradient->locations().empty());

    t->setHighlighted(true);
    EXPECT_DOUBLE_EQ(t->lshading->backgroundColor()->a, 0.2);
    t->setState(0);
    EXPECT_EQ(t->layer()->borderWidth(), 1.0);
    EXPECT_TRUE(t->linner2->isHidden());
    // Order from the bottom: gradient, linner, linner2, shading on top.
    auto subs = t->layer()->sublayers();
    EXPECT_EQ(subs.back(), t->lshading);
}
