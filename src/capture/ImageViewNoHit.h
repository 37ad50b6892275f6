#pragma once
// The thumbnail's grip: an image that hands its clicks on, so dragging it
// moves the thumbnail window through the window manager.
#include "kit/ui/ImageView.h"

namespace capture {

class ImageViewNoHit : public kit::ImageView {
public:
    using kit::ImageView::ImageView;
    void mouseDown(const kit::Event& e) override { kit::View::mouseDown(e); }
};

}  // namespace capture
