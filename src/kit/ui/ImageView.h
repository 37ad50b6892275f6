#pragma once
// Shows an image scaled to fit (proportions kept) or to fill the view.
#include "kit/base/Image.h"
#include "kit/ui/View.h"

namespace kit {

class ImageView : public View {
public:
    enum class Scaling { ProportionallyDown, ProportionallyUpOrDown, AxesIndependently, None };

    explicit ImageView(const Rect& frame = {});
    const Image& image() const { return image_; }
    void setImage(const Image& image);
    void setScaling(Scaling scaling);

private:
    Image image_;
    Scaling scaling_ = Scaling::ProportionallyDown;
    void apply();
    void layout() override { apply(); }
};

}  // namespace kit
