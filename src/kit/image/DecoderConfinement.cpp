// The decoder's confinement: the library that decodes a picture may be made
// to run code of the picture's choosing, so what the process can reach once
// the picture is read is only what decoding needs.
#include <dirent.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLibraryInfo>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/ToolkitThreads.h"
#include "kit/image/Decoder.h"

#ifndef PR_SET_VMA
#define PR_SET_VMA 0x53564d41  // the runtime names its mappings
#endif

namespace kit::ImageIO {

namespace {

using Step = ConfinementStep;

// A step that failed, and the kernel's reason (0 for a step that has none).
struct StepFailure {
    Step step = Step::none;
    int errorNumber = 0;
};
using Failure = std::optional<StepFailure>;

Failure failedStep(Step step, int errorNumber = errno) {
    return StepFailure{step, errorNumber};
}

// ---- Files: Landlock -----------------------------------------------------------

// The kernel's own numbers, for kernels newer than the headers built against.
constexpr uint64_t kFsRightsAbi1 = (1ULL << 13) - 1;  // execute … make symlink
constexpr uint64_t kFsRefer = 1ULL << 13, kFsTruncate = 1ULL << 14, kFsIoctlDev = 1ULL << 15;

// What the tests' stand-in for an older kernel takes away: "landlock",
// "namespaces". It weakens nothing an attacker could not already: whoever
// sets the decoder's environment could as well load a library of their own.
// The program says once in its log that it is set (missingConfinement).
bool simulatedWithout(std::string_view what) {
    const char* without = std::getenv(kSimulatedKernelWithout);
    return without && std::string_view(without).find(what) != std::string_view::npos;
}

long landlockAbi() {
    if (simulatedWithout("landlock")) return 0;
    return ::syscall(__NR_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
}

// The kinds of plugin decoding loads from where the toolkit was told to look
// for them: image formats alone (a drawing's platform comes from the
// toolkit's own plugin folder, granted whole).
constexpr const char* kPluginKinds[] = {"imageformats"};

// Where the decoding libraries read: themselves and their plugins, the
// linker's cache, fonts with their configuration and caches, locale and
// type data (all beneath /usr). Beneath each place the toolkit was told to
// look for plugins, the folders of the kinds above, never the place itself
// (which may be the home, or `/`); nothing else, so no file of the user's
// and nothing of another process in /proc. Only absolute places: the
// decoder has moved to `/`, where a relative one would grant the whole file
// system.
std::vector<std::string> readablePlaces() {
    std::vector<std::string> places{"/usr",
                                    "/lib",
                                    "/lib64",
                                    "/etc/ld.so.cache",
                                    "/etc/locale.alias",
                                    "/etc/fonts",
                                    "/var/cache/fontconfig"};
    places.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString());
    places.push_back(QLibraryInfo::path(QLibraryInfo::LibrariesPath).toStdString());
    if (const char* extra = std::getenv("QT_PLUGIN_PATH"))
        for (const QString& p : QString::fromLocal8Bit(extra).split(u':', Qt::SkipEmptyParts))
            for (const char* kind : kPluginKinds) places.push_back(p.toStdString() + "/" + kind);
    std::erase_if(places, [](const std::string& p) { return !p.starts_with('/'); });
    return places;
}

// The kernel's ruleset, with the fields of kernels newer than the headers.
struct LandlockRuleset {
    uint64_t handledFs = 0, handledNet = 0, scoped = 0;
};
constexpr uint64_t kScopeAbstractSocket = 1, kScopeSignal = 2;

// Reading the places above, and nothing else of the file system: no other
// file opened, written, made or removed. Where the kernel scopes them, no
// signal (a SIGIO the kernel sends on the decoder's behalf among them) and
// no abstract socket reach outside the decoder either. A kernel that has
// Landlock but refuses the rules is a failure.
Failure restrictFiles(long abi, const std::vector<std::string>& places) {
    // Every right this kernel knows is handled; only reading is granted.
    LandlockRuleset attr;
    attr.handledFs = kFsRightsAbi1 | (abi >= 2 ? kFsRefer : 0) | (abi >= 3 ? kFsTruncate : 0) |
                     (abi >= 5 ? kFsIoctlDev : 0);
    if (abi >= 6) attr.scoped = kScopeAbstractSocket | kScopeSignal;
    const size_t size = abi >= 6 ? sizeof attr : sizeof attr.handledFs;
    const int ruleset = int(::syscall(__NR_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0) return failedStep(Step::makeFileRules);
    Failure error;
    for (const std::string& place : places) {
        const int fd = ::open(place.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0) continue;  // not on this system
        struct stat st {};
        landlock_path_beneath_attr rule{};
        rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE;
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) rule.allowed_access |= LANDLOCK_ACCESS_FS_READ_DIR;
        rule.parent_fd = fd;
        if (::syscall(__NR_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0 && !error)
            error = failedStep(Step::makeFileRules);
        ::close(fd);
    }
    if (!error && ::syscall(__NR_landlock_restrict_self, ruleset, 0) != 0)
        error = failedStep(Step::applyFileRules);
    ::close(ruleset);
    return error;
}

// ---- Files: a mount namespace, where there is no Landlock ----------------------

bool writeProcFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    const int error = errno;
    if (fd >= 0) ::close(fd);
    errno = error;
    return written;
}

// The folders leading to `path` made inside the new root, never through
// anything that is not a folder of its own (a link or a bound place would
// lead out of it).
bool makeParents(const std::string& root, const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string at = root + path.substr(0, slash);
        struct stat st {};
        if (::lstat(at.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return errno = ENOTDIR, false;
        } else if (::mkdir(at.c_str(), 0755) != 0) {
            return false;
        }
    }
    return true;
}

bool beneath(const std::string& path, const std::string& place) {
    return path == place || (path.starts_with(place) && (place == "/" || path[place.size()] == '/'));
}

// A place bound into the decoder's root: its real path, held open from
// before the root is made (which may hide it).
struct Bound {
    std::string path;
    int fd = -1;
};

// The mount flags a remount must keep: those of a mount a user namespace
// did not make are locked to what they are.
unsigned long keptFlags(const std::string& at) {
    struct statvfs st {};
    if (::statvfs(at.c_str(), &st) != 0) return 0;
    unsigned long flags = 0;
    for (const auto& [from, to] : {std::pair{ST_NOSUID, MS_NOSUID},
                                   {ST_NODEV, MS_NODEV},
                                   {ST_NOEXEC, MS_NOEXEC},
                                   {ST_NOATIME, MS_NOATIME},
                                   {ST_NODIRATIME, MS_NODIRATIME},
                                   {ST_RELATIME, MS_RELATIME}})
        if (st.f_flag & from) flags |= to;
    return flags;
}

// The new root, with every place bound into it, made read-only whole: at
// once where the kernel can (5.12), else mount by mount.
Failure makeReadOnly(const std::string& root, const std::vector<Bound>& bound) {
    mount_attr attr{};
    attr.attr_set = MOUNT_ATTR_RDONLY;
    if (::syscall(SYS_mount_setattr, AT_FDCWD, root.c_str(), AT_RECURSIVE, &attr, sizeof attr) == 0)
        return {};
    if (errno != ENOSYS) return failedStep(Step::rootReadOnly);
    for (const Bound& b : bound) {
        const std::string at = root + b.path;
        if (::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | keptFlags(at),
                    nullptr) != 0)
            return failedStep(Step::placeReadOnly);
    }
    if (::mount(nullptr, root.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) != 0)
        return failedStep(Step::rootReadOnly);
    return {};
}

// The new root made on /tmp (in the decoder's own mount namespace) and put
// in place of the old one, which is let go whole. Every step completes, or
// the root is no root.
Failure makeRoot(const std::vector<Bound>& bound, const std::map<std::string, std::string>& links) {
    // Nothing mounted from here on is seen outside.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failedStep(Step::ownMounts);
    const std::string root = "/tmp";
    if (::mount("kadrix-decode", root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m") != 0)
        return failedStep(Step::makeRoot);
    for (const Bound& b : bound) {
        struct stat st {};
        const std::string at = root + b.path;
        if (b.fd < 0 || ::fstat(b.fd, &st) != 0 || !makeParents(root, b.path))
            return failedStep(Step::putPlace);
        if (S_ISDIR(st.st_mode) ? ::mkdir(at.c_str(), 0755) != 0 && errno != EEXIST
                                : ::close(::open(at.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) != 0)
            return failedStep(Step::putPlace);
        const std::string source = "/proc/self/fd/" + std::to_string(b.fd);
        if (::mount(source.c_str(), at.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            return failedStep(Step::bindPlace);
    }
    for (const auto& [place, real] : links) {
        struct stat st {};
        const std::string at = root + place;
        if (::lstat(at.c_str(), &st) == 0) continue;
        if (!makeParents(root, place)) {
            // A link beneath a bound place, or beneath another link, is
            // reached through them.
            if (errno == ENOTDIR) continue;
            return failedStep(Step::putLink);
        }
        if (::symlink(real.c_str(), at.c_str()) != 0) return failedStep(Step::putLink);
    }
    if (auto failure = makeReadOnly(root, bound)) return failure;
    if (::chdir(root.c_str()) != 0 || ::syscall(SYS_pivot_root, ".", ".") != 0)
        return failedStep(Step::moveIntoRoot);
    if (::umount2(".", MNT_DETACH) != 0) return failedStep(Step::letGoOfOldRoot);
    if (::chdir("/") != 0) return failedStep(Step::moveIntoRoot);
    return {};
}

// The descriptors open now.
size_t openDescriptors() {
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

// Each place by its real path (a link's target is what Landlock would
// grant), bound once; links to them are made last, when no folder is made
// through them any more.
std::vector<Bound> placesToBind(const std::vector<std::string>& places,
                                std::map<std::string, std::string>& links) {
    std::vector<Bound> bound;
    for (const std::string& place : places) {
        char real[PATH_MAX];
        if (!::realpath(place.c_str(), real)) continue;  // not on this system
        if (place != real) links.emplace(place, real);
        const std::string target = real;
        if (std::any_of(bound.begin(), bound.end(), [&](const Bound& b) { return beneath(target, b.path); }))
            continue;
        std::erase_if(bound, [&](const Bound& b) { return beneath(b.path, target); });
        bound.push_back({target});
    }
    return bound;
}

// A root of the decoder's own holding the places above and nothing else: no
// home, no /proc, no other file of the system's, all of it read-only. Made
// in a mount namespace (and, for an ordinary user, a user namespace) that
// nothing else shares. A refused namespace (the step `namespaces`) changed
// nothing.
Failure isolateFiles(const std::vector<std::string>& places) {
    if (simulatedWithout("namespaces")) return failedStep(Step::namespaces, ENOSYS);
    std::map<std::string, std::string> links;
    std::vector<Bound> bound = placesToBind(places, links);
    // Every place is held open while the root is made: counted before any
    // is opened, the limit on open files raised for them where it must be
    // and put back after.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return failedStep(Step::countOpenFiles);
    const rlim_t needed = rlim_t(openDescriptors() + bound.size()) + 8;
    if (needed > files.rlim_max) return failedStep(Step::holdPlacesOpen, EMFILE);
    const rlimit raised{std::max(files.rlim_cur, needed), files.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) return failedStep(Step::raiseOpenFiles);
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWNS) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            const int error = errno;
            ::setrlimit(RLIMIT_NOFILE, &files);
            return failedStep(Step::namespaces, error);
        }
        if (!writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
            return failedStep(Step::mapUserNamespace);
    }
    Failure failure;
    for (Bound& b : bound)
        if ((b.fd = ::open(b.path.c_str(), O_PATH | O_CLOEXEC)) < 0 && !failure)
            failure = failedStep(Step::openPlace);
    if (!failure) failure = makeRoot(bound, links);
    for (const Bound& b : bound)
        if (b.fd >= 0) ::close(b.fd);
    if (failure) return failure;
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0) return failedStep(Step::lowerOpenFiles);
    return {};
}

// ---- Capabilities ----------------------------------------------------------------

// Run as root, none of root's powers stay: no real-time priority, no limit
// raised, no namespace made by a thread. The bounding set first, as taking
// from it needs the power to change capabilities, which goes with the rest.
Failure dropCapabilities() {
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &head, data) != 0) return failedStep(Step::readCapabilities);
    if (data[0].effective & (1u << CAP_SETPCAP))
        for (int cap = 0; ::prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
            if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return failedStep(Step::dropCapabilities);
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    std::memset(data, 0, sizeof data);
    if (::syscall(SYS_capset, &head, data) != 0) return failedStep(Step::dropCapabilities);
    return {};
}

// ---- Threads ---------------------------------------------------------------------

// Decoding starts threads in one place only (found by tracing every format,
// whole and scaled): the toolkit's pool, which converts and scales a large
// picture in bands, with a thread a core. A fixed number of them is started
// here, after the files and capabilities are shut (which the threads
// inherit) and before the filter, and kept for the decoder's life; the
// filter then refuses every new thread. So code inside the decoder has these
// and no more, whatever the user's process limit (which does not bind root).
Failure startDecodingThreads() {
    // A pool short of a thread would wait for it for ever on a large picture.
    // On a busy machine threads can be slow to start: they are given most of
    // the decoder's own time rather than a valid picture refused for them.
    constexpr auto kThreadsWait = std::chrono::seconds(15);
    // No system error: whatever number an earlier call left is not its cause.
    if (holdToolkitThreads(kDecoderThreads, kThreadsWait) != kDecoderThreads)
        return failedStep(Step::startThreads, 0);
    return {};
}

// ---- System calls: seccomp -----------------------------------------------------

#if defined(__x86_64__) || defined(__aarch64__)

#if defined(__x86_64__)
constexpr uint32_t kArch = AUDIT_ARCH_X86_64;
#else
constexpr uint32_t kArch = AUDIT_ARCH_AARCH64;
#endif

constexpr uint32_t kAllow = SECCOMP_RET_ALLOW;
constexpr uint32_t errnoOf(int e) {
    return SECCOMP_RET_ERRNO | uint32_t(e);
}

// A filter program built rule by rule: each rule is the code run for one
// call number, skipped over for any other.
class Filter {
public:
    using Code = std::vector<sock_filter>;

    static Code ret(uint32_t v) { return {BPF_STMT(BPF_RET | BPF_K, v)}; }
    // The low 32 bits of argument i: process ids, flags and requests are
    // 32-bit numbers to the kernel (both architectures are little-endian).
    static sock_filter loadArg(int i) {
        return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, uint32_t(offsetof(seccomp_data, args) + 8 * i));
    }
    // Allowed when argument i is one of `values`, else refused with `refusal`.
    static Code argIn(int i, std::initializer_list<uint32_t> values, uint32_t refusal = errnoOf(EPERM)) {
        Code c{loadArg(i)};
        uint8_t left = uint8_t(values.size());
        for (uint32_t v : values) c.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, v, uint8_t(left--), 0));
        c.push_back(BPF_STMT(BPF_RET | BPF_K, refusal));
        c.push_back(BPF_STMT(BPF_RET | BPF_K, kAllow));
        return c;
    }
    // Allowed when none of `bits` is set in argument i.
    static Code argWithout(int i, uint32_t bits, uint32_t refusal) {
        return {loadArg(i), BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, bits, 0, 1),
                BPF_STMT(BPF_RET | BPF_K, refusal), BPF_STMT(BPF_RET | BPF_K, kAllow)};
    }

    void add(long nr, const Code& body) {
        code_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(nr), 0, uint8_t(body.size())));
        code_.insert(code_.end(), body.begin(), body.end());  // each ends in a return
    }
    void allow(std::initializer_list<long> nrs) {
        for (long nr : nrs) {
            code_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(nr), 0, 1));
            code_.push_back(BPF_STMT(BPF_RET | BPF_K, kAllow));
        }
    }
    void start() {
        // Another architecture's calls (32-bit x86 on x86_64) and, on x86_64,
        // the x32 numbering are refused whole.
        code_.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
        code_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0));
        code_.push_back(BPF_STMT(BPF_RET | BPF_K, errnoOf(ENOSYS)));
        code_.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
#if defined(__x86_64__)
        code_.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 1));
        code_.push_back(BPF_STMT(BPF_RET | BPF_K, errnoOf(ENOSYS)));
#endif
    }
    // Any call no rule named: as if this kernel lacked it, so a library
    // falls back to an older call or goes without.
    sock_fprog finish() {
        code_.push_back(BPF_STMT(BPF_RET | BPF_K, errnoOf(ENOSYS)));
        return {static_cast<unsigned short>(code_.size()), code_.data()};
    }

private:
    Code code_;
};

// The calls decoding makes, found by tracing the decoder over every format it
// reads (the toolkit's image plugins loaded on demand, fonts for a drawing's
// text), with those the C library and the toolkit make on their ordinary
// paths (threads, signals to itself, time). Calls that name a process act on
// the decoder alone; any other call fails with an error number.
Failure filterSystemCalls() {
    const uint32_t self = uint32_t(::getpid());
    Filter f;
    f.start();
    // Reading, mapping and writing what is already open, and memory.
    f.allow({__NR_read,      __NR_mmap,      __NR_munmap,      __NR_mprotect,  __NR_close,
             __NR_futex,     __NR_write,     __NR_pread64,     __NR_pwrite64,  __NR_readv,
             __NR_writev,    __NR_lseek,     __NR_brk,         __NR_mremap,    __NR_madvise,
             __NR_ftruncate, __NR_fadvise64, __NR_dup,         __NR_dup3,      __NR_pipe2,
             __NR_eventfd2,  __NR_ppoll,     __NR_close_range, __NR_getrandom, __NR_membarrier});
    // A descriptor's flags, copies, locks and seals; no owner for its
    // signals, no lease, no watch on a folder, and no O_ASYNC: the kernel
    // would send a signal of the decoder's choosing to a process of its
    // choosing on its behalf.
    Filter::Code fcntl{Filter::loadArg(1), BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_SETFL, 0, 4)};
    const Filter::Code withoutAsync = Filter::argWithout(2, O_ASYNC, errnoOf(EPERM));
    fcntl.insert(fcntl.end(), withoutAsync.begin(), withoutAsync.end());
    const Filter::Code commands =
        Filter::argIn(1, {F_DUPFD, F_DUPFD_CLOEXEC, F_GETFD, F_SETFD, F_GETFL, F_GETLK, F_SETLK, F_SETLKW,
                          F_OFD_GETLK, F_OFD_SETLK, F_OFD_SETLKW, F_ADD_SEALS, F_GET_SEALS});
    fcntl.insert(fcntl.end(), commands.begin(), commands.end());
    f.add(__NR_fcntl, fcntl);
    // Looking at files: what the places above hold is read by open alone.
    f.allow({__NR_newfstatat, __NR_fstat, __NR_statx, __NR_fstatfs, __NR_statfs, __NR_getdents64,
             __NR_readlinkat, __NR_faccessat, __NR_faccessat2, __NR_getcwd});
    // The process itself: threads, signals, time, identity.
    f.allow({__NR_exit,         __NR_exit_group,      __NR_rt_sigaction,    __NR_rt_sigprocmask,
             __NR_rt_sigreturn, __NR_sigaltstack,     __NR_restart_syscall, __NR_set_robust_list,
             __NR_rseq,         __NR_set_tid_address, __NR_getpid,          __NR_gettid,
             __NR_getppid,      __NR_getuid,          __NR_geteuid,         __NR_getgid,
             __NR_getegid,      __NR_getresuid,       __NR_getresgid,       __NR_clock_gettime,
             __NR_clock_getres, __NR_gettimeofday,    __NR_clock_nanosleep, __NR_nanosleep,
             __NR_sched_yield,  __NR_sysinfo,         __NR_uname,           __NR_getrusage,
             __NR_getrlimit});
#if defined(__x86_64__)
    f.allow({__NR_readlink, __NR_access, __NR_stat, __NR_lstat, __NR_dup2, __NR_pipe, __NR_poll, __NR_time});
#endif
    // Files open for reading only (Landlock holds them to the places above).
    constexpr uint32_t kWriteFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
    f.add(__NR_openat, Filter::argWithout(2, kWriteFlags, errnoOf(EACCES)));
#if defined(__x86_64__)
    f.add(__NR_open, Filter::argWithout(1, kWriteFlags, errnoOf(EACCES)));
#endif
    // No thread and no process is started from here on: decoding has the
    // threads started before the filter (startDecodingThreads), and a start
    // fails as when the system has no thread to give, so a reader fails as
    // for any other error.
    f.add(__NR_clone, Filter::ret(errnoOf(EAGAIN)));
    f.add(__NR_clone3, Filter::ret(errnoOf(EAGAIN)));
    // Signals, limits and scheduling for the decoder alone (0 names the
    // caller). A thread's id cannot be told from another process's here, so
    // asked about a thread the kernel seems to lack the call, which the C
    // library takes in its stride (it asks each new thread's processors).
    f.add(__NR_kill, Filter::argIn(0, {self}));
    f.add(__NR_tgkill, Filter::argIn(0, {self}));
    f.add(__NR_rt_sigqueueinfo, Filter::argIn(0, {self}));
    f.add(__NR_rt_tgsigqueueinfo, Filter::argIn(0, {self}));
    f.add(__NR_pidfd_open, Filter::argIn(0, {self}));
    for (long nr :
         {__NR_getsid, __NR_getpgid, __NR_prlimit64, __NR_sched_getaffinity, __NR_sched_setaffinity,
          __NR_sched_getparam, __NR_sched_setparam, __NR_sched_getscheduler, __NR_sched_setscheduler})
        f.add(nr, Filter::argIn(0, {0, self}, errnoOf(ENOSYS)));
    for (long nr : {__NR_getpriority, __NR_setpriority}) {
        Filter::Code c = Filter::argIn(1, {0, self});
        // `which` must be PRIO_PROCESS: a group or a user is others.
        c.insert(c.begin(), {Filter::loadArg(0), BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PRIO_PROCESS, 1, 0),
                             BPF_STMT(BPF_RET | BPF_K, errnoOf(EPERM))});
        f.add(nr, c);
    }
    // A thread's name and the state the runtime asks about; nothing else of prctl.
    f.add(__NR_prctl, Filter::argIn(0, {PR_SET_NAME, PR_GET_NAME, PR_GET_DUMPABLE, PR_SET_VMA}));
    // No terminal requests, and no device's (isatty answers no).
    f.add(__NR_ioctl, Filter::ret(errnoOf(ENOTTY)));
    const sock_fprog program = f.finish();
    // On every thread at once: the pool's threads run code of the picture's too.
    if (::syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) != 0)
        return failedStep(Step::filterSystemCalls);
    return {};
}

#else

// No filter is written for this processor: the decoder refuses every
// picture rather than decode one unconfined.
Failure filterSystemCalls() {
    return failedStep(Step::noFilterForProcessor, 0);
}

#endif

}  // namespace

std::string_view confinementStepName(ConfinementStep step) {
    // In the order of the steps: each row's place is its number.
    static constexpr std::pair<Step, std::string_view> kNames[] = {
        {Step::none, ""},
        {Step::leaveTerminal, "it could not leave the terminal"},
        {Step::bindToCaller, "it could not be bound to its caller"},
        {Step::givePrivilegesUp, "it could not give up privileges"},
        {Step::makeFileRules, "its file rules could not be made"},
        {Step::applyFileRules, "its file rules could not be applied"},
        {Step::namespaces, "the kernel allows it no namespace"},
        {Step::countOpenFiles, "its open files could not be counted"},
        {Step::holdPlacesOpen, "its places are more than it may hold open"},
        {Step::raiseOpenFiles, "its open files could not be raised"},
        {Step::mapUserNamespace, "its user namespace could not be mapped"},
        {Step::openPlace, "a place for its root could not be opened"},
        {Step::ownMounts, "its mounts could not be made its own"},
        {Step::makeRoot, "its root could not be made"},
        {Step::putPlace, "a place could not be put in its root"},
        {Step::bindPlace, "a place could not be bound into its root"},
        {Step::putLink, "a link could not be put in its root"},
        {Step::rootReadOnly, "its root could not be made read-only"},
        {Step::placeReadOnly, "a place in its root could not be made read-only"},
        {Step::moveIntoRoot, "it could not move into its root"},
        {Step::letGoOfOldRoot, "it could not let go of the old root"},
        {Step::lowerOpenFiles, "its open files could not be lowered"},
        {Step::limitOpenFiles, "its open files could not be limited"},
        {Step::becomeUndumpable, "it could not be made undumpable"},
        {Step::readCapabilities, "its capabilities could not be read"},
        {Step::dropCapabilities, "its capabilities could not be dropped"},
        {Step::startThreads, "its threads could not be started"},
        {Step::filterSystemCalls, "its system-call filter was refused"},
        {Step::noFilterForProcessor, "there is no system-call filter for this processor"},
    };
    static_assert(std::size(kNames) == size_t(Step::count));
    static_assert([] {
        for (size_t i = 0; i < std::size(kNames); ++i)
            if (size_t(kNames[i].first) != i) return false;
        return true;
    }());
    const auto at = size_t(step);
    return at < std::size(kNames) ? kNames[at].second : std::string_view();
}

std::string confineDecoder(int parent, bool noFileRulesHere, ConfinementError* error) {
    const auto refused = [&](const Failure& failure) {
        if (error) *error = {failure->step, failure->errorNumber};
        std::string why(confinementStepName(failure->step));
        if (failure->errorNumber != 0) why += std::string(" (") + std::strerror(failure->errorNumber) + ")";
        return why;
    };
    // A session of its own: no controlling terminal to type into, no
    // process group shared with the program.
    if (::setsid() < 0 && ::getsid(0) != ::getpid()) return refused(failedStep(Step::leaveTerminal));
    // Ended with the program that started it; a program already gone
    // before the request was made is seen by the parent having changed.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) return refused(failedStep(Step::bindToCaller));
    // Not a step that failed: there is no caller to confine it for.
    if (::getppid() != parent) {
        if (error) *error = {};
        return "its caller has ended";
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return refused(failedStep(Step::givePrivilegesUp));
    // Without Landlock the files are held by a root of its own, made whole or
    // not at all. Only where the program found this machine allows no
    // namespace either (and has said so once), and the kernel refuses the
    // decoder one too, does the system-call filter hold alone.
    const std::vector<std::string> places = readablePlaces();
    if (const long abi = landlockAbi(); abi >= 1) {
        if (const Failure failure = restrictFiles(abi, places)) return refused(failure);
    } else if (const Failure failure = isolateFiles(places)) {
        if (failure->step != Step::namespaces || !noFileRulesHere) return refused(failure);
    }
    // No more open files than decoding needs, and no raising them again.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_max = files.rlim_cur;
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0) return refused(failedStep(Step::limitOpenFiles));
    // Other processes of the user may not read its memory, nor it theirs
    // through ptrace (Landlock above, and the filter). Not before the root
    // is made: the maps of a user namespace are written through /proc/self,
    // which is no longer the user's once the process is not dumpable.
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) return refused(failedStep(Step::becomeUndumpable));
    for (const auto step : {dropCapabilities, startDecodingThreads, filterSystemCalls})
        if (const Failure failure = step()) return refused(failure);
    return {};
}

namespace {

// The namespaces for a root of the decoder's own, tried in a child as the
// decoder would (a process with threads can make no user namespace, and the
// program keeps its own root). A child that has not answered within the
// bound (held by a hung mount) is ended, and counts as a refusal.
bool namespacesAllowed(const std::vector<std::string>& places, std::chrono::milliseconds bound) {
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) ::_exit(isolateFiles(places) ? 1 : 0);
    const auto until = std::chrono::steady_clock::now() + bound;
    int status = 0;
    for (;;) {
        const pid_t got = ::waitpid(child, &status, WNOHANG);
        if (got == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (got < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= until) break;
        ::usleep(5000);
    }
    ::kill(child, SIGKILL);
    std::fprintf(stderr,
                 "The picture decoder's check for namespaces did not end within %lld ms: it was ended, and "
                 "taken as finding none.\n",
                 static_cast<long long>(bound.count()));
    // Reaped if it ends soon; one stuck in the kernel is left to it.
    for (int wait = 0; wait < 100 && ::waitpid(child, &status, WNOHANG) == 0; ++wait) ::usleep(10000);
    return false;
}

}  // namespace

std::string missingConfinement(std::chrono::milliseconds probeBound) {
    // Once (and logged once) for each kernel the tests make up, once in all
    // for the real one.
    static std::mutex lock;
    static std::map<std::string, std::string> known;
    const char* without = std::getenv(kSimulatedKernelWithout);
    std::lock_guard hold(lock);
    const auto [at, fresh] = known.try_emplace(without ? without : "");
    if (!fresh) return at->second;
    // A setting for the tests, which a shipped program honours as well (the
    // tests run on the build that ships): never silently.
    if (without && *without)
        std::fprintf(stderr, "%s is set to \"%s\": the picture decoder acts as on a kernel without it.\n",
                     kSimulatedKernelWithout, without);
    if (landlockAbi() >= 1) return {};
    if (!namespacesAllowed(readablePlaces(), probeBound)) {
        at->second =
            "The picture decoder reads files unconfined: this kernel has no Landlock and allows no "
            "namespace for a root of its own (it still makes only the system calls decoding needs).";
        std::fprintf(stderr, "%s\n", at->second.c_str());
    }
    return at->second;
}

}  // namespace kit::ImageIO
