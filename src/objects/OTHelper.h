#pragma once
// The callout geometry of the text object: the pointer triangle from one
// side of a text box to a tip outside it, the anchor of its handle, the side,
// position and distance that put the tip under a dragged point, and the one
// editing text view that all text objects share.
#include <memory>
#include <string>

#include "kit/draw/Path.h"
#include "objects/TextEditorView.h"
#include "services/Rect.h"

namespace objects {

class ObjectHost;

class OTHelper {
public:
    struct Side {
        std::string side;
        double perc = 0, dist = 0;
    };
    // Open polyline base start, tip, base end; empty for a box narrower than 15.
    static kit::Path pointerPath(const services::Rect& box, double perc, double dist, double fontSize,
                                 const std::string& side, const ObjectHost& host);
    // The tip at `dist` outside the side at `perc`, in view points (canvas / dpr).
    static kit::Point pointerBase(const services::Rect& box, double perc, double dist,
                                  const std::string& side, const ObjectHost& host);
    static Side pointerSide(const services::Rect& box, kit::Point p);
    // The shared editing view, made on first use.
    static TextEditorView& makeEditor(kit::View* canvas);
};

}  // namespace objects
