#include "editor/MainWindowController.h"

#include <cmath>
#include <utility>

#include "controls/Animator.h"
#include "controls/ClickableView.h"
#include "controls/ImageAssets.h"
#include "controls/ToolbarOverflow.h"
#include "editor/CanvasInput.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/MainWindowControllerParts.h"
#include "editor/TextMatch.h"
#include "imaging/ColorFormats.h"
#include "kit/base/Parse.h"
#include "kit/draw/Font.h"
#include "kit/draw/TextMeasure.h"
#include "kit/image/SvgImage.h"
#include "kit/ui/Application.h"
#include "kit/ui/ColorPanel.h"
#include "services/Alerts.h"
#include "services/NamedTimers.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "services/Updater.h"

namespace editor {

namespace {

constexpr double kToolbarHeight = 48;
constexpr double kLogoFromWidth = 920;
constexpr int kToolSlots = 11;

// The editor window: keys that no view took come to the controller.
class EditorWindow : public kit::Window {
public:
    using kit::Window::Window;
    void keyDown(const kit::Event& e) override {
        if (auto* c = MainWindowController::existing()) c->handleKeyDown(e);
    }
    void keyUp(const kit::Event& e) override {
        if (auto* c = MainWindowController::existing()) c->handleKeyUp(e);
    }
    void flagsChanged(const kit::Event& e) override {
        if (auto* c = MainWindowController::existing()) c->handleFlagsChanged(e);
    }
};

// A view that hands its layout to its owner.
class LayoutView : public kit::View {
public:
    using kit::View::View;
    std::function<void()> onLayout;
    void layout() override {
        if (onLayout) onLayout();
    }

protected:
    // A control shown later (the update button) takes its place at once.
    void subviewHiddenDidChange(kit::View&) override {
        if (onLayout) onLayout();
    }
};

std::shared_ptr<MainWindowController>& sharedSlot() {
    // Kept to the very end: its window must not be torn down after the
    // platform application is gone.
    static auto* c = new std::shared_ptr<MainWindowController>;
    return *c;
}

// The selection buttons: a label in roomy windows, an icon in narrow ones.
struct SelectionButtonItem {
    const char* label;
    const char* toolTip;
    const char* icon;
};
const std::vector<SelectionButtonItem>& selectionButtonItems() {
    static const std::vector<SelectionButtonItem> items = {
        {"Smart Adjust", "Fit the selection to the content", "16-sel-adjust"},
        {"Grow", "Grow the selection by 10 points", "16-sel-grow"},
        {"Text", "Recognize text in the selection", "16-sel-text"},
        {"Measure", "Measure the selection", "16-sel-measure"},
        {"Erase", "Erase the selected area", "16-sel-erase"},
        {"Reset", "Remove the selection", "16-sel-reset"},
    };
    return items;
}
constexpr double kCompactSegmentWidth = 30;
double labelledSegmentWidth(const std::string& label) {
    return double(label.size()) * 7 + 18;
}

// Writes the image to a temporary file and drags that file out of the program.
void initiateDragOut(kit::View& view, const kit::Event&) {
    auto* button = dynamic_cast<controls::CtrlDragOut*>(&view);
    kit::Image image = button && button->holdImage ? *button->holdImage : core().compileImage();
    if (image.isNull()) {
        services::Telemetry::shared().oops("initiate(view:event:)", "No image to save");
        return;
    }
    std::string name = button && button->holdName ? *button->holdName : core().fileName();
    std::optional<std::string> path = core().saveTempImage(image, name, false);
    if (!path) return;
    // The picture's lower-left corner starts at the pointer.
    kit::Image picture = controls::ImageAssets::named("44-ico-draggable-file");
    view.beginDraggingFile(*path, picture, kit::Point{0, picture.pointSize().height});
    services::Telemetry::shared().event(
        "dragout", core().shotStats({{"timer", services::timerElapsedText("Save Temp File")}}));
    // The drag has run its own loop to the drop; the editor steps aside now.
    core().hideMainWindow();
}

// The canvas's Control-drag takes the same road.
class DragOutToFile : public DragOut {
public:
    void initiate(kit::View& view, const kit::Event& event) override { initiateDragOut(view, event); }
};

}  // namespace

DragOut* dragOutToFile() {
    static DragOutToFile dragOut;
    return &dragOut;
}

// ---- Pure parts -------------------------------------------------------------------

const std::vector<std::pair<std::string, std::string>>& toolbarItems() {
    static const std::vector<std::pair<std::string, std::string>> items = {
        {"Crop/Select (V)", "20-crop-lite"},
        {"Arrow (A)", "20-arrow-sf"},
        {"Text (T)", "20-text-sf"},
        {"Ruler (1 or 2)", "20-measure-lite-sf"},
        {"Rectangle (R)", "20-rectangle-sf"},
        {"Backdrop (K)", "20-backdrop"},
        {"Freehand Drawing (D)", "20-pen"},
        {"Add Capture (\u2318A)", "20-appendcapture"},
        {"Blur/Erase (B)", "20-blur-lite-sf"},
        {"Highlighter (H)", "20-highlighter"},
        {"Spotlight (S)", "20-spotlight"},
        {"Counter (C)", "20-counter-lite-sf"},
        {"Oval (O)", "20-oval-sf"},
        {"Line (L)", "20-line-sf"},
        {"Paste Image (\u2318V)", "20-image"},
    };
    return items;
}

KeyEvt keyEvtFor(const kit::Event& e) {
    KeyEvt k;
    k.code = e.keyCode;
    k.modifiers = {e.has(kit::ModifierFlag::Shift), e.has(kit::ModifierFlag::Command),
                   e.has(kit::ModifierFlag::Option), e.has(kit::ModifierFlag::Control)};
    k.chars = e.characters;
    return k;
}

std::optional<std::pair<bool, KeyEvt>> modifierKeyEvt(const kit::Event& e) {
    KeyEvt k = keyEvtFor(e);
    k.chars = std::string();
    if (e.keyCode == kit::KeyCode::Shift || e.keyCode == kit::KeyCode::RightShift) {
        k.code = kit::KeyCode::Shift;
        return std::pair{k.modifiers.shift, k};
    }
    if (e.keyCode == kit::KeyCode::RightCommand || e.keyCode == kit::KeyCode::Command) {
        k.code = kit::KeyCode::RightCommand;
        return std::pair{k.modifiers.command, k};
    }
    return std::nullopt;
}

bool monitorTakesKey(uint16_t keyCode, bool appActive, bool appHidden, bool editorIsKey, bool modalRunning) {
    bool escOrTab = keyCode == kit::KeyCode::Escape || keyCode == kit::KeyCode::Tab;
    return appActive && !appHidden && editorIsKey && escOrTab && !modalRunning;
}

double colorLabelWidth(const std::string& colorFormat) {
    const auto& formats = imaging::colorFormats();
    const imaging::ColorFormat* row = &formats.front();
    for (const auto& f : formats)
        if (f.id == colorFormat) {
            row = &f;
            break;
        }
    // A leading "+" is allowed; the strict parser takes only "-".
    std::string text = row->readoutWidth;
    if (!text.empty() && text[0] == '+') text.erase(0, 1);
    return double(kit::parseInt64(text).value_or(102));
}

std::string statusSizeText(double width, double height, double dpr, bool realPixels) {
    double s = realPixels ? 1.0 : dpr;
    auto side = [s](double v) { return std::to_string(int64_t(std::ceil(std::abs(v) / s))); };
    return side(width) + "\u00D7" + side(height) + "\u200A" + (realPixels ? "px" : "pt");
}

std::string statusZoomText(int zoomPercent) {
    return std::to_string(zoomPercent) + "%";
}

// ---- Making ------------------------------------------------------------------------

MainWindowController& MainWindowController::shared() {
    auto& slot = sharedSlot();
    if (!slot) {
        slot = std::make_shared<MainWindowController>();
        slot->buildWindow();
        slot->windowDidLoad();
    }
    return *slot;
}

MainWindowController* MainWindowController::existing() {
    return sharedSlot().get();
}

MainWindowController::MainWindowController() = default;

MainWindowController::~MainWindowController() {
    *alive_ = false;
    if (keyMonitor_) kit::LocalEventMonitor::remove(*keyMonitor_);
    if (window) window->setDelegate({});
}

void MainWindowController::buildWindow() {
    kit::Rect screen = kit::Displays::primary().visibleFrame;
    kit::Size size{std::min(1100.0, screen.width() - 40), std::min(700.0, screen.height() - 40)};
    window = std::make_unique<EditorWindow>(
        kit::Rect{screen.midX() - size.width / 2, screen.midY() - size.height / 2, size.width, size.height},
        kit::WindowStyle::Titled | kit::WindowStyle::Closable | kit::WindowStyle::Miniaturizable |
            kit::WindowStyle::Resizable);
    window->setTitle("Kadrix");
    window->setMinSize({480, 300});
    // The dark look's own background, before the canvas joins the window and
    // keeps it for that look; the light look turns white at set-up.
    window->setBackgroundColor(kit::Color{0.15, 0.15, 0.16, 1});
    auto root = std::make_shared<LayoutView>(kit::Rect{{0, 0}, size});
    root->onLayout = [this] { layoutContent(); };
    window->setContentView(root);
    if (!partsInstalled()) installEditorParts(*this);
    viewController = std::make_unique<ViewController>();
    root->addSubview(viewController->view);
    buildTopBar();
    root->addSubview(toolbarMain);
    layoutContent();
    window->setDelegate(weak_from_this());
}

void MainWindowController::buildTopBar() {
    auto bar = std::make_shared<LayoutView>(kit::Rect{0, 0, 1000, kToolbarHeight});
    bar->onLayout = [this] { layoutTopBar(); };
    toolbarMain = bar;
    auto weakThis = std::weak_ptr<bool>(alive_);
    auto act = [this, weakThis](void (MainWindowController::*fn)()) {
        return [this, weakThis, fn] {
            if (weakThis.lock()) (this->*fn)();
        };
    };

    toolbarInstruments = std::make_shared<controls::CtrlToolbar>(kit::Rect{10, 9, 400, 30});
    bar->addSubview(toolbarInstruments);

    btnCrop =
        kit::Button::make("Crop", [f = act(&MainWindowController::clickBtnCrop)](kit::Control&) { f(); });
    btnCrop->setFrame({10, 11, 64, 26});
    btnCrop->setToolTip("Crop to the selection");
    btnCrop->setHidden(true);
    bar->addSubview(btnCrop);

    auto segments = [](const std::vector<std::pair<std::string, std::string>>& items) {
        auto sc = std::make_shared<controls::CtrlTooltippedSegments>();
        sc->trackingMode = controls::CtrlTooltippedSegments::Tracking::momentary;
        sc->setSegmentCount(int(items.size()));
        double width = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            sc->setLabel(items[i].first, int(i));
            sc->setToolTip(items[i].second, int(i));
            double w = labelledSegmentWidth(items[i].first);
            sc->setWidth(w, int(i));
            width += w;
        }
        sc->setFrame({0, 11, width, 26});
        return sc;
    };
    std::vector<std::pair<std::string, std::string>> selectionItems;
    for (const auto& item : selectionButtonItems()) selectionItems.emplace_back(item.label, item.toolTip);
    scSelectionButtons = segments(selectionItems);
    scSelectionButtons->action =
        [f = act(&MainWindowController::scSelectionClick)](controls::CtrlTooltippedSegments&) { f(); };
    bar->addSubview(scSelectionButtons);

    scExportButtons =
        segments({{"Copy", "Copy the image"}, {"Save", "Save the image"}, {"Pin", "Pin to the screen"}});
    scExportButtons->action =
        [f = act(&MainWindowController::scExportClick)](controls::CtrlTooltippedSegments&) { f(); };
    bar->addSubview(scExportButtons);

    btnDragOut = std::make_shared<controls::CtrlDragOut>(kit::Rect{0, 8, 32, 32});
    btnDragOut->setImage(controls::ImageAssets::named("16-menu-file"));
    btnDragOut->setToolTip("Drag the image into another app");
    bar->addSubview(btnDragOut);

    btnUpdate =
        kit::Button::make("Update", [f = act(&MainWindowController::clickBtnUpdate)](kit::Control&) { f(); });
    btnUpdate->setFrame({0, 11, 72, 26});
    bar->addSubview(btnUpdate);

    // The read-out: zoom, size with its caption, the colour under the pointer.
    viewInfoGroup = kit::View::make({0, 0, 260, kToolbarHeight});
    auto zoomBox = std::make_shared<controls::ClickableView>(kit::Rect{0, 10, 52, 28});
    zoomBox->action = [f = act(&MainWindowController::zoomBoxClicked)](controls::ClickableView&) { f(); };
    labelZoom = kit::Label::make("100%");
    labelZoom->setFrame({4, 5, 44, 18});
    labelZoom->setAlignment(kit::TextAlignment::Center);
    labelZoom->setIgnoresMouse(true);
    zoomBox->addSubview(labelZoom);
    zoomBox->setToolTip("Zoom");
    viewInfoGroup->addSubview(zoomBox);

    auto sizeBox = std::make_shared<controls::ClickableView>(kit::Rect{56, 6, 104, 36});
    sizeBox->action = [f = act(&MainWindowController::sizeBoxClicked)](controls::ClickableView&) { f(); };
    labelSizeDescription = kit::Label::make("Image size");
    labelSizeDescription->setFrame({4, 19, 96, 14});
    labelSizeDescription->setFont(kit::Font::system(9.5));
    labelSizeDescription->setTextColor(kit::Color::white(0.5));
    labelSizeDescription->setIgnoresMouse(true);
    labelSize = kit::Label::make("");
    labelSize->setFrame({4, 3, 96, 17});
    labelSize->setIgnoresMouse(true);
    sizeBox->addSubview(labelSizeDescription);
    sizeBox->addSubview(labelSize);
    sizeBox->setToolTip("Resize the image");
    viewInfoGroup->addSubview(sizeBox);

    auto colorBox = std::make_shared<controls::ClickableView>(kit::Rect{164, 10, 126, 28});
    colorBox->action = [f = act(&MainWindowController::colorBoxClicked)](controls::ClickableView&) { f(); };
    boxColor = std::make_shared<kit::Box>(kit::Rect{6, 7, 14, 14});
    boxColor->setCornerRadius(3);
    boxColor->setBorderWidth(1);
    boxColor->setIgnoresMouse(true);
    labelColor = kit::Label::make("");
    labelColor->setFrame({24, 5, 98, 18});
    labelColor->setIgnoresMouse(true);
    colorBox->addSubview(boxColor);
    colorBox->addSubview(labelColor);
    colorBox->setToolTip("Colour format");
    viewInfoGroup->addSubview(colorBox);
    bar->addSubview(viewInfoGroup);

    imgToolbarLogo = std::make_shared<controls::CtrlLogoSnake>(kit::Rect{0, 8, 73, 33});
    imgToolbarLogo->setImage(controls::ImageAssets::named("logo-toolbar"));
    bar->addSubview(imgToolbarLogo);
}

// ---- Layout -------------------------------------------------------------------------

void MainWindowController::setMainToolbarVisible(bool visible) {
    toolbarMain->setHidden(!visible);
    // The bar shows with the first screenshot, which also ends the welcome.
    if (visible) viewController->imgLoaded();
    layoutContent();
}

void MainWindowController::layoutContent() {
    if (!window || !toolbarMain || !viewController) return;
    kit::Rect b = window->contentView()->bounds();
    double bar = toolbarMain->isHidden() ? 0 : kToolbarHeight;
    toolbarMain->setFrame({0, b.height() - kToolbarHeight, b.width(), kToolbarHeight});
    viewController->view->setFrame({0, 0, b.width(), b.height() - bar});
}

void MainWindowController::layoutTopBar() {
    double W = toolbarMain->bounds().width();
    double left = 10;
    // With a selection the crop and selection buttons stand where the tools were,
    // and they must not run under the read-out: in a narrow window the logo gives
    // its room first, then the colour read-out, then the rest of the read-out.
    const auto& selectionItems = selectionButtonItems();
    double labelledWidth = 0;
    for (const auto& item : selectionItems) labelledWidth += labelledSegmentWidth(item.label);
    bool compact = false;
    auto leftEnd = [&] {
        if (!selectionBarShown_) return left;
        double buttons = compact ? kCompactSegmentWidth * double(selectionItems.size()) : labelledWidth;
        return left + btnCrop->frame().width() + 8 + buttons + 8;
    };
    kit::View& colorBox = *labelColor->superview();
    double infoWidth = 164 + 24 + constraintColorWidth + 4, shortInfoWidth = 160;
    auto room = [](const kit::View& v, double gap) { return v.isHidden() ? 0 : v.frame().width() + gap; };
    double fixed = 10 + room(*btnDragOut, 6) + room(*scExportButtons, 14) + room(*btnUpdate, 8);
    bool logo = W >= kLogoFromWidth, color = true, info = true;
    auto fits = [&] {
        double used = fixed + (logo ? imgToolbarLogo->frame().width() + 10 : 0) +
                      (info ? (color ? infoWidth : shortInfoWidth) + 8 : 0);
        return W - used >= leftEnd();
    };
    if (!fits()) logo = false;
    if (!fits()) color = false;
    if (!fits()) info = false;
    // Still no room: the selection buttons keep only their icons (their
    // tooltips still name them).
    if (!fits()) compact = true;
    setSelectionButtonsCompact(compact);
    // Showing or hiding a view asks the bar to lay out again: change only what differs.
    if (colorBox.isHidden() == color) colorBox.setHidden(!color);
    if (viewInfoGroup->isHidden() == info) viewInfoGroup->setHidden(!info);
    bool logoWasIn = std::exchange(logoRoom_, logo);
    if (logoWasIn && !logo) imgToolbarLogo->setHidden(true);
    if (!logoWasIn && logo) controls::Animator::show(*imgToolbarLogo, 0, false);
    viewInfoGroup->setFrameSize({color ? infoWidth : shortInfoWidth, kToolbarHeight});

    double x = W - 10;
    auto placeRight = [&](kit::View& v, double gap) {
        if (v.isHidden() && &v != imgToolbarLogo.get()) return;
        x -= v.frame().width();
        v.setFrameOrigin({x, v.frame().y()});
        x -= gap;
    };
    // The logo shows only in wide windows; narrower ones give its room to the tools.
    if (logo) placeRight(*imgToolbarLogo, 10);
    placeRight(*btnDragOut, 6);
    placeRight(*scExportButtons, 14);
    placeRight(*viewInfoGroup, 8);
    placeRight(*btnUpdate, 8);
    toolbarInstruments->setFrame({left, 9, std::max(0.0, x - left), 30});
    btnCrop->setFrameOrigin({left, btnCrop->frame().y()});
    scSelectionButtons->setFrameOrigin(
        {left + btnCrop->frame().width() + 8, scSelectionButtons->frame().y()});
}

void MainWindowController::setSelectionButtonsCompact(bool compact) {
    if (selectionButtonsCompact_ == compact) return;
    selectionButtonsCompact_ = compact;
    const auto& items = selectionButtonItems();
    double width = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        int segment = int(i);
        double w = compact ? kCompactSegmentWidth : labelledSegmentWidth(items[i].label);
        scSelectionButtons->setImage(compact ? controls::ImageAssets::named(items[i].icon) : kit::Image(),
                                     segment);
        scSelectionButtons->setWidth(w, segment);
        width += w;
    }
    scSelectionButtons->setFrameSize({width, scSelectionButtons->frame().height()});
}

// ---- Set-up ---------------------------------------------------------------------------

void MainWindowController::windowDidLoad() {
    setMainToolbarVisible(false);
    boxColor->setBorderColor(kit::Color::white(0, 0.14));
    window->setLevel(services::Settings::shared().alwaysOnTop() ? kit::WindowLevel::Floating
                                                                : kit::WindowLevel::Normal);
    btnUpdate->setHidden(!services::Updater::shared().hasNewVersion());
    updateColorLabelWidth();
    if (!kit::applicationIsDark()) window->setBackgroundColor(kit::Color::white(1.0));
    connectTooltips();
    scSelectionButtons->setHidden(true);
    toolbarInstruments->layoutItems(toolbarItems());
    toolbarInstruments->maxCapacity = services::Settings::shared().growingToolbar() ? 999 : kToolSlots;
    toolbarInstruments->overflowPass();
    // Escape and Tab never reach the window through the focus chain (Tab moves
    // the focus), so a monitor takes them for the editor for the whole run.
    keyMonitor_ = kit::LocalEventMonitor::add(kit::LocalEventMonitor::Mask::KeyDown, [](const kit::Event& e) {
        auto* c = existing();
        if (!c || !c->window) return true;
        auto& app = kit::Application::shared();
        // Keys of a popover or panel of ours stay theirs (Escape closes them).
        bool editorKey = c->window->isKeyWindow() && e.window == c->window.get();
        if (!monitorTakesKey(e.keyCode, app.isActive(), app.isHidden(), editorKey, app.isModalRunning()))
            return true;
        c->handleKeyDown(e);
        return false;
    });
    controls::CtrlDragOut::initiate = initiateDragOut;
    startupVisibility();
    toolbarInstruments->callback = [this, alive = std::weak_ptr<bool>(alive_)](controls::ButtonBase*,
                                                                               const std::string& t) {
        if (alive.lock()) toolbarClick(t);
    };
}

void MainWindowController::startupVisibility() {
    services::Settings& s = services::Settings::shared();
    bool newVersion = services::Updater::shared().hasNewVersion();
    if (s.everVisitedHotkeys() && !newVersion && s.showIntro() != 1) {
        // Start hidden: the window is never mapped; the core hides again once
        // launching has settled.
        tmrStartHidden_ = kit::Timer::once(0.02, [] { core().hideMainWindow(); });
        core().hideMainWindow();
        return;
    }
    if (shell().launchAtLoginEnabled() && s.everVisitedHotkeys() && !newVersion) {
        tmrHide = kit::Timer::once(0.75, [] {
            if (shell().preferencesVisible() || shell().forbidAutohide()) return;
            core().hideMainWindow();
        });
    }
    present();
}

void MainWindowController::present() {
    window->makeKeyAndOrderFront();
    windowResized();
}

void MainWindowController::connectTooltips() {
    auto show = [this, alive = std::weak_ptr<bool>(alive_)](const std::string& text, int x) {
        if (alive.lock()) viewController->showTooltip(text, x);
    };
    auto hide = [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock()) viewController->ctrlHelperTooltip->hide();
    };
    scExportButtons->tooltipCallback = show;
    scExportButtons->tooltipCallbackHide = hide;
    scSelectionButtons->tooltipCallback = show;
    scSelectionButtons->tooltipCallbackHide = hide;
    btnDragOut->tooltipCallback = show;
    btnDragOut->tooltipCallbackHide = hide;
    toolbarInstruments->tooltipCallback = show;
    toolbarInstruments->tooltipCallbackHide = hide;
    // The tool-settings bar floats under the tool bar: its tips go under the bar.
    auto showUnderBar = [this, alive = std::weak_ptr<bool>(alive_)](const std::string& text, int x) {
        if (alive.lock())
            viewController->showTooltip(text, x, viewController->toolSettings.svEditor->frame().minY());
    };
    for (auto* group : viewController->toolSettings.segmentGroups()) {
        group->tooltipCallback = showUnderBar;
        group->tooltipCallbackHide = hide;
    }
}

// ---- Window delegate ----------------------------------------------------------------------

bool MainWindowController::windowShouldClose(kit::Window&) {
    // On the way out every window closes; that is no user hiding the editor.
    if (kit::Application::shared().isTerminating()) return true;
    services::Telemetry::shared().preset("hide", {{"method", "close"}});
    core().hideMainWindow();
    return false;
}

void MainWindowController::windowDidResize(kit::Window&) {
    windowResized();
}

void MainWindowController::windowDidExitFullScreen(kit::Window&) {
    if (!core().hideWhenExitFS()) return;
    core().setHideWhenExitFS(false);
    core().hideMainWindow();
}

void MainWindowController::windowDidResignKey(kit::Window&) {
    parts().windowResignedKey();
}

void MainWindowController::windowDidBecomeKey(kit::Window&) {
    viewController->viewDidAppear();
}

void MainWindowController::windowResized() {
    if (!window) return;
    layoutContent();
    Framer& f = Framer::shared();
    // The canvas is the view controller's canvas view, below our bar: its
    // size, not the window's, is the viewport.
    kit::Size canvas = viewController->shotView->frame().size;
    kit::Point c{f.area.x1 + f.area.width / 2, f.area.y1 + f.area.height / 2};
    kit::Point p = f.viewToImage(c);
    double dpr = f.dpr();
    f.area = services::Rect{0, 0, canvas.width * dpr, canvas.height * dpr};
    f.setOffset(p, {f.area.width / 2, f.area.height / 2});
    f.constrainPan(false);
    parts().layoutChecker();
    parts().setRelayoutRequest(1);
    parts().relayoutCanvas(false);
    parts().setRelayoutRequest(0);
    layoutTopBar();
    if (logoRoom_)
        controls::Animator::show(*imgToolbarLogo, 0, false);
    else
        imgToolbarLogo->setHidden(true);
}

// ---- Keys -------------------------------------------------------------------------------

void MainWindowController::handleKeyDown(const kit::Event& e) {
    if (imgToolbarLogo && imgToolbarLogo->isOn) {
        imgToolbarLogo->turn(e.keyCode);
        return;
    }
    KeyEvt k = keyEvtFor(e);
    parts().keyDown(k, &e);
    // Ctrl+Z is the window's undo command; the key table only tidies up for
    // it (and redoes with Shift itself).
    bool z = e.keyCode == kit::KeyCode::Z || e.charactersIgnoringModifiers == "z" ||
             e.charactersIgnoringModifiers == "Z";
    if (z && k.modifiers.command && !k.modifiers.shift && !k.modifiers.option && !parts().isEditing())
        parts().undo();
}

void MainWindowController::handleKeyUp(const kit::Event& e) {
    parts().keyUp(keyEvtFor(e), &e);
}

void MainWindowController::handleFlagsChanged(const kit::Event& e) {
    auto change = modifierKeyEvt(e);
    if (!change) return;
    if (change->first)
        parts().keyDown(change->second, &e);
    else
        parts().keyUp(change->second, &e);
}

// ---- Tool bar -------------------------------------------------------------------------

void MainWindowController::toolbarClick(const std::string& title) {
    std::string id = controls::asciiLowered(title);
    std::string prev = parts().createOnClick();
    parts().setCreateOnClick("");
    parts().deactivate();
    parts().flushRelayoutRequest();
    // A crop selection takes the clicks: the armed tool is only disarmed.
    if (parts().cropOn()) return;
    std::string cls;
    services::Telemetry& t = services::Telemetry::shared();
    if (contains(id, "crop")) {
        t.event("DefaultTool", {{"method", "toolbar"}});
        toolbarInstruments->select("Crop");
    } else if (contains(id, "arrow")) {
        cls = "ObjArrow";
    } else if (contains(id, "text")) {
        cls = "ObjText";
    } else if (contains(id, "ruler")) {
        toolbarInstruments->select("crop");
        viewController->ctrlHelperHelp->show();
        t.event("helperHelp", {{"method", "toolbar"}});
    } else if (contains(id, "rectangle")) {
        cls = "ObjRectangle";
    } else if (contains(id, "freehand")) {
        cls = "ObjFreehand";
    } else if (contains(id, "highlighter")) {
        cls = "ObjHighlighter";
    } else if (contains(id, "counter")) {
        cls = "ObjCounter";
    } else if (contains(id, "blur")) {
        cls = "ObjConceal";
    } else if (contains(id, "oval")) {
        cls = "ObjOval";
    } else if (contains(id, "spotlight")) {
        cls = "ObjSpotlight";
    } else if (contains(id, "line")) {
        cls = "ObjLine";
    } else if (contains(id, "image")) {
        if (!parts().addImageFromClipboard()) {
            services::alertOnMain(
                "Copy image first",
                "Image overlay takes the image from the clipboard. Your clipboard doesn't seem to contain "
                "an image at this moment.");
            viewController->ctrlHelperTooltip->hide();
        }
        toolbarInstruments->select("crop");
    } else if (contains(id, "capture")) {
        core().addCaptureToScreenshot("toolbar");
        toolbarInstruments->select("crop");
    } else if (contains(id, "backdrop")) {
        core().checkBackdropAllowed("toolbar");
    }
    if (cls.empty()) return;
    if (cls == prev) {
        toolbarInstruments->select("crop");
        return;
    }
    core().selectTool(cls, "toolbar");
}

// ---- Buttons -----------------------------------------------------------------------------

void MainWindowController::scExportClick() {
    services::Telemetry& t = services::Telemetry::shared();
    switch (scExportButtons->selectedSegment()) {
        case 0:
            t.preset("hide", {{"method", "toolbar:copyImage"}});
            t.preset("copyImage", {{"method", "toolbar"}});
            core().copyImage(false, false);
            break;
        case 1:
            t.preset("hide", {{"method", "toolbar:saveImage"}});
            t.preset("saveImage", {{"method", "toolbar"}});
            core().saveImage("toolbar", false);
            break;
        case 2:
            t.preset("hide", {{"method", "toolbar:pin"}});
            t.preset("pin", {{"method", "toolbar"}});
            core().pinImage(std::nullopt, std::nullopt);
            break;
        default:
            break;
    }
}

void MainWindowController::clickBtnCrop() {
    services::Telemetry::shared().preset("crop", {{"method", "toolbar"}});
    core().cropToSelection(false);
}

void MainWindowController::clickBtnUpdate() {
    services::Updater::shared().suggestAutoupdate("toolbar");
}

void MainWindowController::scSelectionClick() {
    services::Telemetry& t = services::Telemetry::shared();
    switch (scSelectionButtons->selectedSegment()) {
        case 0:
            t.preset("adjust", {{"method", "toolbar"}});
            parts().actionAdjust();
            break;
        case 1: {
            parts().growSelection();
            services::Rect s = parts().cropSelection();
            t.event("cutterMoveResize",
                    {{"method", "toolbar"}, {"width", int64_t(s.width)}, {"height", int64_t(s.height)}});
            break;
        }
        case 2:
            t.preset("ocr", {{"method", "toolbar"}});
            t.preset("hide", {{"method", "toolbar:ocr"}});
            core().ocrSelection("toolbar");
            break;
        case 3:
            core().selectRulerTool();
            parts().relayoutCanvas(false);
            break;
        case 4:
            core().selectConcealTool();
            t.event("erase", {{"object", "ObjConceal"}, {"method", "toolbar:erase"}});
            parts().relayoutCanvas(false);
            break;
        case 5:
            t.event("resetCutter", {{"method", "toolbar"}});
            parts().resetCropTool();
            core().selectionModeChanged("default");
            parts().relayoutCanvas(false);
            break;
        default:
            break;
    }
}

// ---- Modes and status -----------------------------------------------------------------------

void MainWindowController::applySelectionMode(const std::string& mode) {
    controls::CtrlHelper& bar = *viewController->toolSettings.svEditor;
    selectionBarShown_ = mode == "selection";
    layoutTopBar();
    if (mode == "selection") {
        controls::Animator::hide(*toolbarInstruments, 0);
        bar.hide();
        kit::ColorPanel::shared().close();
        controls::Animator::delay(*btnCrop, 0.1);
        controls::Animator::show(*scSelectionButtons, 0.1, false);
    } else if (contains(mode, "Obj")) {
        viewController->updateToolSettings(mode);
        bar.show();
        scSelectionButtons->setHidden(true);
        btnCrop->setHidden(true);
        controls::Animator::delay(*toolbarInstruments, 0);
    } else {
        controls::Animator::hide(*scSelectionButtons, 0);
        controls::Animator::hide(*btnCrop, 0);
        bar.hide();
        kit::ColorPanel::shared().close();
        controls::Animator::delay(*toolbarInstruments, 0.1);
    }
    viewController->ctrlHelperTooltip->hide();
}

void MainWindowController::showStatus(int zoom, const std::string& size, const std::string& sizeDescription,
                                      const std::string& colorText, kit::Color color) {
    std::string z = statusZoomText(zoom);
    labelZoom->setStringValue(z);
    viewController->labelZoom->setStringValue(z);
    // A large picture's size ("16000×16000 pt") takes a smaller type rather
    // than lose its end to the box.
    double points = kit::Font{}.size;
    while (points > 8 && kit::measureText(size, kit::Font::system(points)).width > labelSize->frame().width())
        points -= 0.5;
    labelSize->setFont(kit::Font::system(points));
    labelSize->setStringValue(size);
    labelSizeDescription->setStringValue(sizeDescription);
    labelColor->setStringValue(colorText);
    boxColor->setFillColor(color);
}

void MainWindowController::updateColorLabelWidth() {
    constraintColorWidth = colorLabelWidth(services::Settings::shared().colorFormat());
    labelColor->setFrameSize({constraintColorWidth, labelColor->frame().height()});
    if (auto* box = labelColor->superview())
        box->setFrameSize({24 + constraintColorWidth + 4, box->frame().height()});
    layoutTopBar();
}

void MainWindowController::hintBubbleOpening() {
    auto& panel = viewController->backdropView;
    if (panel && !panel->isHidden()) {
        panel->hide();
        kit::ColorPanel::shared().close();
    }
}

void MainWindowController::colorBoxClicked() {
    hintBubbleOpening();
    viewController->ctrlHelperColor->show();
    std::string format = services::Settings::shared().colorFormat();
    const auto& formats = imaging::colorFormats();
    int index = 0;
    for (size_t i = 0; i < formats.size(); ++i)
        if (formats[i].id == format) {
            index = int(i);
            break;
        }
    viewController->ddlColorFormat->selectItem(index);
    services::Telemetry::shared().event("helperColor", {{"method", "toolbar"}});
}

void MainWindowController::sizeBoxClicked() {
    hintBubbleOpening();
    viewController->ctrlHelperPixels->show();
    services::Telemetry::shared().event("helperPixels", {{"method", "toolbar"}});
    viewController->swPixelsPoints->setState(
        services::Settings::shared().realPixels() ? kit::ControlState::Off : kit::ControlState::On);
    viewController->updateSizeFields();
}

void MainWindowController::zoomBoxClicked() {
    hintBubbleOpening();
    viewController->ctrlHelperZoom->show();
    services::Telemetry::shared().event("helperZoom", {{"method", "toolbar"}});
}

}  // namespace editor
