#include "kit/base/Timer.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#include "kit/base/Dispatch.h"

namespace kit {
namespace {

// Qt timers on the main event loop. Scheduling and cancelling from another
// thread is forwarded to the main thread, in order.
class SystemClock : public Clock {
public:
    double now() const override {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    double wallNow() const override {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    uint64_t schedule(double delaySeconds, std::function<void()> fn) override {
        uint64_t id;
        {
            std::lock_guard lock(mutex_);
            id = ++nextId_;
        }
        double ms = std::clamp(std::ceil(std::max(0.0, delaySeconds) * 1000), 0.0, double(INT_MAX));
        auto create = [this, id, ms = int(ms), fn = std::move(fn)]() mutable {
            start(id, ms, std::move(fn));
        };
        if (isMainThread() && QCoreApplication::instance())
            create();
        else
            dispatchMain(std::move(create));
        return id;
    }
    void cancel(uint64_t id) override {
        if (isMainThread())
            stop(id);
        else
            dispatchMain([this, id] { stop(id); });
    }

private:
    // Main thread only.
    void start(uint64_t id, int ms, std::function<void()> fn) {
        auto* t = new QTimer;
        t->setSingleShot(true);
        t->setTimerType(Qt::PreciseTimer);
        QObject::connect(t, &QTimer::timeout, t, [this, id, t, fn = std::move(fn)] {
            {
                std::lock_guard lock(mutex_);
                timers_.erase(id);
            }
            t->deleteLater();
            fn();
        });
        {
            std::lock_guard lock(mutex_);
            timers_[id] = t;
        }
        t->start(ms);
    }
    void stop(uint64_t id) {
        QTimer* t = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto it = timers_.find(id);
            if (it == timers_.end()) return;
            t = it->second;
            timers_.erase(it);
        }
        t->stop();
        t->deleteLater();
    }

    std::mutex mutex_;
    uint64_t nextId_ = 0;
    std::map<uint64_t, QTimer*> timers_;
};

std::mutex gClockMutex;
std::shared_ptr<Clock> gCurrent;

}  // namespace

std::shared_ptr<Clock> Clock::system() {
    static std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

std::shared_ptr<Clock> Clock::current() {
    std::lock_guard lock(gClockMutex);
    return gCurrent ? gCurrent : system();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
    std::lock_guard lock(gClockMutex);
    gCurrent = std::move(clock);
}

// ---------------------------------------------------------------- ManualClock

struct ManualClock::State {
    struct Entry {
        double due;
        uint64_t id;  // increasing: also the order of scheduling
        std::function<void()> fn;
    };
    mutable std::mutex mutex;
    double now = 0;
    double wallOffset = 0;  // wall = now + wallOffset
    uint64_t nextId = 0;
    std::vector<Entry> entries;
};

ManualClock::ManualClock(double start, double wallStart) : state_(std::make_shared<State>()) {
    state_->now = start;
    state_->wallOffset = wallStart - start;
}

double ManualClock::now() const {
    std::lock_guard lock(state_->mutex);
    return state_->now;
}

double ManualClock::wallNow() const {
    std::lock_guard lock(state_->mutex);
    return state_->now + state_->wallOffset;
}

void ManualClock::pass(double seconds) {
    std::lock_guard lock(state_->mutex);
    state_->now += std::max(0.0, seconds);
}

void ManualClock::setWall(double wallSeconds) {
    std::lock_guard lock(state_->mutex);
    state_->wallOffset = wallSeconds - state_->now;
}

uint64_t ManualClock::schedule(double delaySeconds, std::function<void()> fn) {
    std::lock_guard lock(state_->mutex);
    uint64_t id = ++state_->nextId;
    state_->entries.push_back({state_->now + std::max(0.0, delaySeconds), id, std::move(fn)});
    return id;
}

void ManualClock::cancel(uint64_t id) {
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->entries, [id](const State::Entry& e) { return e.id == id; });
}

size_t ManualClock::pendingCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->entries.size();
}

void ManualClock::advance(double seconds) {
    double target;
    {
        std::lock_guard lock(state_->mutex);
        target = state_->now + std::max(0.0, seconds);
    }
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(state_->mutex);
            auto& es = state_->entries;
            auto it = std::min_element(es.begin(), es.end(), [](const auto& a, const auto& b) {
                return a.due < b.due || (a.due == b.due && a.id < b.id);
            });
            if (it == es.end() || it->due > target) break;
            state_->now = std::max(state_->now, it->due);
            fn = std::move(it->fn);
            es.erase(it);
        }
        fn();  // outside the lock: it may schedule or cancel
    }
    std::lock_guard lock(state_->mutex);
    state_->now = std::max(state_->now, target);
}

ManualClockScope::ManualClockScope(double start, double wallStart)
    : clock_(std::make_shared<ManualClock>(start, wallStart)), previous_() {
    {
        std::lock_guard lock(gClockMutex);
        previous_ = gCurrent;
    }
    Clock::setCurrent(clock_);
}

ManualClockScope::~ManualClockScope() {
    Clock::setCurrent(previous_);
}

// ---------------------------------------------------------------- Timer

struct Timer::State : std::enable_shared_from_this<Timer::State> {
    std::mutex mutex;
    std::shared_ptr<Clock> clock;
    double interval = 0;
    bool repeats = false;
    bool valid = true;
    uint64_t id = 0;
    std::function<void()> fn;

    void arm() {  // with mutex held
        std::weak_ptr<State> weak = shared_from_this();
        id = clock->schedule(interval, [weak] {
            if (auto self = weak.lock()) self->fire();
        });
    }
    void fire() {
        std::function<void()> call;
        {
            std::lock_guard lock(mutex);
            if (!valid) return;
            if (repeats)
                arm();  // before the call, so the callback may invalidate
            else
                valid = false;
            call = fn;
        }
        // Keep the state alive while the callback runs: it may drop its handle.
        auto keep = shared_from_this();
        call();
    }
};

Timer Timer::make(double seconds, bool repeats, std::function<void()> fn) {
    auto s = std::make_shared<Timer::State>();
    s->clock = Clock::current();
    s->interval = repeats ? std::max(seconds, 0.001) : std::max(seconds, 0.0);
    s->repeats = repeats;
    s->fn = std::move(fn);
    std::lock_guard lock(s->mutex);
    s->arm();
    return Timer(s);
}

Timer Timer::once(double seconds, std::function<void()> fn) {
    return make(seconds, false, std::move(fn));
}

Timer Timer::repeating(double seconds, std::function<void()> fn) {
    return make(seconds, true, std::move(fn));
}

void Timer::invalidate() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    if (!state_->valid) return;
    state_->valid = false;
    state_->clock->cancel(state_->id);
}

bool Timer::isValid() const {
    if (!state_) return false;
    std::lock_guard lock(state_->mutex);
    return state_->valid;
}

double Timer::interval() const {
    return state_ ? state_->interval : 0;
}

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        invalidate();
        state_ = std::move(other.state_);
    }
    return *this;
}

Timer::~Timer() {
    invalidate();
}

void dispatchMainAfter(double seconds, std::function<void()> fn) {
    Clock::current()->schedule(seconds, std::move(fn));
}

double monotonicNow() {
    return Clock::current()->now();
}
double wallNow() {
    return Clock::current()->wallNow();
}

}  // namespace kit
