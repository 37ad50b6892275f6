#include <gtest/gtest.h>

#include "kit/base/Timer.h"
#include "kit/draw/Animation.h"
#include "kit/draw/Layer.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/draw/ShapeLayer.h"

using namespace kit;

namespace {

Animation opacityAnim(double from, double to, double duration, TimingFunction tf = TimingFunction::linear()) {
    Animation a;
    a.keyPath = "opacity";
    a.fromValue = from;
    a.toValue = to;
    a.duration = duration;
    a.timingFunction = tf;
    return a;
}

double shownOpacity(const Layer& l) {
    return l.presented("opacity", l.opacity());
}

}  // namespace

TEST(TimingFunction, CurvesAndOvershoot) {
    EXPECT_DOUBLE_EQ(TimingFunction::linear().valueAt(0.3), 0.3);
    for (auto tf : {TimingFunction::easeIn(), TimingFunction::easeOut(), TimingFunction::easeInEaseOut(),
                    TimingFunction::defaultCurve()}) {
        EXPECT_EQ(tf.valueAt(0), 0);
        EXPECT_EQ(tf.valueAt(1), 1);
        EXPECT_EQ(tf.valueAt(-2), 0);  // clamped time
        double prev = 0;
        for (int i = 1; i <= 20; ++i) {  // monotonic
            double v = tf.valueAt(i / 20.0);
            EXPECT_GE(v, prev - 1e-9);
            prev = v;
        }
    }
    EXPECT_LT(TimingFunction::easeIn().valueAt(0.5), 0.4);
    EXPECT_GT(TimingFunction::easeOut().valueAt(0.5), 0.6);
    EXPECT_NEAR(TimingFunction::easeInEaseOut().valueAt(0.5), 0.5, 1e-6);
    // A custom curve may pass beyond 1 before settling.
    auto pop = TimingFunction::custom(0.465, 1.6, 0.69, 1.0);
    double peak = 0;
    for (int i = 0; i <= 100; ++i) peak = std::max(peak, pop.valueAt(i / 100.0));
    EXPECT_GT(peak, 1.05);
}

TEST(Animation, StartMiddleEndAndOneCompletion) {
    ManualClockScope clock(100);
    auto l = Layer::make();
    l->setOpacity(1);
    int calls = 0;
    bool finished = false;
    Animation a = opacityAnim(0, 1, 2, TimingFunction::easeIn());
    a.completion = [&](bool f) {
        ++calls;
        finished = f;
    };
    l->addAnimation(a, "fade");
    EXPECT_EQ(l->opacity(), 1);  // the model value is not touched
    EXPECT_DOUBLE_EQ(shownOpacity(*l), 0);
    EXPECT_TRUE(l->hasAnimation("fade"));
    EXPECT_EQ(Animator::runningCount(), 1);

    clock.advance(1);  // the ticker steps on the manual clock…
    Animator::tick();  // …at 60 Hz; one more step lands exactly on the time
    EXPECT_NEAR(shownOpacity(*l), TimingFunction::easeIn().valueAt(0.5), 1e-9);

    clock.advance(1.5);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(l->hasAnimation("fade"));
    EXPECT_EQ(shownOpacity(*l), 1);
    EXPECT_EQ(Animator::runningCount(), 0);
    clock.advance(1);
    EXPECT_EQ(calls, 1);
}

TEST(Animation, KeptEndValueReplacementAndRemoval) {
    ManualClockScope clock;
    auto l = Layer::make();
    int done = 0, cut = 0;
    Animation keep = opacityAnim(1, 0.25, 0.5);
    keep.removedOnCompletion = false;
    keep.completion = [&](bool f) { (f ? done : cut)++; };
    l->addAnimation(keep, "k");
    clock.advance(1);
    EXPECT_EQ(done, 1);
    EXPECT_DOUBLE_EQ(shownOpacity(*l), 0.25);  // stays at the end value…
    EXPECT_EQ(Animator::runningCount(), 0);    // …without keeping the ticker busy
    EXPECT_TRUE(l->hasAnimation("k"));
    l->removeAnimation("k");
    EXPECT_EQ(cut, 0);  // it had finished already
    EXPECT_EQ(shownOpacity(*l), 1);

    // Adding under a used key ends the old one as not finished.
    Animation first = opacityAnim(0, 1, 1);
    first.completion = [&](bool f) { (f ? done : cut)++; };
    l->addAnimation(first, "k");
    l->addAnimation(opacityAnim(0.5, 0.5, 1), "k");
    EXPECT_EQ(cut, 1);
    EXPECT_DOUBLE_EQ(shownOpacity(*l), 0.5);
    l->removeAllAnimations();
    EXPECT_TRUE(l->animationKeys().empty());
}

TEST(Animation, DelayedBeginShowsTheModelUntilThen) {
    ManualClockScope clock(10);
    auto l = Layer::make();
    l->setOpacity(0.8);
    Animation a = opacityAnim(0, 1, 1);
    a.beginTime = mediaTime() + 0.5;
    l->addAnimation(a, "later");
    EXPECT_DOUBLE_EQ(shownOpacity(*l), 0.8);
    clock.advance(0.75);
    Animator::tick();
    EXPECT_NEAR(shownOpacity(*l), 0.25, 1e-9);
}

TEST(Animation, PathsTweenPointByPointOrSwitchHalfway) {
    ManualClockScope clock;
    auto sh = ShapeLayer::make();
    Animation a;
    a.keyPath = "path";
    a.fromValue = Path::rect({0, 0, 10, 10});
    a.toValue = Path::rect({0, 0, 20, 30});
    a.duration = 1;
    sh->addAnimation(a, "p");
    clock.advance(0.5);
    Animator::tick();
    Rect mid = sh->presented("path", sh->path()).bounds();
    EXPECT_NEAR(mid.width(), 15, 1e-9);
    EXPECT_NEAR(mid.height(), 20, 1e-9);

    a.toValue = Path::ellipse({0, 0, 40, 40});  // other elements: no point-wise tween
    sh->addAnimation(a, "p");
    clock.advance(0.25);
    EXPECT_NEAR(sh->presented("path", sh->path()).bounds().width(), 10, 1e-9);
    clock.advance(0.5);
    EXPECT_NEAR(sh->presented("path", sh->path()).bounds().width(), 40, 1e-9);

    // A key the layer does not have, or a value of the wrong kind, is ignored.
    Animation bad = opacityAnim(0, 1, 1);
    bad.keyPath = "noSuchKey";
    sh->addAnimation(bad, "bad");
    bad.keyPath = "path";
    sh->addAnimation(bad, "bad");
    EXPECT_FALSE(sh->hasAnimation("bad"));
}

TEST(Animation, RendererDrawsThePresentedValue) {
    ManualClockScope clock;
    auto r = Layer::make();
    r->setBounds({0, 0, 10, 10});
    auto l = Layer::make();
    l->setFrame({0, 0, 10, 10});
    l->setBackgroundColor(Color::black());
    r->addSublayer(l);
    Animation move;
    move.keyPath = "position";
    move.fromValue = Point{-5, 5};  // half outside to the left
    move.toValue = Point{15, 5};
    move.duration = 1;
    l->addAnimation(move, "m");
    l->addAnimation(opacityAnim(0, 1, 1), "o");
    clock.advance(0.25);  // position (0, 5), opacity 0.25
    Animator::tick();
    Image img = renderToImage(*r, 1);
    EXPECT_NEAR(img.pixel(2, 5).a, 64, 2);
    EXPECT_EQ(img.pixel(7, 5).a, 0);
}

TEST(Animation, LayersMayVanishMidAnimation) {
    ManualClockScope clock;
    auto parent = Layer::make();
    {
        auto child = Layer::make();
        parent->addSublayer(child);
        Animation a = opacityAnim(0, 1, 1);
        Layer* raw = child.get();
        a.completion = [raw](bool) { raw->removeFromSuperlayer(); };  // drops the last reference
        child->addAnimation(a, "a");
        auto other = Layer::make();
        other->addAnimation(opacityAnim(0, 1, 5), "b");
    }  // `other` dies while animating
    EXPECT_EQ(Animator::runningCount(), 1);
    clock.advance(2);
    EXPECT_TRUE(parent->sublayers().empty());
    EXPECT_EQ(Animator::runningCount(), 0);
}

TEST(Transaction, NoImplicitAnimationsAndNestedSettings) {
    auto l = Layer::make();
    {
        ScopedTransaction tx(false);
        Transaction::setAnimationDuration(0.15);
        l->setOpacity(0.3);
        l->setPosition({5, 5});
        EXPECT_TRUE(l->animationKeys().empty());  // changes show at once
        EXPECT_DOUBLE_EQ(shownOpacity(*l), 0.3);
        {
            ScopedTransaction inner;
            EXPECT_TRUE(Transaction::disableActions());
            EXPECT_DOUBLE_EQ(Transaction::animationDuration(), 0.15);  // inherited
        }
        EXPECT_FALSE(Transaction::disableActions());
    }
    EXPECT_DOUBLE_EQ(Transaction::animationDuration(), 0.25);
    Transaction::commit();  // an unbalanced commit is harmless
    EXPECT_FALSE(Transaction::disableActions());
}
