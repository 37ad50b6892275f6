#pragma once
// A view: a rectangle in its superview with y-up geometry (a view may call
// itself flipped, then its subviews are placed y down from its top), a layer
// tree it paints, subviews, and the events that reach it. Subclasses override
// the event methods; an event method not overridden passes the event on to
// the superview and finally to the window, as a responder chain does.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Event.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/draw/Layer.h"
#include "kit/ui/Cursor.h"

namespace kit {

class Window;

// Tracking area options (combine with |).
namespace TrackingOption {
constexpr unsigned MouseEnteredAndExited = 0x01;
constexpr unsigned MouseMoved = 0x02;
constexpr unsigned CursorUpdate = 0x04;
constexpr unsigned ActiveInKeyWindow = 0x20;
constexpr unsigned ActiveInActiveApp = 0x40;
constexpr unsigned ActiveAlways = 0x80;
constexpr unsigned InVisibleRect = 0x200;  // the area follows the view's bounds
constexpr unsigned EnabledDuringMouseDrag = 0x400;
}  // namespace TrackingOption

// Autoresizing: how a view follows its superview's size changes.
namespace Autoresizing {
constexpr unsigned None = 0;
constexpr unsigned MinXMargin = 1;
constexpr unsigned WidthSizable = 2;
constexpr unsigned MaxXMargin = 4;
constexpr unsigned MinYMargin = 8;
constexpr unsigned HeightSizable = 16;
constexpr unsigned MaxYMargin = 32;
}  // namespace Autoresizing

// What a drag brings over a view: the first few places it names (a view
// takes the first file; the rest of a long list is not read). Not a picture it
// carries as data: no view takes one but as a file, and another program's
// bytes would be fetched and decoded here, on the main thread, by whatever
// reader they name.
struct DraggingInfo {
    std::vector<std::string> filePaths;
    std::vector<std::string> urls;  // non-file URLs
    Point location;                 // in the receiving view, y up
    bool fromThisApplication = false;
};

class View : public std::enable_shared_from_this<View> {
public:
    explicit View(const Rect& frame = {});
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    static std::shared_ptr<View> make(const Rect& frame = {}) { return std::make_shared<View>(frame); }

    // ---- Geometry (in the superview's space) ------------------------------
    Rect frame() const { return frame_; }
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin) { setFrame({origin, frame_.size}); }
    void setFrameSize(Size size) { setFrame({frame_.origin, size}); }
    // Own space: origin (0, 0), the frame's size.
    Rect bounds() const { return {0, 0, frame_.width(), frame_.height()}; }
    bool isFlipped() const { return flipped_; }
    void setFlipped(bool flipped);
    unsigned autoresizingMask() const { return autoresizing_; }
    void setAutoresizingMask(unsigned mask) { autoresizing_ = mask; }
    // Called after the frame size changed (subviews already autoresized).
    virtual void layout() {}

    // ---- Hierarchy --------------------------------------------------------
    View* superview() const { return superview_; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    void addSubview(std::shared_ptr<View> view);
    // Above or below a sibling (nullptr: the top or the bottom of all).
    void addSubview(std::shared_ptr<View> view, bool above, const View* relativeTo);
    void removeFromSuperview();
    bool isDescendantOf(const View& other) const;
    Window* window() const;
    // Called when the view joins or leaves a window.
    virtual void viewDidMoveToWindow() {}

    // ---- Appearance -------------------------------------------------------
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    bool isHiddenOrHasHiddenAncestor() const;
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);
    // The root of the view's layer tree: bounds = the view's bounds, anchor
    // (0, 0). Subviews paint above it.
    const LayerPtr& layer() const { return layer_; }
    void setNeedsDisplay();
    const std::string& toolTip() const { return toolTip_; }
    void setToolTip(std::string tip);
    // The palette is dark (light text on dark backgrounds).
    bool isDarkAppearance() const;
    // Pixels per point where the view is shown (the screen's, rounded; the
    // primary screen's before it is shown), also inside windows kit did not make.
    double backingScaleFactor() const;
    // Called when the view's appearance turned dark or light (the desktop
    // theme changed, or the view moved under a differently coloured
    // window); redraw colours that depend on it here.
    virtual void viewDidChangeEffectiveAppearance() {}

    // ---- Coordinates -------------------------------------------------------
    // nullptr means the window's content space (y up).
    Point convert(Point p, const View* to) const;
    Point convertFrom(Point p, const View* from) const;
    Rect convert(const Rect& r, const View* to) const;
    Rect convertFrom(const Rect& r, const View* from) const;
    // The AppKit screen space (y up from the primary display's bottom).
    Point convertToScreen(Point p) const;
    Point convertFromScreen(Point p) const;
    Rect convertToScreen(const Rect& r) const;

    // ---- Events (default: pass to the superview, then the window) ----------
    virtual void mouseDown(const Event& e);
    virtual void mouseDragged(const Event& e);
    virtual void mouseUp(const Event& e);
    virtual void rightMouseDown(const Event& e);
    virtual void rightMouseDragged(const Event& e);
    virtual void rightMouseUp(const Event& e);
    virtual void otherMouseDown(const Event& e);
    virtual void otherMouseDragged(const Event& e);
    virtual void otherMouseUp(const Event& e);
    virtual void mouseMoved(const Event& e);
    virtual void mouseEntered(const Event& e);
    virtual void mouseExited(const Event& e);
    virtual void scrollWheel(const Event& e);
    virtual void magnify(const Event& e);
    virtual void keyDown(const Event& e);
    virtual void keyUp(const Event& e);
    virtual void flagsChanged(const Event& e);
    // Sends an event to the matching method above (tests, forwarding).
    void dispatch(const Event& e);

    // Whether a click in an inactive window reaches the view right away.
    virtual bool acceptsFirstMouse() const { return true; }
    // Views that take keyboard focus; read when the view first shows.
    virtual bool acceptsFirstResponder() const { return false; }
    bool makeFirstResponder();
    bool isFirstResponder() const;
    // Clicks pass through the view to what is below it.
    void setIgnoresMouse(bool ignores);

    // ---- Tracking areas ----------------------------------------------------
    struct TrackingArea {
        int id = 0;
        Rect rect;  // view space; ignored with InVisibleRect
        unsigned options = 0;
        // Receives the events; without one they go to the view's methods.
        std::function<void(const Event&)> handler;
        bool inside = false;
    };
    int addTrackingArea(const Rect& rect, unsigned options, std::function<void(const Event&)> handler = {});
    void removeTrackingArea(int id);
    void removeAllTrackingAreas();
    const std::vector<TrackingArea>& trackingAreas() const { return trackingAreas_; }
    // Called when the view's geometry changed; re-add areas here.
    virtual void updateTrackingAreas() {}

    // ---- Cursors -------------------------------------------------------------
    // The cursor over the whole view, unless a cursor rect says otherwise.
    void setCursor(std::optional<Cursor> cursor);
    void addCursorRect(const Rect& rect, const Cursor& cursor);
    void resetCursorRects();

    // ---- Drag and drop --------------------------------------------------------
    // Accept dragged files and images; the handlers decide per drag.
    void registerForDraggedFilesAndImages(bool on);
    virtual bool draggingEntered(const DraggingInfo&) { return false; }
    virtual void draggingExited() {}
    virtual bool performDragOperation(const DraggingInfo&) { return false; }
    // Starts dragging a file out of the view (returns when the drag ends);
    // true when a target took it. `dragImage` is shown under the pointer, at
    // `hotSpot` of the image (points from its top-left; none: its centre).
    bool beginDraggingFile(const std::string& path, const Image& dragImage,
                           std::optional<Point> hotSpot = std::nullopt);

    // ---- Snapshots ---------------------------------------------------------
    // The view and its subviews as drawn now, at `scale` pixels per point.
    Image snapshot(double scale = 1) const;

    struct Private;
    Private& impl() const { return *d_; }

protected:
    // Where the window is when no superview takes an event.
    void passToNextResponder(const Event& e);
    // A subview was hidden or shown (a stack closes or opens its gap).
    virtual void subviewHiddenDidChange(View&) {}

private:
    friend class Window;
    friend struct Private;
    void placeWidget();
    void resizeSubviews(Size oldSize);
    void setSuperview(View* superview);
    void notifyWindowChanged();

    std::unique_ptr<Private> d_;
    Rect frame_;
    bool flipped_ = false, hidden_ = false;
    double alpha_ = 1;
    // The superview's layer opacity: subviews draw in widgets of their own, so
    // a fading superview dims them through their widgets.
    double inheritedOpacity_ = 1;
    double propagatedOpacity_ = 1;
    void applyWidgetOpacity();
    void propagateLayerOpacity();
    unsigned autoresizing_ = Autoresizing::None;
    View* superview_ = nullptr;
    Window* window_ = nullptr;  // set on the content view only
    std::vector<std::shared_ptr<View>> subviews_;
    LayerPtr layer_;
    std::string toolTip_;
    std::vector<TrackingArea> trackingAreas_;
    int nextTrackingId_ = 1;
};

}  // namespace kit
