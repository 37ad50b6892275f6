#include "imaging/FloodFill.h"

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

#include "imaging/Diagnostics.h"
#include "imaging/PixelMap.h"

namespace imaging {

namespace {

constexpr int kTolerance = 10;
constexpr int kOutside = 1000;
constexpr long long kMaxArea = 4'000'000;

struct Seed {
    int x, y;
};

class ScanlineFill {
public:
    ScanlineFill(const PixelMap& map, int x, int y)
        : map_(map),
          w_(map.width()),
          h_(map.height()),
          visited_((size_t(w_) * size_t(h_) + 63) / 64, 0),
          minX_(x),
          maxX_(x),
          minY_(y),
          maxY_(y) {
        queue_.push_back({x, y});
    }

    // Fills span after span until the queue runs dry or the box is too big;
    // true when it stopped for the size.
    bool run() {
        long long area = 0;
        do {
            Seed s = queue_.front();
            queue_.pop_front();
            fillSpan(s.x, s.y);
            area = (long long)(maxX_ - minX_) * (maxY_ - minY_);
        } while (!queue_.empty() && area <= kMaxArea);
        return area > kMaxArea;
    }

    kit::Rect box() const {
        return {double(minX_), double(minY_), double(maxX_ - minX_ + 1), double(maxY_ - minY_ + 1)};
    }

private:
    const PixelMap& map_;
    const int w_, h_;
    std::vector<uint64_t> visited_;
    std::deque<Seed> queue_;
    int minX_, maxX_, minY_, maxY_;

    // The table covers the crop; every pixel it is asked about lies inside.
    size_t index(int x, int y) const { return size_t(y) * size_t(w_) + size_t(x); }
    bool visited(int x, int y) const { return (visited_[index(x, y) / 64] >> (index(x, y) % 64)) & 1; }
    void visit(int x, int y) { visited_[index(x, y) / 64] |= uint64_t(1) << (index(x, y) % 64); }

    // Distance of the current pixel of a run to the one before it, with the
    // current pixel's colour.
    int pixelStepDistance(int prev, int i, int y, RGB8& colour) const {
        const uint8_t* p = map_.at(i, y);
        if (!p) return kOutside;
        colour = PixelMap::rgb(p);
        const uint8_t* q = map_.at(prev, y);
        return q ? colorDistance(colour, PixelMap::rgb(q)) : kOutside;
    }

    int pixelColorDistance(RGB8 colour, int x, int y) const {
        const uint8_t* p = map_.at(x, y);
        return p ? colorDistance(colour, PixelMap::rgb(p)) : kOutside;
    }

    // One pixel of a run: marks it, joins it when it continues the run, and
    // queues the first similar pixel of each run above and below. Returns
    // false when the run ends here.
    bool takePixel(int prev, int i, int sy, bool& down, bool& up) {
        if (visited(i, sy)) return false;
        visit(i, sy);
        RGB8 c;
        int d = pixelStepDistance(prev, i, sy, c);
        if (d >= kTolerance) return false;
        minX_ = std::min(minX_, i), maxX_ = std::max(maxX_, i);
        minY_ = std::min(minY_, sy), maxY_ = std::max(maxY_, sy);
        struct {
            int row;
            bool& flag;
        } neighbours[] = {{sy - 1, down}, {sy + 1, up}};
        for (auto& n : neighbours) {
            int e = pixelColorDistance(c, i, n.row);
            if (e < kTolerance && !n.flag) {
                queue_.push_back({i, n.row});
                n.flag = true;
            } else if (e > kTolerance) {
                n.flag = false;
            }
        }
        return true;
    }

    void fillSpan(int sx, int sy) {
        if (!map_.inCrop(sx, sy) || visited(sx, sy)) return;
        bool down = false, up = false;
        for (int prev = sx, i = sx;; prev = i, ++i)
            if (!takePixel(prev, i, sy, down, up) || i + 1 >= w_) break;
        if (sx - 1 < 0) return;
        down = up = false;
        for (int prev = sx, i = sx - 1;; prev = i, --i)
            if (!takePixel(prev, i, sy, down, up) || i - 1 < 0) break;
    }
};

int truncated(double v) {
    if (!std::isfinite(v)) return 0;
    constexpr double limit = double(std::numeric_limits<int>::max());
    return int(std::clamp(std::trunc(v), -limit, limit));
}

}  // namespace

kit::Rect scanlineFloodFill(const Capture& capture, double xValue, double yValue) {
    Stopwatch timer("scanline floodfill");
    const int x = truncated(xValue), y = truncated(yValue);
    const kit::Rect empty{double(x), double(y), 0, 0};
    PixelMap map(capture);
    if (!map.hasPixels()) {
        consoleLine("");
        return empty;
    }
    // A click outside the crop (the crop tool allows x = width) or on a crop
    // pixel the buffer does not hold selects nothing.
    bool aborted = false;
    kit::Rect result = empty;
    if (map.at(x, y)) {
        ScanlineFill fill(map, x, y);
        aborted = fill.run();
        if (!aborted) result = fill.box();
    }
    timer.log();
    sendEvent("floodfill-select", {{"aborted", std::string(aborted ? "true" : "false")},
                                   {"width", (long long)result.width()},
                                   {"height", (long long)result.height()},
                                   {"timer", timer.elapsedText()}});
    return result;
}

}  // namespace imaging
