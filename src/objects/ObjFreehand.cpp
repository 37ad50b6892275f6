#include "objects/ObjFreehand.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "imaging/PixelMap.h"
#include "imaging/PixelSampling.h"
#include "objects/ObjRectangle.h"
#include "objects/ObjectHost.h"
#include "objects/ObjectsCore.h"
#include "services/Settings.h"

namespace objects {

namespace {

kit::Json statsJson(const std::map<std::string, FreehandHelper::StatValue>& stats) {
    kit::Json j = kit::Json::object();
    for (const auto& [k, v] : stats) {
        if (const double* d = std::get_if<double>(&v))
            j[k] = std::isfinite(*d) ? *d : 0.0;
        else
            j[k] = std::get<int>(v);
    }
    return j;
}
}  // namespace

std::map<std::string, std::vector<Point>>& strokePointsStore() {
    static std::map<std::string, std::vector<Point>> store;
    return store;
}

ObjFreehand::ObjFreehand(ObjectHost* parentManager, const kit::LayerPtr& drawing,
                         const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control), lline(kit::ShapeLayer::make()) {
    loadStoredSize();
    pointsHash = randomBase36(25, true);
    shapeLayer = kit::ShapeLayer::make();
    layer = shapeLayer;
    const double w = widthAt() * dpr();
    shapeLayer->setStrokeColor(color);
    shapeLayer->setLineWidth(w);
    shapeLayer->setFillColor(color);
    shapeLayer->setLineCap(kit::LineCap::Round);
    shapeLayer->setLineJoin(kit::LineJoin::Round);
    shapeLayer->setFillRule(kit::FillRule::NonZero);
    shapeLayer->addSublayer(lline);
    lline->setStrokeColor(kit::Color::black());
    lline->setLineWidth(w);
    lline->setFillColor(std::nullopt);
    lline->setLineCap(kit::LineCap::Round);
    lline->setLineJoin(kit::LineJoin::Round);
    addResizeKnobs(*this);
    attachLayers(drawing, control);
}

double ObjFreehand::widthAt() const {
    return tableAt(widths, size);
}

services::Rect ObjFreehand::strokeBounds(const std::vector<Point>& pts) {
    if (pts.empty()) return {0, 0, 0, 0};
    // The running extremes start at the infinities, so a stroke that lies
    // wholly left of or below the crop origin keeps its own bounds.
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    for (const auto& p : pts) {
        minX = std::min(minX, p.x);
        minY = std::min(minY, p.y);
        maxX = std::max(maxX, p.x);
        maxY = std::max(maxY, p.y);
    }
    double x1 = std::floor(minX), y1 = std::floor(minY);
    return {x1, y1, std::ceil(maxX) - x1, std::ceil(maxY) - y1};
}

// ---- Building ---------------------------------------------------------------

void ObjFreehand::buildPath() {
    std::vector<Point> p = rawPoints;
    if (!shapeCorrection.empty() && shapeCorrection[0] == 'h') p = FreehandHelper::levelStart(p, resolution);
    p = FreehandHelper::measureLengths(p);
    p = FreehandHelper::smoothPositions(p, 0.4, resolution);
    p = FreehandHelper::thin(p, 10 / resolution);
    points = FreehandHelper::controlPoints(p);
    shapeLayer->setPath(FreehandHelper::bezierPath(points, rect));
}

void ObjFreehand::buildOutline() {
    if (rect.height == 0) rect.height = 1;
    if (rect.width == 0) rect.width = 1;
    rawPoints = FreehandHelper::measureLengths(rawPoints);
    std::vector<Point> p = rawPoints;
    const char first = shapeCorrection.empty() ? 0 : shapeCorrection[0];
    const double strength = FreehandHelper::correctionStrength(shapeCorrection);
    if (first == 'h')
        p = FreehandHelper::levelStart(p, resolution);
    else if (first == 'c')
        p = FreehandHelper::fitEllipse(p, strength).first;
    else if (first == 's')
        p = FreehandHelper::fitRectangle(p, strength).first;
    p = FreehandHelper::rescale(p, rawRect.x1, rawRect.y1, rawRect.width, rawRect.height, rect.width,
                                rect.height);
    segmentizedPoints = FreehandHelper::smoothCenterLine(std::move(p), smoothing, resolution, host());
    shape = FreehandHelper::outline(segmentizedPoints, dpr() * widthAt(), variability, capStyle);
    kit::Path path = FreehandHelper::bezierPath(shape, rawRect);
    if (!path.isEmpty()) path.closeSubpath();
    pathOutline = path;
    shapeLayer->setPath(std::move(path));
}

void ObjFreehand::finishStroke() {
    if (!shapeCorrection.empty()) return;
    double a = FreehandHelper::fitEllipse(rawPoints, 0.5).second;
    double b = FreehandHelper::fitRectangle(rawPoints, 0.5).second;
    if (a > 1.0 && a > b)
        shapeCorrection = "c";
    else if (b > 1.0 && b > a)
        shapeCorrection = "s";
    if (shapeCorrection.empty()) return;
    buildOutline();
    host().undoSave("");
    if (ObjectsCore* core = host().core()) core->refreshToolSettings();
}

// ---- Drawing ------------------------------------------------------------------

void ObjFreehand::draw() {
    if (rect.width == 0 && rect.height == 0) {
        setLayersVisible(false, false);
        return;
    }
    const double d = dpr(), z = zoom();
    shapeLayer->setFrame({rect.x1, rect.y1, 1, 1});
    if (shape.size() <= 2) {
        shapeLayer->setLineWidth(widthAt() * d);
        shapeLayer->setFillColor(std::nullopt);
        shapeLayer->setStrokeColor(color);
    } else {
        shapeLayer->setLineWidth(0);
        shapeLayer->setFillColor(state == "highlighted" ? kHighlightColor : color);
    }
    if (state == "selected") {
        kit::Point v = imageToView({rect.x1, rect.y1});
        double vw = rect.width * z, vh = rect.height * z;
        double minX = std::min(v.x, v.x + vw), maxX = std::max(v.x, v.x + vw);
        double minY = std::min(v.y, v.y + vh), maxY = std::max(v.y, v.y + vh);
        double m = (variability + 1) * widthAt() * 0.5 * d * z + 6 * d;
        double L = std::round(minX - m), B = std::round(minY - m), R = std::round(maxX + m),
               T = std::round(maxY + m);
        const double pos[8][2] = {{L, B},           {L, T},           {R, B},           {R, T},
                                  {L, (B + T) / 2}, {(L + R) / 2, T}, {R, (B + T) / 2}, {(L + R) / 2, B}};
        for (size_t i = 0; i < knobs.size() && i < 8; ++i) knobs[i]->draw(pos[i][0] / d, pos[i][1] / d);
    }
    bool controls = state == "selected";
    // Handles stay out of the way while a tool is armed or another object is drawn.
    if (parent) {
        if (!parent->createOnClick.empty()) controls = false;
        for (const auto& o : parent->objects)
            if (o && o->state == "creating") controls = false;
    }
    setLayersVisible(true, controls);
}

// ---- Hit test -----------------------------------------------------------------

std::string ObjFreehand::cursor(kit::Point p) {
    if (state == "creating") return "pen";
    return ProtoObject::cursor(p);
}

std::string ObjFreehand::action(kit::Point p) {
    if (auto k = knobFirst(p)) return *k;
    kit::Point q = viewToImage(p);
    const double d = dpr();
    const double tol = (widthAt() * 0.5 + 1) * d + 5 * d / zoom();
    if (!withinSpan(q, tol)) return "default";
    const double ox = rect.x1 - rawRect.x1, oy = rect.y1 - rawRect.y1, t2 = tol * tol;
    for (const auto& s : segmentizedPoints) {
        double dx2 = (q.x - s.x - ox) * (q.x - s.x - ox);
        if (dx2 < t2 && dx2 + (q.y - s.y - oy) * (q.y - s.y - oy) < t2) return "move";
    }
    return "default";
}

// ---- Mouse ------------------------------------------------------------------

void ObjFreehand::mouseDown(const kit::Event*, kit::Point p, int) {
    kit::Point q = viewToImage(p);
    mdsx = q.x;
    mdsy = q.y;
    mouseDownRect = rect;
    if (state == "creating") {
        resolution = zoom() / dpr();
        rect = {0, 0, 1, 1};
        rawPoints.push_back(Point::at(q.x, q.y));
    } else if (state == "selected") {
        state = action(p);
    }
}

void ObjFreehand::mouseDrag(const kit::Event* event, kit::Point p, int) {
    kit::Point q = viewToImage(p);
    const bool shift = eventHas(event, kit::ModifierFlag::Shift);
    if (state == "creating") {
        if (shift) {
            if (lockDirection == 0 && !rawPoints.empty()) {
                const Point& last = rawPoints.back();
                lockDirection = std::fabs(q.y - last.y) < std::fabs(q.x - last.x) ? 1 : 2;
            }
            if (!rawPoints.empty()) {
                if (lockDirection == 1) q.y = rawPoints.back().y;
                if (lockDirection == 2) q.x = rawPoints.back().x;
            }
        } else {
            lockDirection = 0;
        }
        rawPoints.push_back(Point::at(q.x, q.y));
        if (realtimeShape)
            buildOutline();
        else
            buildPath();
    } else if (state == "move" || state.find("resize") != std::string::npos) {
        kit::Point delta = dragDelta(q, state == "move" && shift);
        double dx = delta.x, dy = delta.y;
        rect = mouseDownRect;
        std::string word = state;
        if (auto at = word.find("-resize"); at != std::string::npos) word.erase(at, 7);
        auto swap = [&word](char a, char b) {
            if (auto i = word.find(a); i != std::string::npos)
                word[i] = b;
            else if (auto j = word.find(b); j != std::string::npos)
                word[j] = a;
        };
        if (rect.width < 0) swap('r', 'l');
        if (rect.height < 0) swap('t', 'b');
        // Corner drags keep the proportions the stroke had at mouse-down.
        double ratio = mouseDownRect.width / mouseDownRect.height;
        if (std::isfinite(ratio) && ratio != 0) {
            if (word.find("tr") != std::string::npos || word.find("bl") != std::string::npos) {
                if (std::fabs(ratio) > 1)
                    dy = dx / ratio;
                else
                    dx = dy * ratio;
            } else if (word.find("tl") != std::string::npos || word.find("br") != std::string::npos) {
                if (std::fabs(ratio) <= 1)
                    dx = -dy * ratio;
                else
                    dy = -dx / ratio;
            }
        }
        if (word == "move") {
            rect.x1 += dx;
            rect.y1 += dy;
        } else {
            const bool left = word.find('l') != std::string::npos,
                       right = word.find('r') != std::string::npos;
            const bool top = word.find('t') != std::string::npos,
                       bottom = word.find('b') != std::string::npos;
            if (left) {
                rect.x1 += dx;
                rect.width -= dx;
            }
            if (right) rect.width += dx;
            if (bottom) {
                rect.y1 += dy;
                rect.height -= dy;
            }
            if (top) rect.height += dy;
        }
        if (state.find("resize") != std::string::npos) buildOutline();
    }
    host().setLayoutRequest(1);
}

void ObjFreehand::mouseUp(const kit::Event* event, kit::Point p, int) {
    if (state == "creating") {
        // A click leaves a dot: two samples one pixel apart.
        if (rawPoints.size() == 1) {
            Point twin = rawPoints[0];
            twin.x += 1;
            rawPoints.push_back(twin);
        }
        resolution = zoom() / dpr();
        rect = rawRect = strokeBounds(rawPoints);
        buildPath();
        buildOutline();
        // The timer belongs to the object: removing or destroying the object
        // cancels it, and it checks that the object is still in the editor.
        finishTimer_ = kit::Timer::once(0.2, [this] {
            if (parent &&
                std::none_of(parent->objects.begin(), parent->objects.end(),
                             [this](const std::shared_ptr<ProtoObject>& o) { return o.get() == this; }))
                return;
            finishStroke();
        });
        telemetryPreset("draw", statsJson(FreehandHelper::strokeStats(rawPoints, resolution)));
    }
    select();
    host().setLayoutRequest(1);
    if (eventHas(event, kit::ModifierFlag::Command)) dblClick(event, p);
}

void ObjFreehand::dblClick(const kit::Event*, kit::Point, int) {
    variability += 0.25;
    if (variability >= 1.0) variability = 0.05;
    buildOutline();
    if (parent && parent->active) parent->updateToolSettings(parent->activeType());
}

void ObjFreehand::remove() {
    finishTimer_.invalidate();
    ProtoObject::remove();
}

// ---- Keys -------------------------------------------------------------------

void ObjFreehand::keyDown(const kit::Event*, const KeyEvt& key) {
    if (key.code == kit::KeyCode::Escape) {
        if (parent) parent->deactivate();
        return;
    }
    if (state != "selected") return;
    services::Rect before = rect;
    const double s = keyStep(key.modifiers.shift);
    const bool arrow = key.code >= kit::KeyCode::LeftArrow && key.code <= kit::KeyCode::UpArrow;
    if (key.modifiers.command) {
        if (key.code == kit::KeyCode::LeftArrow) rect.width -= s;
        if (key.code == kit::KeyCode::RightArrow) rect.width += s;
        if (key.code == kit::KeyCode::DownArrow) {
            rect.y1 -= s;
            rect.height += s;
        }
        if (key.code == kit::KeyCode::UpArrow) {
            rect.y1 += s;
            rect.height -= s;
        }
        if (arrow) buildOutline();
        if (key.code == kit::KeyCode::Return) dblClick(nullptr, {0, 0});
    } else if (key.modifiers.option) {
        if (key.code == kit::KeyCode::UpArrow || key.code == kit::KeyCode::DownArrow) {
            smoothing =
                std::clamp(smoothing + (key.code == kit::KeyCode::UpArrow ? 0.225 : -0.225), 0.0, 0.9);
            buildOutline();
        }
    } else {
        if (key.code == kit::KeyCode::LeftArrow) rect.x1 -= s;
        if (key.code == kit::KeyCode::RightArrow) rect.x1 += s;
        if (key.code == kit::KeyCode::DownArrow) rect.y1 -= s;
        if (key.code == kit::KeyCode::UpArrow) rect.y1 += s;
    }
    if (rect.width == 0 && rect.height == 0) rect = before;
}

// ---- Values -----------------------------------------------------------------

void ObjFreehand::changeSize(int step) {
    ProtoObject::changeSize(step);
    buildOutline();
}

std::optional<std::string> ObjFreehand::getValue(const std::string& key) {
    if (key == "correction") return shapeCorrection.empty() ? "x" : shapeCorrection.substr(0, 1);
    if (key == "size" || key == "color") return ProtoObject::getValue(key);
    return std::nullopt;
}

void ObjFreehand::setValue(const std::string& key, const std::string& value) {
    if (key == "correction") {
        // Choosing the same fit again makes it stronger ("s" becomes "ss").
        if ((value == "s" || value == "c") && shapeCorrection.rfind(value, 0) == 0)
            shapeCorrection += value;
        else
            shapeCorrection = value;
    } else {
        ProtoObject::setValue(key, value);
    }
    buildOutline();
}

// ---- Dump -------------------------------------------------------------------

std::string ObjFreehand::dump() {
    strokePointsStore()[pointsHash] = rawPoints;
    kit::Json j = baseRecord();
    j["resolution"] = resolution;
    j["smoothing"] = smoothing;
    j["capStyle"] = capStyle;
    j["shapeCorrection"] = shapeCorrection;
    j["rawRect"] = rectRecord(rawRect);
    j["pointsHash"] = pointsHash;
    return encode(j);
}

bool ObjFreehand::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    auto res = kit::json::doubleAt(*j, "resolution"), smooth = kit::json::doubleAt(*j, "smoothing");
    auto cap = kit::json::intAt(*j, "capStyle");
    auto corr = kit::json::stringAt(*j, "shapeCorrection"), hash = kit::json::stringAt(*j, "pointsHash");
    auto raw = readRect(kit::json::memberAt(*j, "rawRect"));
    if (!base || !res || !smooth || !cap || !corr || !hash || !raw) return false;
    applyBase(*base);
    resolution = *res;
    smoothing = *smooth;
    capStyle = int(std::clamp<int64_t>(*cap, INT32_MIN, INT32_MAX));
    shapeCorrection = *corr;
    rawRect = *raw;
    pointsHash = *hash;
    auto it = strokePointsStore().find(pointsHash);
    rawPoints = it != strokePointsStore().end() ? it->second : std::vector<Point>{};
    buildOutline();
    return true;
}

// ---- Highlighter ------------------------------------------------------------

ObjHighlighter::ObjHighlighter(ObjectHost* parentManager, const kit::LayerPtr& drawing,
                               const kit::LayerPtr& control)
    : ObjFreehand(parentManager, drawing, control) {
    loadStoredSize();  // under the highlighter's own class name
    widths.assign(std::begin(kWidths), std::end(kWidths));
    variability = 0.05;
    smoothing = 0.9;
    realtimeShape = true;
    capStyle = parseIntOr(loadOption("capStyle", "3"), 3);
    shapeCorrection = "h";
    shapeLayer->setCompositingFilter(kit::CompositingFilter::Multiply);
    color = imaging::cgColor(loadOption("color", "FFF68D"), 1.0);
    baseColor = color;
    preferredPalette = std::vector<std::string>{"#ADF6FF", "#C2EAFE", "#E6E6FF", "#FFDAEF",
                                                "#FFF68D", "#F2FE01", "#D8FF55", "#DDF5C6"};
}

std::string ObjHighlighter::cursor(kit::Point p) {
    if (state == "creating") return "crosshair";
    return ProtoObject::cursor(p);
}

void ObjHighlighter::mouseDrag(const kit::Event* event, kit::Point p, int button) {
    ObjFreehand::mouseDrag(event, p, button);
    recolor();
}

void ObjHighlighter::mouseUp(const kit::Event* event, kit::Point p, int button) {
    ObjFreehand::mouseUp(event, p, button);
    recolor();
}

void ObjHighlighter::keyDown(const kit::Event* event, const KeyEvt& key) {
    ObjFreehand::keyDown(event, key);
    recolor();
}

void ObjHighlighter::dblClick(const kit::Event*, kit::Point, int) {
    // In 64 bits: a cap style read from a record may be the largest int.
    capStyle = int((int64_t(capStyle) + 1) % 4);
    saveOption("capStyle", std::to_string(capStyle));
    buildOutline();
}

std::optional<std::string> ObjHighlighter::getValue(const std::string& key) {
    if (key == "color") return imaging::hexString(baseColor);
    return ObjFreehand::getValue(key);
}

void ObjHighlighter::setValue(const std::string& key, const std::string& value) {
    ObjFreehand::setValue(key, value);
    if (key == "color") {
        baseColor = color;
        saveOption("color", value);
        recolor();
    }
}

std::string ObjHighlighter::dump() {
    kit::Color drawn = color;
    color = baseColor;
    std::string out = ObjFreehand::dump();
    color = drawn;
    return out;
}

bool ObjHighlighter::restore(const std::string& json) {
    if (!ObjFreehand::restore(json)) return false;
    baseColor = color;
    recolor();
    return true;
}

void ObjHighlighter::recolor() {
    // A stroke drawn along one pixel row (a Shift-locked line) has bounds of
    // no height, yet lies over pixels like any other: one side is enough.
    ObjectsCore* core = host().core();
    if (!(rawRect.width > 0 || rawRect.height > 0) || !core) return;
    imaging::Capture capture = core->capture();
    if (capture.pixels.isNull()) return;
    // Every read goes through the one bounds-checked mapping of the capture's
    // pixels, so a cropped screenshot samples the pixels under the stroke and
    // a point past the image reads nothing.
    imaging::PixelMap map(capture);
    std::vector<double> lum;
    lum.reserve(shape.size());
    for (const auto& q : shape) {
        double x = q.x - rawRect.x1 + rect.x1, y = q.y - rawRect.y1 + rect.y1;
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        if (const uint8_t* px = map.at((long long)std::floor(x), (long long)std::floor(y)))
            lum.push_back(0.299 * px[2] / 255 + 0.587 * px[1] / 255 + 0.114 * px[0] / 255);
    }
    if (lum.size() < 4) {
        oops("recolor()", "No lum data points");
        return;
    }
    std::sort(lum.begin(), lum.end());
    size_t n = lum.size();
    double sum = 0;
    for (size_t i = n / 4; i < 3 * n / 4; ++i) sum += lum[i];
    double L = sum / double(3 * n / 4 - n / 4);
    if (L <= 0.33) {
        shapeLayer->setOpacity(0.33);
        shapeLayer->setCompositingFilter(kit::CompositingFilter::Screen);
        color = imaging::pureHue(baseColor);
    } else if (L <= 0.66) {
        shapeLayer->setOpacity(0.25);
        shapeLayer->setCompositingFilter(kit::CompositingFilter::None);
        color = imaging::pureHue(baseColor);
    } else {
        shapeLayer->setOpacity(1.0);
        shapeLayer->setCompositingFilter(kit::CompositingFilter::Multiply);
        color = baseColor;
    }
}

void ObjHighlighter::brushPreview(kit::ShapeLayer& preview, kit::ShapeLayer* rim, double x, double y,
                                  double zoom) {
    auto stored = services::Settings::shared().storage().object("Kadrix.ObjHighlighter: size");
    int index = stored && stored->is_string() ? parseIntOr(stored->get<std::string>(), 1) : 1;
    // The stored text is read directly: one outside the table takes its nearest entry.
    const double w = tableAt(kWidths, index) * zoom;
    preview.setPath(kit::Path::roundedRect({x - w / 4, y - w / 2, w / 2, w}, w / 4, w / 4));
    if (rim)
        rim->setPath(
            kit::Path::roundedRect({x - w / 4 - 1, y - w / 2 - 1, w / 2 + 2, w + 2}, w / 4 + 1, w / 4 + 1));
}

}  // namespace objects
