#include "objects/ProtoObject.h"

#include <cmath>
#include <limits>

#include "imaging/PixelSampling.h"
#include "kit/base/Parse.h"
#include "objects/ObjectHost.h"
#include "objects/ObjectsCore.h"
#include "objects/PressedKeys.h"
#include "services/Random.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace objects {

namespace {

bool allFinite(const kit::Json& v) {
    if (v.is_number_float()) return std::isfinite(v.get<double>());
    if (v.is_structured())
        for (const auto& item : v)
            if (!allFinite(item)) return false;
    return true;
}

}  // namespace

std::string encode(const kit::Json& value) {
    if (!allFinite(value)) {
        services::Telemetry::shared().oops("encode(_:)", "Can't encode into JSON");
        return "";
    }
    return kit::json::dump(value);
}

kit::Color transparentColor(const kit::Color& clr, double alpha) {
    return clr.withAlpha(alpha);
}

std::string randomBase36(int n, bool upperCase) {
    const char* digits =
        upperCase ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out;
    out.reserve(size_t(n));
    for (int i = 0; i < n; ++i) out += digits[services::randomInt(0, 35)];
    return out;
}

int parseIntOr(const std::string& text, int fallback) {
    auto v = kit::parseInt32(text);
    return v ? *v : fallback;
}

double parseDoubleOr(const std::string& text, double fallback) {
    auto v = kit::parseDouble(text);
    return v ? *v : fallback;
}

// ---- Life ---------------------------------------------------------------

ProtoObject::ProtoObject(ObjectHost* parentManager, const kit::LayerPtr&, const kit::LayerPtr&)
    : layer(kit::Layer::make()), lcontrol(kit::Layer::make()), parent(parentManager) {
    color = imaging::cgColor(services::Settings::shared().getString("defaultColor", "#F44723"), 1.0);
    // Subclasses read the stored size after their own fields are set, through
    // the virtual className(); the base constructor cannot see the subclass yet.
}

ProtoObject::~ProtoObject() = default;

void ProtoObject::attachLayers(const kit::LayerPtr& drawing, const kit::LayerPtr& control) {
    layer->setShouldRasterize(false);
    layer->setMagnificationFilter(kit::ScalingFilter::Nearest);
    if (drawing) drawing->addSublayer(layer);
    if (control) control->addSublayer(lcontrol);
}

std::string ProtoObject::optionKey(const std::string& key) const {
    return optionKeyFor(className(), key);
}

std::string ProtoObject::optionKeyFor(const std::string& className, const std::string& key) {
    return "Kadrix." + className + ": " + key;
}

void ProtoObject::saveOption(const std::string& key, const std::string& value) {
    services::Settings::shared().storeString(optionKey(key), value);
}

std::string ProtoObject::loadOption(const std::string& key, const std::string& defaultValue) {
    auto stored = services::Settings::shared().storage().object(optionKey(key));
    if (stored && stored->is_string()) return stored->get<std::string>();
    return defaultValue;
}

void ProtoObject::loadStoredSize() {
    std::string text = loadOption("size", "1");
    // Taken as stored (a text size of 8 or 9 is valid); the tables clamp
    // their own index, so a size past them never reads outside.
    size = text.empty() ? 1 : parseIntOr(text, 1);
}

int ProtoObject::clampSize(int64_t s) {
    return int(std::clamp<int64_t>(s, 0, 7));
}

int ProtoObject::storedSize(int64_t s) {
    return int(std::clamp<int64_t>(s, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// ---- Viewport and neighbours ---------------------------------------------

ObjectHost& ProtoObject::host() const {
    return parent ? *parent : ObjectHost::none();
}

double ProtoObject::dpr() const {
    return host().dpr();
}
double ProtoObject::zoom() const {
    return host().zoom();
}
kit::Point ProtoObject::viewToImage(kit::Point p) const {
    return host().viewToImage(p);
}
kit::Point ProtoObject::imageToView(kit::Point p) const {
    return host().imageToView(p);
}

void ProtoObject::reportSelectionMode(const std::string& mode) const {
    if (ObjectsCore* core = host().core()) core->selectionModeChanged(mode);
}

void ProtoObject::telemetryEvent(const std::string& name, const kit::Json& data) {
    services::Telemetry::shared().event(name, data);
}

void ProtoObject::telemetryPreset(const std::string& name, const kit::Json& data) {
    services::Telemetry::shared().preset(name, data);
}

void ProtoObject::oops(const std::string& function, const std::string& message) {
    services::Telemetry::shared().oops(function, message);
}

std::string ProtoObject::activeTypeOfParent() const {
    return parent ? parent->activeType() : "";
}

// ---- Drawing ------------------------------------------------------------

void ProtoObject::setLayersVisible(bool drawing, bool control) {
    layer->setHidden(!drawing);
    lcontrol->setHidden(!control);
}

void ProtoObject::draw() {
    if (isEmpty())
        setLayersVisible(false, false);
    else
        setLayersVisible(true, state == "selected");
}

std::optional<kit::Path> ProtoObject::outlinePath() {
    return std::nullopt;
}

// ---- Selection ----------------------------------------------------------

void ProtoObject::unselect() {
    state = "unselected";
    layer->setShouldRasterize(true);
    if (parent) {
        reportSelectionMode("default");
        parent->selectedIndex.reset();
    }
    host().setLayoutRequest(1);
}

void ProtoObject::select() {
    state = "selected";
    layer->setShouldRasterize(false);
    if (parent && parent->active) {
        if (!(parent->selectedIndex && *parent->selectedIndex == *parent->active)) {
            parent->selectedIndex = parent->active;
            reportSelectionMode(parent->activeType());
        }
    }
    host().setLayoutRequest(1);
}

void ProtoObject::deactivate() {
    if (state != "unselected" && parent) parent->deactivate();
}

// ---- Hit test and cursor --------------------------------------------------

bool ProtoObject::knobHit(const Knob& knob, kit::Point p) const {
    double d = dpr();
    return knob.shown && std::fabs(knob.dx * d - p.x) < 10 * d && std::fabs(knob.dy * d - p.y) < 10 * d;
}

std::optional<std::string> ProtoObject::knobAt(kit::Point p) const {
    for (const auto& k : knobs)
        if (knobHit(*k, p)) return k->cursor;
    return std::nullopt;
}

std::string ProtoObject::action(kit::Point p) {
    if (state == "move" || state.find("resize") != std::string::npos) return state;
    if (state == "selected" || state.find("point") != std::string::npos)
        if (auto k = knobAt(p)) return *k;
    return withinSpan(viewToImage(p), 0) ? "move" : "default";
}

std::string ProtoObject::cursor(kit::Point p) {
    if (state == "unselected" || state == "highlighted") return "default";
    if (state.find("move") != std::string::npos) return "move";
    if (state == "creating") return "crosshair";
    std::string w = action(p);
    if (w.find("point") != std::string::npos) return "point";
    if (w.find("move") != std::string::npos) return "move";
    return w;
}

void ProtoObject::highlightKnob(kit::Point p) {
    for (auto& k : knobs) k->isHighlighted = knobHit(*k, p);
}

// ---- Mouse --------------------------------------------------------------

void ProtoObject::mouseDown(const kit::Event*, kit::Point p, int) {
    baseMouseDown(p);
}

void ProtoObject::baseMouseDown(kit::Point p) {
    kit::Point q = viewToImage(p);
    mdsx = q.x;
    mdsy = q.y;
    mouseDownRect = rect;
    if (state == "creating")
        rect = {std::floor(q.x), std::ceil(q.y), 0, 0};
    else if (state == "selected")
        state = action(p);
}

void ProtoObject::mouseDrag(const kit::Event* event, kit::Point p, int) {
    baseMouseDrag(event, p);
}

void ProtoObject::baseMouseDrag(const kit::Event* event, kit::Point p) {
    kit::Point q = viewToImage(p);
    const bool shift = eventHas(event, kit::ModifierFlag::Shift);
    if (state == "creating") {
        dragFarCorner(q);
        if (shift) {
            // The shorter side takes the longer one's length, keeping its own
            // sign (a zero side counts as negative).
            double aw = std::fabs(rect.width), ah = std::fabs(rect.height);
            if (aw > ah)
                rect.height = rect.height > 0 ? aw : -aw;
            else if (ah > aw)
                rect.width = rect.width > 0 ? ah : -ah;
        }
    } else if (state == "move" || state.find("resize") != std::string::npos) {
        kit::Point d = dragDelta(q, state == "move" && shift);
        double dx = d.x, dy = d.y;
        rect = mouseDownRect;
        // Each word moves the origin corner by a and the far corner by b.
        double ax = 0, ay = 0, bx = 0, by = 0;
        bool known = true;
        if (state == "move") {
            ax = bx = dx;
            ay = by = dy;
        } else if (state == "tr-resize") {
            bx = dx;
            by = dy;
        } else if (state == "tl-resize") {
            ax = dx;
            by = dy;
        } else if (state == "br-resize") {
            ay = dy;
            bx = dx;
        } else if (state == "bl-resize") {
            ax = dx;
            ay = dy;
        } else if (state == "l-resize") {
            ax = dx;
        } else if (state == "t-resize") {
            by = dy;
        } else if (state == "r-resize") {
            bx = dx;
        } else if (state == "b-resize") {
            ay = dy;
        } else {
            known = false;
        }
        if (known) {
            double farX = rect.x1 + rect.width + bx, farY = rect.y1 + rect.height + by;
            rect.x1 += ax;
            rect.y1 += ay;
            rect.width = farX - rect.x1;
            rect.height = farY - rect.y1;
        }
    }
    host().setLayoutRequest(1);
}

void ProtoObject::dragFarCorner(kit::Point q) {
    double fx = std::ceil(q.x), fy = std::floor(q.y);
    if (PressedKeys::shared().pressed.count(kit::KeyCode::Space)) {
        rect.x1 = fx - rect.width;
        rect.y1 = fy - rect.height;
    } else {
        rect.width = fx - rect.x1;
        rect.height = fy - rect.y1;
    }
}

kit::Point ProtoObject::dragDelta(kit::Point q, bool dominantOnly) const {
    double dx = std::round(q.x - mdsx), dy = std::round(q.y - mdsy);
    if (dominantOnly) {
        if (std::fabs(dy) < std::fabs(dx))
            dy = 0;
        else
            dx = 0;
    }
    return {dx, dy};
}

void ProtoObject::normalizeRect() {
    rect.normalize();
}

bool ProtoObject::knobsFirst() const {
    return state == "selected" || state == "move" || state.find("resize") != std::string::npos ||
           state.find("point") != std::string::npos;
}

std::optional<std::string> ProtoObject::knobFirst(kit::Point p) const {
    return knobsFirst() ? knobAt(p) : std::nullopt;
}

bool ProtoObject::withinSpan(kit::Point q, double t) const {
    const double x0 = std::min(rect.x1, rect.x1 + rect.width), x1 = std::max(rect.x1, rect.x1 + rect.width);
    const double y0 = std::min(rect.y1, rect.y1 + rect.height), y1 = std::max(rect.y1, rect.y1 + rect.height);
    return q.x > x0 - t && q.x < x1 + t && q.y > y0 - t && q.y < y1 + t;
}

ProtoObject::VectorEnds ProtoObject::vectorEnds() const {
    const double z = zoom(), k = 1 / dpr();
    kit::Point p0 = imageToView({rect.x1, rect.y1}) * k;
    kit::Point e = p0 + kit::Point{rect.width, rect.height} * (z * k);
    double beta = std::atan2(rect.height, rect.width);
    kit::Point u = z < 2 ? kit::Point{7 * std::cos(beta), 7 * std::sin(beta)} : kit::Point{0, 0};
    return {p0, e, u};
}

void ProtoObject::mouseUp(const kit::Event*, kit::Point, int) {
    select();
    host().setLayoutRequest(1);
}

void ProtoObject::dblClick(const kit::Event*, kit::Point, int) {}

void ProtoObject::move(double dx, double dy) {
    rect.x1 += dx;
    rect.y1 += dy;
}

// ---- Keys ---------------------------------------------------------------

double ProtoObject::keyStep(bool shift) const {
    double step = services::Settings::shared().getBool("realPixels", false) ? 1.0 : dpr();
    return shift ? step * 10 : step;
}

bool ProtoObject::isDigitKey(int code) {
    using namespace kit::KeyCode;
    return (code >= One && code <= Zero && code != Equal && code != Minus) ||
           (code >= Keypad0 && code <= Keypad9 && code != 90);  // 90 is no key
}

std::string ProtoObject::keyCharacters(const kit::Event* event) {
    return event ? event->characters : "0";
}

void ProtoObject::keyDown(const kit::Event*, const KeyEvt& key) {
    baseKeyDown(key);
}

void ProtoObject::baseKeyDownKeepingExtent(const KeyEvt& key) {
    services::Rect before = rect;
    baseKeyDown(key);
    if (rect.width <= 0 && rect.height <= 0) rect = before;
}

void ProtoObject::baseKeyDown(const KeyEvt& key) {
    if (key.code == kit::KeyCode::Escape) {
        if (parent) parent->deactivate();
        return;
    }
    if (state != "selected") return;
    double step = keyStep(key.modifiers.shift);
    const bool cmd = key.modifiers.command;
    switch (key.code) {
        case kit::KeyCode::LeftArrow:
            if (cmd)
                rect.width -= step;
            else
                rect.x1 -= step;
            break;
        case kit::KeyCode::RightArrow:
            if (cmd)
                rect.width += step;
            else
                rect.x1 += step;
            break;
        case kit::KeyCode::DownArrow:
            if (cmd) {
                rect.y1 -= step;
                rect.height += step;
            } else {
                rect.y1 -= step;
            }
            break;
        case kit::KeyCode::UpArrow:
            if (cmd) {
                rect.y1 += step;
                rect.height -= step;
            } else {
                rect.y1 += step;
            }
            break;
        default:
            break;
    }
}

void ProtoObject::keyUp(const kit::Event*, const KeyEvt&) {}

// ---- Life end -------------------------------------------------------------

void ProtoObject::remove() {
    for (auto& k : knobs) k->layer->removeFromSuperlayer();
    knobs.clear();
    layer->removeFromSuperlayer();
    lcontrol->removeFromSuperlayer();
}

bool ProtoObject::isEmpty() {
    return rect.width == 0 && rect.height == 0;
}

services::Rect ProtoObject::anchorPoint() {
    return isEmpty() ? host().source() : rect;
}

// ---- Size and tool values -----------------------------------------------

void ProtoObject::changeSize(int step) {
    size = clampSize(step >= 1 ? int64_t(size) + 1 : int64_t(size) - 1);
    saveOption("size", std::to_string(size));
    host().setLayoutRequest(2);
}

std::optional<std::string> ProtoObject::getValue(const std::string& key) {
    if (key == "size") return std::to_string(size);
    if (key == "color") return imaging::hexString(color);
    return std::nullopt;
}

void ProtoObject::setValue(const std::string& key, const std::string& value) {
    if (key == "size") {
        size = clampSize(parseIntOr(value, 1));
        saveOption("size", std::to_string(size));
    } else if (key == "color") {
        color = imaging::cgColor(value, 1.0);
    }
}

// ---- Dump ---------------------------------------------------------------

kit::Json ProtoObject::baseRecord() const {
    return kit::Json{{"rect", rectRecord(rect)}, {"size", size}, {"color", imaging::hexString(color)}};
}

kit::Json ProtoObject::rectRecord(const services::Rect& r) {
    return kit::Json{{"x1", r.x1}, {"y1", r.y1}, {"width", r.width}, {"height", r.height}};
}

std::optional<services::Rect> ProtoObject::readRect(const kit::Json* value) {
    if (!value) return std::nullopt;
    auto x1 = kit::json::doubleAt(*value, "x1"), y1 = kit::json::doubleAt(*value, "y1");
    auto w = kit::json::doubleAt(*value, "width"), h = kit::json::doubleAt(*value, "height");
    if (!x1 || !y1 || !w || !h) return std::nullopt;
    return services::Rect{*x1, *y1, *w, *h};
}

std::optional<ProtoObject::BaseFields> ProtoObject::readBase(const kit::Json& record) {
    auto r = readRect(kit::json::memberAt(record, "rect"));
    auto s = kit::json::intAt(record, "size");
    auto c = kit::json::stringAt(record, "color");
    if (!r || !s || !c) return std::nullopt;
    return BaseFields{*r, storedSize(*s), imaging::cgColor(*c, 1.0)};
}

void ProtoObject::applyBase(const BaseFields& f) {
    rect = f.rect;
    size = f.size;
    color = f.color;
}

std::string ProtoObject::dump() {
    return encode(baseRecord());
}

bool ProtoObject::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    if (!base) return false;
    applyBase(*base);
    return true;
}

}  // namespace objects
