#include "kit/base/ToolkitThreads.h"

#include <dlfcn.h>

#include <QThreadPool>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace kit {

namespace {

// The pools the toolkit's image work runs on: its global pool, and, in the
// versions that have one, a pool of its GUI module's own, which takes the
// bands of large conversions and scalings there. Found in the library
// loaded, so a toolkit newer than the one built against is held as well.
std::vector<QThreadPool*> imagePools() {
    std::vector<QThreadPool*> pools{QThreadPool::globalInstance()};
    using Instance = QThreadPool* (*)();
    if (const auto gui = reinterpret_cast<Instance>(
            ::dlsym(RTLD_DEFAULT,
                    "_ZN18QThreadPoolPrivate13qtGuiInstanceEv")))  // QThreadPoolPrivate::qtGuiInstance()
        if (QThreadPool* pool = gui(); pool && pool != pools.front()) pools.push_back(pool);
    return pools;
}

// Starts `count` threads in `pool` and keeps them; how many ran by `until`.
int hold(QThreadPool* pool, int count, std::chrono::steady_clock::time_point until) {
    pool->setExpiryTimeout(-1);
    pool->setMaxThreadCount(count);
    struct Meeting {
        std::mutex lock;
        std::condition_variable met;
        int arrived = 0;
        bool over = false;
    };
    const auto meeting = std::make_shared<Meeting>();
    // Each waits for the others, so each holds a thread of its own.
    for (int i = 0; i < count; ++i)
        pool->start([meeting, count] {
            std::unique_lock hold(meeting->lock);
            ++meeting->arrived;
            meeting->met.notify_all();
            meeting->met.wait(hold, [&] { return meeting->over || meeting->arrived == count; });
        });
    std::unique_lock hold(meeting->lock);
    meeting->met.wait_until(hold, until, [&] { return meeting->arrived == count; });
    meeting->over = true;
    meeting->met.notify_all();
    return meeting->arrived;
}

}  // namespace

int holdToolkitThreads(int count, std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    int fewest = count;
    for (QThreadPool* pool : imagePools()) fewest = std::min(fewest, hold(pool, count, until));
    return fewest;
}

}  // namespace kit
