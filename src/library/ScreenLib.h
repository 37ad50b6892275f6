#pragma once
// The screenshot library in memory: the entries read from the record store,
// an index by file name, and the operations that load, add, merge, age out,
// delete, save, search and count them. Works only while the setting
// "libEnabled" is on (loading, adding and saving do nothing otherwise).
//
// Threads: `recLock` guards `records` and the name index and is never held
// while calling out; loads run on a background queue, one at a time and
// never at the same time as an add, and a load started for an earlier folder
// never lands in a later one. Lock order: the save lock, then recLock, then
// the store's lock. Rewrites run one at a time; a line appended while one is
// under way is held back and written after it, so the rewrite cannot cover it.
//
// A write that fails leaves the entries in memory and the file behind them:
// the user is told once, and the next change writes what is missing (the
// lines whose append failed, or the whole file after a failed rewrite).
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "library/DataLayer.h"
#include "library/GrabData.h"
#include "library/WorkGuard.h"

namespace library {

struct LibFacet {
    int64_t count = 0;
    std::string name;
    bool operator==(const LibFacet&) const = default;
};

struct Facets {
    std::vector<LibFacet> months, objects, domains, mode, app;
};

class ScreenLib {
public:
    using Entry = std::shared_ptr<GrabData>;

    explicit ScreenLib(const std::string& folder, std::string keyText = {});
    virtual ~ScreenLib();
    // Waits for the background work on this library (load, save, walk, run)
    // and starts no more. The destructor does it; a subclass whose overrides
    // that work calls does it in its own destructor, before its part is gone.
    void stopWork();

    // Starts a load in the background; `onLoadEnd` then runs on the main thread.
    virtual void load();
    // Loads on the calling thread (tests, and the background body of load()).
    void loadNow();
    virtual void setFolder(const std::string& folder);
    virtual void rebuildFilenames();
    // Moves the files to the trash and forgets their entries; files without
    // an entry are left alone. The database is rewritten shortly after.
    virtual void deleteFiles(const std::vector<std::string>& paths);
    virtual Entry record(const std::string& filename) const;
    // A copy of the record of a file, taken under the record lock.
    std::optional<Record> contentOf(const std::string& filename) const;
    // Entries whose files are present (not gone).
    int64_t presentCount() const;
    // A new file name appends one line; a known one merges (new values win).
    virtual void addOrUpdate(const Entry& entry);
    virtual void dedup();
    // Folds a later entry of the same file name into the kept one; true when
    // the kept one changed.
    static bool mergeDuplicate(GrabData& kept, const GrabData& later);
    // Marks entries whose files are missing, brings back those found again,
    // forgets those missing for more than 30 days. True when a gone state flipped.
    // A walk of `forFolder` checks only while that is still the library's folder.
    virtual bool checkPresence(const std::set<std::string>& present, const std::string& forFolder = {});
    // Rewrites the database from the entries; returns once it is written.
    virtual void save();
    // For the end of the program: waits for a rewrite under way, then writes
    // what is still owed to the file (a rewrite put off after a deletion,
    // lines whose append failed); returns once it is written.
    void finishWrites();

    // Gallery tuples, newest first.
    virtual std::vector<LibObject> convertToLibObjects(const std::vector<Entry>& entries) const;
    // The newest "libLimit" entries whose recognised text holds the query, any case.
    virtual std::vector<LibObject> search(const std::string& query) const;
    virtual void recalcTopColors();
    virtual Facets calcFilters() const;

    // Ascending by time again and the name index rebuilt (the end of an index run).
    void sortAndReindex();
    std::vector<Entry> snapshot() const;
    std::vector<kit::Color> topColors() const;
    bool loaded() const { return loaded_; }
    // Waits while a load started by load() has not ended (and the library
    // still works); then whether the entries are loaded. What is added must
    // wait so: an entry added before the load would not be there after it.
    bool waitLoaded() const;
    std::string folder() const;

    // The indexer bound to this library.
    std::unique_ptr<class IndexMachine> indexMachine;

    std::function<void()> onLoadStart;
    std::function<void()> onLoadEnd;
    // The clock in seconds since 1970 (tests replace it).
    std::function<double()> now;
    // Tells the user (a title and a message), once for each spell in which
    // the file is behind the entries (tests replace it).
    std::function<void(const std::string&, const std::string&)> warn;

private:
    void rebuildFilenamesLocked();
    // Appends one stored line after those a failed append left, or holds it
    // back while a rewrite runs. Under recLock.
    void appendLocked(const std::string& line);
    // Whether the file lacks something the entries hold. Under recLock.
    bool behindLocked() const { return rewriteOwed_ || !unwritten_.empty(); }
    // After a write (under recLock): a spell of failures starts with a notice
    // and ends once the file has caught up.
    void noteWriteLocked(bool ok, const std::string& error);
    // The end of a rewrite, however it went: appends write again.
    void endRewrite(bool ok, const std::string& error);

    std::mutex saveLock_;  // one rewrite at a time
    mutable std::mutex recLock_;
    std::mutex opLock_;  // one load or add at a time
    DataLayer data_;
    std::map<std::string, size_t> filenames_;
    std::vector<Entry> records_;
    std::vector<kit::Color> topColors_;
    std::atomic<bool> loaded_{false};
    std::atomic<uint64_t> generation_{0};
    // While a rewrite runs (both under recLock): the lines appended meanwhile.
    bool rewriting_ = false;
    std::vector<std::string> heldAppends_;
    // Under recLock: lines whose append failed, whether a rewrite failed, and
    // whether the user has been told of the failures since the last catch-up.
    std::vector<std::string> unwritten_;
    bool rewriteOwed_ = false;
    bool writeFailing_ = false;
    // Under recLock: a deletion's rewrite is put off for a moment and not begun yet.
    bool saveDue_ = false;
    std::string folder_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // Loads started and not yet ended, and whether the work has stopped.
    mutable std::mutex loadWaitLock_;
    mutable std::condition_variable loadEnded_;
    int loadsPending_ = 0;
    bool stopped_ = false;
    WorkGuard work_;
};

}  // namespace library
