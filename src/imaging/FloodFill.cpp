#include "imaging/FloodFill.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <vector>

#include "imaging/Diagnostics.h"
#include "imaging/PixelMap.h"

namespace imaging {

namespace {

constexpr int kTolerance = 10;
constexpr long long kMaxArea = 4'000'000;

struct Seed {
    int x, y;
};

class ScanlineFill {
public:
    ScanlineFill(const PixelMap& map, int x, int y)
        : map_(map),
          w_(map.width()),
          area_(map.readable()),
          visited_((size_t(area_.x1 - area_.x0) * size_t(area_.y1 - area_.y0) + 63) / 64, 0),
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
    const int w_;
    const PixelMap::Area area_;  // the visited table covers what can be read
    std::vector<uint64_t> visited_;
    std::deque<Seed> queue_;
    int minX_, maxX_, minY_, maxY_;

    // Only readable pixels are ever asked about.
    size_t index(int x, int y) const {
        return size_t(y - area_.y0) * size_t(area_.x1 - area_.x0) + size_t(x - area_.x0);
    }
    bool visited(int x, int y) const { return (visited_[index(x, y) / 64] >> (index(x, y) % 64)) & 1; }
    void visit(int x, int y) { visited_[index(x, y) / 64] |= uint64_t(1) << (index(x, y) % 64); }

    // The rows a span reads: its own and the two it queues seeds in.
    struct Rows {
        PixelMap::Row row, below, above;
    };

    // One pixel of a run: marks it and, when it continues the run (its step
    // from the previous pixel is below the tolerance), joins it and queues the
    // first similar pixel of each run below and above. Returns false when the
    // run ends here. A pixel the map cannot read is outside: distance 1000.
    bool takePixel(const Rows& rows, const uint8_t*& prev, int i, int sy, bool& down, bool& up) {
        const uint8_t* p = rows.row.at(i);
        if (!p || visited(i, sy)) return false;
        visit(i, sy);
        if (distance(p, prev) >= kTolerance) return false;
        prev = p;
        seed(rows.below.at(i), p, i, sy - 1, down);
        seed(rows.above.at(i), p, i, sy + 1, up);
        return true;
    }

    // Large areas are mostly of one colour: equal pixels skip the arithmetic.
    static int distance(const uint8_t* a, const uint8_t* b) {
        uint32_t wa, wb;
        std::memcpy(&wa, a, 4);
        std::memcpy(&wb, b, 4);
        return (wa & 0xFFFFFF) == (wb & 0xFFFFFF) ? 0 : colorDistance(PixelMap::rgb(a), PixelMap::rgb(b));
    }

    void seed(const uint8_t* q, const uint8_t* c, int i, int y, bool& flag) {
        const int e = q ? distance(c, q) : kOutsideDistance;
        if (e < kTolerance && !flag) {
            queue_.push_back({i, y});
            flag = true;
        } else if (e > kTolerance) {
            flag = false;
        }
    }

    void fillSpan(int sx, int sy) {
        const Rows rows{map_.row(sy), map_.row(sy - 1), map_.row(sy + 1)};
        const uint8_t* seedPixel = rows.row.at(sx);
        if (!seedPixel || visited(sx, sy)) return;
        bool down = false, up = false;
        const uint8_t* prev = seedPixel;
        // The joined pixels of a span are contiguous: the box grows once.
        int right = sx - 1, left = sx;
        for (int i = sx; takePixel(rows, prev, i, sy, down, up); ++i) {
            right = i;
            if (i + 1 >= w_) break;
        }
        if (sx - 1 >= 0) {
            down = up = false;
            prev = seedPixel;
            for (int i = sx - 1; takePixel(rows, prev, i, sy, down, up); --i) {
                left = i;
                if (i - 1 < 0) break;
            }
        }
        if (right < left) return;
        minX_ = std::min(minX_, left), maxX_ = std::max(maxX_, right);
        minY_ = std::min(minY_, sy), maxY_ = std::max(maxY_, sy);
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
