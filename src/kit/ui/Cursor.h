#pragma once
// Mouse cursors by the names the application uses, plus custom ones made
// from an image with a hot spot.
#include <memory>
#include <string>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace kit {

class Cursor {
public:
    enum class Shape {
        Arrow,
        IBeam,
        Crosshair,
        PointingHand,
        OpenHand,
        ClosedHand,
        ResizeLeftRight,
        ResizeUpDown,
        ResizeDiagonalNWSE,  // top-left ↔ bottom-right
        ResizeDiagonalNESW,  // top-right ↔ bottom-left
        OperationNotAllowed,
        DragCopy,
        Custom,
    };

    Cursor() = default;
    explicit Cursor(Shape shape) : shape_(shape) {}
    // Hot spot in image points from the top-left corner.
    Cursor(const Image& image, Point hotSpot) : shape_(Shape::Custom), image_(image), hotSpot_(hotSpot) {}

    static Cursor arrow() { return Cursor(Shape::Arrow); }
    static Cursor iBeam() { return Cursor(Shape::IBeam); }
    static Cursor crosshair() { return Cursor(Shape::Crosshair); }
    static Cursor pointingHand() { return Cursor(Shape::PointingHand); }
    static Cursor openHand() { return Cursor(Shape::OpenHand); }
    static Cursor closedHand() { return Cursor(Shape::ClosedHand); }
    static Cursor resizeLeftRight() { return Cursor(Shape::ResizeLeftRight); }
    static Cursor resizeUpDown() { return Cursor(Shape::ResizeUpDown); }
    static Cursor operationNotAllowed() { return Cursor(Shape::OperationNotAllowed); }
    // A pen for drawing tools: a slanted nib with its tip at the bottom-left.
    static Cursor pen();
    // A magnifying glass for the zoom tool; with a "+" or a "−" in it.
    static Cursor zoom(bool zoomIn = true);
    // The cursors the application asks for by name: "arrow", "crosshair",
    // "openHand", "closedHand", "pointingHand", "iBeam", "resizeLeftRight",
    // "resizeUpDown", "resizeNWSE", "resizeNESW", "pen", "zoomIn", "zoomOut".
    // Unknown names give the arrow.
    static Cursor named(const std::string& name);

    Shape shape() const { return shape_; }
    const Image& image() const { return image_; }
    Point hotSpot() const { return hotSpot_; }
    bool operator==(const Cursor& o) const {
        return shape_ == o.shape_ && hotSpot_ == o.hotSpot_ && image_.bits() == o.image_.bits();
    }

    // Sets the cursor of the window under the pointer until a view's own
    // cursor takes over again.
    void set() const;
    // Hides the pointer until unhide (calls nest, like a counter).
    static void hide();
    static void unhide();
    static bool isHidden();

private:
    Shape shape_ = Shape::Arrow;
    Image image_;
    Point hotSpot_;
};

}  // namespace kit
