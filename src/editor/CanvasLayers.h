#pragma once
// The editor's layer tree, in one record shared by the whole editor, and the
// one call that brings it up to date after any change of zoom, pan, size,
// crop, backdrop or objects. Under the canvas view's root layer, bottom to
// top: the transparency checker, the backdrop, the object layers (with the
// screenshot inside them, under the objects), the selection knobs, the crop
// tool, the zoom marquee and the ruler.
//
// The object tree is drawn in image units: the canvas scales and pans it with
// the viewport, so an image pixel lands on zoom device pixels.
// Main thread only.
#include <memory>
#include <optional>

#include "editor/Framer.h"
#include "kit/base/Image.h"
#include "kit/draw/Layer.h"
#include "services/Rect.h"

namespace editor {

struct CanvasLayers {
    kit::Image image;          // the screenshot shown
    kit::LayerPtr root;        // the canvas view's layer
    kit::LayerPtr checker;     // the checkerboard behind everything
    kit::LayerPtr imageLayer;  // shows `image`; none until the first setCanvasImage
    kit::LayerPtr backdrop;
    kit::LayerPtr objects;
    kit::LayerPtr controls;
    kit::LayerPtr crop;
    kit::LayerPtr marquee;
    kit::LayerPtr ruler;
    int relayoutRequest = 0;         // pending re-layout: 0 none, 1 plain, 2 animated
    bool suppressAnimation = false;  // a text is being edited: never animate

    bool dark = false;  // the canvas view's appearance
    // Whether every pixel of `image` is opaque; learnt when first needed.
    std::optional<bool> imageOpaque;

    // The object tree used while no object manager provides one, and the
    // holder of the screenshot inside it.
    kit::LayerPtr ownObjects, ownCanvas;
};

// The one record of the process.
CanvasLayers& canvasLayers();

// Builds the layer tree (once; setCanvasImage calls it).
void setUpLayers();
// Brings every canvas layer up to date in one step; animated re-layouts
// tween over 0.15 s. Does nothing before the first image.
void relayoutCanvas(bool animated);
// Performs the pending re-layout request, if any, and clears it.
void flushRelayoutRequest();
// The checker covers the canvas area (and as much again, for window growth).
void layoutChecker();
void updateCheckerPattern(bool dark);
// Installs a new screenshot.
void setCanvasImage(const kit::Image& image);
// The backdrop's and canvas paddings around the image, in image pixels.
Framer::Paddings canvasPaddings();
// The whole composition (image and paddings) in image coordinates.
services::Rect compositionRect();
// Whether the object tree would draw `image` alone and unchanged over the
// composition: it is the screenshot shown, at its own size, with no padding,
// no object or spotlight, no rounding, shadow or border, and no canvas colour
// showing through a transparent pixel. Export then takes its pixels as they are.
bool treeShowsImageAlone(const kit::Image& image);

// The canvas forgets its layers (tests; the process keeps them for good).
void resetCanvasLayers();

}  // namespace editor
