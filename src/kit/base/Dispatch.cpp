#include "kit/base/Dispatch.h"

#include <sched.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace kit {
namespace {

// Static initialisation runs on the main thread.
const std::thread::id gMainThreadId = std::this_thread::get_id();

// Work posted before the application object exists, or after it is gone: a
// worker finishing while the process ends posts here, so neither is ever
// destroyed.
std::mutex& gEarlyMutex = *new std::mutex;
std::deque<Task>& gEarly = *new std::deque<Task>;

void runGuarded(const Task& fn, const char* where) {
    try {
        fn();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kit: task on %s threw: %s\n", where, e.what());
    } catch (...) {
        std::fprintf(stderr, "kit: task on %s threw\n", where);
    }
}

// Qt's event queue orders a posting before its running, but ThreadSanitizer
// cannot see inside Qt, so every handed-over task would read as a race. Under
// it, a lock of ours held while posting and taken before running shows the order.
#if defined(__SANITIZE_THREAD__)
std::mutex gHandOver;
using HandOverLock = std::unique_lock<std::mutex>;
HandOverLock handingOver() {
    return HandOverLock(gHandOver);
}
void takenOver() {
    std::lock_guard lock(gHandOver);
}
#else
struct HandOverLock {};
HandOverLock handingOver() {
    return {};
}
void takenOver() {}
#endif

void postToQt(QCoreApplication* app, Task fn) {
    [[maybe_unused]] HandOverLock lock = handingOver();
    QMetaObject::invokeMethod(
        app,
        [fn = std::move(fn)] {
            takenOver();
            runGuarded(fn, "main");
        },
        Qt::QueuedConnection);
}

// Moves early work into the Qt queue (in order) once the application exists.
void drainEarly(QCoreApplication* app) {
    std::deque<Task> early;
    {
        std::lock_guard lock(gEarlyMutex);
        early.swap(gEarly);
    }
    for (auto& fn : early) postToQt(app, std::move(fn));
}

// Tries `again` shortly, from the main thread's loop (at once where there is
// no application object: then the loop is turned by hand).
void retryLater(Task again) {
    constexpr int kRetryMs = 100;
    dispatchMain([again = std::move(again)] {
        if (auto* app = QCoreApplication::instance())
            QTimer::singleShot(kRetryMs, app, again);
        else
            again();
    });
}

}  // namespace

std::optional<std::thread> tryThread(Task fn) {
    try {
        return std::thread(std::move(fn));
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

bool tryDetachedThread(Task fn) {
    std::optional<std::thread> t = tryThread(std::move(fn));
    if (t) t->detach();
    return t.has_value();
}

void runInBands(int count, const std::function<void(int)>& fn) {
    std::vector<std::thread> helpers;
    int started = 1;
    for (; started < count; ++started) {
        std::optional<std::thread> t = tryThread([&fn, started] { fn(started); });
        if (!t) break;
        helpers.push_back(std::move(*t));
    }
    for (int band = started; band < count; ++band) fn(band);
    if (count > 0) fn(0);
    for (std::thread& t : helpers) t.join();
}

bool isMainThread() {
    if (auto* app = QCoreApplication::instance()) return QThread::currentThread() == app->thread();
    return std::this_thread::get_id() == gMainThreadId;
}

void dispatchMain(Task fn) {
    if (!fn) return;
    auto* app = QCoreApplication::instance();
    if (!app) {
        std::lock_guard lock(gEarlyMutex);
        gEarly.push_back(std::move(fn));
        return;
    }
    drainEarly(app);
    postToQt(app, std::move(fn));
}

// ---------------------------------------------------------------- DispatchQueue

struct DispatchQueue::State {
    std::string label;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Task> tasks;
    bool stopping = false;
    bool hasThread = false;
    std::thread thread;
    std::atomic<std::thread::id> threadId{};

    void loop() {
        for (;;) {
            Task task;
            {
                std::unique_lock lock(mutex);
                cv.wait(lock, [&] { return stopping || !tasks.empty(); });
                if (tasks.empty()) return;  // stopping and drained
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            runGuarded(task, label.c_str());
        }
    }

    // With the lock held.
    static bool startThread(const std::shared_ptr<State>& s) {
        if (s->hasThread) return true;
        std::optional<std::thread> t = tryThread([s] { s->loop(); });
        if (!t) return false;
        s->threadId = t->get_id();
        s->thread = std::move(*t);
        s->hasThread = true;
        return true;
    }

    // Tasks wait for a thread: tried again until one is had.
    static void startLater(const std::weak_ptr<State>& weak) {
        retryLater([weak] {
            const std::shared_ptr<State> s = weak.lock();
            if (!s) return;
            std::lock_guard lock(s->mutex);
            if (!s->stopping && !startThread(s)) startLater(weak);
        });
    }
};

DispatchQueue::DispatchQueue(std::string label) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    std::lock_guard lock(state_->mutex);
    State::startThread(state_);
}

DispatchQueue::~DispatchQueue() {
    std::deque<Task> neverRun;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        if (!state_->hasThread) neverRun.swap(state_->tasks);
    }
    // Queued on a queue that never had a thread: they run here, in order.
    for (const Task& task : neverRun) runGuarded(task, state_->label.c_str());
    if (!state_->hasThread) return;
    state_->cv.notify_all();
    // A task that destroys its own queue cannot wait for itself.
    if (std::this_thread::get_id() == state_->threadId.load())
        state_->thread.detach();
    else
        state_->thread.join();
}

const std::string& DispatchQueue::label() const {
    return state_->label;
}

bool DispatchQueue::isCurrent() const {
    return std::this_thread::get_id() == state_->threadId.load();
}

bool DispatchQueue::running() {
    std::lock_guard lock(state_->mutex);
    return State::startThread(state_);
}

void DispatchQueue::async(Task fn) {
    if (!fn) return;
    bool started = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->tasks.push_back(std::move(fn));
        started = State::startThread(state_);
    }
    if (started)
        state_->cv.notify_one();
    else
        State::startLater(state_);
}

void DispatchQueue::sync(const Task& fn) {
    if (!fn) return;
    if (isCurrent() || !running()) {
        fn();
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::exception_ptr error;
    async([&] {
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(m);
        done = true;
        cv.notify_one();
    });
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
    if (error) std::rethrow_exception(error);
}

// ---------------------------------------------------------------- GlobalQueue

namespace {

// Never destroyed: detached workers may still wait on it while the process exits.
struct Pool {
    static constexpr int kMaxThreads = 64;
    std::mutex mutex;
    std::condition_variable cv;
    std::condition_variable idleCv;  // a task ended
    std::deque<Task> tasks;
    int threads = 0;
    int idle = 0;
    int running = 0;
    bool closed = false;

    void worker() {
        std::unique_lock lock(mutex);
        for (;;) {
            ++idle;
            bool woke = cv.wait_for(lock, std::chrono::seconds(30), [&] { return closed || !tasks.empty(); });
            --idle;
            if (!woke || closed) {
                --threads;  // idle long enough, or the process is ending: let the pool shrink
                return;
            }
            Task task = std::move(tasks.front());
            tasks.pop_front();
            ++running;
            lock.unlock();
            runGuarded(task, "global queue");
            // The task's captures go before it counts as ended.
            task = nullptr;
            lock.lock();
            if (--running == 0) idleCv.notify_all();
        }
    }

    // A worker for a task that found none idle. Where none can be had the
    // task waits for a running worker; where none runs, for a later try.
    void startWorker() {
        if (tryDetachedThread([this] { worker(); })) return;
        bool none = false;
        {
            std::lock_guard lock(mutex);
            --threads;
            none = threads == 0 && !tasks.empty() && !closed;
        }
        if (none) retryLater([this] { grow(); });
    }

    void grow() {
        {
            std::lock_guard lock(mutex);
            if (closed || idle >= int(tasks.size()) || threads >= kMaxThreads) return;
            ++threads;
        }
        startWorker();
    }

    bool close(double waitSeconds) {
        std::unique_lock lock(mutex);
        closed = true;
        cv.notify_all();
        return idleCv.wait_for(lock, std::chrono::duration<double>(waitSeconds),
                               [&] { return running == 0; });
    }
};

Pool& pool() {
    static Pool* p = [] {
        auto* made = new Pool;
        // A program that returns from main destroys its static objects while
        // the pool's threads may be using them: no task runs past this point.
        std::atexit([] { pool().close(GlobalQueue::kCloseWaitSeconds); });
        return made;
    }();
    return *p;
}

}  // namespace

void GlobalQueue::async(Task fn) {
    if (!fn) return;
    Pool& p = pool();
    bool spawn = false;
    {
        std::lock_guard lock(p.mutex);
        if (p.closed) return;  // the process is ending
        p.tasks.push_back(std::move(fn));
        // Grow when every worker is busy, so long tasks never starve short ones.
        if (p.idle < int(p.tasks.size()) && p.threads < Pool::kMaxThreads) {
            ++p.threads;
            spawn = true;
        }
    }
    if (spawn)
        p.startWorker();
    else
        p.cv.notify_one();
}

bool GlobalQueue::close(double waitSeconds) {
    return pool().close(waitSeconds);
}

GlobalQueue& globalQueue() {
    static GlobalQueue q;
    return q;
}

// ---------------------------------------------------------------- main loop helpers

void processMainEvents() {
    auto* app = QCoreApplication::instance();
    if (!app) {
        std::deque<Task> early;
        {
            std::lock_guard lock(gEarlyMutex);
            early.swap(gEarly);
        }
        for (auto& fn : early) runGuarded(fn, "main");
        return;
    }
    drainEarly(app);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool runMainLoopUntil(const std::function<bool()>& pred, double timeoutSeconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    const qint64 limitMs = qint64(timeoutSeconds * 1000);
    auto* app = QCoreApplication::instance();
    if (!app) {
        while (!pred() && elapsed.elapsed() < limitMs) {
            processMainEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return pred();
    }
    drainEarly(app);
    // A ticking timer wakes the waiting loop so the predicate is checked often.
    QTimer tick;
    tick.start(5);
    while (!pred()) {
        if (elapsed.elapsed() >= limitMs) break;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return pred();
}

unsigned usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return unsigned(std::max(1, CPU_COUNT(&set)));
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace kit
