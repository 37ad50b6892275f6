#include "kit/image/Decoder.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "kit/image/DecoderAnswer.h"
#include "kit/image/ImageDecode.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KADRIX_DECODER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KADRIX_DECODER_SANITIZED 1
#endif
#endif

namespace kit::ImageIO {

namespace {

constexpr int kPixelsFd = 3;

void writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) _exit(3);
        p += w;
        n -= size_t(w);
    }
}

// The answer, then the end: nothing runs after it (no exit handlers, which
// a sanitizer's leak check among them would need what is shut off here).
[[noreturn]] void answer(const std::string& text) {
    writeAll(STDOUT_FILENO, text.data(), text.size());
    _exit(0);
}

// A refusal is answered by its code: the program that reads the answer
// has its own sentence for each.
[[noreturn]] void refuse(const std::string& why) {
    answer("no " + detail::refusalCode(why) + "\n");
}

[[noreturn]] void refuseFor(std::string_view word, int errorNumber) {
    answer("no " + detail::refusalCode(word, errorNumber) + "\n");
}

void limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit r{soft, hard};
    ::setrlimit(resource, &r);
}

// The system calls that would reach beyond the picture and the two answers:
// the network, other programs, and any change to files. Writes go only to
// the descriptors the program was given. Refused with an error, so a library
// that tries (a font cache) carries on without.
void confine() {
#if defined(__x86_64__)
    constexpr uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
    return;  // no filter for this architecture: the limits alone hold
#endif
    static const long denied[] = {
        __NR_socket,
        __NR_socketpair,
        __NR_connect,
        __NR_bind,
        __NR_listen,
        __NR_accept,
        __NR_accept4,
        __NR_execve,
        __NR_execveat,
        __NR_ptrace,
        __NR_process_vm_readv,
        __NR_process_vm_writev,
        __NR_kill,
        __NR_unlinkat,
        __NR_renameat,
        __NR_renameat2,
        __NR_mkdirat,
        __NR_linkat,
        __NR_symlinkat,
        __NR_fchmodat,
        __NR_fchownat,
        __NR_fchmod,
        __NR_fchown,
        __NR_mknodat,
        __NR_truncate,
        __NR_utimensat,
        __NR_setxattr,
        __NR_lsetxattr,
        __NR_fsetxattr,
        __NR_removexattr,
        __NR_lremovexattr,
        __NR_fremovexattr,
        __NR_mount,
        __NR_umount2,
        __NR_pivot_root,
        __NR_chroot,
        __NR_io_uring_setup,
        __NR_bpf,
        __NR_perf_event_open,
        __NR_name_to_handle_at,
        __NR_open_by_handle_at,
        __NR_userfaultfd,
        __NR_keyctl,
        __NR_add_key,
        __NR_request_key,
#ifdef __NR_fork
        __NR_fork,
        __NR_vfork,
        __NR_creat,
        __NR_unlink,
        __NR_rename,
        __NR_mkdir,
        __NR_rmdir,
        __NR_link,
        __NR_symlink,
        __NR_chmod,
        __NR_chown,
        __NR_lchown,
        __NR_mknod,
        __NR_utime,
        __NR_utimes,
        __NR_futimesat,
#endif
    };
    // Calls whose arguments cannot be read here: the C library falls back
    // to the older calls, which are checked.
    static const long unknown[] = {__NR_clone3, __NR_openat2};
    constexpr uint32_t kAllow = SECCOMP_RET_ALLOW, kDeny = SECCOMP_RET_ERRNO | EPERM;
    constexpr uint32_t kWriteFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
    std::vector<sock_filter> f;
    const auto stmt = [&](uint16_t code, uint32_t k) { f.push_back(BPF_STMT(code, k)); };
    const auto jump = [&](uint32_t k, uint8_t jt, uint8_t jf, uint16_t op = BPF_JEQ) {
        f.push_back(BPF_JUMP(BPF_JMP | op | BPF_K, k, jt, jf));
    };
    // The low 32 bits of argument i (both architectures are little-endian).
    const auto loadArg = [&](int i) {
        stmt(BPF_LD | BPF_W | BPF_ABS, uint32_t(offsetof(seccomp_data, args) + 8 * i));
    };
    stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    jump(kArch, 1, 0);
    stmt(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
#if defined(__x86_64__)
    jump(0x40000000, 0, 1, BPF_JGE);  // the x32 numbering
    stmt(BPF_RET | BPF_K, kDeny);
#endif
    for (long nr : denied) {
        jump(uint32_t(nr), 0, 1);
        stmt(BPF_RET | BPF_K, kDeny);
    }
    for (long nr : unknown) {
        jump(uint32_t(nr), 0, 1);
        stmt(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS);
    }
    // Threads may be started, not processes.
    jump(__NR_clone, 0, 4);
    loadArg(0);
    jump(CLONE_THREAD, 0, 1, BPF_JSET);
    stmt(BPF_RET | BPF_K, kAllow);
    stmt(BPF_RET | BPF_K, kDeny);
    // Files open for reading only.
    const auto openFlags = [&](long nr, int arg) {
        jump(uint32_t(nr), 0, 4);
        loadArg(arg);
        jump(kWriteFlags, 0, 1, BPF_JSET);
        stmt(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES);
        stmt(BPF_RET | BPF_K, kAllow);
    };
    openFlags(__NR_openat, 2);
#ifdef __NR_open
    stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    openFlags(__NR_open, 1);
#endif
    stmt(BPF_RET | BPF_K, kAllow);
    const sock_fprog program{static_cast<unsigned short>(f.size()), f.data()};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0)
        refuse("The image could not be read: its decoder could not be confined (" +
               std::string(std::strerror(errno)) + ").");
}

long long number(const char* text) {
    char* end = nullptr;
    const long long n = std::strtoll(text, &end, 10);
    return end && *end == 0 ? n : -1;
}

}  // namespace

int runDecoder(int argc, char** argv) {
    int maxSide = 0;
    bool wantTexts = false;
    long long seconds = 20, memory = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--texts") {
            wantTexts = true;
        } else if (a == "--max-side" && hasValue) {
            maxSide = int(std::max(0LL, number(argv[++i])));
        } else if (a == "--seconds" && hasValue) {
            seconds = number(argv[++i]);
        } else if (a == "--memory" && hasValue) {
            memory = number(argv[++i]);
        } else {
            refuse("The image could not be read: the decoder was called wrongly (" + a + ").");
        }
    }
    // Nothing but the picture, the pixels and the answer; no core file.
    ::close_range(kPixelsFd + 1, ~0U, 0);
    if (::chdir("/") != 0) refuse("The image could not be read: " + std::string(std::strerror(errno)) + ".");
    limit(RLIMIT_CORE, 0, 0);
    limit(RLIMIT_NOFILE, 64, 64);
    if (seconds > 0) limit(RLIMIT_CPU, rlim_t(seconds), rlim_t(seconds + 1));
#ifndef KADRIX_DECODER_SANITIZED
    // A sanitizer reserves terabytes of address space before this runs.
    if (memory > 0) {
        limit(RLIMIT_DATA, rlim_t(memory), rlim_t(memory));
        // Room beside the data for the program's code and the mapped file.
        limit(RLIMIT_AS, rlim_t(memory) + rlim_t(kMaxImageFileBytes) + (rlim_t(1) << 30),
              rlim_t(memory) + rlim_t(kMaxImageFileBytes) + (rlim_t(1) << 30));
    }
#else
    (void)memory;
#endif
    confine();

    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) refuse(detail::kNotRegularFile);
    if (st.st_size <= 0) refuse(detail::kNotAnImage);
    if (size_t(st.st_size) > kMaxImageFileBytes) refuse(detail::kFileTooLarge);
    // Mapped, not read: the file's pages stay the file's, outside the limit
    // on the program's own data.
    void* mapped = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, STDIN_FILENO, 0);
    if (mapped == MAP_FAILED) refuseFor("unreadable", errno);
    const QByteArray bytes = QByteArray::fromRawData(static_cast<const char*>(mapped), qsizetype(st.st_size));

    try {
        // A drawing may hold text, and fonts need the toolkit's application.
        // The toolkit reads PNG and BMP itself: no format plugin need be
        // looked at (each is opened to read what it handles).
        const QByteArray known = detail::knownFormat(bytes);
        if (known == "png" || known == "bmp") QCoreApplication::setLibraryPaths({});
        if (known.isEmpty()) {
            QByteArray head = bytes;
            QBuffer buf(&head);
            buf.open(QIODevice::ReadOnly);
            const QByteArray format = QImageReader::imageFormat(&buf);
            if (format == "svg" || format == "svgz") {
                ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
                static int appArgc = 1;
                static char name[] = "kadrix-decode";
                static char* appArgv[] = {name, nullptr};
                new QGuiApplication(appArgc, appArgv);
            }
        }
        std::string error;
        QSize original;
        TextChunks texts;
        // The pixels decoded straight into the memory file where the
        // format allows.
        uchar* placed = nullptr;
        size_t placedBytes = 0;
        const auto place = [&](QSize size) -> uchar* {
            placedBytes = size_t(size.width()) * 4 * size_t(size.height());
            if (::ftruncate(kPixelsFd, off_t(placedBytes)) != 0) return nullptr;
            void* at = ::mmap(nullptr, placedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, kPixelsFd, 0);
            placed = at == MAP_FAILED ? nullptr : static_cast<uchar*>(at);
            return placed;
        };
        const QImage image =
            detail::decode(bytes, &error, maxSide, &original, wantTexts ? &texts : nullptr, place);
        if (image.isNull()) refuse(error.empty() ? std::string(detail::kNotAnImage) : error);
        const size_t rowBytes = size_t(image.width()) * 4;
        const bool inPlace = placed && image.constBits() == placed &&
                             rowBytes * size_t(image.height()) == placedBytes &&
                             image.bytesPerLine() == qsizetype(rowBytes);
        if (!inPlace && ::ftruncate(kPixelsFd, off_t(rowBytes * size_t(image.height()))) != 0)
            refuseFor("hand-over", errno);
        // Whole when the rows lie end to end (32-bit rows always do), in
        // pieces the size of the largest single write.
        for (int y = inPlace ? image.height() : 0; y < image.height();) {
            const int rows =
                image.bytesPerLine() == qsizetype(rowBytes)
                    ? std::min(image.height() - y, int(std::max<size_t>(1, (1u << 30) / rowBytes)))
                    : 1;
            const char* from = reinterpret_cast<const char*>(image.constScanLine(y));
            size_t n = rowBytes * size_t(rows);
            off_t at = off_t(rowBytes * size_t(y));
            while (n > 0) {
                const ssize_t w = ::pwrite(kPixelsFd, from, n, at);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) refuseFor("hand-over", errno);
                from += w, at += w, n -= size_t(w);
            }
            y += rows;
        }
        char line[96];
        std::snprintf(line, sizeof line, "ok %d %d %d %d\n", image.width(), image.height(), original.width(),
                      original.height());
        std::string reply = line;
        for (const auto& [key, value] : texts) {
            reply.append(key).push_back('\0');
            reply.append(value).push_back('\0');
        }
        answer(reply);
    } catch (const std::bad_alloc&) {
        refuse(detail::kTooHungry);
    }
}

}  // namespace kit::ImageIO
