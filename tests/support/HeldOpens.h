#pragma once
// A folder that holds opens as a network folder whose server stopped
// answering does, in the test's own process: every open of a file in it
// whose name starts with the prefix waits (the kernel holds the caller,
// through fanotify's permission events) until release() or the holder's
// end; other opens go through. Needs root (CAP_SYS_ADMIN); watching() says
// whether the kernel let it watch.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

class HeldOpens {
public:
    HeldOpens(const std::string& folder, std::string prefix) : prefix_(std::move(prefix)) {
        fan_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        if (fan_ < 0 || stop_ < 0 ||
            ::fanotify_mark(fan_, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                            folder.c_str()) != 0)
            return;
        watching_ = true;
        thread_ = std::thread([this] { answer(); });
    }
    ~HeldOpens() {
        if (thread_.joinable()) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one);
            thread_.join();
        }
        if (fan_ >= 0) ::close(fan_);
        if (stop_ >= 0) ::close(stop_);
    }
    HeldOpens(const HeldOpens&) = delete;
    HeldOpens& operator=(const HeldOpens&) = delete;

    bool watching() const { return watching_; }
    // Opens held so far, those let through by release() too.
    int held() const { return held_; }
    // Lets every open held through, and every later one: the folder answers again.
    void release() { released_ = true; }

private:
    void allow(int fd) {
        const fanotify_response r{fd, FAN_ALLOW};
        [[maybe_unused]] const ssize_t n = ::write(fan_, &r, sizeof r);
        ::close(fd);
    }
    std::string nameOf(int fd) const {
        char link[PATH_MAX];
        const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link);
        const std::string path(link, size_t(std::max<ssize_t>(n, 0)));
        return path.substr(path.rfind('/') + 1);
    }
    void answer() {
        std::vector<int> holding;
        for (;;) {
            pollfd p[2] = {{fan_, POLLIN, 0}, {stop_, POLLIN, 0}};
            ::poll(p, 2, 20);
            if (released_)
                for (int fd : std::exchange(holding, {})) allow(fd);
            if (p[1].revents) break;
            if (!(p[0].revents & POLLIN)) continue;
            alignas(fanotify_event_metadata) char buf[4096];
            const ssize_t len = ::read(fan_, buf, sizeof buf);
            auto* m = reinterpret_cast<fanotify_event_metadata*>(buf);
            for (ssize_t left = len; FAN_EVENT_OK(m, left); m = FAN_EVENT_NEXT(m, left)) {
                if (m->fd < 0) continue;
                if (!released_ && nameOf(m->fd).starts_with(prefix_)) {
                    holding.push_back(m->fd);
                    ++held_;
                } else {
                    allow(m->fd);
                }
            }
        }
        for (int fd : holding) allow(fd);
    }

    std::string prefix_;
    int fan_ = -1, stop_ = -1;
    bool watching_ = false;
    std::atomic<bool> released_{false};
    std::atomic<int> held_{0};
    std::thread thread_;
};

}  // namespace testsupport
