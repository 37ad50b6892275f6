#include "imaging/SmartAdjust.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "imaging/Diagnostics.h"
#include "imaging/PixelMap.h"

namespace imaging {

namespace {

constexpr int kEdgeStep = 25;
constexpr int kSideTolerance = 40;
constexpr int kInnerTolerance = 20;
constexpr double kScoutLimitMs = 4;

// Whole numbers in a range that keeps every sum below fit in an int.
double bounded(double v) {
    constexpr double limit = double(std::numeric_limits<int>::max() / 4);
    return std::isfinite(v) ? std::clamp(v, -limit, limit) : 0;
}
int truncInt(double v) {
    return int(std::trunc(bounded(v)));
}
int roundInt(double v) {
    return int(std::lround(bounded(v)));
}

// One walk of scout along a row or a column of the crop, in positions counted
// from the crop's left or top edge.
class ScoutWalk {
public:
    ScoutWalk(const PixelMap& map, bool vertical, int fixed, int limit)
        : map_(map), vertical_(vertical), fixed_(fixed), limit_(limit) {}

    int walk(int p0, int dir, int persistence) const {
        const int end = dir < 0 ? 0 : limit_;
        int p = std::clamp(p0, 0, std::max(limit_ - 1, 0));
        const uint8_t* px = read(p, dir);
        if (!px) return end;
        RGB8 prev = PixelMap::rgb(px);
        for (;;) {
            p += dir;
            if (p >= limit_ || p < 0) return end;
            if (!(px = read(p, dir))) return end;
            RGB8 cur = PixelMap::rgb(px);
            int d = colorDistance(cur, prev);
            prev = cur;
            if (d <= kEdgeStep) continue;
            int e = 0;
            if (p < limit_ - 1 && p > 0) {
                const uint8_t* next = map_.at(x(p + dir), y(p + dir));
                e = next ? colorDistance(PixelMap::rgb(next), cur) : 0;
            }
            if (e >= 2 * d) continue;  // a spike, not an edge
            if (persistence == 0) return dir > 0 ? p : p + 1;
            --persistence;
        }
    }

private:
    const PixelMap& map_;
    bool vertical_;
    int fixed_;  // the column (vertical) or the row from the top
    int limit_;

    int x(int p) const { return vertical_ ? fixed_ : p; }
    // Crop y (up) of position p, or of the fixed row counted from the top.
    int y(int p) const { return map_.height() - 1 - (vertical_ ? p : fixed_); }

    const uint8_t* read(int p, int dir) const {
        const uint8_t* px = map_.at(x(p), y(p));
        if (!px) {
            long long column = (long long)map_.cropX() + x(p);
            long long row = (long long)map_.cropY() + (map_.height() - 1 - y(p));
            long long stride = map_.bufferWidth();
            consoleLine("OUCH, scout() is out of bounds " + std::to_string((row * stride + column) * 4) +
                        " " + std::to_string((long long)map_.bufferHeight() * stride * 4) + " " +
                        std::to_string(dir) + " " + std::to_string(stride));
        }
        return px;
    }
};

int distanceOrOutside(const PixelMap& map, RGB8 ref, int x, int y) {
    const uint8_t* p = map.at(x, y);
    return p ? colorDistance(PixelMap::rgb(p), ref) : kOutsideDistance;
}

struct Sides {
    double minX, maxX, minY, maxY;
    static Sides of(const kit::Rect& r) { return {r.minX(), r.maxX(), r.minY(), r.maxY()}; }
    kit::Rect rect() const { return kit::Rect(minX, minY, maxX - minX, maxY - minY).standardized(); }
};

}  // namespace

std::pair<double, double> scout(const Capture& capture, double sx, double sy, bool vertical,
                                int persistence) {
    const double W = capture.pixels.isNull() ? 1 : capture.pixels.width();
    const double H = capture.pixels.isNull() ? 1 : capture.pixels.height();
    if (!(sx >= 0)) return vertical ? std::pair{sy, sy} : std::pair{0.0, 0.0};
    if (!(sy >= 0)) return vertical ? std::pair{0.0, 0.0} : std::pair{sx, sx};
    // The far edge itself (x = W along a row, y = H along a column) is where a
    // selection's right or top side lies when it takes in the whole image: it
    // is walked like any side, so such a side is not pulled one pixel inward.
    if (vertical ? sx >= W : sx > W) return vertical ? std::pair{sy, sy} : std::pair{W - 1, W - 1};
    if (vertical ? sy > H : sy >= H) return vertical ? std::pair{H - 1, H - 1} : std::pair{sx, sx};

    Stopwatch timer("scout");
    PixelMap map(capture);
    if (!map.hasPixels()) {
        errorReport("scout(sx:sy:vertical:persistence:)", "No pixel data");
        return {0, 0};
    }
    const int x = int(std::floor(sx)), y = int(std::ceil(sy));
    const int cropH = map.height();
    const int p0 = vertical ? cropH - y : x;
    const int limit = vertical ? cropH : map.width();
    // The row through (x, y) is pixel row y - 1; both it and the column are
    // kept inside the crop, so a point on the crop's edge reads its edge pixels.
    const int fixed = vertical ? std::clamp(x, 0, std::max(map.width() - 1, 0))
                               : std::clamp(cropH - y, 0, std::max(cropH - 1, 0));
    ScoutWalk walker(map, vertical, fixed, limit);
    const int a = walker.walk(p0, -1, persistence);
    const int b = walker.walk(p0, +1, persistence);
    timer.assertWithin(kScoutLimitMs);
    if (vertical) return {double(cropH - b), double(cropH - a)};
    return {double(a), double(b)};
}

std::optional<int> checkHomogeneitySide(const Capture& capture, double selectionWidth, double selectionHeight,
                                        int start, int stop, int inc, bool vertical, int ortFrom, int ortTo) {
    if (truncInt(selectionWidth) < 2 || truncInt(selectionHeight) < 2) return std::nullopt;
    PixelMap map(capture);
    if (!map.hasPixels()) {
        errorReport("checkHomogeneitySide(selection:start:stop:inc:vertical:ortFrom:ortTo:)",
                    "Can't get pixel data");
        return std::nullopt;
    }
    if (inc == 0) return std::nullopt;
    auto at = [&](int line, int pos) { return vertical ? map.at(line, pos) : map.at(pos, line); };
    // A reference outside the crop fails the side line anyway (distance 1000),
    // unless the range is empty, in which case no line can end the margin.
    const uint8_t* refPixel = at(start, ortFrom);
    if (!refPixel) return std::nullopt;
    const RGB8 ref = PixelMap::rgb(refPixel);
    auto distance = [&](int line, int pos) {
        return vertical ? distanceOrOutside(map, ref, line, pos) : distanceOrOutside(map, ref, pos, line);
    };
    for (int pos = ortFrom; pos < ortTo; ++pos)
        if (distance(start, pos) > kSideTolerance) return std::nullopt;

    int line = start;
    while ((inc > 0 && line < stop) || (inc < 0 && line > stop)) {
        line += inc;
        bool margin = true;
        for (int pos = ortFrom; pos < ortTo && margin; ++pos) margin = distance(line, pos) <= kInnerTolerance;
        if (!margin) break;
    }
    if (line == stop) return std::nullopt;
    return inc > 0 ? line : line + 1;
}

namespace {

enum class Side { MinX, MaxX, MinY, MaxY };

// One side step. The margin test runs over lines parallel to the side (columns
// for the left and right sides), stepping inward; without a margin, scout
// walks across the side and the inward edge wins unless it is more than three
// times as far as the outward one.
kit::Rect adjustSide(const Capture& capture, const kit::Rect& r, Side side) {
    Sides s = Sides::of(r);
    const bool columns = side == Side::MinX || side == Side::MaxX;
    const bool lowSide = side == Side::MinX || side == Side::MinY;
    double& lo = columns ? s.minX : s.minY;
    double& hi = columns ? s.maxX : s.maxY;
    const double ortLo = columns ? s.minY : s.minX, ortHi = columns ? s.maxY : s.maxX;
    double& moving = lowSide ? lo : hi;

    const int start = lowSide ? truncInt(lo) : truncInt(hi - 1);
    const int stop = lowSide ? truncInt(hi) : truncInt(lo);
    if (auto p = checkHomogeneitySide(capture, s.maxX - s.minX, s.maxY - s.minY, start, stop,
                                      lowSide ? 1 : -1, columns, truncInt(ortLo), truncInt(ortHi))) {
        moving = *p;
        return s.rect();
    }
    const double coord = roundInt(moving);
    const double across = roundInt(ortLo + (ortHi - ortLo) / 2);
    auto [lower, upper] =
        columns ? scout(capture, coord, across, false, 0) : scout(capture, across, coord, true, 0);
    const double inward = lowSide ? upper : lower, outward = lowSide ? lower : upper;
    const double candidate = std::abs(coord - inward) < 3 * std::abs(coord - outward) ? inward : outward;
    if (lowSide ? candidate < hi : candidate > lo) moving = candidate;
    return s.rect();
}

}  // namespace

kit::Rect smartAdjustMinX(const Capture& capture, const kit::Rect& r) {
    return adjustSide(capture, r, Side::MinX);
}
kit::Rect smartAdjustMaxX(const Capture& capture, const kit::Rect& r) {
    return adjustSide(capture, r, Side::MaxX);
}
kit::Rect smartAdjustMinY(const Capture& capture, const kit::Rect& r) {
    return adjustSide(capture, r, Side::MinY);
}
kit::Rect smartAdjustMaxY(const Capture& capture, const kit::Rect& r) {
    return adjustSide(capture, r, Side::MaxY);
}

kit::Rect smartAdjust(const Capture& capture, const kit::Rect& selection) {
    Stopwatch timer("Smart Adjust");
    kit::Rect r = selection;
    r = smartAdjustMinX(capture, r);
    r = smartAdjustMaxX(capture, r);
    r = smartAdjustMinY(capture, r);
    r = smartAdjustMaxY(capture, r);
    timer.log();
    return r;
}

}  // namespace imaging
