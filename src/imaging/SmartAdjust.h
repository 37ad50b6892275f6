#pragma once
// Smart adjust: snaps a roughly drawn selection (crop pixels, y up) to the
// content inside it. Each side slides inward over a uniform margin until it
// meets content or, when it already cuts through content, jumps to the
// nearest colour edge around it.
#include <optional>
#include <utility>

#include "imaging/Capture.h"
#include "kit/base/Geometry.h"

namespace imaging {

// The nearest colour edges before and after point (sx, sy) along its row
// (x positions) or, when vertical, its column (y positions), passing over
// `persistence` edges first. Edges are boundary coordinates between pixels.
std::pair<double, double> scout(const Capture& capture, double sx, double sy, bool vertical, int persistence);

// Whether the side line `start` of a selection of that size is uniform and, if
// so, the boundary of the first line towards `stop` (stepping by inc) that no
// longer belongs to the margin. Lines are columns when vertical, else rows;
// positions along them run over [ortFrom, ortTo).
std::optional<int> checkHomogeneitySide(const Capture& capture, double selectionWidth, double selectionHeight,
                                        int start, int stop, int inc, bool vertical, int ortFrom, int ortTo);

kit::Rect smartAdjustMinX(const Capture& capture, const kit::Rect& r);
kit::Rect smartAdjustMaxX(const Capture& capture, const kit::Rect& r);
kit::Rect smartAdjustMinY(const Capture& capture, const kit::Rect& r);
kit::Rect smartAdjustMaxY(const Capture& capture, const kit::Rect& r);

// All four sides in the order left, right, bottom, top; the crop tool passes
// its selection and applies the result itself.
kit::Rect smartAdjust(const Capture& capture, const kit::Rect& selection);

}  // namespace imaging
