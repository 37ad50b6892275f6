#include "objects/OTHelper.h"

#include <algorithm>
#include <cmath>

#include "objects/ObjectHost.h"

namespace objects {

kit::Path OTHelper::pointerPath(const services::Rect& box, double perc, double dist, double F,
                                const std::string& side, const ObjectHost& host) {
    const double x = box.x1, y = box.y1, w = box.width, h = box.height, d = host.dpr();
    kit::Path path;
    if (w < 15) return path;
    const double q = d * F * 0.25;
    const double f = 0.4 * (F / 14) + 0.6 * std::sqrt(F / 14);
    const double B = 12 * f * d, M = 100 * d;
    // The base's width grows with the pointer's length and its slant from the side's centre.
    auto baseWidth = [&](double along, double base, double c, double dd) {
        return f *
               (std::sqrt((along - base) * (along - base) + dd * dd) / 24 +
                3.5 * (std::fabs(c - along) + dd) / dd + 5) *
               d;
    };
    if (side == "t" || side == "b") {
        const double lo = -M / w;
        const double pc = std::clamp(perc, lo, 1 + M / w);
        const double tipX = pc * w + x;
        const bool straight = x + q < tipX && tipX < x + w - q;
        double dd = dist;
        if (0 < dist && dist < B && straight) dd = B / 2;
        const double tipY = side == "t" ? y + h + dd : y - dd;
        const double baseY = side == "t" ? y + h - 1 : y + 1;
        double bw, bx;
        if (straight && dd < B) {
            bw = 2 * dd;
            bx = tipX;
        } else {
            // A pointer of no length beside a corner has no slant to size its
            // base by (the width formula divides by the distance): none is drawn.
            if (!(dd > 0)) return path;
            const double c = (x + w + x) * 0.5;
            const double u = (pc - lo) / (2 * M / w + 1);
            bx = (0.8 * w - 2 * q) * (u * 0.9 + 0.05) + 0.1 * w + x + q;
            bw = baseWidth(tipX, bx, c, dd);
        }
        bw = std::min(bw, w - 2 * q);
        double start = std::max(x + q, bx - bw * 0.5);
        start = std::min(start, x + w - q - bw);
        path.moveTo({start, baseY});
        path.lineTo({tipX, tipY});
        path.lineTo({start + bw, baseY});
        return path;
    }
    const double lo = -M / h;
    const double pc = std::clamp(perc, lo, 1 + M / h);
    double tipY = pc * h + y;
    const bool straight = y + q < tipY && tipY < y + h - q;
    double dd = dist;
    if (0 < dist && dist < B && straight) dd = B / 2;
    const double tipX = side == "r" ? x + w + dd : x - dd;
    const double baseX = side == "r" ? x + w - 1 : x + 1;
    double bw, by;
    if (dd < B && straight) {
        bw = 2 * dd;
        by = tipY;
        if (h < 40 * d) by = tipY = (y + h + y) * 0.5;  // a low box: base and tip on the middle
    } else {
        if (!(dd > 0)) return path;
        const double c = (y + h + y) * 0.5;
        const double u = (pc - lo) / (2 * M / h + 1);
        by = (0.8 * h - 2 * q) * u + 0.1 * h + y + q;
        bw = baseWidth(tipY, by, c, dd);
    }
    bw = std::min(bw, h - 2 * q);
    double start = std::max(y + q, by - bw * 0.5);
    start = std::min(start, y + h - q - bw);
    path.moveTo({baseX, start});
    path.lineTo({tipX, tipY});
    path.lineTo({baseX, start + bw});
    return path;
}

kit::Point OTHelper::pointerBase(const services::Rect& box, double perc, double dist, const std::string& side,
                                 const ObjectHost& host) {
    const double x = box.x1, y = box.y1, w = box.width, h = box.height;
    kit::Point p;
    if (side == "t")
        p = {perc * w + x, y + h + dist};
    else if (side == "b")
        p = {perc * w + x, y - dist};
    else if (side == "r")
        p = {x + w + dist, perc * h + y};
    else
        p = {x - dist, perc * h + y};
    kit::Point v = host.imageToView(p);
    return {v.x / host.dpr(), v.y / host.dpr()};
}

OTHelper::Side OTHelper::pointerSide(const services::Rect& box, kit::Point p) {
    const double x = box.x1, y = box.y1, w = box.width, h = box.height;
    const double x0 = std::min(x, x + w), x1 = std::max(x, x + w), y0 = std::min(y, y + h),
                 y1 = std::max(y, y + h);
    if (p.x > x0 && p.x < x1 && p.y > y0 && p.y < y1) return {"t", 0.5, 0.0};
    const double above = p.y - (y + h), below = y - p.y, leftOut = x - p.x, rightOut = p.x - (x + w);
    Side s;
    if (above > 0 && above > leftOut && above > rightOut)
        s = {"t", 0, above};
    else if (below > 0 && below > leftOut && below > rightOut)
        s = {"b", 0, below};
    else if (p.x > x)
        s = {"r", 0, rightOut};
    else
        s = {"l", 0, leftOut};
    // A point on the top or bottom edge itself falls to a side it lies
    // inside of; it gets no pointer rather than one pointing inwards.
    s.dist = std::clamp(s.dist, 0.0, 200.0);
    const bool across = s.side == "t" || s.side == "b";
    const double len = across ? w : h;
    const double raw = across ? (p.x - x) / w : (p.y - y) / h;
    s.perc = std::clamp(raw, -200 / len, 1 + 200 / len);
    return s;
}

TextEditorView& OTHelper::makeEditor(kit::View* canvas) {
    return TextEditorView::shared(canvas);
}

}  // namespace objects
