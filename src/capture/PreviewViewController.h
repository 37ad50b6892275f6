#pragma once
// The thumbnail's content: the capture on a translucent panel, the copy,
// save, edit, upload, text and pin buttons, the close button and the grip,
// the tooltip bubble, and the drag-out of the capture as a file.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kit/base/Image.h"
#include "kit/ui/View.h"

namespace controls {
class CtrlButton;
class CtrlDragOutView;
}  // namespace controls

namespace kit {
class TextLayer;
}

namespace capture {

class ImageViewNoHit;
class PreviewWindowController;

class PreviewViewController : public kit::View {
public:
    // The panel's outer edge, round at the corners.
    static constexpr double kCornerRadius = 12.5;
    PreviewViewController(const kit::Rect& frame, PreviewWindowController& owner);
    ~PreviewViewController() override;

    void applySettings();
    // The panel's fill of the current appearance, opaque.
    kit::Color panelColor() const;
    void setImage(const kit::Image& image, int containerWidth);
    void clearImage();
    const kit::Image& image() const;
    void showTooltip(const std::string& text);
    void hideTooltip();
    // Resets the buttons' hover look for a new capture.
    void resetButtons();

    bool uploadShown() const;
    bool closeShown() const;
    double paddingTop() const { return paddingTop_; }

    // The button actions.
    void clickCopy();
    void clickSave();
    void clickEdit();
    void clickUpload();
    void clickOCR();
    void clickPin();
    void clickClose();

    void layout() override;

private:
    void closePreview();

    PreviewWindowController& owner_;
    double paddingTop_ = 25;
    int containerWidth_ = 186;
    std::shared_ptr<kit::View> vEffect_, vCurtain_, vBorder_, viewImgContainer_;
    std::shared_ptr<controls::CtrlDragOutView> imgPreview_;
    std::shared_ptr<controls::CtrlButton> btnCopy_, btnSave_, btnEdit_, btnUpload_, btnOCR_, btnPin_,
        btnClose_;
    std::shared_ptr<ImageViewNoHit> viewGrip_;
    // The buttons drawn with a picture, by the picture's name.
    std::vector<std::pair<std::shared_ptr<controls::CtrlButton>, std::string>> icons_;
    std::shared_ptr<kit::View> tooltip_;
    std::shared_ptr<kit::TextLayer> labelTooltip_, labelTooltipKey_;
};

}  // namespace capture
