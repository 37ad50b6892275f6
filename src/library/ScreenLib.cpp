#include "library/ScreenLib.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "imaging/ColorMagic.h"
#include "kit/base/Dispatch.h"
#include "kit/base/TextCase.h"
#include "kit/base/Timer.h"
#include "kit/base/Trash.h"
#include "kit/base/WayOut.h"
#include "library/IndexMachine.h"
#include "library/PathNames.h"
#include "library/ThumbnailCache.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace library {

namespace {

constexpr int64_t kGoneForGood = 2592000;  // 30 days

std::string nameOf(const GrabData& g) {
    auto it = g.content.find("filename");
    return it == g.content.end() ? std::string() : it->second;
}

bool libEnabled() {
    return services::Settings::shared().libEnabled();
}

void stableSortByTs(std::vector<ScreenLib::Entry>& list, bool newestFirst) {
    std::stable_sort(list.begin(), list.end(),
                     [newestFirst](const ScreenLib::Entry& a, const ScreenLib::Entry& b) {
                         return newestFirst ? a->ts() > b->ts() : a->ts() < b->ts();
                     });
}

// A counting set that remembers the order values first came in.
// Its keys view the entries' facet keys, which stay put while the record lock is held.
struct Counter {
    std::unordered_map<std::string_view, size_t> index;
    std::vector<LibFacet> facets;
    void add(std::string_view v) {
        auto [it, fresh] = index.try_emplace(v, facets.size());
        if (fresh) facets.push_back({0, std::string(v)});
        ++facets[it->second].count;
    }

    std::vector<LibFacet> byCount() {
        std::stable_sort(facets.begin(), facets.end(), [](auto& a, auto& b) { return a.count > b.count; });
        return facets;
    }
};

// Whether a stored line is worth keeping for later rewrites: a sealed one (a
// record that could not be sealed is tried again at the next rewrite).
bool isSealedLine(const std::string& line) {
    return !line.empty() && line.front() != '{';
}

std::string monthTitle(const std::string& key) {
    static const char* names[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};
    int y = 0, m = 0;
    if (std::sscanf(key.c_str(), "%4d-%2d", &y, &m) != 2 || m < 1 || m > 12) return key;
    return std::string(names[m - 1]) + " " + std::to_string(y);
}

}  // namespace

ScreenLib::ScreenLib(const std::string& folder, std::string keyText)
    : data_(folder, std::move(keyText)), folder_(folder) {
    setLibFolderText(folder);
    indexMachine = std::make_unique<IndexMachine>(*this);
    now = [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
    warn = [](const std::string& title, const std::string& message) {
        // Posted, not shown here: the caller holds the record lock.
        kit::dispatchMain([title, message] { services::Notifier::shared().warning(title, message); });
    };
}

ScreenLib::~ScreenLib() {
    stopWork();
}

void ScreenLib::stopWork() {
    *alive_ = false;
    {
        std::lock_guard<std::mutex> g(loadWaitLock_);
        stopped_ = true;
    }
    loadEnded_.notify_all();
    work_.close();         // a load or save still running ends first
    indexMachine.reset();  // and so does a walk or run, which use this library
}

std::string ScreenLib::folder() const {
    std::lock_guard<std::mutex> g(recLock_);
    return folder_;
}

void ScreenLib::load() {
    if (!libEnabled()) return;
    loaded_ = false;
    if (onLoadStart) onLoadStart();
    {
        std::lock_guard<std::mutex> g(loadWaitLock_);
        ++loadsPending_;
    }
    std::weak_ptr<bool> alive = alive_;
    kit::globalQueue().async(work_.wrap([this, alive] {
        loadNow();
        {
            std::lock_guard<std::mutex> g(loadWaitLock_);
            --loadsPending_;
        }
        loadEnded_.notify_all();
        kit::dispatchMain([this, alive] {
            if (alive.lock() && onLoadEnd) onLoadEnd();
        });
    }));
}

bool ScreenLib::waitLoaded() const {
    std::unique_lock<std::mutex> g(loadWaitLock_);
    // On the way out a load stuck on a hung folder is not waited for past
    // the writes' time: the saves it would have recorded wait for the next
    // indexing.
    if (!kit::waitUnlessWayOutEnds(loadEnded_, g, [this] { return loadsPending_ == 0 || stopped_; }))
        return false;
    return loaded_;
}

void ScreenLib::loadNow() {
    std::lock_guard<std::mutex> op(opLock_);
    uint64_t generation = generation_;
    services::timerStart("Load Data");
    if (indexMachine) indexMachine->clearQueue();
    bool behind;
    {
        std::lock_guard<std::mutex> g(recLock_);
        behind = behindLocked();
    }
    // While the file is behind the entries it would take back what only they
    // hold: they stay, and the next change writes them. A file that could
    // not be read leaves them as they are too.
    const bool read = !behind && data_.read();
    // What searches and facets read is worked out now, on every core, rather
    // than by the first search under the record lock.
    std::vector<Entry> fresh(data_.records.size());
    inParallel(fresh.size(), 256, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            fresh[i] = std::make_shared<GrabData>(std::move(data_.records[i]));
            if (!data_.sealedLines[i].empty())
                fresh[i]->sealedLine = std::make_shared<const std::string>(std::move(data_.sealedLines[i]));
            fresh[i]->foldedOcr();
            fresh[i]->facetKeys();
        }
    });
    data_.records.clear();  // moved into the entries
    data_.sealedLines.clear();
    {
        std::lock_guard<std::mutex> g(recLock_);
        if (generation != generation_) return;  // the folder changed meanwhile
        if (read && !behindLocked()) records_ = std::move(fresh);
    }
    dedup();
    {
        std::lock_guard<std::mutex> g(recLock_);
        stableSortByTs(records_, false);
        rebuildFilenamesLocked();
    }
    recalcTopColors();
    loaded_ = true;
    services::timerLog("Load Data");
}

void ScreenLib::setFolder(const std::string& folder) {
    {
        std::lock_guard<std::mutex> g(recLock_);
        ++generation_;
        folder_ = folder;
        records_.clear();
        filenames_.clear();
        // What the old folder's file was behind on is no concern of the new one.
        unwritten_.clear();
        rewriteOwed_ = writeFailing_ = false;
    }
    setLibFolderText(folder);
    data_.setFolder(folder);
    load();
}

void ScreenLib::rebuildFilenamesLocked() {
    filenames_.clear();
    for (size_t i = 0; i < records_.size(); ++i) filenames_[nameOf(*records_[i])] = i;
}

void ScreenLib::rebuildFilenames() {
    std::lock_guard<std::mutex> g(recLock_);
    rebuildFilenamesLocked();
}

ScreenLib::Entry ScreenLib::record(const std::string& filename) const {
    std::lock_guard<std::mutex> g(recLock_);
    auto it = filenames_.find(filename);
    return it != filenames_.end() && it->second < records_.size() ? records_[it->second] : nullptr;
}

std::optional<Record> ScreenLib::contentOf(const std::string& filename) const {
    std::lock_guard<std::mutex> g(recLock_);
    auto it = filenames_.find(filename);
    if (it == filenames_.end() || it->second >= records_.size()) return std::nullopt;
    return records_[it->second]->content;
}

int64_t ScreenLib::presentCount() const {
    std::lock_guard<std::mutex> g(recLock_);
    return std::count_if(records_.begin(), records_.end(), [](const Entry& e) { return e->gone() == 0; });
}

void ScreenLib::addOrUpdate(const Entry& entry) {
    if (!libEnabled() || !entry) return;
    std::lock_guard<std::mutex> op(opLock_);
    std::unique_lock<std::mutex> g(recLock_);
    const std::string name = nameOf(*entry);
    auto it = filenames_.find(name);
    if (it != filenames_.end() && it->second < records_.size()) {
        Entry& old = records_[it->second];
        for (auto& [k, v] : entry->content) old->content[k] = v;
        old->invalidateCaches();
        old->foldedOcr();
        g.unlock();
        save();
        return;
    }
    entry->foldedOcr();
    records_.push_back(entry);
    filenames_[name] = records_.size() - 1;
    if (rewriteOwed_ && !rewriting_ && data_.knowsWholeFile()) {
        // A rewrite failed before: this change writes the whole file again.
        g.unlock();
        save();
        return;
    }
    std::string line = data_.encodeRec(entry->content);
    if (isSealedLine(line)) entry->sealedLine = std::make_shared<const std::string>(line);
    appendLocked(line);
}

void ScreenLib::appendLocked(const std::string& line) {
    if (rewriting_) {
        if (!line.empty()) heldAppends_.push_back(line);
        return;
    }
    if (!line.empty()) unwritten_.push_back(line);
    if (unwritten_.empty()) return;
    std::string text;
    for (auto& l : unwritten_) text += l;
    std::string error;
    const bool ok = data_.write(text, true, &error);
    if (ok) unwritten_.clear();
    noteWriteLocked(ok, error);
}

void ScreenLib::noteWriteLocked(bool ok, const std::string& error) {
    if (!behindLocked()) {
        writeFailing_ = false;
        return;
    }
    if (ok || writeFailing_) return;
    writeFailing_ = true;
    if (warn)
        warn("Can't write the screenshot library", "The library file in " + folder_ + " was not written: " +
                                                       error + ". It is tried again at the next change.");
}

namespace {

bool fromACapture(const GrabData& rec) {
    auto mode = rec.content.find("mode");
    return mode != rec.content.end() && !mode->second.empty() && mode->second != "file";
}

bool holdsText(const std::string& ocr) {
    return !ocr.empty() && ocr != "~";
}

}  // namespace

// What a later entry of the same name gives the kept one: its recognised
// text (with the domains read from it) where the kept one has none, its
// capture details where the kept one was only found as a file, and any key
// the kept one lacks.
bool ScreenLib::mergeDuplicate(GrabData& kept, const GrabData& later) {
    static const std::set<std::string> captureDetails = {"mode",    "ts",     "app", "window",
                                                         "objects", "labels", "dpr"};
    std::set<std::string> taken;
    if (fromACapture(later) && !fromACapture(kept)) taken = captureDetails;
    auto ocr = later.content.find("ocr");
    auto keptOcr = kept.content.find("ocr");
    if (ocr != later.content.end() && holdsText(ocr->second) &&
        (keptOcr == kept.content.end() || !holdsText(keptOcr->second)))
        taken.insert({"ocr", "domains"});
    bool changed = false;
    for (const std::string& key : taken) {
        auto theirs = later.content.find(key);
        if (theirs == later.content.end())
            changed |= kept.content.erase(key) > 0;
        else
            changed |= std::exchange(kept.content[key], theirs->second) != theirs->second;
    }
    for (const auto& [key, value] : later.content)
        if (!taken.count(key)) changed |= kept.content.emplace(key, value).second;
    return changed;
}

void ScreenLib::dedup() {
    services::timerStart("Dedup");
    size_t before, after;
    {
        std::lock_guard<std::mutex> g(recLock_);
        before = records_.size();
        // File names are compared exactly: "A.png" and "a.png" are two files here.
        // The first entry of a name stays and takes over what only a later one
        // holds: a file indexed again while its sealed line could not be read
        // (no libcrypto) comes first after a rewrite, and the capture details
        // (mode, application, window, drawn objects) are in the sealed one.
        std::map<std::string, GrabData*> first;
        for (auto& e : records_) {
            auto [at, isNew] = first.emplace(nameOf(*e), e.get());
            if (isNew) continue;
            e->deleteMePlease = true;
            if (mergeDuplicate(*at->second, *e)) at->second->invalidateCaches();
        }
        std::erase_if(records_, [](const Entry& e) { return e->deleteMePlease; });
        after = records_.size();
    }
    services::timerLog("Dedup");
    if (after < before) save();
}

bool ScreenLib::checkPresence(const std::set<std::string>& present, const std::string& forFolder) {
    bool changed = false, flipped = false;
    {
        std::lock_guard<std::mutex> g(recLock_);
        if (!forFolder.empty() && forFolder != folder_) return false;  // the folder changed during the walk
        const int64_t t = int64_t(std::llround(now()));
        for (auto& e : records_) {
            const std::string name = nameOf(*e);
            const bool here = present.count(name) > 0;
            if (!here && e->gone() == 0) {
                e->setGone(t);
                changed = flipped = true;
                std::printf("MARKED FOR DELETION  |   %s\n", name.c_str());
            } else if (here && e->gone() > 0) {
                e->setGone(0);
                changed = flipped = true;
                std::printf("RESURRECTED          |   %s\n", name.c_str());
            }
            if (e->gone() > 0 && t - e->gone() > kGoneForGood) {
                e->deleteMePlease = true;
                changed = true;
                std::printf("REMOVED FROM THE LIB |      %s\n", name.c_str());
            }
        }
        std::erase_if(records_, [](const Entry& e) { return e->deleteMePlease; });
        rebuildFilenamesLocked();
    }
    if (changed) save();
    return flipped;
}

void ScreenLib::deleteFiles(const std::vector<std::string>& paths) {
    size_t before, after;
    std::vector<std::string> failed, trashed;
    {
        std::lock_guard<std::mutex> g(recLock_);
        before = records_.size();
        for (auto& path : paths) {
            auto it = filenames_.find(baseName(path));
            if (it == filenames_.end() || it->second >= records_.size()) continue;
            std::string error;
            if (kit::moveToTrash(path, &error))
                records_[it->second]->deleteMePlease = true, trashed.push_back(path);
            else
                failed.push_back(baseName(path)),
                    services::Telemetry::shared().oops("delete(urls:)", "Deletion error: " + error);
        }
        std::erase_if(records_, [](const Entry& e) { return e->deleteMePlease; });
        rebuildFilenamesLocked();
        after = records_.size();
        if (after < before) saveDue_ = true;
    }
    // A trashed file's thumbnails go with it, as file managers do.
    for (auto& path : trashed) ThumbnailCache::shared().remove(path);
    for (auto& name : failed)
        services::Notifier::shared().warning("Failed to delete " + name, "Is file being used elsewhere?");
    if (after < before) {
        std::weak_ptr<bool> alive = alive_;
        kit::dispatchMainAfter(0.1, [this, alive] {
            if (alive.lock()) kit::globalQueue().async(work_.wrap([this] { save(); }));
        });
    }
}

void ScreenLib::save() {
    if (!libEnabled()) return;
    std::lock_guard<std::mutex> one(saveLock_);
    services::timerStart("lib:save");
    // An entry's stored line serves again while the entry is unchanged; only
    // the others are sealed anew.
    std::vector<std::shared_ptr<const std::string>> lines;
    std::vector<Entry> stale;
    std::vector<Record> staleContents;
    std::vector<size_t> staleAt;
    {
        std::lock_guard<std::mutex> g(recLock_);
        saveDue_ = false;
        lines.reserve(records_.size());
        for (auto& e : records_) {
            if (!e->sealedLine) {
                stale.push_back(e);
                staleContents.push_back(e->content);
                staleAt.push_back(lines.size());
            }
            lines.push_back(e->sealedLine);
        }
        rewriting_ = true;
    }
    bool ok = false;
    std::string error = "the rewrite was cut short";
    // However this ends, appends go to the file again, after what they held back.
    struct EndRewrite {
        ScreenLib& lib;
        const bool& ok;
        const std::string& error;
        ~EndRewrite() { lib.endRewrite(ok, error); }
    } end{*this, ok, error};

    // Sealed outside the record lock, on every core: searches need not wait.
    std::vector<std::shared_ptr<const std::string>> fresh(stale.size());
    inParallel(stale.size(), 512, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
            fresh[i] = std::make_shared<const std::string>(data_.encodeRec(staleContents[i]));
    });
    {
        std::lock_guard<std::mutex> g(recLock_);
        for (size_t i = 0; i < stale.size(); ++i) {
            lines[staleAt[i]] = fresh[i];
            // Kept for the entry while it still holds what was sealed.
            if (!stale[i]->sealedLine && isSealedLine(*fresh[i]) && stale[i]->content == staleContents[i])
                stale[i]->sealedLine = fresh[i];
        }
    }
    size_t bytes = 0;
    for (auto& l : lines) bytes += l ? l->size() : 0;
    std::string text;
    text.reserve(bytes);
    for (auto& l : lines)
        if (l) text += *l;
    ok = data_.write(text, false, &error);
    services::Telemetry::shared().repeatableEvent(
        "lib:save", {{"timer", services::timerElapsedText("lib:save")}, {"count", lines.size()}});
    services::timerLog("lib:save");
}

void ScreenLib::finishWrites() {
    if (!libEnabled()) return;
    bool due;
    {
        std::lock_guard<std::mutex> g(recLock_);
        due = saveDue_ || (rewriteOwed_ && data_.knowsWholeFile());
    }
    if (due) {
        save();
        return;
    }
    std::lock_guard<std::mutex> one(saveLock_);  // a rewrite under way writes what it held back as it ends
    std::lock_guard<std::mutex> g(recLock_);
    appendLocked({});
}

void ScreenLib::endRewrite(bool ok, const std::string& error) {
    std::lock_guard<std::mutex> g(recLock_);
    rewriting_ = false;
    // The file now holds every entry of the copy, lines whose append had failed included.
    if (ok) unwritten_.clear();
    rewriteOwed_ = !ok;
    noteWriteLocked(ok, error);
    // Entries added since the copy are not in the new file: their lines
    // follow it now, in the order they came.
    unwritten_.insert(unwritten_.end(), heldAppends_.begin(), heldAppends_.end());
    heldAppends_.clear();
    appendLocked({});
}

std::vector<LibObject> ScreenLib::convertToLibObjects(const std::vector<Entry>& entries) const {
    std::lock_guard<std::mutex> g(recLock_);
    services::timerStart("convertToLibObjects");
    std::vector<Entry> sorted = entries;
    stableSortByTs(sorted, true);
    std::vector<LibObject> out;
    for (auto& e : sorted)
        if (auto o = e->libObject()) out.push_back(*o);
    services::timerLog("convertToLibObjects");
    return out;
}

std::vector<LibObject> ScreenLib::search(const std::string& query) const {
    std::vector<Entry> kept;
    {
        std::lock_guard<std::mutex> g(recLock_);
        const std::string folded = kit::caseFolded(query);
        const int64_t limit = std::max<int64_t>(0, services::Settings::shared().libLimit());
        size_t first = records_.size() > size_t(limit) ? records_.size() - size_t(limit) : 0;
        if (!folded.empty())
            for (size_t i = first; i < records_.size(); ++i)
                if (records_[i]->foldedOcr().find(folded) != std::string::npos) kept.push_back(records_[i]);
        std::reverse(kept.begin(), kept.end());
    }
    return convertToLibObjects(kept);
}

void ScreenLib::recalcTopColors() {
    services::timerStart("Recalculate Global Top Colors");
    std::vector<std::string> hexes;
    {
        std::lock_guard<std::mutex> g(recLock_);
        for (auto& e : records_)
            for (auto& c : e->colors()) hexes.push_back(c);
    }
    auto top = imaging::ColorMagic::topColors(hexes, 8);
    std::string line;
    for (auto& c : top) line += imaging::ColorMagic::cg2hex(c) + " ";
    std::printf("%s\n", line.c_str());
    {
        std::lock_guard<std::mutex> g(recLock_);
        topColors_ = std::move(top);
    }
    services::timerLog("Recalculate Global Top Colors");
}

std::vector<kit::Color> ScreenLib::topColors() const {
    std::lock_guard<std::mutex> g(recLock_);
    return topColors_;
}

void ScreenLib::sortAndReindex() {
    std::lock_guard<std::mutex> g(recLock_);
    stableSortByTs(records_, false);
    rebuildFilenamesLocked();
}

std::vector<ScreenLib::Entry> ScreenLib::snapshot() const {
    std::lock_guard<std::mutex> g(recLock_);
    return records_;
}

Facets ScreenLib::calcFilters() const {
    std::lock_guard<std::mutex> g(recLock_);
    services::timerStart("calcFilters");
    Counter domains, objects, months, mode, app;
    for (auto& e : records_) {
        auto& k = e->facetKeys();
        for (auto& d : k.domains) domains.add(d);
        for (size_t i = 0; i < k.objects.size(); ++i) objects.add(std::string_view(k.objects).substr(i, 1));
        months.add(k.month);
        mode.add(k.mode);
        app.add(k.app);
    }
    Facets f;
    f.months = months.facets;
    std::stable_sort(f.months.begin(), f.months.end(), [](auto& a, auto& b) { return a.name > b.name; });
    for (auto& m : f.months) m.name = monthTitle(m.name);
    f.objects = objects.byCount();
    f.domains = domains.byCount();
    f.mode = mode.byCount();
    f.app = app.byCount();
    services::timerLog("calcFilters");
    return f;
}

}  // namespace library
