#include "editor/ViewController.h"

#include <algorithm>
#include <cmath>

#include "controls/CtrlInputCell.h"
#include "controls/ImageAssets.h"
#include "controls/ToolbarOverflow.h"
#include "controls/hoveredToolTip.h"
#include "editor/EditorHost.h"
#include "editor/MainWindowController.h"
#include "editor/MainWindowControllerParts.h"
#include "imaging/ColorFormats.h"
#include "kit/draw/Font.h"
#include "kit/ui/ColorPanel.h"
#include "kit/ui/Window.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Str.h"
#include "services/Telemetry.h"
#include "services/Updater.h"

namespace editor {

// ---- Resize arithmetic ------------------------------------------------------------

namespace resize {

const double kFactors[6] = {0.25, 0.33333333333, 0.5, 1.0, 2.0, 4.0};

int segmentForWidth(int64_t width, double W) {
    // Tried in this order, so that equal products pick the earlier preset.
    struct Test {
        int segment;
        double factor;
    };
    const Test tests[] = {{3, 1.0}, {0, 0.25}, {1, 0.333333333333333}, {2, 0.5}, {4, 2.0}, {5, 4.0}};
    for (const Test& t : tests) {
        double target = t.segment == 3 ? std::trunc(W) : std::round(W * t.factor);
        if (double(width) == target) return t.segment;
    }
    return -1;
}

int64_t heightForWidth(int64_t width, double W, double H) {
    // A composition without width or height has no ratio to keep.
    if (W <= 0 || H <= 0) return 1;
    double w = double(std::max<int64_t>(1, width));
    return std::max<int64_t>(1, int64_t(std::round(w * H / W)));
}

int64_t widthForHeight(int64_t height, double W, double H) {
    return heightForWidth(height, H, W);
}

std::pair<int64_t, int64_t> presetSize(int segment, double W, double H) {
    double f = kFactors[std::clamp(segment, 0, 5)];
    return {int64_t(std::round(W * f)), int64_t(std::round(H * f))};
}

Check check(int64_t width, int64_t height) {
    if (width < 1 || height < 1) return Check::tooSmall;
    if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels) return Check::tooLarge;
    return Check::ok;
}

}  // namespace resize

TooltipText splitTooltip(const std::string& text) {
    const controls::TooltipParts parts = controls::splitTooltip(controls::toolbarTitleShown(text));
    TooltipText out;
    out.title = parts.label;
    if (!parts.key.empty()) {
        out.key = parts.key;
        out.padding = 40;
    }
    return out;
}

std::string welcomeHint(const std::optional<std::string>& shortcut, bool trayIcon) {
    if (trayIcon)
        return shortcut ? "Take a screenshot from the tray icon or with " + *shortcut +
                              ".\nIt opens here for marking up."
                        : std::string("Take a screenshot from the tray icon.\nIt opens here for marking up.");
    const std::string take = shortcut
                                 ? "Take a screenshot with " + *shortcut + "; it opens here for marking up."
                                 : std::string(
                                       "Record a shortcut in the settings to take screenshots; they "
                                       "open here for marking up.");
    return take + "\nRunning kadrix again brings this window back.";
}

kit::Size fittedContentSize(kit::Size content, kit::Size room) {
    // A window wider than its screen would put the tool bar's start off it.
    double width = std::max(content.width, std::min(1024.0, room.width));
    double height = std::max(content.height, std::min(472.0, room.height));
    return {width, std::floor(height)};
}

kit::Rect keptOnScreen(kit::Rect frame, const kit::Rect& screen) {
    if (frame.maxX() > screen.maxX()) frame.origin.x = screen.maxX() - frame.width();
    if (frame.minY() < screen.minY()) frame.origin.y = screen.minY();
    return frame;
}

// ---- Building --------------------------------------------------------------------

namespace {

constexpr double kBubbleInset = 20;

std::shared_ptr<kit::Label> label(const std::string& text, kit::Rect frame) {
    auto l = kit::Label::make(text);
    l->setFrame(frame);
    return l;
}

std::shared_ptr<controls::CtrlButton> ctrlButton(const std::string& title, kit::Rect frame,
                                                 std::function<void()> fn) {
    auto b = std::make_shared<controls::CtrlButton>(frame);
    b->setTitle(title);
    b->action = [fn = std::move(fn)](controls::ButtonBase&) { fn(); };
    return b;
}

std::shared_ptr<kit::Button> button(const std::string& title, kit::Rect frame, std::function<void()> fn,
                                    kit::Button::Type type = kit::Button::Type::MomentaryPush) {
    auto b = kit::Button::make(
        title, [fn = std::move(fn)](kit::Control&) { fn(); }, type);
    b->setFrame(frame);
    return b;
}

}  // namespace

ViewController::ViewController() {
    view = kit::View::make({0, 0, 1024, 600});
    viewDidLoad();
}

ViewController::~ViewController() {
    *alive_ = false;
}

// Runs a member with the controller while it lives.
#define VC_ACTION(member)                         \
    [this, alive = std::weak_ptr<bool>(alive_)] { \
        if (alive.lock()) member();               \
    }

void ViewController::pinTopRight(kit::View& v, double top, double right) {
    kit::Rect b = view->bounds();
    v.setFrameOrigin({b.width() - right - v.frame().width(), b.height() - top - v.frame().height()});
    v.setAutoresizingMask(kit::Autoresizing::MinXMargin | kit::Autoresizing::MinYMargin);
}

std::shared_ptr<controls::CtrlHelper> ViewController::bubble(kit::Size size, bool transient) {
    auto b = std::make_shared<controls::CtrlHelper>(kit::Rect{{0, 0}, size});
    b->transient = transient;
    return b;
}

void ViewController::viewDidLoad() {
    shotView = parts().makeCanvasView();
    shotView->setFrame(view->bounds());
    shotView->setAutoresizingMask(kit::Autoresizing::WidthSizable | kit::Autoresizing::HeightSizable);
    shotView->layer()->setMasksToBounds(true);
    view->addSubview(shotView);

    buildIntro();
    btnStartup->setHidden(shell().launchAtLoginEnabled());
    btnSetupHotkeys->setHidden(services::Settings::shared().everVisitedHotkeys());
    bool newVersion = services::Updater::shared().hasNewVersion();
    introNewVersion->setHidden(!newVersion);
    introStandard->setHidden(newVersion);

    backdropPanelHost = kit::View::make(view->bounds());
    backdropPanelHost->setAutoresizingMask(kit::Autoresizing::WidthSizable |
                                           kit::Autoresizing::HeightSizable);
    backdropPanelHost->setIgnoresMouse(true);
    embedBackdropPanel();

    auto& bar = *toolSettings.svEditor;
    view->addSubview(toolSettings.svEditor);
    pinTopRight(bar, 4, 4);
    bar.setHidden(true);

    buildBubbles();
    for (const auto& f : imaging::colorFormats()) ddlColorFormat->addItem(f.menuTitle);
    core().updateColorStrings();
}

void ViewController::buildIntro() {
    introView = kit::View::make({0, 0, 420, 330});
    kit::Rect b = view->bounds();
    introView->setFrameOrigin({std::round((b.width() - 420) / 2), std::round((b.height() - 330) / 2)});
    introView->setAutoresizingMask(kit::Autoresizing::MinXMargin | kit::Autoresizing::MaxXMargin |
                                   kit::Autoresizing::MinYMargin | kit::Autoresizing::MaxYMargin);
    imageWelcome = std::make_shared<kit::ImageView>(kit::Rect{70, 150, 280, 160});
    imageWelcome->setImage(controls::ImageAssets::named("welcome"));
    introView->addSubview(imageWelcome);

    introStandard = kit::View::make({0, 0, 420, 140});
    auto title = label("Kadrix is ready", {0, 100, 420, 26});
    title->setAlignment(kit::TextAlignment::Center);
    title->setFont(kit::Font::system(17, kit::FontWeight::Semibold));
    introStandard->addSubview(title);
    labelWelcomeHint = label("", {10, 46, 400, 52});
    labelWelcomeHint->setAlignment(kit::TextAlignment::Center);
    labelWelcomeHint->setWraps(true);
    introStandard->addSubview(labelWelcomeHint);
    updateWelcomeHint();
    btnStartup = ctrlButton("Launch at Startup", {50, 14, 150, 28}, VC_ACTION(runAtStartup));
    btnSetupHotkeys = ctrlButton("Set Up Shortcuts", {220, 14, 150, 28}, VC_ACTION(setupHotkeys));
    introStandard->addSubview(btnStartup);
    introStandard->addSubview(btnSetupHotkeys);
    introView->addSubview(introStandard);

    introNewVersion = kit::View::make({0, 0, 420, 140});
    auto newTitle = label("A new version of Kadrix is available", {0, 100, 420, 26});
    newTitle->setAlignment(kit::TextAlignment::Center);
    newTitle->setFont(kit::Font::system(17, kit::FontWeight::Semibold));
    introNewVersion->addSubview(newTitle);
    introNewVersion->addSubview(ctrlButton("Update Now", {50, 14, 150, 28}, VC_ACTION(clickIntroNewVersion)));
    introNewVersion->addSubview(ctrlButton("Next Time", {220, 14, 150, 28}, VC_ACTION(clickIntroNextTime)));
    introView->addSubview(introNewVersion);
    view->addSubview(introView);
}

void ViewController::buildBubbles() {
    // Zoom: out, in, actual size, and the percentage.
    ctrlHelperZoom = bubble({214, 44}, true);
    ctrlHelperZoom->awake();
    ctrlHelperZoom->addSubview(button("\u2212", {10, 10, 36, 24}, VC_ACTION(clickZoomOut)));
    labelZoom = label("100%", {50, 12, 56, 20});
    labelZoom->setAlignment(kit::TextAlignment::Center);
    ctrlHelperZoom->addSubview(labelZoom);
    ctrlHelperZoom->addSubview(button("+", {110, 10, 36, 24}, VC_ACTION(clickZoomIn)));
    ctrlHelperZoom->addSubview(button("100%", {150, 10, 54, 24}, VC_ACTION(clickZoomPercentage)));

    // Colour format.
    ctrlHelperColor = bubble({250, 44}, true);
    ctrlHelperColor->awake();
    ctrlHelperColor->addSubview(label("Colour format", {12, 12, 96, 20}));
    ddlColorFormat = std::make_shared<kit::PopUpButton>(kit::Rect{110, 9, 130, 26});
    ddlColorFormat->setAction([this, alive = std::weak_ptr<bool>(alive_)](kit::Control&) {
        if (alive.lock()) changeColorFormat();
    });
    ctrlHelperColor->addSubview(ddlColorFormat);

    // Image size: new width and height, presets, points or pixels, resize.
    ctrlHelperPixels = bubble({330, 122}, true);
    ctrlHelperPixels->awake();
    txtWidth = std::make_shared<kit::TextField>(kit::Rect{12, 84, 80, 24});
    txtHeight = std::make_shared<kit::TextField>(kit::Rect{118, 84, 80, 24});
    txtWidth->setCell(std::make_shared<controls::CtrlInputCell>());
    txtHeight->setCell(std::make_shared<controls::CtrlInputCell>());
    txtWidth->onTextChange = [this, alive = std::weak_ptr<bool>(alive_)](kit::TextField&) {
        if (alive.lock()) controlTextDidChange(true);
    };
    txtHeight->onTextChange = [this, alive = std::weak_ptr<bool>(alive_)](kit::TextField&) {
        if (alive.lock()) controlTextDidChange(false);
    };
    txtWidth->setAction([this, alive = std::weak_ptr<bool>(alive_)](kit::Control&) {
        if (alive.lock()) changeWidth();
    });
    txtHeight->setAction([this, alive = std::weak_ptr<bool>(alive_)](kit::Control&) {
        if (alive.lock()) changeHeight();
    });
    ctrlHelperPixels->addSubview(txtWidth);
    ctrlHelperPixels->addSubview(label("\u00D7", {96, 86, 18, 20}));
    ctrlHelperPixels->addSubview(txtHeight);
    ctrlHelperPixels->addSubview(label("px", {202, 86, 24, 20}));
    ctrlHelperPixels->addSubview(button("Resize", {236, 84, 82, 24}, VC_ACTION(clickResize)));
    scSizes = std::make_shared<controls::CtrlTooltippedSegments>(kit::Rect{12, 48, 306, 24});
    scSizes->setSegmentCount(6);
    const char* presets[] = {"25%", "33%", "50%", "100%", "200%", "400%"};
    for (int i = 0; i < 6; ++i) scSizes->setLabel(presets[i], i);
    scSizes->action = [this, alive = std::weak_ptr<bool>(alive_)](controls::CtrlTooltippedSegments&) {
        if (alive.lock()) selectSize();
    };
    ctrlHelperPixels->addSubview(scSizes);
    swPixelsPoints = button("Show sizes in points", {12, 12, 300, 24}, VC_ACTION(changeRealPixels),
                            kit::Button::Type::Checkbox);
    ctrlHelperPixels->addSubview(swPixelsPoints);

    // Help for the ruler.
    ctrlHelperHelp = bubble({420, 70}, false);
    ctrlHelperHelp->awake();
    auto help = label(
        "Hold 1 or 2 and point at the screenshot to measure the distance between edges. "
        "Click while measuring to keep the measurement on the image.",
        {14, 10, 310, 50});
    help->setWraps(true);
    ctrlHelperHelp->addSubview(help);
    ctrlHelperHelp->addSubview(button("Got It", {334, 22, 74, 26}, VC_ACTION(clickCloseHelp)));

    // The tool bar's tooltip: a title and the key in a lighter tone.
    ctrlHelperTooltip = bubble({120, 26}, false);
    ctrlHelperTooltip->opacity = 0.92;
    ctrlHelperTooltip->awake();
    labelTooltip = label("", {14, 4, 80, 18});
    labelTooltipKey = label("", {0, 4, 30, 18});
    labelTooltipKey->setTextColor(kit::Color::white(0.5));
    ctrlHelperTooltip->addSubview(labelTooltip);
    ctrlHelperTooltip->addSubview(labelTooltipKey);
    ctrlHelperTooltip->setIgnoresMouse(true);

    for (auto* b : {&ctrlHelperZoom, &ctrlHelperColor, &ctrlHelperPixels}) {
        view->addSubview(*b);
        pinTopRight(**b, kBubbleInset, kBubbleInset);
    }
    view->addSubview(ctrlHelperHelp);
    kit::Rect vb = view->bounds();
    ctrlHelperHelp->setFrameOrigin({std::round((vb.width() - 420) / 2), vb.height() - kBubbleInset - 70});
    ctrlHelperHelp->setAutoresizingMask(kit::Autoresizing::MinXMargin | kit::Autoresizing::MaxXMargin |
                                        kit::Autoresizing::MinYMargin);
    view->addSubview(ctrlHelperTooltip);
}

#undef VC_ACTION

void ViewController::embedBackdropPanel() {
    if (backdropView) return;
    auto panel = std::dynamic_pointer_cast<controls::CtrlHelper>(backdrop().panelView());
    if (!panel) return;
    backdropView = panel;
    backdropView->opacity = 0.85;
    backdropView->setHidden(true);
    view->addSubview(backdropView);
    pinTopRight(*backdropView, kBubbleInset, kBubbleInset);
}

// ---- Operations ------------------------------------------------------------------

void ViewController::updateWelcomeHint() {
    labelWelcomeHint->setStringValue(welcomeHint(shell().captureShortcutText(), shell().trayIconShows()));
}

void ViewController::viewDidAppear() {
    // The shortcut may have been recorded, or the tray come and gone, since.
    if (labelWelcomeHint) updateWelcomeHint();
    double ms = services::timerElapsed("KeyToRenderFullscreen");
    if (ms > 0)
        services::Telemetry::shared().event("timer", {{"timername", "grab:fullscreen"}, {"timer", ms}});
    services::timerRemove("KeyToRenderFullscreen");
}

void ViewController::fitWindow() {
    kit::Window* w = core().winMain();
    if (!w) w = view->window();
    if (w) {
        kit::Size content = w->contentSize();
        kit::Rect frame = w->frame(), visible = w->screen().visibleFrame;
        // The room for content inside the screen's visible frame, less the window's own edges.
        kit::Size room{visible.width() - (frame.width() - content.width),
                       visible.height() - (frame.height() - content.height)};
        w->setContentSize(fittedContentSize(content, room));
        w->setFrame(keptOnScreen(w->frame(), w->screen().frame));
    }
    embedBackdropPanel();
    if (backdropView) backdropView->show();
}

void ViewController::syncBackdropPanel() {
    if (backdrop().isOn() != 0) {
        if (backdropView && !backdropView->isHidden()) {
            backdrop().updateControls();
            backdrop().rememberCustomColors();
        }
        return;
    }
    if (backdropView) backdropView->hide();
    kit::ColorPanel::shared().close();
}

void ViewController::showTooltip(const std::string& text, int x, std::optional<double> top) {
    TooltipText t = splitTooltip(text);
    labelTooltip->setStringValue(t.title);
    if (t.key) {
        labelTooltipKey->setHidden(false);
        labelTooltipKey->setStringValue(*t.key);
    } else {
        labelTooltipKey->setHidden(true);
        labelTooltipKey->setStringValue("");
    }
    ctrlHelperTooltip->show();
    double titleWidth = std::ceil(labelTooltip->fittingSize().width);
    double keyWidth = t.key ? std::ceil(labelTooltipKey->fittingSize().width) : 0;
    double width = t.padding + titleWidth + keyWidth;
    labelTooltip->setFrame({14, 4, titleWidth, 18});
    labelTooltipKey->setFrame({14 + titleWidth + 6, 4, keyWidth, 18});
    kit::Rect f = ctrlHelperTooltip->frame();
    const double room = view->bounds().width();
    const double left = std::clamp(x - std::round(width / 2), 0.0, std::max(0.0, room - width));
    ctrlHelperTooltip->setFrame(
        {left, top.value_or(view->bounds().height()) - f.height() - 5, width, f.height()});
}

bool ViewController::anyHelperVisible() {
    for (auto* b : {&ctrlHelperZoom, &ctrlHelperColor, &ctrlHelperPixels, &ctrlHelperHelp})
        if (!(*b)->isHidden()) return true;
    return backdropView && !backdropView->isHidden();
}

bool ViewController::hideHelpers() {
    bool any = false;
    for (auto* b : {&ctrlHelperZoom, &ctrlHelperColor, &ctrlHelperPixels, &ctrlHelperHelp})
        if (!(*b)->isHidden()) {
            (*b)->hide();
            any = true;
        }
    if (backdropView && !backdropView->isHidden()) {
        backdropView->hide();
        kit::ColorPanel::shared().close();
        any = true;
    }
    return any;
}

kit::Size ViewController::compositionSize() const {
    if (auto r = backdrop().outerOrigin()) return {r->width, r->height};
    kit::Image img = core().imgSource();
    return {double(img.width()), double(img.height())};
}

void ViewController::updateSizeFields() {
    kit::Size c = compositionSize();
    int64_t w = int64_t(c.width), h = int64_t(c.height);
    txtWidth->setStringValue(std::to_string(w));
    txtHeight->setStringValue(std::to_string(h));
    selectSizeSegment(w);
}

void ViewController::selectSizeSegment(int64_t width) {
    scSizes->setSelectedSegment(resize::segmentForWidth(width, compositionSize().width));
}

void ViewController::selectSize() {
    int i = scSizes->selectedSegment();
    if (i < 0 || i > 5) return;
    kit::Size c = compositionSize();
    auto [w, h] = resize::presetSize(i, c.width, c.height);
    txtWidth->setStringValue(std::to_string(w));
    txtHeight->setStringValue(std::to_string(h));
}

void ViewController::controlTextDidChange(bool widthField) {
    kit::Size c = compositionSize();
    int64_t width;
    if (widthField) {
        width = services::Str::intFromDigits(txtWidth->stringValue());
        txtHeight->setStringValue(std::to_string(resize::heightForWidth(width, c.width, c.height)));
    } else {
        int64_t height = services::Str::intFromDigits(txtHeight->stringValue());
        width = resize::widthForHeight(height, c.width, c.height);
        txtWidth->setStringValue(std::to_string(width));
    }
    selectSizeSegment(width);
}

void ViewController::changeWidth() {
    txtWidth->setStringValue(std::to_string(services::Str::intFromDigits(txtWidth->stringValue())));
}

void ViewController::changeHeight() {
    txtHeight->setStringValue(std::to_string(services::Str::intFromDigits(txtHeight->stringValue())));
}

void ViewController::clickResize() {
    kit::Image compiled = core().compileImage();
    if (compiled.isNull()) {
        services::Notifier::shared().warning("Error", "No image to resize");
        return;
    }
    int64_t w = services::Str::intFromDigits(txtWidth->stringValue());
    int64_t h = services::Str::intFromDigits(txtHeight->stringValue());
    switch (resize::check(w, h)) {
        case resize::Check::tooSmall:
            services::Notifier::shared().warning("Can't resize the image", "New size is too small");
            return;
        case resize::Check::tooLarge:
            services::Notifier::shared().warning("Can't resize the image", "New size is too large");
            return;
        case resize::Check::ok:
            break;
    }
    if (w == compiled.width()) {
        ctrlHelperPixels->hide();
        return;
    }
    int oldWidth = compiled.width();
    kit::Image resized = compiled.scaled(int(w), int(h), kit::ScaleQuality::High);
    if (resized.isNull() || !core().loadImage(resized, true)) {
        services::Notifier::shared().warning("Something went wrong", "Not sure what though");
        return;
    }
    kit::Image now = core().imgSource();
    double scale = std::round(double(w) * 100 / oldWidth) / 100;
    services::Telemetry::shared().event("resizeImage",
                                        {{"scale", scale}, {"width", now.width()}, {"height", now.height()}});
    ctrlHelperPixels->hide();
}

void ViewController::runAtStartup() {
    shell().setLaunchAtLogin(true);
    btnStartup->setHidden(true);
    tmrStartup_ = kit::Timer::once(0.1, [this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.lock()) return;
        bool on = shell().launchAtLoginEnabled();
        if (!on) services::Telemetry::shared().oops("runAtStartup(_:)", "Launch At Login failed");
        btnStartup->setHidden(on);
    });
    bool enabled = shell().launchAtLoginEnabled();
    shell().setAutostartItemState(enabled);
    services::Telemetry::shared().event("setting-autostart",
                                        {{"method", "welcome:button"}, {"setting", enabled}});
}

void ViewController::setupHotkeys() {
    btnSetupHotkeys->setHidden(true);
    services::Telemetry::shared().preset("preferences", {{"method", "welcome:button"}});
    shell().showPreferences("hotkeys");
}

void ViewController::clickIntroNewVersion() {
    services::Telemetry::shared().event(
        "autoupdate:initiated",
        {{"latestVersion", services::Settings::shared().latestVersionCode()}, {"method", "intro"}});
    services::Updater::shared().autoupdate();
}

void ViewController::clickIntroNextTime() {
    services::Telemetry::shared().event(
        "skipNewVersion",
        {{"latestVersion", services::Settings::shared().latestVersionCode()}, {"method", "intro"}});
    core().hideMainWindow();
}

void ViewController::imgLoaded() {
    parts().canvasImageShown();
    introView->setHidden(true);
}

void ViewController::clickZoomOut() {
    services::Telemetry::shared().preset("zoom", {{"method", "helper:ZoomOut"}});
    parts().zoomOut();
}

void ViewController::clickZoomIn() {
    services::Telemetry::shared().preset("zoom", {{"method", "helper:ZoomIn"}});
    parts().zoomIn();
}

void ViewController::clickZoomPercentage() {
    services::Telemetry::shared().preset("zoom", {{"method", "helper:ZoomTo100"}});
    parts().zoomTo100();
}

void ViewController::changeColorFormat() {
    services::Telemetry::shared().preset("setting-colorFormat", {{"method", "helper"}});
    int index = std::max(0, ddlColorFormat->indexOfSelectedItem());
    const auto& formats = imaging::colorFormats();
    if (size_t(index) >= formats.size()) return;
    services::Settings::shared().setColorFormat(formats[size_t(index)].id);
    core().updateColorStrings();
    if (auto* mwc = MainWindowController::existing()) mwc->updateColorLabelWidth();
}

void ViewController::changeRealPixels() {
    services::Telemetry::shared().preset("setting-realPixels", {{"method", "helper"}});
    core().setRealPixels(swPixelsPoints->state() != kit::ControlState::On);
}

void ViewController::clickCloseHelp() {
    hideHelpers();
}

}  // namespace editor
