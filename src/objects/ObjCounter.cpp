#include "objects/ObjCounter.h"

#include <cmath>
#include <numbers>

#include "kit/base/Parse.h"
#include "kit/base/Timer.h"
#include "objects/ArrHelper.h"
#include "objects/ObjectHost.h"

namespace objects {

namespace {
const char* const kDefaultAngle = "-2.356194490192345";  // −135 degrees: down and to the left

int clampCounterStyle(int64_t s) {
    return int(std::clamp<int64_t>(s, 0, 2));
}
}  // namespace

ObjCounter::ObjCounter(ObjectHost* parentManager, const kit::LayerPtr& drawing, const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control), ltext(kit::TextLayer::make()) {
    loadStoredSize();
    std::string stored = loadOption("counterStyle", "1");
    // The style picks a pin outline: a stored text outside 0...2 is brought back into range.
    style = stored.empty() ? 1 : clampCounterStyle(parseIntOr(stored, 1));
    shape = kit::ShapeLayer::make();
    layer = shape;
    shape->setStrokeColor(kit::Color::clear());
    shape->setLineWidth(0);
    shape->setFillColor(color);
    shape->setLineJoin(kit::LineJoin::Miter);
    ltext->setShouldRasterize(true);
    ltext->setForegroundColor(kit::Color::white(1));
    ltext->setFont(kit::Font::system(11, kit::FontWeight::Medium));
    shape->addSublayer(ltext);
    knobs.push_back(std::make_unique<Knob>(lcontrol, "point-rotate"));
    attachLayers(drawing, control);
}

double ObjCounter::radius() const {
    return tableAt(diameters, size) * 0.5 * dpr();
}

void ObjCounter::snapAngle(bool snap) {
    double a = std::atan2(rect.height, rect.width);
    if (snap) a = std::round(a * 180 / 45 / std::numbers::pi) * std::numbers::pi * 45 / 180;
    double l = 1.5 * radius();
    rect.width = l * std::cos(a);
    rect.height = l * std::sin(a);
}

kit::Path ObjCounter::shapePath() const {
    double r = radius();
    if (style == 0) return kit::Path::ellipse({rect.x1 - r, rect.y1 - r, 2 * r, 2 * r});
    return ArrHelper::pin(rect.x1, rect.y1, rect.width, rect.height, r, style - 1);
}

void ObjCounter::mouseDown(const kit::Event*, kit::Point p, int) {
    kit::Point q = viewToImage(p);
    mdsx = q.x;
    mdsy = q.y;
    mouseDownRect = rect;
    if (state == "creating") {
        double a = parseDoubleOr(loadOption("counterAngle", kDefaultAngle), -2.356194490192345);
        // A pin sits back from the press against its direction so that its
        // point ends just short of the pressed point; a circle is centred on it.
        double dist = style == 0 ? 0 : 1.65 * radius();
        rect.x1 = std::floor(q.x) - dist * std::cos(a);
        rect.y1 = std::ceil(q.y) - dist * std::sin(a);
        rect.width = 20 * std::cos(a);
        rect.height = 20 * std::sin(a);
        snapAngle(false);
        if (parent)
            count = ++parent->counterCount;
        else
            count = 1;
        mouseDownRect = rect;
    } else if (state == "selected") {
        state = action(p);
    }
}

std::string ObjCounter::action(kit::Point p) {
    if (state == "selected" || state == "move" || state.find("resize") != std::string::npos)
        if (auto k = knobAt(p)) return *k;
    kit::Point q = viewToImage(p);
    double dc = std::hypot(q.x - rect.x1, q.y - rect.y1);
    return dc < radius() + 5 * dpr() / zoom() ? "move" : "default";
}

void ObjCounter::mouseDrag(const kit::Event* event, kit::Point p, int) {
    if (state == "creating") {
        // Dragging while placing moves the badge.
        state = "move";
        baseMouseDrag(event, p);
        state = "creating";
    } else if (state == "move" || state.find("resize") != std::string::npos) {
        baseMouseDrag(event, p);
    } else if (state == "point-rotate") {
        kit::Point q = viewToImage(p);
        rect.width = q.x - rect.x1;
        rect.height = q.y - rect.y1;
        snapAngle(eventHas(event, kit::ModifierFlag::Shift));
    }
    host().setLayoutRequest(1);
}

void ObjCounter::mouseUp(const kit::Event*, kit::Point, int) {
    if (state == "point-rotate")
        saveOption("counterAngle", kit::json::doubleText(std::atan2(rect.height, rect.width)));
    select();
    host().setLayoutRequest(1);
}

void ObjCounter::keyDown(const kit::Event* event, const KeyEvt& key) {
    if (isDigitKey(key.code)) {
        std::string text = event && !event->characters.empty() ? event->characters : "0";
        if (auto digit = kit::parseInt32(text)) {
            double now = kit::wallNow();
            // Two digits typed quickly make a two-digit number.
            int next = (now - prevDigitHit < 0.5 && count <= 9) ? count * 10 + *digit : *digit;
            count = next;
            if (parent && parent->counterCount < count) parent->counterCount = count;
            prevDigitHit = now;
            telemetryEvent("edit", {{"editType", "type"}});
        }
    }
    if (!key.modifiers.command) {
        baseKeyDown(key);
        return;
    }
    double a = std::atan2(rect.height, rect.width), l = std::hypot(rect.width, rect.height);
    double step = key.modifiers.shift ? 0.2617993877991494 : 0.05235987755982988;
    if (key.code == kit::KeyCode::RightArrow) a += step;
    if (key.code == kit::KeyCode::LeftArrow) a -= step;
    rect.width = l * std::cos(a);
    rect.height = l * std::sin(a);
    saveOption("counterAngle", kit::json::doubleText(a));
}

void ObjCounter::remove() {
    ProtoObject::remove();
    count = 0;
    if (parent) parent->renumberCounters();
}

services::Rect ObjCounter::anchorPoint() {
    if (rect.width == 0 && rect.height == 0) return host().source();
    double r = radius();
    return {rect.x1 - r, rect.y1 - r, 2 * r, 2 * r};
}

void ObjCounter::changeSize(int step) {
    ProtoObject::changeSize(step);
    snapAngle(false);
    host().layoutNow(true);
}

void ObjCounter::setValue(const std::string& key, const std::string& value) {
    ProtoObject::setValue(key, value);
    if (key == "size") {
        snapAngle(false);
    } else if (key == "changeStyle") {
        style = (style + 1) % 3;
        saveOption("counterStyle", std::to_string(style));
    }
}

void ObjCounter::draw() {
    if (rect.width == 0 && rect.height == 0) {
        setLayersVisible(false, false);
        return;
    }
    const double d = dpr(), z = zoom();
    shape->setStrokeColor(state == "highlighted" ? kHighlightColor : kit::Color::clear());
    shape->setFillColor(color);
    const bool light = 0.299 * color.r + 0.587 * color.g + 0.114 * color.b > 0.6;
    ltext->setShouldRasterize(true);
    ltext->setMagnificationFilter(kit::ScalingFilter::Nearest);
    ltext->setString(std::to_string(count));
    ltext->setForegroundColor(light ? kit::Color::black() : kit::Color::white(1));
    double fontSize = radius() * 1.1 * (count < 10 ? 1.0 : 0.9);
    ltext->setFont(kit::Font::system(fontSize, light ? kit::FontWeight::Regular : kit::FontWeight::Medium));
    ltext->setContentsScale(d);
    kit::Size pref = ltext->preferredFrameSize();
    double nudge = d * tableAt(diameters, size) / 28;
    ltext->setFrame({std::round(rect.x1 - pref.width / 2) + 0.3 * nudge,
                     std::round(rect.y1 - pref.height / 2) + 0.5 * nudge, pref.width, pref.height});
    shape->setPath(shapePath());
    shape->setLineWidth(3 * d / std::sqrt(z));
    if (state == "selected") {
        const double k = 1 / d;
        kit::Point p0 = imageToView({rect.x1, rect.y1}) * k;
        kit::Point v = kit::Point{rect.width, rect.height} * (z * k);
        double a = std::atan2(v.y, v.x), l = std::hypot(v.x, v.y) + 4 * d;
        knobs[0]->draw(p0.x + l * std::cos(a), p0.y + l * std::sin(a));
    }
    setLayersVisible(true, state == "selected");
}

std::string ObjCounter::dump() {
    kit::Json j = baseRecord();
    j["style"] = style;
    j["count"] = count;
    return encode(j);
}

bool ObjCounter::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    auto s = kit::json::intAt(*j, "style"), c = kit::json::intAt(*j, "count");
    if (!base || !s || !c) return false;
    applyBase(*base);
    style = clampCounterStyle(*s);
    count = int(std::clamp<int64_t>(*c, INT32_MIN, INT32_MAX));
    return true;
}

}  // namespace objects
