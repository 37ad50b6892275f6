#include "library/ThumbnailCache.h"

#include <algorithm>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kit/base/Dispatch.h"
#include "kit/image/Thumbnails.h"
#include "services/AppHooks.h"
#include "services/Settings.h"

namespace library {

namespace th = kit::thumbnails;

namespace {

// The largest size the shared disk cache keeps; bigger requests get it.
const int kLargestPixels = th::pixelsOf(th::Flavor::XXLarge);

std::string keyOf(const std::string& path, int pixelSize) {
    return path + '\n' + std::to_string(pixelSize);
}

ThumbnailCache::Result failed(std::string why) {
    return {ThumbnailCache::Result::State::Failed, {}, std::move(why)};
}

int workerCount(int asked) {
    if (asked > 0) return asked;
    const int cores = int(kit::usableCores());
    return std::clamp(cores, 1, 4);
}

}  // namespace

struct ThumbnailCache::State {
    struct Job {
        Token token = 0;
        std::string path;
        int pixelSize = 0;
        Callback done;
    };
    // Highest priority first; among equals the newest (largest number) first.
    using Order = std::pair<int, uint64_t>;

    std::string root;
    mutable std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    bool paused = false;
    uint64_t lastToken = 0;
    std::map<Order, Job, std::greater<Order>> queue;
    std::unordered_map<Token, Order> queued;
    // Requests whose callback may still run (queued, being made or posted).
    std::unordered_set<Token> live;
    std::vector<std::thread> workers;
    // How many workers make thumbnails; settle() retires those of earlier
    // rounds once nothing waits, and a request after it starts them again.
    int wanted = 1;
    uint64_t round = 0;

    // The memory cache: most recently used first.
    struct Entry {
        std::string key;
        std::string path;
        kit::Image image;
    };
    std::list<Entry> entries;
    std::unordered_map<std::string, std::list<Entry>::iterator> index;
    int64_t limit = 0;
    // How often each file was removed, so a thumbnail made from the old
    // file before a removal does not come back into memory after it.
    std::unordered_map<std::string, uint64_t> removals;

    void trim() {
        while (limit > 0 && int64_t(entries.size()) > limit) {
            index.erase(entries.back().key);
            entries.pop_back();
        }
    }

    kit::Image lookup(const std::string& key) {
        auto it = index.find(key);
        if (it == index.end()) return {};
        entries.splice(entries.begin(), entries, it->second);
        return it->second->image;
    }

    void insert(const std::string& key, const std::string& path, const kit::Image& image) {
        if (auto it = index.find(key); it != index.end()) {
            it->second->image = image;
            entries.splice(entries.begin(), entries, it->second);
            return;
        }
        entries.push_front({key, path, image});
        index[key] = entries.begin();
        trim();
    }

    uint64_t removalCount(const std::string& path) const {
        auto it = removals.find(path);
        return it == removals.end() ? 0 : it->second;
    }

    // Disk first; the original is decoded only when the disk has nothing
    // current, and what it gives is written back for the next time.
    Result make(const std::string& path, int pixelSize) const {
        const auto mtime = th::modificationTime(path);
        if (!mtime) return failed("The file is not there.");
        const th::Flavor flavor = th::flavorFor(pixelSize);
        th::Lookup onDisk = th::read(root, flavor, path, *mtime);
        if (onDisk.state == th::Lookup::State::Fresh)
            return {Result::State::Ready, th::fitWithin(onDisk.image, pixelSize), {}};
        if (th::hasFailure(root, path, *mtime)) return failed("The file could not be read as an image.");
        std::string error;
        int width = 0, height = 0;
        kit::Image thumb = th::decodeScaled(path, th::pixelsOf(flavor), &error, &width, &height);
        if (thumb.isNull()) {
            th::writeFailure(root, path, *mtime);
            return failed(error.empty() ? "The file could not be read as an image." : error);
        }
        th::write(root, flavor, path, *mtime, thumb, width, height);
        return {Result::State::Ready, th::fitWithin(thumb, pixelSize), {}};
    }

    static void post(const std::shared_ptr<State>& self, Token token, Callback done, Result result) {
        std::weak_ptr<State> weak = self;
        kit::dispatchMain([weak, token, done = std::move(done), result = std::move(result)] {
            auto s = weak.lock();
            if (!s) return;
            {
                std::lock_guard g(s->lock);
                if (!s->live.erase(token)) return;  // cancelled meanwhile
            }
            if (done) done(result);
        });
    }

    static void work(const std::shared_ptr<State>& self, uint64_t round) {
        for (;;) {
            Job job;
            uint64_t removedBefore = 0;
            kit::Image hit;
            {
                std::unique_lock g(self->lock);
                const auto idle = [&] { return self->paused || self->queue.empty(); };
                self->wake.wait(g, [&] { return self->stopping || self->round != round || !idle(); });
                if (self->stopping || (self->round != round && idle())) return;
                auto first = self->queue.begin();
                job = std::move(first->second);
                self->queued.erase(job.token);
                self->queue.erase(first);
                removedBefore = self->removalCount(job.path);
                // An earlier request for the same picture may have made it.
                hit = self->lookup(keyOf(job.path, job.pixelSize));
            }
            Result result = hit ? Result{Result::State::Ready, hit, {}} : self->make(job.path, job.pixelSize);
            bool removedMeanwhile = false;
            {
                std::lock_guard g(self->lock);
                if (self->stopping) return;
                removedMeanwhile = self->removalCount(job.path) != removedBefore;
                if (!hit && result.state == Result::State::Ready && !removedMeanwhile)
                    self->insert(keyOf(job.path, job.pixelSize), job.path, result.image);
            }
            // What was written for the file may come from before it was
            // replaced; remove() counts before it deletes, so this catches
            // a write that landed after its delete.
            if (removedMeanwhile && !hit) th::removeAll(self->root, job.path);
            post(self, job.token, std::move(job.done), std::move(result));
        }
    }
};

ThumbnailCache& ThumbnailCache::shared() {
    static ThumbnailCache cache;
    return cache;
}

ThumbnailCache::ThumbnailCache() : ThumbnailCache(Options{}) {}

ThumbnailCache::ThumbnailCache(Options options) : state_(std::make_shared<State>()) {
    state_->root = options.diskRoot.empty() ? th::defaultRoot() : options.diskRoot;
    state_->paused = options.startPaused;
    state_->wanted = workerCount(options.threads);
    startWorkers();
}

void ThumbnailCache::startWorkers() {
    for (int i = 0; i < state_->wanted && startWorker(); ++i) {
    }
}

// False when the system gives no thread (a limit on processes reached).
bool ThumbnailCache::startWorker() {
    std::optional<std::thread> worker =
        kit::tryThread([s = state_, round = state_->round] { State::work(s, round); });
    if (worker) state_->workers.push_back(std::move(*worker));
    return worker.has_value();
}

void ThumbnailCache::settle() {
    std::vector<std::thread> leaving;
    {
        std::lock_guard g(state_->lock);
        ++state_->round;
        leaving.swap(state_->workers);
    }
    state_->wake.notify_all();
    for (auto& t : leaving) t.join();
}

ThumbnailCache::~ThumbnailCache() {
    {
        std::lock_guard g(state_->lock);
        state_->stopping = true;
        state_->queue.clear();
        state_->queued.clear();
        state_->live.clear();
    }
    state_->wake.notify_all();
    for (auto& t : state_->workers) t.join();
}

ThumbnailCache::Token ThumbnailCache::request(const std::string& path, int pixelSize, int priority,
                                              Callback done) {
    pixelSize = std::clamp(pixelSize, 1, kLargestPixels);
    Token token = 0;
    kit::Image hit;
    bool noWorker = false;
    {
        std::lock_guard g(state_->lock);
        token = ++state_->lastToken;
        state_->live.insert(token);
        hit = state_->lookup(keyOf(path, pixelSize));
        // Without a worker (none could be started so far, or settle() let
        // them go) the request would wait for ever: they are started again,
        // and without one the thumbnail fails.
        if (!hit && state_->workers.empty()) startWorkers();
        noWorker = !hit && state_->workers.empty();
        if (!hit && !noWorker) {
            const State::Order order{priority, token};
            state_->queue.emplace(order, State::Job{token, path, pixelSize, std::move(done)});
            state_->queued.emplace(token, order);
        }
    }
    if (hit)
        State::post(state_, token, std::move(done), {Result::State::Ready, hit, {}});
    else if (noWorker)
        State::post(state_, token, std::move(done), failed("no thread could be started to make it"));
    else
        state_->wake.notify_one();
    return token;
}

void ThumbnailCache::cancel(Token token) {
    std::lock_guard g(state_->lock);
    state_->live.erase(token);
    if (auto it = state_->queued.find(token); it != state_->queued.end()) {
        state_->queue.erase(it->second);
        state_->queued.erase(it);
    }
}

kit::Image ThumbnailCache::cached(const std::string& path, int pixelSize) {
    std::lock_guard g(state_->lock);
    return state_->lookup(keyOf(path, std::clamp(pixelSize, 1, kLargestPixels)));
}

void ThumbnailCache::remove(const std::string& path) {
    {
        std::lock_guard g(state_->lock);
        ++state_->removals[path];
        for (auto it = state_->entries.begin(); it != state_->entries.end();) {
            if (it->path == path) {
                state_->index.erase(it->key);
                it = state_->entries.erase(it);
            } else {
                ++it;
            }
        }
    }
    th::removeAll(state_->root, path);
}

void ThumbnailCache::setCountLimit(int64_t limit) {
    std::lock_guard g(state_->lock);
    state_->limit = std::max<int64_t>(limit, 0);
    state_->trim();
}

int64_t ThumbnailCache::countLimit() const {
    std::lock_guard g(state_->lock);
    return state_->limit;
}

size_t ThumbnailCache::count() const {
    std::lock_guard g(state_->lock);
    return state_->entries.size();
}

void ThumbnailCache::resume() {
    {
        std::lock_guard g(state_->lock);
        state_->paused = false;
        if (state_->workers.empty() && !state_->queue.empty()) startWorkers();
    }
    state_->wake.notify_all();
}

size_t ThumbnailCache::pending() const {
    std::lock_guard g(state_->lock);
    return state_->queue.size();
}

const std::string& ThumbnailCache::diskRoot() const {
    return state_->root;
}

void installThumbnailCacheHook() {
    services::updateAppHooks([](services::AppHooks& hooks) {
        hooks.setThumbnailCacheLimit = [](int64_t limit) { ThumbnailCache::shared().setCountLimit(limit); };
    });
    ThumbnailCache::shared().setCountLimit(std::min<int64_t>(services::Settings::shared().libLimit(), 50));
}

}  // namespace library
