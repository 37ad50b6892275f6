#include "kit/base/ToolkitThreads.h"

#include <QThreadPool>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kit {

int holdToolkitThreads(int count) {
    QThreadPool* pool = QThreadPool::globalInstance();
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
    meeting->met.wait_for(hold, std::chrono::seconds(2), [&] { return meeting->arrived == count; });
    meeting->over = true;
    meeting->met.notify_all();
    return meeting->arrived;
}

}  // namespace kit
