#pragma once
// The editor's viewport: the rectangles of the current screenshot in image
// pixels, the zoom, the device-pixel ratio and the pan offsets, and the
// conversions between canvas (view) space and image space. View space is in
// device pixels with its origin at the canvas's bottom-left; image space is in
// image pixels, y up. A view point v and an image point p meet at
// v = p × zoom + b, b being the rounded pan offset.
#include <functional>
#include <optional>

#include "kit/base/Geometry.h"
#include "services/Atomic.h"
#include "services/Rect.h"

namespace editor {

class Framer {
public:
    // Canvas and backdrop paddings around the image, in image pixels.
    struct Paddings {
        double padBT = 0, padBB = 0, padBL = 0, padBR = 0;
        double padCT = 0, padCB = 0, padCL = 0, padCR = 0;
    };

    // The one viewport of the process, created on first use.
    static Framer& shared();

    services::Rect visible{0, 0, 100, 100};
    services::Rect crop{0, 0, 100, 100};
    services::Rect dest{0, 0, 100, 100};
    services::Rect destFull{0, 0, 100, 100};
    services::Rect source{0, 0, 100, 100};
    services::Rect original{0, 0, 100, 100};
    services::Rect area{0, 0, 600, 400};
    services::Atomic<double> _zoom{0.5};          // device pixels per image pixel
    services::Atomic<double> _dpr{2.0};           // device pixels per point
    double bpx = 0, bpy = 0;                      // exact pan offset
    services::Atomic<double> _bx{0.0}, _by{0.0};  // pan offset rounded to whole device pixels
    double minzoom = 0.03125;

    // What the viewport needs of its neighbours, installed by them: the width
    // in points of the backdrop panel while it shows, the paddings, and the
    // whole composition (image plus paddings) in image coordinates.
    std::function<std::optional<double>()> backdropPanelWidth;
    std::function<Paddings()> paddings;
    std::function<services::Rect()> compositionRect;

    double zoom() const { return _zoom.get(); }
    double dpr() const { return _dpr.get(); }

    virtual ~Framer() = default;
    virtual services::Rect getEffectiveArea() const;
    virtual void snapZoom();
    virtual void lowerMinZoom(const services::Rect& toFit);
    virtual void zoom(bool in, kit::Point at);
    virtual void zoomFine(bool in, kit::Point at);
    virtual void zoomToFit(const services::Rect& rect, bool exact);
    virtual kit::Point viewToImage(kit::Point v) const;
    virtual kit::Point imageToView(kit::Point p) const;
    virtual services::Rect rectToView(const services::Rect& r) const;
    virtual void roundOffsets();
    virtual void setOffset(kit::Point imagePoint, kit::Point viewPoint);
    virtual void panBy(double dx, double dy);
    virtual void constrainPan(bool margin);
};

// Fits the whole composition into the window, never beyond 100 %, and makes
// that zoom the lowest the user can reach.
void refitCanvas(bool exact);

}  // namespace editor
