#include "library/LibViewController.h"

#include <algorithm>

#include "controls/CtrlButtonHover.h"
#include "controls/CtrlToolbar.h"
#include "controls/ImageAssets.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Displays.h"
#include "kit/ui/Box.h"
#include "kit/ui/Button.h"
#include "kit/ui/CollectionView.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/Menu.h"
#include "kit/ui/PopUpButton.h"
#include "kit/ui/Popover.h"
#include "kit/ui/ProgressIndicator.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Window.h"
#include "library/GalleryDelegate.h"
#include "library/GalleryItemView.h"
#include "library/IndexMachine.h"
#include "library/LibViewHost.h"
#include "library/LibraryLink.h"
#include "library/QuickLookWinController.h"
#include "services/Console.h"
#include "services/NamedTimers.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "shortcuts/Name.h"
#include "shortcuts/Names.h"

namespace library {

namespace {

LibViewController* installedController = nullptr;

constexpr double kRescanSeconds = 1200;
constexpr double kToolbarHeight = 44, kSearchHeight = 36, kStatusHeight = 30, kProgressHeight = 62;

// The root view: lays its parts out again when the popover changes size.
class LibRootView : public kit::View {
public:
    using kit::View::View;
    std::function<void()> onLayout, onAppearance;
    void layout() override {
        if (onLayout) onLayout();
    }
    void viewDidChangeEffectiveAppearance() override {
        if (onAppearance) onAppearance();
    }
};

struct ToolItem {
    const char* title;
    const char* image;
    const char* match;     // the title as normalizeToolTitle gives it
    const char* shortcut;  // named shortcut shown in the tooltip ("" none)
};
constexpr ToolItem kTools[] = {
    {"Show Kadrix", "lib-tool-28-kadrix", "show kadrix", "reopen"},
    {"Fullscreen Screenshot", "lib-tool-28-fullscreen", "fullscreen screenshot", "fullscreen"},
    {"Area Capture", "lib-tool-28-area", "area", "area"},
    {"Repeat Area Capture", "lib-tool-28-repeat", "repeat area", "repeatArea"},
    {"Window Capture", "lib-tool-28-window", "window", "anyWindow"},
    {"Scrolling Capture", "lib-tool-28-scrolldown", "scrolling", "scrolling"},
    {"Scrolling Capture (Up)", "lib-tool-28-scrollup", "scrolling  (up)", ""},
    {"Text/QR Recognition", "lib-tool-28-ocr", "text/qr recognition", "ocr"},
    {"Load From Clipboard ", "lib-tool-28-clipboard", "load from clipboard", ""},
};

std::shared_ptr<kit::Label> makeLabel(double size, kit::FontWeight weight = kit::FontWeight::Regular) {
    auto l = std::make_shared<kit::Label>();
    l->setFont(kit::Font::system(size, weight));
    return l;
}

}  // namespace

LibViewController* libController() {
    return installedController;
}
void setLibController(LibViewController* controller) {
    installedController = controller;
}

LibViewController::LibViewController() : panelPreview(std::make_unique<QuickLookWinController>()) {
    model = [] { return LibraryLink::shared().library(); };
}

LibViewController::~LibViewController() {
    *alive_ = false;
    if (keyMonitor) kit::LocalEventMonitor::remove(keyMonitor);
    if (installedController == this) installedController = nullptr;
    // The views may outlive the controller (in a window being torn down).
    if (tbSearch) {
        tbSearch->setAction(nullptr);
        tbSearch->onTextChange = nullptr;
    }
    if (cvGallery) {
        cvGallery->onDoubleClick = nullptr;
        cvGallery->onContextMenu = nullptr;
    }
}

const std::shared_ptr<kit::View>& LibViewController::view() {
    if (!view_) {
        auto root = std::make_shared<LibRootView>(kit::Rect{0, 0, contentSize_.width, contentSize_.height});
        root->setFlipped(true);
        root->onLayout = [this] { layoutViews(); };
        root->onAppearance = [this] { applyAppearance(); };
        view_ = root;
        viewDidLoad();
    }
    return view_;
}

// ---- views ---------------------------------------------------------------------------

void LibViewController::buildViews() {
    auto add = [this](auto view) {
        view_->addSubview(view);
        return view;
    };
    boxToolbar = add(std::make_shared<kit::View>());
    toolbarActions = std::make_shared<controls::CtrlToolbar>();
    boxToolbar->addSubview(toolbarActions);
    btnToolbarMore = std::make_shared<controls::CtrlButtonHover>();
    boxToolbar->addSubview(btnToolbarMore);

    vSearchHolder = add(std::make_shared<kit::View>());
    tbSearch = std::make_shared<kit::SearchField>();
    tbSearch->setPlaceholder("Search text in screenshots");
    vSearchHolder->addSubview(tbSearch);

    cvGallery = add(std::make_shared<kit::CollectionView>());

    vMessageHolder = add(std::make_shared<kit::View>());
    vMessageHolder->setFlipped(true);
    imgMessageIcon = std::make_shared<kit::ImageView>();
    txMessageLabel = makeLabel(13);
    txMessageLabel->setAlignment(kit::TextAlignment::Center);
    txMessageLabel->setWraps(true);
    vProgressInMsg = std::make_shared<kit::ProgressIndicator>();
    btnMessageAction = kit::Button::make("", [this](kit::Control&) {
        if (messageAction) messageAction();
    });
    for (std::shared_ptr<kit::View> v : std::initializer_list<std::shared_ptr<kit::View>>{
             imgMessageIcon, txMessageLabel, vProgressInMsg, btnMessageAction})
        vMessageHolder->addSubview(v);

    vSpinnerHolder = add(std::make_shared<kit::View>());
    vSpinner = std::make_shared<kit::ProgressIndicator>(kit::Rect{}, kit::ProgressIndicator::Style::Spinning);
    vSpinnerHolder->addSubview(vSpinner);

    vProgressHolder = add(std::make_shared<kit::Box>());
    vProgressHolder->setFlipped(true);
    vProgressHolder->setCornerRadius(6);
    vProgressHolder->setBorderWidth(1);
    txProgressLabel = makeLabel(12);
    txProgressLabel->setWraps(true);
    txProgressLeft = makeLabel(11);
    vProgressBar = std::make_shared<kit::ProgressIndicator>();
    btnProgressAction = kit::Button::make("Cancel", [this](kit::Control&) { toggleIndexing(); });
    for (std::shared_ptr<kit::View> v : std::initializer_list<std::shared_ptr<kit::View>>{
             txProgressLabel, txProgressLeft, vProgressBar, btnProgressAction})
        vProgressHolder->addSubview(v);

    txStatus = add(makeLabel(11));
    stackStatusIcons = add(std::make_shared<kit::View>());
    stackStatusIcons->setFlipped(true);
    ddlLayout = std::make_shared<kit::PopUpButton>();
    ddlLayout->addItems({"File list", "Small squares", "Medium", "Large"});
    ddlLayout->setAction([this](kit::Control&) { selectLayout(ddlLayout->titleOfSelectedItem()); });
    btnPopoverSize = kit::Button::make(
        "⤢", [this](kit::Control&) { changePopoverSize(btnPopoverSize->state() == kit::ControlState::On); },
        kit::Button::Type::PushOnPushOff);
    btnPopoverSize->setToolTip("Larger library");
    auto settings = kit::Button::make("⚙", [this](kit::Control&) { openSettings(); });
    settings->setToolTip("Settings");
    stackStatusIcons->addSubview(ddlLayout);
    stackStatusIcons->addSubview(btnPopoverSize);
    stackStatusIcons->addSubview(settings);

    // The tooltip stands over the gallery, below the tool bar.
    boxTooltip = add(std::make_shared<kit::Box>());
    boxTooltip->setFlipped(true);
    boxTooltip->setCornerRadius(5);
    txTooltip = makeLabel(12, kit::FontWeight::Bold);
    txTooltip->setTextColor(kit::Color::white(1));
    txTooltipHotkey = makeLabel(12);
    txTooltipHotkey->setTextColor(kit::Color::white(0.7));
    boxTooltip->addSubview(txTooltip);
    boxTooltip->addSubview(txTooltipHotkey);
}

void LibViewController::layoutViews() {
    if (!view_ || !boxToolbar) return;
    double w = view_->frame().width(), h = view_->frame().height();
    boxToolbar->setFrame({0, 0, w, kToolbarHeight});
    toolbarActions->setFrame({6, 6, std::max(0.0, w - 52), 32});
    btnToolbarMore->setFrame({w - 40, 6, 32, 32});
    boxTooltip->setFrame({8, kToolbarHeight + 4, w - 16, 26});
    txTooltip->setFrame({8, 4, w * 0.6, 18});
    txTooltipHotkey->setFrame({w * 0.6, 4, w - 16 - w * 0.6 - 8, 18});
    txTooltipHotkey->setAlignment(kit::TextAlignment::Right);

    vSearchHolder->setFrame({0, kToolbarHeight, w, kSearchHeight});
    tbSearch->setFrame({10, 6, w - 20, 26});

    double galleryTop = kToolbarHeight + (vSearchHolder->isHidden() ? 0 : kSearchHeight);
    double bottom = h - kStatusHeight - (vProgressHolder->isHidden() ? 0 : kProgressHeight + 6);
    kit::Rect galleryFrame{0, galleryTop, w, std::max(0.0, bottom - galleryTop)};
    cvGallery->setFrame(galleryFrame);
    vMessageHolder->setFrame(galleryFrame);
    double mw = galleryFrame.width(), mh = galleryFrame.height();
    imgMessageIcon->setFrame({mw / 2 - 60, std::max(0.0, mh / 2 - 150), 120, 120});
    txMessageLabel->setFrame({20, imgMessageIcon->frame().maxY() + 10, mw - 40, 80});
    vProgressInMsg->setFrame({40, txMessageLabel->frame().maxY() + 4, mw - 80, 12});
    btnMessageAction->setFrame({mw / 2 - 80, vProgressInMsg->frame().maxY() + 10, 160, 28});
    vSpinnerHolder->setFrame({w / 2 - 20, galleryTop + galleryFrame.height() / 2 - 20, 40, 40});
    vSpinner->setFrame({4, 4, 32, 32});

    vProgressHolder->setFrame({8, bottom, w - 16, kProgressHeight});
    txProgressLabel->setFrame({10, 6, w - 140, 32});
    txProgressLeft->setFrame({10, 40, w - 140, 16});
    vProgressBar->setFrame({w - 126, 12, 100, 10});
    btnProgressAction->setFrame({w - 126, 28, 100, 26});

    txStatus->setFrame({10, h - kStatusHeight + 7, w - 162, 18});
    stackStatusIcons->setFrame({w - 150, h - kStatusHeight + 2, 144, 26});
    ddlLayout->setFrame({0, 0, 84, 26});
    btnPopoverSize->setFrame({88, 0, 26, 26});
    stackStatusIcons->subviews().back()->setFrame({118, 0, 26, 26});
    if (gallery) gallery->applyLayout();
}

void LibViewController::applyAppearance() {
    bool dark = view_->isDarkAppearance();
    auto rgb = [](double r, double g, double b) { return kit::Color(r, g, b, 1); };
    vProgressHolder->setFillColor(dark ? rgb(0.2, 0.24, 0.3) : rgb(0.9, 0.95, 0.98));
    vProgressHolder->setBorderColor(dark ? rgb(0.25, 0.28, 0.31) : rgb(0.82, 0.86, 0.88));
    view_->layer()->setBackgroundColor(dark ? rgb(0.19, 0.2, 0.2) : rgb(0.98, 0.98, 0.98));
    boxToolbar->layer()->setBackgroundColor(dark ? rgb(0.15, 0.16, 0.16) : rgb(0.16, 0.16, 0.17));
    boxTooltip->setFillColor(dark ? rgb(0.12, 0.13, 0.13) : rgb(0.22, 0.23, 0.24));
    txStatus->setTextColor(dark ? kit::Color::white(0.75) : kit::Color::white(0.3));
    txMessageLabel->setTextColor(dark ? kit::Color::white(0.85) : kit::Color::white(0.25));
    cvGallery->setSelectionColor(dark ? kit::Color(0.35, 0.6, 1, 1) : kit::Color(0.1, 0.45, 0.95, 1));
}

// ---- life cycle ----------------------------------------------------------------------

void LibViewController::viewDidLoad() {
    buildViews();
    vProgressHolder->setHidden(true);
    gallery = std::make_unique<GalleryDelegate>(cvGallery);
    gallery->onSelect = [this](int item) { onGallerySelect(item); };
    cvGallery->onDoubleClick = [this](int item) {
        if (auto path = gallery->fileURL(item)) GalleryItemView(*this, *path).doubleClick();
    };
    cvGallery->onContextMenu = [this](int item, kit::Point screen) {
        if (auto path = gallery->fileURL(item)) {
            shownMenu_ = GalleryItemView(*this, *path).contextMenu();
            shownMenu_->popUp(screen);
        }
    };
    tbSearch->onTextChange = [this](kit::TextField&) { searchSoon(); };
    tbSearch->setAction([this](kit::Control&) { runSearch(); });
    setupToolbar();
    updateStatusLine("");
    controls::ImageAssets::Look onDark = controls::ImageAssets::currentLook();
    onDark.dark = true;
    btnToolbarMore->normalImage = controls::ImageAssets::named("lib-tool-28-more", onDark);
    btnToolbarMore->hoverImage = controls::ImageAssets::named("lib-tool-28-more-hl", onDark);
    btnToolbarMore->setImage(*btnToolbarMore->normalImage);
    btnToolbarMore->action = [this](controls::ButtonBase& b) {
        // Kept while it is open (a menu closes when its last holder lets go).
        shownMenu_ = viewHost().buildCompactMenu();
        if (shownMenu_) shownMenu_->popUp(b, {0, 0});
    };
    layoutViews();
    if (model()) {
        connectLibrary();
    } else if (!services::Settings::shared().defaultFolderURL()) {
        updateStatusLine(std::nullopt);
        showLibraryState();
    }
}

void LibViewController::viewWillAppear() {
    view();
    applyAppearance();
    hideTooltip();
    // Fitted again on each opening: the large size follows the height of
    // the screen it opens on, and any size is cut to a low screen (another
    // screen, another scale, a resized one since the last opening).
    if (fittedPopoverSize() != contentSize_) applyPopoverSize();
    btnPopoverSize->setState(services::Settings::shared().libPopoveerSize() != "small"
                                 ? kit::ControlState::On
                                 : kit::ControlState::Off);
    std::string layout = services::Settings::shared().libLayout();
    ddlLayout->selectItem(layout == "list" ? 0 : layout == "square80" ? 1 : layout == "large" ? 3 : 2);
}

void LibViewController::viewDidAppear() {
    if (keyMonitor) return;
    std::weak_ptr<bool> alive = alive_;
    keyMonitor = kit::LocalEventMonitor::add(kit::LocalEventMonitor::Mask::KeyDown,
                                             [this, alive](const kit::Event& e) {
                                                 if (alive.expired()) return true;
                                                 return !handleKeyDown(e);
                                             });
}

void LibViewController::viewDidDisappear() {
    if (keyMonitor) {
        kit::LocalEventMonitor::remove(keyMonitor);
        keyMonitor = 0;
    }
    services::Telemetry::shared().event("lib:hide", kit::Json::object());
    hideTooltip();
    panelPreview->hide();
}

// ---- tool bar ------------------------------------------------------------------------

void LibViewController::setupToolbar() {
    toolbarActions->itemWidth = 32;
    toolbarActions->itemHeight = 32;
    toolbarActions->isHoverStyle = true;
    toolbarActions->selectable = false;
    // The bar is dark in either appearance: its icons are drawn in light ink.
    controls::ImageAssets::Look look = controls::ImageAssets::currentLook();
    look.dark = true;
    std::vector<std::pair<std::string, std::string>> items;
    for (const ToolItem& t : kTools) {
        controls::ImageAssets::set(t.image, controls::ImageAssets::named(t.image, look));
        items.emplace_back(t.title, t.image);
    }
    toolbarActions->layoutItems(items);
    toolbarActions->callback = [this](controls::ButtonBase*, const std::string& title) {
        toolbarClick(title);
    };
    toolbarActions->tooltipCallback = [this](const std::string& title, int) {
        tmTooltip.invalidate();
        if (boxTooltip->isHidden())
            tmTooltip = kit::Timer::once(0.03, [this, title] { showTooltip(title); });
        else
            showTooltip(title);
    };
    toolbarActions->tooltipCallbackHide = [this] { hideTooltip(); };
    boxTooltip->setHidden(true);
}

void LibViewController::toolbarClick(const std::string& title) {
    std::string t = normalizeToolTitle(title);
    const ToolItem* item = nullptr;
    for (const ToolItem& tool : kTools)
        if (t == tool.match) item = &tool;
    if (!item) return;
    LibViewHost& host = viewHost();
    host.closePopover();
    const std::string m = "menu";
    std::string match = item->match;
    if (match == "show kadrix") host.yieldFocus();
    // The popover must be gone from the screen before the screen is taken.
    else if (match == "fullscreen screenshot")
        tmFullscreen_ = kit::Timer::once(0.02, [] { viewHost().grabScreenshot("fullscreen", "menu"); });
    else if (match == "area")
        host.grabScreenshot("interactive", m);
    else if (match == "repeat area")
        host.grabScreenshot("interactive-repeat", m);
    else if (match == "window")
        host.grabScreenshot("interactive-window", m);
    else if (match == "scrolling")
        host.startScrollingCapture(-1, m);
    else if (match == "scrolling  (up)")
        host.startScrollingCapture(1, m);
    else if (match == "text/qr recognition")
        host.instantOCR(m);
    else if (match == "load from clipboard")
        host.loadFromClipboard(m);
}

void LibViewController::showTooltip(const std::string& title) {
    std::string keys;
    for (const ToolItem& t : kTools) {
        if (title != t.title || !*t.shortcut) continue;
        if (auto s = shortcuts::getShortcut(shortcuts::Name(t.shortcut))) keys = s->displayText();
    }
    txTooltip->setStringValue(title);
    txTooltipHotkey->setStringValue(keys);
    boxTooltip->setHidden(false);
}

void LibViewController::hideTooltip() {
    tmTooltip.invalidate();
    if (boxTooltip) boxTooltip->setHidden(true);
}

// ---- the library model ---------------------------------------------------------------

void LibViewController::connectLibrary() {
    auto lib = model();
    if (!lib) return;
    // Loading the view connects it (its parts must be there to show the load).
    if (!view_) {
        view();
        return;
    }
    setLibController(this);
    std::weak_ptr<bool> alive = alive_;
    lib->onLoadStart = [this, alive] {
        if (!alive.expired()) loadStarted();
    };
    lib->onLoadEnd = [this, alive] {
        if (!alive.expired()) loadEnded();
    };
    // One periodic rescan, however often the library is connected again.
    if (!rescanTimer_.isValid())
        rescanTimer_ = kit::Timer::repeating(kRescanSeconds, [this] {
            if (services::Settings::shared().libEnabled()) rescan();
        });
    connected_ = lib;
    if (lib->loaded()) loadEnded();
    lib->load();
}

void LibViewController::loadStarted() {
    isLoading = true;
    isBigMsgOn = false;
    updateVisibility();
    services::timerStart("lib:load");
}

void LibViewController::loadEnded() {
    auto lib = model();
    kit::Json data = kit::Json::object();
    data["timer"] = services::timerElapsedText("lib:load");
    data["count"] = lib ? int64_t(lib->snapshot().size()) : 0;
    services::Telemetry::shared().event("lib:load", data);
    isLoading = false;
    refreshGallery();
    if (lib) {
        Facets f = lib->calcFilters();
        filterMonths = f.months;
        filterDrawings = f.objects;
        filterDomains = f.domains;
        filterTypes = f.mode;
        filterApps = f.app;
    }
    rescan();
}

void LibViewController::rescan() {
    auto lib = model();
    if (!lib || !lib->indexMachine) return;
    if (lib->indexMachine->indexInProgress || lib->indexMachine->scanInProgress) {
        services::consoleLine("! ! ! rescan() while the indexMachine is busy");
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    lib->indexMachine->scan(false, [this, alive, lib](int queued, bool changed) {
        if (alive.expired()) return;
        if (queued > 0) queued = lib->indexMachine->settleQueue(LibraryLink::shared().savesInFlight() > 0);
        if (!walkFailure_.empty()) {
            walkFailure_.clear();  // the folder reads again
            showLibraryState();
        }
        if (queued > 0) offerPreexisting(queued);
        if (changed) refreshGallery();
    });
}

void LibViewController::initIndex() {
    auto lib = model();
    if (!lib || !services::Settings::shared().libEnabled()) return;
    IndexMachine* im = lib->indexMachine.get();
    if (im && (im->indexInProgress || im->scanInProgress)) {
        services::consoleLine("! ! ! initIndex() while the indexMachine is busy");
        return;
    }
    panelPreview->hide();
    kit::Json data = kit::Json::object();
    data["queuedFiles"] = im ? int64_t(im->queuedFiles) : 0;
    data["availableFiles"] = im ? int64_t(im->availableFiles) : 0;
    services::Telemetry::shared().event("lib:indexStart", data);
    services::timerStart("lib:index");
    walkFailure_.clear();
    if (im) {
        std::weak_ptr<bool> alive = alive_;
        im->statusUpdate = [this, alive](int done, int total, std::string left, bool stop) {
            // The indexer reports from its worker; the view changes on the main thread.
            kit::dispatchMain([this, alive, done, total, left, stop] {
                if (!alive.expired()) statusHandler(done, total, left, stop);
            });
        };
        im->scan(true);
    }
    indexingStarted();
}

void LibViewController::statusHandler(int done, int total, const std::string& timeLeft, bool stopRequested) {
    auto lib = model();
    // A run whose walk could not list the folder ends here; the end state says why.
    if (total == 0 && lib && lib->indexMachine) walkFailure_ = lib->indexMachine->walkError();
    indexingProgress(done, total, timeLeft, stopRequested);
    if (total != 0) return;
    kit::Json data = kit::Json::object();
    data["queuedFiles"] = done;
    data["availableFiles"] = lib && lib->indexMachine ? int64_t(lib->indexMachine->availableFiles) : 0;
    data["timer"] = services::timerElapsedText("lib:index");
    data["canceled"] = stopRequested;
    services::Telemetry::shared().event("lib:indexEnd", data);
    rescan();
}

// ---- the gallery ---------------------------------------------------------------------

void LibViewController::refreshGallery() {
    auto lib = model();
    if (!lib) return;
    // While the field holds a query, the fresh list is that query's results.
    if (tbSearch && tbSearch->stringValue().find_first_not_of(" \t") != std::string::npos) {
        runSearch();
        return;
    }
    // The list is built on the pool and handed to the main thread later, so
    // no caller (a save worker among them) ever waits for the main thread.
    // A newer refresh or search overtakes this one.
    uint64_t ticket = searches_.begin();
    std::weak_ptr<bool> alive = alive_;
    kit::globalQueue().async([this, alive, lib, ticket] {
        int64_t limit = std::max<int64_t>(0, services::Settings::shared().libLimit());
        auto all = lib->snapshot();
        if (int64_t(all.size()) > limit) all.erase(all.begin(), all.end() - limit);
        auto list = lib->convertToLibObjects(all);
        kit::dispatchMain([this, alive, ticket, list = std::move(list)]() mutable {
            if (alive.expired() || !searches_.isCurrent(ticket)) return;
            showGallery(std::move(list));
            showLibraryState();
        });
    });
}

void LibViewController::showGallery(std::vector<LibObject> records) {
    ++galleryGeneration_;
    if (!gallery) return;
    gallery->setRecords(std::move(records));
    gallery->lastSelectedItem = -1;
}

void LibViewController::selectItem(const std::string& filename) {
    if (!gallery) return;
    int found = -1;
    for (size_t i = 0; i < gallery->records.size() && found < 0; ++i) {
        const std::string& p = gallery->records[i].path;
        if (p.substr(p.find_last_of('/') + 1) == filename) found = int(i);
    }
    if (found < 0) return;
    std::set<int> sel = cvGallery->selectionIndexes();
    if (sel.size() == 1) sel.clear();
    sel.insert(found);
    cvGallery->setSelectionIndexes(sel);
    cvGallery->scrollToItem(found);
    gallery->lastSelectedItem = found;
    updateStatusLine(std::nullopt);
}

void LibViewController::onGallerySelect(int) {
    updateStatusLine(std::nullopt);
}

std::optional<int> LibViewController::currentSelection() const {
    if (!cvGallery) return std::nullopt;
    const auto& sel = cvGallery->selectionIndexes();
    if (gallery && gallery->lastSelectedItem >= 0 && sel.count(gallery->lastSelectedItem))
        return gallery->lastSelectedItem;
    if (sel.empty()) return std::nullopt;
    return *sel.rbegin();
}

kit::Size LibViewController::fittedPopoverSize() const {
    // Before the popover first shows, the view has no window yet: the
    // screen it opens on is the main one.
    kit::Display screen = view_ && view_->window() ? view_->window()->screen() : kit::Displays::main();
    const double visibleHeight = popoverScreenHeight ? popoverScreenHeight() : screen.visibleFrame.height();
    return popoverSize(services::Settings::shared().libPopoveerSize(), visibleHeight,
                       2 * kit::Popover::kContentInset);
}

void LibViewController::applyPopoverSize() {
    contentSize_ = fittedPopoverSize();
    viewHost().setPopoverSize(contentSize_);
    if (view_) view_->setFrameSize(contentSize_);
    tmLayout_ = kit::Timer::once(0.01, [this] {
        if (gallery) gallery->applyLayout();
        cvGallery->reloadData();
    });
}

}  // namespace library
