#pragma once
// The floating thumbnail a capture can go to instead of the editor: one
// window for the whole run, sized for each capture, opened at the pointer
// towards the inside of the captured area, and driven by its buttons and
// keys. Main thread only.
#include <memory>
#include <optional>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/base/Timer.h"
#include "kit/ui/LocalEventMonitor.h"
#include "kit/ui/Window.h"

namespace capture {

class PreviewViewController;

namespace previewsize {

constexpr double kWindowWidth = 204;

struct Layout {
    int imageHeight;      // i
    double windowHeight;  // H
    int containerWidth;   // c
};

// The thumbnail's measures for a capture of w × h pixels.
Layout layout(int w, int h, bool autoClosing);

// The window's origin (AppKit space, y up): a corner at the pointer `P`
// (AppKit space), extending towards the inside of `captureRect` (window-server
// space, where the pointer is `Q`), kept on the screen that holds `P`.
kit::Point place(kit::Point P, kit::Point Q, const kit::Rect& captureRect, double H,
                 const std::vector<kit::Rect>& screenFrames);

}  // namespace previewsize

class PreviewWindowController : public kit::WindowDelegate,
                                public std::enable_shared_from_this<PreviewWindowController> {
public:
    PreviewWindowController();
    ~PreviewWindowController() override;

    // Shows a new capture; `captureRect` is in window-server space.
    void showPreview(const kit::Image& image, const kit::Rect& captureRect);
    void present();
    // Clears the image, closes the window and records it.
    void hidePreview();
    // Closes the window, leaving the image (the core hides the editor).
    void closeWindow();
    void handleKey(const kit::Event& e);

    kit::Window* window() const { return window_.get(); }
    PreviewViewController* content() const { return content_.get(); }
    bool isShowing() const;

    void windowDidResignKey(kit::Window&) override;

private:
    std::unique_ptr<kit::Window> window_;
    std::shared_ptr<PreviewViewController> content_;
    kit::LocalEventMonitor::Token monitor_ = 0;
    kit::Timer presentTimer_;
};

}  // namespace capture
