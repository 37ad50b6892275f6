#pragma once
// A click-through window above everything that covers one screen and leaves a
// hole: the hole is cut out of the window's shape, so grabs of the hole never
// contain the overlay (X11 without a compositor cannot make a window see-through:
// it then shows the screen as it was, dimmed, and the windows under it draw into
// pictures of their own while it shows). It draws a dimmed backdrop, framed boxes
// and one line of text.
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"

namespace kit {

class RegionOverlay {
public:
    struct Box {
        Rect frame;  // window coordinates, y down
        Color fill = Color::clear();
        Color border = Color::clear();
        double borderWidth = 0;
        double cornerRadius = 0;
    };

    // `screen` is the screen's frame in window-server coordinates; `hole` is in
    // window coordinates (y down from the window's top-left). The hole is not
    // dimmed; its outermost pixel ring stays part of the window, so a border
    // drawn along the hole's inside edge shows, and only what lies within
    // that ring is cut out of the window's shape.
    RegionOverlay(const Rect& screen, const Rect& hole);
    ~RegionOverlay();
    RegionOverlay(const RegionOverlay&) = delete;
    RegionOverlay& operator=(const RegionOverlay&) = delete;

    void setDim(Color c);
    void setBoxes(std::vector<Box> boxes);  // drawn in order, under the text
    void setText(const std::string& text, Point topLeft, Color color, double fontSize);
    // Size of a line of text in the overlay's font (medium weight).
    static Size measureText(const std::string& text, double fontSize);
    // Brings it to the front without taking the keyboard.
    void show();
    void close();
    bool isVisible() const;
    double backingScale() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace kit
