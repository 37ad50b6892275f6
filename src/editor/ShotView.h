#pragma once
// The editor canvas: a view that draws nothing itself but hosts the canvas
// layer tree (CanvasLayers) in its layer, hands every mouse, scroll and
// magnify event to the dispatcher with the pointer in canvas points, and
// takes image files dropped on it. Its layer becomes the canvas root when it
// is made.
#include <optional>

#include "kit/base/Color.h"
#include "kit/ui/View.h"

namespace editor {

class ShotView : public kit::View {
public:
    explicit ShotView(const kit::Rect& frame = {});
    ~ShotView() override;

    static std::shared_ptr<ShotView> make(const kit::Rect& frame = {}) {
        return std::make_shared<ShotView>(frame);
    }

    void updateTrackingAreas() override;
    void viewDidMoveToWindow() override;
    void viewDidChangeEffectiveAppearance() override;
    bool acceptsFirstMouse() const override { return true; }

    void mouseDown(const kit::Event& e) override;
    void rightMouseDown(const kit::Event& e) override;
    void otherMouseDown(const kit::Event& e) override;
    void mouseDragged(const kit::Event& e) override;
    void rightMouseDragged(const kit::Event& e) override;
    void otherMouseDragged(const kit::Event& e) override;
    void mouseUp(const kit::Event& e) override;
    void rightMouseUp(const kit::Event& e) override;
    void otherMouseUp(const kit::Event& e) override;
    void mouseMoved(const kit::Event& e) override;
    // Entering is the pointer's first position over the canvas (as when the
    // editor opens under a still pointer): the ruler and the colour read-out
    // have it before the first move.
    void mouseEntered(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void scrollWheel(const kit::Event& e) override;
    void magnify(const kit::Event& e) override;

    // Image drops: PNG, JPEG and GIF files by extension, the first file only.
    bool draggingEntered(const kit::DraggingInfo& info) override;
    bool performDragOperation(const kit::DraggingInfo& info) override;

    // Whether a dragged file's extension is one the canvas opens.
    static bool isDroppableImage(const std::string& path);

private:
    kit::Point canvasPoint(const kit::Event& e) const;

    int trackingArea_ = 0;
    // The window's own background, given back in the dark look.
    std::optional<kit::Color> windowBackground_;
};

}  // namespace editor
