#pragma once
// What the core takes from the capture routes and the post-capture windows:
// the captures themselves, the facts the last capture left behind, and the
// floating preview and pin windows. The default routes call the capture
// library; tests install a double that hands out prepared images.
// Main thread only.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "capture/WindowShadow.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/desktop/Screen.h"

namespace capture {
class PinWindowController;
class PreviewWindowController;
}  // namespace capture

namespace core {

// Facts of the last capture, window-server space (y down, logical pixels).
struct CaptureFacts {
    std::optional<kit::ScreenInfo> screen;
    bool backdropApplied = false;
    std::string app;
    std::string window;
    std::optional<kit::Rect> rect;  // the selected area, when there was one
};

class CaptureRoutes {
public:
    virtual ~CaptureRoutes() = default;

    virtual bool hasScreenRecordingPermission();
    // Null images when the user cancelled or the capture failed (the routes
    // report their own failures).
    virtual kit::Image fullscreen();
    virtual kit::Image window(capture::WindowShadow mode);
    virtual kit::Image interactive(capture::WindowShadow mode, bool windowOnly, bool repeatArea,
                                   bool dontRememberArea);

    // The automatic scrolling capture: the permission check (which tells the
    // user itself when it fails) and the capture of a region the user picks,
    // going up (1) or down (-1); `then` gets the stitched image or a null one.
    virtual bool scrollPermissionsGranted();
    virtual void startScrolling(int direction, std::function<void(const kit::Image&)> then);

    virtual CaptureFacts facts();
    // Forgets the screen and the background flag before a new capture.
    virtual void resetFacts();

    // The floating thumbnail next to the capture rectangle (window-server space).
    virtual void showPreview(const kit::Image& image, const kit::Rect& captureRect);
    virtual void closePreview();
    // The thumbnail window's frame (AppKit space) while it shows.
    virtual std::optional<kit::Rect> previewFrame();
    // A pinned window showing the image, centred on a point (window-server space).
    virtual void pin(const kit::Image& image, kit::Point center);
    // Forgets a closed pin by the id it was opened with.
    virtual void removePin(int64_t id);
    size_t pinCount() const { return pins_.size(); }

private:
    // The open pins under the ids they were given.
    std::map<int64_t, std::shared_ptr<capture::PinWindowController>> pins_;
    // The thumbnail window, made on first use and kept.
    std::shared_ptr<capture::PreviewWindowController> wcPreview_;
    int64_t nextPinId_ = 1;
};

}  // namespace core
