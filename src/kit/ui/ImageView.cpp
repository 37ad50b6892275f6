#include "kit/ui/ImageView.h"

namespace kit {

ImageView::ImageView(const Rect& frame) : View(frame) {}

void ImageView::setImage(const Image& image) {
    image_ = image;
    apply();
}

void ImageView::setScaling(Scaling scaling) {
    scaling_ = scaling;
    apply();
}

void ImageView::apply() {
    layer()->setContents(image_);
    layer()->setContentsScale(image_.isNull() ? 1 : image_.scale());
    bool fits = !image_.isNull() && image_.pointSize().width <= bounds().width() &&
                image_.pointSize().height <= bounds().height();
    switch (scaling_) {
        case Scaling::ProportionallyDown:
            // Small images stay at their size; large ones shrink to fit.
            layer()->setContentsGravity(fits ? ContentsGravity::Center : ContentsGravity::ResizeAspect);
            break;
        case Scaling::ProportionallyUpOrDown:
            layer()->setContentsGravity(ContentsGravity::ResizeAspect);
            break;
        case Scaling::AxesIndependently:
            layer()->setContentsGravity(ContentsGravity::Resize);
            break;
        case Scaling::None:
            layer()->setContentsGravity(ContentsGravity::Center);
            break;
    }
}

}  // namespace kit
