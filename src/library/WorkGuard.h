#pragma once
// Background work on an object that must not outlive it: work wrapped here
// starts only while the guard is open, and closing the guard (in the owner's
// destructor) waits until no such work is running.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace library {

class WorkGuard {
public:
    // `fn` made to run only while the guard is open, counted while it runs.
    std::function<void()> wrap(std::function<void()> fn) const {
        return [s = state_, fn = std::move(fn)] {
            {
                std::lock_guard<std::mutex> g(s->m);
                if (!s->open) return;
                ++s->running;
            }
            fn();
            std::lock_guard<std::mutex> g(s->m);
            if (--s->running == 0) s->cv.notify_all();
        };
    }
    // No new work starts; returns once the work already running has ended.
    void close() {
        std::unique_lock<std::mutex> g(state_->m);
        state_->open = false;
        state_->cv.wait(g, [this] { return state_->running == 0; });
    }

private:
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool open = true;
        int running = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace library
