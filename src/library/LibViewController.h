#pragma once
// The library popover's content: the capture tool bar with its tooltip, the
// search field, the gallery of saved screenshots, the loading spinner, the
// big message area, the indexing progress area and the status line with the
// layout chooser and the size switch. It binds itself to the library model
// (load, rescan, indexing), runs the actions on the selected screenshots,
// and sees the application's key presses first while it is on screen.
//
// One instance for the process (made with the popover). Main thread only;
// the gallery list and the searches are built on the global queue and come
// back to the main thread, newest result only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Event.h"
#include "kit/base/Timer.h"
#include "kit/ui/LocalEventMonitor.h"
#include "kit/ui/View.h"
#include "library/LibViewText.h"
#include "library/ScreenLib.h"

namespace kit {
class Box;
class Menu;
class Button;
class CollectionView;
class ImageView;
class Label;
class PopUpButton;
class ProgressIndicator;
class SearchField;
}  // namespace kit
namespace controls {
class CtrlToolbar;
class CtrlButtonHover;
}  // namespace controls

namespace library {

class GalleryDelegate;
class QuickLookWinController;

class LibViewController {
public:
    LibViewController();
    virtual ~LibViewController();
    LibViewController(const LibViewController&) = delete;
    LibViewController& operator=(const LibViewController&) = delete;

    // The view (made on first use, then viewDidLoad runs).
    const std::shared_ptr<kit::View>& view();
    // The library model the view shows; LibraryLink's by default (tests set their own).
    std::function<std::shared_ptr<ScreenLib>()> model;

    std::unique_ptr<GalleryDelegate> gallery;
    std::vector<LibFacet> filterMonths, filterDomains, filterDrawings, filterTypes, filterApps;
    std::unique_ptr<QuickLookWinController> panelPreview;
    bool blindIndexing = true;
    kit::Timer tmTooltip;
    kit::LocalEventMonitor::Token keyMonitor = 0;
    kit::Timer debounceUnselect;
    std::function<void()> messageAction;
    bool isLoading = false;
    bool isBigMsgOn = false;
    bool isSearching = false;

    // Views (made by viewDidLoad).
    std::shared_ptr<kit::View> boxToolbar;
    std::shared_ptr<kit::SearchField> tbSearch;
    std::shared_ptr<kit::View> vSearchHolder;
    std::shared_ptr<kit::CollectionView> cvGallery;
    std::shared_ptr<controls::CtrlToolbar> toolbarActions;
    std::shared_ptr<controls::CtrlButtonHover> btnToolbarMore;
    std::shared_ptr<kit::Box> boxTooltip;
    std::shared_ptr<kit::Label> txTooltip, txTooltipHotkey;
    std::shared_ptr<kit::View> vSpinnerHolder;
    std::shared_ptr<kit::ProgressIndicator> vSpinner;
    std::shared_ptr<kit::Box> vProgressHolder;
    std::shared_ptr<kit::ProgressIndicator> vProgressBar, vProgressInMsg;
    std::shared_ptr<kit::Label> txProgressLabel, txProgressLeft;
    std::shared_ptr<kit::Button> btnProgressAction;
    std::shared_ptr<kit::Label> txStatus;
    std::shared_ptr<kit::ImageView> imgMessageIcon;
    std::shared_ptr<kit::View> vMessageHolder;
    std::shared_ptr<kit::Label> txMessageLabel;
    std::shared_ptr<kit::Button> btnMessageAction;
    std::shared_ptr<kit::View> stackStatusIcons;
    std::shared_ptr<kit::PopUpButton> ddlLayout;
    std::shared_ptr<kit::Button> btnPopoverSize;

    // ---- life cycle (the popover calls the appear and disappear steps) ----
    virtual void viewDidLoad();
    virtual void viewWillAppear();
    virtual void viewDidAppear();
    virtual void viewDidDisappear();

    virtual void initIndex();
    virtual void rescan();
    virtual void connectLibrary();
    virtual void setupToolbar();
    virtual bool handleKeyDown(const kit::Event& e);
    // Index of the current item: the last one the user selected when it is
    // still selected, else the highest selected one.
    virtual std::optional<int> currentSelection() const;
    virtual void refreshGallery();
    virtual void selectItem(const std::string& filename);
    virtual void applyPopoverSize();
    // The size the setting asks for, no higher than the popover's screen.
    kit::Size fittedPopoverSize() const;
    // The visible height of the screen the popover opens on, where it is not
    // that of the view's window's screen (tests give screens of their own).
    std::function<double()> popoverScreenHeight;

    virtual void offerPreexisting(int count);
    virtual void indexingStarted();
    virtual void indexingProgress(int done, int total, const std::string& timeLeft, bool stopRequested);
    virtual void indexingStopping();
    virtual void updateStatusLine(const std::optional<std::string>& text);
    virtual void showLibraryState();
    virtual void updateVisibility();
    // Runs an action word on a file ("quicklook", "finder", "open", "pin",
    // "copy", "info", else opens it in the editor).
    virtual void performAction(const std::string& word, const std::string& path, const std::string& method,
                               bool besidePopover = false);
    virtual void deleteSelected(const std::string& method);
    // Searches for the field's text (debounced while typing, see searchSoon).
    virtual void runSearch();
    virtual void toggleIndexing();
    virtual void openSettings();
    // The layout chooser's choice by its title; the size switch by its state.
    void selectLayout(const std::string& title);
    void changePopoverSize(bool large);
    // Fills the search field and searches at once (kadrix://lib/search).
    void search(const std::string& text);

    void showBigMessage(const std::string& image, const std::string& text, const std::string& button,
                        std::function<void()> action);
    std::vector<std::string> selectedURLs() const;
    // Entries to show: present ones, at most "libLimit".
    int64_t visibleCount() const;
    // The last gallery list delivered (refresh or search), for tests.
    uint64_t galleryGeneration() const { return galleryGeneration_; }
    // The popover's size as applyPopoverSize set it.
    kit::Size contentSize() const { return contentSize_; }

private:
    void buildViews();
    void layoutViews();
    void applyAppearance();
    void toolbarClick(const std::string& title);
    void showTooltip(const std::string& title);
    void hideTooltip();
    void loadStarted();
    void loadEnded();
    void statusHandler(int done, int total, const std::string& timeLeft, bool stopRequested);
    // The progress area's offer to add `count` new files.
    void showAddFilesOffer(int64_t count);
    void showGallery(std::vector<LibObject> records);
    void searchSoon();
    void onGallerySelect(int item);
    void selectAfterDelete(std::optional<int> anchor, int deleted);
    bool runKeyTable(const kit::Event& e, int index);

    std::shared_ptr<kit::View> view_;
    std::shared_ptr<kit::Menu> shownMenu_;  // the open context or options menu
    std::shared_ptr<ScreenLib> connected_;  // the model the rescan timer serves
    kit::Timer rescanTimer_;
    kit::Timer searchDebounce_;
    kit::Timer tmLayout_;
    kit::Timer tmFullscreen_;
    SearchSequence searches_;
    // Why the folder walk of the user's last indexing could not read the
    // folder; cleared when a walk reads it.
    std::string walkFailure_;
    uint64_t galleryGeneration_ = 0;
    kit::Size contentSize_{380, 580};
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The library view made with the popover (nullptr before).
LibViewController* libController();
void setLibController(LibViewController* controller);

}  // namespace library
