#pragma once
// The way out of the process, as the waits of the main thread see it. Once
// the application is asked to end, nothing holds the end back: every wait
// of the main thread ends at once without its answer (ending the program it
// waits for), and no new wait begins. A wait cut short so tells the user
// nothing and does no more work. Main thread only, except wayOutBegun(),
// onWayOut(), wayOutAsked(), the deadlines, onHardEnd() and
// waitUnlessWayOutEnds().
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace kit {

bool wayOutBegun();
// Ends every wait now running, then runs what was given to onWayOut; later
// calls do nothing.
void beginWayOut();
// Runs `end` as the way out begins, once the waits have ended, on the thread
// that begins it (the main thread). Given once the way out has begun, `end`
// runs at once on the thread that gives it, whichever that is: so `end`
// must be safe on any thread. For what outlives any one wait, such as the
// programs other threads start. Any thread.
void onWayOut(std::function<void()> end);

// Writes under way (a save, the library's file) are waited for this long
// once the end is asked for; a write stuck on a hung network folder is then
// left behind. The process ends a little later whatever still runs.
inline constexpr std::chrono::milliseconds kWayOutWritesWait{1500};
inline constexpr std::chrono::milliseconds kWayOutHardEnd{1800};
// The end is asked for (a termination signal came): the deadlines count from
// now, however late the main thread comes to begin the way out. The first
// ask counts. Async-signal-safe; true for the first ask.
bool wayOutAsked();
// When the way out stops waiting for writes, and when the process ends
// whatever still runs: counted from the first ask, else from the way out's
// beginning; the far future before either.
std::chrono::steady_clock::time_point wayOutWritesDeadline();
std::chrono::steady_clock::time_point wayOutHardEndAt();

// Runs `tell` at the hard end, on the thread that ends the process there
// (never the main thread, which may be what holds the end): to say in the
// log what the end leaves undone. The process ends a second later whatever
// `tell` does, so a lock a stuck thread holds costs only the telling. Any
// thread.
void onHardEnd(std::function<void()> tell);
// For the thread that keeps the hard end: runs what onHardEnd was given.
void runHardEndTellers();

// Waits on `cv` (its lock held in `lock`) until `done()`; once the way out
// has begun, no longer than its deadline for writes. Returns done().
template <class Done>
bool waitUnlessWayOutEnds(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Done done) {
    if (!wayOutBegun()) {
        cv.wait(lock, done);
        return true;
    }
    return cv.wait_until(lock, wayOutWritesDeadline(), done);
}

// Held by a wait of the main thread while it waits: `end` runs once, on the
// main thread, should the way out begin meanwhile. A wait asks wayOutBegun()
// before it starts.
class WayOutWatch {
public:
    explicit WayOutWatch(std::function<void()> end);
    ~WayOutWatch();
    WayOutWatch(const WayOutWatch&) = delete;
    WayOutWatch& operator=(const WayOutWatch&) = delete;

private:
    friend void beginWayOut();
    std::function<void()> end_;
};

}  // namespace kit
