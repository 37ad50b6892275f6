#pragma once
// Whole device pixels from real coordinates. A size read from a dump, a
// paste or a file may be any finite number (4e11 wide) or, worked through
// arithmetic, no number at all; turning such a double into an int is
// undefined behaviour, so painting clamps every coordinate first. The bound
// leaves room to add or subtract two coordinates without overflowing an int,
// and is far beyond any image Qt can allocate.
#include <algorithm>
#include <cmath>

namespace kit {

inline constexpr double kPixelCoordinateLimit = 1e9;

// `v` clamped to ±kPixelCoordinateLimit, then truncated; NaN gives 0.
inline int pixelInt(double v) {
    if (std::isnan(v)) return 0;
    return int(std::clamp(v, -kPixelCoordinateLimit, kPixelCoordinateLimit));
}
inline int pixelFloor(double v) {
    return pixelInt(std::floor(v));
}
inline int pixelCeil(double v) {
    return pixelInt(std::ceil(v));
}
// To the nearest, halves away from zero (as std::lround).
inline int pixelRound(double v) {
    return pixelInt(std::round(v));
}

}  // namespace kit
