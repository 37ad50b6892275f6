#include "capture/Registration.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

namespace capture {

namespace {

// Grey from the B, G, R bytes of a pixel.
uint8_t greyAt(const uint8_t* p) {
    return uint8_t((uint32_t(p[0]) * 29 + uint32_t(p[1]) * 150 + uint32_t(p[2]) * 77) >> 8);
}

// A grey copy of some columns of an image.
struct Grey {
    int w = 0, h = 0;
    std::vector<uint8_t> v;
    const uint8_t* row(int y) const { return v.data() + size_t(y) * size_t(w); }
};

// Columns x0 … x0 + cols − 1, one value per `step` columns, their mean: no
// column goes unseen, or digits that differ in one column of their glyph
// could look alike.
Grey greyOf(const kit::Image& img, int x0, int cols, int step) {
    Grey g;
    g.w = cols / step;
    g.h = img.height();
    g.v.resize(size_t(g.w) * size_t(g.h));
    for (int y = 0; y < g.h; ++y) {
        const uint8_t* p = img.row(y) + size_t(x0) * 4;
        uint8_t* out = g.v.data() + size_t(y) * size_t(g.w);
        for (int x = 0; x < g.w; ++x) {
            uint32_t sum = 0;
            for (int k = 0; k < step; ++k, p += 4) sum += greyAt(p);
            out[x] = uint8_t(sum / uint32_t(step));
        }
    }
    return g;
}

// The columns left and right of the central ones, every one of them.
Grey sidesOf(const kit::Image& img, int x0, int cols) {
    Grey left = greyOf(img, 0, x0, 1), right = greyOf(img, x0 + cols, img.width() - x0 - cols, 1);
    Grey g;
    g.w = left.w + right.w;
    g.h = img.height();
    g.v.resize(size_t(g.w) * size_t(g.h));
    for (int y = 0; y < g.h; ++y) {
        std::copy_n(left.row(y), left.w, g.v.begin() + long(y) * g.w);
        std::copy_n(right.row(y), right.w, g.v.begin() + long(y) * g.w + left.w);
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

// Mean absolute difference of next row r against prev row r + s over the
// overlap. Gives up (infinity) as soon as the mean is sure to exceed `bound`:
// most shifts are far off, and only those near the best need their full sum.
double costAt(const Grey& prev, const Grey& next, int s,
              double bound = std::numeric_limits<double>::infinity()) {
    int r0 = std::max(0, -s), r1 = std::min(next.h, prev.h - s);
    if (r1 - r0 <= 0 || next.w <= 0) return std::numeric_limits<double>::infinity();
    const double cells = double(r1 - r0) * next.w;
    const uint64_t most = std::isfinite(bound) ? uint64_t(std::max(0.0, bound) * cells) + 1 : UINT64_MAX;
    uint64_t sum = 0;
    for (int r = r0; r < r1; ++r) {
        const uint8_t* a = next.row(r);
        const uint8_t* b = prev.row(r + s);
        uint32_t rowSum = 0;
        for (int c = 0; c < next.w; ++c) rowSum += uint32_t(std::abs(int(a[c]) - int(b[c])));
        sum += rowSum;
        if (sum > most) return std::numeric_limits<double>::infinity();
    }
    return double(sum) / cells;
}

// How far above the best a cost may lie and still count as just as good:
// rendering gives exact pixels, so the margin is small.
double tieLimit(double best) {
    return best + std::max(0.05, best * 0.02);
}

// Ties go to the smaller movement, so a page without texture counts as standing still.
bool better(const Shift& a, const Shift& b) {
    return a.cost < b.cost - 1e-9 || (std::fabs(a.cost - b.cost) <= 1e-9 && std::abs(a.dy) < std::abs(b.dy));
}

// The costs of `shifts`, taken in the order given (the likeliest first, so
// the bound tightens early); those that cannot tie with the best are left out.
std::vector<Shift> tiedIn(const Grey& prev, const Grey& next, const std::vector<int>& shifts) {
    std::vector<Shift> costs;
    double best = std::numeric_limits<double>::infinity();
    for (int s : shifts) {
        double c = costAt(prev, next, s, tieLimit(best));
        if (!std::isfinite(c)) continue;
        best = std::min(best, c);
        costs.push_back({s, c, {}});
    }
    std::vector<Shift> tied;
    for (const Shift& c : costs)
        if (c.cost <= tieLimit(best)) tied.push_back(c);
    std::stable_sort(tied.begin(), tied.end(), better);
    return tied;
}

}  // namespace

std::optional<Shift> registerFrames(const kit::Image& prev, const kit::Image& next, int maxShift) {
    if (prev.isNull() || next.isNull()) return std::nullopt;
    if (prev.width() != next.width() || prev.height() != next.height()) return std::nullopt;
    int w = next.width(), h = next.height();
    if (w < 8 || h < 8) return std::nullopt;
    int limit = maxShift > 0 ? std::min(maxShift, h - 4) : int(h * 0.7);

    // Central five sevenths of the width: scroll bars and fixed side panels stay out.
    int x0 = w / 7, cols = w - 2 * (w / 7);
    int fineStep = std::max(1, cols / 480);
    Grey pf = greyOf(prev, x0, cols, fineStep), nf = greyOf(next, x0, cols, fineStep);
    // Coarse pass over fewer columns but every row: text repeats every line,
    // and rows averaged in blocks would favour the shifts that are multiples
    // of both the block and the line, missing the true one. Every shift that
    // comes close to the best is kept.
    int fx = std::max(1, pf.w / 160);
    Grey pc = reduced(pf, fx, 1), nc = reduced(nf, fx, 1);
    auto nearTo = [](double best) { return best + std::max(0.5, best * 0.1); };
    std::vector<Shift> coarse;
    double bestCoarse = std::numeric_limits<double>::infinity();
    for (int c = -limit; c <= limit; ++c) {
        double cost = costAt(pc, nc, c, nearTo(bestCoarse));
        if (!std::isfinite(cost)) continue;
        coarse.push_back({c, cost, {}});
        bestCoarse = std::min(bestCoarse, cost);
    }
    if (coarse.empty()) return std::nullopt;
    std::stable_sort(coarse.begin(), coarse.end(), better);

    // Fine pass over every column around every close candidate, the closest
    // first; standing still is always among the shifts tried, so still frames
    // beat a shift that is no better.
    std::vector<char> wanted(size_t(2 * limit + 1), 0);
    std::vector<int> fineShifts;
    auto want = [&](int s) {
        if (s < -limit || s > limit || wanted[size_t(s + limit)]) return;
        wanted[size_t(s + limit)] = 1;
        fineShifts.push_back(s);
    };
    for (size_t i = 0; i < coarse.size() && coarse[i].cost <= nearTo(bestCoarse); ++i)
        for (int s = coarse[i].dy - 1; s <= coarse[i].dy + 1; ++s) want(s);
    want(0);
    std::vector<Shift> central = tiedIn(pf, nf, fineShifts);
    // Content that agrees nowhere was not scrolled, it was replaced.
    if (central.empty() || central.front().cost > 24.0) return std::nullopt;

    // The whole width, line numbers and margins included, decides between
    // shifts the centre cannot tell apart: the sides' every column is added
    // to what the centre said.
    Shift best = central.front();
    if (central.size() > 1) {
        Grey ps = sidesOf(prev, x0, cols), ns = sidesOf(next, x0, cols);
        const double all = cols + ps.w;
        double bestWide = std::numeric_limits<double>::infinity();
        std::vector<Shift> wide;
        for (const Shift& c : central) {
            // A shift whose sides alone put it past the best so far is dropped early.
            double side = costAt(ps, ns, c.dy, (tieLimit(bestWide) * all - c.cost * cols) / ps.w);
            if (!std::isfinite(side)) continue;
            wide.push_back({c.dy, (c.cost * cols + side * ps.w) / all, {}});
            bestWide = std::min(bestWide, wide.back().cost);
        }
        std::stable_sort(wide.begin(), wide.end(), better);
        best = *std::find_if(central.begin(), central.end(),
                             [&](const Shift& c) { return c.dy == wide.front().dy; });
        for (const Shift& t : wide)
            if (t.cost <= tieLimit(wide.front().cost)) best.ties.push_back(t.dy);
    }
    if (best.ties.empty()) best.ties.push_back(best.dy);
    std::sort(best.ties.begin(), best.ties.end());
    return best;
}

std::optional<int> nearestTo(const std::vector<int>& shifts, double predicted) {
    if (!(predicted >= 0) || !std::isfinite(predicted) || shifts.empty()) return std::nullopt;
    std::vector<int> byDistance(shifts);
    auto distance = [predicted](int s) { return std::fabs(s - predicted); };
    std::stable_sort(byDistance.begin(), byDistance.end(),
                     [&](int a, int b) { return distance(a) < distance(b); });
    double d0 = distance(byDistance[0]);
    if (d0 > std::max(2.0, predicted * 0.1)) return std::nullopt;
    if (byDistance.size() > 1 && distance(byDistance[1]) < 3 * d0) return std::nullopt;
    return byDistance[0];
}

double rowsDifference(const kit::Image& a, int ya, const kit::Image& b, int yb, int n) {
    if (n <= 0) return 0;
    if (a.isNull() || b.isNull() || ya < 0 || yb < 0 || ya + n > a.height() || yb + n > b.height())
        return std::numeric_limits<double>::infinity();
    int w = std::min(a.width(), b.width());
    int step = std::max(1, w / 480);
    uint64_t sum = 0, cells = 0;
    for (int r = 0; r < n; ++r) {
        const uint8_t* pa = a.row(ya + r);
        const uint8_t* pb = b.row(yb + r);
        for (int x = 0; x < w; x += step, ++cells)
            sum += uint64_t(std::abs(int(greyAt(pa + 4 * x)) - int(greyAt(pb + 4 * x))));
    }
    return cells ? double(sum) / double(cells) : 0;
}

}  // namespace capture
