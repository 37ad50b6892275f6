#include "backdrop/CustomImages.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "services/Telemetry.h"

namespace backdrop {

namespace {

constexpr const char* kPrefix = "backdrop-";
constexpr const char* kThumbSuffix = "-thumb.jpg";

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string thumbName(const std::string& name) {
    return name.substr(0, name.size() - 4) + kThumbSuffix;
}

// A name no earlier picture has: the time in milliseconds, counted up past
// any file already there.
std::string freshName(const std::string& dir) {
    long long stamp = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    for (;; ++stamp) {
        std::string name = kPrefix + std::to_string(stamp) + ".jpg";
        if (!kit::files::exists(dir + "/" + name)) return name;
    }
}

}  // namespace

std::optional<std::string> saveImageAsJPEG(const kit::Image& image, const std::string& name,
                                           const std::string& folder, double quality) {
    const char* function = "saveImageAsJPEG(image:name:folder:quality:)";
    if (!kit::files::isDirectory(folder)) {
        services::Telemetry::shared().oops(function, "Folder doesn't exist");
        return std::nullopt;
    }
    const kit::ImageIO::Bytes data = kit::ImageIO::encodeJPEG(image, quality);
    const std::string path = folder + "/" + name;
    if (data.empty()) return std::nullopt;
    std::string error;
    if (!kit::files::writeAtomic(path, {reinterpret_cast<const char*>(data.data()), data.size()}, 0644,
                                 &error)) {
        services::Telemetry::shared().oops(function, "Save error " + error);
        return std::nullopt;
    }
    return path;
}

std::string CustomImages::folder() {
    const std::string dir = kit::files::dataDir() + "/backdrops";
    kit::files::makeDirs(dir);
    return dir;
}

bool CustomImages::validName(const std::string& name) {
    if (name.size() < 14 || name.rfind(kPrefix, 0) != 0 || !endsWith(name, ".jpg") ||
        endsWith(name, kThumbSuffix))
        return false;
    return std::all_of(name.begin(), name.end(),
                       [](char ch) {
                           return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || ch == '-' ||
                                  ch == '.';
                       }) &&
           name.find("..") == std::string::npos;
}

StoreResult CustomImages::store(const std::string& file) {
    std::string error;
    const kit::Image image = kit::ImageIO::read(file, 1.0, &error);
    if (image.isNull()) return {std::nullopt, error.empty() ? "The file is not a picture." : error};
    const std::string dir = folder();
    const std::string name = freshName(dir);
    if (!saveImageAsJPEG(image, name, dir, 0.9)) return {std::nullopt, "The picture could not be stored."};
    const double f = double(kThumbnailSide) / std::max(image.width(), image.height());
    const kit::Image thumb = f < 1 ? image.scaled(std::max(1, int(std::lround(image.width() * f))),
                                                  std::max(1, int(std::lround(image.height() * f))))
                                   : image;
    saveImageAsJPEG(thumb, thumbName(name), dir, 0.8);
    return {name, {}};
}

std::vector<std::string> CustomImages::list() {
    std::vector<std::string> names;
    if (auto entries = kit::files::listFolder(folder()))
        for (const std::string& e : *entries)
            if (validName(e)) names.push_back(e);
    // The names carry their time of storing, so sorting them sorts by age.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

kit::Image CustomImages::load(const std::string& name, std::string* error) {
    if (!validName(name)) {
        if (error) *error = "The backdrop picture's name is not valid.";
        return {};
    }
    return kit::ImageIO::readOwn(folder() + "/" + name, 1.0, error);
}

kit::Image CustomImages::thumbnail(const std::string& name) {
    if (!validName(name)) return {};
    kit::Image thumb = kit::ImageIO::readOwn(folder() + "/" + thumbName(name));
    return thumb.isNull() ? load(name) : thumb;
}

bool CustomImages::remove(const std::string& name) {
    if (!validName(name)) return false;
    const std::string dir = folder();
    if (!kit::files::exists(dir + "/" + name)) return false;
    kit::files::remove(dir + "/" + thumbName(name));
    return kit::files::remove(dir + "/" + name);
}

}  // namespace backdrop
