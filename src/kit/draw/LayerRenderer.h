#pragma once
// Drawing a layer tree into an image. Screen views use the same renderer, so
// an exported picture matches what was shown. Rendering may run on a worker
// thread as long as nobody changes the tree meanwhile (layers belong to the
// main thread; only it keeps rasterization caches).
#include "kit/base/Image.h"
#include "kit/draw/Layer.h"

namespace kit {

// The layer's bounds drawn at `scale` pixels per unit: an image of
// ceil(bounds × scale) pixels with that scale, transparent where nothing is
// drawn. The layer's own position and transform are not applied; its
// opacity, mask, shadow and everything inside are.
Image renderToImage(const Layer& layer, double scale = 1.0);
// Only `area` of the layer's space (y up), at `scale`.
Image renderToImage(const Layer& layer, const Rect& area, double scale);

}  // namespace kit
