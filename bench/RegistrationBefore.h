#pragma once
// The frame registration as it stood before it learned to tell look-alike
// lines apart, kept word for word (but for its namespace) as the benchmark's
// reference: the registration of today must cost no more on the same pairs.
// It finds the wrong shift on a terminal's lines; that is why it was replaced.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

#include "kit/base/Image.h"

namespace registration_before {

struct Shift {
    int dy = 0;       // pixels; positive when the content moved up (scrolled down)
    double cost = 0;  // mean absolute grey difference over the overlap at dy
};

namespace {

// A grey copy of the central columns, one value per `step` columns.
struct Grey {
    int w = 0, h = 0;
    std::vector<uint8_t> v;
    const uint8_t* row(int y) const { return v.data() + size_t(y) * size_t(w); }
};

Grey greyOf(const kit::Image& img, int x0, int cols, int step) {
    Grey g;
    g.w = cols / step;
    g.h = img.height();
    g.v.resize(size_t(g.w) * size_t(g.h));
    for (int y = 0; y < g.h; ++y) {
        const uint8_t* p = img.row(y) + size_t(x0) * 4;
        uint8_t* out = g.v.data() + size_t(y) * size_t(g.w);
        for (int x = 0; x < g.w; ++x, p += 4 * step)
            out[x] = uint8_t((uint32_t(p[0]) * 29 + uint32_t(p[1]) * 150 + uint32_t(p[2]) * 77) >> 8);
    }
    return g;
}

// The grey copy reduced by fy rows and fx columns per cell (box average).
Grey reduced(const Grey& g, int fx, int fy) {
    Grey r;
    r.w = g.w / fx;
    r.h = g.h / fy;
    r.v.resize(size_t(r.w) * size_t(r.h));
    std::vector<uint32_t> acc(size_t(r.w));
    for (int ry = 0; ry < r.h; ++ry) {
        std::fill(acc.begin(), acc.end(), 0u);
        for (int k = 0; k < fy; ++k) {
            const uint8_t* p = g.row(ry * fy + k);
            for (int rx = 0; rx < r.w; ++rx)
                for (int j = 0; j < fx; ++j) acc[size_t(rx)] += p[rx * fx + j];
        }
        uint32_t div = uint32_t(fx * fy);
        uint8_t* out = r.v.data() + size_t(ry) * size_t(r.w);
        for (int rx = 0; rx < r.w; ++rx) out[rx] = uint8_t(acc[size_t(rx)] / div);
    }
    return r;
}

// Mean absolute difference of next row r against prev row r + s over the overlap.
double costAt(const Grey& prev, const Grey& next, int s) {
    int r0 = std::max(0, -s), r1 = std::min(next.h, prev.h - s);
    if (r1 - r0 <= 0) return std::numeric_limits<double>::infinity();
    uint64_t sum = 0;
    for (int r = r0; r < r1; ++r) {
        const uint8_t* a = next.row(r);
        const uint8_t* b = prev.row(r + s);
        uint32_t rowSum = 0;
        for (int c = 0; c < next.w; ++c) rowSum += uint32_t(std::abs(int(a[c]) - int(b[c])));
        sum += rowSum;
    }
    return double(sum) / (double(r1 - r0) * next.w);
}

// The lowest cost in [lo, hi]; ties go to the smaller movement, so a page
// without texture counts as standing still.
Shift bestIn(const Grey& prev, const Grey& next, int lo, int hi) {
    Shift best{0, std::numeric_limits<double>::infinity()};
    for (int s = lo; s <= hi; ++s) {
        double c = costAt(prev, next, s);
        if (c < best.cost - 1e-9 || (std::fabs(c - best.cost) <= 1e-9 && std::abs(s) < std::abs(best.dy)))
            best = {s, c};
    }
    return best;
}

}  // namespace

inline std::optional<Shift> registerFrames(const kit::Image& prev, const kit::Image& next, int maxShift) {
    if (prev.isNull() || next.isNull()) return std::nullopt;
    if (prev.width() != next.width() || prev.height() != next.height()) return std::nullopt;
    int w = next.width(), h = next.height();
    if (w < 8 || h < 8) return std::nullopt;
    int limit = maxShift > 0 ? std::min(maxShift, h - 4) : int(h * 0.7);

    // Central five sevenths of the width: scroll bars and fixed side panels stay out.
    int x0 = w / 7, cols = w - 2 * (w / 7);
    int fineStep = std::max(1, cols / 480);
    Grey pf = greyOf(prev, x0, cols, fineStep), nf = greyOf(next, x0, cols, fineStep);
    int fy = std::max(1, h / 256), fx = std::max(1, pf.w / 160);
    Grey pc = reduced(pf, fx, fy), nc = reduced(nf, fx, fy);
    int coarseLimit = limit / fy;

    // Coarse pass: every shift, keeping the few that come close to the best.
    std::vector<Shift> coarse;
    for (int c = -coarseLimit; c <= coarseLimit; ++c) coarse.push_back({c, costAt(pc, nc, c)});
    auto better = [](const Shift& a, const Shift& b) {
        return a.cost < b.cost - 1e-9 ||
               (std::fabs(a.cost - b.cost) <= 1e-9 && std::abs(a.dy) < std::abs(b.dy));
    };
    std::stable_sort(coarse.begin(), coarse.end(), better);
    if (coarse.empty() || !std::isfinite(coarse.front().cost)) return std::nullopt;
    double near = coarse.front().cost + std::max(0.5, coarse.front().cost * 0.1);

    // Fine pass around each close candidate.
    std::vector<Shift> fine;
    int reach = fy + 2;
    for (size_t i = 0; i < coarse.size() && i < 8 && coarse[i].cost <= near; ++i) {
        int centre = coarse[i].dy * fy;
        fine.push_back(bestIn(pf, nf, std::max(-limit, centre - reach), std::min(limit, centre + reach)));
    }
    // Still frames beat a shift that is no better.
    fine.push_back({0, costAt(pf, nf, 0)});
    std::stable_sort(fine.begin(), fine.end(), better);
    Shift best = fine.front();
    // Content that agrees nowhere was not scrolled, it was replaced.
    if (!std::isfinite(best.cost) || best.cost > 24.0) return std::nullopt;

    // Centres that repeat (a list of look-alike rows) agree at several shifts:
    // the whole width, line numbers and margins included, decides between them.
    std::vector<Shift> tied;
    for (const Shift& f : fine)
        if (f.cost <= best.cost + std::max(0.05, best.cost * 0.02) &&
            std::none_of(tied.begin(), tied.end(), [&](const Shift& t) { return t.dy == f.dy; }))
            tied.push_back(f);
    if (tied.size() > 1) {
        int wideStep = std::max(1, w / 480);
        Grey pw = greyOf(prev, 0, w, wideStep), nw = greyOf(next, 0, w, wideStep);
        Shift wide{best.dy, std::numeric_limits<double>::infinity()};
        for (const Shift& t : tied) {
            double c = costAt(pw, nw, t.dy);
            if (c < wide.cost - 1e-9 ||
                (std::fabs(c - wide.cost) <= 1e-9 && std::abs(t.dy) < std::abs(wide.dy)))
                wide = {t.dy, c};
        }
        best = {wide.dy, costAt(pf, nf, wide.dy)};
    }
    return best;
}

}  // namespace registration_before
