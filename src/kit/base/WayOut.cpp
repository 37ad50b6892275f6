#include "kit/base/WayOut.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace kit {

namespace {
using WayOutClock = std::chrono::steady_clock;
std::atomic<bool> g_begun{false};
// Where the deadlines count from, in steady clock ticks: the first ask, else
// the way out's beginning; 0 before either.
std::atomic<WayOutClock::rep> g_countsFrom{0};
static_assert(std::atomic<WayOutClock::rep>::is_always_lock_free, "set from a signal handler");
std::mutex g_tellersLock;
std::vector<std::function<void()>> g_tellers;  // under g_tellersLock

// The steady clock's reading without its wrapper: clock_gettime is
// async-signal-safe, and the steady clock reads the same monotonic clock.
WayOutClock::rep monotonicTicks() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto since = std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
    return std::chrono::duration_cast<WayOutClock::duration>(since).count();
}

// Sets where the deadlines count from, unless it is set; true when this set it.
bool countFromNow() {
    WayOutClock::rep none = 0;
    return g_countsFrom.compare_exchange_strong(none, monotonicTicks());
}

WayOutClock::time_point countedFrom() {
    return WayOutClock::time_point(WayOutClock::duration(g_countsFrom.load()));
}
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
        countFromNow();
        g_begun = true;
        ends.swap(g_ends);
    }
    // Innermost first: an outer wait is only left once the inner ones are.
    for (auto it = g_watches.rbegin(); it != g_watches.rend(); ++it) (*it)->end_();
    for (auto& end : ends) end();
}

bool wayOutAsked() {
    return countFromNow();
}

WayOutClock::time_point wayOutWritesDeadline() {
    if (g_countsFrom.load() == 0) return WayOutClock::time_point::max();
    return countedFrom() + kWayOutWritesWait;
}

WayOutClock::time_point wayOutHardEndAt() {
    if (g_countsFrom.load() == 0) return WayOutClock::time_point::max();
    return countedFrom() + kWayOutHardEnd;
}

void onHardEnd(std::function<void()> tell) {
    std::lock_guard lock(g_tellersLock);
    g_tellers.push_back(std::move(tell));
}

void runHardEndTellers() {
    std::vector<std::function<void()>> tellers;
    {
        std::lock_guard lock(g_tellersLock);
        tellers = g_tellers;
    }
    for (auto& tell : tellers) tell();
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
