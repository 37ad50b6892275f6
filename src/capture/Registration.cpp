#include "capture/Registration.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// The search over grey copies: every shift is scored on the central columns,
// the close ones over the whole width. It tolerates content that scrolled
// with small changes (a gradient redrawn, a soft image), which row signatures
// cannot match, but its cost grows with the square of the height.
std::optional<Shift> searchEveryShift(const kit::Image& prev, const kit::Image& next, int limit, int x0,
                                      int cols) {
    int w = next.width(), h = next.height();
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

constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;

uint64_t mix(uint64_t v) {
    v ^= v >> 33;
    v *= 0xff51afd7ed558ccdull;
    v ^= v >> 33;
    v *= 0xc4ceb9fe1a85ec53ull;
    return v ^ (v >> 33);
}

// A signature of `n` bytes in which every byte counts. Four independent
// lanes, so the multiplications overlap and the frames are read about as
// fast as memory gives them. Each step is a bijection of its lane, so two
// rows that differ in one word never sign alike.
uint64_t signature(const uint8_t* p, size_t n, uint64_t seed) {
    uint64_t a = seed, b = seed + 1, c = seed + 2, d = seed + 3;
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint64_t v[4];
        std::memcpy(v, p + i, 32);
        a = (a ^ v[0]) * kMul;
        b = (b ^ v[1]) * kMul;
        c = (c ^ v[2]) * kMul;
        d = (d ^ v[3]) * kMul;
    }
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, p + i, 8);
        a = (a ^ v) * kMul;
    }
    for (; i < n; ++i) b = (b ^ p[i]) * kMul;
    return mix(a) ^ mix(b ^ 0x5555) * 3 ^ mix(c ^ 0xaaaa) * 5 ^ mix(d ^ n) * 7;
}

// One signature a row of the columns x0 … x0 + cols − 1.
std::vector<uint64_t> rowSignatures(const kit::Image& img, int x0, int cols) {
    std::vector<uint64_t> out(size_t(img.height()));
    for (int y = 0; y < img.height(); ++y)
        out[size_t(y)] = signature(img.row(y) + size_t(x0) * 4, size_t(cols) * 4, 17);
    return out;
}

// One signature a row of the whole width, from the central columns' ones and
// the columns left and right of them.
std::vector<uint64_t> wholeSignatures(const kit::Image& img, const std::vector<uint64_t>& central, int x0,
                                      int cols) {
    std::vector<uint64_t> out(size_t(img.height()));
    size_t right = size_t(x0 + cols) * 4, rightBytes = size_t(img.width() - x0 - cols) * 4;
    for (int y = 0; y < img.height(); ++y) {
        uint64_t sides =
            signature(img.row(y), size_t(x0) * 4, 29) ^ mix(signature(img.row(y) + right, rightBytes, 31));
        out[size_t(y)] = mix(sides ^ central[size_t(y)]);
    }
    return out;
}

// Rows of `next` whose signature differs from that of row r + s of `prev`;
// gives up (kFar) once more than `most` differ.
int differingRows(const std::vector<uint64_t>& prev, const std::vector<uint64_t>& next, int s, int most) {
    int h = int(next.size()), n = 0;
    for (int r = std::max(0, -s), end = std::min(h, h - s); r < end; ++r)
        if (next[size_t(r)] != prev[size_t(r + s)] && ++n > most) return kFar;
    return n;
}

// Mean absolute grey difference over the central columns at `dy`; rows whose
// signatures agree are equal and add nothing.
double centralCost(const kit::Image& prev, const kit::Image& next, const std::vector<uint64_t>& ps,
                   const std::vector<uint64_t>& ns, int dy, int x0, int cols) {
    int h = next.height(), step = std::max(1, cols / 480);
    int r0 = std::max(0, -dy), r1 = std::min(h, h - dy);
    uint64_t sum = 0, cells = uint64_t(std::max(0, r1 - r0)) * uint64_t(cols / step);
    for (int r = r0; r < r1; ++r) {
        if (ns[size_t(r)] == ps[size_t(r + dy)]) continue;
        const uint8_t* a = next.row(r) + size_t(x0) * 4;
        const uint8_t* b = prev.row(r + dy) + size_t(x0) * 4;
        for (int x = 0; x + step <= cols; x += step)
            sum += uint64_t(std::abs(int(greyAt(a + 4 * x)) - int(greyAt(b + 4 * x))));
    }
    return cells ? double(sum) / double(cells) : 0;
}

// (shift, rows that differ at it)
using Agreement = std::pair<int, int>;

// The shifts within `slack` differing rows of the fewest, in the order tried.
template <class Slack>
std::vector<Agreement> closeShifts(const std::vector<uint64_t>& prev, const std::vector<uint64_t>& next,
                                   const std::vector<int>& shifts, Slack slack) {
    std::vector<Agreement> close;
    int fewest = kFar / 2;
    for (int s : shifts) {
        int n = differingRows(prev, next, s, slack(fewest));
        if (n == kFar) continue;
        close.emplace_back(s, n);
        fewest = std::min(fewest, n);
    }
    std::erase_if(close, [&](const Agreement& a) { return a.second > slack(fewest); });
    return close;
}

// Whether the `pixels` pixels from p are all one colour.
bool oneColour(const uint8_t* p, int pixels) {
    for (int x = 1; x < pixels; ++x)
        if (std::memcmp(p, p + 4 * size_t(x), 4) != 0) return false;
    return true;
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

    // Scrolled content is drawn again pixel for pixel, so a row that scrolled
    // keeps its signature: only the shifts where rows agree are worth a look,
    // and comparing signatures costs one number a row, not a row of pixels.
    // Shifts nearest standing still come first, so the bound tightens early
    // and, among equals, the smaller movement wins.
    std::vector<uint64_t> pc = rowSignatures(prev, x0, cols), nc = rowSignatures(next, x0, cols);
    std::vector<int> shifts(size_t(2 * limit + 1));
    for (int k = 0; k <= 2 * limit; ++k) shifts[size_t(k)] = k % 2 ? (k + 1) / 2 : -(k / 2);
    const int nearRows = std::max(24, h * 6 / 100);
    std::vector<Agreement> centre =
        closeShifts(pc, nc, shifts, [&](int fewest) { return fewest + nearRows; });
    auto fewer = [](const Agreement& a, const Agreement& b) { return a.second < b.second; };
    auto closest = std::min_element(centre.begin(), centre.end(), fewer);
    // Where most rows agree nowhere, the content changed as it scrolled
    // (redrawn, resampled) or was replaced: the grey search weighs how much.
    if (closest == centre.end() ||
        closest->second * 2 > std::min(h, h - closest->first) - std::max(0, -closest->first))
        return searchEveryShift(prev, next, limit, x0, cols);

    // The whole width, line numbers and margins included, decides between
    // the shifts the centre finds close; those as good as the best are ties,
    // and the one with the fewest differing rows is the answer.
    std::vector<Agreement> tied{*closest};
    if (centre.size() > 1) {
        std::vector<uint64_t> pw = wholeSignatures(prev, pc, x0, cols),
                              nw = wholeSignatures(next, nc, x0, cols);
        std::vector<int> order;
        for (const Agreement& c : centre) order.push_back(c.first);
        tied = closeShifts(pw, nw, order, [](int fewest) { return fewest + std::max(2, fewest / 10); });
        if (tied.empty()) tied = {*closest};
    }
    int dy = std::min_element(tied.begin(), tied.end(), fewer)->first;
    Shift out{dy, centralCost(prev, next, pc, nc, dy, x0, cols), {}};
    for (const Agreement& t : tied) out.ties.push_back(t.first);
    std::sort(out.ties.begin(), out.ties.end());
    return out;
}

FixedRows fixedRows(const kit::Image& prev, const kit::Image& next) {
    if (prev.isNull() || next.isNull() || prev.width() != next.width() || prev.height() != next.height())
        return {};
    int h = next.height();
    size_t bytes = size_t(next.width()) * 4;
    auto same = [&](int y) { return std::memcmp(prev.row(y), next.row(y), bytes) == 0; };
    int most = h * 2 / 5, top = 0, bottom = 0;
    while (top < h && same(top)) ++top;
    if (top == h) return {};
    while (bottom < h - top && same(h - 1 - bottom)) ++bottom;
    top = std::min(top, most);
    return {top, std::min(bottom, most - top)};
}

std::optional<Shift> registerPage(const kit::Image& prev, const kit::Image& next, double reach) {
    FixedRows fixed = fixedRows(prev, next);
    int w = next.width(), h = next.height(), inner = h - fixed.top - fixed.bottom;
    int maxShift = reach > 0 ? int(h * reach) - fixed.top - fixed.bottom : 0;
    if (fixed == FixedRows{}) return registerFrames(prev, next, maxShift);
    return registerFrames(prev.cropped(0, fixed.top, w, inner), next.cropped(0, fixed.top, w, inner),
                          maxShift);
}

FixedRows bandsBetween(const kit::Image& prev, const kit::Image& frame, int s) {
    const int h = frame.height();
    // Rows counted from `edge` inwards (`step` ±1), as far as `limit`.
    auto band = [&](int edge, int step, int limit) {
        int n = 0;
        for (int i = 0; i < limit; ++i) {
            int r = edge + step * i;
            // Where no row came from (outside the frame) a row the same in
            // its place stayed, unless it is of one colour (the gap between
            // two lines), which a page row could as well be. A row that
            // changed in its place and came from the rows looked at so far
            // came out from behind the band: a page row, however much nearer
            // the line that stood in its place (alike lines) it reads than the
            // status line it came from under.
            bool outside = r + s < 0 || r + s >= h, behind = !outside && (r + s - edge) * step < i;
            double here = rowsDifference(frame, r, prev, r, 1);
            if (behind && here != 0) break;
            bool stayed = here == 0 && !oneColour(frame.row(r), frame.width());
            double there = outside ? (stayed ? 1 : 0) : rowsDifference(frame, r, prev, r + s, 1);
            if (here < there)
                n = i + 1;
            else if (here != 0 || there != 0)
                break;
        }
        return n;
    };
    int top = band(0, 1, h);
    return {top, band(h - 1, -1, h - top)};
}

int rowsChanged(const kit::Image& prev, const kit::Image& frame) {
    const size_t bytes = size_t(frame.width()) * 4;
    int n = 0;
    for (int r = 0; r < frame.height(); ++r) n += std::memcmp(prev.row(r), frame.row(r), bytes) != 0;
    return n;
}

bool looksAlikeShifted(const kit::Image& frame) {
    if (frame.isNull() || frame.width() < 8 || frame.height() < 8) return false;
    int w = frame.width(), h = frame.height();
    int x0 = w / 7, cols = w - 2 * (w / 7);
    std::vector<uint64_t> central = rowSignatures(frame, x0, cols);
    std::vector<uint64_t> whole = wholeSignatures(frame, central, x0, cols);
    std::vector<char> textured(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) textured[size_t(y)] = !oneColour(frame.row(y) + size_t(x0) * 4, cols);
    for (int s = 1; s <= h / 2; ++s) {
        int compared = 0, differ = 0;
        for (int r = 0; r + s < h && differ * 8 <= h - s; ++r) {
            if (!textured[size_t(r)] && !textured[size_t(r + s)]) continue;
            ++compared;
            differ += whole[size_t(r)] != whole[size_t(r + s)];
        }
        if (differ * 8 <= compared) return true;
    }
    return false;
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
