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

// How two frames agree at one shift: the rows that differ outright (two
// pixels or more over 24 grey levels apart), and the mean difference of the
// other rows. A row that stays put or changes by itself (a status line, a
// caret) differs outright whatever the shift, so it weighs alike at each,
// where a plain mean would weigh it differently at each; one digit that
// differs makes its rows count in full, where a mean over a wide row would
// hardly see it; and content that moved a pixel too far or too short differs
// a little everywhere, which the mean sees.
struct Score {
    int dy = 0;
    int rows = 0;
    double mean = 0;
    int overlap = 0;
};
constexpr int kFar = std::numeric_limits<int>::max();

// Stops early, with rows = kFar, once more than `maxRows` rows differ or the
// mean is sure to pass `maxMean`.
Score scoreAt(const Grey& prev, const Grey& next, int s, int maxRows, double maxMean) {
    Score sc{s, 0, 0, std::min(next.h, prev.h - s) - std::max(0, -s)};
    if (sc.overlap <= 0 || next.w <= 0) return {s, kFar, 0, 0};
    const double mostSum = maxMean * double(sc.overlap) * next.w;
    uint64_t sum = 0;
    for (int r = std::max(0, -s), end = r + sc.overlap; r < end; ++r) {
        const uint8_t* a = next.row(r);
        const uint8_t* b = prev.row(r + s);
        uint32_t rowSum = 0;
        int off = 0;
        for (int c = 0; c < next.w; ++c) {
            int d = std::abs(int(a[c]) - int(b[c]));
            rowSum += uint32_t(d);
            off += d > 24;
        }
        if (off >= 2) {
            if (++sc.rows > maxRows) return {s, kFar, 0, sc.overlap};
        } else if (double(sum += rowSum) > mostSum) {
            return {s, kFar, 0, sc.overlap};
        }
    }
    int rest = sc.overlap - sc.rows;
    sc.mean = rest > 0 ? double(sum) / (double(rest) * next.w) : 0;
    return sc;
}

// Fewer rows that differ outright first, then the lower mean, then the
// smaller movement, so a page without texture counts as standing still.
bool better(const Score& a, const Score& b) {
    if (a.rows != b.rows) return a.rows < b.rows;
    if (std::fabs(a.mean - b.mean) > 1e-9) return a.mean < b.mean;
    return std::abs(a.dy) < std::abs(b.dy);
}

// How close to the best a shift must come: within `rowsLimit` of the fewest
// rows that differ and `meanLimit` of the lowest mean.
struct Closeness {
    int (*rowsLimit)(int fewest, int height);
    double (*meanLimit)(double lowest);
};

// Worth a closer look: a generous margin, so that the true shift stays in
// the race until the whole width has had its say.
const Closeness kNear{[](int fewest, int h) { return fewest + std::max(24, h * 6 / 100); },
                      [](double lowest) { return lowest + std::max(0.5, lowest * 0.1); }};
// As good as the best: rendering gives exact pixels, so the margin is small.
const Closeness kTied{[](int fewest, int) { return fewest + std::max(2, fewest / 10); },
                      [](double lowest) { return lowest + std::max(0.05, lowest * 0.02); }};

// The scores of `shifts` that come close to the best, best first; the bounds
// tighten as better ones are found.
std::vector<Score> closeIn(const Grey& prev, const Grey& next, const std::vector<int>& shifts, Closeness k) {
    int fewest = kFar / 2;
    double lowest = std::numeric_limits<double>::infinity();
    std::vector<Score> scores;
    for (int s : shifts) {
        Score sc = scoreAt(prev, next, s, k.rowsLimit(fewest, next.h), k.meanLimit(lowest));
        if (sc.rows == kFar) continue;
        scores.push_back(sc);
        fewest = std::min(fewest, sc.rows);
        lowest = std::min(lowest, sc.mean);
    }
    std::vector<Score> close;
    for (const Score& sc : scores)
        if (sc.rows <= k.rowsLimit(fewest, next.h) && sc.mean <= k.meanLimit(lowest)) close.push_back(sc);
    std::stable_sort(close.begin(), close.end(), better);
    return close;
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
    std::vector<int> all(size_t(2 * limit + 1));
    for (int c = -limit; c <= limit; ++c) all[size_t(c + limit)] = c;
    // Taken in the order a quick look at rows averaged in blocks suggests, so
    // the bounds tighten early; the order decides nothing else.
    int fy = std::max(1, h / 256);
    Grey pb = reduced(pc, 1, fy), nb = reduced(nc, 1, fy);
    std::vector<double> guess(all.size());
    for (int c = -limit; c <= limit; ++c)
        guess[size_t(c + limit)] = costAt(pb, nb, int(std::lround(double(c) / fy)));
    std::stable_sort(all.begin(), all.end(),
                     [&](int a, int b) { return guess[size_t(a + limit)] < guess[size_t(b + limit)]; });
    std::vector<Score> coarse = closeIn(pc, nc, all, kNear);
    if (coarse.empty()) return std::nullopt;

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
    for (const Score& c : coarse)
        for (int s = c.dy - 1; s <= c.dy + 1; ++s) want(s);
    want(0);
    std::vector<Score> central = closeIn(pf, nf, fineShifts, kNear);
    // Content that agrees nowhere was not scrolled, it was replaced.
    if (central.empty()) return std::nullopt;
    const Score& closest = central.front();
    if (closest.rows > closest.overlap * 6 / 10 || closest.mean > 24.0) return std::nullopt;

    // The whole width, line numbers and margins included, decides between
    // the shifts the centre finds close; those as good as the best are ties.
    std::vector<Score> tied{closest};
    if (central.size() > 1) {
        Grey pw = greyOf(prev, 0, w, 1), nw = greyOf(next, 0, w, 1);
        std::vector<int> order;
        for (const Score& c : central) order.push_back(c.dy);
        tied = closeIn(pw, nw, order, kTied);
        if (tied.empty()) tied = {closest};
    }
    Shift best{tied.front().dy, costAt(pf, nf, tied.front().dy), {}};
    for (const Score& t : tied) best.ties.push_back(t.dy);
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
