#include <gtest/gtest.h>

#include "controls/CtrlHelper.h"
#include "kit/base/Timer.h"
#include "kit/draw/Animation.h"
#include "kit/ui/Window.h"

using namespace controls;

namespace {

class CtrlHelperTest : public ::testing::Test {
protected:
    CtrlHelperTest() {
        CtrlHelper::setCursorUpdating = [this](bool on) { cursorUpdates.push_back(on); };
    }
    ~CtrlHelperTest() override { CtrlHelper::setCursorUpdating = nullptr; }

    std::shared_ptr<CtrlHelper> bubble(double showDelay, double animation, bool transient = true) {
        auto b = std::make_shared<CtrlHelper>(kit::Rect{10, 10, 120, 40});
        b->showDelay = showDelay;
        b->animation = animation;
        b->transient = transient;
        b->awake();
        return b;
    }
    void advance(double s) {
        clock.advance(s);
        kit::Animator::tick();
    }

    kit::ManualClockScope clock;
    std::vector<bool> cursorUpdates;
};

}  // namespace

TEST_F(CtrlHelperTest, DelayedShowRunsOneTimerThenAppears) {
    auto b = bubble(0.3, 0.15);
    b->show();
    b->show();
    EXPECT_EQ(b->state, "showing");
    EXPECT_TRUE(b->isHidden());
    EXPECT_EQ(clock.clock().pendingCount(), 1u);
    advance(0.3);
    EXPECT_FALSE(b->isHidden());
    EXPECT_EQ(b->state, "showing");
    EXPECT_EQ(b->layer()->opacity(), 0);
    EXPECT_TRUE(b->layer()->hasAnimation("transform"));
    advance(0.075);
    EXPECT_EQ(b->layer()->opacity(), 1);
    advance(0.075);
    EXPECT_EQ(b->state, "visible");
}

TEST_F(CtrlHelperTest, NoDelayNoAnimationIsVisibleAtOnce) {
    auto b = bubble(0, 0);
    b->show();
    EXPECT_EQ(b->state, "visible");
    EXPECT_FALSE(b->isHidden());
    EXPECT_EQ(b->layer()->opacity(), 1);
}

TEST_F(CtrlHelperTest, HideWhileAppearingHidesAtOnceAndStaysHidden) {
    auto b = bubble(0, 0.15);
    b->show();
    advance(0.05);
    b->hide();
    EXPECT_TRUE(b->isHidden());
    EXPECT_EQ(b->state, "hidden");
    EXPECT_TRUE(b->layer()->animationKeys().empty());
    advance(0.5);
    EXPECT_EQ(b->state, "hidden");  // the late "visible" step stood down
    EXPECT_EQ(b->layer()->opacity(), 1);
}

TEST_F(CtrlHelperTest, ShowDuringFadeOut) {
    // No show delay: the fade runs to its end.
    auto quick = bubble(0, 0.15);
    quick->show();
    advance(0.2);
    quick->hide();
    EXPECT_EQ(quick->state, "hiding");
    advance(0.05);
    quick->show();
    advance(0.5);
    EXPECT_TRUE(quick->isHidden());
    EXPECT_EQ(quick->state, "hidden");
    EXPECT_EQ(quick->layer()->opacity(), 1);

    // With a show delay: snaps back to fully visible.
    auto slow = bubble(0.2, 0.15);
    slow->show();
    advance(0.6);
    ASSERT_EQ(slow->state, "visible");
    slow->hide();
    advance(0.12);
    EXPECT_EQ(slow->layer()->opacity(), 0);
    slow->show();
    EXPECT_EQ(slow->state, "visible");
    EXPECT_EQ(slow->layer()->opacity(), 1);
    advance(1.0);
    EXPECT_FALSE(slow->isHidden());
    EXPECT_EQ(slow->state, "visible");
}

TEST_F(CtrlHelperTest, HideNowAndResync) {
    auto b = bubble(0.3, 0.15);
    b->show();
    b->hideNow();
    EXPECT_EQ(b->state, "hidden");
    advance(1.0);
    EXPECT_TRUE(b->isHidden());  // the pending show timer was cancelled

    auto v = bubble(0, 0);
    v->show();
    v->setHidden(true);  // hidden behind its back
    v->show();
    EXPECT_FALSE(v->isHidden());
    EXPECT_EQ(v->state, "visible");
}

TEST_F(CtrlHelperTest, MuteAndUnmute) {
    auto b = bubble(0, 0);
    b->mute();
    EXPECT_TRUE(b->isHidden());
    EXPECT_EQ(b->layer()->opacity(), 1);
    b->show();
    EXPECT_FLOAT_EQ(b->layer()->opacity(), 0.35);

    b->muteTimer = kit::Timer::once(5, [b] { b->mute(); });
    b->unmute();
    EXPECT_EQ(b->layer()->opacity(), 1);
    EXPECT_FALSE(b->muteTimer.isValid());
    advance(6);
    EXPECT_EQ(b->layer()->opacity(), 1);

    b->muteTimer = kit::Timer::once(2, [b] { b->mute(); });
    advance(2);
    EXPECT_FLOAT_EQ(b->layer()->opacity(), 0.35);
}

TEST_F(CtrlHelperTest, MutedBubbleDimsItsContentToo) {
    auto b = bubble(0, 0);
    auto content = kit::View::make({20, 10, 40, 20});
    content->layer()->setBackgroundColor(kit::Color::rgb(255, 0, 0));
    b->addSubview(content);
    b->mute();
    b->show();
    kit::Image shot = b->snapshot(1);
    ASSERT_FALSE(shot.isNull());
    // The red read-out is dimmed with the background: the light curtain shows through it.
    EXPECT_GT(shot.pixel(40, 20).g, 40);
    EXPECT_LT(shot.pixel(40, 20).a, 230);
    b->unmute();
    auto px = b->snapshot(1).pixel(40, 20);
    EXPECT_EQ(px.g, 0);
    EXPECT_EQ(px.a, 255);
}

TEST_F(CtrlHelperTest, TransientBubbleHidesOnClicksOutside) {
    kit::Window window({200, 200, 300, 200}, kit::WindowStyle::Titled);
    kit::Window other({600, 200, 300, 200}, kit::WindowStyle::Titled);
    auto holder = kit::View::make({100, 50, 180, 100});
    window.contentView()->addSubview(holder);
    auto b = bubble(0, 0);
    holder->addSubview(b);  // at (10, 10) in the holder: (110, 60) in the window
    b->show();
    auto click = [](kit::Window* w, kit::Point p) {
        kit::Event e;
        e.type = kit::EventType::LeftMouseDown;
        e.window = w;
        e.locationInWindow = p;
        return e;
    };
    b->handleClick(click(&window, {150, 80}));
    EXPECT_EQ(b->state, "visible");
    // Inside the bubble's frame as the holder sees it, yet outside in the window.
    b->handleClick(click(&window, {20, 20}));
    EXPECT_EQ(b->state, "hidden");

    b->show();
    b->handleClick(click(&other, {150, 80}));  // same place, another window
    EXPECT_EQ(b->state, "hidden");

    auto steady = bubble(0, 0, false);
    window.contentView()->addSubview(steady);
    steady->show();
    EXPECT_FALSE(steady->monitor.has_value());
    EXPECT_TRUE(b->monitor.has_value());
    b->removeMonitor();
    EXPECT_FALSE(b->monitor.has_value());
}

TEST_F(CtrlHelperTest, CursorUpdatesComeBackWhenTheBubbleGoesAway) {
    auto b = bubble(0, 0.15);
    // Enter and exit come from one area over the bubble, there from the start.
    ASSERT_EQ(b->trackingAreas().size(), 1u);
    EXPECT_EQ(b->trackingAreas()[0].rect, b->bounds());
    EXPECT_TRUE(b->trackingAreas()[0].options & kit::TrackingOption::MouseEnteredAndExited);
    b->show();
    b->mouseEntered({});
    EXPECT_EQ(cursorUpdates, (std::vector<bool>{false}));
    b->mouseExited({});
    EXPECT_EQ(cursorUpdates, (std::vector<bool>{false, true}));

    // Hidden under the pointer: no exit event arrives, yet updates resume.
    advance(0.5);
    b->mouseEntered({});
    b->hide();
    advance(0.5);
    EXPECT_TRUE(b->isHidden());
    ASSERT_EQ(cursorUpdates.size(), 4u);
    EXPECT_EQ(cursorUpdates.back(), true);

    b->show();
    advance(0.5);
    b->mouseEntered({});
    b.reset();
    EXPECT_EQ(cursorUpdates.back(), true);
}

TEST_F(CtrlHelperTest, LookFollowsAppearance) {
    auto b = bubble(0, 0);
    ASSERT_TRUE(b->vCurtain && b->vEffect);
    EXPECT_EQ(b->vCurtain->frame(), (kit::Rect{1, 1, 118, 38}));
    EXPECT_EQ(b->layer()->cornerRadius(), 8.5);
    EXPECT_EQ(b->layer()->borderWidth(), 1.0);
    bool dark = b->isDarkAppearance();
    EXPECT_DOUBLE_EQ(b->vCurtain->layer()->backgroundColor()->a, 0.7);
    EXPECT_DOUBLE_EQ(b->vCurtain->layer()->borderColor().a, dark ? 0.25 : 1.0);
    EXPECT_DOUBLE_EQ(b->layer()->borderColor().a, dark ? 0.01 : 0.08);
    // The background views sit beneath the content.
    EXPECT_EQ(b->subviews().front(), b->vEffect);
}

TEST_F(CtrlHelperTest, HideWithoutAnimationAndHideOfAHiddenView) {
    auto b = bubble(0, 0);
    b->show();
    b->hide();  // D = 0: at once
    EXPECT_TRUE(b->isHidden());
    EXPECT_EQ(b->state, "hidden");

    auto pending = bubble(0.5, 0.15);
    pending->show();
    pending->hide();  // the view is still hidden: only the word changes, the timer goes
    EXPECT_EQ(pending->state, "hidden");
    advance(1.0);
    EXPECT_TRUE(pending->isHidden());
    EXPECT_EQ(pending->state, "hidden");
}
