#pragma once
// The screenshot library as the application core sees it: made for the save
// folder at start-up, loaded and scanned when the library is on, and told of
// every screenshot saved into the folder so it is indexed at once.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/AppHost.h"
#include "library/ScreenLib.h"

namespace library {

class LibraryLink : public core::LibraryHost {
public:
    static LibraryLink& shared();

    bool exists() const override;
    bool busy() const override;
    void create(const std::string& folder) override;
    void setFolder(const std::string& folder) override;
    void connectLibrary() override;
    void indexSavedFile(const std::string& path, const std::map<std::string, std::string>& facts) override;
    void indexSavedAsFile(const std::string& path) override;
    void saveStarting() override { ++savesInFlight_; }
    void saveEnded() override { --savesInFlight_; }
    // Saves between saveStarting and saveEnded: a walk meanwhile may have
    // listed a file that is about to be handed over for indexing.
    int savesInFlight() const { return savesInFlight_; }

    // The current library model; null before a folder is known.
    std::shared_ptr<ScreenLib> library() const;
    // For the end of the program: every save handed over whose indexing has
    // not ended gets its line now, with the facts of its capture but without
    // the analysis, and whatever the library still owes its file is written.
    void finishWrites();
    // Saves handed over whose indexing has not ended yet.
    size_t indexingSaves() const;

private:
    // A save is owed its line from the hand-over until its indexing ends.
    void indexOwing(const std::shared_ptr<ScreenLib>& lib, const std::string& path,
                    const std::map<std::string, std::string>& facts);
    // The library view shows what was just indexed.
    static void refreshView();

    mutable std::mutex lock_;
    std::shared_ptr<ScreenLib> lib_;
    std::atomic<int> savesInFlight_{0};
    mutable std::mutex owedLock_;
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> owed_;  // under owedLock_
};

}  // namespace library
