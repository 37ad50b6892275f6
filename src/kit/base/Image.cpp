#include "kit/base/Image.h"

#include <sys/mman.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "kit/base/qt/QtImage.h"

namespace kit {

// Zeroed storage from calloc: fresh pages come zeroed from the system, so a
// large transparent image costs no clearing pass of its own.
struct Image::Buffer {
    uint8_t* data = nullptr;
    size_t size = 0;
    bool mapped = false;  // a mapping taken over (adoptMapping), unmapped when done

    explicit Buffer(size_t n) : data(static_cast<uint8_t*>(std::calloc(n ? n : 1, 1))), size(n) {}
    Buffer(uint8_t* mapping, size_t n) : data(mapping), size(n), mapped(true) {}
    Buffer(const Buffer& o) : data(static_cast<uint8_t*>(std::malloc(o.size ? o.size : 1))), size(o.size) {
        if (data) std::memcpy(data, o.data, size);
    }
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (mapped)
            ::munmap(data, size);
        else
            std::free(data);
    }
};

Image::Image(int width, int height, double scale) {
    if (width <= 0 || height <= 0) return;
    size_t stride = size_t(width) * 4;
    std::shared_ptr<Buffer> buf;
    try {
        buf = std::make_shared<Buffer>(stride * size_t(height));
    } catch (const std::bad_alloc&) {
        return;
    }
    if (!buf->data) return;
    buf_ = std::move(buf);
    width_ = width;
    height_ = height;
    stride_ = stride;
    setScale(scale);
}

const uint8_t* Image::bits() const {
    return buf_ ? buf_->data : nullptr;
}

uint8_t* Image::mutableBits() {
    detach();
    return buf_ ? buf_->data : nullptr;
}

void Image::detach() {
    if (!buf_ || buf_.use_count() == 1) return;
    auto copy = std::make_shared<Buffer>(*buf_);
    // Out of memory for the copy: drop to a null image rather than write into shared pixels.
    if (!copy->data) copy.reset(), width_ = height_ = 0, stride_ = 0;
    buf_ = std::move(copy);
}

PixelBGRA Image::pixel(int x, int y) const {
    if (!contains(x, y)) return {};
    const uint8_t* p = row(y) + size_t(x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

void Image::setPixel(int x, int y, PixelBGRA px) {
    if (!contains(x, y)) return;
    uint8_t* base = mutableBits();
    if (!base) return;
    uint8_t* p = base + size_t(y) * stride_ + size_t(x) * 4;
    p[0] = px.b;
    p[1] = px.g;
    p[2] = px.r;
    p[3] = px.a;
}

Color Image::colorAt(int x, int y) const {
    PixelBGRA p = pixel(x, y);
    if (p.a == 0) return Color::clear();
    double a = p.a / 255.0;
    return {p.r / 255.0 / a, p.g / 255.0 / a, p.b / 255.0 / a, a};
}

void Image::fill(Color c) {
    if (isNull()) return;
    double a = std::clamp(c.a, 0.0, 1.0);
    auto q = [a](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * a * 255)); };
    PixelBGRA px{q(c.b), q(c.g), q(c.r), uint8_t(std::lround(a * 255))};
    uint8_t* base = mutableBits();
    if (!base) return;
    for (int y = 0; y < height_; ++y) {
        uint8_t* p = base + size_t(y) * stride_;
        for (int x = 0; x < width_; ++x, p += 4) {
            p[0] = px.b;
            p[1] = px.g;
            p[2] = px.r;
            p[3] = px.a;
        }
    }
}

Image Image::cropped(int x, int y, int w, int h) const {
    if (isNull()) return {};
    // Edges in 64 bits: x + w can leave the range of an int either way.
    const long long x1 = std::max<long long>(x, 0), y1 = std::max<long long>(y, 0);
    const long long x2 = std::min<long long>((long long)x + w, width_),
                    y2 = std::min<long long>((long long)y + h, height_);
    if (x2 <= x1 || y2 <= y1) return {};
    Image out(int(x2 - x1), int(y2 - y1), scale_);
    if (out.isNull()) return {};
    uint8_t* dst = out.mutableBits();
    for (long long r = y1; r < y2; ++r)
        std::memcpy(dst + size_t(r - y1) * out.stride_, row(int(r)) + size_t(x1) * 4, size_t(x2 - x1) * 4);
    return out;
}

Image Image::scaled(int w, int h, ScaleQuality q) const {
    if (isNull() || w <= 0 || h <= 0) return {};
    if (w == width_ && h == height_) return *this;
    // A target past what an image may hold is refused here, not left to the
    // scaler (which aborts or grinds for seconds on it).
    if ((long long)w * h > kMaxScaledPixels) return {};
    QImage src = qt::wrap(*this);
    QImage dst;
    switch (q) {
        case ScaleQuality::None:
            dst = src.scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            break;
        case ScaleQuality::Medium:
            dst = src.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            break;
        case ScaleQuality::High:
            // Shrunk, each pixel is the mean of the block it covers, made in
            // one pass: every source pixel counts, and nothing but the
            // result is held beside the image.
            if (w <= width_ && h <= height_) return reduced(w, h);
            dst = src.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            break;
    }
    Image out = qt::toImage(dst);
    out.setScale(scale_);
    return out;
}

Image Image::reduced(int w, int h) const {
    if (isNull() || w <= 0 || h <= 0 || w > width_ || h > height_) return {};
    if (w == width_ && h == height_) return *this;
    Image out(w, h, scale_);
    if (out.isNull()) return {};
    uint8_t* const to = out.mutableBits();
    // Where each column's block begins; the last ends at the image's edge.
    std::vector<int> first(size_t(w) + 1);
    for (int x = 0; x <= w; ++x) first[size_t(x)] = int((long long)x * width_ / w);
    std::vector<uint64_t> sums(size_t(w) * 4);
    for (int y = 0; y < h; ++y) {
        const int top = int((long long)y * height_ / h), bottom = int((long long)(y + 1) * height_ / h);
        std::fill(sums.begin(), sums.end(), 0);
        for (int sy = top; sy < bottom; ++sy) {
            const uint8_t* p = row(sy);
            for (int x = 0; x < w; ++x) {
                uint64_t* s = sums.data() + size_t(x) * 4;
                for (int sx = first[size_t(x)]; sx < first[size_t(x) + 1]; ++sx, p += 4)
                    s[0] += p[0], s[1] += p[1], s[2] += p[2], s[3] += p[3];
            }
        }
        uint8_t* d = to + size_t(y) * out.bytesPerRow();
        for (int x = 0; x < w; ++x) {
            const uint64_t n = uint64_t(bottom - top) * uint64_t(first[size_t(x) + 1] - first[size_t(x)]);
            for (int c = 0; c < 4; ++c) d[x * 4 + c] = uint8_t((sums[size_t(x) * 4 + c] + n / 2) / n);
        }
    }
    return out;
}

Image Image::copy() const {
    Image out = *this;
    out.detach();
    return out;
}

Image Image::adoptMapping(uint8_t* mapping, int width, int height, double scale) {
    Image out;
    if (!mapping || width <= 0 || height <= 0) return out;
    try {
        out.buf_ = std::make_shared<Buffer>(mapping, size_t(width) * 4 * size_t(height));
    } catch (const std::bad_alloc&) {
        ::munmap(mapping, size_t(width) * 4 * size_t(height));
        return out;
    }
    out.width_ = width;
    out.height_ = height;
    out.stride_ = size_t(width) * 4;
    out.setScale(scale);
    return out;
}

Image Image::fromBGRA(const uint8_t* data, int width, int height, size_t stride, double scale) {
    if (!data || stride < size_t(width) * 4) return {};
    Image out(width, height, scale);
    if (out.isNull()) return {};
    uint8_t* dst = out.mutableBits();
    for (int r = 0; r < height; ++r)
        std::memcpy(dst + size_t(r) * out.stride_, data + size_t(r) * stride, size_t(width) * 4);
    return out;
}

bool operator==(const Image& a, const Image& b) {
    if (a.width_ != b.width_ || a.height_ != b.height_) return false;
    for (int y = 0; y < a.height_; ++y)
        if (std::memcmp(a.row(y), b.row(y), size_t(a.width_) * 4) != 0) return false;
    return true;
}

}  // namespace kit
