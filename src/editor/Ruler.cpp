#include "editor/Ruler.h"

#include <cmath>
#include <cstdlib>
#include <map>

#include "editor/CanvasLayers.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "kit/base/Json.h"
#include "objects/ObjRuler.h"
#include "objects/PressedKeys.h"
#include "services/Console.h"
#include "services/NamedTimers.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace editor {

namespace {

namespace K = kit::KeyCode;
constexpr int kVerticalKeys[] = {K::DownArrow, K::UpArrow, K::One};
constexpr int kHorizontalKeys[] = {K::LeftArrow, K::RightArrow, K::Two};
constexpr int kRulerKeys[] = {K::LeftArrow, K::RightArrow, K::DownArrow, K::UpArrow, K::One, K::Two};
// The key-up test also counts S and D.
constexpr int kReleaseKeys[] = {K::LeftArrow, K::RightArrow, K::DownArrow, K::UpArrow,
                                K::S,         K::D,          K::One,       K::Two};
constexpr double kHideDelay = 0.8;
// A held key repeats long before this; a ruler key unheard of for longer lost
// its key-up (the window lost the keyboard) and no longer counts as held.
constexpr double kHeldKeyTrust = 2.0;

template <size_t N>
bool anyIn(const std::set<int>& set, const int (&keys)[N]) {
    for (int k : keys)
        if (set.count(k)) return true;
    return false;
}

template <size_t N>
bool isOneOf(int code, const int (&keys)[N]) {
    for (int k : keys)
        if (k == code) return true;
    return false;
}

std::string wholeText(double v) {
    return std::to_string((long long)v);
}

// Walks from t0 in one direction until an edge; the run's bound on that side.
template <class Pixel>
int walk(const Pixel& px, int t0, int limit, int dir, int persistence, int threshold) {
    const int end = dir < 0 ? 0 : limit;
    const uint8_t* p = px(t0);
    if (!p) return end;
    imaging::RGB8 prev = imaging::PixelMap::rgb(p);
    for (int t = t0 + dir;; t += dir) {
        if (t >= limit || t < 0) return end;
        if (!(p = px(t))) return end;
        const imaging::RGB8 cur = imaging::PixelMap::rgb(p);
        const int d = imaging::colorDistance(cur, prev);
        prev = cur;
        if (d <= threshold) continue;
        int e = 0;
        if (t > 0 && t < limit - 1) {
            if (const uint8_t* next = px(t + dir))
                e = imaging::colorDistance(imaging::PixelMap::rgb(next), cur);
        }
        if (e >= 2 * d) continue;  // the start of a steeper step, not the edge yet
        if (persistence == 0) return dir < 0 ? t + 1 : t;
        --persistence;
    }
}

}  // namespace

void reportReadout(const std::string& what, const std::string& text) {
    static const bool testing = std::getenv("KADRIX_TEST") != nullptr;
    static std::map<std::string, std::string> shown;
    if (!testing || shown[what] == text) return;
    shown[what] = text;
    services::consoleLine(what + ": " + text);
}

std::pair<double, double> rulerScout(const imaging::PixelMap& map, int x, int y, bool vertical,
                                     int persistence, int threshold) {
    if (!map.hasPixels()) return {0, 0};
    if (!vertical) {
        auto px = [&](int t) { return map.at(t, y); };
        const int w = map.width();
        return {walk(px, x, w, -1, persistence, threshold), walk(px, x, w, 1, persistence, threshold)};
    }
    // Along a column the walk counts rows from the top, as the buffer does.
    const int h = map.height();
    auto px = [&](int t) { return map.at(x, h - 1 - t); };
    const int a = walk(px, h - 1 - y, h, -1, persistence, threshold);
    const int b = walk(px, h - 1 - y, h, 1, persistence, threshold);
    return {double(h - b), double(h - a)};
}

Ruler& Ruler::shared() {
    static Ruler* ruler = new Ruler();
    return *ruler;
}

Ruler::Ruler() : layer_(kit::Layer::make()), lshape(kit::ShapeLayer::make()), ltext(kit::TextLayer::make()) {
    layer_->name = "ruler";
    lshape->setFillColor(kit::Color{0.95, 0.25, 0.12, 1.0});
    ltext->setForegroundColor(kit::Color::white(1));
    ltext->setFont(kit::Font::system(11, kit::FontWeight::Medium));
    layer_->addSublayer(lshape);
    layer_->addSublayer(ltext);
    layer_->setHidden(true);
}

// ---- Showing and hiding ------------------------------------------------------

void Ruler::hide() {
    // Requesting a layout only when something disappears keeps plain pointer
    // moves from re-laying out the canvas.
    if (int& request = canvasLayers().relayoutRequest; on_) request = std::max(request, 1);
    on_ = false;
    sensitivity = 3.54;
}

bool Ruler::heldByKeyboard() const {
    return !held_.empty() && kit::monotonicNow() - lastKeyDown_ < kHeldKeyTrust;
}

bool Ruler::rulerKeyHeld() const {
    return anyIn(objects::PressedKeys::shared().pressed, kRulerKeys) || heldByKeyboard();
}

void Ruler::armHideTimer() {
    timerHide = kit::Timer::once(kHideDelay, [this] {
        if (!on_) return;
        if (heldByKeyboard()) {
            armHideTimer();
            return;
        }
        on_ = false;
        canvasLayers().relayoutRequest = 1;
        relayoutCanvas(false);
        canvasLayers().relayoutRequest = 0;
    });
}

void Ruler::pointerMoved(double x, double y) {
    setPoint(x, y);
    if (rulerKeyHeld()) return;
    hide();
}

void Ruler::setPoint(double x, double y) {
    const Framer& f = Framer::shared();
    dx = x;
    dy = y;
    const kit::Point p = f.viewToImage({x, y});
    sx = p.x;
    sy = p.y;
    validZoom = f.zoom();
    if (on_) measure(vertical, persistence, guide, objects::PressedKeys::shared().describe());
}

void Ruler::keyDown(const kit::Event* event, int code, KeyEvt::Modifiers modifiers, bool enabled) {
    std::set<int>& pressed = objects::PressedKeys::shared().pressed;
    if (!anyIn(pressed, kRulerKeys)) return;
    // One orientation at a time: the latest key wins.
    auto drop = [&](const int(&keys)[3]) {
        for (int k : keys) pressed.erase(k), held_.erase(k);
    };
    if (isOneOf(code, kHorizontalKeys)) drop(kVerticalKeys);
    if (isOneOf(code, kVerticalKeys)) drop(kHorizontalKeys);
    if (!enabled) {
        hide();
        return;
    }
    if (isOneOf(code, kRulerKeys)) {
        held_.insert(code);
        lastKeyDown_ = kit::monotonicNow();
    }
    const bool wantsGuide = event && event->has(kit::ModifierFlag::Option);
    measure(anyIn(pressed, kVerticalKeys), modifiers.shift ? 1 : 0, wantsGuide,
            objects::PressedKeys::shared().describe());
}

void Ruler::keyUp() {
    const std::set<int>& pressed = objects::PressedKeys::shared().pressed;
    std::erase_if(held_, [&](int k) { return !pressed.count(k); });
    if (!anyIn(pressed, kReleaseKeys) && !heldByKeyboard()) hide();
}

void Ruler::scrolled(const kit::Event& event) {
    double s = sensitivity + event.deltaY;
    if (!(s >= 0)) s = 0;
    if (s >= 20) s = 20;
    sensitivity = s;
    services::Telemetry::shared().repeatableEvent("ruler:sensitivity", {{"value", sensitivity}});
}

// ---- Measuring ---------------------------------------------------------------

void Ruler::measure(bool isVertical, int persist, bool isGuide, const std::string& method) {
    if (core().imgPrecompiled().isNull()) return;
    const Framer& f = Framer::shared();
    on_ = true;
    validZoom = f.zoom();
    armHideTimer();
    vertical = isVertical;
    persistence = persist;
    guide = isGuide;
    const kit::Point p = f.viewToImage({dx, dy});
    const double fx = std::floor(p.x), fy = std::floor(p.y);
    if (fx < 0 || fy < 0 || fx >= f.crop.width || fy >= f.crop.height) return;
    if (!vertical) {
        auto [start, end] = guide ? std::pair{0.0, f.crop.width} : scout(fx, fy, false, persistence);
        rect = {start, fy, end - start, 0};
    } else {
        auto [start, end] = guide ? std::pair{0.0, f.crop.height} : scout(fx, fy, true, persistence);
        rect = {fx, start, 0, end - start};
    }
    readout(vertical ? rect.height : rect.width);
    services::Telemetry::shared().repeatableEvent(
        guide ? "guide" : "ruler",
        {{"distance", value}, {"vertical", vertical}, {"persistence", persistence}, {"method", method}});
    int& request = canvasLayers().relayoutRequest;
    request = std::max(request, 1);
}

std::pair<double, double> Ruler::scout(double x, double y, bool isVertical, int persist) {
    services::timerStart("scout");
    const imaging::Capture capture = core().capture();
    const imaging::PixelMap map(capture);
    if (!map.hasPixels()) {
        services::Telemetry::shared().oops("scout(sx:sy:vertical:persistence:)", "No pixel data");
        return {0, 0};
    }
    const int threshold = int(2 * sensitivity * sensitivity);
    auto run = rulerScout(map, int(std::floor(x)), int(std::floor(y)), isVertical, persist, threshold);
    services::timerAssert("scout", 4.0);
    return run;
}

void Ruler::readout(double length) {
    value = length;
    if (services::Settings::shared().realPixels()) {
        text = wholeText(length) + "px";
        return;
    }
    const double v = length / Framer::shared().dpr();
    text = (v == std::round(v) ? wholeText(v) : kit::json::doubleText(v)) + "pt";
}

// ---- Drawing -----------------------------------------------------------------

std::pair<double, double> Ruler::labelOrigin(double x, double y) const {
    const Framer& f = Framer::shared();
    const double dpr = f.dpr();
    const kit::Point p = f.viewToImage({dx, dy});
    const kit::Point q = f.imageToView({std::floor(p.x), std::floor(p.y)});
    if (vertical) return {x + 60 < f.area.width / dpr ? x + 20 : x - 60, std::round(q.y) / dpr - 10};
    return {std::round(q.x) / dpr - 20, y + 30 < f.area.height / dpr ? y + 10 : y - 30};
}

Ruler::Shape Ruler::makeShape() {
    const Framer& f = Framer::shared();
    const double dpr = f.dpr(), zoom = f.zoom();
    const kit::Point p = f.imageToView({rect.x1, rect.y1});
    const double hx = vertical ? 0.5 : 0, hy = vertical ? 0 : 0.5;
    double X = std::round(p.x + zoom * hx) / dpr - hx;
    double Y = std::round(p.y + zoom * hy) / dpr - hy;
    const double W = std::max(1.0, std::round(rect.width * zoom) / dpr);
    const double H = std::max(1.0, std::round(rect.height * zoom) / dpr);
    if (dpr == 1.0) (vertical ? X : Y) -= 0.5;
    Shape shape;
    shape.path.addRect(kit::Rect(X, Y, W, H).standardized());
    if (guide) return shape;
    if (vertical) {
        shape.path.addRect({X - 3, Y, 7, 1});
        shape.path.addRect({X - 3, Y + H - 1, 7, 1});
    } else {
        shape.path.addRect({X, Y - 3, 1, 7});
        shape.path.addRect({X + W - 1, Y - 3, 1, 7});
    }
    const auto [lx, ly] = labelOrigin(X, Y);
    ltext->setContentsScale(dpr);
    ltext->setString(text);
    reportReadout("ruler", text);
    const kit::Size t = ltext->preferredFrameSize();
    shape.path.addRoundedRect({lx, ly, t.width + 8, t.height + 4}, 2, 2);
    shape.labelFrame = {lx + 4, ly + 2, t.width, t.height};
    return shape;
}

void Ruler::layout() {
    const Framer& f = Framer::shared();
    if (f.zoom() != validZoom) on_ = false;  // a zoom change ends the measurement
    if (!on_) {
        layer_->setHidden(true);
        return;
    }
    layer_->setHidden(false);
    const double dpr = f.dpr();
    const kit::Rect area(0, 0, f.area.width / dpr, f.area.height / dpr);
    layer_->setFrame(area);
    lshape->setFrame(area);
    Shape shape = makeShape();
    lshape->setPath(std::move(shape.path));
    ltext->setFrame(shape.labelFrame);
    ltext->setHidden(guide);
}

// ---- Imprinting --------------------------------------------------------------

void Ruler::imprint() {
    const std::string color = services::Settings::shared().getString("defaultColor", "#F44723");
    std::shared_ptr<objects::ProtoObject> made;
    if (addObject && guide) {
        const double o = Framer::shared().dpr() == 1.0 ? 0 : 1.0;
        made = addObject("ObjLine", vertical ? services::Rect{rect.x1 + o, rect.y1, rect.width, rect.height}
                                             : services::Rect{rect.x1, rect.y1 + o, rect.width, rect.height});
        if (made) {
            made->size = 0;
            services::Telemetry::shared().event(
                "draw",
                {{"object", "ObjLine"}, {"color", color}, {"method", "imprint"}, {"vertical", vertical}});
        }
    } else if (addObject) {
        made = addObject("ObjRuler", rect);
        if (auto* r = dynamic_cast<objects::ObjRuler*>(made.get())) {
            r->updateKnobs(vertical);
            // Where along the line the pointer was; the middle for a zero-length run.
            const double length = vertical ? rect.height : rect.width;
            r->tperc = length == 0 ? 0.5 : vertical ? (sy - rect.y1) / length : (sx - rect.x1) / length;
            r->tdist = 12.0;
            r->dpr = services::Settings::shared().realPixels() ? 1.0 : Framer::shared().dpr();
            r->flipIfNeeded = true;
        }
        if (made) {
            services::Telemetry::shared().event("draw", {{"object", "ObjRuler"},
                                                         {"color", color},
                                                         {"method", "imprint"},
                                                         {"distance", value},
                                                         {"vertical", vertical},
                                                         {"persistence", persistence}});
        }
    }
    if (made && editorHooks().undoSave) editorHooks().undoSave("");
    if (deactivateObjects) deactivateObjects();
    canvasLayers().relayoutRequest = 1;
    relayoutCanvas(false);
    canvasLayers().relayoutRequest = 0;
}

}  // namespace editor
