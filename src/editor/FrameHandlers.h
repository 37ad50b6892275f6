#pragma once
// Navigation on the editor canvas: wheel and trackpad scrolling, pinch,
// dragging with the secondary or middle button or with Space held, the Z/Y
// click and marquee zooms, the Shift+digit keys and the zoom commands of the
// menus and hint buttons. Handlers change the viewport and raise the canvas
// re-layout request; the dispatcher performs it after the event. While a zoom
// gesture runs the pan constraint is off; a short settle timer turns it back
// on and re-lays the canvas out with animation when the gesture ends.
//
// Positions are canvas device pixels as the dispatcher computes them.
// Main thread only.
#include <array>
#include <memory>

#include "editor/KeyEvt.h"
#include "kit/base/Event.h"
#include "kit/base/Timer.h"
#include "kit/draw/ShapeLayer.h"
#include "services/Rect.h"

namespace editor {

class FrameHandlers {
public:
    // The one instance, created on first use (with its marquee layers).
    static FrameHandlers& shared();
    FrameHandlers();

    double pdx = -1, pdy = -1;  // pointer at the previous drag event
    double mdx = 0, mdy = 0;    // pointer at mouse-down
    bool enforceConstraints = true;
    bool isDragging = false;
    // The Z-drag marquee: black dashes over alternating white ones.
    std::shared_ptr<kit::ShapeLayer> lmarquee;
    std::shared_ptr<kit::ShapeLayer> lmarqueeInner;
    kit::Timer timerAdjustPosition;        // the 0.05 s settle
    kit::Timer tmrScrollCheckConstraints;  // the 0.4 s wait after a wheel zoom
    double totalScrollDelta = 0;
    double accMagnification = 0;

    void scrollWheel(const kit::Event& event, const std::array<bool, 6>& buttons, double x, double y);
    void magnify(const kit::Event& event, double x, double y);
    void mouseDown(int button, double x, double y);
    void mouseDragged(int button, double x, double y);
    void mouseUp(int button, double x, double y);
    // Constraint back on, and the view settles 0.05 s later (restarting any pending settle).
    void scheduleSettle();
    // Moves the composition so that an edge beyond the pointer lies under it.
    void anchorToPointer(double x, double y);

    // The Shift zoom keys (1, 2, =, -, 0 and their keypad twins).
    static void keyDown(int code, const KeyEvt::Modifiers& modifiers);
    static void zoomIn();
    static void zoomOut();
    static void fitToWindow(bool instant);
    static void zoomToActualSize();
    static void zoomToSelection();
    static void zoomToSelectionTopLeft();
    static void zoomToSelectionBottomRight();

private:
    void armSettle();
    static void zoomToSelectionCorner(bool topLeft);
};

// Applies the tolerant pan constraint and re-lays the canvas out with animation.
void settleViewport();

}  // namespace editor
