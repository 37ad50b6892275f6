// Loaded into kadrix by a test (LD_PRELOAD), this plays a folder whose files
// cannot be given their names as usual. KADRIX_TEST_NAMING holds words:
//   nolinks      link() is refused as on vfat (EPERM);
//   noexclusive  so is a rename that replaces nothing (EINVAL, as where the
//                file system lacks it: some network and FUSE folders);
//   hold         giving a hidden ".new-" file its name (the link, else the
//                rename) never returns: the process ends there, as when
//                the folder hangs or the power goes at that moment;
//   refuse       giving it its name is refused (EACCES);
//   slow         giving it its name waits three seconds first, as on a slow
//                network folder;
//   steal        the lock of the first hidden ".new-" file a writer makes
//                is taken (through a descriptor of its own) before the
//                writer locks it, as another process looking at the folder
//                would; when the writer then gives that file its name, the
//                taker first names it itself, as such a process would;
//   holdmainnaming  the main thread's waits for events never return from
//                when a hidden file is being named (which goes on a second
//                later): a file named while the main thread is held;
//   holdmain     the main thread's next wait for events never returns once
//                a naming is held (or, with an arming file, once it is
//                there): the main thread held, as a busy machine or a call
//                that hangs holds it.
// KADRIX_TEST_NAMING_ARM names a file: until it exists, the words do nothing.
// KADRIX_TEST_NAMING_REPORT names a file that gets "held NAME" for each hold,
// and "main held" when the main thread is.
// Programs kadrix starts do not inherit it.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool noLinks, noExclusive, hold, refuse, slow, holdMain, steal, holdMainNaming;
const char* armFile;
std::atomic<bool> namingHeld{false};
std::atomic<bool> mainToHold{false};
// The hidden file whose lock was taken, and the taker's descriptor.
char stolen[4096];
std::atomic<int> stolenFd{-1};

bool has(const char* words, const char* word) {
    for (const char* at = words ? strstr(words, word) : NULL; at; at = strstr(at + 1, word)) {
        const char end = at[strlen(word)];
        if ((at == words || at[-1] == ' ') && (end == '\0' || end == ' ')) return true;
    }
    return false;
}

__attribute__((constructor)) void start() {
    const char* words = getenv("KADRIX_TEST_NAMING");
    noLinks = has(words, "nolinks");
    noExclusive = has(words, "noexclusive");
    hold = has(words, "hold");
    refuse = has(words, "refuse");
    slow = has(words, "slow");
    holdMain = has(words, "holdmain");
    steal = has(words, "steal");
    holdMainNaming = has(words, "holdmainnaming");
    armFile = getenv("KADRIX_TEST_NAMING_ARM");
    unsetenv("LD_PRELOAD");
}

bool armed() {
    struct stat st;
    return !armFile || stat(armFile, &st) == 0;
}

void report(const char* line) {
    const char* to = getenv("KADRIX_TEST_NAMING_REPORT");
    if (!to) return;
    int fd = open(to, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    dprintf(fd, "%s\n", line);
    close(fd);
}

bool isNewFile(const char* path) {
    const char* name = strrchr(path, '/');
    name = name ? name + 1 : path;
    return name[0] == '.' && strstr(name, ".new-") != NULL;
}

[[noreturn]] void holdForever(const char* path) {
    char line[4200];
    snprintf(line, sizeof line, "held %s", strrchr(path, '/') ? strrchr(path, '/') + 1 : path);
    report(line);
    namingHeld = true;
    for (;;) pause();
}

template <class F>
F real(const char* name);

// The taker of a stolen lock names the file before its writer does.
void takerNames(const char* path) {
    if (stolenFd.load() < 0 || strcmp(path, stolen) != 0) return;
    char target[4096];
    const char* slash = strrchr(path, '/');
    const size_t folder = slash ? size_t(slash - path + 1) : 0;
    const char* name = path + folder + 1;
    const char* mark = strstr(name, ".new-");
    snprintf(target, sizeof target, "%.*s%.*s", int(folder), path, int(mark - name), name);
    if (real<int (*)(const char*, const char*)>("link")(path, target) == 0) unlink(path);
    report("taker named it");
}

// Whether naming `path` is refused (errno set) or held; false when it goes on.
bool stopped(const char* path) {
    if (!isNewFile(path) || !armed()) return false;
    takerNames(path);
    if (holdMainNaming && !mainToHold) {
        mainToHold = true;
        sleep(1);  // the main thread comes to its wait meanwhile
    }
    if (refuse) {
        errno = EACCES;
        return true;
    }
    if (hold) holdForever(path);
    if (slow) sleep(3);
    return false;
}

template <class F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The main thread's wait for events, once it is to be held: never returns.
void holdMainWait() {
    if (mainToHold && getpid() == gettid()) {
        report("main held");
        for (;;) pause();
    }
    if (!holdMain || getpid() != gettid()) return;
    if (armFile ? !armed() : !namingHeld.load()) return;
    report("main held");
    for (;;) pause();
}

}  // namespace

extern "C" {

int link(const char* from, const char* to) noexcept {
    if (noLinks) {
        errno = EPERM;
        return -1;
    }
    if (stopped(from)) return -1;
    return real<int (*)(const char*, const char*)>("link")(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) noexcept {
    if (noExclusive && (flags & RENAME_NOREPLACE)) {
        errno = EINVAL;
        return -1;
    }
    if (stopped(from)) return -1;
    return real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(fromDir, from, toDir, to,
                                                                                    flags);
}

int rename(const char* from, const char* to) noexcept {
    if (stopped(from)) return -1;
    return real<int (*)(const char*, const char*)>("rename")(from, to);
}

int poll(struct pollfd* fds, nfds_t n, int timeout) {
    holdMainWait();
    const int r = real<int (*)(struct pollfd*, nfds_t, int)>("poll")(fds, n, timeout);
    holdMainWait();
    return r;
}

int ppoll(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask) {
    holdMainWait();
    const int r = real<int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*)>("ppoll")(
        fds, n, timeout, mask);
    holdMainWait();
    return r;
}

// A writer's lock of the first hidden file it makes: taken first.
int flock(int fd, int operation) noexcept {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = steal && stolenFd.load() < 0 && armed() && (fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY
                          ? readlink(link, path, sizeof path - 1)
                          : -1;
    if (n > 0) {
        path[n] = '\0';
        if (isNewFile(path)) {
            const int taker = open(path, O_RDONLY | O_CLOEXEC);
            if (taker >= 0 && real<int (*)(int, int)>("flock")(taker, LOCK_EX | LOCK_NB) == 0) {
                snprintf(stolen, sizeof stolen, "%s", path);
                stolenFd = taker;
                char line[4200];
                snprintf(line, sizeof line, "stole %s", strrchr(path, '/') + 1);
                report(line);
            }
        }
    }
    return real<int (*)(int, int)>("flock")(fd, operation);
}

}  // extern "C"
