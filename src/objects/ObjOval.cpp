#include "objects/ObjOval.h"

#include <cmath>

#include "imaging/PixelSampling.h"
#include "kit/base/Parse.h"
#include "objects/ObjRectangle.h"
#include "objects/ObjectHost.h"

namespace objects {

namespace {

struct Row {
    double px, py, ax, ay, bx, by;
};

// The oval's nine points in unit coordinates of the frame.
const Row kOvalRows[9] = {
    {0.22, 0.06, 0.1533, 0.0934, 0.38, -0.02},   {0.78, 0.06, 0.62, -0.02, 0.8467, 0.0934},
    {0.94, 0.22, 0.9066, 0.1533, 1.02, 0.38},    {0.94, 0.78, 1.02, 0.62, 0.9066, 0.8467},
    {0.78, 0.94, 0.8467, 0.9066, 0.62, 1.02},    {0.22, 0.94, 0.38, 1.02, 0.1533, 0.9066},
    {0.06, 0.78, 0.0934, 0.8467, -0.02, 0.62},   {0.06, 0.22, -0.02, 0.38, 0.0934, 0.1533},
    {0.22, 0.06, 0.1533, 0.0934, 0.1533, 0.0934}};

}  // namespace

ObjOval::ObjOval(ObjectHost* parentManager, const kit::LayerPtr& drawing, const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control) {
    loadStoredSize();
    shapeLayer = kit::ShapeLayer::make();
    layer = shapeLayer;
    shapeLayer->setStrokeColor(color);
    shapeLayer->setLineWidth(lineEntry() * dpr());
    shapeLayer->setFillColor(std::nullopt);
    shapeLayer->setLineJoin(kit::LineJoin::Round);
    addResizeKnobs(*this);
    attachLayers(drawing, control);
}

double ObjOval::lineEntry() const {
    return tableAt(widths, size);
}

std::string ObjOval::geometryKey() const {
    using kit::json::doubleText;
    // Besides the frame, shape and size, the points depend on the pixel ratio
    // (corner radius, bulge, sample spacing) and on whether the zoom is below
    // 1 (the even width): a change of either must rebuild the path too.
    return doubleText(rect.x1) + " " + doubleText(rect.y1) + " " + doubleText(rect.width) + " " +
           doubleText(rect.height) + shape + std::to_string(size) + " " + doubleText(dpr()) +
           (zoom() < 1.0 ? "z" : "");
}

std::vector<Point> ObjOval::rectShapePoints() const {
    const double d = dpr(), s = lineEntry();
    const double W = rect.width == 0 ? 1 : std::fabs(rect.width);
    const double H = rect.height == 0 ? 1 : std::fabs(rect.height);
    const double X0 = std::min(rect.x1, rect.x1 + rect.width), Y0 = std::min(rect.y1, rect.y1 + rect.height);
    const double c = s == 0 ? 12 : 6 * s;
    const double R = std::min(std::min(W, H) / 3, c * d);
    const double rx = R / W, ry = R / H;
    const double qx = rx + (1 - 2 * rx) / 4, qy = ry + (1 - 2 * ry) / 4;
    const double ex = std::min(0.7 * d / H, W / (80000 * d)), ey = std::min(0.7 * d / W, H / (80000 * d));
    const double kx = rx * ex / std::max(qx - rx, 0.1), ky = ry * ey / std::max(qy - ry, 0.1);
    const Row rows[9] = {{rx, 0, rx, 0, qx, -ex},
                         {1 - rx, 0, 1 - qx, -ex, 1 - ky, kx},
                         {1, ry, 1 - ky, kx, 1 + ey, qy},
                         {1, 1 - ry, 1 + ey, 1 - qy, 1 - ky, 1 - kx},
                         {1 - rx, 1, 1 - ky, 1 - kx, 1 - qx, 1 + ex},
                         {rx, 1, qx, 1 + ex, ky, 1 - kx},
                         {0, 1 - ry, ky, 1 - kx, -ey, 1 - qy},
                         {0, ry, -ey, qy, ky, kx},
                         {rx, 0, ky, kx, ky, kx}};
    std::vector<Point> out;
    out.reserve(9);
    auto at = [&](double u, double v) { return kit::Point{X0 + u * W, Y0 + v * H}; };
    for (const auto& r : rows) {
        Point p = Point::at(X0 + r.px * W, Y0 + r.py * H);
        p.a = at(r.ax, r.ay);
        p.b = at(r.bx, r.by);
        out.push_back(p);
    }
    return out;
}

std::vector<Point> ObjOval::ovalShapePoints() const {
    const double W = std::fabs(rect.width), H = std::fabs(rect.height);
    const double X0 = std::min(rect.x1, rect.x1 + rect.width), Y0 = std::min(rect.y1, rect.y1 + rect.height);
    const double Wp = zoom() < 1.0 ? 2 * std::round(W / 2) : W;
    // A long oval keeps round ends and straight sides: squash along the longer side.
    const bool wide = H == 0 ? W > 0 : W / H > 1;
    const bool tall = W == 0 ? H > 0 : W / H < 1;
    const double f = wide ? (H == 0 ? 0.25 : 0.75 * (H / W) + 0.25) : 1;
    const double g = tall ? 0.75 * (W / H) + 0.25 : 1;
    auto place = [&](double u, double v) {
        if (wide) u = u < 0.5 ? u * f : 1 - f * (1 - u);
        if (tall) v = v < 0.5 ? v * g : 1 - g * (1 - v);
        return kit::Point{X0 + u * Wp, Y0 + v * H};
    };
    std::vector<Point> out;
    out.reserve(9);
    for (const auto& r : kOvalRows) {
        kit::Point p = place(r.px, r.py);
        Point q = Point::at(p.x, p.y);
        q.a = place(r.ax, r.ay);
        q.b = place(r.bx, r.by);
        out.push_back(q);
    }
    return out;
}

void ObjOval::draw() {
    if (rect.width == 0 && rect.height == 0) {
        setLayersVisible(false, false);
        return;
    }
    const double d = dpr(), s = lineEntry();
    if (state == "highlighted") {
        shapeLayer->setStrokeColor(kHighlightColor);
    } else {
        shapeLayer->setStrokeColor(showBorder ? std::optional(color) : std::nullopt);
        shapeLayer->setFillColor(showBackground ? std::optional(transparentColor(color, backgroundAlpha))
                                                : std::nullopt);
    }
    double lw = std::min(std::min(std::fabs(rect.width), std::fabs(rect.height)) / 10, s) * d;
    if (state == "highlighted" && lw == 0) lw = 2 * d;
    shapeLayer->setLineWidth(lw);
    std::string key = geometryKey();
    if (key != pathStamp) {
        std::vector<Point> pts = shape == "rect" ? rectShapePoints() : ovalShapePoints();
        segments = FreehandHelper::segmentize(pts, host());
        shapeLayer->setPath(FreehandHelper::bezierPath(pts));
        pathBuilt_ = true;
        pathStamp = key;
    }
    if (state == "selected") placeResizeKnobsAround(*this, rect, s, KnobSnap::Whole);
    setLayersVisible(true, state == "selected");
}

std::optional<kit::Path> ObjOval::outlinePath() {
    draw();
    if (!pathBuilt_) return std::nullopt;
    return shapeLayer->path();
}

std::string ObjOval::action(kit::Point p) {
    if (auto k = knobFirst(p)) return *k;
    kit::Point q = viewToImage(p);
    const double d = dpr(), t = 5 * d / zoom() + (lineEntry() / 2 + 1) * d;
    const double x0 = std::min(rect.x1, rect.x1 + rect.width), x1 = std::max(rect.x1, rect.x1 + rect.width);
    const double y0 = std::min(rect.y1, rect.y1 + rect.height), y1 = std::max(rect.y1, rect.y1 + rect.height);
    if (q.x <= x0 - t || q.x >= x1 + t || q.y <= y0 - t || q.y >= y1 + t) return "default";
    if (showBackground) return "move";
    const double t2 = t * t;
    for (const auto& s : segments) {
        double ddx = (q.x - s.x) * (q.x - s.x);
        if (ddx < t2 && ddx + (q.y - s.y) * (q.y - s.y) < t2) return "move";
    }
    return "default";
}

void ObjOval::mouseUp(const kit::Event*, kit::Point, int) {
    normalizeRect();
    select();
    host().setLayoutRequest(1);
}

void ObjOval::keyDown(const kit::Event* event, const KeyEvt& key) {
    baseKeyDownKeepingExtent(key);
    toggleBorderAndFill(key.code, showBorder, showBackground);
    if (eventHas(event, kit::ModifierFlag::Command)) return;
    if (!isDigitKey(key.code)) return;
    std::string text = event && !event->characters.empty() ? event->characters : "0";
    auto n = kit::parseInt32(text);
    if (!n) return;
    if (*n > 0) {
        showBackground = true;
        backgroundAlpha = *n / 10.0;
    } else if (*n == 0) {
        showBackground = true;
        backgroundAlpha = 1.0;
    }
}

std::optional<std::string> ObjOval::getValue(const std::string& key) {
    if (key == "fill") return fillLevel(showBackground, backgroundAlpha);
    return ProtoObject::getValue(key);
}

void ObjOval::setFillValue(const std::string& value) {
    auto v = kit::parseDouble(value);
    backgroundAlpha = v ? *v / 100 : 0.01;
    showBackground = backgroundAlpha > 0;
    showBorder = true;
}

void ObjOval::setValue(const std::string& key, const std::string& value) {
    if (key == "fill")
        setFillValue(value);
    else
        ProtoObject::setValue(key, value);
}

std::string ObjOval::dump() {
    kit::Json j = baseRecord();
    writeFillKeys(j, showBackground, showBorder, backgroundAlpha);
    j["shape"] = shape;
    return encode(j);
}

bool ObjOval::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    bool bg = false, border = true;
    double alpha = 0.3;
    auto sh = kit::json::stringAt(*j, "shape");
    if (!base || !sh || !readFillKeys(*j, bg, border, alpha)) return false;
    applyBase(*base);
    showBackground = bg;
    showBorder = border;
    backgroundAlpha = alpha;
    shape = *sh;
    pathStamp = "";
    draw();
    return true;
}

// ---- Spotlight ------------------------------------------------------------

ObjSpotlight::ObjSpotlight(ObjectHost* parentManager, const kit::LayerPtr& drawing,
                           const kit::LayerPtr& control)
    : ObjOval(parentManager, drawing, control) {
    loadStoredSize();  // under the spotlight's own class name
    wantsSpotlight = true;
    widths = {0, 2, 3, 4, 6, 8, 11, 15, 21, 30};
    shape = loadOption("shape", "rect");
    if (parent) {
        double alpha = parseDoubleOr(loadOption("transparency", "0.214"), 0.214);
        // A darkness outside 0...1 (an option edited by hand) is brought back into range.
        parent->lcurtain->setFillColor(kit::Color{0, 0, 0, std::clamp(alpha, 0.0, 1.0)});
    }
}

void ObjSpotlight::dblClick(const kit::Event*, kit::Point, int) {
    shape = shape == "oval" ? "rect" : "oval";
    saveOption("shape", shape);
}

void ObjSpotlight::keyDown(const kit::Event* event, const KeyEvt& key) {
    services::Rect before = rect;
    ObjOval::keyDown(event, key);
    if (rect.width <= 0 && rect.height <= 0) rect = before;
    // A spotlight is never filled and never loses its border.
    showBorder = true;
    showBackground = false;
    if (eventHas(event, kit::ModifierFlag::Command)) return;
    if (!isDigitKey(key.code)) return;
    std::string text = event && !event->characters.empty() ? event->characters : "0";
    auto n = kit::parseInt32(text);
    if (!n || *n <= 0) return;
    double t = std::min(*n / 14.0, 1.0);
    if (parent) parent->lcurtain->setFillColor(kit::Color{0, 0, 0, t});
    saveOption("transparency", kit::json::doubleText(t));
}

std::optional<std::string> ObjSpotlight::getValue(const std::string& key) {
    if (key == "shape") return shape;
    return ObjOval::getValue(key);
}

void ObjSpotlight::setValue(const std::string& key, const std::string& value) {
    if (key == "shape") {
        shape = value == "rect" ? "rect" : "oval";
        saveOption("shape", shape);
    } else if (key == "fill") {
        setFillValue(value);
    } else {
        ProtoObject::setValue(key, value);
    }
}

}  // namespace objects
