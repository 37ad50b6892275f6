#include "library/LibraryLink.h"

#include <algorithm>

#include "core/SaveRecord.h"
#include "kit/base/Dispatch.h"
#include "kit/base/WayOut.h"
#include "library/IndexMachine.h"
#include "library/LibViewController.h"
#include "library/PathNames.h"
#include "library/ThumbnailCache.h"

namespace library {

namespace {

std::string folderOf(const std::string& path) {
    return path.substr(0, path.find_last_of('/'));
}

// Saved screenshots are analysed one after the other, away from the main
// thread: recognising the text of a full screen takes a second or more.
kit::DispatchQueue& indexing() {
    static auto* queue = new kit::DispatchQueue("library.indexSaved");  // may be mid-file at exit
    return *queue;
}

// A file the library knows is analysed again; a new one is indexed with its
// facts. `then` runs once it is stored.
void indexLater(const std::shared_ptr<ScreenLib>& lib, const std::string& path,
                const std::map<std::string, std::string>& facts, std::function<void()> then) {
    // From here until it is indexed, a walk of the folder leaves the file to us.
    lib->indexMachine->handOver(path);
    indexing().async([lib, path, facts, then = std::move(then)] {
        {
            struct TakeBack {
                IndexMachine& machine;
                const std::string& path;
                ~TakeBack() { machine.takeBack(path); }
            } done{*lib->indexMachine, path};
            // A library still loading (the folder was just chosen) knows
            // neither this file nor where to put it yet.
            lib->waitLoaded();
            if (lib->record(baseName(path)))
                lib->indexMachine->reindexFile(path);
            else
                lib->indexMachine->indexFile(path, facts);
        }
        then();
    });
}

}  // namespace

LibraryLink& LibraryLink::shared() {
    static LibraryLink link;
    return link;
}

size_t LibraryLink::indexingSaves() const {
    std::lock_guard<std::mutex> g(owedLock_);
    return owed_.size();
}

std::shared_ptr<ScreenLib> LibraryLink::library() const {
    std::lock_guard<std::mutex> g(lock_);
    return lib_;
}

bool LibraryLink::exists() const {
    return library() != nullptr;
}

bool LibraryLink::busy() const {
    auto lib = library();
    return lib && (lib->indexMachine->indexInProgress || lib->indexMachine->scanInProgress);
}

void LibraryLink::create(const std::string& folder) {
    auto lib = std::make_shared<ScreenLib>(folder);
    {
        std::lock_guard<std::mutex> g(lock_);
        lib_ = lib;
    }
    connectLibrary();
}

void LibraryLink::setFolder(const std::string& folder) {
    if (auto lib = library())
        lib->setFolder(folder);
    else
        create(folder);
}

void LibraryLink::connectLibrary() {
    auto lib = library();
    if (!lib) return;
    // The library view, once made, runs loads and scans itself (and offers
    // what it finds instead of indexing it unasked).
    if (LibViewController* view = libController()) {
        view->connectLibrary();
        return;
    }
    // Without a view the records are read for the saves to merge into; the
    // view, once made, scans the folder and offers what it finds.
    lib->load();
}

void LibraryLink::indexSavedFile(const std::string& path, const std::map<std::string, std::string>& facts) {
    auto lib = library();
    if (!lib || folderOf(path) != lib->folder()) {
        core::lineSettled(path);  // no line of this library
        return;
    }
    indexOwing(lib, path, facts);
}

void LibraryLink::indexOwing(const std::shared_ptr<ScreenLib>& lib, const std::string& path,
                             const std::map<std::string, std::string>& facts) {
    {
        std::lock_guard<std::mutex> g(owedLock_);
        owed_.emplace_back(path, facts);
    }
    indexLater(lib, path, facts, [this, lib, path] {
        // An analysis the way out gave up (its decoder ended) stored
        // nothing: the save stays owed, and the way out writes its line
        // with the capture's facts.
        if (kit::wayOutBegun() && !lib->record(baseName(path))) return;
        {
            std::lock_guard<std::mutex> g(owedLock_);
            auto it = std::find_if(owed_.begin(), owed_.end(), [&](auto& o) { return o.first == path; });
            if (it != owed_.end()) owed_.erase(it);
        }
        core::lineSettled(path);
        refreshView();
    });
}

void LibraryLink::finishWrites() {
    auto lib = library();
    if (!lib) return;
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> owed;
    {
        std::lock_guard<std::mutex> g(owedLock_);
        owed = owed_;
    }
    // The analysis still running for one of them may store its own entry
    // yet; that one merges into this.
    for (auto& [path, facts] : owed)
        if (folderOf(path) == lib->folder() && !lib->record(baseName(path)))
            if (auto entry = lib->indexMachine->entryBeforeAnalysis(path, facts)) lib->addOrUpdate(entry);
    lib->finishWrites();
    for (auto& [path, facts] : owed) core::lineSettled(path);
}

void LibraryLink::refreshView() {
    kit::dispatchMain([] {
        if (LibViewController* view = libController()) view->refreshGallery();
    });
}

void LibraryLink::indexSavedAsFile(const std::string& path) {
    // Saved over: whatever thumbnails the old file had are now wrong.
    ThumbnailCache::shared().remove(path);
    auto lib = library();
    if (!lib || folderOf(path) != lib->folder()) {
        core::lineSettled(path);
        return;
    }
    indexOwing(lib, path, {{"mode", "file"}});
}

}  // namespace library
