#pragma once
// The tool-settings bar: the small floating bubble at the top right of the
// canvas with the options of the current tool or of the active object (line
// style, arrow head, conceal mode, ruler units, size, colour, transparency
// and GIF export, fill, spotlight shape, freehand correction). It shows only
// the controls a tool type has, loads them from the active object (or, with
// none active, from the armed tool's remembered options) and writes every
// change back through the object manager.
//
// Owned by the editor view controller; main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls/CtrlColorButton.h"
#include "controls/CtrlHelper.h"
#include "controls/CtrlTooltippedSegments.h"
#include "controls/cellSliderSize.h"
#include "editor/ColorPicker.h"
#include "kit/ui/Button.h"

namespace editor {

// A tool armed with no object active: the bar shows, and changes, what the
// next object of that tool starts with, the options the tool keeps for
// itself (its size, the arrow's head, the spotlight's shape, the
// highlighter's colour; the other tools take the shared default colour).
std::optional<std::string> armedToolValue(const std::string& tool, const std::string& key);
// False for an option the tool does not keep (it is then dropped).
bool setArmedToolValue(const std::string& tool, const std::string& key, const std::string& value);

class ToolSettingsBar {
public:
    ToolSettingsBar();

    std::shared_ptr<controls::CtrlHelper> svEditor;
    std::shared_ptr<controls::CtrlTooltippedSegments> scLineType, scArrowType, scConcealType, scRulerPixels,
        scFill, scShape, scShapeCorrection;
    std::shared_ptr<kit::Button> btnArrowStyle, btnTransparency, btnGIF, btnUnselect;
    std::shared_ptr<controls::cellSliderSize> sliderSize;
    std::shared_ptr<controls::CtrlColorButton> btnColor;
    std::unique_ptr<ColorPicker> colorPicker;

    // The codes of each control, in segment order.
    static const std::vector<std::string> kLineTypes, kArrowTypes, kConcealTypes, kRulerUnits, kFills,
        kShapes, kCorrections;
    // Colours offered when the active object brings none.
    static const std::vector<std::string> kDefaultPalette;

    // Every segment group of the bar, for the owner's tooltip bubble.
    std::vector<controls::CtrlTooltippedSegments*> segmentGroups() const;

    // Shows and loads the controls for a tool type ("ObjArrow", or a mode word).
    void updateToolSettings(const std::string& type);
    void loadSegValue(controls::CtrlTooltippedSegments& view, const std::string& key,
                      const std::vector<std::string>& codes);
    void setSegValue(controls::CtrlTooltippedSegments& view, const std::string& key,
                     const std::vector<std::string>& codes);
    // Dims the bar 0.3 s into an object drag (once per drag).
    void muteToolSettingsSoon();

    // Interface actions.
    void editorSetArrowType();
    void editorChangeArrowStyle();
    void editorSetSize();
    void editorPickColor();
    void editorSetTransparency();
    void editorGIF();
    void editorUnselect();

    // The modifier test of the colour button: Option or Command held opens
    // the colour panel directly. Tests replace it.
    std::function<bool()> customColorHeld;

private:
    std::shared_ptr<controls::CtrlTooltippedSegments> segments(const std::vector<std::string>& labels,
                                                               const std::vector<std::string>& tips,
                                                               const std::string& key,
                                                               const std::vector<std::string>* codes);
    std::optional<std::string> value(const std::string& key) const;
    // Places the shown controls in a row and sizes the bar to them.
    void arrange();
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace editor
