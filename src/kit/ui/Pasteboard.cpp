#include "kit/ui/Pasteboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <cmath>

#include "kit/base/qt/QtImage.h"
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

}  // namespace

namespace qt {

Image imageOf(const QMimeData& m) {
    const auto decode = [&](const QString& type) {
        const QByteArray bytes = m.data(type);
        return ImageIO::decode(ImageIO::Bytes(bytes.begin(), bytes.end()));
    };
    if (m.hasFormat("image/png"))
        if (Image img = decode("image/png"); !img.isNull()) return img;
    bool offered = false;
    for (const QString& f : m.formats()) {
        if (!f.startsWith("image/")) continue;
        offered = true;
        if (f == "image/png") continue;
        if (Image img = decode(f); !img.isNull()) return img;
    }
    if (!offered && m.hasImage()) return toImage(qvariant_cast<QImage>(m.imageData()));
    return {};
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

Image Pasteboard::image() const {
    QClipboard* cb = clipboard();
    const QMimeData* m = cb ? cb->mimeData() : nullptr;
    if (!m) return {};
    // PNG first (lossless, keeps alpha), then any other image type offered.
    if (Image img = qt::imageOf(*m); !img.isNull()) return img;
    for (const QUrl& u : m->urls()) {
        if (!u.isLocalFile()) continue;
        if (Image img = ImageIO::read(u.toLocalFile().toStdString()); !img.isNull()) return img;
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
