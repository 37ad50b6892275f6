#include "controls/CtrlHelper.h"

#include "kit/draw/Animation.h"

namespace controls {

std::function<void(bool)> CtrlHelper::setCursorUpdating;

namespace {

// Runs fn with the bubble after `seconds`, unless it is gone by then.
void later(CtrlHelper& bubble, double seconds, std::function<void(CtrlHelper&)> fn) {
    kit::dispatchMainAfter(seconds, [weak = bubble.weak_from_this(), fn = std::move(fn)] {
        if (auto v = weak.lock()) fn(static_cast<CtrlHelper&>(*v));
    });
}

}  // namespace

CtrlHelper::CtrlHelper(const kit::Rect& frame) : kit::View(frame) {
    setHidden(true);
    // A bubble that keeps its first size still needs its area for the pointer.
    CtrlHelper::updateTrackingAreas();
}

CtrlHelper::~CtrlHelper() {
    CtrlHelper::removeMonitor();
    pointerLeft();
}

void CtrlHelper::awake() {
    buildViews();
    if (transient) installMonitor();
    layer()->setShadowColor(kit::Color::white(0, 0.04));
    layer()->setShadowOpacity(1.0);
    layer()->setShadowRadius(5.0);
    layer()->setShadowOffset({0, -1});
}

void CtrlHelper::buildViews() {
    vCurtain = kit::View::make();
    vCurtain->layer()->setBorderWidth(0.5);
    vCurtain->layer()->setCornerRadius(cornerRadius);
    vCurtain->setIgnoresMouse(true);
    addSubview(vCurtain, false, nullptr);
    vEffect = kit::View::make();
    vEffect->layer()->setCornerRadius(cornerRadius);
    vEffect->setIgnoresMouse(true);
    addSubview(vEffect, false, nullptr);
    layout();
    layer()->setCornerRadius(cornerRadius + 0.5);
    layer()->setBorderWidth(1.0);
    applyAppearance();
}

void CtrlHelper::layout() {
    // Both background views keep a one-point inset on every side.
    kit::Rect inner = bounds().insetBy(1, 1);
    if (vCurtain) vCurtain->setFrame(inner);
    if (vEffect) vEffect->setFrame(inner);
}

void CtrlHelper::applyAppearance() {
    bool dark = isDarkAppearance();
    kit::ScopedTransaction tx;
    if (vEffect) {
        // The frosted material: a plain translucent fill of its shade.
        vEffect->layer()->setBackgroundColor(dark ? kit::Color{0.12, 0.12, 0.13, 0.55}
                                                  : kit::Color{0.96, 0.96, 0.96, 0.55});
    }
    if (vCurtain) {
        vCurtain->layer()->setBorderWidth(0.5);
        vCurtain->layer()->setBackgroundColor(dark ? kit::Color{0.17, 0.18, 0.19, opacity}
                                                   : kit::Color::white(1.0, opacity));
        vCurtain->layer()->setBorderColor(kit::Color::white(1.0, dark ? 0.25 : 1.0));
    }
    layer()->setBorderColor(dark ? kit::Color::white(1.0, 0.01) : kit::Color::white(0, 0.08));
}

void CtrlHelper::installMonitor() {
    removeMonitor();
    monitor = kit::LocalEventMonitor::add(kit::LocalEventMonitor::Mask::LeftMouseDown,
                                          [weak = weak_from_this()](const kit::Event& e) {
                                              if (auto v = weak.lock())
                                                  static_cast<CtrlHelper&>(*v).handleClick(e);
                                              return true;  // the click goes on to its target
                                          });
}

void CtrlHelper::removeMonitor() {
    if (!monitor) return;
    kit::LocalEventMonitor::remove(*monitor);
    monitor.reset();
}

void CtrlHelper::handleClick(const kit::Event& e) {
    if (isHiddenOrHasHiddenAncestor()) return;
    // The click's window location, brought into the bubble's own space; a
    // click in another window is outside whatever its coordinates.
    if (e.window && e.window == window() && bounds().contains(convertFrom(e.locationInWindow, nullptr)))
        return;
    hide();
}

void CtrlHelper::mute() {
    targetOpacity = 0.35f;
    if (state == "visible") setBubbleOpacity(targetOpacity);
}

void CtrlHelper::unmute() {
    muteTimer.invalidate();
    muteTimer = kit::Timer();
    targetOpacity = 1.0f;
    if (state == "visible") setBubbleOpacity(targetOpacity);
}

void CtrlHelper::setBubbleOpacity(double value) {
    // The content and background views take the layer's opacity with it, so
    // a muted or fading bubble dims as a whole.
    layer()->setOpacity(value);
}

void CtrlHelper::unhide() {
    bool wasHidden = isHidden();
    setHidden(false);
    if (wasHidden) applyAppearance();
}

void CtrlHelper::setHiddenNow() {
    setHidden(true);
    // No exit event comes for a bubble that vanishes under the pointer.
    pointerLeft();
}

void CtrlHelper::show() {
    if (isHidden() && state == "visible") state = "hidden";
    if (state == "showing" || state == "visible") return;
    if (state == "hiding") {
        if (showDelay < 0.01) return;  // the fade-out runs to its end
        layer()->removeAllAnimations();
        state = "visible";
        unhide();
        setBubbleOpacity(targetOpacity);
        return;
    }
    state = "showing";
    if (showDelay < 0.01) {
        appear();
        return;
    }
    if (tmrShow.isValid()) return;
    tmrShow = kit::Timer::once(isHidden() ? showDelay : 0, [weak = weak_from_this()] {
        auto v = weak.lock();
        if (!v) return;
        auto& bubble = static_cast<CtrlHelper&>(*v);
        if (bubble.state == "showing") bubble.appear();
    });
}

void CtrlHelper::appear() {
    tmrShow.invalidate();
    tmrShow = kit::Timer();
    if (state != "showing") return;
    const auto& l = layer();
    if (animation <= 0.01) {
        state = "visible";
        l->removeAllAnimations();
        setBubbleOpacity(targetOpacity);
        unhide();
        return;
    }
    double a = animation;
    setBubbleOpacity(0);
    later(*this, 0.5 * a, [](CtrlHelper& b) {
        if (b.state == "showing") b.setBubbleOpacity(b.targetOpacity);
    });
    later(*this, a, [](CtrlHelper& b) {
        if (b.state == "showing") b.state = "visible";
    });
    unhide();

    double h = frame().height();
    kit::Animation pop;
    pop.keyPath = "transform";
    pop.duration = a;
    pop.fromValue = kit::AffineTransform::scale(1, 1 - jump)
                        .concat(kit::AffineTransform::translation(0, jump * (1 + jump) * h));
    pop.toValue = kit::AffineTransform::identity();
    pop.timingFunction = kit::TimingFunction::custom(0.465, 1.6, 0.69, 1.0);
    l->addAnimation(pop, "transform");
    kit::Animation fade;
    fade.keyPath = "opacity";
    fade.duration = 1.5 * a;
    fade.fromValue = 0.0;
    fade.toValue = static_cast<double>(targetOpacity);
    fade.timingFunction = kit::TimingFunction::easeOut();
    l->addAnimation(fade, "opacity");
}

void CtrlHelper::hide() {
    tmrShow.invalidate();
    tmrShow = kit::Timer();
    const auto& l = layer();
    if (isHidden()) {
        state = "hidden";
        return;
    }
    if (state == "hiding") return;
    double d = animation * 1.33;
    if (d <= 0.01 || state == "showing") {
        l->removeAllAnimations();
        setBubbleOpacity(targetOpacity);
        state = "hidden";
        setHiddenNow();
        return;
    }
    state = "hiding";
    later(*this, 0.5 * d, [](CtrlHelper& b) {
        if (b.state == "hiding") b.setBubbleOpacity(0);
    });
    later(*this, d + 0.5 * showDelay, [](CtrlHelper& b) {
        if (b.state != "hiding") return;
        b.setHiddenNow();
        b.setBubbleOpacity(b.targetOpacity);
        b.state = "hidden";
    });
    kit::Animation fade;
    fade.keyPath = "opacity";
    fade.duration = d;
    fade.fromValue = static_cast<double>(targetOpacity);
    fade.toValue = 0.0;
    fade.timingFunction = kit::TimingFunction::easeOut();
    l->addAnimation(fade, "opacity");
}

void CtrlHelper::hideNow() {
    tmrShow.invalidate();
    tmrShow = kit::Timer();
    setHiddenNow();
    layer()->removeAllAnimations();
    setBubbleOpacity(targetOpacity);
    state = "hidden";
}

void CtrlHelper::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(
        bounds(), kit::TrackingOption::MouseEnteredAndExited | kit::TrackingOption::ActiveInKeyWindow);
}

void CtrlHelper::mouseEntered(const kit::Event&) {
    pointerInside_ = true;
    if (setCursorUpdating) setCursorUpdating(false);
    kit::Cursor::arrow().set();
}

void CtrlHelper::mouseExited(const kit::Event&) {
    pointerLeft();
}

void CtrlHelper::pointerLeft() {
    if (!pointerInside_) return;
    pointerInside_ = false;
    if (setCursorUpdating) setCursorUpdating(true);
}

}  // namespace controls
