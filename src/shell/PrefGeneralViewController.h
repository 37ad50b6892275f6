#pragma once
// The general pane: the background of window captures and the solid colour,
// the save folder and format, downscaling, the limits of the automatic
// scrolling capture, launch at login, the after-capture actions, what an area
// capture opens and how the preview closes. Every change is written at once
// through the settings store; the controls are re-read from it on each showing.
#include <memory>
#include <optional>
#include <string>

#include "shell/PrefPane.h"

namespace controls {
class CtrlRadioImage;
}  // namespace controls

namespace kit {
class Button;
class Label;
class PopUpButton;
class Slider;
class TextField;
}  // namespace kit

namespace shell {

class PrefGeneralViewController : public PrefPane {
public:
    static constexpr int64_t kScrollingMaxLow = 10, kScrollingMaxHigh = 400000;

    PrefGeneralViewController();

    void viewWillAppear() override { refresh(); }
    // Commits a scrolling limit typed but not yet confirmed.
    void viewWillDisappear() override { updateScrollingMax(); }

    // Fills every control from the settings.
    void refresh();

    void riWinBackground(int tag);
    void updateSolidColor();
    void clickSaveFolder();
    void changeSaveFormat();
    void changeDownscale();
    void updateScrollingMax();
    void updateScrollingSpeed();
    void updateLunchAtStartup();
    void updateAfterGrabShow();
    void updateAfterGrabCopy();
    void updateAfterGrabSave();
    void changeAreaCropBehavior();
    void selectThumbnailClosing();

    // The six hex digits of a typed colour ("#" removed, upper case,
    // trimmed), or nothing when the text is not exactly six of them.
    static std::optional<std::string> hexDigits(const std::string& typed);
    // The typed scrolling limit: its digits as one number, within 10…400000.
    static int64_t clampedScrollingMax(const std::string& typed);

    std::shared_ptr<controls::CtrlRadioImage> riWallpaper, riTransparent, riSolid, riTrimmed;
    std::shared_ptr<kit::TextField> tfSolidColor;
    std::shared_ptr<kit::Label> labelSolidColor;
    std::shared_ptr<kit::Button> rbSaveFormatPNG, rbSaveFormatAuto, cbDownscale;
    std::shared_ptr<kit::TextField> tfScrollingMax;
    std::shared_ptr<kit::Slider> slScrollingSpeed;
    std::shared_ptr<kit::Button> cbLunchAtStartup, btnSaveFolder;
    std::shared_ptr<kit::Button> rbAreaEditor, rbAreaPreview;
    std::shared_ptr<kit::PopUpButton> ddlThumbnailClosing;
    std::shared_ptr<kit::Button> cbAfterGrabShow, cbAfterGrabCopy, cbAfterGrabSave;

private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace shell
