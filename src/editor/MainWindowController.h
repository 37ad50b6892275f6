#pragma once
// The editor window and its controller. The window shows our own bar across
// the top (the fifteen tools, the crop and selection buttons, the status
// read-out, the export buttons, the drag-out handle and the logo) above the
// view controller's content (the canvas with its bubbles). The controller
// arms tools from the bar, forwards keys to the input dispatcher (or to the
// logo game while it runs), runs the export and selection buttons, switches
// the bars between the selection and drawing modes, shows the status, keeps
// the canvas centred on resize and hides the window instead of closing it.
//
// The core makes the one editor window with MainWindowController::shared()
// at start-up and reaches it through that. Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "controls/CtrlDragOutView.h"
#include "controls/CtrlLogoSnake.h"
#include "controls/CtrlToolbar.h"
#include "controls/CtrlTooltippedSegments.h"
#include "editor/KeyEvt.h"
#include "editor/ViewController.h"
#include "kit/base/Timer.h"
#include "kit/ui/Box.h"
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/LocalEventMonitor.h"
#include "kit/ui/Window.h"

namespace editor {

// The tool bar's fifteen items: (title, icon name). The title is the item's id.
const std::vector<std::pair<std::string, std::string>>& toolbarItems();

// The KeyEvt of a key-down or key-up of the window.
KeyEvt keyEvtFor(const kit::Event& event);
// What a modifier change reports: a key-down (true) or key-up of code 56
// (either Shift) or 54 (either Command) with the empty text; nothing for the
// other modifier keys.
std::optional<std::pair<bool, KeyEvt>> modifierKeyEvt(const kit::Event& event);
// Whether the lifetime key monitor takes a key-down for the editor.
bool monitorTakesKey(uint16_t keyCode, bool appActive, bool appHidden, bool editorIsKey, bool modalRunning);
// The colour read-out's width in points for a colour format id.
double colorLabelWidth(const std::string& colorFormat);
// The size read-out: ceil(w / s) × ceil(h / s), a hair space and the unit
// ("px" with real pixels, else "pt" with s the device-pixel ratio).
std::string statusSizeText(double width, double height, double dpr, bool realPixels);
std::string statusZoomText(int zoomPercent);

class DragOut;
class MainWindowController;
// The drag-out the canvas's Control-drag and the drag buttons share.
DragOut* dragOutToFile();
// Installs the live editor pieces and the editor hooks (once; pieces a test
// installed stay).
void installEditorParts(MainWindowController& controller);

class MainWindowController : public kit::WindowDelegate,
                             public std::enable_shared_from_this<MainWindowController> {
public:
    // The editor window's controller, made (with its window) on first use.
    static MainWindowController& shared();
    // The controller when it exists, else null.
    static MainWindowController* existing();

    MainWindowController();
    ~MainWindowController() override;

    std::unique_ptr<kit::Window> window;
    std::unique_ptr<ViewController> viewController;

    kit::Timer tmrHide;
    std::shared_ptr<controls::CtrlToolbar> toolbarInstruments;
    std::shared_ptr<kit::Button> btnUpdate;
    std::shared_ptr<kit::Label> labelZoom, labelSize, labelColor, labelSizeDescription;
    std::shared_ptr<kit::View> toolbarMain;  // our bar across the top
    std::shared_ptr<kit::Box> boxColor;
    std::shared_ptr<kit::View> viewInfoGroup;
    std::shared_ptr<controls::CtrlTooltippedSegments> scExportButtons, scSelectionButtons;
    std::shared_ptr<kit::Button> btnCrop;
    std::shared_ptr<controls::CtrlDragOut> btnDragOut;
    std::shared_ptr<controls::CtrlLogoSnake> imgToolbarLogo;
    double constraintColorWidth = 102;

    // The window set-up, run once after the window is built.
    void windowDidLoad();
    void connectTooltips();
    void windowResized();
    void handleKeyDown(const kit::Event& event);
    void handleKeyUp(const kit::Event& event);
    void handleFlagsChanged(const kit::Event& event);
    void updateColorLabelWidth();
    void scExportClick();
    void scSelectionClick();
    void clickBtnCrop();
    void clickBtnUpdate();
    void applySelectionMode(const std::string& mode);
    void showStatus(int zoom, const std::string& size, const std::string& sizeDescription,
                    const std::string& colorText, kit::Color color);
    void colorBoxClicked();
    void sizeBoxClicked();
    void zoomBoxClicked();
    // A tool bar click or a "More tools" choice, by the item's title.
    void toolbarClick(const std::string& title);

    // The bar across the top shows (the core shows it when an image is
    // loaded, which also puts the welcome panel away for good).
    void setMainToolbarVisible(bool visible);
    // Shows the window and gives it the keyboard.
    void present();

    // kit::WindowDelegate
    bool windowShouldClose(kit::Window&) override;
    void windowDidResize(kit::Window&) override;
    void windowDidExitFullScreen(kit::Window&) override;
    void windowDidResignKey(kit::Window&) override;
    // The editor shows: the view controller's appearance step.
    void windowDidBecomeKey(kit::Window&) override;

private:
    void buildWindow();
    void buildTopBar();
    void layoutContent();
    void layoutTopBar();
    void startupVisibility();
    // The selection buttons with icons only (narrow windows) or with labels.
    void setSelectionButtonsCompact(bool compact);
    void hintBubbleOpening();
    std::optional<kit::LocalEventMonitor::Token> keyMonitor_;
    kit::Timer tmrStartHidden_;
    // Set by the layout: whether the logo has room in the bar.
    bool logoRoom_ = false;
    bool selectionBarShown_ = false;
    bool selectionButtonsCompact_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace editor
