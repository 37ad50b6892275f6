#include "kit/base/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <random>

#include "kit/base/Descriptor.h"
#include "kit/base/Json.h"

namespace fs = std::filesystem;

namespace kit::files {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v == '/') ? std::string(v) : fallback;
}

std::string homeDir() {
    const char* h = std::getenv("HOME");
    return (h && *h) ? std::string(h) : std::string("/tmp");
}

std::string kadrixHome() {
    const char* h = std::getenv("KADRIX_HOME");
    return (h && *h) ? std::string(h) : std::string();
}

std::string ensured(const std::string& path) {
    makeDirs(path, 0700);
    return path;
}

// A folder only we can use: ours, a real folder (not a link), mode 0700.
bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    if ((st.st_mode & 0777) != 0700 && chmod(path.c_str(), 0700) != 0) return false;
    return true;
}

std::string randomToken(size_t n) {
    static std::mutex m;
    static std::mt19937_64 rng{std::random_device{}()};
    static const char* alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::lock_guard lock(m);
    std::string s;
    for (size_t i = 0; i < n; ++i) s += alphabet[rng() % 36];
    return s;
}

std::string xattrName(std::string_view name) {
    return "user." + std::string(name);
}

}  // namespace

std::string configDir() {
    std::string home = kadrixHome();
    if (!home.empty()) return ensured(home + "/config");
    return ensured(envOr("XDG_CONFIG_HOME", homeDir() + "/.config") + "/kadrix");
}

std::string dataDir() {
    std::string home = kadrixHome();
    if (!home.empty()) return ensured(home + "/data");
    return ensured(envOr("XDG_DATA_HOME", homeDir() + "/.local/share") + "/kadrix");
}

std::string tempDir() {
    std::string home = kadrixHome();
    std::string want;
    if (!home.empty())
        want = home + "/tmp";
    else if (const char* rt = std::getenv("XDG_RUNTIME_DIR"); rt && *rt == '/')
        want = std::string(rt) + "/kadrix";
    else
        want = "/tmp/kadrix-" + std::to_string(geteuid());
    ::mkdir(want.c_str(), 0700);
    if (isPrivateFolder(want)) return want;

    // Someone else holds the name (or it is a link): use a fresh private
    // folder instead, the same one for as long as the name stays taken.
    static std::mutex m;
    static std::string takenName, fallback;
    std::lock_guard lock(m);
    if (takenName == want && isPrivateFolder(fallback)) return fallback;
    std::string tmpl = (fs::temp_directory_path() / "kadrix-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return want;
    takenName = want;
    fallback = tmpl;
    return fallback;
}

std::string uniqueTempPath(std::string_view prefix, std::string_view suffix) {
    return tempDir() + "/" + std::string(prefix) + randomToken(12) + std::string(suffix);
}

bool writeAtomic(const std::string& path, std::string_view content, unsigned mode, std::string* error,
                 bool durable) {
    fs::path target(path);
    std::string dir = target.parent_path().empty() ? "." : target.parent_path().string();
    std::string tmp = dir + "/." + target.filename().string() + ".tmp-" + randomToken(8);
    auto fail = [&](bool unlinkTmp) {
        if (error) *error = std::strerror(errno);
        if (unlinkTmp) ::unlink(tmp.c_str());
        return false;
    };
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (fd < 0) return fail(false);
    // The umask may have narrowed the mode; set it as asked.
    bool ok = ::fchmod(fd, mode & 07777) == 0 && writeAll(fd, content.data(), content.size()) &&
              (!durable || ::fsync(fd) == 0);
    if (!ok) {
        int e = errno;
        ::close(fd);
        errno = e;
        return fail(true);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) return fail(true);
    if (!durable) return true;
    // Make the rename itself durable.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

int openRegular(const std::string& path, std::string* error, size_t maxBytes) {
    auto fail = [error](const char* why) {
        if (error) *error = why;
        return -1;
    };
    // Without O_NONBLOCK a FIFO's open() waits for a writer forever.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return fail(std::strerror(errno));
    struct stat st {};
    const char* why = ::fstat(fd, &st) != 0             ? std::strerror(errno)
                      : !S_ISREG(st.st_mode)            ? kNotRegularFile
                      : uint64_t(st.st_size) > maxBytes ? kTooLarge
                                                        : nullptr;
    if (!why) return fd;
    ::close(fd);
    return fail(why);
}

std::optional<std::string> readAll(const std::string& path, size_t maxBytes, std::string* error) {
    const Descriptor file(openRegular(path, error, maxBytes));
    if (!file.valid()) return std::nullopt;
    const int fd = file.get();
    std::string out;
    // Sized at once: growing by doubling would hold a large file twice.
    if (struct stat st{}; ::fstat(fd, &st) == 0) out.reserve(size_t(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR) continue;
            if (error) *error = std::strerror(errno);
            return std::nullopt;
        }
        if (r == 0) break;
        // The file may grow while it is read.
        if (out.size() + size_t(r) > maxBytes) {
            if (error) *error = kTooLarge;
            return std::nullopt;
        }
        out.append(buf, size_t(r));
    }
    return out;
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool isDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool makeDirs(const std::string& path, unsigned mode, std::string* error) {
    if (path.empty()) return false;
    std::error_code ec;
    if (fs::is_directory(path, ec)) return true;
    fs::path p(path);
    fs::path partial;
    for (const auto& part : p) {
        partial /= part;
        if (fs::is_directory(partial, ec)) continue;
        if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
            if (error) *error = std::strerror(errno);
            return false;
        }
    }
    if (fs::is_directory(path, ec)) return true;
    if (error) *error = std::strerror(ENOTDIR);
    return false;
}

bool claimPath(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

namespace {

// The files writeNew is writing now: temporary name → final name.
std::mutex underWayLock;
std::vector<NewFileUnderWay> underWay;

// Tells of the hidden file a write to `path` makes now, from before the
// file is made until the write ends.
class UnderWay {
public:
    explicit UnderWay(const std::string& path) : path_(path) {}
    ~UnderWay() { at({}); }
    UnderWay(const UnderWay&) = delete;
    UnderWay& operator=(const UnderWay&) = delete;
    void at(const std::string& temporary) {
        std::lock_guard lock(underWayLock);
        if (!temporary_.empty())
            std::erase_if(underWay, [&](const NewFileUnderWay& w) { return w.temporary == temporary_; });
        temporary_ = temporary;
        if (!temporary_.empty()) underWay.push_back({temporary_, path_});
    }

private:
    std::string path_;
    std::string temporary_;
};

std::string folderOf(const std::string& path) {
    const std::string dir = fs::path(path).parent_path().string();
    return dir.empty() ? "." : dir;
}

void syncFolder(const std::string& path) {
    int dfd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// The errors of a file system that has no such call, as against one refused here.
bool noLinksHere(int e) {
    return e == EPERM || e == ENOTSUP || e == EOPNOTSUPP || e == EMLINK || e == ENOSYS;
}
bool noExclusiveRenameHere(int e) {
    return e == EINVAL || e == ENOSYS || e == ENOTSUP || e == EOPNOTSUPP;
}

}  // namespace

std::vector<NewFileUnderWay> newFilesUnderWay() {
    std::lock_guard lock(underWayLock);
    return underWay;
}

NewFile nameNew(const std::string& temporary, const std::string& path, std::string* error,
                NewFileJournal* journal) {
    auto failed = [&](int e) {
        if (error) *error = std::strerror(e);
        return NewFile::failed;
    };
    if (::link(temporary.c_str(), path.c_str()) == 0) {
        ::unlink(temporary.c_str());
        syncFolder(path);
        return NewFile::written;
    }
    int e = errno;
    if (e == EEXIST) return NewFile::exists;
    if (!noLinksHere(e)) return failed(e);
    // No links here (vfat and the like): a rename that replaces nothing.
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        syncFolder(path);
        return NewFile::written;
    }
    e = errno;
    if (e == EEXIST) return NewFile::exists;
    if (!noExclusiveRenameHere(e)) return failed(e);
    // Neither: claim the name, then move the content over the claim. An end
    // between the two leaves the claim empty beside the whole temporary
    // file; the next start finds both (leftNewFiles) and finishes the move.
    if (!claimPath(path)) {
        e = errno;
        return e == EEXIST ? NewFile::exists : failed(e);
    }
    // Only a claim the record knows is ours is ever filled or removed by a
    // later start: an empty file under the name may be the user's.
    if (struct stat claim{}; journal && ::lstat(path.c_str(), &claim) == 0)
        journal->claimed(temporary, uint64_t(claim.st_dev), uint64_t(claim.st_ino));
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        e = errno;
        ::unlink(path.c_str());
        return failed(e);
    }
    syncFolder(path);
    return NewFile::written;
}

namespace {

std::string hiddenNewName(const std::string& path) {
    const fs::path target(path);
    const std::string dir = target.parent_path().empty() ? "." : target.parent_path().string();
    return dir + "/." + target.filename().string() + ".new-" + randomToken(8);
}

// Writes the hidden file `tmp` of writeNew and writeReplacing whole: made,
// locked, given its attributes, written and flushed. The descriptor holds
// the lock until the file has its name; an invalid one, with `error`, when
// it could not be written (and then nothing is left), or with `lost` set
// when another process took its lock first (the file is then left to it).
Descriptor writeHidden(const std::string& tmp, std::string_view content, unsigned mode,
                       std::span<const Attribute> attributes, std::string* error, bool& lost) {
    lost = false;
    Descriptor file(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777));
    if (!file.valid()) {
        if (error) *error = std::strerror(errno);
        return file;
    }
    const int fd = file.get();
    // Held until the file has its name: a start of ours meanwhile leaves it
    // alone. Where the file system keeps no locks, the record says as much.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        lost = true;
        file.reset();
        return file;
    }
    // On the file before it has its name, so it never shows without them.
    for (const Attribute& a : attributes)
        ::fsetxattr(fd, xattrName(a.name).c_str(), a.value.data(), a.value.size(), 0);
    if (::fchmod(fd, mode & 07777) != 0 || !writeAll(fd, content.data(), content.size()) ||
        ::fsync(fd) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        if (error) *error = std::strerror(e);
        file.reset();
    }
    return file;
}

// A few hidden files taken in a row say something else is wrong.
constexpr int kHiddenAttempts = 4;

// Makes the hidden file of a write to `path`, told to the journal first;
// sets `tmp`. Gives way to another process that took its lock first.
Descriptor beginHidden(const std::string& path, std::string_view content, unsigned mode,
                       std::span<const Attribute> attributes, std::string* error, NewFileJournal* journal,
                       UnderWay& noted, std::string& tmp) {
    for (int attempt = 0; attempt < kHiddenAttempts; ++attempt) {
        tmp = hiddenNewName(path);
        if (journal && !journal->beginning(tmp, path, error)) return Descriptor();
        noted.at(tmp);
        bool lost = false;
        Descriptor file = writeHidden(tmp, content, mode, attributes, error, lost);
        if (file.valid()) return file;
        noted.at({});
        if (journal) journal->ended(tmp, nullptr);
        if (!lost) return file;
    }
    if (error) *error = std::strerror(EWOULDBLOCK);
    return Descriptor();
}

}  // namespace

NewFile writeNew(const std::string& path, std::string_view content, unsigned mode, std::string* error,
                 std::span<const Attribute> attributes, NewFileJournal* journal) {
    std::string tmp;
    UnderWay noted(path);
    const Descriptor file = beginHidden(path, content, mode, attributes, error, journal, noted, tmp);
    if (!file.valid()) return NewFile::failed;
    const NewFile named = nameNew(tmp, path, error, journal);
    if (named != NewFile::written) ::unlink(tmp.c_str());
    if (journal) journal->ended(tmp, named == NewFile::written ? &path : nullptr);
    return named;
}

bool writeReplacing(const std::string& path, std::string_view content, unsigned mode, std::string* error,
                    std::span<const Attribute> attributes, NewFileJournal* journal) {
    std::string tmp;
    UnderWay noted(path);
    const Descriptor file = beginHidden(path, content, mode, attributes, error, journal, noted, tmp);
    if (!file.valid()) return false;
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        if (journal) journal->ended(tmp, nullptr);
        if (error) *error = std::strerror(e);
        return false;
    }
    syncFolder(path);
    if (journal) journal->ended(tmp, &path);
    return true;
}

namespace {

// What writeNew and writeAtomic name their unfinished file: "." + the name +
// ".new-" or ".tmp-" + eight random letters or digits.
bool isUnfinishedWriteName(std::string_view name) {
    constexpr size_t kToken = 8, kMark = 5;
    if (name.size() < 2 + kMark + kToken || name.front() != '.') return false;
    const std::string_view mark = name.substr(name.size() - kToken - kMark, kMark);
    if (mark != ".new-" && mark != ".tmp-") return false;
    const std::string_view token = name.substr(name.size() - kToken);
    return std::all_of(token.begin(), token.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

constexpr std::time_t kUnfinishedWriteAgeSeconds = 60;

}  // namespace

size_t removeUnfinishedWrites(const std::string& folder, bool newFilesToo) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    size_t removed = 0;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!isUnfinishedWriteName(name)) continue;
        if (!newFilesToo && name.find(".new-", name.size() - 13) != std::string::npos) continue;
        // Only a plain file of ours: never through a link, never a folder.
        struct stat st {};
        const std::string path = it->path().string();
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
        // A write going on now (another thread of ours) is younger than this.
        if (std::time(nullptr) - st.st_mtime < kUnfinishedWriteAgeSeconds) continue;
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    return removed;
}

namespace {

constexpr size_t kNewMark = 13;  // ".new-" and eight letters or digits

// The descriptor of a left file, locked, or none while a writer holds it.
// `unlocked` says whether the lock could be had at all.
Descriptor lockLeft(const std::string& path, bool& unlocked) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    unlocked = false;
    if (!fd.valid()) return fd;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
        unlocked = true;
    else if (errno == EWOULDBLOCK)
        fd.reset();
    return fd;
}

}  // namespace

std::vector<LeftNewFile> leftNewFiles(const std::string& folder) {
    std::vector<LeftNewFile> out;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!isUnfinishedWriteName(name) || name.find(".new-", name.size() - kNewMark) == std::string::npos)
            continue;
        LeftNewFile left;
        left.temporary = it->path().string();
        left.path = (fs::path(folder) / name.substr(1, name.size() - 1 - kNewMark)).string();
        left.lock = lockLeft(left.temporary, left.unlocked);
        struct stat st {};
        if (!left.lock.valid() || ::fstat(left.lock.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid())
            continue;
        left.ageSeconds = double(std::time(nullptr) - st.st_mtime);
        struct stat at {};
        if (::lstat(left.path.c_str(), &at) == 0) {
            left.named = at.st_dev == st.st_dev && at.st_ino == st.st_ino;
            // A screenshot is never empty: an empty file of ours under the
            // name, beside the content it waits for, is the claim.
            left.emptyClaim = !left.named && S_ISREG(at.st_mode) && at.st_size == 0 && at.st_uid == geteuid();
        }
        out.push_back(std::move(left));
    }
    return out;
}

bool fillClaim(const LeftNewFile& left, std::string* error) {
    struct stat at {};
    if (::lstat(left.path.c_str(), &at) != 0 || !S_ISREG(at.st_mode) || at.st_size != 0) {
        if (error) *error = std::strerror(EEXIST);
        return false;
    }
    if (::rename(left.temporary.c_str(), left.path.c_str()) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    syncFolder(left.path);
    return true;
}

void removeClaim(const LeftNewFile& left) {
    struct stat at {};
    if (left.emptyClaim && ::lstat(left.path.c_str(), &at) == 0 && S_ISREG(at.st_mode) && at.st_size == 0)
        ::unlink(left.path.c_str());
}

void removeLeft(const LeftNewFile& left) {
    ::unlink(left.temporary.c_str());
    removeClaim(left);
}

std::optional<std::vector<std::string>> listFolder(const std::string& path, std::string* error) {
    std::error_code ec;
    auto failed = [&]() -> std::optional<std::vector<std::string>> {
        if (error) *error = ec.message();
        return std::nullopt;
    };
    fs::directory_iterator it(path, ec);
    if (ec) return failed();
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return failed();
        names.push_back(it->path().filename().string());
    }
    return names;
}

std::optional<FileStamp> fileStamp(const std::string& path) {
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    FileStamp s;
    s.regularFile = S_ISREG(sx.stx_mode);
    s.ownedByUser = sx.stx_uid == geteuid();
    s.modified = double(sx.stx_mtime.tv_sec) + sx.stx_mtime.tv_nsec / 1e9;
    if (sx.stx_mask & STATX_BTIME) s.created = double(sx.stx_btime.tv_sec) + sx.stx_btime.tv_nsec / 1e9;
    return s;
}

bool remove(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    return !fs::exists(fs::symlink_status(path, ec));
}

bool copyFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool move(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    // Another file system: copy next to the target, then swap it in.
    std::error_code ec;
    if (fs::is_directory(from, ec)) {
        fs::copy(from, to, fs::copy_options::recursive, ec);
        if (ec) {
            fs::remove_all(to, ec);
            return false;
        }
        fs::remove_all(from, ec);
        return true;
    }
    std::string tmp = to + ".part-" + randomToken(8);
    if (!copyFile(from, tmp)) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), to.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

bool setXattr(const std::string& path, std::string_view name, std::string_view value) {
    return ::setxattr(path.c_str(), xattrName(name).c_str(), value.data(), value.size(), 0) == 0;
}

std::optional<std::string> getXattr(const std::string& path, std::string_view name) {
    std::string n = xattrName(name);
    for (int attempt = 0; attempt < 3; ++attempt) {
        ssize_t size = ::getxattr(path.c_str(), n.c_str(), nullptr, 0);
        if (size < 0) return std::nullopt;  // absent, or no user attributes here
        std::string out(size_t(size), '\0');
        ssize_t got = ::getxattr(path.c_str(), n.c_str(), out.data(), out.size());
        if (got >= 0) {
            out.resize(size_t(got));
            return out;
        }
        if (errno != ERANGE) return std::nullopt;  // grew between the calls: ask again
    }
    return std::nullopt;
}

bool removeXattr(const std::string& path, std::string_view name) {
    return ::removexattr(path.c_str(), xattrName(name).c_str()) == 0;
}

bool keepsXattrs(const std::string& path) {
    // An attribute nobody sets: "none here" from a file system that keeps them.
    return ::getxattr(path.c_str(), "user.kadrix.none", nullptr, 0) >= 0 || errno == ENODATA;
}

std::optional<Bytes> makeBookmark(const std::string& path) {
    std::error_code ec;
    fs::path abs = fs::absolute(path, ec);
    struct stat st {};
    if (ec || ::stat(abs.c_str(), &st) != 0) return std::nullopt;
    Json j = {{"path", abs.lexically_normal().string()},
              {"inode", uint64_t(st.st_ino)},
              {"device", uint64_t(st.st_dev)}};
    std::string text = json::dump(j);
    return Bytes(text.begin(), text.end());
}

std::optional<ResolvedBookmark> resolveBookmark(const Bytes& bookmark) {
    auto j = json::parse(std::string_view(reinterpret_cast<const char*>(bookmark.data()), bookmark.size()));
    if (!j) return std::nullopt;
    auto path = json::stringAt(*j, "path");
    const Json* inode = json::memberAt(*j, "inode");
    const Json* device = json::memberAt(*j, "device");
    if (!path || !inode || !inode->is_number_unsigned()) return std::nullopt;
    ResolvedBookmark out{*path, false};
    struct stat st {};
    if (::stat(path->c_str(), &st) != 0 || uint64_t(st.st_ino) != inode->get<uint64_t>() ||
        (device && device->is_number_unsigned() && uint64_t(st.st_dev) != device->get<uint64_t>()))
        out.stale = true;
    return out;
}

std::optional<std::string> desktopExecProgram(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find_first_of("\"`$\\\n\r") != std::string::npos)
        return std::nullopt;
    std::string quoted = "\"";
    for (char c : path) quoted += c == '%' ? std::string("%%") : std::string(1, c);
    return quoted + "\"";
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace kit::files
