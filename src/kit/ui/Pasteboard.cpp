#include "kit/ui/Pasteboard.h"

#include <sys/mman.h>
#include <unistd.h>

#include <QBuffer>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

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

// The bytes offered under one type, in a memory file; -1 with the reason in
// `why` when there are none. Another program's offer is read from it here,
// stopped past the picture-file cap or at `until`; data of this process
// (its own copy, a drop) is at hand already.
int offeredBytes(const QMimeData& m, const QString& type, bool fromOwner, Clock::time_point until,
                 std::string& why) {
    if (fromOwner) {
        using Outcome = x11::ClipboardData::Outcome;
        const auto read =
            x11::readClipboard(type.toStdString(), (long long)ImageIO::kMaxImageFileBytes, until);
        switch (read.outcome) {
            case Outcome::Read:
                return read.fd;
            case Outcome::TooLarge:
                why = "The picture offered is too large to be an image that can be opened.";
                return -1;
            case Outcome::TooSlow:
                why = "The program offering the picture took too long to hand it over.";
                return -1;
            case Outcome::NotOffered:
                why = "The program offering the picture did not hand it over.";
                return -1;
            case Outcome::NoDisplay:
                break;
        }
    }
    const QByteArray bytes = m.data(type);
    if (size_t(bytes.size()) > ImageIO::kMaxImageFileBytes) {
        why = "The picture offered is too large to be an image that can be opened.";
        return -1;
    }
    const int fd = ::memfd_create("kadrix-offered", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    for (qsizetype done = 0; fd >= 0 && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            why = "The picture could not be held: " + std::string(std::strerror(errno)) + ".";
            return -1;
        }
        done += n;
    }
    if (fd < 0) why = "The picture could not be held: " + std::string(std::strerror(errno)) + ".";
    return fd;
}

// The picture among the image types offered, tried in the order this
// program prefers (PNG first: lossless, with alpha; then the others as
// offered) while the one wait a decode may take lasts: one picture offered
// under many types costs no more than one.
Image imageOf(const QMimeData& m, bool fromOwner, std::string* why) {
    QStringList types;
    for (const QString& f : m.formats())
        if (f.startsWith("image/")) types.insert(f == "image/png" ? 0 : types.size(), f);
    const Clock::time_point until = Clock::now() + ImageIO::decodeTimeLimit();
    std::string reason;
    for (const QString& type : types) {
        if (Clock::now() >= until) break;
        const int fd = offeredBytes(m, type, fromOwner, until, reason);
        if (fd < 0) continue;
        Image img = ImageIO::decodeHeld(fd, until, 1.0, &reason);
        ::close(fd);
        if (!img.isNull()) return img;
    }
    if (types.empty() && m.hasImage()) return qt::toImage(qvariant_cast<QImage>(m.imageData()));
    if (why) *why = types.empty() ? "No picture is offered." : reason;
    return {};
}

}  // namespace

namespace qt {

Image imageOf(const QMimeData& m) {
    return kit::imageOf(m, false, nullptr);
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
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    if (!m) {
        if (why) *why = "The clipboard cannot be read.";
        return {};
    }
    const bool fromOwner = !cb->ownsClipboard() && QGuiApplication::platformName() == "xcb";
    if (Image img = imageOf(*m, fromOwner, why); !img.isNull()) return img;
    for (const QUrl& u : m->urls()) {
        if (!u.isLocalFile()) continue;
        if (Image img = ImageIO::read(u.toLocalFile().toStdString(), 1.0, why); !img.isNull()) return img;
    }
    return {};
}

// Asked each time a menu opens: it looks at the types offered and at a
// file's head, never decodes. A picture that then fails to decode is told
// when it is read.
bool Pasteboard::hasImage() const {
    QClipboard* cb = clipboard();
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    if (!m) return false;
    if (m->hasImage()) return true;
    for (const QString& f : m->formats())
        if (f.startsWith("image/")) return true;
    for (const QUrl& u : m->urls())
        if (u.isLocalFile() && ImageIO::refusalOf(u.toLocalFile().toStdString()).empty()) return true;
    return false;
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
