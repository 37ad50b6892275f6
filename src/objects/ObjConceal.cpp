#include "objects/ObjConceal.h"

#include <cmath>
#include <optional>
#include <random>

#include "imaging/PixelSampling.h"
#include "imaging/TileGrid.h"
#include "objects/CapturePixels.h"
#include "objects/ObjRectangle.h"
#include "objects/ObjectHost.h"
#include "objects/ObjectsCore.h"
#include "services/NamedTimers.h"

using services::Rect;

namespace objects {

namespace {

// The largest bitmap a conceal renders: far beyond any screen, small enough
// that a corrupt rect cannot ask for an unbounded allocation.
constexpr double kMaxPixels = 400e6;

kit::PixelBGRA toPixel(const kit::Color& c) {
    auto ch = [](double v) { return uint8_t(std::clamp(std::round(v * 255), 0.0, 255.0)); };
    return {ch(c.b), ch(c.g), ch(c.r), 255};
}

// Sets context pixel (x, y), y counted up from the bottom as in the area.
void put(kit::Image& ctx, long long x, long long y, kit::PixelBGRA p) {
    if (x < 0 || y < 0 || x >= ctx.width() || y >= ctx.height()) return;
    ctx.setPixel(int(x), int(ctx.height() - 1 - y), p);
}

int colorDiff(const imaging::SampledColor& a, const imaging::SampledColor& b) {
    auto c8 = [](double v) { return int(std::lround(v * 255)); };
    return std::abs(c8(a.color.r) - c8(b.color.r)) + std::abs(c8(a.color.g) - c8(b.color.g)) +
           std::abs(c8(a.color.b) - c8(b.color.b));
}

imaging::Capture currentCapture(const ObjectHost& host) {
    ObjectsCore* core = host.core();
    return core ? core->capture() : imaging::Capture{};
}

// The part of a standardised region that lies on the image, in object
// coordinates, clipped on all four sides; nothing when none of it does. A
// side of no length (a region one click wide) covers one pixel of the image.
std::optional<Rect> partOnImage(const Rect& region, const ObjectHost& host) {
    const Rect crop = host.crop();
    const Rect source = host.source();
    auto clip = [](double lo, double len, double imgLo,
                   double imgHi) -> std::optional<std::pair<double, double>> {
        if (len <= 0) {
            if (lo < imgLo || lo >= imgHi) return std::nullopt;
            return std::pair{lo, 1.0};
        }
        const double a = std::max(lo, imgLo), b = std::min(lo + len, imgHi);
        if (!(b > a)) return std::nullopt;
        return std::pair{a, b - a};
    };
    auto x = clip(region.x1, region.width, source.x1 - crop.x1, source.x1 + source.width - crop.x1);
    auto y = clip(region.y1, region.height, source.y1 - crop.y1, source.y1 + source.height - crop.y1);
    if (!x || !y) return std::nullopt;
    return Rect{x->first, y->first, x->second, y->second};
}

}  // namespace

std::function<double()>& ObjConceal::random01() {
    static std::function<double()> fn = [] {
        static std::mt19937_64 gen{std::random_device{}()};
        return std::uniform_real_distribution<double>(0.0, 1.0)(gen);
    };
    return fn;
}

std::function<std::vector<imaging::TextRect>(const kit::Image&, double dpr)>& ObjConceal::recognizer() {
    static std::function<std::vector<imaging::TextRect>(const kit::Image&, double dpr)> fn =
        [](const kit::Image& img, double dpr) {
            std::vector<imaging::TextRect> lines;
            imaging::RecognitionSettings settings;
            settings.dpr = dpr;
            imaging::textRects(img, settings,
                               [&](const std::vector<imaging::TextRect>& found) { lines = found; });
            return lines;
        };
    return fn;
}

ObjConceal::ObjConceal(ObjectHost* parentManager, const kit::LayerPtr& drawing, const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control), lbitmap(kit::Layer::make()) {
    loadStoredSize();
    layer->setBorderWidth(dpr());
    layer->setBorderColor(kit::Color{1, 1, 1, 1});
    layer->setBackgroundColor(kit::Color{0, 0, 0, 0.1});
    lbitmap->setHidden(true);
    layer->addSublayer(lbitmap);
    addResizeKnobs(*this);
    attachLayers(drawing, control);
}

// ---- Rendering --------------------------------------------------------------

void ObjConceal::reconceal() {
    if (rect.width == 0 && rect.height == 0) return;
    ObjectsCore* core = host().core();
    if (!core || core->imgPrecompiled.isNull()) return;
    // The render covers only the part of the region on the image. The object
    // keeps its own rect, so a region dragged off the image and back comes
    // back whole.
    const Rect region = Rect::fromKit(rect.toKit().standardized());
    const std::optional<Rect> onImage = partOnImage(region, host());
    if (!onImage) {
        // Nothing of it lies on the image: it conceals nothing and draws nothing.
        lbitmap->setContents(kit::Image{});
        lbitmap->setFrame({0, 0, 0, 0});
        lbitmap->setHidden(false);
        layer->setBorderWidth(0);
        return;
    }
    const Rect area = *onImage;
    if (!(area.width * area.height <= kMaxPixels)) {
        oops("reconceal()", "Can't create context");
        return;
    }
    kit::Image ctx(int(area.width), int(area.height), 1.0);
    if (ctx.isNull()) {
        oops("reconceal()", "Can't create context");
        return;
    }
    services::timerStart("reconceal");
    if (fillMode == "erase") {
        eraseFill(ctx, area, 0, 0);
    } else if (fillMode == "pixelate") {
        pixelateFill(ctx, area, 0, 0);
    } else if (fillMode.find("text") != std::string::npos) {
        std::string mode = fillMode;
        for (size_t at; (at = mode.find("-text")) != std::string::npos;) mode.erase(at, 5);
        kit::Image image = sourceImage();
        if (image.isNull()) return;
        for (const auto& line : recognizer()(image, dpr())) {
            const kit::Rect& r = line.rect;
            double left = std::round(rect.x1 + r.x()) - 2, bottom = std::round(rect.y1 + r.y()) - 2;
            double right = std::round(rect.x1 + r.x() + r.width()) + 2;
            double top = std::round(rect.y1 + r.y() + r.height()) + 2;
            Rect lineArea{left, bottom, right - left, top - bottom};
            // Line rectangles are relative to the region's corner; the
            // context starts where the region meets the image.
            double ox = std::round(r.x()) - 2 + (region.x1 - area.x1);
            double oy = std::round(r.y()) - 2 + (region.y1 - area.y1);
            if (mode.find("pixelate") != std::string::npos)
                pixelateFill(ctx, lineArea, ox, oy);
            else
                eraseFill(ctx, lineArea, ox, oy);
        }
    }
    postReconceal(ctx, area);
    services::timerLog("reconceal");
}

void ObjConceal::postReconceal(const kit::Image& ctx, const Rect& area) {
    if (ctx.isNull()) {
        oops("postReconceal(ctx:)", "Can't create an image out of the context");
        return;
    }
    lbitmap->setContents(ctx);
    lbitmap->setShouldRasterize(true);
    lbitmap->setMagnificationFilter(kit::ScalingFilter::Nearest);
    // Placed in the layer where the rendered area lies within the region.
    const double minX = std::min(rect.x1, rect.x1 + rect.width),
                 minY = std::min(rect.y1, rect.y1 + rect.height);
    lbitmap->setFrame({area.x1 - minX, area.y1 - minY, std::fabs(area.width), std::fabs(area.height)});
    lbitmap->setHidden(false);
    layer->setBorderWidth(0);
    host().layoutNow(false);
}

kit::Image ObjConceal::sourceImage() {
    normalizeRect();
    ObjectsCore* core = host().core();
    if (rect.width <= 0 || rect.height <= 0 || !core || core->imgSource.isNull()) return {};
    if (!(rect.width * rect.height <= kMaxPixels)) return {};
    return capturePixels(core->capture(), (long long)std::floor(rect.x1), (long long)std::floor(rect.y1),
                         int(rect.width), int(rect.height));
}

void ObjConceal::pixelateFill(kit::Image& ctx, const Rect& area, double ox, double oy) {
    const imaging::Capture capture = currentCapture(host());
    const double W = area.width, H = area.height;
    const double base = std::min(std::round(std::min(W, H) / 6), 5 * dpr());
    // A size far outside the tool's range still gives a finite cell.
    const double cell = std::round(std::pow(1.35, std::clamp(size, -64, 64)) * base);
    std::vector<kit::Rect> tiles = imaging::tileGrid(area.toKit(), cell, random01());
    const double t = std::min(W, H) / 7;
    auto containing = [&](kit::Point p) -> const kit::Rect* {
        const kit::Rect* found = nullptr;
        for (const auto& tile : tiles)
            if (p.x > tile.minX() && p.x < tile.maxX() && p.y > tile.minY() && p.y < tile.maxY())
                found = &tile;
        return found;
    };
    for (const auto& tile : tiles) {
        int r = std::min(4, int(random01()() * 5));
        const kit::Rect* source = &tile;
        if (cell > t) {
            const kit::Point probes[4] = {{tile.midX(), tile.maxY() + 1},
                                          {tile.maxX() + 1, tile.midY()},
                                          {tile.midX(), tile.minY() - 1},
                                          {tile.minX() - 1, tile.midY()}};
            if (r < 4)
                if (const kit::Rect* other = containing(probes[r])) source = other;
        }
        kit::PixelBGRA px = toPixel(imaging::avgColorFast(capture, *source, "average").color);
        const long long cx = std::llround(tile.minX() - area.x1 + ox),
                        cy = std::llround(tile.minY() - area.y1 + oy);
        const long long tw = std::llround(tile.width()), th = std::llround(tile.height());
        for (long long y = cy; y < cy + th; ++y)
            for (long long x = cx; x < cx + tw; ++x) put(ctx, x, y, px);
    }
}

void ObjConceal::eraseFill(kit::Image& ctx, const Rect& area, double ox, double oy) {
    const imaging::Capture capture = currentCapture(host());
    const double W = area.width, H = area.height;
    const double minX = std::min(area.x1, area.x1 + W), maxX = std::max(area.x1, area.x1 + W);
    const double minY = std::min(area.y1, area.y1 + H), maxY = std::max(area.y1, area.y1 + H);
    const long long x0 = (long long)minX, x1 = (long long)maxX, y0 = (long long)minY, y1 = (long long)maxY;
    auto at = [&](double x, double y) { return imaging::colorAt(capture, x, y); };
    double sumLR = 0, sumH = 0, sumTB = 0, sumV = 0;
    for (long long j = y0 + 1; j <= y1; ++j) sumLR += colorDiff(at(minX, double(j)), at(maxX - 1, double(j)));
    for (long long i = x0; i <= (long long)(maxX - 1) - 1; ++i)
        sumH += colorDiff(at(double(i), minY + 1), at(double(i + 1), minY + 1)) +
                colorDiff(at(double(i), maxY), at(double(i + 1), maxY));
    for (long long i = x0; i < x1; ++i) sumTB += colorDiff(at(double(i), minY + 1), at(double(i), maxY));
    for (long long j = y0 + 1; j <= (long long)(maxY - 1); ++j)
        sumV += colorDiff(at(minX, double(j)), at(minX, double(j + 1))) +
                colorDiff(at(maxX - 1, double(j)), at(maxX - 1, double(j + 1)));
    const double rowScore = 0.5 * sumH / W + sumLR / H;
    const double columnScore = 0.5 * sumV / H + sumTB / W;
    // A strip's gradient runs from its lower-left to its upper-right corner:
    // each pixel takes the colour of its centre projected onto that diagonal.
    auto strip = [&](double sx, double sy, double sw, double sh, const kit::Color& a, const kit::Color& b) {
        const double len2 = sw * sw + sh * sh;
        const long long px0 = std::llround(sx), py0 = std::llround(sy);
        for (long long y = 0; y < std::llround(sh); ++y)
            for (long long x = 0; x < std::llround(sw); ++x) {
                double t = std::clamp(((x + 0.5) * sw + (y + 0.5) * sh) / len2, 0.0, 1.0);
                kit::Color c{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, 1};
                put(ctx, px0 + x, py0 + y, toPixel(c));
            }
    };
    if (rowScore <= columnScore) {
        for (long long k = y0; k < y1; ++k)
            strip(ox, oy + double(k) - minY, W, 1, at(minX, double(k + 1)).color,
                  at(maxX - 1, double(k + 1)).color);
    } else {
        for (long long k = x0; k < x1; ++k)
            strip(ox + double(k) - minX, oy, 1, H, at(double(k), minY + 1).color, at(double(k), maxY).color);
    }
}

// ---- Drawing and editing --------------------------------------------------------

void ObjConceal::draw() {
    if (rect.width == 0 && rect.height == 0) {
        setLayersVisible(false, false);
        return;
    }
    const double d = dpr(), z = zoom();
    if (state == "highlighted") {
        layer->setBorderWidth(2 * d / z);
        layer->setBorderColor(kHighlightColor);
        layer->setShouldRasterize(false);
    } else if (!lbitmap->isHidden()) {
        layer->setBorderColor(kit::Color{1, 1, 1, 0});
        layer->setBorderWidth(0);
        layer->setBackgroundColor(std::nullopt);
    } else {
        layer->setBorderColor(kit::Color{1, 1, 1, 1});
        layer->setBorderWidth(d / z);
        layer->setBackgroundColor(kit::Color{0, 0, 0, 0.1});
    }
    layer->setFrame(rect.toKit().standardized());
    layer->setZPosition(-50);
    if (state == "selected") {
        kit::Point o = imageToView({rect.x1, rect.y1});
        kit::Rect v = kit::Rect(o.x, o.y, rect.width * z, rect.height * z).standardized();
        double L = std::round(v.minX() - 6 * d) / d, R = std::round(v.maxX() + 6 * d) / d;
        double B = std::round(v.minY() - 6 * d) / d, T = std::round(v.maxY() + 6 * d) / d;
        double mx = (L + R) / 2, my = (B + T) / 2;
        const double pos[8][2] = {{L, B}, {L, T}, {R, B}, {R, T}, {L, my}, {mx, T}, {R, my}, {mx, B}};
        for (size_t i = 0; i < knobs.size() && i < 8; ++i) knobs[i]->draw(pos[i][0], pos[i][1]);
    }
    setLayersVisible(true, state == "selected");
}

void ObjConceal::deactivate() {
    if (state == "unselected") return;
    normalizeRect();
    reconceal();
    host().setLayoutRequest(1);
    ProtoObject::deactivate();
}

std::string ObjConceal::action(kit::Point p) {
    if (state == "selected" || state == "move" || state.find("resize") != std::string::npos)
        if (auto k = knobAt(p)) return *k;
    return withinSpan(viewToImage(p), 0) ? "move" : "default";
}

void ObjConceal::move(double dx, double dy) {
    ProtoObject::move(dx, dy);
    reconceal();
}

void ObjConceal::mouseDrag(const kit::Event* event, kit::Point p, int) {
    baseMouseDrag(event, p);
    if (state != "creating") lbitmap->setHidden(true);
}

void ObjConceal::mouseUp(const kit::Event* event, kit::Point p, int button) {
    normalizeRect();
    ProtoObject::mouseUp(event, p, button);
    host().setLayoutRequest(1);
    if (!(rect == mouseDownRect && !lbitmap->isHidden())) reconceal();
}

void ObjConceal::keyDown(const kit::Event*, const KeyEvt& key) {
    baseKeyDownKeepingExtent(key);
    if (key.code >= kit::KeyCode::LeftArrow && key.code <= kit::KeyCode::UpArrow) reconceal();
}

void ObjConceal::changeSize(int step) {
    ProtoObject::changeSize(step);
    reconceal();
}

std::optional<std::string> ObjConceal::getValue(const std::string& key) {
    if (key == "concealType") return fillMode;
    return ProtoObject::getValue(key);
}

void ObjConceal::setValue(const std::string& key, const std::string& value) {
    if (key == "concealType")
        fillMode = value;
    else
        ProtoObject::setValue(key, value);
    reconceal();
}

std::string ObjConceal::dump() {
    return encode({{"rect", rectRecord(rect)}, {"size", size}, {"fillMode", fillMode}});
}

bool ObjConceal::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto r = readRect(kit::json::memberAt(*j, "rect"));
    auto s = kit::json::intAt(*j, "size");
    auto m = kit::json::stringAt(*j, "fillMode");
    if (!r || !s || !m) return false;
    rect = *r;
    size = storedSize(*s);
    fillMode = *m;
    reconceal();
    return true;
}

}  // namespace objects
