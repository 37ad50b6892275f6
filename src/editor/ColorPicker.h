#pragma once
// The colour chooser of the tool-settings bar: a popover at the colour button
// with eight swatches in two rows and a "Custom" button. A swatch recolours
// the launcher, closes the popover and reports the colour; "Custom" opens the
// shared colour panel, whose every change recolours the launcher, is kept as
// the custom colour of that kind of tool and is reported the same way. The
// fourth swatch always shows the kept custom colour.
//
// One picker per editor, made on the first click of the colour button. Main
// thread only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/CtrlColorButton.h"
#include "kit/base/Color.h"
#include "kit/ui/Button.h"
#include "kit/ui/Popover.h"
#include "kit/ui/View.h"

namespace editor {

class ColorPicker {
public:
    ColorPicker();
    virtual ~ColorPicker();

    kit::Popover popover;
    std::shared_ptr<kit::View> content;
    std::weak_ptr<controls::CtrlColorButton> launcher;
    std::vector<std::shared_ptr<controls::CtrlColorButton>> swatches;
    std::shared_ptr<kit::Button> btnCustom;
    std::function<void(kit::Color)> callback;
    std::string colorConsumer;
    std::vector<std::string> colors;

    // The custom colour kept for a consumer, and the settings key it lives under.
    static std::string customColor(const std::string& consumer);
    static const char* customColorKey(const std::string& consumer);

    virtual void buildSwatches();
    virtual void setColors(const std::vector<std::string>& list, const std::string& consumer);
    virtual void onClick(controls::CtrlColorButton& swatch);
    virtual void show(const std::shared_ptr<controls::CtrlColorButton>& launcherButton,
                      const std::string& consumer, bool custom, std::function<void(kit::Color)> onColor);
    virtual void openSystemPanel();
    // A change in the shared colour panel.
    virtual void macColorPicked(kit::Color color);
    void onCustomButtonClick();

    // Where the panel goes for an editor window frame and the panel's size
    // (screen space, y up): right edge 10 points inside the window's, top
    // 115 points below the window's top.
    static kit::Point panelOrigin(const kit::Rect& windowFrame, kit::Size panelSize);

private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace editor
