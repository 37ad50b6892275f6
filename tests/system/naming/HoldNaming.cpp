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
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool noLinks, noExclusive, hold, refuse, slow, holdMain;
const char* armFile;
std::atomic<bool> namingHeld{false};

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

// Whether naming `path` is refused (errno set) or held; false when it goes on.
bool stopped(const char* path) {
    if (!isNewFile(path) || !armed()) return false;
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
    return real<int (*)(struct pollfd*, nfds_t, int)>("poll")(fds, n, timeout);
}

int ppoll(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask) {
    holdMainWait();
    return real<int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*)>("ppoll")(
        fds, n, timeout, mask);
}

}  // extern "C"
