#pragma once
// The content of a pinned screenshot: the image with rounded corners, the
// tool bar shown while the pointer is over the pin (close, drag-out, edit,
// copy, the zoom read-out), zooming with the scroll wheel, transparency and
// the context menu. Sizing, zoom steps and closing belong to the window's
// controller. Main thread only.
#include <cstdint>
#include <memory>

#include "capture/PinWindowController.h"
#include "kit/base/Image.h"
#include "kit/base/Timer.h"
#include "kit/ui/Menu.h"
#include "kit/ui/View.h"

namespace controls {
class CtrlButton;
class CtrlDragOut;
}  // namespace controls

namespace kit {
class TextLayer;
}

namespace capture {

class PinViewController : public kit::View {
public:
    static constexpr double kCornerRadius = 8;

    PinViewController(const kit::Rect& frame, PinWindowController& owner);
    ~PinViewController() override;

    void setImage(const kit::Image& image);
    void clearImage();
    const kit::Image& image() const { return image_; }
    // Shows the zoom in whole percent for a moment.
    void showZoom(int percent);
    void setTransparency(int percent);
    int transparency() const { return transparency_; }
    // Hands the image to the editor; the pin closes once the editor has it.
    void openInEditor();
    void copy();
    void hideToolbar();
    bool toolbarHidden() const;
    bool smoothing() const;
    const pinsize::ScrollAccumulator& scrollAccumulator() const { return scroll_; }
    const std::shared_ptr<kit::Menu>& menu() const { return menuContextual_; }

    void layout() override;
    void scrollWheel(const kit::Event& e) override;
    // A press near an edge resizes the pin; elsewhere it moves it.
    void mouseDown(const kit::Event& e) override;
    void rightMouseDown(const kit::Event& e) override;

private:
    void buildToolbar();
    void buildMenu();
    void setEdgeCursors();
    void startHideTimer();
    void cancelHideTimer();

    PinWindowController& owner_;
    kit::Image image_;
    int transparency_ = 100;
    pinsize::ScrollAccumulator scroll_;
    kit::Timer tmrHideToolbar_;
    std::shared_ptr<kit::View> viewImage_;
    std::shared_ptr<kit::View> viewToolbar_;
    std::shared_ptr<controls::CtrlButton> btnClose_, btnEdit_, btnCopy_;
    std::shared_ptr<controls::CtrlDragOut> btnDragger_;
    std::shared_ptr<kit::TextLayer> textZoom_;
    std::shared_ptr<kit::Menu> menuContextual_;
    kit::MenuItem* miTransparency_ = nullptr;
    int tracking_ = 0;
};

}  // namespace capture
