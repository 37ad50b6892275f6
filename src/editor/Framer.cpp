#include "editor/Framer.h"

#include <algorithm>
#include <cmath>

#include "editor/EditorHost.h"
#include "kit/base/Dispatch.h"
#include "services/Telemetry.h"

namespace editor {

namespace {

double roundAway(double v) {
    return std::round(v);
}

// The next rung of the coarse zoom ladder above c.
double nextRung(double c) {
    if (c < 4.0) return std::pow(2.0, roundAway(std::log2(2 * c)));
    return 2 * roundAway(c * 1.414 / 2);
}

}  // namespace

Framer& Framer::shared() {
    static Framer framer;
    return framer;
}

services::Rect Framer::getEffectiveArea() const {
    // The panel is a view of the interface: asking from elsewhere is a bug of
    // the caller, reported and then served all the same.
    if (!kit::isMainThread())
        services::Telemetry::shared().oops("getEffectiveArea()",
                                           "Calling .getEffectiveArea() from background thread");
    if (!backdropPanelWidth) return area;
    std::optional<double> panel = backdropPanelWidth();
    if (!panel) return area;
    services::Rect r = area;
    r.width -= (*panel + 20) * dpr();
    return r;
}

void Framer::snapZoom() {
    double L = std::log2(zoom());
    double e = roundAway(2 * L);
    if (e < 0) e = 2 * roundAway(e / 2);
    double z = std::pow(2.0, e / 2);
    if (z > 2.0)
        z = 2 * roundAway(z / 2);
    else if (z >= 1.0)
        z = roundAway(z);
    _zoom.set(z);
}

void Framer::lowerMinZoom(const services::Rect& toFit) {
    services::Rect e = getEffectiveArea();
    double W = e.width, H = e.height;
    if (area.width > W) W -= 20 * dpr();
    double z = std::min(W / toFit.width, H / toFit.height);
    Framer& s = shared();
    if (s.minzoom > z) {
        double ex = std::floor(2 * std::log2(z));
        if (ex < 0) ex = 2 * roundAway(ex / 2);
        s.minzoom = std::sqrt(std::pow(2.0, ex));
    }
}

void Framer::zoom(bool in, kit::Point at) {
    kit::Point p = viewToImage(at);
    double z = zoom();
    if (in)
        z = z < 4.0 ? z * 2 : 2 * roundAway(z * 1.414 / 2);
    else
        z = z <= 4.0 ? z * 0.5 : 2 * roundAway((z / 1.414) / 2);
    _zoom.set(z);
    snapZoom();
    _zoom.set(std::min(std::max(zoom(), minzoom), 64.0));
    setOffset(p, at);
}

void Framer::zoomFine(bool in, kit::Point at) {
    kit::Point p = viewToImage(at);
    double z = in ? zoom() * 1.1892 : zoom() / 1.1892;
    _zoom.set(z);
    if (z > 6.0)
        _zoom.set(roundAway(z));
    else if (z > 2.0)
        _zoom.set(roundAway(2 * z) / 2);
    else if (z > 0.65)
        _zoom.set(roundAway(4 * z) / 4);
    else if (z >= 0.5)
        _zoom.set(roundAway(10 * z) / 10);
    else if (z >= 0.2)
        _zoom.set(roundAway(20 * z) / 20);
    _zoom.set(std::min(std::max(zoom(), minzoom), 64.0));
    setOffset(p, at);
}

void Framer::zoomToFit(const services::Rect& rect, bool exact) {
    services::Rect e = getEffectiveArea();
    double W = e.width, H = e.height, d = dpr();
    double zMargin = std::min((W - 20 * d) / rect.width, (H - 20 * d) / rect.height);
    double zPlain = std::min(W / rect.width, H / rect.height);
    double z = zPlain == 0.5 ? 0.5 : zMargin;
    if (!exact && z >= 0.8) {
        double best = minzoom;
        // Guard the ladder against a minzoom that cannot climb (zero or NaN).
        for (double c = minzoom; c < 64.0 && c > 0; c = nextRung(c))
            if (c <= z) best = c;
        z = best;
    }
    _zoom.set(z);
    setOffset({rect.x1 + rect.width / 2, rect.y1 + rect.height / 2}, {W / 2, H / 2});
}

kit::Point Framer::viewToImage(kit::Point v) const {
    double z = zoom();
    return {(v.x - _bx.get()) / z, (v.y - _by.get()) / z};
}

kit::Point Framer::imageToView(kit::Point p) const {
    double z = zoom();
    return {p.x * z + _bx.get(), p.y * z + _by.get()};
}

services::Rect Framer::rectToView(const services::Rect& r) const {
    kit::Point o = imageToView({std::min(r.x1, r.x1 + r.width), std::min(r.y1, r.y1 + r.height)});
    double z = zoom();
    return {o.x, o.y, r.width * z, r.height * z};
}

void Framer::roundOffsets() {
    double d = dpr(), z = zoom();
    destFull.x1 = roundAway(_bx.get()) / d;
    destFull.y1 = roundAway(_by.get()) / d;
    destFull.width = roundAway(source.width * z) / d;
    destFull.height = roundAway(source.height * z) / d;
}

void Framer::setOffset(kit::Point imagePoint, kit::Point viewPoint) {
    double z = zoom();
    bpx = viewPoint.x - imagePoint.x * z;
    bpy = viewPoint.y - imagePoint.y * z;
    _bx.set(roundAway(bpx));
    _by.set(roundAway(bpy));
    roundOffsets();
}

void Framer::panBy(double dx, double dy) {
    bpx += dx;
    bpy += dy;
    _bx.set(roundAway(bpx));
    _by.set(roundAway(bpy));
    roundOffsets();
}

void Framer::constrainPan(bool margin) {
    double m = margin ? 20.0 : 0.0;
    if (zoom() > 1.0) m *= zoom();
    Paddings pad = paddings ? paddings() : Paddings{};
    kit::Point lb = imageToView({-(pad.padBL + pad.padCL), -(pad.padBB + pad.padCB)});
    kit::Point rt = imageToView({source.x1 + source.width + pad.padBR + pad.padCR,
                                 source.y1 + source.height + pad.padBT + pad.padCT});
    const double W = area.width, H = area.height;
    // One axis at a time; every adjustment starts from the rounded offset, so
    // a later one on the same axis replaces an earlier one.
    auto axis = [m](double lo, double hi, double size, double rounded, double& exact) {
        double span = hi - lo;
        if (size >= span) {
            if (lo < 0) exact = rounded - lo;
            if (hi > size) exact = rounded - (hi - size);
        } else {
            if (size - m > hi) exact = rounded - (hi - size + m);
            if (lo > m) exact = rounded - lo + m;
        }
    };
    axis(lb.x, rt.x, W, _bx.get(), bpx);
    axis(lb.y, rt.y, H, _by.get(), bpy);
    _bx.set(roundAway(bpx));
    _by.set(roundAway(bpy));
    roundOffsets();
}

void refitCanvas(bool exact) {
    Framer& f = Framer::shared();
    f.minzoom = 0.03125;
    services::Rect r = f.compositionRect ? f.compositionRect() : backdrop().outerOrigin().value_or(f.source);
    f.zoomToFit(r, exact);
    f._zoom.set(std::min(f.zoom(), 1.0));
    f.minzoom = f.zoom();
    services::Rect e = f.getEffectiveArea();
    f.setOffset({r.x1 + r.width / 2, r.y1 + r.height / 2}, {e.width / 2, e.height / 2});
}

}  // namespace editor
