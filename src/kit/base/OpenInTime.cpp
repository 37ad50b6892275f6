#include "kit/base/OpenInTime.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/InputWait.h"
#include "kit/base/WayOut.h"

namespace kit::files {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_held{0};

// One open, shared by its caller and its thread. A caller that gave up has
// left: what the thread opens then it closes itself.
struct Opening {
    Descriptor wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::atomic<bool> done{false};
    std::atomic<bool> stopped{false};  // by the caller's OpenStop
    std::mutex lock;
    bool givenUp = false;  // under the lock, as are the results
    Descriptor fd;
    long long size = 0;
    std::string why, looked;
};

void wakeUp(Opening& o) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t woken = ::write(o.wake.get(), &one, sizeof one);
}

void openOnItsThread(Opening& o, const std::string& path, size_t maxBytes, const LookAtOpenFile& look) {
    std::string why;
    Descriptor fd(openRegular(path, &why, maxBytes));
    long long size = 0;
    std::string looked;
    if (fd.valid()) {
        struct stat st {};
        if (::fstat(fd.get(), &st) == 0) size = st.st_size;
        bool givenUp = false;
        {
            std::lock_guard lock(o.lock);
            givenUp = o.givenUp;
        }
        // Late: no one wants what a look would find.
        if (!givenUp && look) looked = look(fd.get(), size);
    }
    {
        std::lock_guard lock(o.lock);
        if (o.givenUp) return;  // `fd` closes here, on this thread
        o.fd = std::move(fd);
        o.size = size;
        o.why = std::move(why);
        o.looked = std::move(looked);
        o.done = true;
    }
    wakeUp(o);
}

OpenInTime failed(OpenOutcome outcome, std::string why) {
    OpenInTime out;
    out.outcome = outcome;
    out.why = std::move(why);
    return out;
}

}  // namespace

void OpenStop::stop() {
    std::function<void()> wake;
    {
        std::lock_guard lock(lock_);
        stopped_ = true;
        wake = std::move(wake_);
    }
    if (wake) wake();
}

bool OpenStop::attach(std::function<void()> wake) {
    std::lock_guard lock(lock_);
    if (stopped_) return false;
    wake_ = std::move(wake);
    return true;
}

void OpenStop::detach() {
    std::lock_guard lock(lock_);
    wake_ = nullptr;
}

int opensHeld() {
    return g_held;
}

OpenInTime openInTime(const std::string& path, size_t maxBytes, Clock::time_point until, LookAtOpenFile look,
                      OpenStop* stop) {
    if (wayOutBegun()) return failed(OpenOutcome::cancelled, kOpenGivenUp);
    if (Clock::now() >= until) return failed(OpenOutcome::timeUp, kFolderTooSlow);
    auto opening = std::make_shared<Opening>();
    if (!opening->wake.valid()) return failed(OpenOutcome::refused, std::strerror(errno));
    // Stopped before it began, it begins nothing.
    if (stop && !stop->attach([opening] {
            opening->stopped = true;
            wakeUp(*opening);
        }))
        return failed(OpenOutcome::stopped, kOpenStopped);
    struct Detach {
        OpenStop* stop;
        ~Detach() {
            if (stop) stop->detach();
        }
    } const detach{stop};
    if (g_held.fetch_add(1) >= kMostOpensHeld) {
        --g_held;
        return failed(OpenOutcome::tooManyHeld, kTooManyOpensHeld);
    }
    const bool started = tryDetachedThread([opening, path, maxBytes, look = std::move(look)] {
        openOnItsThread(*opening, path, maxBytes, look);
        --g_held;
    });
    if (!started) {
        --g_held;
        return failed(OpenOutcome::noThread, kNoThreadToOpen);
    }
    const InputWait waited = awaitInput(opening->wake.get(), until,
                                        [&] { return opening->done.load() || opening->stopped.load(); });
    std::lock_guard lock(opening->lock);
    // An answer that came as the wait ran out is taken all the same; one
    // nobody wants any more is not.
    if (opening->stopped || !opening->done || waited == InputWait::cancelled) {
        opening->givenUp = true;
        if (opening->stopped) return failed(OpenOutcome::stopped, kOpenStopped);
        return waited == InputWait::cancelled ? failed(OpenOutcome::cancelled, kOpenGivenUp)
                                              : failed(OpenOutcome::timeUp, kFolderTooSlow);
    }
    OpenInTime out;
    out.outcome = opening->fd.valid() ? OpenOutcome::opened : OpenOutcome::refused;
    out.fd = std::move(opening->fd);
    out.size = opening->size;
    out.why = std::move(opening->why);
    out.looked = std::move(opening->looked);
    return out;
}

}  // namespace kit::files
