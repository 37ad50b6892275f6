#include "shell/PrefGeneralViewController.h"

#include <algorithm>

#include "autostart/LaunchAtLogin.h"
#include "controls/CtrlRadioImage.h"
#include "imaging/HexText.h"
#include "kit/base/Regex.h"
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/PopUpButton.h"
#include "kit/ui/Slider.h"
#include "kit/ui/TextField.h"
#include "services/Console.h"
#include "services/Settings.h"
#include "services/Str.h"
#include "shell/CoreLink.h"
#include "shell/StatusMenu.h"

namespace shell {

namespace {

constexpr const char* kSaveFormatHelp =
    "Automatic mode optimizes size and quality based on the image content. If the screenshot has gradients, "
    "noise or "
    "photographs, it'll be saved as Jpeg. If the screenshot contains text and flat colors, it will be saved "
    "as PNG.";
constexpr const char* kWindowBackgroundHelp =
    "Setting applies to the shadow of the window captured via Active Window Capture or Any Window Capture. "
    "It does not "
    "affect Area Capture or Fullscreen screenshots.";

// The background tiles: a picture of what each choice gives, with its name below.
std::shared_ptr<controls::CtrlRadioImage> tile(int tag, std::function<void(int)> pick) {
    auto ri = std::make_shared<controls::CtrlRadioImage>(kit::Rect{0, 0, 56, 40});
    ri->buttonType = controls::ButtonBase::Type::pushOnPushOff;
    ri->action = [tag, pick = std::move(pick)](controls::ButtonBase&) { pick(tag); };
    return ri;
}

std::shared_ptr<kit::View> tileWithName(const std::shared_ptr<controls::CtrlRadioImage>& ri,
                                        const std::string& name) {
    auto box = kit::View::make({0, 0, 80, 62});
    ri->setFrame({12, 20, 56, 40});
    box->addSubview(ri);
    auto label = kit::Label::make(name);
    label->setAlignment(kit::TextAlignment::Center);
    label->setFrame({0, 0, 80, 18});
    box->addSubview(label);
    return box;
}

}  // namespace

PrefGeneralViewController::PrefGeneralViewController() {
    auto pick = [this](int tag) { riWinBackground(tag); };
    riWallpaper = tile(1, pick);
    riWallpaper->gradColors = {kit::Color::rgb(84, 120, 214), kit::Color::rgb(214, 112, 168)};
    riTransparent = tile(2, pick);
    riTransparent->backgroundColor = kit::Color::white(1, 0.35);
    riSolid = tile(3, pick);
    riTrimmed = tile(4, pick);
    riTrimmed->backgroundColor = kit::Color::white(0.6);
    line("Window background:",
         {tileWithName(riWallpaper, "Wallpaper"), tileWithName(riTransparent, "Transparent"),
          tileWithName(riSolid, "Solid"), tileWithName(riTrimmed, "Trimmed"),
          helpButton("WindowBG", kWindowBackgroundHelp)});
    tfSolidColor = std::make_shared<kit::TextField>(kit::Rect{0, 0, 90, 0});
    tfSolidColor->setAction([this](kit::Control&) { updateSolidColor(); });
    labelSolidColor = kit::Label::make("Choose Solid to set its colour");
    labelSolidColor->setTextColor(kit::Color::white(0.5));
    line("Solid colour:", {tfSolidColor});
    labelSolidColor->setFrame(
        {tfSolidColor->frame().x(), tfSolidColor->frame().y(), 300, tfSolidColor->frame().height()});
    view_->addSubview(labelSolidColor);
    space(8);

    btnSaveFolder = kit::Button::make("Choose Folder…", [this](kit::Control&) { clickSaveFolder(); });
    btnSaveFolder->setFrameSize({320, 0});
    line("Save to:", {btnSaveFolder});
    rbSaveFormatAuto = radio("Automatic", [this](kit::Button&) { changeSaveFormat(); });
    rbSaveFormatPNG = radio("PNG", [this](kit::Button&) { changeSaveFormat(); });
    line("File format:",
         {group({rbSaveFormatAuto, rbSaveFormatPNG}), helpButton("SaveFormat", kSaveFormatHelp)});
    cbDownscale = checkbox("Save HiDPI captures at 1× scale", [this](kit::Button&) { changeDownscale(); });
    line("", {cbDownscale});
    space(8);

    tfScrollingMax = std::make_shared<kit::TextField>(kit::Rect{0, 0, 90, 0});
    tfScrollingMax->setAction([this](kit::Control&) { updateScrollingMax(); });
    line("Scrolling limit:", {tfScrollingMax, kit::Label::make("pixels")});
    slScrollingSpeed = std::make_shared<kit::Slider>(kit::Rect{0, 0, 200, 0});
    slScrollingSpeed->setRange(1, 5);
    slScrollingSpeed->setNumberOfTickMarks(5);
    slScrollingSpeed->setAllowsTickMarkValuesOnly(true);
    slScrollingSpeed->setContinuous(false);
    slScrollingSpeed->setAction([this](kit::Control&) { updateScrollingSpeed(); });
    line("Scrolling speed:", {slScrollingSpeed});
    space(8);

    cbAfterGrabShow = checkbox("Show", [this](kit::Button&) { updateAfterGrabShow(); });
    cbAfterGrabCopy = checkbox("Copy", [this](kit::Button&) { updateAfterGrabCopy(); });
    cbAfterGrabSave = checkbox("Save", [this](kit::Button&) { updateAfterGrabSave(); });
    line("After capture:", {group({cbAfterGrabShow, cbAfterGrabCopy, cbAfterGrabSave}, 18)});
    rbAreaEditor = radio("Editor", [this](kit::Button&) { changeAreaCropBehavior(); });
    rbAreaPreview = radio("Floating preview", [this](kit::Button&) { changeAreaCropBehavior(); });
    line("Area capture opens:", {group({rbAreaEditor, rbAreaPreview}, 18)});
    ddlThumbnailClosing = std::make_shared<kit::PopUpButton>();
    ddlThumbnailClosing->addItems({"Automatically", "When I close it"});
    ddlThumbnailClosing->setAction([this](kit::Control&) { selectThumbnailClosing(); });
    line("Preview closes:", {ddlThumbnailClosing});
    space(8);

    cbLunchAtStartup = checkbox("Launch at login", [this](kit::Button&) { updateLunchAtStartup(); });
    line("Startup:", {cbLunchAtStartup});
    refresh();
}

void PrefGeneralViewController::refresh() {
    auto shadow = settings().windowShadow();
    riWallpaper->setState(shadow == "wallpaper");
    riTransparent->setState(shadow == "transparent");
    riSolid->setState(shadow == "solid");
    riTrimmed->setState(shadow == "trimmed");
    bool solid = riSolid->state() == 1;
    tfSolidColor->setHidden(!solid);
    labelSolidColor->setHidden(solid);

    auto color = settings().windowSolidColor();
    tfSolidColor->setStringValue(color);
    riSolid->backgroundColor = imaging::colorFromHexDigits(imaging::cleanHexText(color), 1)
                                   .value_or(kit::Color{0.96, 0.28, 0.14, 1});
    for (auto* ri : {riWallpaper.get(), riTransparent.get(), riSolid.get(), riTrimmed.get()}) ri->repaint();

    auto folder = settings().defaultFolder();
    if (!folder.empty()) btnSaveFolder->setTitle(folder);

    auto format = settings().saveFormat();
    if (format == "PNG") rbSaveFormatPNG->setState(kit::ControlState::On);
    if (format == "Auto") rbSaveFormatAuto->setState(kit::ControlState::On);

    cbDownscale->setState(stateOf(settings().downscaleOnSave()));
    tfScrollingMax->setStringValue(std::to_string(settings().scrollingMax()));
    slScrollingSpeed->setDoubleValue(double(settings().scrollingSpeed()));

    cbLunchAtStartup->setState(stateOf(autostart::LaunchAtLogin::isEnabled()));

    bool preview = settings().areaCaptureMode() == "preview";
    (preview ? rbAreaPreview : rbAreaEditor)->setState(kit::ControlState::On);
    ddlThumbnailClosing->setEnabled(preview);
    ddlThumbnailClosing->selectItem(settings().thumbnailClosing() == "auto" ? 0 : 1);

    bool show = settings().afterGrabShow();
    cbAfterGrabShow->setState(stateOf(show));
    rbAreaEditor->setEnabled(show);
    rbAreaPreview->setEnabled(show);
    cbAfterGrabCopy->setState(stateOf(settings().afterGrabCopy()));
    cbAfterGrabSave->setState(stateOf(settings().afterGrabSave()));
}

void PrefGeneralViewController::riWinBackground(int tag) {
    static const char* values[] = {"wallpaper", "transparent", "solid", "trimmed"};
    if (tag >= 1 && tag <= 4) settings().setWindowShadow(values[tag - 1]);
    refresh();
}

std::optional<std::string> PrefGeneralViewController::hexDigits(const std::string& typed) {
    auto cleaned = imaging::cleanHexText(typed);
    static const kit::Regex sixDigits("^[A-F0-9]{6}$");
    if (!sixDigits.matchesWhole(cleaned)) return std::nullopt;
    return cleaned;
}

void PrefGeneralViewController::updateSolidColor() {
    auto digits = hexDigits(tfSolidColor->stringValue());
    if (!digits) return;
    settings().setWindowSolidColor("#" + *digits);
    tfSolidColor->setStringValue("#" + *digits);
    refresh();
}

void PrefGeneralViewController::clickSaveFolder() {
    coreLink().selectDefaultFolder([this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.expired()) return;
        auto folder = settings().defaultFolder();
        if (!folder.empty()) btnSaveFolder->setTitle(folder);
    });
}

void PrefGeneralViewController::changeSaveFormat() {
    settings().setSaveFormat(isOn(*rbSaveFormatAuto) ? "Auto" : "PNG");
}

void PrefGeneralViewController::changeDownscale() {
    settings().setDownscaleOnSave(isOn(*cbDownscale));
}

int64_t PrefGeneralViewController::clampedScrollingMax(const std::string& typed) {
    return std::clamp(services::Str::intFromDigits(typed), kScrollingMaxLow, kScrollingMaxHigh);
}

void PrefGeneralViewController::updateScrollingMax() {
    auto text = tfScrollingMax->stringValue();
    int64_t typed = services::Str::intFromDigits(text);
    if (typed == settings().scrollingMax()) return;
    services::consoleLine("New Scroll Max " + std::to_string(typed));
    int64_t value = clampedScrollingMax(text);
    tfScrollingMax->setStringValue(std::to_string(value));
    settings().setScrollingMax(value);
}

void PrefGeneralViewController::updateScrollingSpeed() {
    settings().setScrollingSpeed(int64_t(slScrollingSpeed->doubleValue()));
}

void PrefGeneralViewController::updateLunchAtStartup() {
    StatusMenu::shared().launchAtStartup();
    // Read back at once: an enable that failed must not stay checked.
    cbLunchAtStartup->setState(stateOf(autostart::LaunchAtLogin::isEnabled()));
}

void PrefGeneralViewController::updateAfterGrabShow() {
    bool show = isOn(*cbAfterGrabShow);
    settings().setAfterGrabShow(show);
    rbAreaEditor->setEnabled(show);
    rbAreaPreview->setEnabled(show);
    if (!show && !settings().afterGrabCopy() && !settings().afterGrabSave()) {
        settings().setAfterGrabCopy(true);
        refresh();
    }
}

void PrefGeneralViewController::updateAfterGrabCopy() {
    settings().setAfterGrabCopy(isOn(*cbAfterGrabCopy));
    if (!settings().afterGrabCopy() && !settings().afterGrabSave()) {
        settings().setAfterGrabShow(true);
        refresh();
    }
}

void PrefGeneralViewController::updateAfterGrabSave() {
    settings().setAfterGrabSave(isOn(*cbAfterGrabSave));
    // Save stays on when the prompt is cancelled: saving then asks for the folder again.
    if (settings().afterGrabSave() && !settings().defaultFolderURL()) coreLink().selectDefaultFolder();
    if (!settings().afterGrabCopy() && !settings().afterGrabSave()) {
        settings().setAfterGrabShow(true);
        refresh();
    }
}

void PrefGeneralViewController::changeAreaCropBehavior() {
    settings().setAreaCaptureMode(isOn(*rbAreaPreview) ? "preview" : "editor");
    ddlThumbnailClosing->setEnabled(settings().areaCaptureMode() == "preview");
}

void PrefGeneralViewController::selectThumbnailClosing() {
    settings().setThumbnailClosing(ddlThumbnailClosing->indexOfSelectedItem() == 0 ? "auto" : "manual");
}

}  // namespace shell
