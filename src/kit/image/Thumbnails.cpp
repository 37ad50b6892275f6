#include "kit/image/Thumbnails.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QString>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "kit/base/Files.h"
#include "kit/base/Http.h"
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

// Whether a thumbnail's texts name this file at this time.
bool matches(const ImageIO::TextChunks& texts, const std::string& path, int64_t mtime) {
    const auto text = [&](const char* key) {
        auto it = texts.find(key);
        return it == texts.end() ? std::string() : it->second;
    };
    return text(kUriKey) == fileUri(path) && wholeNumber(text(kMTimeKey)) == mtime;
}

// Another program's thumbnail, decoded as every picture from outside is,
// with its texts; none larger than `maxSide` by its header is decoded, and
// the pixels must be the size the header gave (the file may change meanwhile).
std::optional<Image> readThumbnail(const std::string& file, int maxSide, ImageIO::TextChunks& texts) {
    if (!files::exists(file) || !ImageIO::refusalOf(file).empty()) return std::nullopt;
    const Size size = ImageIO::pixelSize(file);
    if (size.width <= 0 || size.height <= 0 || std::max(size.width, size.height) > maxSide)
        return std::nullopt;
    Image image = ImageIO::readWithTexts(file, texts);
    if (image.isNull() || image.width() != int(size.width) || image.height() != int(size.height))
        return std::nullopt;
    return image;
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
    ImageIO::TextChunks texts;
    auto image = readThumbnail(pathFor(root, f, path), pixelsOf(f), texts);
    if (!image) return {};
    if (!matches(texts, path, mtime)) return {Lookup::State::Stale, {}};
    return {Lookup::State::Fresh, *image};
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
    ImageIO::TextChunks texts;
    return readThumbnail(failPathFor(root, path), pixelsOf(Flavor::Normal), texts) &&
           matches(texts, path, mtime);
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
