#include "objects/CapturePixels.h"

#include "imaging/PixelMap.h"

namespace objects {

kit::Image capturePixels(const imaging::Capture& capture, long long x0, long long y0, int width, int height) {
    imaging::PixelMap map(capture);
    if (!map.hasPixels() || width <= 0 || height <= 0) return {};
    kit::Image out(width, height, 1.0);
    if (out.isNull()) return {};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (const uint8_t* p = map.at(x0 + x, y0 + y))
                out.setPixel(x, height - 1 - y, {p[0], p[1], p[2], p[3]});
    return out;
}

}  // namespace objects
