#pragma once
// The shared colour panel (one for the application, not modal) and the
// colour well that opens it.
#include <functional>

#include "kit/base/Color.h"
#include "kit/ui/Control.h"

namespace kit {

class ColorPanel {
public:
    static ColorPanel& shared();

    Color color() const;
    void setColor(Color color);
    void setShowsAlpha(bool shows);
    // Continuous panels report every change while the user picks; others
    // only the final choice.
    void setContinuous(bool continuous);
    // Who hears about changes; replaced by the next caller.
    void setTarget(std::function<void(Color)> onChange);
    void orderFront();
    void close();
    // The panel's frame in the screen space (y up); its size is known once it
    // has been laid out, which frame() does on first use.
    Rect frame() const;
    void setFrameOrigin(Point origin);
    bool isVisible() const;

private:
    ColorPanel();
};

class ColorWell : public Control {
public:
    explicit ColorWell(const Rect& frame = {});
    Color color() const { return color_; }
    void setColor(Color color);
    // Opens the shared panel bound to this well.
    void activate();

private:
    Color color_ = Color::black();
};

}  // namespace kit
