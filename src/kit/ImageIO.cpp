#include "kit/ImageIO.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cmath>

#include "kit/qt/QtImage.h"

namespace kit::ImageIO {

namespace {

// Qt refuses images above its default allocation limit (256 MB); a
// whole-desktop capture across several high-resolution screens exceeds it.
void raiseAllocationLimit() {
    if (QImageReader::allocationLimit() < kAllocationLimitMB)
        QImageReader::setAllocationLimit(kAllocationLimitMB);
}

Image decodeFrom(QIODevice* dev, double scale) {
    raiseAllocationLimit();
    QImageReader reader(dev);
    reader.setDecideFormatFromContent(true);
    QImage img;
    if (!reader.read(&img) || img.isNull()) return {};
    return qt::toImage(img, scale);
}

QByteArray asQBytes(const Bytes& data) {
    // Read-only view; the bytes outlive every reader made from it here.
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
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
    for (const auto& [key, value] : text)
        writer.setText(QString::fromLatin1(key.data(), qsizetype(key.size())),
                       QString::fromUtf8(value.data(), qsizetype(value.size())));
    if (!writer.write(q)) return {};
    return Bytes(out.begin(), out.end());
}

TextChunks textOf(QIODevice* dev) {
    TextChunks out;
    QImageReader reader(dev, "png");
    if (!reader.canRead()) return out;
    for (const QString& key : reader.textKeys()) out[key.toStdString()] = reader.text(key).toStdString();
    return out;
}

}  // namespace

Image decode(const Bytes& data, double scale) {
    if (data.empty()) return {};
    QByteArray bytes = asQBytes(data);
    QBuffer buf(&bytes);
    if (!buf.open(QIODevice::ReadOnly)) return {};
    return decodeFrom(&buf, scale);
}

Image read(const std::string& path, double scale) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return decodeFrom(&f, scale);
}

Size pixelSize(const std::string& path) {
    raiseAllocationLimit();
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    QSize s = reader.size();
    if (!s.isValid()) return {};
    return {double(s.width()), double(s.height())};
}

Bytes encodePNG(const Image& image, const TextChunks& text) {
    return encode(image, "png", -1, text);
}

Bytes encodeJPEG(const Image& image, double quality) {
    double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 1.0;
    return encode(image, "jpeg", int(std::lround(q * 100)), {});
}

TextChunks pngText(const Bytes& data) {
    if (data.empty()) return {};
    QByteArray bytes = asQBytes(data);
    QBuffer buf(&bytes);
    if (!buf.open(QIODevice::ReadOnly)) return {};
    return textOf(&buf);
}

TextChunks readPNGText(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return textOf(&f);
}

}  // namespace kit::ImageIO
