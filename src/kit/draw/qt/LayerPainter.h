#pragma once
// Painting a kit layer tree with a QPainter (kit-internal; views and the
// image renderer share it).
#include <QPainter>

#include "kit/draw/Layer.h"

namespace kit::qt {

// Paints `layer` placed by its position, anchor point and transform. The
// painter's current coordinate system must be the superlayer's space, y up.
void paintLayer(QPainter& painter, const Layer& layer);

// Paints `layer` in its own space (bounds coordinates, y up), without its
// position and transform; opacity, mask and shadow still apply.
void paintLayerContents(QPainter& painter, const Layer& layer);

// Paints a view's root layer: the painter is in widget coordinates (logical
// pixels, y down) for a widget `viewHeight` high; the root layer's space is
// laid out y up from the widget's bottom-left corner.
void paintLayerTree(QPainter& painter, const Layer& root, double viewHeight);

// Reduced copies of large pictures kept to draw them faster: those of pictures
// no longer held, or every one (`all`). Any thread.
void dropReducedCopies(bool all);

}  // namespace kit::qt
