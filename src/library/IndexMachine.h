#pragma once
// Keeps the library database in step with the library folder: a scan walks
// the folder, lets the model mark missing files and queues the images without
// a complete record, newest names first; an indexing run then analyses them
// strictly one after the other on a background worker (size, recognised text,
// web domains, dominant and average colours; each file's image is freed before
// the next is read) and reports its progress. Single
// files are indexed on request: a screenshot just saved, with the facts of its
// capture, or a library file saved again under its name.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kit/base/Image.h"
#include "library/GrabData.h"
#include "library/WorkGuard.h"

namespace library {

class ScreenLib;

class IndexMachine {
public:
    explicit IndexMachine(ScreenLib& lib);
    virtual ~IndexMachine();
    // Ends the work in the background: a run ends after the file in hand,
    // and nothing starts again. A subclass whose overrides that work calls
    // ends it in its own destructor, before its part of the object goes.
    void stopWork();

    // Walks the folder in the background; with `indexToo` an indexing run
    // follows, otherwise `onReady(queued, changed)` runs on the main thread.
    virtual void scan(bool indexToo, std::function<void(int, bool)> onReady = {});
    // The walk itself, on the calling thread (the background body of scan).
    void walk(bool indexToo, std::function<void(int, bool)> onReady);
    virtual void indexQueue();
    virtual void indexFile(const std::string& path, const std::map<std::string, std::string>& dict);
    virtual void reindexFile(const std::string& path);
    virtual void analyzeFile(const std::string& path, const std::shared_ptr<GrabData>& rec, bool forced);
    // The analysis alone: the filled copy of `rec`, or null when the image
    // cannot be read. Stores nothing.
    std::shared_ptr<GrabData> analyze(const std::string& path, const std::shared_ptr<GrabData>& rec,
                                      bool forced);
    // The entry of a file as indexFile() would store it, without the
    // analysis (no text, no colours): what the end of the program stores for
    // a save whose analysis has not ended; the next walk queues it again.
    // Null where indexFile() would store nothing.
    std::shared_ptr<GrabData> entryBeforeAnalysis(const std::string& path,
                                                  const std::map<std::string, std::string>& dict);
    // Empties the queue (a new load).
    void clearQueue();
    // A file a save hands over for indexing, from the hand-over until its
    // indexing ends: a walk meanwhile leaves it to that indexing instead of
    // offering it as a new file.
    void handOver(const std::string& path);
    void takeBack(const std::string& path);
    // The walk's queue as the offer to add files reads it: without what a
    // save handed over since the walk listed the folder, and empty while a
    // save is still to hand its file over. The number of files left.
    int settleQueue(bool saving);

    // (done, total, remaining-time text, stop requested); total 0 when a run ends.
    std::function<void(int, int, std::string, bool)> statusUpdate;
    std::atomic<bool> pleaseStop{false};
    std::atomic<bool> indexInitiated{false}, indexInProgress{false}, scanInProgress{false};
    std::atomic<int> queuedFiles{0}, availableFiles{0}, processedFiles{0};
    std::vector<std::string> queue() const;
    // Why the last walk could not list the folder ("" when it could).
    std::string walkError() const;

    // The recognised text of an image, "~" when the recogniser read none (or
    // failed on it), "" when no recogniser could be started at all; waits at
    // most `timeout` seconds.
    // Recognition runs on a pool of at most kRecognisers threads that keep
    // their engines loaded; a recognition that overruns its wait keeps its
    // thread, and later ones wait for a free thread rather than adding more.
    static constexpr int kRecognisers = 2;
    static std::string ocrWithTimeout(const kit::Image& image, double timeout = 100);
    // The hosts of the web addresses in a text, one per line, lower case,
    // without a leading "www.".
    static std::string findDomains(const std::string& text);
    static std::vector<std::string> colorHexes(const kit::Image& image);
    static kit::Color getAvgColor(const kit::Image& image);
    // The run's remaining-time text ("9m", "25s", "2h", or empty).
    static std::string etaText(int processed, int queued, double elapsedSeconds);

private:
    // A new entry with the capture facts and time, before the analysis; null
    // while the library is off or not loaded.
    std::shared_ptr<GrabData> prepareEntry(const std::string& path,
                                           const std::map<std::string, std::string>& dict);
    // The capture facts a queued file is indexed with.
    std::map<std::string, std::string> queuedFacts(const std::string& path) const;
    void runLoop();
    void report(int done);
    void finish();
    // A scan that was to index but starts no run: the view hears the run is over.
    void endRunNotStarted();

    ScreenLib& lib_;
    mutable std::mutex queueLock_;
    std::mutex scanLock_;
    std::vector<std::string> filesQueue_;
    std::string walkError_;                  // under queueLock_
    std::multiset<std::string> handedOver_;  // under queueLock_
    int64_t indexStarted_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    WorkGuard work_;
};

}  // namespace library
