#pragma once
// Threads: the main thread runs the Qt event loop; work is posted to it with
// dispatchMain. DispatchQueue is a serial background queue with its own
// thread; globalQueue() runs independent background work on a pool.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
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

// A thread started for fn, or none when the system gives no thread (a limit
// on processes or memory reached): then fn does not run, and the caller does
// without it (its work waits for a running thread, or its command fails).
// No start of a thread ends the program.
std::optional<std::thread> tryThread(Task fn);
// The same, detached: false when no thread could be had.
bool tryDetachedThread(Task fn);
// Runs fn(0) … fn(count - 1) at once, each on a thread of its own where one
// can be had and on the calling thread where not; returns when all have run.
void runInBands(int count, const std::function<void(int)>& fn);

// A serial queue: tasks run one at a time, in order, on the queue's thread.
// Where the system gives it no thread, its tasks wait for one (tried again
// from the main thread's loop until one is had): none is lost.
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
    // thread, fn runs at once (a serial queue waiting on itself would hang),
    // and so it does on a queue that has no thread and can get none (see
    // running()).
    void sync(const Task& fn);
    // Whether the queue has its thread, starting it now if it has none.
    bool running();
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

// A concurrent queue on a pool of threads that grows when every thread is
// busy. Where the system gives it no more threads, tasks wait for a running
// one; where it has none, the pool tries again from the main thread's loop
// until it has one: no task is lost.
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
