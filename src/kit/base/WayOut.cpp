#include "kit/base/WayOut.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace kit {

namespace {
std::atomic<bool> g_begun{false};
// The waits now running, innermost last.
std::vector<WayOutWatch*> g_watches;
}  // namespace

bool wayOutBegun() {
    return g_begun.load();
}

void beginWayOut() {
    if (g_begun.exchange(true)) return;
    // Innermost first: an outer wait is only left once the inner ones are.
    for (auto it = g_watches.rbegin(); it != g_watches.rend(); ++it) (*it)->end_();
}

WayOutWatch::WayOutWatch(std::function<void()> end) : end_(std::move(end)) {
    g_watches.push_back(this);
}

WayOutWatch::~WayOutWatch() {
    std::erase(g_watches, this);
}

}  // namespace kit
