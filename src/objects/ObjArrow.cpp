#include "objects/ObjArrow.h"

#include <cmath>
#include <numbers>

#include "objects/ArrHelper.h"
#include "objects/ObjLine.h"
#include "objects/ObjectHost.h"

namespace objects {

namespace {

int clampArrowStyle(int64_t s) {
    return int(std::clamp<int64_t>(s, 0, 3));
}
}  // namespace

ObjArrow::ObjArrow(ObjectHost* parentManager, const kit::LayerPtr& drawing, const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control) {
    loadStoredSize();
    type = parseIntOr(loadOption("arrowType", "0"), 0);
    // The style indexes the four outlines: a stored text outside them is
    // brought back into range.
    style = clampArrowStyle(parseIntOr(loadOption("arrowStyle", "0"), 0));
    shape = kit::ShapeLayer::make();
    layer = shape;
    for (const char* word : {"point-1", "point-2", "point-curve"})
        knobs.push_back(std::make_unique<Knob>(lcontrol, word));
    attachLayers(drawing, control);
}

void ObjArrow::draw() {
    if (rect.width == 0 && rect.height == 0) {
        setLayersVisible(false, false);
        return;
    }
    const double z = zoom(), d = dpr();
    kit::Point s{rect.x1, rect.y1};
    kit::Point v{z < 1 ? 2 * std::round(rect.width / 2) : rect.width, rect.height};
    if (state == "creating" && reversed) {
        s = s + v;
        v = v * -1;
    }
    const double L = std::hypot(v.x, v.y);
    double w = std::min(L / 10, tableAt(ArrHelper::arrowWidths, size)) * d;
    // From 50 points of length the stroke thickens, up to 1.5 times at 800.
    double f = std::sqrt((L / d + 550) / 600);
    if (f >= 1.5)
        w *= 1.5;
    else if (f >= 1)
        w *= f;
    if (w > 4 && d == 1) w = std::round(w);
    width = w;
    const kit::Color col = state == "highlighted" ? kHighlightColor : color;
    if (type == 0) {
        ArrHelper::drawHead(*shape, col, s.x, s.y, v.x, v.y, size, style, host());
    } else if (type == 1 || type == 2) {
        if (midpa == 0) {
            radius = 0;
            ArrHelper::drawLineArrow(*shape, col, s.x, s.y, v.x, v.y, w, 0, 0, 0, type, host());
        } else {
            double th = std::atan2(v.y, v.x);
            kit::Point m = s + kit::Point{std::cos(th + midpa), std::sin(th + midpa)} * (L * midpd);
            center = ArrHelper::circleCenter(s, m, s + v);
            radius = std::hypot(s.x - center.x, s.y - center.y);
            // A curve point on the chord has no circle: the arrow is straight.
            if (!std::isfinite(radius)) {
                radius = 0;
                center = {0, 0};
            }
            ArrHelper::drawLineArrow(*shape, col, s.x, s.y, v.x, v.y, w, m.x, m.y, midpa, type, host());
        }
    } else {
        shape->setPath({});
    }
    if (state == "selected") {
        auto [p0, e, u] = vectorEnds();
        double t = 0;
        if (d == 1 && midpa == 0) {
            auto [o1, o2] = ArrHelper::alignment(width, host());
            t = (o1 + o2) * z;
        }
        knobs[0]->draw(p0.x - u.x + t, p0.y - u.y + t);
        knobs[1]->draw(e.x + u.x + t, e.y + u.y + t);
        knobs[2]->shown = type != 0;
        double g = std::atan2(e.y - p0.y, e.x - p0.x) + midpa;
        double len = std::hypot(e.x - p0.x, e.y - p0.y) * midpd;
        knobs[2]->draw(p0.x + len * std::cos(g) + t, p0.y + len * std::sin(g) + t);
    }
    setLayersVisible(true, state == "selected");
}

std::string ObjArrow::action(kit::Point p) {
    if (auto k = knobFirst(p)) return *k;
    kit::Point q = viewToImage(p);
    const double d = dpr(), z = zoom();
    const bool line = type == 1 || type == 2;
    const double tol =
        line ? width * 0.5 + 5 * d / z : tableAt(ArrHelper::headScales, size) * 0.5 * 20 * d + 5 * d / z;
    if (line && midpa != 0 && radius > 0) {
        double dc = std::hypot(q.x - center.x, q.y - center.y);
        if (!(radius - tol < dc && dc < radius + tol)) return "default";
        double a1 = wrapAngle(std::atan2(rect.y1 - center.y, rect.x1 - center.x));
        double ae = wrapAngle(std::atan2(rect.y1 + rect.height - center.y, rect.x1 + rect.width - center.x));
        double aq = wrapAngle(std::atan2(q.y - center.y, q.x - center.x));
        bool hit = a1 > ae ? ((midpa <= 0) != (ae < aq && aq < a1)) : ((midpa >= 0) != (a1 < aq && aq < ae));
        return hit ? "move" : "default";
    }
    if (withinSpan(q, tol) && distanceToLine(rect, q) < tol) return "move";
    return "default";
}

void ObjArrow::mouseDrag(const kit::Event* event, kit::Point p, int) {
    kit::Point q = viewToImage(p);
    const bool shift = eventHas(event, kit::ModifierFlag::Shift);
    if (state == "creating") {
        dragFarCorner(q);
        if (shift) keepLongerAxis(rect);
        reversed = eventHas(event, kit::ModifierFlag::Command);
    } else if (state == "point-curve") {
        rect = mouseDownRect;
        const double L = std::hypot(rect.width, rect.height);
        // A chord of no length has no direction to bend from.
        if (L > 0) {
            midpd = std::hypot(q.x - rect.x1, q.y - rect.y1) / L;
            if (distanceToLine(rect, q) < 7 * dpr() / zoom()) {
                midpa = 0;
                midpd = std::clamp(midpd, 0.05, 0.95);
            } else {
                midpa =
                    wrapAngle(std::atan2(q.y - rect.y1, q.x - rect.x1) - std::atan2(rect.height, rect.width));
            }
        }
    } else if (state == "move" || state.find("point") != std::string::npos) {
        kit::Point d = dragDelta(q, shift);
        dragVector(rect, mouseDownRect, state, d.x, d.y);
    }
    host().setLayoutRequest(1);
}

void ObjArrow::mouseUp(const kit::Event* event, kit::Point, int) {
    double l2r = radius != 0 ? std::hypot(rect.width, rect.height) / radius : 0;
    if (!std::isfinite(l2r)) l2r = 0;
    const bool wasCreating = state == "creating";
    if (wasCreating && reversed) {
        rect.x1 += rect.width;
        rect.y1 += rect.height;
        rect.width = -rect.width;
        rect.height = -rect.height;
    }
    telemetryPreset("edit", {{"midpa", midpa}, {"midpd", midpd}, {"l2r", l2r}});
    telemetryPreset("draw", {{"arrowStyle", style}, {"arrowType", type}});
    select();
    host().setLayoutRequest(1);
    if (!wasCreating && eventHas(event, kit::ModifierFlag::Command)) cycleStyle();
}

void ObjArrow::dblClick(const kit::Event*, kit::Point, int) {
    cycleStyle();
}

void ObjArrow::cycleStyle() {
    style = (style + 1) % 4;
    saveOption("arrowStyle", std::to_string(style));
    if (parent) parent->refreshToolSettings();
    telemetryEvent("edit", {{"editType", "arrowStyle"},
                            {"value", style},
                            {"object", activeTypeOfParent()},
                            {"method", "Cmd+Click"}});
    host().setLayoutRequest(1);
}

void ObjArrow::keyDown(const kit::Event*, const KeyEvt& key) {
    if (key.code == kit::KeyCode::Escape) {
        if (parent) parent->deactivate();
        return;
    }
    if (state == "creating" && key.modifiers.command) reversed = true;
    if (state != "selected") return;
    nudgeVector(rect, key, keyStep(key.modifiers.shift));
}

void ObjArrow::keyUp(const kit::Event*, const KeyEvt& key) {
    // Either Command key (right 54, left 55) ends the reversal; on Linux the
    // left Ctrl is the one people hold.
    if (state == "creating" && (key.code == kit::KeyCode::RightCommand || key.code == kit::KeyCode::Command))
        reversed = false;
}

std::optional<std::string> ObjArrow::getValue(const std::string& key) {
    if (key == "arrowType") return std::to_string(type);
    return ProtoObject::getValue(key);
}

void ObjArrow::setValue(const std::string& key, const std::string& value) {
    if (key == "arrowType") {
        type = parseIntOr(value, 0);
        host().layoutNow(false);
        saveOption("arrowType", std::to_string(type));
    } else if (key == "changeStyle") {
        style = (style + 1) % 4;
        saveOption("arrowStyle", std::to_string(style));
    } else {
        ProtoObject::setValue(key, value);
    }
}

std::string ObjArrow::dump() {
    kit::Json j = baseRecord();
    j["type"] = type;
    j["style"] = style;
    j["midpa"] = midpa;
    j["midpd"] = midpd;
    return encode(j);
}

bool ObjArrow::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    auto t = kit::json::intAt(*j, "type"), s = kit::json::intAt(*j, "style");
    auto a = kit::json::doubleAt(*j, "midpa"), m = kit::json::doubleAt(*j, "midpd");
    if (!base || !t || !s || !a || !m) return false;
    applyBase(*base);
    type = int(std::clamp<int64_t>(*t, INT32_MIN, INT32_MAX));
    style = clampArrowStyle(*s);
    midpa = *a;
    midpd = *m;
    return true;
}

}  // namespace objects
