#pragma once
// The backdrop panel: a hint bubble over the editor's canvas with the look
// (mode segments, the templates of the mode and the custom swatch in a
// wrapped grid, colour wells or the user's pictures), the padding, inset,
// corner, shadow and grain sliders, the aspect ratio and the automatic crop.
// Every change goes straight to the backdrop and the view; one undo
// snapshot follows a burst of changes, 0.33 s after the last one. Pictures
// come from the "Add Picture…" button or a file dropped on the panel.
//
// Owned by the Backdrop; the editor's ViewController embeds its view.
// Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "controls/CtrlHelper.h"
#include "controls/CtrlRadioImage.h"
#include "controls/CtrlWrappedStack.h"
#include "kit/ui/Button.h"
#include "kit/ui/ColorPanel.h"
#include "kit/ui/Label.h"
#include "kit/ui/PopUpButton.h"
#include "kit/ui/SegmentedControl.h"
#include "kit/ui/Slider.h"

namespace backdrop {

class Backdrop;

class BackdropViewController {
public:
    explicit BackdropViewController(Backdrop& backdrop);
    ~BackdropViewController();

    std::shared_ptr<controls::CtrlHelper> view;

    // Sets every control from the backdrop's configuration.
    void updateControls();
    // Keeps the flat colour or the gradient's ends as the custom swatch.
    void rememberCustomColors();
    // Takes an image file as the backdrop's picture (a copy is stored).
    bool loadNewFile(const std::string& file, const std::string& method);

    // The segments' modes, left to right.
    static const std::vector<std::string>& modes();
    // The aspect-ratio choices as stored ("auto" first).
    static const std::vector<std::string>& ratios();

    // Controls, exposed for tests.
    std::shared_ptr<kit::SegmentedControl> segMode;
    std::shared_ptr<controls::CtrlWrappedStack> stack;
    std::vector<std::shared_ptr<controls::CtrlRadioImage>> tiles;  // in the stack's order
    std::shared_ptr<controls::CtrlRadioImage> customTile;          // flat and gradient modes
    std::shared_ptr<kit::Label> labelColors;
    std::shared_ptr<kit::ColorWell> wellFrom, wellTo;
    std::shared_ptr<kit::Button> btnAddPicture, btnRemovePicture;
    std::shared_ptr<kit::Slider> slPadding, slInset, slRadius, slCorners, slShadow, slNoise;
    std::shared_ptr<kit::PopUpButton> ddlRatio;
    std::shared_ptr<kit::Button> swAutoCrop;

    // The user's actions (the controls call these).
    void selectMode(int segment);
    void chooseTemplate(size_t index);
    void chooseCustom();
    void choosePicture(const std::string& name);
    void addPicture();
    void removePicture();
    void colorChanged(bool from, kit::Color color);
    void sliderChanged(kit::Slider& slider);
    void ratioChanged();
    void autoCropChanged();

    static constexpr double kWidth = 300;

private:
    // A change of the look went to the backdrop: store it, lay out (refit
    // when the composition's size changes), refresh, and arm the snapshot.
    void changed(bool refit);
    void debounceUndo();
    void rebuildTiles();
    void syncWells();
    void layoutPanel();
    std::shared_ptr<kit::Slider> slider(const std::string& title, double min, double max);

    Backdrop& backdrop_;
    std::vector<std::shared_ptr<kit::View>> sliderRows_;
    std::vector<std::string> pictures_;  // names of the picture tiles, in order
    std::string tilesFor_;               // the mode the tiles were built for
    bool updating_ = false;              // set while controls follow the configuration
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace backdrop
