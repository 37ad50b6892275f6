#include "capture/ImageOps.h"

#include <algorithm>
#include <cstring>

namespace capture {

namespace {
struct Span {
    int sx, sy, dx, dy, w, h;
};
Span clip(const kit::Image& dst, const kit::Image& src, int x, int y) {
    int sx = std::max(0, -x), sy = std::max(0, -y);
    int dx = std::max(0, x), dy = std::max(0, y);
    int w = std::min(src.width() - sx, dst.width() - dx);
    int h = std::min(src.height() - sy, dst.height() - dy);
    return {sx, sy, dx, dy, w, h};
}
}  // namespace

void drawOver(kit::Image& dst, const kit::Image& src, int x, int y) {
    if (dst.isNull() || src.isNull()) return;
    Span s = clip(dst, src, x, y);
    if (s.w <= 0 || s.h <= 0) return;
    uint8_t* base = dst.mutableBits();
    for (int r = 0; r < s.h; ++r) {
        const uint8_t* sp = src.row(s.sy + r) + size_t(s.sx) * 4;
        uint8_t* dp = base + size_t(s.dy + r) * dst.bytesPerRow() + size_t(s.dx) * 4;
        for (int c = 0; c < s.w; ++c, sp += 4, dp += 4) {
            int a = sp[3];
            if (a == 255) {
                std::memcpy(dp, sp, 4);
            } else if (a) {
                int inv = 255 - a;
                for (int ch = 0; ch < 4; ++ch) dp[ch] = uint8_t(sp[ch] + (dp[ch] * inv + 127) / 255);
            }
        }
    }
}

void copyInto(kit::Image& dst, const kit::Image& src, int x, int y) {
    if (dst.isNull() || src.isNull()) return;
    Span s = clip(dst, src, x, y);
    if (s.w <= 0 || s.h <= 0) return;
    uint8_t* base = dst.mutableBits();
    for (int r = 0; r < s.h; ++r)
        std::memcpy(base + size_t(s.dy + r) * dst.bytesPerRow() + size_t(s.dx) * 4,
                    src.row(s.sy + r) + size_t(s.sx) * 4, size_t(s.w) * 4);
}

kit::Image solidImage(int width, int height, kit::Color c, double scale) {
    kit::Image img(width, height, scale);
    img.fill(c);
    return img;
}

}  // namespace capture
