#pragma once
// The content of the editor window: the canvas view, the welcome panel shown
// before the first screenshot, the hint bubbles that float over the canvas
// (zoom, colour format, image size, help, the tool bar's tooltip and the
// embedded backdrop panel), the tool-settings bar and the resize fields. It
// turns clicks on them into commands of the core, pan and zoom and the
// settings, and fits the editor window to its minimum size on request.
//
// Lives as long as the editor window. Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "controls/CtrlButton.h"
#include "controls/CtrlHelper.h"
#include "controls/CtrlTooltippedSegments.h"
#include "editor/ToolSettingsBar.h"
#include "kit/base/Timer.h"
#include "kit/ui/Button.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/PopUpButton.h"
#include "kit/ui/TextField.h"
#include "kit/ui/View.h"

namespace editor {

// The arithmetic of the resize bubble, apart from its fields.
namespace resize {
// Preset factors of the six size segments (25 %, 33 %, 50 %, 100 %, 200 %, 400 %).
extern const double kFactors[6];
constexpr int kMaxSide = 22000;
// Every new size is drawn in memory at once: the same cap as decoded files.
constexpr int64_t kMaxPixels = 256LL * 1000 * 1000;

// The segment whose preset gives this width of a composition W wide; -1 for none.
int segmentForWidth(int64_t width, double W);
// The other side that keeps the composition's aspect ratio, at least 1; the
// typed side counts as at least 1. A composition without area gives 1.
int64_t heightForWidth(int64_t width, double W, double H);
int64_t widthForHeight(int64_t height, double W, double H);
// The preset sizes of a segment, rounded half away from zero.
std::pair<int64_t, int64_t> presetSize(int segment, double W, double H);

enum class Check { ok, tooSmall, tooLarge };
Check check(int64_t width, int64_t height);
}  // namespace resize

// What the tooltip bubble shows for a tool title such as "Arrow (A)".
struct TooltipText {
    std::string title;
    std::optional<std::string> key;  // "(A)"
    double padding = 32;
};
TooltipText splitTooltip(const std::string& text);

// fitWindow's new content size: at least 1024 × 472, the height whole; on a
// screen with less room, no more than `room` (a window already larger keeps
// its size).
kit::Size fittedContentSize(kit::Size content, kit::Size room = {1e9, 1e9});
// The welcome view's line on how to take a screenshot: the tray icon only
// where it shows, the stored shortcut only when there is one, and without a
// tray, how to bring the editor back (running kadrix again).
std::string welcomeHint(const std::optional<std::string>& shortcut, bool trayIcon);
// A window frame moved onto its screen: right edges meet when it sticks out
// to the right, then bottom edges when it sticks out below (y up).
kit::Rect keptOnScreen(kit::Rect frame, const kit::Rect& screen);

class ViewController {
public:
    ViewController();
    ~ViewController();

    std::shared_ptr<kit::View> view;
    std::shared_ptr<kit::View> backdropPanelHost;  // where the backdrop's panel is embedded
    std::shared_ptr<controls::CtrlHelper> backdropView;
    std::shared_ptr<kit::View> introView, introNewVersion, introStandard;
    std::shared_ptr<kit::Label> labelWelcomeHint;
    std::shared_ptr<kit::View> shotView;
    std::shared_ptr<kit::ImageView> imageWelcome;
    std::shared_ptr<controls::CtrlButton> btnStartup, btnSetupHotkeys;
    ToolSettingsBar toolSettings;
    std::shared_ptr<kit::Label> labelZoom;
    std::shared_ptr<controls::CtrlHelper> ctrlHelperZoom, ctrlHelperPixels, ctrlHelperColor,
        ctrlHelperTooltip, ctrlHelperHelp;
    std::shared_ptr<kit::Label> labelTooltip, labelTooltipKey;
    std::shared_ptr<kit::PopUpButton> ddlColorFormat;
    std::shared_ptr<kit::Button> swPixelsPoints;  // on = points, the inverse of realPixels
    std::shared_ptr<kit::TextField> txtWidth, txtHeight;
    std::shared_ptr<controls::CtrlTooltippedSegments> scSizes;

    // Called once the controller's views exist.
    void viewDidLoad();
    void viewDidAppear();
    // Says how to take a screenshot with what this desktop and the settings offer now.
    void updateWelcomeHint();
    // Embeds the backdrop's panel when the backdrop offers one (once).
    void embedBackdropPanel();

    void fitWindow();
    void syncBackdropPanel();
    // The tool bar's tooltip, centred on x (window space) and kept inside the
    // view; its top 5 points under `top` (the view's top edge when none).
    void showTooltip(const std::string& text, int x, std::optional<double> top = std::nullopt);
    bool anyHelperVisible();
    bool hideHelpers();
    void updateSizeFields();
    void selectSizeSegment(int64_t width);
    void updateToolSettings(const std::string& type) { toolSettings.updateToolSettings(type); }
    void muteToolSettingsSoon() { toolSettings.muteToolSettingsSoon(); }

    // Interface actions.
    void runAtStartup();
    void setupHotkeys();
    void clickIntroNewVersion();
    void clickIntroNextTime();
    void imgLoaded();
    void clickZoomOut();
    void clickZoomIn();
    void clickZoomPercentage();
    void changeColorFormat();
    void changeRealPixels();
    void clickCloseHelp();
    void changeWidth();
    void changeHeight();
    void selectSize();
    void clickResize();
    // An edit of the width (true) or height field.
    void controlTextDidChange(bool widthField);

    // The composition's size (screenshot plus backdrop and canvas paddings).
    kit::Size compositionSize() const;

private:
    void buildIntro();
    void buildBubbles();
    std::shared_ptr<controls::CtrlHelper> bubble(kit::Size size, bool transient);
    void pinTopRight(kit::View& v, double top, double right);
    kit::Timer tmrStartup_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace editor
