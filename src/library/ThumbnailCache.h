#pragma once
// The gallery's thumbnails: made on a small pool of worker threads at the
// size an item shows them, kept in a memory cache of a few dozen entries
// and on disk in the desktop's shared thumbnail cache (kit::thumbnails), so
// they survive restarts and file managers reuse them.
//
// Threads: request, cancel and the callbacks belong to the main thread;
// cached, remove and setCountLimit may be called from any thread. Requests
// wait in one queue, the highest priority first and among equal priorities
// the newest first, so what is on screen now is made before what scrolled by.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kit/base/Image.h"

namespace library {

class ThumbnailCache {
public:
    struct Options {
        std::string diskRoot;      // empty: the desktop's thumbnail folder
        int threads = 0;           // 0: up to 4, never more than the cores
        bool startPaused = false;  // queue requests until resume() (tests, benchmarks)
    };

    // The process-wide cache, made on first use.
    static ThumbnailCache& shared();

    ThumbnailCache();
    explicit ThumbnailCache(Options options);
    // Waits for the thumbnails being made; what still waits is dropped.
    ~ThumbnailCache();
    ThumbnailCache(const ThumbnailCache&) = delete;
    ThumbnailCache& operator=(const ThumbnailCache&) = delete;

    // What a request ends with. `image` is null unless the state is Ready.
    struct Result {
        enum class State { Ready, Failed };
        State state = State::Failed;
        kit::Image image;
        std::string error;  // why the file gave no thumbnail
    };
    using Callback = std::function<void(const Result&)>;
    using Token = uint64_t;  // 0 is never a request

    // A thumbnail of `path` whose longer side is at most pixelSize (not
    // enlarged). `done` runs later on the main thread, also for a memory
    // hit, unless the request is cancelled first.
    Token request(const std::string& path, int pixelSize, int priority, Callback done);
    // The request is dropped; its callback never runs. Unknown or finished
    // tokens are ignored.
    void cancel(Token token);

    // A thumbnail already in memory (null when there is none); it counts as
    // a use for the eviction order.
    kit::Image cached(const std::string& path, int pixelSize);
    // Forgets every size of the file, in memory and on disk: it was
    // replaced or removed.
    void remove(const std::string& path);

    // The most thumbnails kept in memory, the least recently used going
    // first; 0 or less keeps them all.
    void setCountLimit(int64_t limit);
    int64_t countLimit() const;
    size_t count() const;

    // Makes what waits (unless paused) and lets the workers go, returning
    // when none runs: a process that changes what every thread reads (its
    // environment) does it then. The next request starts them again.
    void settle();

    void resume();
    // Requests waiting for a worker (not counting those being made).
    size_t pending() const;
    const std::string& diskRoot() const;

private:
    void startWorkers();
    bool startWorker();
    struct State;
    std::shared_ptr<State> state_;
};

// Makes the settings' count-limit hook reach the shared cache and applies
// the current "libLimit" (at most 50 thumbnails in memory).
void installThumbnailCacheHook();

}  // namespace library
