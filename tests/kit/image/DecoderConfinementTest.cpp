// Code running inside the confined decoder (an exploited decoding library)
// reaches nothing of the program's or the user's, and pictures of every
// format still decode under the confinement.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QThreadPool>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "kit/base/Files.h"
#include "kit/image/Decoder.h"
#include "kit/image/ImageIO.h"
#include "support/TestData.h"
#include "support/ThreadLimit.h"

namespace io = kit::ImageIO;

namespace {

// Numbers of calls newer than the headers built against; a kernel without
// them answers ENOSYS, which holds as well as a refusal.
constexpr long kPidfdGetfd = 438, kFchmodat2 = 452, kSetxattrat = 463;

// What the program holds that the decoder must not reach: read back from
// the program's memory, it is an escape.
const char kProgramSecret[] = "the program's own memory";

void writeFile(const std::string& path, const std::string& bytes, mode_t mode) {
    std::ofstream(path, std::ios::binary) << bytes;
    ::chmod(path.c_str(), mode);
}

bool readsSome(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    char buf[64];
    const bool read = fd >= 0 && ::read(fd, buf, sizeof buf) > 0;
    if (fd >= 0) ::close(fd);
    return read;
}

// The kernel refusing this process every namespace from here on with
// `error`, on each of its threads (the decoders' spawner among them):
// ENOSPC as when the user's count of them runs out after the program made
// its check. A later refusal's error holds over an earlier's.
bool refuseNamespaces(int error = ENOSPC) {
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_unshare, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | uint32_t(error)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
}

// Plugin places as a user's environment may name them: relative, the
// whole file system, the home, and more than the decoder may hold open at
// once (each with its image plugins' folder).
std::string pluginPlaces(const std::string& scratch, const std::string& home) {
    std::string places = "home:/:" + home;
    for (int i = 0; i < 70; ++i) {
        const std::string place = scratch + "/plugins/" + std::to_string(i);
        std::filesystem::create_directories(place + "/imageformats");
        places += ":" + place;
    }
    return places;
}

// The first folder on the way to `path` that this process may not pass
// through, with its mode and owner; empty when it may pass them all.
std::string firstFolderBarring(const std::string& path) {
    std::filesystem::path at = "/";
    for (const auto& part : std::filesystem::path(path).parent_path().relative_path()) {
        if (::access(at.c_str(), X_OK) != 0) break;
        at /= part;
    }
    if (::access(at.c_str(), X_OK) == 0) return {};
    struct stat st {};
    ::stat(at.c_str(), &st);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    return at.string() + " (mode " + mode + ", owner " + std::to_string(st.st_uid) + ")";
}

struct Escape {
    const char* what;
    bool needsFileRules;  // held by the file rules alone (Landlock, or a root of its own)
    std::function<bool()> works;
};

// How many of `tries` threads code inside the decoder gets running at once,
// started by itself.
int threadsStarted(int tries) {
    std::atomic<bool> release{false};
    pthread_attr_t small;
    ::pthread_attr_init(&small);
    ::pthread_attr_setstacksize(&small, 64 * 1024);
    std::vector<pthread_t> started;
    for (int i = 0; i < tries; ++i) {
        pthread_t t;
        const auto hold = [](void* r) -> void* {
            while (!static_cast<std::atomic<bool>*>(r)->load()) ::usleep(1000);
            return nullptr;
        };
        if (::pthread_create(&t, &small, hold, &release) == 0) started.push_back(t);
    }
    release = true;
    for (pthread_t t : started) ::pthread_join(t, nullptr);
    ::pthread_attr_destroy(&small);
    return int(started.size());
}

// The most of `tries` tasks running at once on the toolkit's pool, told it
// may have as many threads.
int poolThreadsAtOnce(int tries) {
    struct Count {
        std::atomic<int> now{0}, most{0};
        std::atomic<bool> release{false};
    };
    const auto count = std::make_shared<Count>();
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(tries);
    for (int i = 0; i < tries; ++i)
        pool->start([count] {
            const int now = ++count->now;
            for (int most = count->most; now > most && !count->most.compare_exchange_weak(most, now);) {
            }
            while (!count->release) ::usleep(1000);
            --count->now;
        });
    for (int waited = 0; count->most <= io::kDecoderThreads && waited < 300; ++waited) ::usleep(1000);
    count->release = true;
    return count->most;
}

// A picture large enough for the toolkit to convert and scale it in bands,
// converted and scaled smoothly: whether every pixel came out as it should.
bool convertsAndScales() {
    QImage picture(3000, 2000, QImage::Format_ARGB32);
    picture.fill(QColor(40, 120, 200));
    const QImage converted = picture.convertToFormat(QImage::Format_RGB888);
    const QImage scaled = picture.scaled(1500, 1000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return converted.pixel(2999, 1999) == qRgb(40, 120, 200) && scaled.pixel(1499, 999) == qRgb(40, 120, 200);
}

}  // namespace

namespace {

// Each way out that worked, a line each. The table's children are forked
// from a process of their own: forked from one where another test used the
// toolkit's pool, a child would inherit the bookkeeping of threads it does
// not have, and the decoder's own threads could not be had.
void tryTheWaysOut(std::string& worked_) {
    const std::string scratch = kit::files::uniqueTempPath("confined-", "");
    const std::string home = scratch + "/home";
    std::filesystem::create_directories(home);
    const std::string secret = home + "/secret", outside = scratch + "/outside", target = scratch + "/target";
    writeFile(secret, "private", 0600);
    writeFile(outside, "anyone's", 0644);
    writeFile(target, "mode and attributes", 0600);
    const pid_t program = ::getpid();
    // Another process of the user's, asleep, and a terminal to type into.
    const pid_t other = ::fork();
    if (other == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(other, 0);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    int answers[2] = {-1, -1};
    const std::string proc = "/proc/" + std::to_string(program);
    // A process that says when a SIGUSR1 reaches it (blocked from its start,
    // so none is missed).
    int heard[2];
    ASSERT_EQ(::pipe2(heard, O_CLOEXEC), 0);
    sigset_t usr1, before;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &usr1, &before);
    const pid_t listener = ::fork();
    if (listener == 0) {
        int sig = 0;
        ::sigwait(&usr1, &sig);
        ::_exit(::write(heard[1], "!", 1) == 1 ? 0 : 1);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    // Both ended on every road out of the test.
    const std::unique_ptr<void, std::function<void(void*)>> ended(&heard, [&](void*) {
        for (pid_t p : {other, listener}) {
            if (p <= 0) continue;
            ::kill(p, SIGKILL);
            ::waitpid(p, nullptr, 0);
        }
    });
    ASSERT_GT(listener, 0);
    ::close(heard[1]);

    // Each way out, as the table of what a library inside the decoder was
    // seen to do; true when it worked. The process ids are taken before the
    // confinement (as code handed descriptors would have them).
    int pidfdOfProgram = -1, pidfdOfOther = -1, spare[2] = {-1, -1}, readOnly = -1, folder = -1;
    rlimit otherCore{};
    cpu_set_t otherCpus;

    const std::vector<Escape> escapes = {
        {"read a 0600 file in the home (a plugin place, relative and absolute)", true,
         [&] { return readsSome(secret); }},
        {"read a file outside the libraries' places", true, [&] { return readsSome(outside); }},
        {"read a system file outside them", true, [&] { return readsSome("/etc/passwd"); }},
        {"read of another process in /proc", true,
         [&] { return readsSome("/proc/" + std::to_string(other) + "/stat"); }},
        {"create a file", true,
         [&] { return ::open((scratch + "/made").c_str(), O_WRONLY | O_CREAT, 0600) >= 0; }},
        {"open the program by its pid", false, [&] { return ::syscall(__NR_pidfd_open, program, 0) >= 0; }},
        {"take a descriptor of the program", false,
         [&] { return ::syscall(kPidfdGetfd, pidfdOfProgram, answers[0], 0) >= 0; }},
        {"read the program's memory in /proc", true,
         [&] {
             char got[sizeof kProgramSecret] = {};
             const int fd = ::open((proc + "/mem").c_str(), O_RDONLY);
             return fd >= 0 && ::pread(fd, got, sizeof got, off_t(uintptr_t(kProgramSecret))) > 0 &&
                    std::memcmp(got, kProgramSecret, sizeof got) == 0;
         }},
        {"read the program's environment", true, [&] { return readsSome(proc + "/environ"); }},
        {"read the program's memory directly", false,
         [&] {
             char got[sizeof kProgramSecret] = {};
             iovec local{got, sizeof got}, remote{const_cast<char*>(kProgramSecret), sizeof got};
             return ::process_vm_readv(program, &local, 1, &remote, 1, 0) > 0;
         }},
        {"trace another process", false, [&] { return ::ptrace(PTRACE_SEIZE, other, 0, 0) == 0; }},
        {"change a file's mode (fchmodat2)", false,
         [&] { return ::syscall(kFchmodat2, AT_FDCWD, target.c_str(), 0777, 0) == 0; }},
        {"set a file's attribute (setxattrat)", false,
         [&] {
             const char value[] = "1";
             struct {
                 uint64_t value;
                 uint32_t size, flags;
             } args{uint64_t(uintptr_t(value)), 1, 0};
             return ::syscall(kSetxattrat, AT_FDCWD, target.c_str(), 0, "user.kadrix", &args, sizeof args) ==
                    0;
         }},
        {"signal another process (kill)", false, [&] { return ::kill(other, 0) == 0; }},
        {"signal another process (tgkill)", false,
         [&] { return ::syscall(__NR_tgkill, other, other, 0) == 0; }},
        {"signal another process (rt_sigqueueinfo)", false,
         [&] {
             siginfo_t info{};
             info.si_code = SI_QUEUE;
             return ::syscall(__NR_rt_sigqueueinfo, other, 0, &info) == 0;
         }},
        {"signal another process (pidfd_send_signal)", false,
         [&] { return ::syscall(__NR_pidfd_send_signal, pidfdOfOther, 0, nullptr, 0) == 0; }},
        {"limit another process", false,
         [&] { return ::syscall(__NR_prlimit64, other, RLIMIT_CORE, &otherCore, nullptr) == 0; }},
        {"lower another process's priority", false,
         [&] { return ::setpriority(PRIO_PROCESS, id_t(other), 5) == 0; }},
        {"move another process's processors", false,
         [&] { return ::sched_setaffinity(other, sizeof otherCpus, &otherCpus) == 0; }},
        {"stay in the program's session", false, [&] { return ::getsid(0) != ::getpid(); }},
        {"type into a terminal", false,
         [&] {
             const char c = 'x';
             const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY);
             return (tty >= 0 && ::ioctl(tty, TIOCSTI, &c) == 0) || ::ioctl(terminal, TIOCSTI, &c) == 0;
         }},
        {"make a user namespace", false, [&] { return ::unshare(CLONE_NEWUSER) == 0; }},
        {"ask about every process of the user", false,
         [&] {
             errno = 0;
             return !(::getpriority(PRIO_USER, 0) == -1 && errno != 0);
         }},
        {"start a process", false,
         [&] {
             const pid_t p = ::fork();
             if (p == 0) ::_exit(0);
             return p > 0;
         }},
        {"make a socket", false, [&] { return ::socket(AF_UNIX, SOCK_STREAM, 0) >= 0; }},
        {"have the kernel send another process a signal (O_ASYNC)", false,
         [&] {
             int p[2];
             if (::pipe2(p, 0) != 0) return false;
             const bool owned = ::fcntl(p[0], F_SETOWN, listener) == 0;
             ::fcntl(p[0], F_SETSIG, SIGUSR1);
             ::fcntl(p[0], F_SETFL, ::fcntl(p[0], F_GETFL) | O_ASYNC);
             if (::write(p[1], "x", 1) != 1) return false;
             pollfd got{heard[0], POLLIN, 0};
             return owned && ::poll(&got, 1, 300) > 0;
         }},
        {"own another process's signals (F_SETOWN_EX)", false,
         [&] {
             const f_owner_ex owner{F_OWNER_PID, listener};
             return ::fcntl(spare[0], F_SETOWN_EX, &owner) == 0;
         }},
        {"choose a descriptor's signal (F_SETSIG)", false,
         [&] { return ::fcntl(spare[0], F_SETSIG, SIGUSR1) == 0; }},
        {"ask for signals on input (F_SETFL O_ASYNC)", false,
         [&] { return ::fcntl(spare[0], F_SETFL, O_ASYNC | O_NONBLOCK) == 0; }},
        {"take a lease (F_SETLEASE)", false, [&] { return ::fcntl(readOnly, F_SETLEASE, F_RDLCK) == 0; }},
        {"watch a folder (F_NOTIFY)", false, [&] { return ::fcntl(folder, F_NOTIFY, DN_MODIFY) == 0; }},
        {"take real-time priority", false,
         [&] {
             const sched_param first{1};
             return ::sched_setscheduler(0, SCHED_FIFO, &first) == 0;
         }},
        {"raise its own hard limit", false,
         [&] {
             const rlimit raised{1, 1};
             return ::prlimit(0, RLIMIT_CORE, &raised, nullptr) == 0;
         }},
        {"find its own root writable", false,
         [&] {
             // Only a root of its own lacks /proc; the real root is held by Landlock.
             struct statvfs at {};
             const bool ownRoot = ::access("/proc/self", F_OK) != 0;
             const bool rootWritable = ::statvfs("/", &at) == 0 && !(at.f_flag & ST_RDONLY);
             const bool usrWritable = ::statvfs("/usr", &at) == 0 && !(at.f_flag & ST_RDONLY);
             return ownRoot && (rootWritable || usrWritable);
         }},
        {"stay dumpable", false, [&] { return ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0; }},
        // As many threads as it likes would take every process id of the
        // machine (root has no limit on them), and Kadrix's own threads with them.
        {"start threads of its own", false, [&] { return threadsStarted(1000) > 0; }},
        {"grow the toolkit's pool past the decoder's threads", false,
         [&] { return poolThreadsAtOnce(1000) > io::kDecoderThreads; }},
        // Not a way out but work decoding does: the toolkit converts and
        // scales a large picture in bands on a pool of its threads. On a
        // toolkit whose image work runs on a pool the decoder does not hold,
        // a band waits for a thread the filter refuses, for ever: the table
        // then ends at its bound, named as a hang.
        {"fail to convert and scale a large picture", false, [&] { return !convertsAndScales(); }},
        {"make shared memory", false,
         [&] {
             const int id = ::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
             if (id >= 0) ::shmctl(id, IPC_RMID, nullptr);
             return id >= 0;
         }},
    };

    // On this kernel and as on kernels without Landlock (a root of its own),
    // without namespaces too, or whose namespaces run out for the decoder
    // after the program found them; each as an ordinary user too (who needs a
    // user namespace for a root of its own) when the test runs as root: last,
    // as the files become that user's.
    // The ordinary user passes through the test's private folders to the
    // scratch folder, for the while.
    std::vector<std::pair<std::string, mode_t>> passable;
    const char* testHome = std::getenv("KADRIX_HOME");
    for (std::filesystem::path at = scratch;
         ::getuid() == 0 && testHome && at.string().starts_with(testHome) && at.has_relative_path();
         at = at.parent_path()) {
        struct stat st {};
        if (::stat(at.c_str(), &st) == 0 && !(st.st_mode & S_IXOTH) &&
            ::chmod(at.c_str(), st.st_mode | S_IXOTH) == 0)
            passable.emplace_back(at.string(), st.st_mode & 07777);
    }
    const std::string plugins = pluginPlaces(scratch, home);
    const bool asRoot = ::getuid() == 0;
    const struct {
        const char* name;
        const char* without;
        bool ordinaryUser, namespaceRefused;
    } kernels[] = {
        {"this kernel", "", false, false},
        {"a kernel without Landlock", "landlock", false, false},
        {"a kernel without Landlock whose namespaces run out for the decoder", "landlock", false, true},
        {"a kernel without Landlock and namespaces", "landlock,namespaces", false, false},
        {"this kernel, as an ordinary user", "", asRoot, false},
        {"a kernel without Landlock, as an ordinary user", "landlock", asRoot, false},
        {"a kernel without Landlock whose namespaces run out for the decoder, as an ordinary user",
         "landlock", asRoot, true},
    };
    for (const auto& [name, without, ordinaryUser, namespaceRefused] : kernels) {
        SCOPED_TRACE(name);
        ASSERT_EQ(::pipe(answers), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(answers[0]);
            // A row the test cannot set up says what it could not do.
            const auto setUpFailed = [&](const std::string& what) {
                const std::string line = "S" + what;
                (void)!::write(answers[1], line.data(), line.size());
                ::_exit(2);
            };
            const auto because = [](const char* call) {
                return std::string(call) + ": " + std::strerror(errno);
            };
            constexpr uid_t kNobody = 65534;
            if (ordinaryUser) {
                for (const std::string& path : {scratch, home, secret, outside, target})
                    if (::chown(path.c_str(), kNobody, kNobody) != 0)
                        setUpFailed(because("chown") + " " + path);
                if (::setgroups(0, nullptr) != 0) setUpFailed(because("setgroups"));
                if (::setresgid(kNobody, kNobody, kNobody) != 0) setUpFailed(because("setresgid"));
                if (::setresuid(kNobody, kNobody, kNobody) != 0) setUpFailed(because("setresuid"));
                // As a program the user started is (changing users made it not).
                ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
                // Files it cannot reach anyway would be no test of the file
                // rules: a folder above the test's own that lets no other
                // user through (a TMPDIR inside a private folder) is named.
                if (const std::string barred = firstFolderBarring(secret); !barred.empty())
                    setUpFailed("the ordinary user cannot pass through " + barred + " to its files in " +
                                scratch);
            }
            pidfdOfProgram = int(::syscall(__NR_pidfd_open, program, 0));
            pidfdOfOther = int(::syscall(__NR_pidfd_open, other, 0));
            ::prlimit(other, RLIMIT_CORE, nullptr, &otherCore);
            ::sched_getaffinity(other, sizeof otherCpus, &otherCpus);
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            (void)!::pipe(spare);
            readOnly = ::open(outside.c_str(), O_RDONLY);
            folder = ::open(scratch.c_str(), O_RDONLY | O_DIRECTORY);
            ::setenv(io::kSimulatedKernelWithout, without, 1);
            if (::chdir(scratch.c_str()) != 0) setUpFailed(because("chdir") + " " + scratch);
            ::setenv("QT_PLUGIN_PATH", plugins.c_str(), 1);
            // Files it cannot reach anyway would tell nothing of the file rules.
            if (::access(secret.c_str(), R_OK) != 0) setUpFailed(because("access") + " " + secret);
            // Found by the program, under its own limits.
            const std::string missing = io::missingConfinement();
            std::string worked = missing.empty() ? "F" : "-";
            // The decoder's own limit on open files.
            rlimit files{};
            ::getrlimit(RLIMIT_NOFILE, &files);
            files.rlim_cur = 64;
            ::setrlimit(RLIMIT_NOFILE, &files);
            if (namespaceRefused && !refuseNamespaces()) setUpFailed(because("a filter refusing namespaces"));
            const std::string why = io::confineDecoder(int(program), !missing.empty());
            if (!why.empty()) {
                worked += "!" + why;
            } else {
                for (const Escape& e : escapes) worked += e.works() ? '1' : '0';
            }
            const ssize_t sent = ::write(answers[1], worked.data(), worked.size());
            ::_exit(sent == ssize_t(worked.size()) ? 0 : 1);
        }
        ASSERT_GT(child, 0);
        ::close(answers[1]);
        std::string worked;
        char buf[512];
        // Each kernel's table takes well under a second: one that has not
        // ended within half a minute waits for what never comes, and so would
        // the next kernel's.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool hung = false;
        for (;;) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            pollfd in{answers[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&in, 1, int(left.count())) == 0) {
                hung = true;
                ::kill(child, SIGKILL);
                break;
            }
            const ssize_t n = ::read(answers[0], buf, sizeof buf);
            if (n <= 0) break;
            worked.append(buf, size_t(n));
        }
        ::close(answers[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (hung) {
            worked_ += "the table did not end within 30 s: image work waits for a thread it cannot have?" +
                       std::string(" (") + name + ")\n";
            break;
        }
        const std::string on = std::string(" (") + name + ")\n";
        if (WIFEXITED(status) && WEXITSTATUS(status) == 2) {
            worked_ += "the test could not set this row up: " +
                       (worked.starts_with("S") ? worked.substr(1) : std::string("no reason given")) + on;
            continue;
        }
        if (!WIFEXITED(status))
            worked_ += "the confinement ended the process instead of refusing a call" + on;
        const bool fileRules = !worked.empty() && worked[0] == 'F';
        // A root half made, or not made where the program found it could
        // be, is a refusal: then nothing is decoded.
        if (namespaceRefused && fileRules) {
            if (worked.substr(1, 1) != "!") worked_ += "confined without its root: " + worked + on;
            continue;
        }
        if (worked.size() != escapes.size() + 1) {
            worked_ += "the table went wrong: " + worked + on;
            continue;
        }
        for (size_t i = 0; i < escapes.size(); ++i)
            if ((fileRules || !escapes[i].needsFileRules) && worked[i + 1] != '0')
                worked_ += std::string("worked from inside the decoder: ") + escapes[i].what + on;
    }
    for (const auto& [path, mode] : passable) ::chmod(path.c_str(), mode);
    for (int fd : {heard[0], master, terminal}) ::close(fd);

    struct stat st {};
    ::stat(target.c_str(), &st);
    if ((st.st_mode & 0777) != 0600u) worked_ += "a file's mode was changed\n";
    std::filesystem::remove_all(scratch);
}

}  // namespace

TEST(DecoderConfinement, NoWayOutWorksFromInsideTheDecoder) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // What the table's assertions say, beside its lines.
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
            std::string worked;
            tryTheWaysOut(worked);
            std::fprintf(stderr, "%s", worked.empty() ? "no way out worked\n" : worked.c_str());
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "no way out worked\n$");
}

namespace {

// A picture each format holds exactly (JPEG nearly): colours, or black and
// white for the 1-bit formats.
kit::PixelBGRA expected(bool mono, int x, int y) {
    const uint8_t v = (x / 3 + y / 2) % 2 ? 0 : 255;
    return mono ? kit::PixelBGRA{v, v, v, 255}
                : kit::PixelBGRA{uint8_t(255 - x * 8), uint8_t(y * 15), uint8_t(x * 10), 255};
}

std::string written(bool mono, int side, const char* format, int quality = -1) {
    QImage q(side, 16, QImage::Format_RGB32);
    for (int y = 0; y < q.height(); ++y)
        for (int x = 0; x < q.width(); ++x) {
            const kit::PixelBGRA p = expected(mono, x, y);
            q.setPixel(x, y, qRgb(p.r, p.g, p.b));
        }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(q)) << format << ": " << writer.errorString().toStdString();
    return bytes.toStdString();
}

// Every format the program reads, through the real decoder with its
// confinement on: each opens at its size with its pixels, and a drawing's
// text finds its fonts.
void expectEveryFormatDecodes() {
    const std::string folder = kit::files::uniqueTempPath("formats-", "");
    std::filesystem::create_directories(folder);
    const int w = 24, h = 16;
    std::string cur = written(false, w, "ico");
    cur[2] = 2;  // a cursor is an icon directory of type 2
    kit::Image mono(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) mono.setPixel(x, y, expected(true, x, y));
    const io::Bytes gif = io::encodeGIF({mono}, 0.1);
    const struct {
        const char* name;
        std::string bytes;
        bool mono;
        int width, tolerance;
    } samples[] = {
        {"png", written(false, w, "png"), false, w, 0},
        {"jpg", written(false, w, "jpeg", 95), false, w, 24},
        {"gif", std::string(gif.begin(), gif.end()), true, w, 0},
        {"bmp", written(false, w, "bmp"), false, w, 0},
        {"webp", written(false, w, "webp", 100), false, w, 0},
        {"tif", written(false, w, "tiff"), false, w, 0},
        {"ico", written(false, w, "ico"), false, w, 0},
        {"cur", cur, false, w, 0},
        {"icns", written(false, 16, "icns"), false, 16, 0},
        {"ppm", written(false, w, "ppm"), false, w, 0},
        {"pbm", written(true, w, "pbm"), true, w, 0},
        {"xpm", written(false, w, "xpm"), false, w, 0},
        {"xbm", written(true, w, "xbm"), true, w, 0},
        // TGA as an ordinary writer makes it (the picture turned over, as
        // it keeps rows from the top but marks them as from the bottom):
        // uncompressed and run-length, 24 and 32 bits, with and without an
        // image name, grey, and one marked as running from the top.
        {"raw-24-plain.tga", testsupport::testDataBytes("tga/raw-24-plain.tga"), false, w, 0},
        {"raw-24-named.tga", testsupport::testDataBytes("tga/raw-24-named.tga"), false, w, 0},
        {"raw-32-plain.tga", testsupport::testDataBytes("tga/raw-32-plain.tga"), false, w, 0},
        {"raw-32-named.tga", testsupport::testDataBytes("tga/raw-32-named.tga"), false, w, 0},
        {"rle-24-plain.tga", testsupport::testDataBytes("tga/rle-24-plain.tga"), false, w, 0},
        {"rle-24-named.tga", testsupport::testDataBytes("tga/rle-24-named.tga"), false, w, 0},
        {"rle-32-plain.tga", testsupport::testDataBytes("tga/rle-32-plain.tga"), false, w, 0},
        {"rle-32-named.tga", testsupport::testDataBytes("tga/rle-32-named.tga"), false, w, 0},
        {"rle-24-top.tga", testsupport::testDataBytes("tga/rle-24-top.tga"), false, w, 0},
        {"raw-grey.tga", testsupport::testDataBytes("tga/raw-grey.tga"), true, w, 0},
        {"rle-grey.tga", testsupport::testDataBytes("tga/rle-grey.tga"), true, w, 0},
    };
    for (const auto& s : samples) {
        SCOPED_TRACE(s.name);
        const std::string path = folder + "/sample." + s.name;
        writeFile(path, s.bytes, 0644);
        std::string error;
        const kit::Image image = io::read(path, 1.0, &error);
        ASSERT_EQ(image.width(), s.width) << error;
        ASSERT_EQ(image.height(), 16);
        int off = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < s.width; ++x) {
                const kit::PixelBGRA got = image.pixel(x, y), want = expected(s.mono, x, y);
                off += std::max({std::abs(got.r - want.r), std::abs(got.g - want.g), std::abs(got.b - want.b),
                                 255 - got.a}) > s.tolerance;
            }
        EXPECT_EQ(off, 0) << "pixels unlike the picture written";
    }
    // A large picture is converted in bands on the toolkit's pool: whole, and
    // scaled down (in bands as well).
    QImage banded(900, 400, QImage::Format_Indexed8);
    banded.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
    for (int y = 0; y < banded.height(); ++y)
        for (int x = 0; x < banded.width(); ++x) banded.setPixel(x, y, uint(x < 450));
    const std::string bandedPath = folder + "/banded.png";
    ASSERT_TRUE(banded.save(QString::fromStdString(bandedPath), "png"));
    for (const int side : {0, 300}) {
        SCOPED_TRACE(side);
        std::string error;
        const kit::Image image =
            side ? io::readScaled(bandedPath, side, &error) : io::read(bandedPath, 1.0, &error);
        ASSERT_EQ(image.width(), side ? side : 900) << error;
        const int w = image.width(), h = image.height();
        for (const int y : {0, h / 2, h - 1}) {
            EXPECT_EQ(image.pixel(w / 8, y).b, 255);
            EXPECT_EQ(image.pixel(w - 1 - w / 8, y).r, 255);
        }
    }
    // Black text on white: its glyphs need the fonts and their configuration.
    const std::string svg = folder + "/text.svg";
    writeFile(svg,
              "<svg xmlns='http://www.w3.org/2000/svg' width='160' height='40'><rect width='160' height='40' "
              "fill='white'/><text x='4' y='32' font-family='sans-serif' font-size='30'>Kadrix</text></svg>",
              0644);
    std::string error;
    const kit::Image drawing = io::read(svg, 1.0, &error);
    ASSERT_EQ(drawing.width(), 160) << error;
    int ink = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 160; ++x) ink += drawing.pixel(x, y).g < 100;
    EXPECT_GT(ink, 200) << "the text was drawn without a font";
    std::filesystem::remove_all(folder);
}

}  // namespace

TEST(DecoderConfinement, EveryFormatDecodesInsideIt) {
    expectEveryFormatDecodes();
}

// Where the kernel has no Landlock, the decoder's own root holds every
// place a format needs: its plugin, and a drawing's fonts.
// Plugin places beyond what the decoder may hold open at once are bound all
// the same.
TEST(DecoderConfinement, EveryFormatDecodesOnAKernelWithoutLandlock) {
    const std::string scratch = kit::files::uniqueTempPath("plugins-", "");
    std::filesystem::create_directories(scratch + "/home");
    const char* before = std::getenv("QT_PLUGIN_PATH");
    const std::string kept = before ? before : "";
    ::setenv("QT_PLUGIN_PATH", pluginPlaces(scratch, scratch + "/home").c_str(), 1);
    ::setenv(io::kSimulatedKernelWithout, "landlock", 1);
    expectEveryFormatDecodes();
    ::unsetenv(io::kSimulatedKernelWithout);
    before ? ::setenv("QT_PLUGIN_PATH", kept.c_str(), 1) : ::unsetenv("QT_PLUGIN_PATH");
    std::filesystem::remove_all(scratch);
}

namespace {

// What `body` said on its standard error and returned, run in a child
// process (which may change what the kernel lets it do), or why not within
// `seconds`.
constexpr const char* kAnswerFd = "KADRIX_TEST_ANSWER_FD";
constexpr const char* kAlone = "KADRIX_TEST_ALONE";

std::pair<std::string, std::string> inChild(const std::function<std::string()>& body, int seconds,
                                            bool alone = false) {
    int out[2], err[2];
    if (::pipe(out) != 0) return {"no pipe", ""};
    if (::pipe(err) != 0) return {"no pipe", ""};
    const pid_t child = ::fork();
    if (child == 0) {
        // A group of its own, ended whole: what it starts ends with it.
        ::setpgid(0, 0);
        ::dup2(err[1], STDERR_FILENO);
        ::setenv(kAnswerFd, std::to_string(out[1]).c_str(), 1);
        if (alone) ::setenv(kAlone, "1", 1);
        const std::string said = body();
        ::_exit(::write(out[1], said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1);
    }
    ::setpgid(child, child);
    ::close(out[1]);
    ::close(err[1]);
    std::string said, logged;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    pollfd ends[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    for (int open = 2; open > 0 && std::chrono::steady_clock::now() < deadline;) {
        if (::poll(ends, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(ends[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[512];
            const ssize_t n = ::read(ends[i].fd, buf, sizeof buf);
            if (n <= 0) {
                ends[i].fd = -1;
                --open;
            } else {
                (i == 0 ? said : logged).append(buf, size_t(n));
            }
        }
    }
    const bool late = ends[0].fd >= 0 || ends[1].fd >= 0;
    ::kill(-child, SIGKILL);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(out[0]);
    ::close(err[0]);
    return {late ? "no answer within " + std::to_string(seconds) + " s" : said, logged};
}

// Runs the current test again, alone, in a fresh process (no thread of this
// one's, so it may change what the kernel lets every thread it starts do):
// there `inside()` is true, and what the test answers is `said`.
std::pair<std::string, std::string> thisTestAlone(int seconds) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    return inChild(
        [&] {
            const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
            // Its own report is this test's: only its answer and its log count.
            const int quiet = ::open("/dev/null", O_WRONLY);
            if (quiet >= 0) ::dup2(quiet, STDOUT_FILENO);
            ::execl(self.c_str(), self.c_str(), filter.c_str(), nullptr);
            return std::string("not started");
        },
        seconds, true);
}

bool inside() {
    return std::getenv(kAnswerFd) && std::getenv(kAlone);
}

// The answer of a test run alone, and its end.
[[noreturn]] void answerFromInside(const std::string& said) {
    const int fd = std::atoi(std::getenv(kAnswerFd));
    ::_exit(::write(fd, said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1);
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

// The decoder's root refused after the program found it could be made (the
// user's namespaces ran out between the two, then none allowed): each
// picture is refused as unreadable, in words, and the program says why once
// in its log, with the kernel's number.
TEST(DecoderConfinement, ADecoderRefusedItsRootRefusesThePicture) {
    if (inside()) {
        const std::string picture = std::getenv("KADRIX_TEST_PICTURE");
        ::setenv(io::kSimulatedKernelWithout, "landlock", 1);
        if (!io::missingConfinement().empty()) answerFromInside("this machine allows no namespace");
        std::string said;
        for (const int error : {ENOSPC, ENOSPC, EPERM}) {
            if (!refuseNamespaces(error)) answerFromInside("the namespaces could not be refused");
            std::string why;
            const kit::Image image = io::read(picture, 1.0, &why);
            said += (image.isNull() ? why : "read") + "\n";
        }
        answerFromInside(said);
    }
    const std::string scratch = kit::files::uniqueTempPath("refused-", "");
    std::filesystem::create_directories(scratch);
    const io::Bytes png = io::encodePNG(kit::Image(4, 3));
    writeFile(scratch + "/small.png", std::string(png.begin(), png.end()), 0644);
    ::setenv("KADRIX_TEST_PICTURE", (scratch + "/small.png").c_str(), 1);
    const auto [said, logged] = thisTestAlone(30);
    ::unsetenv("KADRIX_TEST_PICTURE");
    std::filesystem::remove_all(scratch);
    if (said == "this machine allows no namespace") GTEST_SKIP() << said;
    const std::string noMore =
        "The image could not be read: its decoder could not be shut in: the system allows no more "
        "namespaces.\n";
    EXPECT_EQ(said, noMore + noMore +
                        "The image could not be read: its decoder could not be shut in: the system does not "
                        "allow it a namespace.\n");
    EXPECT_EQ(count(logged, "The picture decoder could not shut itself in"), 1u) << logged;
    EXPECT_EQ(count(logged, "(the kernel allows it no namespace: No space left on device, error 28)"), 1u)
        << logged;
}

// A check for namespaces held in the kernel (as by a hung mount) holds the
// first picture 2 s at most, and then counts as finding none.
TEST(DecoderConfinement, AHeldCheckForNamespacesEnds) {
    const auto [said, logged] = inChild(
        [] {
            // A kernel of its own: the check is made once for each.
            ::setenv(io::kSimulatedKernelWithout, "landlock (a check held)", 1);
            // Each namespace asked for waits for an answer nobody gives.
            sock_filter code[] = {
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_unshare, 0, 1),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            };
            const sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
            if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                ::syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program) <
                    0)
                return std::string("the check could not be held");
            const auto start = std::chrono::steady_clock::now();
            const bool missing = !io::missingConfinement().empty();
            const auto took = std::chrono::steady_clock::now() - start;
            return std::string(missing ? "missing" : "found") + " after " +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(took).count()) + " s";
        },
        15);
    // Ended at its bound, not before; a busy machine may take a while longer
    // to end and reap it.
    int took = -1;
    EXPECT_EQ(std::sscanf(said.c_str(), "missing after %d s", &took), 1) << said;
    EXPECT_TRUE(took >= 2 && took < 10) << said;
    EXPECT_EQ(count(logged, "check for namespaces did not end within 2000 ms"), 1u) << logged;
}

namespace {

// The calls that make the decoder's root, each kind counted on its own.
enum class RootCall {
    privateMounts,
    tmpfs,
    bind,
    setReadOnly,
    remountPlace,
    remountRoot,
    link,
    pivotRoot,
    unmount,
    count
};

RootCall rootCallOf(const seccomp_data& call) {
    if (call.nr == __NR_mount) {
        const uint64_t flags = call.args[3];
        if (flags & MS_PRIVATE) return RootCall::privateMounts;
        if (flags & MS_REMOUNT) return flags & MS_BIND ? RootCall::remountPlace : RootCall::remountRoot;
        return flags & MS_BIND ? RootCall::bind : RootCall::tmpfs;
    }
    if (call.nr == __NR_mount_setattr) return RootCall::setReadOnly;
    if (call.nr == __NR_pivot_root) return RootCall::pivotRoot;
    if (call.nr == __NR_umount2) return RootCall::unmount;
    return RootCall::link;
}

// A kernel that fails one call of those that make the decoder's root: the
// `nth` of kind `call` (1 the first) with `error`; and, as a kernel older
// than mount_setattr, that call with ENOSYS each time when `setattrMissing`.
// Every other call goes on as asked. Set on the calling thread, so on every
// process it starts from here on (the decoders among them); a thread of its
// own answers their calls.
class RootSupervisor {
public:
    struct Fault {
        RootCall call = RootCall::count;
        int nth = 0, error = 0;
        bool setattrMissing = false;
    };
    explicit RootSupervisor(Fault fault) : fault_(fault) {
        std::vector<sock_filter> code{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
        for (const long nr :
             {__NR_mount, __NR_mount_setattr, __NR_symlink, __NR_symlinkat, __NR_pivot_root, __NR_umount2}) {
            code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(nr), 0, 1));
            code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
        }
        code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return;
        listener_ =
            int(::syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
        if (listener_ >= 0) answering_ = std::thread([this] { answer(); });
    }
    ~RootSupervisor() {
        stop_ = true;
        if (answering_.joinable()) answering_.join();
        if (listener_ >= 0) ::close(listener_);
    }
    bool installed() const { return listener_ >= 0; }
    // How many calls of each kind were asked for, as "N N …" in RootCall's order.
    std::string seen() const {
        std::string out;
        for (const auto& n : seen_) out += std::to_string(n.load()) + " ";
        return out;
    }

private:
    void answer() {
        while (!stop_) {
            pollfd in{listener_, POLLIN, 0};
            if (::poll(&in, 1, 50) <= 0) continue;
            seccomp_notif call{};
            if (::ioctl(listener_, SECCOMP_IOCTL_NOTIF_RECV, &call) != 0) continue;  // its caller ended
            const RootCall kind = rootCallOf(call.data);
            const int nth = ++seen_[size_t(kind)];
            seccomp_notif_resp reply{};
            reply.id = call.id;
            if (kind == fault_.call && nth == fault_.nth)
                reply.error = -fault_.error;
            else if (kind == RootCall::setReadOnly && fault_.setattrMissing)
                reply.error = -ENOSYS;
            else
                reply.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
            ::ioctl(listener_, SECCOMP_IOCTL_NOTIF_SEND, &reply);
        }
    }
    const Fault fault_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::array<std::atomic<int>, size_t(RootCall::count)> seen_{};
    std::thread answering_;
};

constexpr const char* kRootRow = "KADRIX_TEST_ROOT_ROW";
constexpr const char* kBinds = "KADRIX_TEST_ROOT_BINDS";

}  // namespace

// Each step of making the decoder's root fails in turn, as the kernel may
// fail it (every bind counted, the first and the last; read-only at once and,
// on a kernel without that call, mount by mount): the root is given up at
// that step, the picture is refused with a sentence in words, nothing is
// decoded, and the log names the step with the kernel's text and number.
// A failure the decoder let pass would leave a root half made, and the
// picture decoded in it.
TEST(DecoderConfinement, EveryStepOfItsRootFailsIntoARefusal) {
    using Step = io::ConfinementStep;
    using Fault = RootSupervisor::Fault;
    const struct {
        const char* name;
        Fault fault;  // nth 0: the last bind
        Step step;    // none: the picture is read
        const char* words;
    } rows[] = {
        {"every step taken", {}, Step::none, ""},
        {"read-only mount by mount, on a kernel without mount_setattr",
         {.setattrMissing = true},
         Step::none,
         ""},
        {"its mounts made its own",
         {RootCall::privateMounts, 1, EPERM},
         Step::ownMounts,
         "the system did not allow it"},
        {"the root's file system",
         {RootCall::tmpfs, 1, ENOMEM},
         Step::makeRoot,
         "there was not enough memory"},
        {"the first bind", {RootCall::bind, 1, ENOENT}, Step::bindPlace, "No such file or directory"},
        {"the last bind", {RootCall::bind, 0, EACCES}, Step::bindPlace, "the system did not allow it"},
        {"a link", {RootCall::link, 1, EIO}, Step::putLink, "Input/output error"},
        {"read-only at once",
         {RootCall::setReadOnly, 1, EPERM},
         Step::rootReadOnly,
         "the system did not allow it"},
        {"a place read-only, mount by mount",
         {RootCall::remountPlace, 2, EINVAL, true},
         Step::placeReadOnly,
         "Invalid argument"},
        {"the root read-only, mount by mount",
         {RootCall::remountRoot, 1, EBUSY, true},
         Step::rootReadOnly,
         "Device or resource busy"},
        {"moving into the root", {RootCall::pivotRoot, 1, EINVAL}, Step::moveIntoRoot, "Invalid argument"},
        {"letting go of the old root",
         {RootCall::unmount, 1, EBUSY},
         Step::letGoOfOldRoot,
         "Device or resource busy"},
    };
    if (inside()) {
        const auto& row = rows[std::atoi(std::getenv(kRootRow))];
        const std::string picture = std::getenv("KADRIX_TEST_PICTURE");
        // A plugin place reached through a link, so the root holds a link.
        ::setenv("QT_PLUGIN_PATH", (std::filesystem::path(picture).parent_path() / "linked").c_str(), 1);
        ::setenv(io::kSimulatedKernelWithout, "landlock", 1);
        // The program's check first: its root is made whole.
        if (!io::missingConfinement().empty()) answerFromInside("this machine allows no namespace");
        Fault fault = row.fault;
        if (fault.call == RootCall::bind && fault.nth == 0) fault.nth = std::atoi(std::getenv(kBinds));
        RootSupervisor supervisor(fault);
        if (!supervisor.installed()) answerFromInside("the root's calls could not be supervised");
        std::string why;
        const kit::Image image = io::read(picture, 1.0, &why);
        answerFromInside((image.isNull() ? why : "read " + std::to_string(image.width())) + "\n" +
                         supervisor.seen());
    }
    const std::string scratch = kit::files::uniqueTempPath("root-steps-", "");
    std::filesystem::create_directories(scratch + "/plugins/imageformats");
    std::filesystem::create_directory_symlink(scratch + "/plugins", scratch + "/linked");
    const io::Bytes png = io::encodePNG(kit::Image(4, 3));
    writeFile(scratch + "/small.png", std::string(png.begin(), png.end()), 0644);
    ::setenv("KADRIX_TEST_PICTURE", (scratch + "/small.png").c_str(), 1);
    // Put back on every road out of the test.
    const std::unique_ptr<const std::string, std::function<void(const std::string*)>> cleaned(
        &scratch, [](const std::string* folder) {
            for (const char* name : {"KADRIX_TEST_PICTURE", kRootRow, kBinds}) ::unsetenv(name);
            std::filesystem::remove_all(*folder);
        });
    int binds = 0;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.name);
        ::setenv(kRootRow, std::to_string(i).c_str(), 1);
        ::setenv(kBinds, std::to_string(binds).c_str(), 1);
        const auto [said, logged] = thisTestAlone(20);
        if (said == "this machine allows no namespace") GTEST_SKIP() << said;
        const std::string result = said.substr(0, said.find('\n'));
        std::vector<int> seen;
        std::istringstream counts(said.substr(std::min(said.size(), result.size() + 1)));
        for (int n; counts >> n;) seen.push_back(n);
        ASSERT_EQ(seen.size(), size_t(RootCall::count)) << said << logged;
        const auto calls = [&](RootCall c) { return seen[size_t(c)]; };
        if (row.step == Step::none) {
            EXPECT_EQ(result, "read 4") << logged;
            binds = std::max(binds, calls(RootCall::bind));
            // Every kind of call is made, so every row's fault is met.
            EXPECT_GE(calls(RootCall::bind), 2);
            EXPECT_GE(calls(RootCall::link), 1);
            EXPECT_EQ(calls(RootCall::setReadOnly), 1);
            EXPECT_EQ(calls(RootCall::remountPlace), row.fault.setattrMissing ? calls(RootCall::bind) : 0);
            EXPECT_EQ(calls(RootCall::remountRoot), row.fault.setattrMissing ? 1 : 0);
            for (const RootCall c :
                 {RootCall::privateMounts, RootCall::tmpfs, RootCall::pivotRoot, RootCall::unmount})
                EXPECT_EQ(calls(c), 1) << int(c);
            continue;
        }
        EXPECT_EQ(result, "The image could not be read: its decoder could not be shut in: " +
                              std::string(row.words) + ".")
            << logged;
        // Given up at the step that failed: no later call of its kind.
        EXPECT_EQ(calls(row.fault.call), row.fault.nth ? row.fault.nth : binds) << said;
        EXPECT_EQ(count(logged, "The picture decoder could not shut itself in"), 1u) << logged;
        const std::string reason = "(" + std::string(io::confinementStepName(row.step)) + ": " +
                                   std::strerror(row.fault.error) + ", error " +
                                   std::to_string(row.fault.error) + ")";
        EXPECT_EQ(count(logged, reason), 1u) << reason << "\n" << logged;
    }
}

// The variable by which the tests make up a kernel is honoured by the
// program as shipped, never silently: said once in the log for each value.
TEST(DecoderConfinement, AMadeUpKernelIsSaidInTheLog) {
    const auto [said, logged] = inChild(
        [] {
            ::setenv(io::kSimulatedKernelWithout, "namespaces", 1);
            io::missingConfinement();
            io::missingConfinement();
            return std::string("asked");
        },
        15);
    EXPECT_EQ(said, "asked");
    EXPECT_EQ(count(logged, "KADRIX_TEST_KERNEL_WITHOUT is set to \"namespaces\""), 1u) << logged;
}

// Nor where it has neither: then the system-call filter holds alone.
TEST(DecoderConfinement, EveryFormatDecodesOnAKernelWithoutLandlockOrNamespaces) {
    ::setenv(io::kSimulatedKernelWithout, "landlock,namespaces", 1);
    expectEveryFormatDecodes();
    ::unsetenv(io::kSimulatedKernelWithout);
}

namespace {

// The first line the real decoder answers for a small picture when started
// by a caller that names itself, and that has ended by the time the decoder
// starts when `callerEnds`.
std::string decoderAnswer(const std::string& picture, bool callerEnds, long long parentOffset = 0) {
    const std::string decoder =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kadrix-decode").string();
    int answer[2];
    if (::pipe(answer) != 0) return "no pipe";
    const pid_t caller = ::fork();
    if (caller == 0) {
        const pid_t asker = ::getpid();
        const pid_t started = ::fork();
        if (started == 0) {
            // Ended only once another process has taken the decoder as its
            // child: the caller's descriptors close before that.
            for (int wait = 0; callerEnds && ::getppid() == asker && wait < 5000; ++wait) ::usleep(1000);
            const std::string parent = std::to_string(asker + parentOffset);
            const int input = ::open(picture.c_str(), O_RDONLY);
            const int pixels = ::memfd_create("pixels", 0);
            if (input < 0 || pixels < 0 || ::dup2(input, 0) < 0 || ::dup2(answer[1], 1) < 0 ||
                ::dup2(pixels, 3) < 0)
                ::_exit(1);
            ::execl(decoder.c_str(), decoder.c_str(), "--parent", parent.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(answer[1]);
        if (!callerEnds) ::waitpid(started, nullptr, 0);
        ::_exit(0);
    }
    ::close(answer[1]);
    std::string said;
    pollfd more{answer[0], POLLIN, 0};
    char buf[256];
    for (ssize_t n; ::poll(&more, 1, 5000) > 0 && (n = ::read(answer[0], buf, sizeof buf)) > 0;)
        said.append(buf, size_t(n));
    ::close(answer[0]);
    ::waitpid(caller, nullptr, 0);
    return said.substr(0, said.find('\n'));
}

}  // namespace

// The decoder decodes only for the program that started it: given another
// process as its caller, or orphaned before it starts (its caller ended),
// or named by a number that is no process id, it refuses.
TEST(DecoderConfinement, ADecoderWhoseCallerIsGoneRefuses) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(io::confineDecoder(int(::getpid())).empty() ? 1 : 0);
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "confined for a caller not its parent";

    const std::string scratch = kit::files::uniqueTempPath("orphan-", "");
    std::filesystem::create_directories(scratch);
    const io::Bytes png = io::encodePNG(kit::Image(4, 3));
    writeFile(scratch + "/small.png", std::string(png.begin(), png.end()), 0644);
    EXPECT_EQ(decoderAnswer(scratch + "/small.png", false), "ok 4 3 4 3");
    EXPECT_EQ(decoderAnswer(scratch + "/small.png", true), "no failed");
    // Named by an id past any process id whose low bits are its caller's.
    EXPECT_EQ(decoderAnswer(scratch + "/small.png", false, 1LL << 32), "no failed");
    std::filesystem::remove_all(scratch);
}

// A decode the system gives no thread for fails as a picture that cannot be
// read, and the program goes on.
TEST(DecoderConfinement, ADecodeWithNoThreadToStartItFailsAsAnUnreadablePicture) {
    if (::getuid() != 0) GTEST_SKIP() << "making a user of its own needs root";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto starved = [] {
        const io::Bytes png = io::encodePNG(kit::Image(4, 3));
        if (!testsupport::refuseThreadStarts()) std::_Exit(2);
        std::string error;
        const kit::Image image = io::decode(png, 1.0, &error);
        std::fprintf(stderr, "%s: %s\n", image.isNull() ? "unread" : "read", error.c_str());
        std::_Exit(0);
    };
    EXPECT_EXIT(starved(), ::testing::ExitedWithCode(0), "unread: The image could not be read: .*\n$");
}
