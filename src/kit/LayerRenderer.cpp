#include "kit/LayerRenderer.h"

#include <QImage>
#include <QPainter>
#include <cmath>

#include "kit/qt/LayerPainter.h"

namespace kit {

Image renderToImage(const Layer& layer, double scale) {
    return renderToImage(layer, layer.bounds(), scale);
}

Image renderToImage(const Layer&, const Rect& area, double scale) {
    if (!(scale > 0) || area.isEmpty()) return {};
    int w = int(std::ceil(area.width() * scale - 1e-9)), h = int(std::ceil(area.height() * scale - 1e-9));
    return Image(w, h, scale);
}

}  // namespace kit
