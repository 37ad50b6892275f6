#include "capture/PreviewViewController.h"

#include <algorithm>

#include "capture/CaptureHost.h"
#include "capture/ImageViewNoHit.h"
#include "capture/PreviewWindowController.h"
#include "controls/CtrlButton.h"
#include "controls/CtrlDragOutView.h"
#include "controls/ImageAssets.h"
#include "controls/hoveredToolTip.h"
#include "kit/draw/Layer.h"
#include "kit/draw/TextLayer.h"

namespace capture {

namespace {
constexpr double kSide = 9, kButtonsY = 9, kButtonH = 26;
}  // namespace

PreviewViewController::PreviewViewController(const kit::Rect& frame, PreviewWindowController& owner)
    : kit::View(frame), owner_(owner) {
    // The panel: a translucent fill, a light inner edge and a thin dark rim.
    vEffect_ = kit::View::make();
    vEffect_->layer()->setCornerRadius(12);
    vCurtain_ = kit::View::make();
    vCurtain_->layer()->setCornerRadius(12);
    vCurtain_->layer()->setBorderWidth(0.5);
    vBorder_ = kit::View::make();
    vBorder_->layer()->setCornerRadius(kCornerRadius);
    vBorder_->layer()->setBorderWidth(1);
    for (const auto& v : {vEffect_, vCurtain_, vBorder_}) {
        v->setIgnoresMouse(true);
        addSubview(v);
    }

    viewImgContainer_ = kit::View::make();
    viewImgContainer_->layer()->setCornerRadius(6);
    viewImgContainer_->layer()->setMasksToBounds(true);
    addSubview(viewImgContainer_);
    imgPreview_ = std::make_shared<controls::CtrlDragOutView>();
    imgPreview_->setScaling(kit::ImageView::Scaling::ProportionallyUpOrDown);
    imgPreview_->layer()->setCornerRadius(6);
    imgPreview_->layer()->setMasksToBounds(true);
    viewImgContainer_->addSubview(imgPreview_);

    auto button = [this](const std::string& icon, const std::string& title, const std::string& tip) {
        auto b = std::make_shared<controls::CtrlButton>();
        if (controls::ImageAssets::named(icon).isNull())
            b->setTitle(title);
        else
            icons_.emplace_back(b, icon);
        b->setToolTip(tip);
        addSubview(b);
        return b;
    };
    btnCopy_ = button("16-menu-clipboard", "Copy", "Copy (Ctrl+C)");
    btnSave_ = button("16-menu-file", "Save", "Save (Ctrl+S)");
    btnEdit_ = button("20-pen", "Edit", "Open in the editor (Return)");
    btnUpload_ = button("16-menu-upload", "Upload", "Upload (Ctrl+E)");
    btnOCR_ = button("16-menu-ocr", "Text", "Copy the text (Ctrl+O)");
    btnPin_ = button("16-menu-pin", "Pin", "Pin to the screen (Ctrl+P)");
    btnCopy_->action = [this](controls::ButtonBase&) { clickCopy(); };
    btnSave_->action = [this](controls::ButtonBase&) { clickSave(); };
    btnEdit_->action = [this](controls::ButtonBase&) { clickEdit(); };
    btnUpload_->action = [this](controls::ButtonBase&) { clickUpload(); };
    btnOCR_->action = [this](controls::ButtonBase&) { clickOCR(); };
    btnPin_->action = [this](controls::ButtonBase&) { clickPin(); };
    btnUpload_->setHidden(true);

    btnClose_ = std::make_shared<controls::CtrlButton>();
    btnClose_->setTitle("×");
    btnClose_->cornerRadius = 7;
    btnClose_->setToolTip("Close");
    btnClose_->action = [this](controls::ButtonBase&) { clickClose(); };
    addSubview(btnClose_);

    viewGrip_ = std::make_shared<ImageViewNoHit>();
    viewGrip_->layer()->setCornerRadius(2);
    viewGrip_->layer()->setBackgroundColor(kit::Color::white(0.5, 0.5));
    viewGrip_->setToolTip("Drag to move");
    addSubview(viewGrip_);

    // The tooltip bubble over the buttons.
    tooltip_ = kit::View::make();
    tooltip_->setIgnoresMouse(true);
    tooltip_->layer()->setCornerRadius(5);
    tooltip_->layer()->setBackgroundColor(kit::Color::white(0.1, 0.85));
    labelTooltip_ = kit::TextLayer::make();
    labelTooltipKey_ = kit::TextLayer::make();
    for (const auto& l : {labelTooltip_, labelTooltipKey_}) {
        l->setFontSize(11);
        l->setForegroundColor(kit::Color::white(1));
        tooltip_->layer()->addSublayer(l);
    }
    labelTooltipKey_->setForegroundColor(kit::Color::white(1, 0.6));
    labelTooltipKey_->setAlignmentMode(kit::TextAlignment::Right);
    tooltip_->setHidden(true);
    addSubview(tooltip_);

    addTrackingArea(bounds(),
                    kit::TrackingOption::MouseMoved | kit::TrackingOption::MouseEnteredAndExited |
                        kit::TrackingOption::ActiveInKeyWindow | kit::TrackingOption::InVisibleRect,
                    [this](const kit::Event& e) {
                        if (e.type == kit::EventType::MouseExited) {
                            hideTooltip();
                            return;
                        }
                        std::optional<std::string> tip;
                        controls::hoveredToolTip(subviews(), convertFrom(e.locationInWindow, nullptr), tip);
                        if (tip)
                            showTooltip(*tip);
                        else
                            hideTooltip();
                    });
    applySettings();
    layout();
}

PreviewViewController::~PreviewViewController() = default;

kit::Color PreviewViewController::panelColor() const {
    return vEffect_->layer()->backgroundColor().value_or(kit::Color::white(0.93)).withAlpha(1);
}

void PreviewViewController::layout() {
    const double W = bounds().width(), H = bounds().height();
    vEffect_->setFrame({1, 1, W - 2, H - 2});
    vCurtain_->setFrame({1, 1, W - 2, H - 2});
    vBorder_->setFrame(bounds());

    // The image hangs from the top padding, centred, at most 186 wide.
    const double c = std::min<double>(containerWidth_, W - 2 * kSide);
    const double imageBottom = kButtonsY + kButtonH + 10;
    const double i = std::max(H - paddingTop_ - imageBottom, 1.0);
    viewImgContainer_->setFrame({(W - c) / 2, imageBottom, c, i});
    imgPreview_->setFrame(viewImgContainer_->bounds());

    std::vector<std::shared_ptr<controls::CtrlButton>> row;
    for (const auto& b : {btnCopy_, btnSave_, btnEdit_, btnUpload_, btnOCR_, btnPin_})
        if (!b->isHidden()) row.push_back(b);
    const double bw = (W - 2 * kSide - 4 * (row.size() - 1)) / row.size();
    double x = kSide;
    for (const auto& b : row) {
        b->setFrame({x, kButtonsY, bw, kButtonH});
        x += bw + 4;
    }
    btnClose_->setFrame({kSide, H - 20, 14, 14});
    viewGrip_->setFrame({W / 2 - 14, H - 14, 28, 4});
    tooltip_->setFrame({kSide, kButtonsY + kButtonH + 2, W - 2 * kSide, 18});
    labelTooltip_->setFrame({6, 2, W - 2 * kSide - 12, 14});
    labelTooltipKey_->setFrame({6, 2, W - 2 * kSide - 12, 14});
}

void PreviewViewController::applySettings() {
    const bool isAuto = host().getString("thumbnailClosing", "manual") == "auto";
    btnClose_->setHidden(isAuto);
    viewGrip_->setHidden(isAuto);
    paddingTop_ = isAuto ? 9 : 25;

    const bool dark = isDarkAppearance();
    // The pictures follow the appearance of the moment, as the colours do.
    controls::ImageAssets::Look look = controls::ImageAssets::currentLook();
    look.dark = dark;
    for (const auto& [b, icon] : icons_) {
        kit::Image img = controls::ImageAssets::named(icon, look);
        b->imageMain = img;
        b->setImage(img);
    }
    for (const auto& b : {btnEdit_, btnSave_, btnCopy_, btnOCR_, btnUpload_, btnPin_}) {
        b->backgroundColor = kit::Color::clear();
        b->backgroundColorHover = kit::Color::white(0, dark ? 0.3 : 0.1);
        b->backgroundColorPressed = b->backgroundColorHover;
        b->textColor = dark ? kit::Color::white(1) : kit::Color::white(0.1);
        b->updateAppearance();
    }
    vBorder_->layer()->setBorderColor(kit::Color::white(0, dark ? 1.0 : 0.1));
    vEffect_->layer()->setBackgroundColor(dark ? kit::Color::white(0.15, 0.9) : kit::Color::white(0.93, 0.9));
    vCurtain_->layer()->setBorderColor(kit::Color::white(1, dark ? 0.25 : 1.0));
    vCurtain_->layer()->setBackgroundColor(dark ? kit::Color{0.17, 0.18, 0.19, 0.5}
                                                : kit::Color::white(1, 0.35));

    btnUpload_->setHidden(host().getString("token", "").size() < 3);
    layout();
    setNeedsDisplay();
}

void PreviewViewController::setImage(const kit::Image& image, int containerWidth) {
    containerWidth_ = containerWidth;
    imgPreview_->setImage(image);
    layout();
}

void PreviewViewController::clearImage() {
    imgPreview_->setImage({});
}

const kit::Image& PreviewViewController::image() const {
    return imgPreview_->image();
}

void PreviewViewController::showTooltip(const std::string& text) {
    const controls::TooltipParts parts = controls::splitTooltip(text);
    labelTooltip_->setString(parts.label);
    labelTooltipKey_->setString(parts.key);
    labelTooltipKey_->setHidden(parts.key.empty());
    tooltip_->setHidden(false);
    setNeedsDisplay();
}

void PreviewViewController::hideTooltip() {
    tooltip_->setHidden(true);
}

void PreviewViewController::resetButtons() {
    for (const auto& b : {btnEdit_, btnCopy_, btnSave_, btnUpload_, btnOCR_}) {
        b->mouseState = "normal";
        b->updateAppearance();
    }
}

bool PreviewViewController::uploadShown() const {
    return !btnUpload_->isHidden();
}

bool PreviewViewController::closeShown() const {
    return !btnClose_->isHidden();
}

namespace {
void buttonPreset(const std::string& name) {
    host().preset(name, {{"method", "preview:Button"}});
}
}  // namespace

void PreviewViewController::closePreview() {
    clearImage();
    owner_.closeWindow();
}

void PreviewViewController::clickCopy() {
    buttonPreset("copyImage");
    host().copyCurrent();
}

void PreviewViewController::clickSave() {
    buttonPreset("saveImage");
    host().saveCurrent(false);
}

void PreviewViewController::clickUpload() {
    buttonPreset("uploadImage");
    host().uploadCurrent();
}

void PreviewViewController::clickEdit() {
    buttonPreset("show");
    host().bringUpEditor();
    closePreview();
}

void PreviewViewController::clickOCR() {
    buttonPreset("ocr");
    host().recognizeCurrent();
    closePreview();
}

void PreviewViewController::clickPin() {
    buttonPreset("pin");
    host().pinCurrent();
    closePreview();
}

void PreviewViewController::clickClose() {
    closePreview();
}

}  // namespace capture
