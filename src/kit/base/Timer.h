#pragma once
// Timers that fire on the main thread, driven by a clock that tests can
// replace. The system clock uses Qt timers on the main event loop; a
// ManualClock stands still until a test advances it, and then fires every
// timer that came due, in time order, on the advancing thread.
#include <cstdint>
#include <functional>
#include <memory>

namespace kit {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds (for intervals and elapsed times).
    virtual double now() const = 0;
    // Wall-clock seconds since 1970-01-01 00:00 UTC.
    virtual double wallNow() const = 0;
    // Calls fn once, about `delay` seconds from now (on the main thread for the
    // system clock). Returns an id for cancel().
    virtual uint64_t schedule(double delaySeconds, std::function<void()> fn) = 0;
    virtual void cancel(uint64_t id) = 0;

    // The clock new timers use: the system clock unless a test installed one.
    static std::shared_ptr<Clock> current();
    static void setCurrent(std::shared_ptr<Clock> clock);  // null restores the system clock
    static std::shared_ptr<Clock> system();
};

class ManualClock : public Clock {
public:
    explicit ManualClock(double start = 0, double wallStart = 1.7e9);
    double now() const override;
    double wallNow() const override;
    uint64_t schedule(double delaySeconds, std::function<void()> fn) override;
    void cancel(uint64_t id) override;
    // Moves time forward, firing due timers in order of due time (ties in
    // order of scheduling). A timer scheduled by a firing timer fires within
    // the same advance when it falls due before its end.
    void advance(double seconds);
    // Moves time forward firing nothing, as a main thread held up by a slow
    // call: what came due fires at the next advance, late.
    void pass(double seconds);
    void setWall(double wallSeconds);  // moves wall time only
    size_t pendingCount() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Installs a ManualClock for the lifetime of the guard (tests).
class ManualClockScope {
public:
    ManualClockScope(double start = 0, double wallStart = 1.7e9);
    ~ManualClockScope();
    ManualClockScope(const ManualClockScope&) = delete;
    ManualClockScope& operator=(const ManualClockScope&) = delete;
    ManualClock& clock() { return *clock_; }
    void advance(double seconds) { clock_->advance(seconds); }

private:
    std::shared_ptr<ManualClock> clock_;
    std::shared_ptr<Clock> previous_;
};

// A one-shot or repeating timer. The handle owns it: destroying or
// invalidating the handle stops it. Move-only.
class Timer {
public:
    Timer() = default;
    static Timer once(double seconds, std::function<void()> fn);
    // fn runs every `seconds` until invalidated; a non-positive interval is
    // taken as 1 ms so a repeating timer never spins.
    static Timer repeating(double seconds, std::function<void()> fn);

    void invalidate();
    // True while scheduled: false once a one-shot timer fired or after invalidate.
    bool isValid() const;
    double interval() const;

    Timer(Timer&&) noexcept = default;
    Timer& operator=(Timer&& other) noexcept;  // invalidates the old timer
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer();

private:
    struct State;
    explicit Timer(std::shared_ptr<State> s) : state_(std::move(s)) {}
    static Timer make(double seconds, bool repeats, std::function<void()> fn);
    std::shared_ptr<State> state_;
};

// Fire-and-forget: fn on the main thread after `seconds` of the current clock.
void dispatchMainAfter(double seconds, std::function<void()> fn);

// Seconds on the current clock (monotonic and wall time).
double monotonicNow();
double wallNow();

}  // namespace kit
