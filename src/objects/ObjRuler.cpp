#include "objects/ObjRuler.h"

#include <cmath>

#include "objects/ObjectHost.h"

namespace objects {

ObjRuler::ObjRuler(ObjectHost* parentManager, const kit::LayerPtr& drawing, const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control), ltext(kit::TextLayer::make()) {
    loadStoredSize();
    shape = kit::ShapeLayer::make();
    layer = shape;
    ltext->setShouldRasterize(true);
    ltext->setForegroundColor(kit::Color::white(1));
    ltext->setFont(kit::Font::system(11, kit::FontWeight::Medium));
    shape->addSublayer(ltext);
    shape->setFillColor(color);
    knobs.push_back(std::make_unique<Knob>(lcontrol, "b-resize"));
    knobs.push_back(std::make_unique<Knob>(lcontrol, "t-resize"));
    attachLayers(drawing, control);
}

double ObjRuler::viewDpr() const {
    return host().dpr();
}

void ObjRuler::updateKnobs(bool isVertical) {
    vertical = isVertical;
    knobs[0]->cursor = vertical ? "b-resize" : "l-resize";
    knobs[1]->cursor = vertical ? "t-resize" : "r-resize";
}

std::string ObjRuler::valueText() const {
    double length = vertical ? rect.height : rect.width;
    double value = length / dpr;
    std::string text = value == std::round(value) && std::isfinite(value) ? std::to_string((long long)value)
                                                                          : kit::json::doubleText(value);
    return text + (dpr == 1.0 ? "px" : "pt");
}

kit::Path ObjRuler::shapePath(bool inView) const {
    const double d = viewDpr();
    services::Rect r = rect;
    double s = 1;
    if (inView) {
        s = zoom();
        kit::Point o = imageToView({r.x1, r.y1});
        r = {o.x, o.y, r.width * s, r.height * s};
    }
    if (vertical)
        r.x1 -= 0.5 * s;
    else
        r.y1 -= 0.5 * s;
    double X = std::round(r.x1) / d, Y = std::round(r.y1) / d;
    double W = std::round(r.width) / d, H = std::round(r.height) / d;
    if (W <= 1) W = 1;
    if (H <= 1) H = 1;
    const double k = inView ? 1 : d;
    auto box = [k](double x, double y, double w, double h) {
        return services::Rect{x * k, y * k, w * k, h * k};
    };
    services::Rect parts[3] = {box(X, Y, W, H), vertical ? box(X - 3, Y, 7, 1) : box(X, Y - 3, 1, 7),
                               vertical ? box(X - 3, Y + H - 1, 7, 1) : box(X + W - 1, Y - 3, 1, 7)};
    kit::Path path;
    for (const auto& p : parts) path.addRect(p.toKit());
    return path;
}

void ObjRuler::draw() {
    if (rect.width == 0 && rect.height == 0) {
        setLayersVisible(false, false);
        return;
    }
    const double d = viewDpr(), z = zoom();
    if (vertical)
        rect.width = 0;
    else
        rect.height = 0;
    shape->setShouldRasterize(!(z >= 1.0 && state != "unselected" && state != "highlighted"));
    shape->setFillColor(state == "highlighted" ? kHighlightColor : color);
    kit::Path path = shapePath(false);
    const bool light = 0.299 * color.r + 0.587 * color.g + 0.114 * color.b > 0.6;
    ltext->setString(valueText());
    ltext->setForegroundColor(light ? kit::Color::black() : kit::Color::white(1));
    ltext->setFont(kit::Font::system(11 * d, light ? kit::FontWeight::Regular : kit::FontWeight::Medium));
    ltext->setContentsScale(d);
    ltext->setShouldRasterize(true);
    ltext->setMagnificationFilter(kit::ScalingFilter::Nearest);
    kit::Size label = ltext->preferredFrameSize();
    if (flipIfNeeded) {
        const services::Rect src = host().source();
        if (!vertical && (tdist + label.height + 4.0) * d + rect.y1 > src.height)
            tdist = -12.0 - label.height;
        if (vertical && (tdist + label.width + 4.0) * d + rect.x1 > src.width) tdist = -12.0 - label.width;
        flipIfNeeded = false;
    }
    // The label's reach is measured on a line of at least one pixel: a
    // restored or imprinted ruler can have no length (or -0, or a negative
    // one), which would put the label at infinity and the ruler out of every
    // later dump.
    const double length = std::fabs(vertical ? rect.height : rect.width);
    const double span = length >= 1 ? length : 1.0;
    if (!std::isfinite(tperc)) tperc = 0.5;
    double ox, oy;
    if (vertical) {
        tperc = std::clamp(tperc, -30 * d / span, 30 * d / span + 1);
        double ax = rect.x1 + d * tdist, ay = rect.y1 + rect.height * tperc;
        ox = std::round(ax);
        oy = std::round(ay - 0.5 * label.height);
    } else {
        tperc = std::clamp(tperc, -50 * d / span, 50 * d / span + 1);
        double ax = rect.x1 + rect.width * tperc, ay = rect.y1 + d * tdist;
        ox = std::round(ax - 0.5 * label.width);
        oy = std::round(ay);
    }
    ltext->setFrame({ox, oy, label.width, label.height});
    textRect = {ox - 4 * d, oy - 2 * d, label.width + 8 * d, label.height + 4 * d};
    path.addRoundedRect(textRect.toKit(), 2 * d, 2 * d);
    shape->setPath(std::move(path));
    if (state == "selected") {
        kit::Point o = imageToView({rect.x1, rect.y1});
        services::Rect v =
            services::Rect::fromKit(kit::Rect(o.x, o.y, rect.width * z, rect.height * z).standardized());
        auto r = [d](double t) { return std::round(t) / d; };
        if (!vertical) {
            knobs[0]->draw(r(v.x1 - 6 * d), r(v.y1 + z * d / 2));
            knobs[1]->draw(r(v.x1 + v.width + 6 * d), r(v.y1 + v.height + z * d / 2));
        } else {
            knobs[0]->draw(r(v.x1 + z * d / 2), r(v.y1 - 6 * d));
            knobs[1]->draw(r(v.x1 + v.width + z * d / 2), r(v.y1 + v.height + 6 * d));
        }
    }
    setLayersVisible(true, state == "selected");
}

std::string ObjRuler::action(kit::Point p) {
    if (state == "move" || state.find("resize") != std::string::npos) return state;
    if (state == "selected" || state.find("point") != std::string::npos)
        if (auto k = knobAt(p)) return *k;
    kit::Point q = viewToImage(p);
    const services::Rect tr = services::Rect::fromKit(textRect.toKit().standardized());
    if (q.x > tr.x1 && q.x < tr.x1 + tr.width && q.y > tr.y1 && q.y < tr.y1 + tr.height) return "move-text";
    const double t = 10 * viewDpr() / zoom();
    const double x0 = std::min(rect.x1, rect.x1 + rect.width), x1 = std::max(rect.x1, rect.x1 + rect.width);
    const double y0 = std::min(rect.y1, rect.y1 + rect.height), y1 = std::max(rect.y1, rect.y1 + rect.height);
    bool hit = vertical
                   ? (q.x > rect.x1 - 1 - t && q.x < rect.x1 + rect.width + 3 + t && q.y > y0 && q.y < y1)
                   : (q.y > rect.y1 - 1 - t && q.y < rect.y1 + rect.height + 3 + t && q.x > x0 && q.x < x1);
    return hit ? "move" : "default";
}

void ObjRuler::mouseDown(const kit::Event* event, kit::Point p, int) {
    baseMouseDown(p);
    mdPerc = tperc;
    mdDist = tdist;
    if (eventHas(event, kit::ModifierFlag::Command)) toggleUnits(p);
}

void ObjRuler::dblClick(const kit::Event*, kit::Point p, int) {
    toggleUnits(p);
}

void ObjRuler::toggleUnits(kit::Point p) {
    if (action(p) != "move-text") return;
    dpr = dpr == 1.0 ? viewDpr() : 1.0;
    if (parent) parent->refreshToolSettings();
    host().layoutNow(false);
}

void ObjRuler::mouseDrag(const kit::Event* event, kit::Point p, int) {
    baseMouseDrag(event, p);
    double& length = vertical ? rect.height : rect.width;
    if (length < 1.0) length = 1.0;
    if (state == "move-text") {
        kit::Point q = viewToImage(p);
        double dx = std::round(q.x - mdsx), dy = std::round(q.y - mdsy);
        if (vertical) {
            tperc = mdPerc + dy / rect.height;
            tdist = mdDist + dx / viewDpr();
        } else {
            tperc = mdPerc + dx / rect.width;
            tdist = mdDist + dy / viewDpr();
        }
    }
    host().setLayoutRequest(1);
}

void ObjRuler::mouseUp(const kit::Event* event, kit::Point p, int button) {
    normalizeRect();
    ProtoObject::mouseUp(event, p, button);
    host().setLayoutRequest(1);
}

void ObjRuler::keyDown(const kit::Event*, const KeyEvt& key) {
    baseKeyDownKeepingExtent(key);
}

std::optional<std::string> ObjRuler::getValue(const std::string& key) {
    if (key == "rulerPixels") return dpr == 1.0 ? "px" : "pt";
    return ProtoObject::getValue(key);
}

void ObjRuler::setValue(const std::string& key, const std::string& value) {
    if (key == "rulerPixels")
        dpr = value == "px" ? 1.0 : 2.0;
    else
        ProtoObject::setValue(key, value);
}

std::string ObjRuler::dump() {
    kit::Json j = baseRecord();
    j["vertical"] = vertical;
    j["tperc"] = tperc;
    j["tdist"] = tdist;
    j["dpr"] = dpr;
    return encode(j);
}

bool ObjRuler::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    auto v = kit::json::boolAt(*j, "vertical");
    auto tp = kit::json::doubleAt(*j, "tperc"), td = kit::json::doubleAt(*j, "tdist"),
         dv = kit::json::doubleAt(*j, "dpr");
    if (!base || !v || !tp || !td || !dv) return false;
    applyBase(*base);
    updateKnobs(*v);
    tperc = *tp;
    tdist = *td;
    // A divisor of zero or less (a record edited by hand) would show no
    // number at all: such a ruler shows pixels.
    dpr = *dv > 0 ? *dv : 1.0;
    draw();
    return true;
}

}  // namespace objects
