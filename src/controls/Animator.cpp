#include "controls/Animator.h"

#include <map>
#include <memory>

#include "controls/CtrlTooltippedSegments.h"
#include "kit/base/Timer.h"
#include "kit/draw/Animation.h"
#include "kit/ui/SegmentedControl.h"
#include "services/Console.h"

namespace controls {

double Animator::lastShowTime = 0;

namespace {

struct Entry {
    std::weak_ptr<kit::View> view;
    std::string state;
};

// Keyed by identity; an entry whose view has gone counts as absent, so a new
// view at a reused address starts without a state.
std::map<const kit::View*, Entry>& states() {
    static std::map<const kit::View*, Entry> table;
    return table;
}

void setState(kit::View& view, const std::string& word) {
    auto& table = states();
    // Drop entries of views that no longer exist before the table grows.
    for (auto it = table.begin(); it != table.end();) it = it->second.view.expired() ? table.erase(it) : ++it;
    table[&view] = {view.weak_from_this(), word};
}

bool stateIs(const kit::View& view, const char* word) {
    return Animator::state(view) == word;
}

// Runs fn with the view after `seconds`, unless the view is gone by then.
void later(kit::View& view, double seconds, std::function<void(kit::View&)> fn) {
    kit::dispatchMainAfter(seconds, [weak = view.weak_from_this(), fn = std::move(fn)] {
        if (auto v = weak.lock()) fn(*v);
    });
}

std::string describe(const kit::View& view) {
    auto f = view.frame();
    return "<View " + std::to_string(reinterpret_cast<uintptr_t>(&view)) + " frame=(" +
           std::to_string(f.x()) + ", " + std::to_string(f.y()) + ", " + std::to_string(f.width()) + ", " +
           std::to_string(f.height()) + ")>";
}

}  // namespace

std::optional<std::string> Animator::state(const kit::View& view) {
    auto& table = states();
    auto it = table.find(&view);
    if (it == table.end() || it->second.view.expired()) return std::nullopt;
    return it->second.state;
}

void Animator::show(kit::View& view, double delay, bool keepClock) {
    auto prev = state(view);
    setState(view, "showing");
    const auto& layer = view.layer();
    if (!view.isHidden() && prev != "hiding") {
        layer->setOpacity(1.0);
        return;
    }

    double now = kit::wallNow();
    bool animated = now - lastShowTime > 0.7;
    double duration = animated ? 0.15 : 0;
    double amp = animated ? 1.0 : 0;
    if (!keepClock) lastShowTime = now;

    layer->setOpacity(0);
    // Guarded like the completion: a hide that came meanwhile keeps the view transparent.
    later(view, delay + duration * 0.5, [](kit::View& v) {
        if (stateIs(v, "showing")) v.layer()->setOpacity(1.0);
    });
    if (delay != 0) {
        later(view, delay, [](kit::View& v) {
            if (!stateIs(v, "showing")) {
                services::consoleLine("!!! .animatedHide() Prevented showing " + describe(v));
                return;
            }
            setState(v, "shown");
            v.layer()->setOpacity(1.0);
            v.setHidden(false);
        });
    } else {
        view.setHidden(false);
    }

    // Segmented controls draw themselves and take no layer animations.
    if (dynamic_cast<CtrlTooltippedSegments*>(&view) || dynamic_cast<kit::SegmentedControl*>(&view)) return;

    double begin = delay > 0 ? kit::mediaTime() + delay : 0;
    kit::Animation pop;
    pop.keyPath = "transform";
    pop.beginTime = begin;
    pop.duration = duration;
    pop.fromValue = kit::AffineTransform::scale(1 - 0.15 * amp, 1.0)
                        .concat(kit::AffineTransform::translation(-10 * amp, 0));
    pop.toValue = kit::AffineTransform::identity();
    pop.timingFunction = kit::TimingFunction::custom(0.465, 1.6, 0.69, 1.0);
    kit::Animation fade;
    fade.keyPath = "opacity";
    fade.beginTime = begin;
    fade.duration = duration * 1.5;
    fade.fromValue = 1.0 - amp;
    fade.toValue = 1.0;
    fade.timingFunction = kit::TimingFunction::easeOut();
    layer->addAnimation(pop, "transform");
    layer->addAnimation(fade, "opacity");
}

void Animator::hide(kit::View& view, double delay) {
    // A delayed show still pending sees the word and is overruled; a view
    // that is hidden already keeps "hiding" and nothing else changes.
    setState(view, "hiding");
    if (view.isHidden()) return;

    later(view, delay + 0.045, [](kit::View& v) {
        if (stateIs(v, "hiding")) v.layer()->setOpacity(0);
    });
    later(view, delay + 0.09, [](kit::View& v) {
        if (!stateIs(v, "hiding")) return;
        v.setHidden(true);
        v.layer()->setOpacity(1.0);
        setState(v, "hidden");
    });

    double begin = delay > 0 ? kit::mediaTime() + delay : 0;
    kit::Animation squash;
    squash.keyPath = "transform";
    squash.beginTime = begin;
    squash.duration = 0.09;
    squash.fromValue = kit::AffineTransform::identity();
    squash.toValue = kit::AffineTransform::scale(1.0, 0.5).concat(
        kit::AffineTransform::translation(0, 0.25 * view.frame().height()));
    squash.timingFunction = kit::TimingFunction::easeIn();
    kit::Animation fade;
    fade.keyPath = "opacity";
    fade.beginTime = begin;
    fade.duration = 0.09;
    fade.fromValue = 1.0;
    fade.toValue = 0.0;
    fade.timingFunction = kit::TimingFunction::easeOut();
    view.layer()->addAnimation(squash, "transform");
    view.layer()->addAnimation(fade, "opacity");
}

void Animator::delay(kit::View& view, double seconds) {
    later(view, seconds, [](kit::View& v) {
        setState(v, "shown");
        v.layer()->setOpacity(1.0);
        v.setHidden(false);
    });
}

}  // namespace controls
