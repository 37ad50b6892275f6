#include "kit/UrlEvents.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

#include "kit/Files.h"

namespace kit::UrlEvents {

namespace {

constexpr size_t kMaxLine = 64 * 1024;
constexpr size_t kMaxPending = 256;

struct Client {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::string buffer;
};

struct State {
    std::unique_ptr<QLockFile> lock;
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
    QUrl url(QString::fromStdString(line), QUrl::StrictMode);
    if (url.isValid() && url.isLocalFile()) {
        std::string path = url.toLocalFile().toStdString();
        if (!path.empty() && path.front() == '/') deliverTo(s.fileHandler, s.pendingFiles, path);
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

// One message a line; a line must be printable text of sane length, so a
// stray client cannot feed us binary junk or unbounded data.
void deliverLine(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line.size() > kMaxLine) return;
    bool printable = std::all_of(line.begin(), line.end(), [](char c) { return uint8_t(c) >= 0x20; });
    if (printable) deliver(line);
}

void closeClient(Client* c) {
    auto& list = state().clients;
    c->notifier->setEnabled(false);
    ::close(c->fd);
    // Deleting later: this runs inside the client's own notifier.
    auto it = std::find_if(list.begin(), list.end(), [c](auto& p) { return p.get() == c; });
    if (it != list.end()) {
        Client* raw = it->release();
        list.erase(it);
        QMetaObject::invokeMethod(
            qApp, [raw] { delete raw; }, Qt::QueuedConnection);
    }
}

void readClient(Client* c) {
    char buf[4096];
    ssize_t n = ::read(c->fd, buf, sizeof buf);
    if (n > 0) {
        c->buffer.append(buf, size_t(n));
        size_t nl;
        while ((nl = c->buffer.find('\n')) != std::string::npos) {
            deliverLine(c->buffer.substr(0, nl));
            c->buffer.erase(0, nl + 1);
        }
        if (c->buffer.size() > kMaxLine) closeClient(c);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // A last line without a newline still counts.
    deliverLine(c->buffer);
    closeClient(c);
}

void acceptClients() {
    State& s = state();
    for (;;) {
        int fd = ::accept4(s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        auto c = std::make_unique<Client>();
        c->fd = fd;
        c->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        Client* raw = c.get();
        QObject::connect(c->notifier.get(), &QSocketNotifier::activated, [raw] { readClient(raw); });
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

bool forward(const std::vector<std::string>& messages) {
    sockaddr_un addr;
    if (!fillAddress(addr, socketPath())) return false;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return false;
    }
    std::string data;
    for (auto& m : messages) data += m + "\n";
    if (messages.empty()) data = "kadrix://show\n";
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        off += size_t(n);
    }
    ::close(fd);
    return off == data.size();
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
    State& s = state();
    s.listenFd = fd;
    s.acceptNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(s.acceptNotifier.get(), &QSocketNotifier::activated, acceptClients);
    return true;
}

}  // namespace

std::vector<std::string> urlsInArguments(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (auto& a : args)
        if (a.size() > 7 &&
            QString::fromStdString(a.substr(0, 7)).compare("kadrix:", Qt::CaseInsensitive) == 0)
            out.push_back(a);
    return out;
}

namespace {

std::string xdgDir(const char* var, const char* fallbackUnderHome) {
    if (const char* v = std::getenv(var); v && *v == '/') return v;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/" + fallbackUnderHome;
}

// Sets `key=value` in one section of an INI-style file's lines, keeping
// everything else as it was.
std::string withEntry(const std::string& text, const std::string& section, const std::string& key,
                      const std::string& value) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    std::string header = "[" + section + "]", entry = key + "=" + value;
    bool inSection = false, done = false;
    size_t sectionEnd = std::string::npos;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (!l.empty() && l.front() == '[') {
            if (inSection) sectionEnd = i;
            inSection = l == header;
            continue;
        }
        if (inSection && l.rfind(key + "=", 0) == 0) {
            lines[i] = entry;
            done = true;
        }
    }
    if (!done) {
        auto has = std::find(lines.begin(), lines.end(), header);
        if (has == lines.end()) {
            if (!lines.empty() && !lines.back().empty()) lines.push_back("");
            lines.push_back(header);
            lines.push_back(entry);
        } else {
            size_t at = sectionEnd != std::string::npos && sectionEnd > size_t(has - lines.begin())
                            ? sectionEnd
                            : lines.size();
            // Before the blank lines that close the section.
            while (at > size_t(has - lines.begin()) + 1 && lines[at - 1].empty()) --at;
            lines.insert(lines.begin() + std::ptrdiff_t(at), entry);
        }
    }
    std::string out;
    for (auto& l : lines) out += l + "\n";
    return out;
}

}  // namespace

bool registerSchemeHandler(const std::string& executablePath) {
    // Desktop entries give quote, backquote, dollar and backslash meanings of
    // their own; a program path with them (or a line break) is refused
    // rather than escaped into something another tool may read otherwise.
    if (executablePath.empty() || executablePath.front() != '/' ||
        executablePath.find_first_of("\"`$\\\n\r") != std::string::npos)
        return false;
    std::string apps, config;
    if (const char* home = std::getenv("KADRIX_HOME"); home && *home) {
        apps = std::string(home) + "/applications";
        config = home;
    } else {
        apps = xdgDir("XDG_DATA_HOME", ".local/share") + "/applications";
        config = xdgDir("XDG_CONFIG_HOME", ".config");
    }
    if (!files::makeDirs(apps, 0755) || !files::makeDirs(config, 0700)) return false;
    // A lone "%" would start a field code ("%f" …) in the Exec line.
    std::string program;
    for (char c : executablePath) program += c == '%' ? std::string("%%") : std::string(1, c);
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Kadrix\n"
        "Comment=Screenshots of an area, a window or the whole screen\n"
        "Exec=\"" +
        program +
        "\" %u\n"
        "Icon=kadrix\n"
        "Terminal=false\n"
        "NoDisplay=true\n"
        "MimeType=x-scheme-handler/kadrix;image/png;image/jpeg;\n";
    if (!files::writeAtomic(apps + "/kadrix.desktop", entry, 0644)) return false;
    std::string list = config + "/mimeapps.list";
    std::string old = files::readAll(list, 1 << 20).value_or(std::string());
    return files::writeAtomic(
        list, withEntry(old, "Default Applications", "x-scheme-handler/kadrix", "kadrix.desktop"), 0644);
}

std::string socketPath() {
    if (const char* home = std::getenv("KADRIX_HOME"); home && *home)
        return (QDir(home).absoluteFilePath("kadrix.sock")).toStdString();
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return (QDir(run).absoluteFilePath("kadrix.sock")).toStdString();
    return "/tmp/kadrix-" + std::to_string(getuid()) + ".sock";
}

Role claimSingleInstance(const std::vector<std::string>& messages) {
    State& s = state();
    if (s.listenFd >= 0) return Role::Primary;
    std::string path = socketPath();
    auto lock = std::make_unique<QLockFile>(QString::fromStdString(path + ".lock"));
    // The lock decides who is first, so two launches at once cannot both
    // become the running instance; a lock left by a crash is taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError) {
            // The running instance may still be starting: give it a moment.
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 3000) {
                if (forward(messages)) return Role::Forwarded;
                QThread::msleep(100);
            }
        }
        return Role::Failed;
    }
    if (!listenAt(path)) return Role::Failed;
    s.lock = std::move(lock);
    static bool hooked = false;
    if (!hooked && qApp) {
        hooked = true;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { release(); });
    }
    return Role::Primary;
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
        ::close(c->fd);
    }
    s.clients.clear();
    if (s.lock) s.lock->unlock();
    s.lock.reset();
    s.pending.clear();
    s.pendingFiles.clear();
}

void setHandler(std::function<void(const std::string&)> handler) {
    State& s = state();
    s.handler = std::move(handler);
    drain(s.handler, s.pending);
}

void setFileHandler(std::function<void(const std::string&)> handler) {
    State& s = state();
    s.fileHandler = std::move(handler);
    drain(s.fileHandler, s.pendingFiles);
}

std::vector<std::string> filesInArguments(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (size_t i = 1; i < args.size(); ++i) {
        QString a = QString::fromStdString(args[i]);
        if (a.isEmpty() || a.startsWith('-') || a.startsWith("kadrix:", Qt::CaseInsensitive)) continue;
        QString path = a.startsWith("file:", Qt::CaseInsensitive) ? QUrl(a).toLocalFile() : a;
        QFileInfo info(path);
        if (info.isFile()) out.push_back(info.absoluteFilePath().toStdString());
    }
    return out;
}

std::string fileMessage(const std::string& absolutePath) {
    return QUrl::fromLocalFile(QString::fromStdString(absolutePath))
        .toString(QUrl::FullyEncoded)
        .toStdString();
}

}  // namespace kit::UrlEvents
