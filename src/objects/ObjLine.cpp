#include "objects/ObjLine.h"

#include <cmath>

#include "imaging/PixelSampling.h"
#include "objects/ArrHelper.h"
#include "objects/ObjectHost.h"

namespace objects {

namespace {

std::string nextCap(const std::string& cap) {
    if (cap == "none") return "arrow";
    if (cap == "arrow") return "bullet";
    if (cap == "bullet") return "none";
    return cap;  // an unknown word (from a dump) stays
}
}  // namespace

void nudgeVector(services::Rect& rect, const KeyEvt& key, double step) {
    services::Rect before = rect;
    const bool cmd = key.modifiers.command;
    switch (key.code) {
        case kit::KeyCode::LeftArrow:
            (cmd ? rect.width : rect.x1) -= step;
            break;
        case kit::KeyCode::RightArrow:
            (cmd ? rect.width : rect.x1) += step;
            break;
        case kit::KeyCode::DownArrow:
            (cmd ? rect.height : rect.y1) -= step;
            break;
        case kit::KeyCode::UpArrow:
            (cmd ? rect.height : rect.y1) += step;
            break;
        default:
            break;
    }
    if (rect.width == 0 && rect.height == 0) rect = before;
}

double distanceToLine(const services::Rect& r, kit::Point q) {
    return std::fabs((r.y1 - q.y) * r.width - (r.x1 - q.x) * r.height) / std::hypot(r.width, r.height);
}

void keepLongerAxis(services::Rect& rect) {
    if (std::fabs(rect.width) > std::fabs(rect.height))
        rect.height = 0;
    else
        rect.width = 0;
}

void dragVector(services::Rect& rect, const services::Rect& mouseDownRect, const std::string& state,
                double dx, double dy) {
    rect = mouseDownRect;
    if (state == "move") {
        rect.x1 += dx;
        rect.y1 += dy;
    } else if (state == "point-1") {
        // The start moves, the end stays where it was.
        rect.x1 += dx;
        rect.y1 += dy;
        rect.width -= dx;
        rect.height -= dy;
    } else if (state == "point-2") {
        rect.width += dx;
        rect.height += dy;
    }
}

ObjLine::ObjLine(ObjectHost* parentManager, const kit::LayerPtr& drawing, const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control) {
    loadStoredSize();
    shape = kit::ShapeLayer::make();
    layer = shape;
    shape->setStrokeColor(color);
    shape->setLineWidth(tableAt(widths, size) * dpr());
    shape->setFillColor(std::nullopt);
    shape->setLineCap(kit::LineCap::Round);
    shape->setLineJoin(kit::LineJoin::Round);
    knobs.push_back(std::make_unique<Knob>(lcontrol, "point-1"));
    knobs.push_back(std::make_unique<Knob>(lcontrol, "point-2"));
    attachLayers(drawing, control);
}

void ObjLine::draw() {
    if (rect.width == 0 && rect.height == 0) {
        setLayersVisible(false, false);
        return;
    }
    const double z = zoom(), d = dpr(), nominal = tableAt(widths, size);
    shape->setStrokeColor(state == "highlighted" ? kHighlightColor : color);
    const double L = std::hypot(rect.width, rect.height);
    shape->setLineJoin(L < 20 ? kit::LineJoin::Miter : kit::LineJoin::Round);
    // A line shorter than ten times its width is drawn thinner.
    const double w = std::min(L / 10, nominal) * d;
    auto [o1, o2] = ArrHelper::alignment(w, host());
    const double o = o1 + o2;
    const double dx = z < 1 ? 2 * std::round(rect.width / 2) : rect.width;
    kit::Path path;
    path.moveTo({rect.x1 + o, rect.y1 + o});
    path.lineTo({rect.x1 + dx + o, rect.y1 + rect.height + o});
    if (!dotted) {
        ArrHelper::addCap(path, rect.x1 + o, rect.y1 + o, rect.width, rect.height, w, 0, "start", startCap,
                          endCap, host());
        ArrHelper::addCap(path, rect.x1 + o, rect.y1 + o, rect.width, rect.height, w, 0, "end", startCap,
                          endCap, host());
    }
    shape->setPath(std::move(path));
    shape->setLineWidth(w);
    if (dotted)
        shape->setLineDashPattern({1.5 * d, (nominal * 1.5 + 2) * d});
    else
        shape->setLineDashPattern({});
    if (state == "selected") {
        auto [p0, e, u] = vectorEnds();
        knobs[0]->draw(p0.x - u.x, p0.y - u.y);
        knobs[1]->draw(e.x + u.x, e.y + u.y);
    }
    setLayersVisible(true, state == "selected");
}

std::string ObjLine::action(kit::Point p) {
    if (auto k = knobFirst(p)) return *k;
    kit::Point q = viewToImage(p);
    const double d = dpr();
    const double t = (tableAt(widths, size) * 0.5 + 1) * d + 5 * d / zoom();
    if (withinSpan(q, t) && distanceToLine(rect, q) < t) return "move";
    return "default";
}

void ObjLine::mouseDrag(const kit::Event* event, kit::Point p, int) {
    kit::Point q = viewToImage(p);
    const bool shift = eventHas(event, kit::ModifierFlag::Shift);
    if (state == "creating") {
        dragFarCorner(q);
        if (shift) keepLongerAxis(rect);
    } else if (state == "move" || state.find("point") != std::string::npos) {
        kit::Point d = dragDelta(q, shift);
        dragVector(rect, mouseDownRect, state, d.x, d.y);
    }
    host().setLayoutRequest(1);
}

void ObjLine::mouseUp(const kit::Event* event, kit::Point p, int) {
    select();
    host().setLayoutRequest(1);
    if (eventHas(event, kit::ModifierFlag::Command)) toggleCap(p);
}

void ObjLine::dblClick(const kit::Event*, kit::Point p, int) {
    toggleCap(p);
}

void ObjLine::toggleCap(kit::Point p) {
    std::string w = action(p);
    if (w == "point-1" || w == "point-2") {
        std::string& cap = w == "point-1" ? startCap : endCap;
        cap = nextCap(cap);
        telemetryEvent("edit",
                       {{"editType", "lineCap"}, {"object", activeTypeOfParent()}, {"method", "Cmd+Click"}});
    } else if (w == "move") {
        dotted = !dotted;
        telemetryEvent(
            "edit", {{"editType", "lineStyle"}, {"object", activeTypeOfParent()}, {"method", "Cmd+Click"}});
    }
    if (parent) parent->refreshToolSettings();
}

void ObjLine::keyDown(const kit::Event*, const KeyEvt& key) {
    if (key.code == kit::KeyCode::Escape) {
        if (parent) parent->deactivate();
        return;
    }
    if (state != "selected") return;
    nudgeVector(rect, key, keyStep(key.modifiers.shift));
}

std::optional<std::string> ObjLine::getValue(const std::string& key) {
    if (key == "lineType") return dotted ? "dash" : "line";
    return ProtoObject::getValue(key);
}

void ObjLine::setValue(const std::string& key, const std::string& value) {
    if (key == "lineType") {
        if (value == "line" || value == "dash") {
            startCap = endCap = "none";
            dotted = value == "dash";
        }
        return;
    }
    ProtoObject::setValue(key, value);
}

std::string ObjLine::dump() {
    kit::Json j = baseRecord();
    j["startCap"] = startCap;
    j["endCap"] = endCap;
    j["dotted"] = dotted;
    return encode(j);
}

bool ObjLine::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    auto sc = kit::json::stringAt(*j, "startCap"), ec = kit::json::stringAt(*j, "endCap");
    auto dt = kit::json::boolAt(*j, "dotted");
    if (!base || !sc || !ec || !dt) return false;
    applyBase(*base);
    startCap = *sc;
    endCap = *ec;
    dotted = *dt;
    return true;
}

}  // namespace objects
