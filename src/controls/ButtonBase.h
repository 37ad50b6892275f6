#pragma once
// What the layer-drawn buttons share with a platform push button: a title and
// an image laid out in the middle, an on/off state, the highlight while the
// mouse is held inside, the click (toggling a push-on/push-off button) and the
// action. Subclasses restyle the view's layer in redraw().
#include <functional>
#include <string>

#include "kit/base/Image.h"
#include "kit/draw/TextLayer.h"
#include "kit/ui/View.h"

namespace controls {

class ButtonBase : public kit::View {
public:
    enum class Type { momentaryPushIn, pushOnPushOff };

    explicit ButtonBase(const kit::Rect& frame = {});

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    const kit::Image& image() const { return image_; }
    void setImage(kit::Image image);
    // The title colour; none uses the text colour of the look.
    void setTitleColor(std::optional<kit::Color> color);
    Type buttonType = Type::momentaryPushIn;
    // 1 = on, 0 = off.
    int state() const { return state_; }
    void setState(int state);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    // Draws the title and image (false: the subclass draws the image itself).
    bool drawsContent = true;

    // The target/action pair of the platform button.
    std::function<void(ButtonBase&)> action;
    void sendAction();
    // A click as the mouse makes it: toggles a push-on/push-off button, then acts.
    void performClick();

    // Size that fits the title and image with the platform's margins.
    virtual kit::Size intrinsicContentSize() const;
    // Restyles the layers; every change of state or content calls it.
    virtual void redraw();

    void mouseDown(const kit::Event& e) override;
    void mouseDragged(const kit::Event& e) override;
    void mouseUp(const kit::Event& e) override;
    void layout() override { redraw(); }
    // A switch between the light and the dark look redraws the button.
    void viewDidChangeEffectiveAppearance() override { redraw(); }

protected:
    // Runs when the mouse goes up after a press (the tracking loop's end).
    virtual void trackingEnded() {}
    void layoutContent();
    // Changes the image without a redraw (for restyling inside redraw()).
    void assignImage(kit::Image image) { image_ = std::move(image); }
    void setTitleColorQuietly(kit::Color color) { titleColor_ = color; }
    bool pressInside(const kit::Event& e) const;

    kit::LayerPtr imageLayer_;
    std::shared_ptr<kit::TextLayer> titleLayer_;

private:
    std::string title_;
    kit::Image image_;
    std::optional<kit::Color> titleColor_;
    int state_ = 0;
    bool highlighted_ = false, enabled_ = true, tracking_ = false;
};

}  // namespace controls
