#pragma once
// Explicit animations of layer properties. Nothing animates on its own: a
// property set is shown at once; only an Animation added to a layer tweens.
// Animations run on the main thread, stepped by a ticker that reads the
// animation clock (a manual clock in tests).
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/draw/Path.h"

namespace kit {

class Layer;

// A value an animation can carry. Which alternative a key path takes:
// double: "opacity", "cornerRadius", "borderWidth", "shadowOpacity",
//   "shadowRadius", "lineWidth", "strokeStart", "strokeEnd", "zPosition";
// Point: "position", "anchorPoint"; Size: "shadowOffset"; Rect: "bounds";
// Color: "backgroundColor", "borderColor", "shadowColor", "fillColor", "strokeColor";
// AffineTransform: "transform"; Path: "path".
using AnimValue = std::variant<double, Point, Size, Rect, Color, AffineTransform, Path>;

// Linear interpolation between two values of the same alternative. Paths
// tween point by point when their elements match in kind and number; other
// paths (and mismatched alternatives) switch to b at the midpoint.
AnimValue interpolate(const AnimValue& a, const AnimValue& b, double t);

// Cubic Bézier easing from (0,0) to (1,1) through (x1,y1), (x2,y2). The y
// values may leave 0…1 (overshoot).
struct TimingFunction {
    double x1 = 0, y1 = 0, x2 = 1, y2 = 1;
    friend bool operator==(const TimingFunction&, const TimingFunction&) = default;

    static TimingFunction linear() { return {0, 0, 1, 1}; }
    static TimingFunction easeIn() { return {0.42, 0, 1, 1}; }
    static TimingFunction easeOut() { return {0, 0, 0.58, 1}; }
    static TimingFunction easeInEaseOut() { return {0.42, 0, 0.58, 1}; }
    // The system default curve.
    static TimingFunction defaultCurve() { return {0.25, 0.1, 0.25, 1}; }
    static TimingFunction custom(double x1, double y1, double x2, double y2) { return {x1, y1, x2, y2}; }

    // Progress at time fraction t (clamped to 0…1).
    double valueAt(double t) const;
};

struct Animation {
    std::string keyPath;
    // An absent from/to stands for the layer's model value when the animation starts.
    std::optional<AnimValue> fromValue, toValue;
    double duration = 0.25;  // seconds
    // Start on the animation clock (mediaTime()); 0 means when added.
    double beginTime = 0;
    TimingFunction timingFunction = TimingFunction::linear();
    // When false the end value stays shown until the animation is removed.
    bool removedOnCompletion = true;
    // Called once on the main thread: finished is false when the animation
    // was removed or replaced before its end.
    std::function<void(bool finished)> completion;
};

// The animation clock in seconds: kit's current monotonic clock
// (kit/base/Timer.h), so a test's ManualClock drives animations too.
double mediaTime();

// The ticker that steps every running animation: a ~60 Hz repeating kit
// timer on the current clock, alive only while animations exist.
namespace Animator {
// Steps every animation to the clock's current time (the ticker calls it).
void tick();
// Number of animations attached to live layers.
int runningCount();
// Registration of layers that hold animations (called by Layer).
void attach(Layer* layer);
void detach(Layer* layer);
}  // namespace Animator

// Groups property changes. Layers have no implicit animations, so a
// transaction only records its settings for code that reads them (the editor
// picks the duration for its own explicit animations).
class Transaction {
public:
    static void begin();
    static void commit();
    static void setDisableActions(bool disable);
    static bool disableActions();
    static void setAnimationDuration(double seconds);
    static double animationDuration();
};

// begin() on construction, commit() on destruction.
class ScopedTransaction {
public:
    explicit ScopedTransaction(bool disableActions = true) {
        Transaction::begin();
        Transaction::setDisableActions(disableActions);
    }
    ~ScopedTransaction() { Transaction::commit(); }
    ScopedTransaction(const ScopedTransaction&) = delete;
    ScopedTransaction& operator=(const ScopedTransaction&) = delete;
};

}  // namespace kit
