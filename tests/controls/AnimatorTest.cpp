#include <gtest/gtest.h>

#include "controls/Animator.h"
#include "controls/CtrlTooltippedSegments.h"
#include "kit/base/Timer.h"
#include "kit/draw/Animation.h"
#include "kit/ui/SegmentedControl.h"

using namespace controls;

namespace {

class AnimatorTest : public ::testing::Test {
protected:
    AnimatorTest() { Animator::lastShowTime = 0; }

    std::shared_ptr<kit::View> hiddenView() {
        auto v = kit::View::make({0, 0, 40, 20});
        v->setHidden(true);
        return v;
    }
    void advance(double s) {
        clock.advance(s);
        kit::Animator::tick();
    }

    kit::ManualClockScope clock{100, 1.7e9};
};

}  // namespace

TEST_F(AnimatorTest, ShowingAVisibleViewOnlyRestoresOpacity) {
    auto v = kit::View::make({0, 0, 40, 20});
    v->layer()->setOpacity(0.3);
    Animator::show(*v, 0, false);
    EXPECT_EQ(v->layer()->opacity(), 1.0);
    EXPECT_EQ(Animator::state(*v), "showing");
    EXPECT_TRUE(v->layer()->animationKeys().empty());
    EXPECT_EQ(Animator::lastShowTime, 0);
}

TEST_F(AnimatorTest, OnlyTheFirstShowWithinTheClockPops) {
    auto first = hiddenView(), second = hiddenView();
    Animator::show(*first, 0, false);
    EXPECT_FALSE(first->isHidden());
    EXPECT_TRUE(first->layer()->hasAnimation("transform"));
    EXPECT_TRUE(first->layer()->hasAnimation("opacity"));
    EXPECT_EQ(first->layer()->opacity(), 0);
    advance(0.05);
    EXPECT_EQ(first->layer()->opacity(), 0);  // half of 0.15 not reached
    advance(0.05);
    EXPECT_EQ(first->layer()->opacity(), 1);

    advance(0.2);  // 0.3 s after the first show
    Animator::show(*second, 0, false);
    advance(0);
    EXPECT_EQ(second->layer()->opacity(), 1);  // at once: no pop

    advance(0.8);
    auto third = hiddenView();
    Animator::show(*third, 0, false);
    advance(0.05);
    EXPECT_EQ(third->layer()->opacity(), 0);  // the clock ran out: pops again
}

TEST_F(AnimatorTest, KeepClockDoesNotSwallowTheNextPop) {
    auto a = hiddenView(), b = hiddenView();
    Animator::show(*a, 0, true);
    Animator::show(*b, 0, false);
    advance(0.05);
    EXPECT_EQ(b->layer()->opacity(), 0);
    advance(0.1);
    EXPECT_EQ(a->layer()->opacity(), 1);
    EXPECT_EQ(b->layer()->opacity(), 1);
}

TEST_F(AnimatorTest, HideThenShowEndsVisible) {
    // Pop-in animated and not: the unanimated show used to be undone by the
    // hide's late opacity step.
    for (double sinceLastShow : {5.0, 0.1}) {
        auto v = kit::View::make({0, 0, 40, 20});
        Animator::lastShowTime = kit::wallNow() - sinceLastShow;
        Animator::hide(*v, 0);
        EXPECT_EQ(Animator::state(*v), "hiding");
        advance(0.02);
        Animator::show(*v, 0, false);
        advance(0.5);
        EXPECT_FALSE(v->isHidden()) << sinceLastShow;
        EXPECT_EQ(v->layer()->opacity(), 1) << sinceLastShow;
        EXPECT_EQ(Animator::state(*v), "showing");
    }
}

TEST_F(AnimatorTest, HideRunsToHidden) {
    auto v = kit::View::make({0, 0, 40, 20});
    Animator::hide(*v, 0.1);
    advance(0.14);
    EXPECT_EQ(v->layer()->opacity(), 1);
    advance(0.01);
    EXPECT_FALSE(v->isHidden());
    EXPECT_EQ(v->layer()->opacity(), 0);
    advance(0.05);
    EXPECT_TRUE(v->isHidden());
    EXPECT_EQ(v->layer()->opacity(), 1);  // ready for the next show
    EXPECT_EQ(Animator::state(*v), "hidden");
}

TEST_F(AnimatorTest, HideDuringDelayedShowWins) {
    auto v = hiddenView();
    Animator::show(*v, 0.5, false);
    advance(0.2);
    Animator::hide(*v, 0);
    advance(1.0);
    EXPECT_TRUE(v->isHidden());
    // The view was still hidden when the hide came: the word is "hiding",
    // and the show's late completion was refused.
    EXPECT_EQ(Animator::state(*v), "hiding");

    // Hiding what is already hidden changes nothing but the word: "hiding".
    auto still = hiddenView();
    still->layer()->setOpacity(0.4);
    Animator::hide(*still, 0);
    EXPECT_EQ(Animator::state(*still), "hiding");
    advance(1.0);
    EXPECT_TRUE(still->isHidden());
    EXPECT_EQ(still->layer()->opacity(), 0.4);
    EXPECT_EQ(Animator::state(*still), "hiding");
    // A show afterwards still shows it.
    Animator::show(*still, 0, false);
    advance(1.0);
    EXPECT_FALSE(still->isHidden());
}

TEST_F(AnimatorTest, DelayedShowCompletes) {
    auto v = hiddenView();
    Animator::show(*v, 0.5, false);
    advance(0.4);
    EXPECT_TRUE(v->isHidden());
    advance(0.2);
    EXPECT_FALSE(v->isHidden());
    EXPECT_EQ(v->layer()->opacity(), 1);
    EXPECT_EQ(Animator::state(*v), "shown");

    auto later = hiddenView();
    Animator::delay(*later, 0.3);
    advance(0.3);
    EXPECT_FALSE(later->isHidden());
    EXPECT_EQ(Animator::state(*later), "shown");
}

TEST_F(AnimatorTest, SegmentsShowWithoutLayerAnimations) {
    auto seg = std::make_shared<CtrlTooltippedSegments>(kit::Rect{0, 0, 60, 20});
    seg->setHidden(true);
    Animator::show(*seg, 0, false);
    EXPECT_FALSE(seg->isHidden());
    EXPECT_TRUE(seg->layer()->animationKeys().empty());
    advance(0.2);
    EXPECT_EQ(seg->layer()->opacity(), 1);

    // The platform's segmented control is one too (shown when a pop would be due).
    advance(1.0);
    auto plain = std::make_shared<kit::SegmentedControl>(kit::Rect{0, 0, 60, 20});
    plain->setHidden(true);
    Animator::show(*plain, 0, false);
    EXPECT_FALSE(plain->isHidden());
    EXPECT_TRUE(plain->layer()->animationKeys().empty());
}

TEST_F(AnimatorTest, StepsOfAViewThatIsGoneDoNothing) {
    auto v = hiddenView();
    const kit::View* address = v.get();
    Animator::show(*v, 0.2, false);
    v.reset();
    advance(1.0);  // must not touch freed memory
    EXPECT_EQ(clock.clock().pendingCount(), 0u);
    (void)address;
}
