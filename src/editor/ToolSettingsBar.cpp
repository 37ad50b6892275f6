#include "editor/ToolSettingsBar.h"

#include <cmath>

#include "editor/EditorHost.h"
#include "editor/MainWindowControllerParts.h"
#include "editor/TextMatch.h"
#include "imaging/PixelSampling.h"
#include "kit/base/Parse.h"
#include "objects/ProtoObject.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace editor {

namespace {

constexpr double kSettingsBarHeight = 36, kControlHeight = 24, kGap = 8, kInset = 10;
constexpr double kMutedOpacity = 0.35;
// The program's accent, used when a colour cannot be made at all.
const kit::Color kMainColor{0.95, 0.25, 0.12, 1};

}  // namespace

namespace {

// The options a tool keeps under its own class, by the key the bar uses.
bool keptByTool(const std::string& tool, const std::string& key) {
    if (key == "size") return tool != "ObjRuler" && tool != "ObjImage";
    if (key == "arrowType") return tool == "ObjArrow";
    if (key == "shape") return tool == "ObjSpotlight";
    if (key == "color") return tool == "ObjHighlighter";
    return false;
}

}  // namespace

std::optional<std::string> armedToolValue(const std::string& tool, const std::string& key) {
    if (tool.empty()) return std::nullopt;
    if (key == "color" && !keptByTool(tool, key)) return services::Settings::shared().defaultColor();
    if (!keptByTool(tool, key)) return std::nullopt;
    auto stored =
        services::Settings::shared().storage().object(objects::ProtoObject::optionKeyFor(tool, key));
    if (stored && stored->is_string()) return stored->get<std::string>();
    // What a new object starts with when nothing is kept.
    if (key == "size") return "1";
    return std::nullopt;
}

bool setArmedToolValue(const std::string& tool, const std::string& key, const std::string& value) {
    if (tool.empty() || !keptByTool(tool, key)) return false;
    services::Settings::shared().storeString(objects::ProtoObject::optionKeyFor(tool, key), value);
    return true;
}

const std::vector<std::string> ToolSettingsBar::kLineTypes = {"line", "dash"};
const std::vector<std::string> ToolSettingsBar::kArrowTypes = {"0", "1", "2"};
const std::vector<std::string> ToolSettingsBar::kConcealTypes = {"pixelate", "pixelate-text", "erase",
                                                                 "erase-text"};
const std::vector<std::string> ToolSettingsBar::kRulerUnits = {"px", "pt"};
const std::vector<std::string> ToolSettingsBar::kFills = {"0", "40", "100"};
const std::vector<std::string> ToolSettingsBar::kShapes = {"rect", "oval"};
const std::vector<std::string> ToolSettingsBar::kCorrections = {"x", "s", "c"};
const std::vector<std::string> ToolSettingsBar::kDefaultPalette = {
    "#00A490", "#00AFEE", "#1C2B41", "#F7F4E7", "#F44723", "#7758EF", "#FFDC2C", "#FA3C63"};

ToolSettingsBar::ToolSettingsBar() {
    svEditor = std::make_shared<controls::CtrlHelper>(kit::Rect{0, 0, 200, kSettingsBarHeight});
    svEditor->transient = false;
    svEditor->cornerRadius = 4.0;
    svEditor->opacity = 0.9;
    svEditor->awake();

    scLineType = segments({"Solid", "Dashed"}, {"Solid line", "Dashed line"}, "lineType", &kLineTypes);
    scArrowType = segments({"Arrow", "Line", "Double"},
                           {"Arrow head", "Line with a tip", "Tips at both ends"}, "", nullptr);
    scArrowType->action = [this, alive = std::weak_ptr<bool>(alive_)](controls::CtrlTooltippedSegments&) {
        if (alive.lock()) editorSetArrowType();
    };
    auto button = [this](const std::string& title, kit::Button::Type type, void (ToolSettingsBar::*fn)()) {
        auto b = kit::Button::make(
            title,
            [this, fn, alive = std::weak_ptr<bool>(alive_)](kit::Control&) {
                if (alive.lock()) (this->*fn)();
            },
            type);
        b->setFrameSize({b->title().size() * 7.0 + 24, kControlHeight});
        svEditor->addSubview(b);
        return b;
    };
    btnArrowStyle =
        button("Style", kit::Button::Type::MomentaryPush, &ToolSettingsBar::editorChangeArrowStyle);
    btnArrowStyle->setToolTip("Next drawing style");
    scConcealType = segments({"Pixelate", "Text", "Erase", "Erase Text"},
                             {"Pixelate the area", "Pixelate only the text",
                              "Fill with the surrounding colour", "Erase only the text"},
                             "concealType", &kConcealTypes);
    scRulerPixels =
        segments({"px", "pt"}, {"Measure in pixels", "Measure in points"}, "rulerPixels", &kRulerUnits);

    sliderSize = std::make_shared<controls::cellSliderSize>(kit::Rect{0, 0, 90, kControlHeight});
    sliderSize->minValue = 0;
    sliderSize->maxValue = 7;
    sliderSize->numberOfTickMarks = 8;
    sliderSize->allowsTickMarkValuesOnly = true;
    sliderSize->setToolTip("Size");
    sliderSize->action = [this, alive = std::weak_ptr<bool>(alive_)](controls::cellSliderSize&) {
        if (alive.lock()) editorSetSize();
    };
    svEditor->addSubview(sliderSize);

    btnColor = std::make_shared<controls::CtrlColorButton>(kit::Rect{0, 0, kControlHeight, kControlHeight});
    btnColor->setToolTip("Colour");
    btnColor->action = [this, alive = std::weak_ptr<bool>(alive_)](controls::ButtonBase&) {
        if (alive.lock()) editorPickColor();
    };
    svEditor->addSubview(btnColor);

    btnTransparency =
        button("Transparent", kit::Button::Type::Checkbox, &ToolSettingsBar::editorSetTransparency);
    btnGIF = button("GIF", kit::Button::Type::MomentaryPush, &ToolSettingsBar::editorGIF);
    btnGIF->setToolTip("Save as an animated GIF");
    scFill =
        segments({"Outline", "40%", "Solid"}, {"No fill", "Translucent fill", "Solid fill"}, "fill", &kFills);
    scShape = segments({"Rectangle", "Oval"}, {"Rectangular spotlight", "Oval spotlight"}, "shape", &kShapes);
    scShapeCorrection =
        segments({"Off", "Smooth", "Shapes"},
                 {"Keep the stroke as drawn", "Smooth the stroke", "Turn strokes into shapes"}, "correction",
                 &kCorrections);
    btnUnselect = button("Done", kit::Button::Type::MomentaryPush, &ToolSettingsBar::editorUnselect);
    btnUnselect->setToolTip("Finish editing (Esc)");

    customColorHeld = [] {
        uint32_t flags = kit::currentModifierFlags();
        return (flags & (kit::ModifierFlag::Option | kit::ModifierFlag::Command)) != 0;
    };
    updateToolSettings("");
}

std::shared_ptr<controls::CtrlTooltippedSegments> ToolSettingsBar::segments(
    const std::vector<std::string>& labels, const std::vector<std::string>& tips, const std::string& key,
    const std::vector<std::string>* codes) {
    auto sc = std::make_shared<controls::CtrlTooltippedSegments>();
    sc->setSegmentCount(int(labels.size()));
    double width = 0;
    for (size_t i = 0; i < labels.size(); ++i) {
        sc->setLabel(labels[i], int(i));
        sc->setToolTip(tips[i], int(i));
        double w = labels[i].size() * 7.0 + 16;
        sc->setWidth(w, int(i));
        width += w;
    }
    sc->setFrame({0, 0, width, kControlHeight});
    if (codes)
        sc->action = [this, key, codes,
                      alive = std::weak_ptr<bool>(alive_)](controls::CtrlTooltippedSegments& s) {
            if (alive.lock()) setSegValue(s, key, *codes);
        };
    svEditor->addSubview(sc);
    return sc;
}

std::vector<controls::CtrlTooltippedSegments*> ToolSettingsBar::segmentGroups() const {
    return {scLineType.get(), scArrowType.get(), scConcealType.get(),    scRulerPixels.get(),
            scFill.get(),     scShape.get(),     scShapeCorrection.get()};
}

std::optional<std::string> ToolSettingsBar::value(const std::string& key) const {
    return parts().toolValue(key);
}

void ToolSettingsBar::updateToolSettings(const std::string& type) {
    if (contains(type, "Line"))
        loadSegValue(*scLineType, "lineType", kLineTypes);
    else
        scLineType->setHidden(true);

    if (contains(type, "Arrow")) {
        loadSegValue(*scArrowType, "arrowType", kArrowTypes);
        btnArrowStyle->setHidden(false);
        btnArrowStyle->setEnabled(value("arrowType") == std::optional<std::string>("0"));
    } else {
        scArrowType->setHidden(true);
        btnArrowStyle->setHidden(true);
    }
    if (contains(type, "Counter")) {
        btnArrowStyle->setHidden(false);
        btnArrowStyle->setEnabled(true);
    }

    if (contains(type, "Conceal")) {
        loadSegValue(*scConcealType, "concealType", kConcealTypes);
        btnColor->setHidden(true);
    } else {
        scConcealType->setHidden(true);
        btnColor->setHidden(false);
        // cgColor gives black for text that is no colour; the accent stands in
        // only where no colour could be made at all.
        std::string hex = value("color").value_or("#000000");
        kit::Color c = imaging::cgColor(hex, 1.0);
        btnColor->backgroundColor = std::isfinite(c.r) ? c : kMainColor;
        btnColor->repaint();
    }

    if (contains(type, "Ruler")) {
        sliderSize->setHidden(true);
        loadSegValue(*scRulerPixels, "rulerPixels", kRulerUnits);
    } else {
        scRulerPixels->setHidden(true);
        sliderSize->setHidden(false);
        std::string text = value("size").value_or("0");
        sliderSize->setValue(double(kit::parseInt32(text).value_or(0)));
    }

    bool image = contains(type, "Image");
    btnTransparency->setHidden(!image);
    btnGIF->setHidden(!image);
    if (image)
        btnTransparency->setState(value("transparency").value_or("false") == "true" ? kit::ControlState::On
                                                                                    : kit::ControlState::Off);

    if (contains(type, "Rectangle") || contains(type, "Oval"))
        loadSegValue(*scFill, "fill", kFills);
    else
        scFill->setHidden(true);
    if (contains(type, "Spotlight"))
        loadSegValue(*scShape, "shape", kShapes);
    else
        scShape->setHidden(true);
    if (contains(type, "Freehand"))
        loadSegValue(*scShapeCorrection, "correction", kCorrections);
    else
        scShapeCorrection->setHidden(true);
    arrange();
}

void ToolSettingsBar::loadSegValue(controls::CtrlTooltippedSegments& view, const std::string& key,
                                   const std::vector<std::string>& codes) {
    view.setHidden(false);
    std::string v = value(key).value_or(codes.front());
    int segment = 0;
    for (size_t i = 0; i < codes.size(); ++i)
        if (codes[i] == v) {
            segment = int(i);
            break;
        }
    view.setSelectedSegment(segment);
}

void ToolSettingsBar::setSegValue(controls::CtrlTooltippedSegments& view, const std::string& key,
                                  const std::vector<std::string>& codes) {
    int i = view.selectedSegment();
    if (i < 0 || i >= int(codes.size())) {
        services::Telemetry::shared().oops("setSegValue(view:key:codes:)",
                                           "codes[] doesn't have element #" + std::to_string(i));
        return;
    }
    parts().setToolValue(key, codes[size_t(i)]);
    parts().flushRelayoutRequest();
}

void ToolSettingsBar::editorSetArrowType() {
    setSegValue(*scArrowType, "arrowType", kArrowTypes);
    updateToolSettings("ObjArrow");
}

void ToolSettingsBar::editorChangeArrowStyle() {
    parts().setToolValue("changeStyle", "");
    parts().flushRelayoutRequest();
}

void ToolSettingsBar::editorSetSize() {
    parts().setToolValue("size", std::to_string(std::lround(sliderSize->value())));
    parts().flushRelayoutRequest();
}

void ToolSettingsBar::editorSetTransparency() {
    parts().setToolValue("transparency",
                         btnTransparency->state() == kit::ControlState::On ? "true" : "false");
    parts().flushRelayoutRequest();
}

void ToolSettingsBar::editorGIF() {
    parts().setToolValue("saveGIF", "");
}

void ToolSettingsBar::editorUnselect() {
    parts().deactivate();
    core().refreshCropButton();
    parts().setRelayoutRequest(1);
    parts().flushRelayoutRequest();
}

void ToolSettingsBar::editorPickColor() {
    if (!colorPicker) colorPicker = std::make_unique<ColorPicker>();
    bool custom = customColorHeld && customColorHeld();
    std::string type = parts().activeType();
    std::vector<std::string> palette = parts().activePalette();
    colorPicker->setColors(palette.empty() ? kDefaultPalette : palette, type);
    colorPicker->show(btnColor, type, custom, [type](kit::Color c) {
        std::string hex = imaging::hexString(c);
        // The highlighter keeps its own colour; every other tool shares the default.
        if (!contains(type, "Highlighter")) services::Settings::shared().setDefaultColor(hex);
        parts().setToolValue("color", hex);
    });
}

void ToolSettingsBar::muteToolSettingsSoon() {
    if (!svEditor || svEditor->muteTimer.isValid()) return;
    svEditor->muteTimer = kit::Timer::once(0.3, [weak = std::weak_ptr<controls::CtrlHelper>(svEditor)] {
        if (auto bar = weak.lock()) {
            bar->targetOpacity = float(kMutedOpacity);
            bar->mute();
        }
    });
}

void ToolSettingsBar::arrange() {
    double x = kInset;
    for (const auto& v : svEditor->subviews()) {
        if (v == svEditor->vCurtain || v == svEditor->vEffect || v->isHidden()) continue;
        v->setFrameOrigin({x, std::round((kSettingsBarHeight - v->frame().height()) / 2)});
        x += v->frame().width() + kGap;
    }
    // The bar keeps its right edge where it is and grows to the left.
    kit::Rect f = svEditor->frame();
    double width = x - kGap + kInset;
    svEditor->setFrame({f.maxX() - width, f.y(), width, kSettingsBarHeight});
}

}  // namespace editor
