#include "objects/ObjRectangle.h"

#include <cmath>

#include "imaging/PixelSampling.h"
#include "kit/base/Parse.h"
#include "objects/ObjectHost.h"

namespace objects {

namespace {

const char* const kResizeWords[] = {"bl-resize", "tl-resize", "br-resize", "tr-resize",
                                    "l-resize",  "t-resize",  "r-resize",  "b-resize"};

}  // namespace

std::string fillLevel(bool fill, double alpha) {
    if (!fill || alpha == 0) return "0";
    if (alpha == 1) return "100";
    return "40";
}

void writeFillKeys(kit::Json& j, bool fill, bool border, double alpha) {
    j["showBackground"] = fill;
    j["showBorder"] = border;
    j["backgroundAlpha"] = alpha;
}

bool readFillKeys(const kit::Json& j, bool& fill, bool& border, double& alpha) {
    auto b = kit::json::boolAt(j, "showBackground");
    auto s = kit::json::boolAt(j, "showBorder");
    auto a = kit::json::doubleAt(j, "backgroundAlpha");
    if (!b || !s || !a) return false;
    fill = *b;
    border = *s;
    alpha = *a;
    return true;
}

void toggleBorderAndFill(int code, bool& border, bool& fill) {
    if (code == kit::KeyCode::B) {
        if (!border)
            border = true;
        else if (fill)
            border = false;
    } else if (code == kit::KeyCode::F) {
        if (!fill)
            fill = true;
        else if (border)
            fill = false;
    }
}

void addResizeKnobs(ProtoObject& object) {
    for (const char* word : kResizeWords)
        object.knobs.push_back(std::make_unique<Knob>(object.lcontrol, word));
}

void placeResizeKnobsAround(ProtoObject& object, const services::Rect& r, double w0points, KnobSnap snap) {
    const ObjectHost& f = object.host();
    const double d = f.dpr(), z = f.zoom();
    kit::Point v = f.imageToView({r.x1, r.y1});
    double W = r.width * z, H = r.height * z;
    double left = W < 0 ? v.x + W : v.x, wv = std::fabs(W);
    double bottom = H < 0 ? v.y + H : v.y, hv = std::fabs(H);
    double margin = (w0points / 2) * d * z + 6 * d;
    // Either way the handles land on whole device pixels of the canvas.
    auto place = [&](double t) {
        return snap == KnobSnap::Scaled ? std::round(t * d) / d / d : std::round(t) / d;
    };
    double L = place(left - margin), B = place(bottom - margin);
    double R = place(left + wv + margin), T = place(bottom + hv + margin);
    double mx = L + (R - L) / 2, my = B + (T - B) / 2;
    const double pos[8][2] = {{L, B}, {L, T}, {R, B}, {R, T}, {L, my}, {mx, T}, {R, my}, {mx, B}};
    for (size_t i = 0; i < object.knobs.size() && i < 8; ++i) object.knobs[i]->draw(pos[i][0], pos[i][1]);
}

ObjRectangle::ObjRectangle(ObjectHost* parentManager, const kit::LayerPtr& drawing,
                           const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control) {
    loadStoredSize();
    double d = dpr();
    layer->setBorderWidth(w0() * d);
    layer->setBorderColor(color);
    layer->setCornerRadius(3 * d);
    addResizeKnobs(*this);
    attachLayers(drawing, control);
    wantsSpotlight = false;
}

double ObjRectangle::w0() const {
    return tableAt(widths, size);
}

double ObjRectangle::cornerRadiusPoints() const {
    double r = (std::min(std::fabs(rect.width), std::fabs(rect.height)) / dpr()) * 0.125 - 1;
    if (!(r > 0)) r = 0;
    return std::min(w0() + 2, r);
}

void ObjRectangle::draw() {
    if (rect.width == 0 && rect.height == 0) {
        setLayersVisible(false, false);
        return;
    }
    const double d = dpr(), w = w0();
    if (state == "highlighted") {
        layer->setBorderColor(kHighlightColor);
    } else {
        layer->setBorderColor(showBorder ? color : kit::Color::clear());
        layer->setBackgroundColor(showBackground ? std::optional(transparentColor(color, backgroundAlpha))
                                                 : std::nullopt);
    }
    // The border straddles the rectangle's edge; at odd pixel ratios a half
    // pixel keeps a one-pixel border on whole pixels.
    double off = (int64_t(d) % 2 != 0) ? 0.5 : 0.0;
    double minX = std::min(rect.x1, rect.x1 + rect.width), minY = std::min(rect.y1, rect.y1 + rect.height);
    layer->setFrame({minX - d * w / 2 + off, minY - d * w / 2 + off, std::fabs(rect.width) + d * w - 2 * off,
                     std::fabs(rect.height) + d * w - 2 * off});
    // A fill without an outline has square corners.
    bool fillOnly = !showBorder && showBackground;
    layer->setCornerRadius(fillOnly ? 0 : cornerRadiusPoints() * d);
    layer->setBorderWidth(w * d);
    if (state == "selected") placeResizeKnobsAround(*this, rect, w, KnobSnap::Scaled);
    setLayersVisible(true, state == "selected");
}

std::optional<kit::Path> ObjRectangle::outlinePath() {
    double r = cornerRadiusPoints() * dpr();
    kit::Path path;
    path.addRoundedRect({rect.x1, rect.y1, rect.width, rect.height}, r, r);
    return path;
}

std::string ObjRectangle::action(kit::Point p) {
    if (state == "selected" || state == "move" || state.find("resize") != std::string::npos)
        if (auto k = knobAt(p)) return *k;
    kit::Point q = viewToImage(p);
    const double d = dpr();
    double t = (w0() / 2 + 1) * d + 5 * d / zoom();
    double x0 = std::min(rect.x1, rect.x1 + rect.width), x1 = std::max(rect.x1, rect.x1 + rect.width);
    double y0 = std::min(rect.y1, rect.y1 + rect.height), y1 = std::max(rect.y1, rect.y1 + rect.height);
    if (showBackground && q.x > x0 && q.x < x1 && q.y > y0 && q.y < y1) return "move";
    bool nearSide = std::fabs(q.x - rect.x1) < t || std::fabs(q.x - (rect.x1 + rect.width)) < t;
    if (nearSide && rect.y1 - t < q.y && q.y < rect.y1 + rect.height + t) return "move";
    bool nearEnd = std::fabs(q.y - rect.y1) < t || std::fabs(q.y - (rect.y1 + rect.height)) < t;
    if (nearEnd && rect.x1 - t < q.x && q.x < rect.x1 + rect.width + t) return "move";
    return "default";
}

void ObjRectangle::mouseUp(const kit::Event*, kit::Point, int) {
    normalizeRect();
    select();
    host().setLayoutRequest(1);
}

void ObjRectangle::fillKeys(const kit::Event* event, const KeyEvt& key) {
    toggleBorderAndFill(key.code, showBorder, showBackground);
    if (eventHas(event, kit::ModifierFlag::Command)) return;
    if (!isDigitKey(key.code)) return;
    std::string text = keyCharacters(event);
    if (text.empty()) return;
    auto n = kit::parseInt32(text);
    if (!n) return;
    if (*n >= 1 && *n <= 9) {
        showBackground = true;
        backgroundAlpha = *n / 10.0;
    } else if (*n == 0) {
        showBackground = true;
        backgroundAlpha = 1.0;
    }
}

void ObjRectangle::keyDown(const kit::Event* event, const KeyEvt& key) {
    baseKeyDownKeepingExtent(key);
    fillKeys(event, key);
}

std::optional<std::string> ObjRectangle::getValue(const std::string& key) {
    if (key == "fill") return fillLevel(showBackground, backgroundAlpha);
    return ProtoObject::getValue(key);
}

void ObjRectangle::setValue(const std::string& key, const std::string& value) {
    if (key == "fill") {
        backgroundAlpha = parseDoubleOr(value, 1) / 100;
        showBackground = backgroundAlpha > 0;
        showBorder = true;
        return;
    }
    ProtoObject::setValue(key, value);
}

kit::Json ObjRectangle::rectangleRecord() const {
    kit::Json j = baseRecord();
    writeFillKeys(j, showBackground, showBorder, backgroundAlpha);
    return j;
}

std::string ObjRectangle::dump() {
    return encode(rectangleRecord());
}

bool ObjRectangle::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    bool bg = false, border = true;
    double alpha = 0.3;
    if (!base || !readFillKeys(*j, bg, border, alpha)) return false;
    applyBase(*base);
    showBackground = bg;
    showBorder = border;
    backgroundAlpha = alpha;
    return true;
}

}  // namespace objects
