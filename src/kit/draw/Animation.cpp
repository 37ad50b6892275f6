#include "kit/draw/Animation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "kit/base/Timer.h"
#include "kit/draw/Layer.h"

namespace kit {

// ---- Timing -------------------------------------------------------------------

double TimingFunction::valueAt(double t) const {
    t = std::clamp(t, 0.0, 1.0);
    if (t == 0 || t == 1 || (x1 == y1 && x2 == y2)) return t;  // ends and straight lines are exact
    // Bernstein form of one coordinate with end points 0 and 1.
    auto bez = [](double p1, double p2, double s) {
        double u = 1 - s;
        return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
    };
    auto dbez = [](double p1, double p2, double s) {
        double u = 1 - s;
        return 3 * u * u * p1 + 6 * u * s * (p2 - p1) + 3 * s * s * (1 - p2);
    };
    // Solve x(s) = t: Newton first, bisection when the slope is too flat.
    double s = t;
    for (int i = 0; i < 8; ++i) {
        double err = bez(x1, x2, s) - t;
        if (std::fabs(err) < 1e-7) return bez(y1, y2, s);
        double d = dbez(x1, x2, s);
        if (std::fabs(d) < 1e-6) break;
        s -= err / d;
    }
    double lo = 0, hi = 1;
    s = t;
    for (int i = 0; i < 60; ++i) {
        double x = bez(x1, x2, s);
        if (std::fabs(x - t) < 1e-7) break;
        (x < t ? lo : hi) = s;
        s = (lo + hi) / 2;
    }
    return bez(y1, y2, s);
}

// ---- Interpolation ----------------------------------------------------------------

static double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}
static Point lerp(Point a, Point b, double t) {
    return {lerp(a.x, b.x, t), lerp(a.y, b.y, t)};
}

static std::optional<Path> lerpPath(const Path& a, const Path& b, double t) {
    const auto& ea = a.elements();
    const auto& eb = b.elements();
    if (ea.size() != eb.size()) return std::nullopt;
    Path out;
    for (size_t i = 0; i < ea.size(); ++i) {
        if (ea[i].type != eb[i].type) return std::nullopt;
        Point p[3];
        for (int k = 0; k < 3; ++k) p[k] = lerp(ea[i].pts[k], eb[i].pts[k], t);
        switch (ea[i].type) {
            case Path::ElementType::MoveTo:
                out.moveTo(p[0]);
                break;
            case Path::ElementType::LineTo:
                out.lineTo(p[0]);
                break;
            case Path::ElementType::QuadTo:
                out.quadTo(p[0], p[1]);
                break;
            case Path::ElementType::CubicTo:
                out.cubicTo(p[0], p[1], p[2]);
                break;
            case Path::ElementType::Close:
                out.closeSubpath();
                break;
        }
    }
    return out;
}

AnimValue interpolate(const AnimValue& a, const AnimValue& b, double t) {
    if (a.index() != b.index()) return t < 0.5 ? a : b;
    if (auto x = std::get_if<double>(&a)) return lerp(*x, std::get<double>(b), t);
    if (auto x = std::get_if<Point>(&a)) return lerp(*x, std::get<Point>(b), t);
    if (auto x = std::get_if<Size>(&a)) {
        auto& y = std::get<Size>(b);
        return Size{lerp(x->width, y.width, t), lerp(x->height, y.height, t)};
    }
    if (auto x = std::get_if<Rect>(&a)) {
        auto& y = std::get<Rect>(b);
        return Rect{lerp(x->origin, y.origin, t),
                    Size{lerp(x->size.width, y.size.width, t), lerp(x->size.height, y.size.height, t)}};
    }
    if (auto x = std::get_if<Color>(&a)) {
        auto& y = std::get<Color>(b);
        return Color{lerp(x->r, y.r, t), lerp(x->g, y.g, t), lerp(x->b, y.b, t), lerp(x->a, y.a, t)};
    }
    if (auto x = std::get_if<AffineTransform>(&a)) {
        auto& y = std::get<AffineTransform>(b);
        return AffineTransform{lerp(x->a, y.a, t), lerp(x->b, y.b, t),   lerp(x->c, y.c, t),
                               lerp(x->d, y.d, t), lerp(x->tx, y.tx, t), lerp(x->ty, y.ty, t)};
    }
    const Path& pa = std::get<Path>(a);
    const Path& pb = std::get<Path>(b);
    if (auto p = lerpPath(pa, pb, t)) return *p;
    return t < 0.5 ? pa : pb;
}

// ---- Clock and ticker ---------------------------------------------------------------

namespace {

struct AnimatorState {
    std::vector<Layer*> layers;
    Timer ticker;
    const Clock* tickerClock = nullptr;
};

// Never destroyed: the ticker must not be torn down after the event loop.
AnimatorState& state() {
    static auto* s = new AnimatorState;
    return *s;
}

// Runs the ticker while any layer animates, on the clock now in use (a test
// may have swapped in a manual one since the ticker started).
void updateTimer() {
    auto& s = state();
    const Clock* clock = Clock::current().get();
    bool want = !s.layers.empty();
    if (s.ticker.isValid() && (!want || s.tickerClock != clock)) s.ticker.invalidate();
    if (want && !s.ticker.isValid()) {
        s.ticker = Timer::repeating(1.0 / 60, [] { Animator::tick(); });
        s.tickerClock = clock;
    }
}

}  // namespace

double mediaTime() {
    return monotonicNow();
}

namespace Animator {

void tick() {
    auto& s = state();
    double now = mediaTime();
    // A step may run completions that add or drop layers: walk a snapshot and
    // skip layers that left the registry meanwhile.
    std::vector<Layer*> snapshot = s.layers;
    for (Layer* l : snapshot)
        if (std::find(s.layers.begin(), s.layers.end(), l) != s.layers.end()) l->stepAnimations(now);
    updateTimer();
}

int runningCount() {
    int n = 0;
    for (Layer* l : state().layers) n += int(l->animationKeys().size());
    return n;
}

void attach(Layer* layer) {
    auto& s = state();
    if (std::find(s.layers.begin(), s.layers.end(), layer) == s.layers.end()) s.layers.push_back(layer);
    updateTimer();
}

void detach(Layer* layer) {
    auto& s = state();
    s.layers.erase(std::remove(s.layers.begin(), s.layers.end(), layer), s.layers.end());
    updateTimer();
}

}  // namespace Animator

// ---- Transactions -----------------------------------------------------------------------

namespace {
struct TransactionFrame {
    bool disableActions = false;
    double duration = 0.25;
};
std::vector<TransactionFrame>& transactions() {
    static std::vector<TransactionFrame> stack;
    return stack;
}
TransactionFrame& current() {
    auto& st = transactions();
    if (st.empty()) st.push_back({});  // the implicit outermost transaction
    return st.back();
}
}  // namespace

void Transaction::begin() {
    TransactionFrame f = current();  // nested transactions inherit their settings
    transactions().push_back(f);
}
void Transaction::commit() {
    auto& st = transactions();
    if (st.size() > 1)
        st.pop_back();
    else if (!st.empty())
        st.back() = {};
}
void Transaction::setDisableActions(bool d) {
    current().disableActions = d;
}
bool Transaction::disableActions() {
    return current().disableActions;
}
void Transaction::setAnimationDuration(double s) {
    current().duration = std::max(s, 0.0);
}
double Transaction::animationDuration() {
    return current().duration;
}

}  // namespace kit
