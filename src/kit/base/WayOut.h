#pragma once
// The way out of the process, as the waits of the main thread see it. Once
// the application is asked to end, nothing holds the end back: every wait
// of the main thread ends at once without its answer (ending the program it
// waits for), and no new wait begins. A wait cut short so tells the user
// nothing and does no more work. Main thread only, except wayOutBegun().
#include <functional>

namespace kit {

bool wayOutBegun();
// Ends every wait now running, then runs what was given to onWayOut; later
// calls do nothing.
void beginWayOut();
// Runs `end` on the main thread as the way out begins, once the waits have
// ended (at once, here, when it has begun): for what outlives any one wait,
// such as the programs other threads start. Any thread.
void onWayOut(std::function<void()> end);

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
