#include "kit/qt/LayerPainter.h"

namespace kit::qt {

void paintLayer(QPainter&, const Layer&) {}

void paintLayerTree(QPainter& painter, const Layer& root, double viewHeight) {
    painter.save();
    painter.translate(0, viewHeight);
    painter.scale(1, -1);
    paintLayer(painter, root);
    painter.restore();
}

}  // namespace kit::qt
