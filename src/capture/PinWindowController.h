#pragma once
// A pinned screenshot: a small borderless window floating above the others
// that shows one image. The controller sizes and places the window, zooms it
// in steps, snaps the user's resizing to 50, 100 and 200 %, moves it with the
// arrow keys and closes it; its content (PinViewController) draws the image
// and the tool bar. The core makes one per pin, keeps it under the id it gave
// it and forgets it when the pin asks (`CaptureHost::removePin`).
// Main thread only.
#include <cstdint>
#include <memory>
#include <optional>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/base/Timer.h"
#include "kit/ui/Window.h"

namespace capture {

class PinViewController;

// The arithmetic of pins, apart from any window.
namespace pinsize {

constexpr double kMinSide = 44;

// The opening size in points for an image of (width, height) points: halved
// when it takes three quarters of the screen in either direction, each side
// at least 44. Without a screen, 960 × 576 stand in for those limits.
kit::Size openSize(double width, double height, std::optional<kit::Size> screen);

// The zoom one step in or out of `currentZoom` leads to (no limits applied).
int zoomStep(int currentZoom, bool in);

// Whether a step may be taken: out stops at 100 points wide or narrower, in
// at twice the screen's width.
bool zoomAllowed(int currentZoom, double width, double screenWidth, bool in);

// The size a user's resize to `proposed` ends at: near 50, 100 and 200 % it
// snaps there, and each side is at least 44.
kit::Size snapResize(kit::Size proposed, double width, double height);

// Scroll deltas that turn into zoom steps. Precise (touchpad) deltas add up
// until their sum passes 20, which makes a step and keeps the remainder; a
// wheel notch makes a step at once.
struct ScrollAccumulator {
    double total = 0;
    bool feed(double deltaY, bool precise);
};

// The window edges a press at `p` (content space, y up) resizes from: within
// kEdgeBand of a side, both sides of a corner; 0 elsewhere.
constexpr double kEdgeBand = 6;
unsigned resizeEdges(kit::Size bounds, kit::Point p);

// The image is magnified without smoothing from 200 % on.
bool nearestFilter(int zoomPercent);

// Rounded with halves away from zero.
int roundHalfAway(double v);

}  // namespace pinsize

class PinWindowController : public kit::WindowDelegate,
                            public std::enable_shared_from_this<PinWindowController> {
public:
    // `id` is the core's key for this pin; removePin gets it back.
    explicit PinWindowController(int64_t id);
    ~PinWindowController() override;

    // Opens the window with the image, centred on `center` (window-server
    // space, y down).
    void pin(const kit::Image& image, kit::Point center);
    // Closes the window, records how long the pin stayed, and asks the core
    // to forget it.
    void close();
    // One zoom step in or out.
    void zoom(bool in);
    // Sets the size to `percent` of the 100 % size, around the frame's centre.
    void zoomTo(int percent);
    // Recomputes the current zoom from the frame and shows it.
    void updateZoom();

    void keyDown(const kit::Event& e);

    int64_t id() const { return id_; }
    int currentZoom() const { return currentZoom_; }
    double width() const { return width_; }
    double height() const { return height_; }
    kit::Window* window() const { return window_.get(); }
    PinViewController* controller() const { return controller_.get(); }

    // WindowDelegate.
    bool windowShouldClose(kit::Window&) override;
    void windowDidResize(kit::Window&) override;
    void windowDidResignKey(kit::Window&) override;

private:
    void setFrameAround(kit::Size size);
    void fitShape();
    void snapAfterResize();
    double screenWidth() const;

    int64_t id_;
    kit::Image image_;
    double dpr_ = 1.0;
    double width_ = 0, height_ = 0;
    double pinTime_ = 0;
    int currentZoom_ = 100;
    bool closed_ = false;
    bool resizingOurselves_ = false;
    kit::Timer snapTimer_;
    std::unique_ptr<kit::Window> window_;
    std::shared_ptr<PinViewController> controller_;
};

}  // namespace capture
