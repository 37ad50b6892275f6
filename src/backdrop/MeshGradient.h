#pragma once
// The mesh background: a few colour points placed by a seed and blended
// with Gaussian weights, which reads as soft blurred blobs of colour. It is
// smooth everywhere, so the editor draws a small rendering scaled up; an
// export renders it at the layer's own pixel size.
#include <cstdint>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace backdrop {

struct MeshPoint {
    kit::Point at;  // unit coordinates of the picture, y from the top
    kit::Color color;
};

// One point per colour, spread over the picture; the same seed and colours
// always place them the same way.
std::vector<MeshPoint> meshPoints(const std::vector<kit::Color>& colors, uint32_t seed);

// The blend at w × h pixels (opaque); null for a bad size or no colours.
kit::Image renderMesh(const std::vector<MeshPoint>& points, int w, int h);

// The long side of the editor's small rendering.
constexpr int kMeshPreviewSide = 96;
// w × h scaled down to fit kMeshPreviewSide on the long side (at least 1 × 1).
kit::Size meshPreviewSize(double w, double h);

}  // namespace backdrop
