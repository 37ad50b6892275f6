#include "kit/image/Thumbnails.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "kit/base/Files.h"
#include "kit/base/Http.h"
#include "kit/base/qt/QtImage.h"
#include "kit/image/ImageIO.h"

namespace fs = std::filesystem;

namespace kit::thumbnails {

namespace {

constexpr const char* kUriKey = "Thumb::URI";
constexpr const char* kMTimeKey = "Thumb::MTime";

constexpr Flavor kFlavors[] = {Flavor::Normal, Flavor::Large, Flavor::XLarge, Flavor::XXLarge};

// Strict whole-number text: what other programs write for MTime.
std::optional<int64_t> wholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string folderPath(const std::string& root, Flavor f) {
    return root + "/" + folderOf(f);
}

bool writePng(const std::string& folder, const std::string& file, const Image& image,
              const ImageIO::TextChunks& text) {
    if (!files::makeDirs(folder, 0700)) return false;
    const ImageIO::Bytes png = ImageIO::encodePNG(image, text);
    if (png.empty()) return false;
    // A cache: a crash may lose a thumbnail, never leave half of one, so
    // the rename suffices and the disk need not be flushed for each.
    return files::writeAtomic(folder + "/" + file,
                              std::string_view(reinterpret_cast<const char*>(png.data()), png.size()), 0600,
                              nullptr, false);
}

ImageIO::TextChunks stamp(const std::string& path, int64_t mtime) {
    return {
        {kUriKey, fileUri(path)}, {kMTimeKey, std::to_string(mtime)}, {"Software", "Kadrix " KADRIX_VERSION}};
}

// Whether a thumbnail's chunks name this file at this time. Read from the
// decoded image: the reader's own text lookup splits keys at their first
// colon, which every "Thumb::" key has.
bool matches(const QImage& thumb, const std::string& path, int64_t mtime) {
    const std::string uri = thumb.text(kUriKey).toStdString();
    const auto time = wholeNumber(thumb.text(kMTimeKey).toStdString());
    return uri == fileUri(path) && time == mtime;
}

}  // namespace

int pixelsOf(Flavor f) {
    return 128 << int(f);
}

const char* folderOf(Flavor f) {
    switch (f) {
        case Flavor::Normal:
            return "normal";
        case Flavor::Large:
            return "large";
        case Flavor::XLarge:
            return "x-large";
        case Flavor::XXLarge:
            return "xx-large";
    }
    return "normal";
}

Flavor flavorFor(int pixelSize) {
    for (Flavor f : kFlavors)
        if (pixelSize <= pixelsOf(f)) return f;
    return Flavor::XXLarge;
}

std::string defaultRoot() {
    if (const char* home = std::getenv("KADRIX_HOME"); home && *home)
        return std::string(home) + "/cache/thumbnails";
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        return std::string(cache) + "/thumbnails";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.cache/thumbnails";
}

std::string failFolderName() {
    return "kadrix-" KADRIX_VERSION;
}

std::string fileUri(const std::string& path) {
    std::error_code ec;
    std::string abs = fs::absolute(fs::path(path), ec).lexically_normal().string();
    if (ec) abs = path;
    while (abs.size() > 1 && abs.back() == '/') abs.pop_back();
    // Path characters stay as they are, as the other programs write them.
    return "file://" + http::urlEncode(abs, "!$&'()*+,;=:@/");
}

std::string fileNameFor(const std::string& uri) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(uri), QCryptographicHash::Md5).toHex();
    return digest.toStdString() + ".png";
}

std::string pathFor(const std::string& root, Flavor f, const std::string& path) {
    return folderPath(root, f) + "/" + fileNameFor(fileUri(path));
}

std::string failPathFor(const std::string& root, const std::string& path) {
    return root + "/fail/" + failFolderName() + "/" + fileNameFor(fileUri(path));
}

std::optional<int64_t> modificationTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return int64_t(st.st_mtime);
}

Lookup read(const std::string& root, Flavor f, const std::string& path, int64_t mtime) {
    const std::string thumbPath = pathFor(root, f, path);
    // Another program's file: checked as every image file is before the
    // toolkit reads it (its texts too), and nothing larger than its size
    // folder promises.
    if (!files::exists(thumbPath) || !ImageIO::refusalOf(thumbPath).empty()) return {};
    QImageReader reader(QString::fromStdString(thumbPath), "png");
    const QSize size = reader.size();
    if (!size.isValid() || std::max(size.width(), size.height()) > pixelsOf(f)) return {};
    QImage q;
    if (!reader.read(&q)) return {};
    if (!matches(q, path, mtime)) return {Lookup::State::Stale, {}};
    Image image = qt::toImage(q);
    if (image.isNull()) return {};
    return {Lookup::State::Fresh, image};
}

bool write(const std::string& root, Flavor f, const std::string& path, int64_t mtime, const Image& thumb,
           int originalWidth, int originalHeight) {
    if (thumb.isNull() || std::max(thumb.width(), thumb.height()) > pixelsOf(f)) return false;
    ImageIO::TextChunks text = stamp(path, mtime);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) text["Thumb::Size"] = std::to_string(int64_t(st.st_size));
    if (originalWidth > 0 && originalHeight > 0) {
        text["Thumb::Image::Width"] = std::to_string(originalWidth);
        text["Thumb::Image::Height"] = std::to_string(originalHeight);
    }
    return writePng(folderPath(root, f), fileNameFor(fileUri(path)), thumb, text);
}

bool writeFailure(const std::string& root, const std::string& path, int64_t mtime) {
    Image marker(1, 1);
    return writePng(root + "/fail/" + failFolderName(), fileNameFor(fileUri(path)), marker,
                    stamp(path, mtime));
}

bool hasFailure(const std::string& root, const std::string& path, int64_t mtime) {
    const std::string failPath = failPathFor(root, path);
    if (!files::exists(failPath) || !ImageIO::refusalOf(failPath).empty()) return false;
    QImageReader reader(QString::fromStdString(failPath), "png");
    QImage marker;
    return reader.read(&marker) && matches(marker, path, mtime);
}

void removeAll(const std::string& root, const std::string& path) {
    for (Flavor f : kFlavors) ::unlink(pathFor(root, f, path).c_str());
    ::unlink(failPathFor(root, path).c_str());
}

Image decodeScaled(const std::string& path, int maxPixels, std::string* error, int* width, int* height) {
    Size original;
    Image thumb = ImageIO::readScaled(path, maxPixels, error, &original);
    if (thumb.isNull()) return {};
    if (width) *width = int(original.width);
    if (height) *height = int(original.height);
    return thumb;
}

Image fitWithin(const Image& image, int maxPixels) {
    const int longer = std::max(image.width(), image.height());
    if (image.isNull() || maxPixels <= 0 || longer <= maxPixels) return image;
    const double k = double(maxPixels) / longer;
    const int w = std::max(1, int(std::lround(image.width() * k)));
    const int h = std::max(1, int(std::lround(image.height() * k)));
    return image.scaled(w, h, ScaleQuality::High);
}

}  // namespace kit::thumbnails
