#pragma once
// Drawing the objects' layers into an image the way the canvas shows them:
// the drawing layer in image pixels, the control layer (knobs) in points,
// at zoom 1 with no pan, so image pixel (x, y up) is image column x and row
// height - 1 - y.
#include <string>

#include "Doubles.h"
#include "kit/base/Image.h"

namespace objects {

// Renders the manager's drawing and control layers over `background` (a
// layer placed below the objects, may be null) into width × height pixels.
kit::Image renderCanvas(SpyHost& h, int width, int height, double dpr,
                        const kit::LayerPtr& background = nullptr);
// The colour of image point (x, y), y up.
kit::Color probe(const kit::Image& img, double x, double y);
// Cuts the outlines of the spotlight objects out of the manager's curtain, as
// the editor's layout pass does, and puts the curtain over the drawing layer.
void layoutCurtain(SpyHost& h, int width, int height);
// Where pictures for a person to look at go: <build>/contact-sheets.
std::string contactSheetPath(const std::string& name);
bool writePNG(const kit::Image& img, const std::string& path);

}  // namespace objects
