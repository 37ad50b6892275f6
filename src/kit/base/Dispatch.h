#pragma once
// Threads: the main thread runs the Qt event loop; work is posted to it with
// dispatchMain. DispatchQueue is a serial background queue with its own
// thread; globalQueue() runs independent background work on a pool.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace kit {

using Task = std::function<void()>;

// Posts fn to the main thread's event loop; it runs later, in posting order,
// even when called on the main thread. Work posted before the application
// object exists runs once the loop first turns (or processMainEvents runs).
void dispatchMain(Task fn);
bool isMainThread();

// The cores this process may run on (its CPU affinity, which taskset, cgroups'
// cpusets and containers narrow), at least 1. Work split among threads is
// sized by this, never by the machine's core count.
unsigned usableCores();

// A serial queue: tasks run one at a time, in order, on the queue's thread.
class DispatchQueue {
public:
    explicit DispatchQueue(std::string label);
    // Runs what is already queued, then stops the thread.
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const;
    void async(Task fn);
    // Runs fn on the queue and waits for it. Called from the queue's own
    // thread, fn runs at once (a serial queue waiting on itself would hang).
    void sync(const Task& fn);
    template <class F>
    auto syncResult(F&& fn) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<R>) {
            sync(std::forward<F>(fn));
        } else {
            std::optional<R> out;
            sync([&] { out.emplace(fn()); });
            return std::move(*out);
        }
    }
    bool isCurrent() const;  // true on this queue's thread

private:
    struct State;
    std::shared_ptr<State> state_;
};

// A concurrent queue on a pool of threads that grows when every thread is busy.
class GlobalQueue {
public:
    // Dropped once the queue is closed.
    void async(Task fn);
    // For the end of the process: no task starts from now on, and this waits
    // up to waitSeconds for the ones running. Returns whether they all ended.
    // Runs by itself at exit; a program ends it sooner to leave its static
    // objects to no worker.
    bool close(double waitSeconds = kCloseWaitSeconds);
    static constexpr double kCloseWaitSeconds = 2;
};
GlobalQueue& globalQueue();

// For tests and nested waits on the main thread: run pending events once, or
// until pred() is true or the time-out passes (returns pred()'s last value).
void processMainEvents();
bool runMainLoopUntil(const std::function<bool()>& pred, double timeoutSeconds);

}  // namespace kit
