#include "kit/base/WayOut.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace kit {

namespace {
std::atomic<bool> g_begun{false};
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
        if (g_begun.exchange(true)) return;
        ends.swap(g_ends);
    }
    // Innermost first: an outer wait is only left once the inner ones are.
    for (auto it = g_watches.rbegin(); it != g_watches.rend(); ++it) (*it)->end_();
    for (auto& end : ends) end();
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
