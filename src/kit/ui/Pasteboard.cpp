#include "kit/ui/Pasteboard.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "kit/base/Descriptor.h"
#include "kit/base/Dispatch.h"
#include "kit/base/InputWait.h"
#include "kit/base/WayOut.h"
#include "kit/base/qt/QtImage.h"
#include "kit/desktop/x11/ClipboardRead.h"
#include "kit/image/ImageIO.h"

namespace kit {

namespace {

int g_changeCount = 0;

QClipboard* clipboard() {
    return qGuiApp ? QGuiApplication::clipboard() : nullptr;
}

QByteArray encodePNG(const Image& image) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    QImage q = qt::wrap(image);
    // Keep the scale: a 2× capture pastes at its point size elsewhere.
    q.setDotsPerMeterX(int(std::lround(image.scale() * 72 / 0.0254)));
    q.setDotsPerMeterY(q.dotsPerMeterX());
    if (!q.save(&buf, "PNG")) return {};
    return bytes;
}

using Clock = std::chrono::steady_clock;
using Outcome = x11::ClipboardData::Outcome;

const char* const kTooLarge = "The picture offered is too large to be an image that can be opened.";
// Far longer than any list of files copied together.
constexpr size_t kMaxListBytes = size_t(1) << 20;
// What an owner is given to say whether it offers a picture, the heads of
// the files it lists read too, counted from the sending of the question: a
// program that is running answers within a few milliseconds, one that is
// merely busy (a loaded machine, a large selection being prepared) within a
// second. Later answers are dropped.
constexpr auto kMomentToAnswer = std::chrono::seconds(1);
// What our own thread is given to start, connect, make its window and send
// the question; past it the answer counts as late too, whatever the owner.
constexpr auto kMomentToAsk = std::chrono::seconds(1);
// Asks still running past their moment (a listed file on a network folder
// that hangs holds its thread as long as its open blocks): beyond this many
// no other is started, and the last answer stands.
constexpr int kMostAsksHeld = 4;

// What is offered, wherever it comes from: its types, and the bytes of one
// type in a memory file (-1 with the reason in `why` when there are none).
struct Offer {
    QStringList types;
    std::function<int(const QString& type, size_t maxBytes, std::string& why)> bytesOf;
};

// Why another program's offer came to nothing.
std::string reasonFor(Outcome outcome) {
    switch (outcome) {
        case Outcome::TooLarge:
            return kTooLarge;
        case Outcome::TooSlow:
            return "The program offering the picture took too long to hand it over.";
        case Outcome::Cancelled:
            return "Reading the clipboard was given up: Kadrix is ending.";
        case Outcome::ConnectionLost:
            return "The connection to the display was lost while the picture was handed over.";
        default:
            return "The program offering the picture did not hand it over.";
    }
}

// Data of this process (its own copy, a drop), at hand already.
Offer offerOf(const QMimeData& m) {
    return {m.formats(), [&m](const QString& type, size_t maxBytes, std::string& why) {
                const QByteArray bytes = m.data(type);
                if (size_t(bytes.size()) > maxBytes) {
                    why = kTooLarge;
                    return -1;
                }
                Descriptor file = memoryFileWith("kadrix-offered", bytes.constData(), size_t(bytes.size()));
                if (!file.valid())
                    why = "The picture could not be held: " + std::string(std::strerror(errno)) + ".";
                return file.release();
            }};
}

// Another program's offer, read from it on a connection of our own, stopped
// past the picture-file cap or at `until`.
Offer ownersOffer(const std::vector<std::string>& types, Clock::time_point until) {
    Offer offer;
    for (const std::string& t : types) offer.types << QString::fromStdString(t);
    offer.bytesOf = [until](const QString& type, size_t maxBytes, std::string& why) {
        const auto read = x11::readClipboard(type.toStdString(), (long long)maxBytes, until);
        if (read.outcome != Outcome::Read) why = reasonFor(read.outcome);
        return read.fd;
    };
    return offer;
}

// The addresses in a list of them (text/uri-list) held in a memory file.
QList<QUrl> urlsIn(int memoryFile) {
    QList<QUrl> out;
    QFile file;
    if (memoryFile < 0 || !file.open(memoryFile, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) ||
        !file.seek(0))
        return out;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QByteArray entry = line.trimmed();
        if (!entry.isEmpty() && !entry.startsWith('#')) out << QUrl::fromEncoded(entry);
    }
    return out;
}

// The picture among the image types offered, tried in the order this
// program prefers (PNG first: lossless, with alpha; then the others as
// offered), then in the files listed, all while the one wait a decode may
// take lasts: one picture offered under many types costs no more than one.
Image imageOf(const Offer& offer, Clock::time_point until, std::string& why,
              ImageIO::ReadHandle* handle = nullptr) {
    QStringList types;
    for (const QString& f : offer.types)
        if (f.startsWith("image/")) types.insert(f == "image/png" ? 0 : types.size(), f);
    if (types.empty()) why = "No picture is offered.";
    for (const QString& type : types) {
        if (Clock::now() >= until || wayOutBegun()) return {};
        const Descriptor held(offer.bytesOf(type, ImageIO::kMaxImageFileBytes, why));
        if (!held.valid()) continue;
        if (Image img = ImageIO::decodeHeld(held.get(), until, 1.0, &why); !img.isNull()) return img;
    }
    if (!offer.types.contains("text/uri-list")) return {};
    const Descriptor list(Clock::now() < until ? offer.bytesOf("text/uri-list", kMaxListBytes, why) : -1);
    // A listed file is opened off this thread: its folder may not answer.
    for (const QUrl& u : urlsIn(list.get())) {
        if (!u.isLocalFile() || Clock::now() >= until || wayOutBegun()) continue;
        if (Image img = ImageIO::readBy(u.toLocalFile().toStdString(), until, 1.0, &why, handle);
            !img.isNull())
            return img;
    }
    return {};
}

// Whether an offer holds a picture, by its types and the heads of the files
// it lists, those read by `until`: nothing is decoded.
bool offersImage(const Offer& offer, Clock::time_point until = Clock::time_point::max()) {
    for (const QString& f : offer.types)
        if (f.startsWith("image/")) return true;
    if (!offer.types.contains("text/uri-list")) return false;
    std::string why;
    const Descriptor list(offer.bytesOf("text/uri-list", kMaxListBytes, why));
    for (const QUrl& u : urlsIn(list.get())) {
        if (Clock::now() >= until) return false;
        if (u.isLocalFile() && ImageIO::refusalOf(u.toLocalFile().toStdString()).empty()) return true;
    }
    return false;
}

// The picture of data of this process: also the toolkit's own picture type.
Image imageOf(const QMimeData& m, Clock::time_point until, std::string& why, ImageIO::ReadHandle* handle) {
    const Offer offer = offerOf(m);
    if (Image img = imageOf(offer, until, why, handle); !img.isNull()) return img;
    // Never a picture the toolkit would decode in this process from one of
    // the image types.
    if (!m.hasImage() || !offer.types.filter(QRegularExpression("^image/")).isEmpty()) return {};
    return qt::toImage(qvariant_cast<QImage>(m.imageData()));
}

}  // namespace

Pasteboard::Pasteboard() {
    if (QClipboard* cb = clipboard()) QObject::connect(cb, &QClipboard::dataChanged, [] { ++g_changeCount; });
}

Pasteboard& Pasteboard::general() {
    static Pasteboard board;
    return board;
}

void Pasteboard::clearContents() {
    if (QClipboard* cb = clipboard()) cb->clear();
}

bool Pasteboard::write(const Contents& c) {
    QClipboard* cb = clipboard();
    if (!cb) return false;
    auto mime = std::make_unique<QMimeData>();
    if (!c.image.isNull()) {
        QByteArray png = encodePNG(c.image);
        if (png.isEmpty()) return false;
        mime->setData("image/png", png);
    }
    if (c.text) mime->setText(QString::fromStdString(*c.text));
    if (!c.filePaths.empty()) {
        QList<QUrl> urls;
        for (auto& p : c.filePaths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
        mime->setUrls(urls);
        // Text-only targets get the paths themselves.
        if (!c.text) {
            QStringList paths;
            for (auto& p : c.filePaths) paths << QString::fromStdString(p);
            mime->setText(paths.join('\n'));
        }
    }
    if (c.objects) mime->setData(kObjectsType, QByteArray::fromStdString(*c.objects));
    cb->setMimeData(mime.release());
    return true;
}

bool Pasteboard::setImage(const Image& image) {
    if (image.isNull()) return false;
    return write({image, {}, {}, {}});
}
bool Pasteboard::setPNGData(const std::vector<uint8_t>& png) {
    QClipboard* cb = clipboard();
    if (!cb || png.empty()) return false;
    auto mime = std::make_unique<QMimeData>();
    mime->setData("image/png", QByteArray(reinterpret_cast<const char*>(png.data()), qsizetype(png.size())));
    cb->setMimeData(mime.release());
    return true;
}
bool Pasteboard::setString(const std::string& text) {
    return write({{}, text, {}, {}});
}
bool Pasteboard::setFilePaths(const std::vector<std::string>& paths) {
    return write({{}, {}, paths, {}});
}
bool Pasteboard::setObjects(const std::string& json) {
    return write({{}, {}, {}, json});
}

std::optional<std::string> Pasteboard::string() const {
    QClipboard* cb = clipboard();
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    if (!m || !m->hasText()) return std::nullopt;
    return m->text().toStdString();
}

std::vector<std::string> Pasteboard::filePaths() const {
    std::vector<std::string> out;
    QClipboard* cb = clipboard();
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    if (!m) return out;
    for (const QUrl& u : m->urls())
        if (u.isLocalFile()) out.push_back(u.toLocalFile().toStdString());
    return out;
}

std::optional<std::string> Pasteboard::objects() const {
    QClipboard* cb = clipboard();
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    if (!m || !m->hasFormat(kObjectsType)) return std::nullopt;
    return m->data(kObjectsType).toStdString();
}

Image Pasteboard::image(std::string* why, ImageIO::ReadHandle* handle) const {
    QClipboard* cb = clipboard();
    const Clock::time_point until = Clock::now() + ImageIO::decodeTimeLimit();
    std::string reason = "The clipboard cannot be read.";
    Image img;
    // Another program's offer, types and all, is read here: the toolkit's
    // reading of it waits for a slow owner with the program standing still.
    const bool another = cb && !cb->ownsClipboard() && QGuiApplication::platformName() == "xcb";
    const x11::OfferedTypes offered = another ? x11::offeredTypes(until) : x11::OfferedTypes{};
    if (offered.outcome == Outcome::Read)
        img = imageOf(ownersOffer(offered.types, until), until, reason, handle);
    else if (offered.outcome == Outcome::NotOffered)
        reason = "No picture is offered.";
    else if (offered.outcome != Outcome::NoDisplay)
        reason = reasonFor(offered.outcome);
    // The toolkit's data only when it is this process's own: another
    // program's offer through it (when no connection of our own could be
    // had) would have its picture decoded here, by whatever reader it names.
    else if (const QMimeData* m = cb && !another ? cb->mimeData() : nullptr)
        img = imageOf(*m, until, reason, handle);
    if (why && img.isNull()) *why = reason;
    return img;
}

// Another program's offer is asked about on a thread of its own: neither a
// menu that is opening nor a key can stand still for an owner that never
// answers (the toolkit's own read held the program for over ten seconds),
// and a menu's validation turns no event loop inside.
namespace {

bool asksAnotherProgram() {
    QClipboard* cb = clipboard();
    return cb && !cb->ownsClipboard() && QGuiApplication::platformName() == "xcb";
}

// One question to the clipboard's owner and, once in, its answer. The
// worker writes the time the question went out, then wakes `goneOut`; it
// writes the answer, then wakes `wake` (and `goneOut`, when the question
// never went out). Whether the answer came in time is settled once, by the
// worker as it ends or by a main thread that stopped waiting first, so the
// menu and the key always judge alike.
struct Ask {
    enum class Verdict { pending, inTime, late };

    Clock::time_point asked = Clock::now();
    int changeCount = g_changeCount;
    Descriptor goneOut{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    Descriptor wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::optional<Clock::time_point> sent;  // written before `left`
    std::atomic<bool> left{false};          // the question went out, or never will
    std::atomic<bool> done{false};
    std::optional<bool> offered;  // none: no display to ask on; written before `done`
    std::atomic<Verdict> verdict{Verdict::pending};

    bool valid() const { return goneOut.valid() && wake.valid(); }
    // Until when the answer is waited for: the question's own moment, then
    // the owner's from its sending.
    Clock::time_point deadline() const {
        return left && sent ? *sent + kMomentToAnswer : asked + kMomentToAsk;
    }
    // The verdict, the first one given.
    Verdict settle(Verdict v) {
        Verdict was = Verdict::pending;
        verdict.compare_exchange_strong(was, v);
        return verdict;
    }
    bool inTime() const { return verdict == Verdict::inTime; }
};

std::atomic<int> g_asksHeld{0};
struct Answer {
    int changeCount = -1;
    bool offered = false;
};
Answer g_answer;                                           // main thread
std::shared_ptr<Ask> g_asking;                             // main thread
std::vector<std::function<void(bool)>> g_answerObservers;  // main thread

// Takes an answer that came in time as what the clipboard offers, and
// tells the observers when it changed.
void take(const Ask& ask) {
    if (!ask.inTime() || !ask.offered || ask.changeCount != g_changeCount) return;
    const bool changed = g_answer.changeCount != ask.changeCount || g_answer.offered != *ask.offered;
    g_answer = {ask.changeCount, *ask.offered};
    if (changed)
        for (const auto& observer : g_answerObservers) observer(*ask.offered);
}

// The question on its way about the clipboard as it is, or a new one; null
// when no thread can be had for it.
std::shared_ptr<Ask> asking() {
    if (g_asking && g_asking->verdict == Ask::Verdict::pending && g_asking->changeCount == g_changeCount &&
        Clock::now() <= g_asking->deadline())
        return g_asking;
    if (g_asksHeld >= kMostAsksHeld) return nullptr;
    auto ask = std::make_shared<Ask>();
    if (!ask->valid()) return nullptr;
    ++g_asksHeld;
    try {
        std::thread([ask] {
            const auto wakeOn = [](const Descriptor& fd) {
                const uint64_t one = 1;
                [[maybe_unused]] const ssize_t woken = ::write(fd.get(), &one, sizeof one);
            };
            const x11::OfferedTypes types = x11::offeredTypes(kMomentToAnswer, [&](Clock::time_point at) {
                ask->sent = at;
                ask->left = true;
                wakeOn(ask->goneOut);
            });
            // Without a question sent there is nothing more to read.
            const Clock::time_point until = ask->sent.value_or(Clock::now()) + kMomentToAnswer;
            if (types.outcome != Outcome::NoDisplay)
                ask->offered =
                    types.outcome == Outcome::Read && offersImage(ownersOffer(types.types, until), until);
            const Clock::time_point now = Clock::now();
            const bool timely = ask->sent ? *ask->sent - ask->asked <= kMomentToAsk && now <= until
                                          : now - ask->asked <= kMomentToAsk;
            ask->settle(timely ? Ask::Verdict::inTime : Ask::Verdict::late);
            ask->done = true;
            ask->left = true;
            wakeOn(ask->goneOut);
            wakeOn(ask->wake);
            --g_asksHeld;
            dispatchMain([ask] {
                take(*ask);
                // The clipboard changed while it was asked about, and no one
                // has asked about it since: its observers (a menu open
                // meanwhile) are owed an answer about what it holds now.
                if (ask->changeCount != g_changeCount && g_asking == ask && !wayOutBegun()) asking();
            });
        }).detach();
    } catch (const std::system_error&) {
        --g_asksHeld;
        return nullptr;
    }
    g_asking = ask;
    return ask;
}

bool offeredHere() {
    QClipboard* cb = clipboard();
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    return m && (m->hasImage() || offersImage(offerOf(*m)));
}

}  // namespace

// Asked each time a menu opens: it looks at the types offered and at a
// file's head, never decodes. A picture that then fails to decode is told
// when it is read.
bool Pasteboard::hasImage() const {
    if (!asksAnotherProgram()) return offeredHere();
    asking();
    return g_answer.changeCount == g_changeCount && g_answer.offered;
}

Pasteboard::ImageAnswer Pasteboard::awaitImageAnswer() const {
    const auto answer = [](bool offered) { return offered ? ImageAnswer::offered : ImageAnswer::notOffered; };
    if (!asksAnotherProgram()) return answer(offeredHere());
    // No question could go out (no thread for it, or the asks before all
    // held by owners that do not answer): nothing is known of a picture.
    const std::shared_ptr<Ask> ask = asking();
    if (!ask) return ImageAnswer::unanswered;
    awaitInput(ask->goneOut.get(), ask->deadline(), [&] { return bool(ask->left); });
    if (ask->left) awaitInput(ask->wake.get(), ask->deadline(), [&] { return bool(ask->done); });
    // An answer still to come when the wait ends is late for the menu too.
    if (ask->settle(Ask::Verdict::late) != Ask::Verdict::inTime || wayOutBegun())
        return ImageAnswer::unanswered;
    if (!ask->offered) return answer(offeredHere());
    take(*ask);
    return answer(*ask->offered);
}

void Pasteboard::onImageAnswer(std::function<void(bool offered)> observer) {
    g_answerObservers.push_back(std::move(observer));
}

std::vector<std::string> Pasteboard::types() const {
    std::vector<std::string> out;
    QClipboard* cb = clipboard();
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    if (!m) return out;
    for (const QString& f : m->formats()) out.push_back(f.toStdString());
    return out;
}

int Pasteboard::changeCount() const {
    return g_changeCount;
}

}  // namespace kit
