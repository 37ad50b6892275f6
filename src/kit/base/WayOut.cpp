#include "kit/base/WayOut.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace kit {

namespace {
std::atomic<bool> g_begun{false};
std::atomic<std::chrono::steady_clock::rep> g_begunAt{0};  // steady clock ticks, once begun
// The waits now running, innermost last.
std::vector<WayOutWatch*> g_watches;
std::mutex g_endsLock;
std::vector<std::function<void()>> g_ends;  // under g_endsLock, until the way out begins
}  // namespace

bool wayOutBegun() {
    return g_begun.load();
}

void beginWayOut() {
    std::vector<std::function<void()>> ends;
    {
        std::lock_guard lock(g_endsLock);
        if (g_begun) return;
        g_begunAt = std::chrono::steady_clock::now().time_since_epoch().count();
        g_begun = true;
        ends.swap(g_ends);
    }
    // Innermost first: an outer wait is only left once the inner ones are.
    for (auto it = g_watches.rbegin(); it != g_watches.rend(); ++it) (*it)->end_();
    for (auto& end : ends) end();
}

std::chrono::steady_clock::time_point wayOutWritesDeadline() {
    using Clock = std::chrono::steady_clock;
    if (!g_begun) return Clock::time_point::max();
    return Clock::time_point(Clock::duration(g_begunAt.load())) + kWayOutWritesWait;
}

void onWayOut(std::function<void()> end) {
    {
        std::lock_guard lock(g_endsLock);
        if (!g_begun) {
            g_ends.push_back(std::move(end));
            return;
        }
    }
    end();
}

WayOutWatch::WayOutWatch(std::function<void()> end) : end_(std::move(end)) {
    g_watches.push_back(this);
}

WayOutWatch::~WayOutWatch() {
    std::erase(g_watches, this);
}

}  // namespace kit
