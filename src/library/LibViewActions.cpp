// The library view while the library works and what the user does with its
// items: visible areas, messages, the status line, indexing, search, actions
// and delete.
#include <algorithm>
#include <filesystem>

#include "controls/ImageAssets.h"
#include "kit/base/Dispatch.h"
#include "kit/ui/Box.h"
#include "kit/ui/Button.h"
#include "kit/ui/CollectionView.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/ProgressIndicator.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Window.h"
#include "library/GalleryDelegate.h"
#include "library/IndexMachine.h"
#include "library/LibViewController.h"
#include "library/LibViewHost.h"
#include "library/PathNames.h"
#include "library/QuickLookWinController.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace library {

namespace {

// While typing, a search starts once the keys pause this long.
constexpr double kSearchDebounce = 0.25;

std::string lowerTrimmed(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const char* ws = " \t\n\r\f\v";
    size_t a = s.find_first_not_of(ws);
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(ws) - a + 1);
}

}  // namespace

int64_t LibViewController::visibleCount() const {
    auto lib = model();
    if (!lib) return 0;
    // Counted under the record lock: a walk marks entries gone meanwhile.
    return std::min(lib->presentCount(), std::max<int64_t>(0, services::Settings::shared().libLimit()));
}

void LibViewController::updateVisibility() {
    auto lib = model();
    IndexMachine* im = lib ? lib->indexMachine.get() : nullptr;
    VisibilityInput in;
    in.enabled = services::Settings::shared().libEnabled();
    in.loading = isLoading;
    in.bigMessage = isBigMsgOn;
    in.indexing = im && im->indexInitiated;
    in.queued = im ? int64_t(im->queuedFiles) : 0;
    in.visibleCount = visibleCount();
    in.offerAllowed = services::Settings::shared().libAllowPreexisting();
    Visibility v = visibilityFor(in);
    // Shown outside a run, the progress area always says what its button adds.
    if (v.progress) showAddFilesOffer(in.queued);
    cvGallery->setHidden(!v.gallery);
    vSearchHolder->setHidden(!v.search);
    vSpinnerHolder->setHidden(!v.spinner);
    if (v.spinner)
        vSpinner->startAnimation();
    else
        vSpinner->stopAnimation();
    vMessageHolder->setHidden(!v.message);
    vProgressHolder->setHidden(!v.progress);
    if (v.status) txStatus->setHidden(!*v.status);
    layoutViews();
}

void LibViewController::showBigMessage(const std::string& image, const std::string& text,
                                       const std::string& button, std::function<void()> action) {
    imgMessageIcon->setImage(controls::ImageAssets::named(image));
    txMessageLabel->setStringValue(text);
    btnMessageAction->setTitle(button);
    messageAction = std::move(action);
    btnMessageAction->setHidden(button.empty());
    vProgressInMsg->setHidden(true);
    isBigMsgOn = true;
    updateVisibility();
}

void LibViewController::showLibraryState() {
    auto lib = model();
    if (lib && lib->indexMachine && lib->indexMachine->indexInitiated) return;
    if (lib && !walkFailure_.empty()) {
        // Until a walk reads the folder again, the reason stays in view.
        showBigMessage("lib-148-folder", "Can't read the folder " + lib->folder() + "\n" + walkFailure_,
                       "Try Again", [this] { initIndex(); });
        return;
    }
    int64_t n = visibleCount();
    if (lib && n > 0) {
        updateStatusLine(imagesText(n));
        isBigMsgOn = false;
        updateVisibility();
        return;
    }
    if (!services::Settings::shared().defaultFolderURL()) {
        std::weak_ptr<bool> alive = alive_;
        showBigMessage(
            "lib-148-folder",
            "Pick a folder for your screenshots.\nEvery time you save a screenshot with Kadrix, it will "
            "appear here.",
            "Select Folder", [] {
                viewHost().selectDefaultFolder([] {
                    services::Telemetry::shared().preset("lib:show", {{"method", "folderPicker"}});
                    viewHost().presentLibrary();
                });
            });
        return;
    }
    // The last walk's offer stays, whichever of the walk and a gallery
    // refresh comes back last.
    if (lib && lib->indexMachine && lib->indexMachine->queuedFiles > 0 &&
        services::Settings::shared().libAllowPreexisting()) {
        offerPreexisting(lib->indexMachine->queuedFiles);
        return;
    }
    updateStatusLine(std::nullopt);
    showBigMessage("lib-148-pinned", "Screenshots that you save\nwith Kadrix will appear here", "", nullptr);
}

void LibViewController::updateStatusLine(const std::optional<std::string>& text) {
    size_t selected = cvGallery->selectionIndexes().size();
    if (text && text->empty()) {
        txStatus->setHidden(true);
        stackStatusIcons->setHidden(true);
    } else if (text) {
        txStatus->setHidden(false);
        stackStatusIcons->setHidden(false);
        txStatus->setStringValue(*text);
    } else if (selected == 0) {
        int64_t n = visibleCount();
        if (model() && n > 0) {
            txStatus->setStringValue(imagesText(n));
            txStatus->setHidden(false);
            stackStatusIcons->setHidden(false);
        } else {
            txStatus->setHidden(true);
        }
    } else {
        std::string line = std::to_string(selected) + " image" + (selected == 1 ? "" : "s") + " selected";
        auto lib = model();
        if (selected == 1 && lib && gallery) {
            std::string file =
                baseName(gallery->fileURL(*cvGallery->selectionIndexes().begin()).value_or(""));
            // A copy taken under the record lock: an index run merges into the entry meanwhile.
            if (auto content = file.empty() ? std::nullopt : lib->contentOf(file)) {
                GrabData rec(std::move(*content));
                line = selectedStatus(rec.ts(), rec.intValue("bytes"));
            }
        }
        txStatus->setStringValue(line);
        txStatus->setHidden(false);
        stackStatusIcons->setHidden(false);
    }
    debounceUnselect.invalidate();
    // A quick look whose picture is still read follows the selection too.
    if (panelPreview->isOnOrLoading() && selected >= 1) {
        auto current = currentSelection();
        auto path = current && gallery ? gallery->fileURL(*current) : std::nullopt;
        if (path) performAction("quicklook", *path, "selection", true);
    } else if (selected == 0) {
        debounceUnselect = kit::Timer::once(0.04, [this] { panelPreview->hide(); });
    }
}

void LibViewController::offerPreexisting(int count) {
    if (!services::Settings::shared().libAllowPreexisting()) return;
    if (visibleCount() > 0) {
        showAddFilesOffer(count);
        updateVisibility();
        return;
    }
    showBigMessage(
        "lib-148-images",
        formatCount(count) + " pre-existing screenshots found.\nDo you want to add them to the library?",
        "Add Screenshots", [this] { initIndex(); });
}

void LibViewController::showAddFilesOffer(int64_t count) {
    vProgressBar->setHidden(true);
    btnProgressAction->setTitle("Add Files");
    btnProgressAction->setHidden(false);
    txProgressLeft->setStringValue("");
    txProgressLabel->setStringValue(formatCount(count) +
                                    " new images found. Do you want\nto add them to the library?");
}

// ---- indexing ------------------------------------------------------------------------

void LibViewController::indexingStarted() {
    txProgressLeft->setStringValue("");
    txProgressLabel->setStringValue("Preparing to index");
    vProgressBar->setDoubleValue(0);
    vProgressInMsg->setDoubleValue(0);
    vProgressBar->setHidden(false);
    btnProgressAction->setTitle("Cancel");
    btnProgressAction->setHidden(true);
    tbSearch->setEnabled(false);
    tbSearch->setStringValue("");
    isBigMsgOn = false;
    showBigMessage("lib-148-folder", "Preparing to index your files...", "Stop", [this] {
        auto lib = model();
        if (lib && lib->indexMachine) lib->indexMachine->pleaseStop = true;
        indexingStopping();
    });
    updateVisibility();
}

void LibViewController::indexingProgress(int done, int total, const std::string& timeLeft,
                                         bool stopRequested) {
    if (stopRequested && total > 0) return;
    txProgressLabel->setStringValue("Indexing: " + formatCount(done) + " of " + formatCount(total));
    txProgressLeft->setStringValue(timeLeft);
    double percent = total > 0 ? double(done) * 100.0 / double(total) : 0;
    vProgressBar->setDoubleValue(percent);
    vProgressBar->setHidden(false);
    txMessageLabel->setStringValue("\n\n" + txProgressLabel->stringValue() +
                                   (timeLeft.empty() ? "" : "\n" + timeLeft + " left"));
    vProgressInMsg->setDoubleValue(percent);
    vProgressInMsg->setHidden(false);
    btnProgressAction->setHidden(false);
    vProgressBar->setAlphaValue(1.0);
    if (total == 0) {
        refreshGallery();
        showLibraryState();
        tbSearch->setEnabled(true);
    }
}

void LibViewController::indexingStopping() {
    btnProgressAction->setHidden(true);
    txProgressLeft->setStringValue("");
    txProgressLabel->setStringValue("Finishing indexing");
    vProgressBar->setAlphaValue(0.5);
    txMessageLabel->setStringValue(txProgressLabel->stringValue());
    vProgressInMsg->setHidden(true);
    tbSearch->setEnabled(true);
}

void LibViewController::toggleIndexing() {
    auto lib = model();
    IndexMachine* im = lib ? lib->indexMachine.get() : nullptr;
    if (im && (im->indexInProgress || im->scanInProgress)) {
        im->pleaseStop = true;
        indexingStopping();
        return;
    }
    initIndex();
}

// ---- search --------------------------------------------------------------------------

void LibViewController::searchSoon() {
    searchDebounce_ = kit::Timer::once(kSearchDebounce, [this] { runSearch(); });
}

void LibViewController::search(const std::string& text) {
    view();
    tbSearch->setStringValue(text);
    runSearch();
}

void LibViewController::runSearch() {
    searchDebounce_.invalidate();
    auto lib = model();
    if (!lib) return;
    std::string query = tbSearch->stringValue();
    if (query.find_first_not_of(" \t") == std::string::npos) {
        refreshGallery();
        return;
    }
    isSearching = true;
    updateVisibility();
    // Each search takes a ticket; results of an older ticket are dropped,
    // so a slow early query never replaces what a later one found.
    uint64_t ticket = searches_.begin();
    std::weak_ptr<bool> alive = alive_;
    kit::globalQueue().async([this, alive, lib, ticket, query] {
        std::string timer = "Search#" + std::to_string(ticket);
        services::timerStart(timer);
        auto results = lib->search(query);
        std::string elapsed = services::timerElapsedText(timer);
        services::timerRemove(timer);
        kit::dispatchMain([this, alive, ticket, elapsed, results = std::move(results)]() mutable {
            if (alive.expired() || !searches_.isCurrent(ticket)) return;
            isSearching = false;
            services::Telemetry::shared().repeatableEvent(
                "lib:search", {{"count", int64_t(results.size())}, {"timer", elapsed}});
            if (results.empty()) {
                ++galleryGeneration_;
                showBigMessage("lib-148-notfound", "Nothing found", "", nullptr);
                updateStatusLine("");
                return;
            }
            size_t n = results.size();
            showGallery(std::move(results));
            showLibraryState();
            updateStatusLine(formatCount(int64_t(n)) + " images found");
        });
    });
}

// ---- actions -------------------------------------------------------------------------

void LibViewController::performAction(const std::string& word, const std::string& path,
                                      const std::string& method, bool besidePopover) {
    LibViewHost& host = viewHost();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        services::Notifier::shared().warning("File doesn't exist",
                                             "File " + baseName(path) + " doesn't seem to exist anymore");
        return;
    }
    services::Telemetry::shared().repeatableEvent("lib:action-" + word, {{"method", method}});
    std::string w = lowerTrimmed(word);
    if (w != "quicklook") host.closePopover();
    if (w == "quicklook") {
        host.setPopoverTransient(false);
        auto sender = besidePopover ? host.popoverFrame() : std::nullopt;
        if (panelPreview->loadImage(path, sender)) panelPreview->showWindow();
    } else if (w == "finder") {
        host.revealFile(path);
    } else if (w == "open") {
        host.openFile(path);
    } else if (w == "pin") {
        host.pinImage(path);
    } else if (w == "copy") {
        if (host.copyImageFile(path))
            services::Notifier::shared().notify("Copied to the clipboard", "As an image");
    } else if (w == "info") {
        // Counted only.
    } else if (!host.openImage(path, [] { viewHost().yieldFocus(); })) {
        services::Notifier::shared().warning("Can't open file",
                                             "Can't open " + baseName(path) + ", not even sure why.");
    }
}

std::vector<std::string> LibViewController::selectedURLs() const {
    std::vector<std::string> urls;
    if (!gallery) return urls;
    for (int i : cvGallery->selectionIndexes())
        if (auto p = gallery->fileURL(i)) urls.push_back(*p);
    return urls;
}

void LibViewController::deleteSelected(const std::string& method) {
    std::vector<std::string> urls = selectedURLs();
    std::optional<int> anchor = currentSelection();
    int deleted = int(cvGallery->selectionIndexes().size());
    auto lib = model();
    if (lib) lib->deleteFiles(urls);
    services::Telemetry::shared().event("lib:delete", {{"method", method}, {"count", int64_t(urls.size())}});
    // The list without the deleted files shows at once; the rebuild from the
    // model follows and keeps the selection made here.
    if (gallery) {
        std::set<std::string> gone(urls.begin(), urls.end());
        auto rest = gallery->records;
        std::erase_if(rest, [&](const LibObject& o) { return gone.count(o.path) > 0; });
        showGallery(std::move(rest));
    }
    refreshGallery();
    selectAfterDelete(anchor, deleted);
    updateStatusLine(std::nullopt);
}

void LibViewController::selectAfterDelete(std::optional<int> anchor, int deleted) {
    if (!anchor) return;
    auto next = reselectAfterDelete(*anchor, deleted, cvGallery->itemCount());
    if (!next) {
        cvGallery->deselectAll();
        return;
    }
    cvGallery->setSelectionIndexes({*next});
    cvGallery->scrollToItem(*next);
    if (gallery) gallery->lastSelectedItem = *next;
}

void LibViewController::openSettings() {
    viewHost().openPreferences();
}

// ---- layout and size ----------------------------------------------------------------

void LibViewController::selectLayout(const std::string& title) {
    char first = title.empty() ? 'S' : char(std::toupper(static_cast<unsigned char>(title[0])));
    static const std::pair<char, const char*> layouts[] = {
        {'F', "list"}, {'S', "square80"}, {'M', "medium"}, {'L', "large"}};
    for (auto [letter, value] : layouts)
        if (first == letter) services::Settings::shared().setLibLayout(value);
    if (gallery) gallery->applyLayout();
    cvGallery->reloadData();
    updateStatusLine(std::nullopt);
}

void LibViewController::changePopoverSize(bool large) {
    services::Settings::shared().setLibPopoveerSize(large ? "medium" : "small");
    if (LibViewController* c = libController())
        c->applyPopoverSize();
    else
        applyPopoverSize();
}

}  // namespace library
