#include "kit/image/Decoder.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "kit/base/Descriptor.h"
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
// The most process ids the kernel hands out (PID_MAX_LIMIT on 64-bit systems).
constexpr long long kMaxProcessId = 1LL << 22;

// The answer, then the end: nothing runs after it (no exit handlers, which
// a sanitizer's leak check among them would need what is shut off here).
[[noreturn]] void answer(const std::string& text) {
    _exit(writeAll(STDOUT_FILENO, text.data(), text.size()) ? 0 : 3);
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

long long number(const char* text) {
    char* end = nullptr;
    const long long n = std::strtoll(text, &end, 10);
    return end && *end == 0 ? n : -1;
}

}  // namespace

int runDecoder(int argc, char** argv) {
    // The program that asks names itself: a decoder whose caller ended
    // before it started has another parent, and refuses.
    long long parent = -1;
    int maxSide = 0;
    bool wantTexts = false, noFileRulesHere = false;
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
        } else if (a == "--parent" && hasValue) {
            parent = number(argv[++i]);
        } else if (a == "--no-file-rules") {
            noFileRulesHere = true;
        } else {
            refuse("The image could not be read: the decoder was called wrongly (" + a + ").");
        }
    }
    // A process id, never one that only its low bits make the caller's.
    if (parent < 1 || parent > kMaxProcessId)
        refuse("The image could not be read: the decoder was called wrongly (--parent).");
    // Nothing but the picture, the pixels and the answer; no core file.
    ::close_range(kPixelsFd + 1, ~0U, 0);
    if (::chdir("/") != 0) refuse("The image could not be read: " + std::string(std::strerror(errno)) + ".");
    limit(RLIMIT_CORE, 0, 0);
    // The pixel file holds one picture at the cap at most; past that a write
    // fails (not a signal that ends the decoder) and the picture is refused.
    ::signal(SIGXFSZ, SIG_IGN);
    limit(RLIMIT_FSIZE, rlim_t(kMaxDecodedPixels) * 4, rlim_t(kMaxDecodedPixels) * 4);
    // The hard limit follows once the confinement has held open the places
    // a root of its own binds (which may be more).
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    limit(RLIMIT_NOFILE, std::min<rlim_t>(64, files.rlim_cur), files.rlim_max);
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
    ConfinementError confinement;
    if (const std::string why = confineDecoder(int(parent), noFileRulesHere, &confinement); !why.empty()) {
        if (confinement.step != ConfinementStep::none)
            answer("no " + detail::unconfinedCode(confinement.step, confinement.number) + "\n");
        refuse("The image could not be read: its decoder could not be confined (" + why + ").");
    }

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
        // PNG, BMP and TGA are read by our own readers or the toolkit
        // itself: no format plugin need be looked at (each is opened to read
        // what it handles).
        const QByteArray known = detail::knownFormat(bytes);
        if (known == "png" || known == "bmp" || known == "tga") QCoreApplication::setLibraryPaths({});
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
