#include "kit/image/ImageIO.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

extern "C" {
#include <gif_lib.h>
#include <libimagequant.h>
}

#include "kit/base/Descriptor.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/InputWait.h"
#include "kit/base/OpenInTime.h"
#include "kit/base/WayOut.h"
#include "kit/base/qt/QtImage.h"
#include "kit/image/Decoder.h"
#include "kit/image/DecoderAnswer.h"
#include "kit/image/ImageDecode.h"

extern char** environ;

namespace kit::ImageIO {

namespace {

using detail::abovePixelCap;
using detail::kDecoderFailed;
using detail::kIncomplete;
using detail::kNotAnImage;
using detail::kTooHungry;
using detail::tooLarge;

QByteArray asQBytes(const Bytes& data) {
    // Read-only view; the bytes outlive every reader made from it here.
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
}

template <typename T = Image>
T fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return {};
}

// The pixel size a PNG declares in its first chunk, read by hand: the
// toolkit's header read goes on to the text chunks and beyond.
std::optional<QSize> pngDeclaredSize(const QByteArray& d) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (d.size() < 24 || std::memcmp(d.constData(), signature, 8) != 0) return std::nullopt;
    if (std::memcmp(d.constData() + 12, "IHDR", 4) != 0) return std::nullopt;
    const auto be32 = [&](int at) {
        return uint32_t(uint8_t(d[at])) << 24 | uint32_t(uint8_t(d[at + 1])) << 16 |
               uint32_t(uint8_t(d[at + 2])) << 8 | uint32_t(uint8_t(d[at + 3]));
    };
    return QSize(int(std::min<uint32_t>(be32(16), INT32_MAX)), int(std::min<uint32_t>(be32(20), INT32_MAX)));
}

// ---- The decoder program -------------------------------------------------------

using Clock = std::chrono::steady_clock;

const char* const kDecoderName = "kadrix-decode";
const char* const kTooSlow = "The image takes too long to read; reading it was given up.";
const char* const kNoDecoder = "The image could not be read: the decoder beside this program was not found.";
// Never shown: the way out ended the wait, and the callers say nothing of it.
const char* const kCancelled = "Reading the image was given up: Kadrix is ending.";

std::mutex limitsLock;
DecoderLimits limitsNow;
std::string programOverride;

DecoderLimits currentLimits() {
    std::lock_guard lock(limitsLock);
    return limitsNow;
}

// The decoder installed beside this program, and no other: empty when this
// program's own place cannot be read (a bare name would be looked for in
// the current folder).
std::string decoderProgram() {
    {
        std::lock_guard lock(limitsLock);
        if (!programOverride.empty()) return programOverride;
    }
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !self.is_absolute()) return {};
    return (self.parent_path() / kDecoderName).string();
}

// What of this program's environment the decoder's libraries read: where
// libraries, plugins, fonts and locale data lie, and a sanitizer's options.
// Nothing that leads to the display, the session's services or the home.
std::vector<std::string> decoderEnvironment() {
    static const std::string_view names[] = {"LD_LIBRARY_PATH", "QT_PLUGIN_PATH", "QT_QPA_PLATFORM",
                                             "QT_QPA_FONTDIR",  "XDG_DATA_DIRS",  "LANG",
                                             "LANGUAGE",        "LOCPATH",        kSimulatedKernelWithout};
    static const std::string_view prefixes[] = {"LC_", "FONTCONFIG_", "ASAN_", "UBSAN_", "LSAN_", "TSAN_"};
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        const std::string_view name = entry.substr(0, entry.find('='));
        const auto starts = [&](std::string_view p) { return name.substr(0, p.size()) == p; };
        if (std::find(std::begin(names), std::end(names), name) != std::end(names) ||
            std::any_of(std::begin(prefixes), std::end(prefixes), starts))
            out.emplace_back(entry);
    }
    return out;
}

// The most the answer may hold: its line and the picture's texts.
constexpr size_t kMaxReply = size_t(detail::kMaxAncillaryBytes) + 4096;

// What came back, read as it arrives; false once the pipe is at its end (or
// the answer is longer than any answer).
bool drain(int fd, std::string& reply) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            reply.append(chunk, size_t(n));
            if (reply.size() > kMaxReply) return false;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// Waits for the decoder to finish its answer, for at most `timeout`; false
// when it did not, with `cancelled` set when the way out ended the wait.
bool awaitReply(int fd, std::chrono::milliseconds timeout, std::string& reply, bool& cancelled) {
    const InputWait waited = awaitInput(fd, Clock::now() + timeout, [&] { return !drain(fd, reply); });
    cancelled = waited == InputWait::cancelled;
    return waited == InputWait::done && reply.size() <= kMaxReply;
}

struct Decoded {
    Image image;
    Size original;
    TextChunks texts;
};

// The pixels the decoder left in `pixels`, taken as they lie: the image is
// the memory file's own pages, so the pixels exist once. The system holds
// those pages from the moment the decoder writes them, mapped here or not,
// so while a picture is read the one shown is held beside it: at the cap,
// two pictures at once. That is the most: the one shown goes when the new
// one takes its place (it stays when the new one cannot be read), and the
// pages come into this program's resident size only as they are read.
Image takePixels(int pixels, int w, int h, double scale, std::string* error) {
    struct stat st {};
    const size_t total = size_t(w) * 4 * size_t(h);
    if (::fstat(pixels, &st) != 0 || size_t(st.st_size) != total) return fail(error, kDecoderFailed);
    void* mapped = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, pixels, 0);
    if (mapped == MAP_FAILED) return fail(error, tooLarge(w, h));
    Image image = Image::adoptMapping(static_cast<uint8_t*>(mapped), w, h, scale);
    if (image.isNull()) return fail(error, tooLarge(w, h));
    return image;
}

// The decoder's parent-death signal is bound to the thread that started it,
// so every decoder is started by this one thread, which lasts as long as the
// program (never destroyed: no decoder outlives it at exit either).
DispatchQueue& spawner() {
    static DispatchQueue& queue = *new DispatchQueue("kit.image.decoder-spawner");
    return queue;
}

// The decoders running, of every thread. The way out ends and reaps them
// all, and from then on none starts: a decoder of the library's indexing
// would otherwise read on until the process is gone, and be left unreaped.
struct Decoders {
    std::mutex lock;
    std::condition_variable reaped;
    std::set<pid_t> running;  // each reaped by the thread that waits for it,
    int reaping = 0;          // which takes it out first, as these are
    bool closed = false;      // the way out has begun
};

Decoders& decoders() {
    static Decoders& all = *new Decoders;
    return all;
}

void endDecodersForTheWayOut() {
    Decoders& d = decoders();
    std::unique_lock lock(d.lock);
    d.closed = true;
    for (pid_t pid : d.running) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    d.running.clear();
    // Those their threads are reaping right now (a killed decoder is reaped at once).
    d.reaped.wait_for(lock, std::chrono::seconds(1), [&] { return d.reaping == 0; });
}

// Starts the decoder and counts it running; none once the way out has begun (-1).
int startCounted(const std::function<int(pid_t&)>& spawn, pid_t& pid) {
    static std::once_flag watching;
    std::call_once(watching, [] { onWayOut(endDecodersForTheWayOut); });
    Decoders& d = decoders();
    std::lock_guard lock(d.lock);
    if (d.closed || wayOutBegun()) return -1;
    const int spawned = spawn(pid);
    if (spawned == 0) d.running.insert(pid);
    return spawned;
}

// With the decoders' lock held: takes a running decoder out of the count for
// the caller to reap; false when it is not counted (the way out or an
// abandoned read has reaped it, and its number may be another's by now).
bool takeOut(Decoders& d, pid_t pid) {
    if (!d.running.erase(pid)) return false;
    ++d.reaping;
    return true;
}

// Ends a decoder taken out of the count and reaps it: its wait status.
int reapTakenOut(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Decoders& d = decoders();
    {
        std::lock_guard lock(d.lock);
        --d.reaping;
    }
    d.reaped.notify_all();
    return status;
}

// Starts `program` with the picture on its input, the answer on its output,
// the pixels on 3; no other descriptor of this program, errors to nowhere,
// every signal at its default. An error number, or 0 with `pid` set.
int spawnDecoder(const std::string& program, std::vector<std::string> args, int input, int answer, int pixels,
                 pid_t& pid) {
    // A spawner that can get no thread starts no decoder, as when the system
    // has no process to give it.
    if (!spawner().running()) return EAGAIN;
    std::vector<std::string> env = decoderEnvironment();
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (std::string& s : strings) out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    };
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, answer, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pixels, 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned = spawner().syncResult([&] {
        return startCounted(
            [&](pid_t& p) {
                return ::posix_spawn(&p, program.c_str(), &actions, &attr, argv.data(), envp.data());
            },
            pid);
    });
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return spawned;
}

enum class AwaitResult { answered, timeUp, tooLong };

// How a decoder that is not to be trusted ended, and what the user is told.
struct Ending {
    bool answered = false;   // its answer came whole, and it ended by itself
    std::string refusal;     // otherwise why not
    bool cancelled = false;  // the way out ended it
};

// Ends the decoder once its answer has come, or its time is up (SIGKILL,
// which a decoder cannot put off), and reaps it: the real one has ended by
// the time its answer ends, one that lingers is not waited for. A death by
// a signal other than its own limits (its processor time; its file-size
// limit, which only the pixels can reach) and this program's kill at the
// deadline or on an overlong answer is a crash, logged naming the picture;
// so is lingering after the answer.
Ending endDecoder(pid_t pid, AwaitResult awaited, const std::string& what) {
    Decoders& d = decoders();
    {
        std::lock_guard lock(d.lock);
        if (!takeOut(d, pid)) return {false, kCancelled, true};
    }
    const int status = reapTakenOut(pid);
    if (WIFEXITED(status)) {
        if (awaited == AwaitResult::timeUp) return {false, kTooSlow};
        if (awaited == AwaitResult::tooLong || WEXITSTATUS(status) != 0) return {false, kDecoderFailed};
        return {true, {}};
    }
    const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (sig == SIGXCPU) return {false, kTooSlow};
    if (sig == SIGXFSZ) return {false, kTooHungry};
    if (sig == SIGKILL && awaited == AwaitResult::timeUp) return {false, kTooSlow};
    if (sig != SIGKILL || awaited == AwaitResult::answered)
        std::fprintf(stderr, "decoder crashed: SIG%s (%s) on %s\n",
                     sigabbrev_np(sig) ? sigabbrev_np(sig) : "?", strsignal(sig), what.c_str());
    return {false, kDecoderFailed};
}

// The picture's pixels and texts from a decoder's answer that came whole:
// its first line a code, never a sentence, its numbers held to what was asked.
std::optional<Decoded> readAnswer(const std::string& reply, int pixels, double scale, int maxSide,
                                  std::string* error) {
    const size_t lineEnd = reply.find('\n');
    if (lineEnd == std::string::npos || lineEnd > 64)
        return fail<std::optional<Decoded>>(error, kDecoderFailed);
    const std::string line = reply.substr(0, lineEnd);
    if (line.rfind("no ", 0) == 0) {
        const std::string_view code = std::string_view(line).substr(3);
        const std::string sentence = detail::refusalSentence(code);
        // A decoder that could not shut itself in refuses every picture
        // until it can: said once, not for each picture, with the step that
        // failed.
        static std::atomic<bool> toldUnconfined{false};
        if (const auto reason = detail::unconfinedReasonIn(code); reason && !toldUnconfined.exchange(true))
            std::fprintf(
                stderr,
                "The picture decoder could not shut itself in, so it refuses pictures rather than read "
                "them unconfined: %s (%s)\n",
                sentence.c_str(), reason->c_str());
        return fail<std::optional<Decoded>>(error, sentence);
    }
    long long w = 0, h = 0, ow = 0, oh = 0;
    if (std::sscanf(line.c_str(), "ok %lld %lld %lld %lld", &w, &h, &ow, &oh) != 4 || w <= 0 || h <= 0 ||
        w > INT32_MAX || h > INT32_MAX || abovePixelCap(w, h) || (maxSide > 0 && std::max(w, h) > maxSide))
        return fail<std::optional<Decoded>>(error, kDecoderFailed);
    Decoded out;
    out.image = takePixels(pixels, int(w), int(h), scale, error);
    if (out.image.isNull()) return std::nullopt;
    out.original = Size{double(ow), double(oh)};
    // Key and value, each ended by a zero byte.
    for (size_t at = lineEnd + 1; at < reply.size();) {
        const size_t keyEnd = reply.find('\0', at);
        const size_t valueEnd = keyEnd == std::string::npos ? keyEnd : reply.find('\0', keyEnd + 1);
        if (valueEnd == std::string::npos) break;
        out.texts[reply.substr(at, keyEnd - at)] = reply.substr(keyEnd + 1, valueEnd - keyEnd - 1);
        at = valueEnd + 1;
    }
    return out;
}

}  // namespace

// The decoder of a read its handle may abandon, from the start to the end of
// the wait for it.
struct detail::ReadHandleAccess {
    // False when the read was abandoned already: then `pid` is not watched.
    static bool watch(ReadHandle& handle, pid_t pid) {
        std::lock_guard lock(decoders().lock);
        if (handle.abandoned_) return false;
        handle.decoder_ = pid;
        return true;
    }
    // Before the read reaps its decoder itself: abandoned later, the handle
    // ends nothing (the number may be another decoder's by then).
    static void forget(ReadHandle& handle) {
        std::lock_guard lock(decoders().lock);
        handle.decoder_ = 0;
    }
    static files::OpenStop* openStop(ReadHandle* handle) { return handle ? &handle->open_ : nullptr; }
};

void ReadHandle::abandon() {
    open_.stop();
    Decoders& d = decoders();
    pid_t pid = 0;
    {
        std::lock_guard lock(d.lock);
        abandoned_ = true;
        pid = std::exchange(decoder_, 0);
        if (pid <= 0 || !takeOut(d, pid)) return;
    }
    // Its answer's pipe ends with it, and the wait for it with that.
    reapTakenOut(pid);
}

namespace {

// Decodes the picture in `input` (a regular file or a sealed memory file,
// `what` naming it for the log) in the decoder program, under its limits;
// maxSide as in readScaled. A caller trying pictures in turn gives them one
// wait together, ending at `until`; one whose `handle` abandons the read
// ends the decoder then.
std::optional<Decoded> decodeElsewhere(int input, const std::string& what, double scale, int maxSide,
                                       bool wantTexts, std::string* error,
                                       Clock::time_point until = Clock::time_point::max(),
                                       ReadHandle* handle = nullptr) {
    const DecoderLimits limits = currentLimits();
    const std::string program = decoderProgram();
    if (program.empty()) return fail<std::optional<Decoded>>(error, kNoDecoder);
    // Logs, once, what of its confinement this machine cannot give; the
    // decoder goes without a root of its own only where this found none.
    const bool noFileRulesHere = !missingConfinement().empty();
    Descriptor pixels(::memfd_create("kadrix-pixels", MFD_CLOEXEC));
    int ends[2];
    if (!pixels.valid() || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail<std::optional<Decoded>>(
            error, "The image could not be read: " + std::string(std::strerror(errno)) + ".");
    Descriptor replyEnd(ends[0]), writeEnd(ends[1]);
    // Blocking for the decoder, which writes its answer at once.
    ::fcntl(writeEnd.get(), F_SETFL, 0);

    std::vector<std::string> args{program, "--parent", std::to_string(::getpid())};
    if (maxSide > 0) args.insert(args.end(), {"--max-side", std::to_string(maxSide)});
    if (wantTexts) args.emplace_back("--texts");
    if (noFileRulesHere) args.emplace_back("--no-file-rules");
    args.insert(args.end(), {"--seconds", std::to_string(limits.cpuSeconds), "--memory",
                             std::to_string(limits.memoryBytes)});
    pid_t pid = -1;
    const int spawned = spawnDecoder(program, std::move(args), input, writeEnd.get(), pixels.get(), pid);
    writeEnd.reset();
    if (spawned < 0) return fail<std::optional<Decoded>>(error, kCancelled);
    if (spawned != 0)
        return fail<std::optional<Decoded>>(error, "The image could not be read: the decoder " + program +
                                                       " could not be started (" + std::strerror(spawned) +
                                                       ").");
    if (handle && !detail::ReadHandleAccess::watch(*handle, pid)) {
        endDecoder(pid, AwaitResult::timeUp, what);
        return fail<std::optional<Decoded>>(error, kCancelled);
    }

    std::string reply;
    // The decoder's own clock counts its processor time; this one also
    // counts time spent waiting for the disk.
    auto wall = std::chrono::milliseconds(limits.cpuSeconds * 1500 + 1000);
    if (until != Clock::time_point::max())
        wall = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()),
                          std::chrono::milliseconds(0), wall);
    bool cancelled = false;
    const bool whole = awaitReply(replyEnd.get(), wall, reply, cancelled);
    if (handle) detail::ReadHandleAccess::forget(*handle);
    const AwaitResult awaited = whole                      ? AwaitResult::answered
                                : reply.size() > kMaxReply ? AwaitResult::tooLong
                                                           : AwaitResult::timeUp;
    // A wait the way out ended ends its decoder as a deadline would.
    const Ending ending = endDecoder(pid, cancelled ? AwaitResult::timeUp : awaited, what);
    if (cancelled || ending.cancelled) return fail<std::optional<Decoded>>(error, kCancelled);
    if (!ending.answered) return fail<std::optional<Decoded>>(error, ending.refusal);
    return readAnswer(reply, pixels.get(), scale, maxSide, error);
}

// An open regular file and its size.
struct OpenFile {
    Descriptor fd;
    long long size = 0;
};

// The sentence for a file openRegular would not open.
std::string notOpened(const std::string& why) {
    if (why == files::kTooLarge) return detail::kFileTooLarge;
    // Short enough to be read whole in a notice.
    if (why == files::kNotRegularFile) return detail::kNotRegularFile;
    return "The file could not be opened: " + why + ".";
}

// Opens a regular file for the checks: by the name's own bytes, so a name
// that is not UTF-8 stays the same name; only regular files, so a FIFO or a
// device named like a picture cannot hold the caller.
std::string openForChecks(const std::string& path, OpenFile& file) {
    std::string why;
    file.fd.reset(files::openRegular(path, &why, kMaxImageFileBytes));
    if (!file.fd.valid()) return notOpened(why);
    struct stat st {};
    if (::fstat(file.fd.get(), &st) != 0)
        return "The file could not be opened: " + std::string(std::strerror(errno)) + ".";
    file.size = st.st_size;
    return {};
}

// Opens the file and checks its head: with a deadline, both on a thread of
// their own (a folder that does not answer holds that thread, not the
// caller's), given up when it passes.
std::string openAndScreen(const std::string& path, OpenFile& file, Clock::time_point until,
                          files::OpenStop* stop) {
    if (until == Clock::time_point::max()) {
        if (std::string why = openForChecks(path, file); !why.empty()) return why;
        return detail::screenFile(file.fd.get(), file.size).refusal;
    }
    files::OpenInTime opened = files::openInTime(
        path, kMaxImageFileBytes, until,
        [](int fd, long long size) { return detail::screenFile(fd, size).refusal; }, stop);
    if (opened.outcome == files::OpenOutcome::cancelled || opened.outcome == files::OpenOutcome::stopped)
        return kCancelled;
    if (opened.outcome != files::OpenOutcome::opened) return notOpened(opened.why);
    file.fd = std::move(opened.fd);
    file.size = opened.size;
    return opened.looked;
}

// A file's picture: the checks on its head here, the quick first refusal,
// then the decoding in the decoder program; all by `until`, which on the
// thread of the event loop is no later than one decode's time from now.
std::optional<Decoded> readFile(const std::string& path, double scale, int maxSide, bool wantTexts,
                                std::string* error, ReadHandle* handle = nullptr,
                                Clock::time_point until = Clock::time_point::max()) {
    if (until == Clock::time_point::max() && isMainThread()) until = Clock::now() + decodeTimeLimit();
    OpenFile file;
    if (std::string why = openAndScreen(path, file, until, detail::ReadHandleAccess::openStop(handle));
        !why.empty())
        return fail<std::optional<Decoded>>(error, why);
    return decodeElsewhere(file.fd.get(), path, scale, maxSide, wantTexts, error, until, handle);
}

// A file this program wrote itself, on a folder of its own: opened here,
// apart from the opens of files someone named, which a folder that does not
// answer may have used up; decoded as any picture.
std::optional<Decoded> readOwnFile(const std::string& path, double scale, std::string* error) {
    const Clock::time_point until =
        isMainThread() ? Clock::now() + decodeTimeLimit() : Clock::time_point::max();
    OpenFile file;
    if (std::string why = openAndScreen(path, file, Clock::time_point::max(), nullptr); !why.empty())
        return fail<std::optional<Decoded>>(error, why);
    return decodeElsewhere(file.fd.get(), path, scale, 0, false, error, until);
}

Bytes encode(const Image& image, const char* format, int quality, const TextChunks& text) {
    if (image.isNull()) return {};
    QImage q = qt::wrap(image);
    if (std::string_view(format) == "jpeg") q = q.convertToFormat(QImage::Format_RGB32);
    // Resolution from the scale, so viewers show the image at its point size.
    int dpm = int(std::lround(72.0 * image.scale() / 0.0254));
    q.setDotsPerMeterX(dpm);
    q.setDotsPerMeterY(dpm);
    QByteArray out;
    QBuffer buf(&out);
    if (!buf.open(QIODevice::WriteOnly)) return {};
    QImageWriter writer(&buf, format);
    if (quality >= 0) writer.setQuality(quality);
    // On the image, not the writer: the writer joins its texts as "key: value"
    // and splits them again at the first colon (which breaks keys such as
    // "Thumb::URI") and folds the white space of every value.
    for (const auto& [key, value] : text)
        q.setText(QString::fromLatin1(key.data(), qsizetype(key.size())),
                  QString::fromUtf8(value.data(), qsizetype(value.size())));
    if (!writer.write(q)) return {};
    return Bytes(out.begin(), out.end());
}

}  // namespace

Image decode(const Bytes& data, double scale, std::string* error) {
    if (data.empty()) return fail(error, kNotAnImage);
    // Checked and handed over as a memory file.
    const Descriptor input = memoryFileWith("kadrix-picture", data.data(), data.size());
    if (!input.valid())
        return fail(error, "The image could not be read: " + std::string(std::strerror(errno)) + ".");
    return decodeHeld(input.get(), Clock::time_point::max(), scale, error);
}

Image decodeHeld(int memoryFile, std::chrono::steady_clock::time_point until, double scale,
                 std::string* error) {
    // Sealed against change while the checks and the decoder read it.
    ::fcntl(memoryFile, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL);
    struct stat st {};
    if (::fstat(memoryFile, &st) != 0)
        return fail(error, "The image could not be read: " + std::string(std::strerror(errno)) + ".");
    if (size_t(st.st_size) > kMaxImageFileBytes)
        return fail(error, "The file is too large to be an image that can be opened.");
    if (auto s = detail::screenFile(memoryFile, st.st_size); !s.refusal.empty())
        return fail(error, s.refusal);
    auto decoded = decodeElsewhere(memoryFile, std::to_string(st.st_size) + " bytes given in memory", scale,
                                   0, false, error, until);
    return decoded ? decoded->image : Image();
}

std::chrono::milliseconds decodeTimeLimit() {
    return std::chrono::milliseconds(currentLimits().cpuSeconds * 1500 + 1000);
}

Image read(const std::string& path, double scale, std::string* error) {
    auto decoded = readFile(path, scale, 0, false, error);
    return decoded ? decoded->image : Image();
}

Image read(const std::string& path, double scale, std::string* error, ReadHandle& handle) {
    auto decoded = readFile(path, scale, 0, false, error, &handle);
    return decoded ? decoded->image : Image();
}

Image readOwn(const std::string& path, double scale, std::string* error) {
    auto decoded = readOwnFile(path, scale, error);
    return decoded ? decoded->image : Image();
}

Image readBy(const std::string& path, std::chrono::steady_clock::time_point until, double scale,
             std::string* error, ReadHandle* handle) {
    auto decoded = readFile(path, scale, 0, false, error, handle, until);
    return decoded ? decoded->image : Image();
}

Image readScaled(const std::string& path, int maxSide, std::string* error, Size* originalSize) {
    auto decoded = readFile(path, 1.0, std::max(maxSide, 1), false, error);
    if (!decoded) return {};
    if (originalSize) *originalSize = decoded->original;
    return decoded->image;
}

Image readWithTexts(const std::string& path, TextChunks& texts, std::string* error) {
    auto decoded = readFile(path, 1.0, 0, true, error);
    if (!decoded) return {};
    texts = std::move(decoded->texts);
    return decoded->image;
}

Image decodeInProcess(const Bytes& data, double scale, std::string* error, int maxSide) {
    const QImage q = detail::decode(asQBytes(data), error, maxSide);
    if (q.isNull()) return {};
    Image out = qt::toImage(q, scale);
    if (out.isNull()) return fail(error, tooLarge(q.width(), q.height()));
    return out;
}

void setDecoderLimits(const DecoderLimits& limits) {
    std::lock_guard lock(limitsLock);
    limitsNow = limits;
}

DecoderLimits decoderLimits() {
    return currentLimits();
}

void setDecoderProgram(const std::string& path) {
    std::lock_guard lock(limitsLock);
    programOverride = path;
}

bool wasCancelled(const std::string& error) {
    return error == kCancelled;
}

bool refusedForItsBytes(const std::string& error) {
    return error == kIncomplete || error == kNotAnImage;
}

std::string refusalOf(const std::string& path) {
    OpenFile file;
    if (std::string why = openForChecks(path, file); !why.empty()) return why;
    return detail::guessFile(file.fd.get(), file.size).refusal;
}

std::vector<std::string> readableExtensions() {
    std::vector<std::string> out;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        out.push_back(format.toLower().toStdString());
    out.emplace_back("tga");  // read by the decoder's own reader, with or without the toolkit's
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

Size pixelSize(const std::string& path) {
    OpenFile file;
    if (!openForChecks(path, file).empty()) return {};
    // A PNG's size as it declares it, even above the cap.
    QByteArray head(24, '\0');
    head.resize(qsizetype(std::max<ssize_t>(0, ::pread(file.fd.get(), head.data(), size_t(head.size()), 0))));
    if (auto declared = pngDeclaredSize(head)) return {double(declared->width()), double(declared->height())};
    const auto s = detail::screenFile(file.fd.get(), file.size);
    if (!s.refusal.empty()) return {};
    if (s.width > 0 && s.height > 0) return {double(s.width), double(s.height)};
    // A format whose header this program does not read itself: the decoder
    // reads it, and makes a picture of one pixel.
    auto decoded = decodeElsewhere(file.fd.get(), path, 1.0, 1, false, nullptr);
    return decoded ? decoded->original : Size{};
}

Bytes encodePNG(const Image& image, const TextChunks& text) {
    return encode(image, "png", -1, text);
}

Bytes encodeJPEG(const Image& image, double quality) {
    double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 1.0;
    return encode(image, "jpeg", int(std::lround(q * 100)), {});
}

namespace {

// ---- GIF writing ----------------------------------------------------------------

struct LiqDeleter {
    void operator()(liq_attr* a) const { liq_attr_destroy(a); }
    void operator()(liq_image* i) const { liq_image_destroy(i); }
    void operator()(liq_result* r) const { liq_result_destroy(r); }
};

// One frame reduced to palette indices.
struct IndexedFrame {
    std::vector<GifColorType> palette;  // a power of two entries, 2…256
    std::vector<GifByteType> pixels;
    int transparent = -1;
};

std::optional<IndexedFrame> quantize(const Image& img) {
    int w = img.width(), h = img.height();
    // libimagequant wants straight (not premultiplied) RGBA.
    std::vector<uint8_t> rgba(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = img.row(y);
        uint8_t* d = rgba.data() + size_t(y) * size_t(w) * 4;
        for (int x = 0; x < w; ++x, s += 4, d += 4) {
            uint8_t a = s[3];
            auto un = [a](uint8_t c) {
                return a ? uint8_t(std::min(255, (c * 255 + a / 2) / a)) : uint8_t(0);
            };
            d[0] = un(s[2]);
            d[1] = un(s[1]);
            d[2] = un(s[0]);
            d[3] = a;
        }
    }
    std::unique_ptr<liq_attr, LiqDeleter> attr(liq_attr_create());
    if (!attr) return std::nullopt;
    liq_set_speed(attr.get(), 4);
    std::unique_ptr<liq_image, LiqDeleter> li(liq_image_create_rgba(attr.get(), rgba.data(), w, h, 0));
    if (!li) return std::nullopt;
    liq_result* raw = nullptr;
    if (liq_image_quantize(li.get(), attr.get(), &raw) != LIQ_OK || !raw) return std::nullopt;
    std::unique_ptr<liq_result, LiqDeleter> res(raw);
    liq_set_dithering_level(res.get(), 1.0f);
    IndexedFrame f;
    f.pixels.resize(size_t(w) * size_t(h));
    if (liq_write_remapped_image(res.get(), li.get(), f.pixels.data(), f.pixels.size()) != LIQ_OK)
        return std::nullopt;
    const liq_palette* pal = liq_get_palette(res.get());
    if (!pal || pal->count == 0) return std::nullopt;
    int lowest = 256;
    std::vector<bool> clear(pal->count, false);
    for (unsigned i = 0; i < pal->count; ++i) {
        const liq_color& c = pal->entries[i];
        f.palette.push_back({c.r, c.g, c.b});
        clear[i] = c.a < 128;
        if (clear[i] && (f.transparent < 0 || c.a < lowest)) f.transparent = int(i), lowest = c.a;
    }
    // GIF transparency is all or nothing: every mostly clear colour becomes the one transparent index.
    if (f.transparent >= 0)
        for (auto& p : f.pixels)
            if (clear[p]) p = GifByteType(f.transparent);
    size_t n = 2;
    while (n < f.palette.size()) n *= 2;
    f.palette.resize(n, GifColorType{0, 0, 0});
    return f;
}

int appendBytes(GifFileType* gif, const GifByteType* data, int len) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + len);
    return len;
}

bool writeFrame(GifFileType* gif, const IndexedFrame& f, int w, int h, int delayCs) {
    GraphicsControlBlock gcb{};
    // Every frame covers the canvas: clear it after each, so a later frame's
    // transparent pixels do not show the one before.
    gcb.DisposalMode = DISPOSE_BACKGROUND;
    gcb.UserInputFlag = false;
    gcb.DelayTime = delayCs;
    gcb.TransparentColor = f.transparent >= 0 ? f.transparent : NO_TRANSPARENT_COLOR;
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) != GIF_OK) return false;
    ColorMapObject* map = GifMakeMapObject(int(f.palette.size()), f.palette.data());
    if (!map) return false;
    bool ok = EGifPutImageDesc(gif, 0, 0, w, h, false, map) == GIF_OK;
    GifFreeMapObject(map);
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, const_cast<GifByteType*>(f.pixels.data() + size_t(y) * size_t(w)), w) == GIF_OK;
    return ok;
}

}  // namespace

Bytes encodeGIF(const std::vector<Image>& frames, double delaySeconds, int loopCount) {
    if (frames.empty() || frames[0].isNull()) return {};
    int w = frames[0].width(), h = frames[0].height();
    if (w > 65535 || h > 65535) return {};
    for (const Image& f : frames)
        if (f.isNull() || f.width() != w || f.height() != h) return {};
    double d = std::isfinite(delaySeconds) ? std::clamp(delaySeconds, 0.0, 655.35) : 0.0;
    int delayCs = int(std::lround(d * 100));
    Bytes out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, appendBytes, &err);
    if (!gif) return {};
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, nullptr) == GIF_OK;
    // The loop count travels in the NETSCAPE2.0 application extension.
    const GifByteType app[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    int loops = std::clamp(loopCount, 0, 65535);
    const GifByteType sub[] = {1, GifByteType(loops & 0xFF), GifByteType(loops >> 8)};
    ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, sizeof app, app) == GIF_OK &&
         EGifPutExtensionBlock(gif, sizeof sub, sub) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
    for (size_t i = 0; ok && i < frames.size(); ++i) {
        auto f = quantize(frames[i]);
        ok = f && writeFrame(gif, *f, w, h, delayCs);
    }
    if (EGifCloseFile(gif, &err) != GIF_OK) ok = false;
    return ok ? out : Bytes{};
}

TextChunks pngText(const Bytes& data) {
    if (data.empty()) return {};
    return detail::textsOfData(asQBytes(data));
}

TextChunks readPNGText(const std::string& path) {
    OpenFile file;
    if (!openForChecks(path, file).empty()) return {};
    return detail::textsOfFile(file.fd.get(), file.size);
}

}  // namespace kit::ImageIO
