#pragma once
// A bitmap: 4 bytes a pixel in the order B, G, R, A, premultiplied alpha, rows
// from the top, with a stride, and a scale (pixels per point). Cheap to copy:
// pixel storage is shared and copied on write.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"

namespace kit {

struct PixelBGRA {
    uint8_t b = 0, g = 0, r = 0, a = 0;
    friend bool operator==(const PixelBGRA&, const PixelBGRA&) = default;
};

enum class ScaleQuality { None, Medium, High };

class Image {
public:
    Image() = default;
    // A transparent image of w × h pixels; empty when either is not positive
    // or the buffer cannot be had.
    Image(int width, int height, double scale = 1.0);

    bool isNull() const { return !buf_; }
    explicit operator bool() const { return !isNull(); }
    int width() const { return width_; }
    int height() const { return height_; }
    size_t bytesPerRow() const { return stride_; }
    double scale() const { return scale_; }
    void setScale(double s) { scale_ = s > 0 ? s : 1.0; }
    // Size in points (pixels / scale).
    Size pointSize() const { return {width_ / scale_, height_ / scale_}; }

    const uint8_t* bits() const;
    uint8_t* mutableBits();  // detaches
    const uint8_t* row(int y) const { return bits() + size_t(y) * stride_; }

    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    // Bounds-checked; outside the image gives a transparent pixel / does nothing.
    PixelBGRA pixel(int x, int y) const;
    void setPixel(int x, int y, PixelBGRA p);
    // Un-premultiplied colour of a pixel (rows from the top).
    Color colorAt(int x, int y) const;
    void fill(Color c);

    // Pixel rectangle (rows from the top), clipped to the image; empty when
    // nothing remains.
    Image cropped(int x, int y, int w, int h) const;
    // Empty for a target of more than kMaxScaledPixels. High quality shrinks
    // as reduced() does.
    Image scaled(int w, int h, ScaleQuality q = ScaleQuality::High) const;
    // Shrunk to w × h (no larger than the image), each pixel the mean of the
    // block of pixels it covers, in one pass with nothing else held; empty
    // for a size outside the image.
    Image reduced(int w, int h) const;
    // 2 GiB of pixels at 4 bytes each: beyond any screen or capture.
    static constexpr long long kMaxScaledPixels = 512LL * 1024 * 1024;
    Image copy() const;

    // Takes over a shared, writable mapping of width × height pixels, rows
    // end to end, made with mmap: no copy; unmapped when the last image
    // holding it goes. Empty (and unmapped) when it cannot be taken.
    static Image adoptMapping(uint8_t* mapping, int width, int height, double scale = 1.0);
    // Wraps existing rows (copied).
    static Image fromBGRA(const uint8_t* data, int width, int height, size_t stride, double scale = 1.0);

    friend bool operator==(const Image& a, const Image& b);  // same size and pixels

    // Identity of the pixel storage, for caches of derived images: it expires
    // with the storage, and a copy that is written to gets storage of its own.
    std::weak_ptr<const void> storage() const { return buf_; }

private:
    struct Buffer;
    std::shared_ptr<Buffer> buf_;
    int width_ = 0, height_ = 0;
    size_t stride_ = 0;
    double scale_ = 1.0;
    void detach();
};

}  // namespace kit
