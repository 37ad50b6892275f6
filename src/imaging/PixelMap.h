#pragma once
// The one way into the capture's pixel buffer. Analysis functions address
// pixel (x, y) of the crop with y counted up from the crop's bottom edge; that
// pixel lives at column crop.x1 + x and row crop.y1 + (crop.height - 1 - y)
// from the top. Every read is checked against the crop and the buffer, so a
// crop that reaches past the image, or a point past the crop, reads nothing.
#include <algorithm>
#include <cstdint>

#include "imaging/Capture.h"

namespace imaging {

struct RGB8 {
    int r = 0, g = 0, b = 0;
    friend bool operator==(const RGB8&, const RGB8&) = default;
};

// How far a pixel beyond the image's edge stands from any colour: farther than
// every tolerance, so fills and edge searches stop there.
inline constexpr int kOutsideDistance = 1000;

// |r1 - r2| + |g1 - g2| + |b1 - b2|, 0 to 765.
inline int colorDistance(RGB8 a, RGB8 b) {
    int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return (dr < 0 ? -dr : dr) + (dg < 0 ? -dg : dg) + (db < 0 ? -db : db);
}

class PixelMap {
public:
    explicit PixelMap(const Capture& capture);

    bool hasPixels() const { return bits_ != nullptr; }
    // Crop size in whole pixels.
    int width() const { return cropW_; }
    int height() const { return cropH_; }
    int cropX() const { return cropX_; }
    int cropY() const { return cropY_; }
    // Size of the buffer itself.
    int bufferWidth() const { return bufW_; }
    int bufferHeight() const { return bufH_; }

    bool inCrop(long long x, long long y) const { return x >= 0 && y >= 0 && x < cropW_ && y < cropH_; }
    // Pixel (x, y) of the crop (y up); null outside the crop or the buffer.
    const uint8_t* at(long long x, long long y) const {
        if (!inCrop(x, y)) return nullptr;
        return cell(cropX_ + x, cropY_ + (cropH_ - 1 - y));
    }
    // Buffer column and row (from the top); null outside the buffer.
    const uint8_t* cell(long long column, long long row) const {
        if (!bits_ || column < 0 || row < 0 || column >= bufW_ || row >= bufH_) return nullptr;
        return bits_ + size_t(row) * stride_ + size_t(column) * 4;
    }

    static RGB8 rgb(const uint8_t* p) { return {p[2], p[1], p[0]}; }

    // The part of the crop the buffer holds, in crop pixels (y up):
    // columns [x0, x1) and rows [y0, y1); empty when nothing is readable.
    struct Area {
        long long x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        bool empty() const { return x1 <= x0 || y1 <= y0; }
    };
    Area readable() const {
        if (!bits_) return {};
        Area a{std::max(0LL, -(long long)cropX_), std::max(0LL, (long long)cropY_ + cropH_ - bufH_),
               std::min((long long)cropW_, (long long)bufW_ - cropX_),
               std::min((long long)cropH_, (long long)cropY_ + cropH_)};
        return a.empty() ? Area{} : a;
    }

    // One row of the crop (y up) for loops that walk along it: the same
    // checks as at(), with the row's part worked out once.
    class Row {
    public:
        const uint8_t* at(long long x) const {
            return x >= lo_ && x < hi_ ? start_ + size_t(x - lo_) * 4 : nullptr;
        }

    private:
        friend class PixelMap;
        const uint8_t* start_ = nullptr;  // the pixel at crop column lo_
        long long lo_ = 0, hi_ = 0;       // crop columns inside both crop and buffer
    };
    Row row(long long y) const {
        Row r;
        if (!bits_ || y < 0 || y >= cropH_) return r;
        const long long bufferRow = cropY_ + (cropH_ - 1 - y);
        if (bufferRow < 0 || bufferRow >= bufH_) return r;
        r.lo_ = std::max(0LL, -(long long)cropX_);
        r.hi_ = std::min((long long)cropW_, (long long)bufW_ - cropX_);
        if (r.hi_ <= r.lo_) return Row();
        r.start_ = bits_ + size_t(bufferRow) * stride_ + size_t(cropX_ + r.lo_) * 4;
        return r;
    }

private:
    const uint8_t* bits_ = nullptr;
    size_t stride_ = 0;
    int bufW_ = 0, bufH_ = 0;
    int cropX_ = 0, cropY_ = 0, cropW_ = 0, cropH_ = 0;
};

}  // namespace imaging
