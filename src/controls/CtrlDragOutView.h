#pragma once
// The two handles that drag the current screenshot out of the program as an
// image file: the drag button of the editor's tool bar and of a pinned
// window (CtrlDragOut), and the drag handle of the preview thumbnail
// (CtrlDragOutView). Both hand the drag to `CtrlDragOut::initiate`, which the
// editor installs: it writes the image to a temporary file and starts a file
// drag with it. Main thread only.
#include <functional>
#include <optional>
#include <string>

#include "controls/ButtonBase.h"
#include "kit/ui/ImageView.h"

namespace controls {

class CtrlDragOut : public ButtonBase {
public:
    explicit CtrlDragOut(const kit::Rect& frame = {});

    // An image and a file name to drag instead of the editor's (pinned windows).
    std::optional<kit::Image> holdImage;
    std::optional<std::string> holdName;
    std::string tooltipCached;
    std::function<void(const std::string&, int)> tooltipCallback;
    std::function<void()> tooltipCallbackHide;

    // Starts the drag from a view (a CtrlDragOut, a CtrlDragOutView or the
    // canvas) for the mouse event that began it. Installed by the editor;
    // nothing happens until then.
    static std::function<void(kit::View& view, const kit::Event& event)> initiate;

    void updateTrackingAreas() override;
    void mouseDown(const kit::Event& e) override;
    void mouseDragged(const kit::Event& e) override;
    void mouseUp(const kit::Event& e) override;
    void mouseMoved(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void redraw() override;

private:
    int trackingArea_ = 0;
    bool dragged_ = false;
};

class CtrlDragOutView : public kit::ImageView {
public:
    explicit CtrlDragOutView(const kit::Rect& frame = {});

    // The arrow corner at the top left: 15 × 15 points, none when the view is
    // 100 points wide or less (y up, in the view's space).
    static kit::Rect arrowCorner(const kit::Rect& bounds);

    void resetCursorRects(bool pressed);
    void mouseDown(const kit::Event& e) override;
    void mouseDragged(const kit::Event& e) override;
    void mouseUp(const kit::Event& e) override;
    bool acceptsFirstMouse() const override { return true; }
    // The cursor rects follow the view's size.
    void updateTrackingAreas() override { resetCursorRects(false); }

private:
    bool dragged_ = false;
};

}  // namespace controls
