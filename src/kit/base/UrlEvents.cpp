#include "kit/base/UrlEvents.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <thread>

#include "kit/base/Http.h"

namespace kit::UrlEvents {

namespace {

constexpr size_t kMaxLine = 64 * 1024;
constexpr size_t kMaxConnectionBytes = 256 * 1024;
constexpr size_t kMaxClients = 16;
constexpr size_t kMaxPending = 256;
constexpr int kClientTimeoutMs = 2000;
constexpr const char* kAck = "ok\n";

struct Client {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> deadline;
    std::string buffer;
    std::vector<std::string> lines;
    size_t received = 0;
};

struct State {
    int lockFd = -1;
    int listenFd = -1;
    std::unique_ptr<QSocketNotifier> acceptNotifier;
    std::vector<std::unique_ptr<Client>> clients;
    std::function<void(const std::string&)> handler, fileHandler;
    std::deque<std::string> pending, pendingFiles;
};

// Never destroyed by a static destructor (its notifiers must go while the
// application lives): release() runs when the application quits.
State& state() {
    static State& s = *new State;
    return s;
}

void deliverTo(const std::function<void(const std::string&)>& handler, std::deque<std::string>& pending,
               const std::string& message) {
    if (handler)
        handler(message);
    else if (pending.size() < kMaxPending)
        pending.push_back(message);
}

// Local file URLs are files handed over; everything else is a URL.
void deliver(const std::string& line) {
    State& s = state();
    if (line.size() >= 5 && strncasecmp(line.c_str(), "file:", 5) == 0) {
        std::string path = pathFromFileURL(line);
        if (!path.empty()) deliverTo(s.fileHandler, s.pendingFiles, path);
        return;
    }
    deliverTo(s.handler, s.pending, line);
}

void drain(const std::function<void(const std::string&)>& handler, std::deque<std::string>& pending) {
    while (handler && !pending.empty()) {
        std::string message = std::move(pending.front());
        pending.pop_front();
        handler(message);
    }
}

// A line must be UTF-8 text without control characters, so a stray client
// cannot feed us binary junk.
bool acceptableLine(const std::string& line) {
    if (line.empty() || line.size() > kMaxLine || !isValidUtf8(line)) return false;
    return std::none_of(line.begin(), line.end(), [](char c) { return uint8_t(c) < 0x20 || c == 0x7f; });
}

void keepLine(Client* c, std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (acceptableLine(line)) c->lines.push_back(std::move(line));
}

void dropClient(Client* c) {
    auto& list = state().clients;
    c->notifier->setEnabled(false);
    c->deadline->stop();
    ::close(c->fd);
    // Deleting later: this runs inside the client's own notifier or timer.
    auto it = std::find_if(list.begin(), list.end(), [c](auto& p) { return p.get() == c; });
    if (it != list.end()) {
        Client* raw = it->release();
        list.erase(it);
        QMetaObject::invokeMethod(
            qApp, [raw] { delete raw; }, Qt::QueuedConnection);
    }
}

// The sender closed its side: answer, then hand the lines on. The handlers
// run after the connection is gone, from the event loop, so a handler that
// opens a dialog does not hold a socket.
void finishClient(Client* c) {
    keepLine(c, c->buffer);
    [[maybe_unused]] auto n = ::send(c->fd, kAck, std::strlen(kAck), MSG_NOSIGNAL | MSG_DONTWAIT);
    auto lines = std::move(c->lines);
    dropClient(c);
    QMetaObject::invokeMethod(
        qApp,
        [lines = std::move(lines)] {
            for (auto& l : lines) deliver(l);
        },
        Qt::QueuedConnection);
}

void readClient(Client* c) {
    char buf[4096];
    ssize_t n = ::read(c->fd, buf, sizeof buf);
    if (n > 0) {
        c->received += size_t(n);
        c->buffer.append(buf, size_t(n));
        size_t nl;
        while ((nl = c->buffer.find('\n')) != std::string::npos) {
            keepLine(c, c->buffer.substr(0, nl));
            c->buffer.erase(0, nl + 1);
        }
        // Too much from one sender: nothing of it counts.
        if (c->buffer.size() > kMaxLine || c->received > kMaxConnectionBytes) dropClient(c);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n < 0) {
        dropClient(c);
        return;
    }
    finishClient(c);
}

void acceptClients() {
    State& s = state();
    for (;;) {
        int fd = ::accept4(s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (s.clients.size() >= kMaxClients) {
            ::close(fd);
            continue;
        }
        auto c = std::make_unique<Client>();
        c->fd = fd;
        c->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        c->deadline = std::make_unique<QTimer>();
        c->deadline->setSingleShot(true);
        Client* raw = c.get();
        QObject::connect(c->notifier.get(), &QSocketNotifier::activated, [raw] { readClient(raw); });
        QObject::connect(c->deadline.get(), &QTimer::timeout, [raw] { dropClient(raw); });
        c->deadline->start(kClientTimeoutMs);
        s.clients.push_back(std::move(c));
    }
}

bool fillAddress(sockaddr_un& addr, const std::string& path) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool sendAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += size_t(n);
    }
    return true;
}

// How a hand-over to the running instance ended.
enum class Sent {
    acked,       // the instance has the messages
    refused,     // nobody listens, or the instance closed without taking them
    unanswered,  // sent, but no answer in time: the instance may still act on them
};

// Waits up to `ms` for the running instance's answer. A busy instance reads
// the connection late but reads it all the same, so running out of time is
// told apart from a connection closed unanswered.
Sent awaitAck(int fd, int ms) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < std::strlen(kAck)) {
        int left =
            int(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                    .count());
        if (left <= 0) return Sent::unanswered;
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, left);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Sent::refused;
        if (r == 0) return Sent::unanswered;
        char buf[8];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Sent::refused;
        got.append(buf, size_t(n));
    }
    return got.compare(0, std::strlen(kAck), kAck) == 0 ? Sent::acked : Sent::refused;
}

// One message, one line: an argument holding a line break would otherwise
// arrive as two messages, the second skipping the checks the first launch
// gives files. Control bytes are percent-encoded, so the whole argument
// stays one link (which the URL parser then judges as a whole).
std::string asOneLine(const std::string& message) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : message) {
        if (c >= 0x20 && c != 0x7f) {
            out += char(c);
            continue;
        }
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

Sent forward(const std::vector<std::string>& messages, int waitMs) {
    sockaddr_un addr;
    if (!fillAddress(addr, socketPath())) return Sent::refused;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Sent::refused;
    std::string data;
    for (auto& m : messages) data += asOneLine(m) + "\n";
    if (messages.empty()) data = "kadrix://show\n";
    Sent result = Sent::refused;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && sendAll(fd, data) &&
        ::shutdown(fd, SHUT_WR) == 0)
        result = awaitAck(fd, waitMs);
    ::close(fd);
    return result;
}

// The instance lock: an flock the kernel gives up when its holder ends, so
// a crashed instance leaves nothing stale behind.
int tryLock(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool listenAt(const std::string& path) {
    sockaddr_un addr;
    if (!fillAddress(addr, path)) return false;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // We hold the lock, so a socket file left behind is stale.
    ::unlink(path.c_str());
    mode_t old = ::umask(0077);  // only this user may connect
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 16) == 0;
    ::umask(old);
    if (!ok) {
        ::close(fd);
        return false;
    }
    state().listenFd = fd;
    return true;
}

// Connections wait in the socket's backlog until the application object
// exists; from then on the event loop accepts them.
void watchSocket() {
    State& s = state();
    if (s.acceptNotifier || s.listenFd < 0 || !qApp) return;
    s.acceptNotifier = std::make_unique<QSocketNotifier>(s.listenFd, QSocketNotifier::Read);
    QObject::connect(s.acceptNotifier.get(), &QSocketNotifier::activated, acceptClients);
    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { release(); });
    }
    // Whatever came before the loop ran.
    QMetaObject::invokeMethod(qApp, acceptClients, Qt::QueuedConnection);
}

bool becomePrimary(int lockFd, const std::string& path) {
    if (!listenAt(path)) {
        ::close(lockFd);
        return false;
    }
    state().lockFd = lockFd;
    watchSocket();
    return true;
}

// A folder of this user's alone (0700, not a link), made when missing.
bool privateFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    return (st.st_mode & 0077) == 0 || ::chmod(path.c_str(), 0700) == 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool isValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size(), i = 0;
    while (i < n) {
        unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned cp, min;
        if ((c & 0xE0) == 0xC0)
            len = 2, cp = c & 0x1F, min = 0x80;
        else if ((c & 0xF0) == 0xE0)
            len = 3, cp = c & 0x0F, min = 0x800;
        else if ((c & 0xF8) == 0xF0)
            len = 4, cp = c & 0x07, min = 0x10000;
        else
            return false;
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

std::vector<std::string> urlsInArguments(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (auto& a : args)
        if (a.size() > 7 && strncasecmp(a.c_str(), "kadrix:", 7) == 0) out.push_back(a);
    return out;
}

std::string socketPath() {
    if (const char* home = std::getenv("KADRIX_HOME"); home && *home) {
        std::string dir = std::filesystem::absolute(home).lexically_normal().string();
        privateFolder(dir);
        return dir + "/kadrix.sock";
    }
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/')
        return std::string(run) + "/kadrix.sock";
    std::string dir = "/tmp/kadrix-" + std::to_string(::geteuid()) + "-instance";
    privateFolder(dir);
    return dir + "/kadrix.sock";
}

Role claimSingleInstance(const std::vector<std::string>& messages, double patienceSeconds) {
    State& s = state();
    if (s.listenFd >= 0) return Role::Primary;
    std::string path = socketPath();
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(patienceSeconds);
    // Either the lock or the running instance's answer settles it; while
    // neither comes (an instance starting up or quitting) ask both again.
    // Sent messages are never sent again: a busy instance still reads them,
    // and a second copy would run the command twice.
    for (;;) {
        if (int fd = tryLock(path + ".lock"); fd >= 0)
            return becomePrimary(fd, path) ? Role::Primary : Role::Failed;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        switch (forward(messages, std::max(kClientTimeoutMs, int(left.count())))) {
            case Sent::acked:
                return Role::Forwarded;
            case Sent::unanswered:
                return Role::Failed;
            case Sent::refused:
                break;
        }
        if (std::chrono::steady_clock::now() >= end) return Role::Failed;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void release() {
    State& s = state();
    s.acceptNotifier.reset();
    if (s.listenFd >= 0) {
        ::close(s.listenFd);
        ::unlink(socketPath().c_str());
    }
    s.listenFd = -1;
    for (auto& c : s.clients) {
        c->notifier.reset();
        c->deadline.reset();
        ::close(c->fd);
    }
    s.clients.clear();
    if (s.lockFd >= 0) ::close(s.lockFd);  // closing drops the flock
    s.lockFd = -1;
    s.pending.clear();
    s.pendingFiles.clear();
}

void setHandler(std::function<void(const std::string&)> handler) {
    watchSocket();
    State& s = state();
    s.handler = std::move(handler);
    drain(s.handler, s.pending);
}

void setFileHandler(std::function<void(const std::string&)> handler) {
    watchSocket();
    State& s = state();
    s.fileHandler = std::move(handler);
    drain(s.fileHandler, s.pendingFiles);
}

std::string pathFromFileURL(const std::string& url) {
    if (url.size() < 6 || strncasecmp(url.c_str(), "file:", 5) != 0) return {};
    std::string rest = url.substr(5);
    if (rest.rfind("//", 0) == 0) {
        size_t slash = rest.find('/', 2);
        if (slash == std::string::npos) return {};
        std::string host = rest.substr(2, slash - 2);
        if (!host.empty() && strcasecmp(host.c_str(), "localhost") != 0) return {};
        rest = rest.substr(slash);
    }
    if (rest.empty() || rest.front() != '/') return {};
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '?' || rest[i] == '#') return {};
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        int hi = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1, lo = hi >= 0 ? hexValue(rest[i + 2]) : -1;
        if (hi < 0 || lo < 0) return {};
        path += char(hi * 16 + lo);
        i += 2;
    }
    // A NUL would cut the name short somewhere further on.
    if (path.find('\0') != std::string::npos) return {};
    return path;
}

std::string fileMessage(const std::string& absolutePath) {
    return "file://" + http::urlEncode(absolutePath, "/");
}

std::vector<std::string> filesInArguments(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.empty() || a.front() == '-' || strncasecmp(a.c_str(), "kadrix:", 7) == 0) continue;
        std::string path = strncasecmp(a.c_str(), "file:", 5) == 0 ? pathFromFileURL(a) : a;
        if (path.empty()) continue;
        // By its name alone: the working folder before a relative one, and
        // no ".." folded away (the kernel follows a link before it).
        if (path.front() != '/') {
            std::error_code ec;
            const std::string cwd = std::filesystem::current_path(ec).string();
            if (ec || cwd.empty()) continue;
            path = cwd + (cwd.back() == '/' ? "" : "/") + path;
        }
        out.push_back(std::move(path));
    }
    return out;
}

}  // namespace kit::UrlEvents
