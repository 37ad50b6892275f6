#include "editor/ColorPicker.h"

#include <algorithm>
#include <cmath>

#include "controls/ControlLook.h"
#include "editor/EditorHost.h"
#include "imaging/PixelSampling.h"
#include "kit/ui/ColorPanel.h"
#include "kit/ui/Window.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace editor {

namespace {

constexpr double kWidth = 140, kRowHeight = 32, kBaseHeight = 44;
constexpr double kSwatch = 24, kSwatchStep = 32, kSwatchX = 10, kSwatchY = 42;
constexpr int kPerRow = 4;
constexpr int kCustomIndex = 3;

const std::vector<std::string> kInitialColors = {"#00A490", "#00AFEE", "#1C2B41", "#F7F4E7",
                                                 "#F44723", "#7758EF", "#FFDC2C", "#FA3C63"};

// A swatch colour from its text; text that is no hex colour gives black, as
// the tool-settings bar shows it.
kit::Color swatchColor(const std::string& text) {
    return imaging::cgColor(text, 1.0);
}

bool sameColor(const kit::Color& a, const kit::Color& b) {
    auto close = [](double x, double y) { return std::abs(x - y) < 0.5 / 255; };
    return close(a.r, b.r) && close(a.g, b.g) && close(a.b, b.b) && close(a.a, b.a);
}

}  // namespace

ColorPicker::ColorPicker() : colors(kInitialColors) {
    content = kit::View::make({0, 0, 136, 72});
    popover.setContentView(content);
    popover.setContentSize(content->frame().size);
    popover.setBehavior(kit::Popover::Behavior::Transient);
    buildSwatches();
}

ColorPicker::~ColorPicker() {
    *alive_ = false;
    // The shared panel outlives the picker: it must not call back into it.
    kit::ColorPanel::shared().setTarget({});
}

const char* ColorPicker::customColorKey(const std::string& consumer) {
    return consumer == "ObjHighlighter" ? "customHighlighterColor" : "customDrawingColor";
}

std::string ColorPicker::customColor(const std::string& consumer) {
    services::Settings& s = services::Settings::shared();
    return consumer == "ObjHighlighter" ? s.customHighlighterColor() : s.customDrawingColor();
}

void ColorPicker::buildSwatches() {
    int rows = int(std::ceil(double(colors.size()) / kPerRow));
    kit::Size size{kWidth, kRowHeight * rows + kBaseHeight};
    content->setFrameSize(size);
    popover.setContentSize(size);
    for (size_t i = 0; i < colors.size(); ++i) {
        auto swatch = std::make_shared<controls::CtrlColorButton>(
            kit::Rect{kSwatchX + kSwatchStep * double(i % kPerRow),
                      kSwatchY + kSwatchStep * double(i / kPerRow), kSwatch, kSwatch});
        swatch->backgroundColor = swatchColor(colors[i]);
        swatch->togglable = true;
        swatch->action = [this, alive = std::weak_ptr<bool>(alive_)](controls::ButtonBase& b) {
            if (alive.lock()) onClick(static_cast<controls::CtrlColorButton&>(b));
        };
        content->addSubview(swatch);
        swatches.push_back(swatch);
    }
    btnCustom = kit::Button::make("Custom", [this](kit::Control&) { onCustomButtonClick(); });
    btnCustom->setFrame({3, 8, 134, 22});
    content->addSubview(btnCustom);
}

void ColorPicker::setColors(const std::vector<std::string>& list, const std::string& consumer) {
    colorConsumer = consumer;
    size_t n = std::min(list.size(), swatches.size());
    for (size_t i = 0; i < n; ++i) {
        std::string text = i == kCustomIndex ? customColor(consumer) : list[i];
        swatches[i]->backgroundColor = swatchColor(text);
        swatches[i]->repaint();
    }
}

void ColorPicker::show(const std::shared_ptr<controls::CtrlColorButton>& launcherButton,
                       const std::string& consumer, bool custom, std::function<void(kit::Color)> onColor) {
    callback = std::move(onColor);
    launcher = launcherButton;
    colorConsumer = consumer;
    if (custom) {
        onCustomButtonClick();
        return;
    }
    if (!launcherButton) return;
    // The panel follows the look of the editor the button sits in.
    popover.setBackgroundColor(
        controls::ControlLook::windowBackgroundColor(launcherButton->isDarkAppearance()));
    for (auto& s : swatches) {
        s->setState(sameColor(s->backgroundColor, launcherButton->backgroundColor) ? 1 : 0);
        s->repaint();
    }
    popover.show(launcherButton->bounds(), *launcherButton, kit::RectEdge::MaxY);
}

void ColorPicker::onClick(controls::CtrlColorButton& swatch) {
    auto l = launcher.lock();
    kit::Color picked = swatch.backgroundColor;
    if (l) {
        l->backgroundColor = picked;
        l->repaint();
    }
    popover.close();
    if (callback) callback(l ? l->backgroundColor : picked);
}

void ColorPicker::onCustomButtonClick() {
    popover.close();
    services::Telemetry::shared().event("customColor", {{"object", colorConsumer}});
    openSystemPanel();
}

kit::Point ColorPicker::panelOrigin(const kit::Rect& windowFrame, kit::Size panelSize) {
    return {windowFrame.maxX() - panelSize.width - 10, windowFrame.maxY() - panelSize.height - 115};
}

void ColorPicker::openSystemPanel() {
    kit::ColorPanel& panel = kit::ColorPanel::shared();
    panel.setTarget([this, alive = std::weak_ptr<bool>(alive_)](kit::Color c) {
        if (alive.lock()) macColorPicked(c);
    });
    panel.setContinuous(true);
    panel.setShowsAlpha(false);
    if (auto l = launcher.lock()) panel.setColor(l->backgroundColor);
    if (kit::Window* w = core().winMain()) panel.setFrameOrigin(panelOrigin(w->frame(), panel.frame().size));
    panel.orderFront();
}

void ColorPicker::macColorPicked(kit::Color color) {
    if (!callback) return;
    auto l = launcher.lock();
    if (l) {
        l->backgroundColor = color;
        l->repaint();
    }
    // The panel has no opacity control: the colour is taken as opaque.
    kit::Color opaque{color.r, color.g, color.b, 1.0};
    std::string hex = imaging::hexString(opaque);
    // Every step of a drag lands here: the settings keep it in memory at once
    // and write their file a moment after the last change.
    services::Settings& s = services::Settings::shared();
    if (colorConsumer == "ObjHighlighter")
        s.setCustomHighlighterColor(hex);
    else
        s.setCustomDrawingColor(hex);
    callback(opaque);
}

}  // namespace editor
