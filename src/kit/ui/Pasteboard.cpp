#include "kit/ui/Pasteboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <system_error>

#include "kit/base/Descriptor.h"
#include "kit/base/Files.h"
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
// What an owner is given to say whether it offers a picture: a program that
// is running answers within a few milliseconds.
constexpr auto kMomentToAnswer = std::chrono::milliseconds(250);

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
Image imageOf(const Offer& offer, Clock::time_point until, std::string& why) {
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
    for (const QUrl& u : urlsIn(list.get())) {
        if (!u.isLocalFile() || Clock::now() >= until || wayOutBegun()) continue;
        const Descriptor file(
            files::openRegular(u.toLocalFile().toStdString(), &why, ImageIO::kMaxImageFileBytes));
        if (!file.valid()) {
            why = "The file could not be opened: " + why + ".";
            continue;
        }
        if (Image img = ImageIO::decodeHeld(file.get(), until, 1.0, &why); !img.isNull()) return img;
    }
    return {};
}

// Whether an offer holds a picture, by its types and the heads of the files
// it lists: nothing is decoded.
bool offersImage(const Offer& offer) {
    for (const QString& f : offer.types)
        if (f.startsWith("image/")) return true;
    if (!offer.types.contains("text/uri-list")) return false;
    std::string why;
    const Descriptor list(offer.bytesOf("text/uri-list", kMaxListBytes, why));
    for (const QUrl& u : urlsIn(list.get()))
        if (u.isLocalFile() && ImageIO::refusalOf(u.toLocalFile().toStdString()).empty()) return true;
    return false;
}

// The picture of data of this process: also the toolkit's own picture type.
Image imageOf(const QMimeData& m, Clock::time_point until, std::string& why) {
    const Offer offer = offerOf(m);
    if (Image img = imageOf(offer, until, why); !img.isNull()) return img;
    // Never a picture the toolkit would decode in this process from one of
    // the image types.
    if (!m.hasImage() || !offer.types.filter(QRegularExpression("^image/")).isEmpty()) return {};
    return qt::toImage(qvariant_cast<QImage>(m.imageData()));
}

}  // namespace

namespace qt {

Image imageOf(const QMimeData& m) {
    std::string why;
    return kit::imageOf(m, Clock::now() + ImageIO::decodeTimeLimit(), why);
}

}  // namespace qt

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

Image Pasteboard::image(std::string* why) const {
    QClipboard* cb = clipboard();
    const Clock::time_point until = Clock::now() + ImageIO::decodeTimeLimit();
    std::string reason = "The clipboard cannot be read.";
    Image img;
    // Another program's offer, types and all, is read here: the toolkit's
    // reading of it waits for a slow owner with the program standing still.
    const x11::OfferedTypes offered = cb && !cb->ownsClipboard() && QGuiApplication::platformName() == "xcb"
                                          ? x11::offeredTypes(until)
                                          : x11::OfferedTypes{};
    if (offered.outcome == Outcome::Read)
        img = imageOf(ownersOffer(offered.types, until), until, reason);
    else if (offered.outcome == Outcome::NotOffered)
        reason = "No picture is offered.";
    else if (offered.outcome != Outcome::NoDisplay)
        reason = reasonFor(offered.outcome);
    else if (const QMimeData* m = cb ? cb->mimeData() : nullptr)
        img = imageOf(*m, until, reason);
    if (why && img.isNull()) *why = reason;
    return img;
}

// Asked each time a menu opens and before a paste: it looks at the types
// offered and at a file's head, never decodes. A picture that then fails to
// decode is told when it is read. Another program's offer is asked for on a
// thread of its own and given a moment only: neither a menu that is opening
// nor a key can stand still for an owner that never answers (the toolkit's
// own read held the program for over ten seconds), nor turn the event loop inside.
bool Pasteboard::hasImage() const {
    QClipboard* cb = clipboard();
    if (cb && !cb->ownsClipboard() && QGuiApplication::platformName() == "xcb") {
        std::optional<bool> offered;
        try {
            offered = std::async(std::launch::async, [] {
                          const Clock::time_point until = Clock::now() + kMomentToAnswer;
                          const x11::OfferedTypes types = x11::offeredTypes(until);
                          if (types.outcome == Outcome::NoDisplay) return std::optional<bool>();
                          return std::optional<bool>(types.outcome == Outcome::Read &&
                                                     offersImage(ownersOffer(types.types, until)));
                      }).get();
        } catch (const std::system_error&) {
            return false;  // no thread to ask on
        }
        if (offered) return *offered;
    }
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    return m && (m->hasImage() || offersImage(offerOf(*m)));
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
