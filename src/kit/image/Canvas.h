#pragma once
// A bitmap to draw into (a bitmap context): pixel coordinates with the origin
// at the bottom-left and y up, premultiplied BGRA underneath. Drawing stays
// inside the current clip; image() hands out the pixels.
#include <memory>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/draw/Layer.h"
#include "kit/draw/Path.h"

namespace kit {

class Canvas {
public:
    // Transparent; not valid when either side is not positive or the
    // pixels cannot be had.
    Canvas(int width, int height, double scale = 1.0);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool isValid() const;
    int width() const;
    int height() const;

    void fill(Color c);  // the whole clip
    void fillRect(const Rect& r, Color c);
    void fillPath(const Path& p, Color c, FillRule rule = FillRule::NonZero);
    void strokePath(const Path& p, Color c, double lineWidth, LineCap cap = LineCap::Butt,
                    LineJoin join = LineJoin::Miter);
    // An axial gradient from c0 at p0 to c1 at p1. Without extend only the
    // band between the two ends (across the axis) is painted.
    void drawLinearGradient(Color c0, Color c1, Point p0, Point p1, bool extend = false);
    // The image upright (its top row at the top of dest), stretched to dest.
    void drawImage(const Image& image, const Rect& dest, ScaleQuality quality = ScaleQuality::High);

    // A layer tree drawn in its own space (as renderToImage draws it), with
    // the layer's bounds origin placed at `at`, one layer unit a pixel.
    void drawLayer(const Layer& layer, Point at = {});

    // Narrows the clip (intersecting with the current one); resetClip opens it again.
    void clip(const Rect& r);
    void clipRoundedRect(const Rect& r, double radius);
    void resetClip();

    // A copy of the pixels, with the canvas's scale; null when not valid.
    Image image() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace kit
