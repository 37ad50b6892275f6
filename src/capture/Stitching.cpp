// Frame stitching of the automatic scrolling capture.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "capture/CaptureHost.h"
#include "capture/ImageOps.h"
#include "capture/Registration.h"
#include "capture/ScrollCapturer.h"

namespace capture {

namespace {

const char* const kCombineFn = "combine(shots:region:direction:stripeHeight:rectOffset:dpr:)";
const char* const kStampFn = "overlayShiftStamp(img1:img2:travel:direction:)";
const char* const kCompareFn = "overlayCompareSegment(img1:img2:overlap:area:direction:threshold:)";
const char* const kFindShiftFn = "findShift(shots:lastCapture:step:rectOffset:dpr:direction:region:)";
// Far taller than any stitched image can be (layStrips refuses those first).
constexpr int kMaxRows = 1 << 28;

// Points to pixels: real heights, fractional scales included. A pixel ratio
// that is not a plain positive number counts as 1, and the result stays far
// inside an int, so extreme arguments cannot overflow the layout below.
int toPixels(int points, double dpr) {
    if (!(dpr > 0) || !std::isfinite(dpr)) dpr = 1;
    const double px = std::clamp(double(points) * dpr, -double(kMaxRows), double(kMaxRows));
    return int(std::lround(px));
}

// Lays out the first frame and strips. Going down (direction ≤ 0) each strip's
// bottom edge lies `advance` rows below the previous shot's bottom edge; going
// up (direction > 0) each strip's top edge lies `advance` rows above the
// previous shot's top edge. Later shots cover earlier ones where they meet.
kit::Image layStrips(const std::vector<kit::Image>& shots, const std::vector<int>& advances, int direction) {
    const kit::Image& first = shots.front();
    int64_t height = first.height();
    for (size_t i = 1; i < shots.size(); ++i) {
        height += std::max(0, advances[i - 1]);
        if (height > kMaxRows) return {};
    }
    if (height > std::numeric_limits<int>::max() / 4) return {};
    kit::Image out(first.width(), int(height), first.scale());
    if (out.isNull()) return {};
    if (direction > 0) {
        int top = int(height) - first.height();
        copyInto(out, first, 0, top);
        for (size_t i = 1; i < shots.size(); ++i) {
            top -= std::max(0, advances[i - 1]);
            copyInto(out, shots[i], 0, top);
        }
    } else {
        copyInto(out, first, 0, 0);
        int bottom = first.height();
        for (size_t i = 1; i < shots.size(); ++i) {
            bottom += std::max(0, advances[i - 1]);
            copyInto(out, shots[i], 0, bottom - shots[i].height());
        }
    }
    return out;
}

// Horizontal texture of one row over columns x0 … x0 + xw − 1.
double texture(const kit::Image& img, int y, int x0, int xw) {
    if (xw <= 0) return 0;
    const uint8_t* row = img.row(y);
    uint64_t sum = 0;
    for (int x = x0; x < x0 + xw; ++x)
        for (int ch = 0; ch < 3; ++ch) {
            int cur = row[x * 4 + ch];
            int left = x == x0 ? 0 : row[(x - 1) * 4 + ch];
            sum += uint64_t(std::abs(cur - left));
        }
    return double(sum) / (double(xw) * 3);
}

std::string shortest(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

}  // namespace

kit::Image ScrollCapturer::combine(const std::vector<kit::Image>& shots, const kit::Rect&, int direction,
                                   int stripeHeight, int, double dpr) {
    if (shots.empty()) {
        host().oops(kCombineFn, "OOPS: Trying to combine zero images");
        return {};
    }
    std::vector<int> advances(shots.size() - 1, toPixels(stripeHeight, dpr));
    kit::Image out = layStrips(shots, advances, direction);
    if (out.isNull()) host().oops(kCombineFn, "Can't create context");
    return out;
}

kit::Image ScrollCapturer::combineMeasured(const std::vector<kit::Image>& shots,
                                           const std::vector<int>& advances, int direction) {
    if (shots.empty()) {
        host().oops(kCombineFn, "OOPS: Trying to combine zero images");
        return {};
    }
    std::vector<int> adv(advances);
    adv.resize(shots.size() - 1, 0);
    kit::Image out = layStrips(shots, adv, direction);
    if (out.isNull()) host().oops(kCombineFn, "Can't create context");
    return out;
}

std::optional<int> ScrollCapturer::overlayShiftStamp(const kit::Image& img1, const kit::Image& img2,
                                                     int travel, int direction) {
    if (img1.isNull() || img2.isNull()) return std::nullopt;
    int h1 = img1.height(), h2 = img2.height();
    if (travel < 0 || travel > h2) return std::nullopt;
    int half = int(h2 * 0.5);
    int stampH = half - travel;
    if (stampH < 0 || travel < 0) return std::nullopt;  // more travel than the frame can show
    int q = (h2 - stampH - travel) / 2;
    int s1 = direction > 0 ? q : h1 - stampH - q;
    int s2 = direction > 0 ? q : h2 - stampH - travel - q;
    if (s1 < 0 || s1 + stampH > h1 || s2 < 0 || s2 + half > h2) return std::nullopt;
    int x0 = int(img1.width() * (1 - 0.7) * 0.5), xw = int(img1.width() * 0.7);
    xw = std::min(xw, std::min(img1.width(), img2.width()) - x0);

    std::vector<double> a(static_cast<size_t>(stampH)), b(static_cast<size_t>(half));
    for (int r = 0; r < stampH; ++r) a[size_t(r)] = texture(img1, s1 + r, x0, xw);
    for (int r = 0; r < half; ++r) b[size_t(r)] = texture(img2, s2 + r, x0, xw);

    struct Candidate {
        double score;
        int shift;
    };
    std::vector<Candidate> cands;
    for (int t = 0; t < travel; ++t) {
        double score = 0;
        for (int r = 0; r < stampH; ++r) score += std::fabs(a[size_t(r)] - b[size_t(t + r)]);
        int shift = direction >= 0 ? h2 - t : h2 - travel + t;
        cands.push_back({score, shift});
    }
    std::stable_sort(cands.begin(), cands.end(), [](auto& x, auto& y) { return x.score < y.score; });
    if (cands.empty()) {
        host().oops(kStampFn, "Stamp overlay: no candidates");
        return std::nullopt;
    }
    if (cands.size() < 6) return std::nullopt;
    double best = cands[0].score;
    if (cands[1].score > 1.2 * best && cands[5].score > 1.4 * best) return cands[0].shift;
    std::string scores;
    for (int i = 0; i < 6; ++i) scores += (i ? ", " : "") + shortest(cands[size_t(i)].score);
    host().oops(kStampFn, "Stamp based overlay failed, " + scores);
    return std::nullopt;
}

uint64_t ScrollCapturer::overlayCompareSegment(const kit::Image& img1, const kit::Image& img2, int overlap,
                                               int area, int direction, uint64_t threshold) {
    if (img1.isNull() || img2.isNull()) return kUnreadable;
    if (overlap < area) {
        host().oops(kCompareFn, "Scrolling capture overlay failed, area > overlap");
        return kUnreadable;
    }
    // Bands larger than both images compare nothing more than the images
    // hold; bounding them keeps every row number below inside an int.
    const int tallest = std::max(img1.height(), img2.height());
    if (area < 0 || overlap > 2 * tallest) return kUnreadable;
    int d = int(area * 0.2);
    int h1 = img1.height(), h2 = img2.height();
    int r0, r1, off1, off2;
    if (direction > 0) {
        int g = 2 * (overlap - area) / 3;
        r0 = g + d;
        r1 = g + area;  // exclusive
        off1 = 0;
        off2 = h2 - overlap;
        if (g + area - 1 >= h1)
            host().oops(kCompareFn, "rangey is likely out of bound (1): " + std::to_string(g + area - 1) +
                                        ", " + std::to_string(h1));
        if (off2 + g + area - 1 >= h2)
            host().oops(kCompareFn, "rangey is likely out of bound (2): " + std::to_string(g + area - 1) +
                                        ", " + std::to_string(h2));
        if (off2 < 0)
            host().oops(kCompareFn, "is st2 supposed to be negative? " +
                                        std::to_string(int64_t(off2) * int64_t(img2.bytesPerRow())));
    } else {
        r0 = overlap - area;
        r1 = overlap - d;
        off1 = h1 - overlap;
        off2 = 0;
    }
    int x0 = int(img1.width() * (1 - 0.7) * 0.5), xw = int(img1.width() * 0.7);
    xw = std::min(xw, std::min(img1.width(), img2.width()) - x0);
    uint64_t score = 0;
    for (int r = r0; r < r1; ++r) {
        int y1 = off1 + r, y2 = off2 + r;
        // Rows outside either image are not compared: never read past a buffer.
        if (y1 < 0 || y1 >= h1 || y2 < 0 || y2 >= h2) continue;
        const uint8_t* p1 = img1.row(y1) + size_t(x0) * 4;
        const uint8_t* p2 = img2.row(y2) + size_t(x0) * 4;
        for (int i = 0; i < xw * 4; ++i) score += uint64_t(std::abs(int(p1[i]) - int(p2[i])));
        if (score > threshold) return score;
    }
    return score;
}

int ScrollCapturer::overlayShiftSegment(const kit::Image& img1, const kit::Image& img2, int travel,
                                        int direction) {
    uint64_t best = 999999999999ull;
    int bestOverlap = 0;
    // A travel past the frame's height has no more overlaps to try.
    travel = std::clamp(travel, 0, img2.isNull() ? 0 : img2.height());
    // The compared band is `travel` rows, or less when a long travel leaves
    // smaller overlaps than that: every candidate must be comparable.
    int area = std::max(1, std::min(travel, img2.height() - travel + 1));
    for (int i = 1; i <= travel && best != 0; ++i) {
        int overlap = img2.height() - travel + i;
        uint64_t score = overlayCompareSegment(img1, img2, overlap, area, direction, best);
        // A pair that cannot be compared says nothing about the overlap.
        if (score == kUnreadable) continue;
        if (score < best) {
            best = score;
            bestOverlap = overlap;
        }
    }
    return bestOverlap;
}

namespace {

// How far the final frame lies beyond the base, decided over the whole width.
// The quick searches look at the central columns and stop at the first perfect
// score; on rows that repeat (a terminal, a log) several overlaps score
// perfectly. Every one as good as the best is considered, and when the whole
// width cannot tell them apart, the one `predicted` points at is taken, or
// none: a wrong picture is worse than a shorter one. The rows that stay put
// at the region's edges are left out: the base holds the page where the
// final frame shows its title.
std::optional<int> beyondBase(const kit::Image& base, const kit::Image& last, int travel, int direction,
                              int predicted, FixedRows bands) {
    const int w = last.width(), hl = last.height(), inner = hl - bands.top - bands.bottom;
    if (base.width() != w || base.height() < hl || inner < 8) return std::nullopt;
    int from = (direction > 0 ? 0 : base.height() - hl) + bands.top;
    auto shift =
        registerFrames(base.cropped(0, from, w, inner), last.cropped(0, bands.top, w, inner), travel);
    if (!shift) return std::nullopt;
    std::vector<int> beyond;
    for (int dy : shift->ties) {
        int t = direction > 0 ? -dy : dy;
        if (t >= 0 && t <= travel) beyond.push_back(t);
    }
    if (beyond.size() == 1) return beyond.front();
    return nearestTo(beyond, predicted);
}

// Rows the same in `a` and `b` counted from their bottom edges (direction ≤
// 0) or their top edges, up to two fifths of `b`'s height.
int sameEdgeRows(const kit::Image& a, const kit::Image& b, int direction) {
    if (a.width() != b.width()) return 0;
    const int most = std::min(a.height(), b.height() * 2 / 5);
    const size_t bytes = size_t(b.width()) * 4;
    int n = 0;
    for (; n < most; ++n) {
        int ra = direction > 0 ? n : a.height() - 1 - n, rb = direction > 0 ? n : b.height() - 1 - n;
        if (std::memcmp(a.row(ra), b.row(rb), bytes) != 0) break;
    }
    return n;
}

}  // namespace

ScrollCapturer::Aligned ScrollCapturer::findShiftImage(const std::vector<kit::Image>& shots,
                                                       const std::vector<int>& advances,
                                                       const kit::Image& lastCapture, int step,
                                                       int rectOffset, double dpr, int direction, int sent,
                                                       FixedRows bands) {
    CaptureHost& h = host();
    if (shots.size() < 2) {
        h.oops(kFindShiftFn, "OOPS: findShift called, not enough shots taken");
        return {};
    }
    std::vector<kit::Image> kept(shots.begin(), shots.end() - 2);
    kit::Image base;
    if (advances.empty())
        base = combine(kept, {}, direction, step, rectOffset, dpr);
    else
        base = combineMeasured(kept, advances, direction);
    if (base.isNull()) base = shots.front();
    const kit::Image& last = lastCapture.isNull() ? shots.back() : lastCapture;

    h.timerStart("Overlay");
    // How far the final frame can lie beyond the base: one step for the
    // dropped strips, or what was measured for them, and never less than the
    // clicks sent could have moved, the still strip's included.
    int travel = toPixels(step, dpr);
    std::optional<int> measured;
    if (!advances.empty()) {
        // Shot j moved advances[j - 1]; the dropped shots are the last two
        // (only one of them moved when the first frame is the other).
        int tail = 0;
        for (size_t j = std::max<size_t>(1, kept.size()); j < shots.size() && j - 1 < advances.size(); ++j)
            tail += std::max(0, advances[j - 1]);
        measured = tail;
        travel = std::max({6, tail, sent}) + 8;
    }
    travel = std::clamp(travel, 1, last.height() - 1);
    // The stamp needs half the frame to itself; longer travels go straight to the segments.
    std::string method = "fast";
    std::optional<int> shift;
    if (travel <= last.height() / 2 - 1) shift = overlayShiftStamp(base, last, travel, direction);
    if (!shift) {
        method = "fallback";
        shift = overlayShiftSegment(base, last, travel, direction);
    }
    h.timerLog("Overlay");
    h.event("timer",
            kit::Json{{"timername", "overlay"}, {"timer", h.timerElapsed("Overlay")}, {"algo", method}});

    // Without measured movements the quick search's answer is the best guess to check.
    auto beyond = beyondBase(base, last, travel, direction, measured.value_or(last.height() - *shift), bands);
    if (!beyond) return {{}, false};
    int overlap = std::clamp(last.height() - *beyond, 0, std::min(last.height(), base.height()));
    int height = base.height() + last.height() - overlap;
    kit::Image out(base.width(), height, base.scale());
    if (out.isNull()) {
        h.oops(kFindShiftFn, "Can't create context");
        return {};
    }
    // The piece of the final frame that is drawn; never shorter than the rows
    // the base does not cover, so the image has no gap.
    int cut = std::min((last.height() - step) / 2, last.height());
    // A band that stays put at the edge the page scrolls towards (a status
    // line going down, a title going up) ends the base as it ends the final
    // frame: the piece reaches past the base's copy of it, or that copy
    // would stay in the picture between the page's rows.
    cut = std::clamp(std::max(cut, last.height() - overlap + sameEdgeRows(base, last, direction)), 0,
                     last.height());
    // Nor does it reach into the band at the far edge, which the base holds
    // once, at the picture's other end: a final frame whose page rows do not
    // reach the base's cannot be laid without it.
    const int farBand = direction > 0 ? bands.bottom : bands.top;
    if (overlap < farBand) return {{}, false};
    cut = std::min(cut, last.height() - farBand);
    kit::Image piece = cut == last.height() ? last
                       : direction > 0      ? last.cropped(0, 0, last.width(), cut)
                                            : last.cropped(0, last.height() - cut, last.width(), cut);
    if (piece.isNull()) piece = last;
    if (direction > 0) {
        copyInto(out, base, 0, height - base.height());
        copyInto(out, piece, 0, 0);
    } else {
        copyInto(out, base, 0, 0);
        copyInto(out, piece, 0, height - piece.height());
    }
    return {out, true};
}

}  // namespace capture
