#include "objects/ObjImage.h"

#include <cmath>

#include "kit/base/Parse.h"
#include "objects/CapturePixels.h"
#include "objects/ObjectHost.h"
#include "objects/ObjectsCore.h"
#include "services/Alerts.h"
#include "services/Settings.h"

namespace objects {

std::map<std::string, kit::Image>& imageCache() {
    static std::map<std::string, kit::Image> cache;
    return cache;
}

std::string rectDescription(const services::Rect& r) {
    using kit::json::doubleText;
    return "Rect(x1: " + doubleText(r.x1) + ", y1: " + doubleText(r.y1) + ", width: " + doubleText(r.width) +
           ", height: " + doubleText(r.height) + ")";
}

ObjImage::ObjImage(ObjectHost* parentManager, const kit::LayerPtr& drawing, const kit::LayerPtr& control)
    : ObjRectangle(parentManager, drawing, control) {
    loadStoredSize();  // under the overlay's own class name
    widths = {0, 1, 2, 3, 4, 6, 8, 11, 15, 21};
    backgroundAlpha = 1.0;
}

void ObjImage::setImage(const kit::Image& img) {
    image = img;
    imageHash += randomBase36(24, false);
    const ObjectHost& f = host();
    const services::Rect area = f.area(), crop = f.crop();
    kit::Point c = f.viewToImage({area.x1 + area.width / 2, area.y1 + area.height / 2});
    const double iw = img.width(), ih = img.height();
    double x = std::round(c.x - iw / 2), y = std::round(c.y - ih / 2);
    if (crop.width <= iw) x = std::min(crop.width / 2, 100.0);
    if (crop.height <= ih) y = std::min(crop.height / 2, 100.0);
    rect = {x, y, iw, ih};
    ProtoObject::select();
}

void ObjImage::draw() {
    ObjRectangle::draw();
    if (rect.width == 0 && rect.height == 0) return;
    const double d = dpr(), s = w0();
    layer->setFrame(rect.toKit().standardized());
    const double w = std::fabs(rect.width), h = std::fabs(rect.height);
    layer->setCornerRadius(std::min({2 * s * d, w / 4, h / 4}));
    layer->setMasksToBounds(true);
    const bool reduced = !image.isNull() && double(image.width()) > std::trunc(w);
    layer->setMagnificationFilter(reduced ? kit::ScalingFilter::Linear : kit::ScalingFilter::Nearest);
    layer->setMinificationFilter(reduced ? kit::ScalingFilter::Linear : kit::ScalingFilter::Nearest);
    layer->setOpacity(backgroundAlpha);
    layer->setZPosition(-30);
    if (!image.isNull()) layer->setContents(image);
    if (state == "highlighted") layer->setBorderWidth(std::max(layer->borderWidth(), 2 * d));
}

std::string ObjImage::action(kit::Point p) {
    if (state.find("resize") != std::string::npos) return state;
    if (withinSpan(viewToImage(p), 0)) return "move";
    return ObjRectangle::action(p);
}

void ObjImage::mouseDrag(const kit::Event* event, kit::Point p, int) {
    baseMouseDrag(event, p);
    double ratio = image.isNull() ? 1.0 : double(image.width()) / double(image.height());
    if (!(ratio != 0) || !std::isfinite(ratio)) return;
    const bool tr = state == "tr-resize", bl = state == "bl-resize", tl = state == "tl-resize",
               br = state == "br-resize";
    if (!(tr || bl || tl || br)) return;
    double& w = rect.width;
    double& h = rect.height;
    if (w < h * ratio) {
        double nw = std::round(h * ratio);
        if (bl || tl) rect.x1 = rect.x1 + w - nw;  // the right edge stays
        w = nw;
    } else {
        double nh = std::round(w / ratio);
        if (bl || br) rect.y1 = rect.y1 + h - nh;  // the top edge stays
        h = nh;
    }
}

void ObjImage::keyDown(const kit::Event* event, const KeyEvt& key) {
    ObjRectangle::keyDown(event, key);
    if (key.code == kit::KeyCode::G) saveGIF();
    if (parent) parent->refreshToolSettings();
}

std::optional<std::string> ObjImage::getValue(const std::string& key) {
    if (key == "transparency") return backgroundAlpha == 1.0 ? "false" : "true";
    return ObjRectangle::getValue(key);
}

void ObjImage::setValue(const std::string& key, const std::string& value) {
    if (key == "fill") {
        auto v = kit::parseDouble(value);
        backgroundAlpha = v ? *v / 100 : 0.01;
        showBackground = backgroundAlpha > 0;
        showBorder = true;
    } else {
        ProtoObject::setValue(key, value);
    }
    if (key == "transparency") backgroundAlpha = value == "true" ? 0.5 : 1.0;
    if (key == "saveGIF") saveGIF();
}

std::string ObjImage::dump() {
    if (image.isNull())
        imageCache().erase(imageHash);
    else
        imageCache()[imageHash] = image;
    kit::Json j = rectangleRecord();
    j["imageHash"] = imageHash;
    return encode(j);
}

bool ObjImage::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    bool bg = false, border = true;
    double alpha = 1.0;
    auto hash = kit::json::stringAt(*j, "imageHash");
    if (!base || !hash || !readFillKeys(*j, bg, border, alpha)) return false;
    applyBase(*base);
    showBackground = bg;
    showBorder = border;
    backgroundAlpha = alpha;
    imageHash = *hash;
    auto it = imageCache().find(imageHash);
    image = it != imageCache().end() ? it->second : kit::Image{};
    return true;
}

void ObjImage::saveGIF() {
    if (rect.width * rect.height == 0) {
        oops("saveGIF()", "Zero pixels selected: " + rectDescription(rect));
        return;
    }
    auto noOverlap = [] {
        services::alertOnMain(
            "The images should overlap",
            "To create GIF with two frames, position overlay image on top of the original screenshot.");
    };
    ObjectsCore* core = host().core();
    if (image.isNull() || !core || core->imgPrecompiled.isNull()) return noOverlap();
    // Both frames cover the part of the overlay that lies on the screenshot,
    // at one size: the screenshot's pixels there (read through the capture's
    // one mapping, so a cropped screenshot gives the pixels under it) and the
    // overlay's own pixels for the same area.
    const services::Rect src = host().source();
    kit::Rect own = rect.toKit().standardized();
    kit::Rect overlap = own.intersection(src.toKit().standardized()).integral().intersection(own.integral());
    const int ow = int(overlap.width()), oh = int(overlap.height());
    if (ow <= 0 || oh <= 0) return noOverlap();
    kit::Image under =
        capturePixels(core->capture(), (long long)overlap.minX(), (long long)overlap.minY(), ow, oh);
    if (under.isNull()) return noOverlap();
    const double iw = image.width(), ih = image.height();
    const double sx = iw / own.width(), sy = ih / own.height();
    const int L = int(std::round((overlap.minX() - own.minX()) * sx));
    const int R = int(std::round((overlap.maxX() - own.minX()) * sx));
    const int B = int(std::round((overlap.minY() - own.minY()) * sy));
    const int T = int(std::round((overlap.maxY() - own.minY()) * sy));
    kit::Image mine = image.cropped(L, int(ih) - T, R - L, T - B);
    if (mine.isNull()) return noOverlap();
    if (mine.width() != ow || mine.height() != oh) mine = mine.scaled(ow, oh);
    if (mine.isNull()) return noOverlap();
    core->saveGIF(mine, under, 0.4, services::Settings::shared().defaultFolderURL().value_or(""));
}

}  // namespace objects
