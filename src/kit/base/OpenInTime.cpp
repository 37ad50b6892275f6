#include "kit/base/OpenInTime.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/InputWait.h"
#include "kit/base/WayOut.h"

namespace kit::files {

namespace {

using Clock = std::chrono::steady_clock;

// Opens running on threads of their own, by file system: a folder that
// does not answer holds the slots of its own file system only.
struct Held {
    std::mutex lock;
    std::map<std::string, int> on;  // under the lock; no entry for none
};

Held& held() {
    static Held* h = new Held;  // threads left in an open may outlive the statics
    return *h;
}

bool takeSlot(const std::string& fileSystem) {
    Held& h = held();
    std::lock_guard lock(h.lock);
    int& n = h.on[fileSystem];
    if (n >= kMostOpensHeld) return false;
    ++n;
    return true;
}

void freeSlot(const std::string& fileSystem) {
    Held& h = held();
    std::lock_guard lock(h.lock);
    if (auto it = h.on.find(fileSystem); it != h.on.end() && --it->second <= 0) h.on.erase(it);
}

// The kernel's table of mounts writes a space, tab, line break or backslash
// in a mount point as a backslash and three octal digits.
std::string unescapedMountPoint(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        const bool escaped =
            field[i] == '\\' && i + 3 < field.size() && field.find_first_not_of("01234567", i + 1) >= i + 4;
        if (escaped) {
            out += char(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool liesUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") return true;
    return path.starts_with(mountPoint) &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

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

std::string fileSystemOf(const std::string& path) {
    std::filesystem::path p(path);
    std::error_code ec;
    if (p.is_relative()) p = std::filesystem::current_path(ec) / p;
    std::string name = p.lexically_normal().string();
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    // The deepest mount point over the name; of mounts on one point, the
    // last listed, which covers the others.
    std::ifstream table("/proc/self/mountinfo");
    std::string line, found;
    size_t deepest = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        if (!(fields >> id >> parent >> device >> root >> mountPoint)) continue;
        mountPoint = unescapedMountPoint(mountPoint);
        if (!liesUnder(name, mountPoint) || mountPoint.size() < deepest) continue;
        deepest = mountPoint.size();
        found = device;
    }
    return found;
}

int opensHeld() {
    Held& h = held();
    std::lock_guard lock(h.lock);
    int n = 0;
    for (const auto& [fileSystem, count] : h.on) n += count;
    return n;
}

int opensHeld(const std::string& path) {
    const std::string fileSystem = fileSystemOf(path);
    Held& h = held();
    std::lock_guard lock(h.lock);
    auto it = h.on.find(fileSystem);
    return it == h.on.end() ? 0 : it->second;
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
    const std::string fileSystem = fileSystemOf(path);
    if (!takeSlot(fileSystem)) return failed(OpenOutcome::tooManyHeld, kTooManyOpensHeld);
    const bool started = tryDetachedThread([opening, path, maxBytes, look = std::move(look), fileSystem] {
        openOnItsThread(*opening, path, maxBytes, look);
        freeSlot(fileSystem);
    });
    if (!started) {
        freeSlot(fileSystem);
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
