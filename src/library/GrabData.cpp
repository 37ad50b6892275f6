#include "library/GrabData.h"

#include <charconv>
#include <mutex>

#include "imaging/ColorMagic.h"
#include "kit/TextCase.h"

namespace library {

namespace {

std::mutex& folderLock() {
    static std::mutex m;
    return m;
}

std::string& folderText() {
    static std::string text;
    return text;
}

}  // namespace

void setLibFolderText(const std::string& folder) {
    std::lock_guard<std::mutex> g(folderLock());
    folderText() = folder;
}

std::string libFolderText() {
    std::lock_guard<std::mutex> g(folderLock());
    return folderText();
}

bool isSafeFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

int64_t GrabData::intValue(const std::string& key) const {
    auto it = content.find(key);
    std::string text = it == content.end() ? "0" : it->second;
    const char* b = text.data();
    const char* e = b + text.size();
    if (b != e && *b == '+') ++b;  // from_chars takes "-" but not "+"
    if (b == e || (*b == '-' && b + 1 == e)) return 0;
    if (b != text.data() && *b == '-') return 0;  // "+-3"
    int64_t v = 0;
    auto [end, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || end != e) return 0;
    return v;
}

int64_t GrabData::ts() {
    if (!ts_) ts_ = intValue("ts");
    return *ts_;
}

void GrabData::setTs(int64_t value) {
    content["ts"] = std::to_string(value);
    ts_ = value;
}

int64_t GrabData::gone() {
    if (!gone_) gone_ = intValue("gone");
    return *gone_;
}

void GrabData::setGone(int64_t value) {
    content["gone"] = std::to_string(value);
    gone_ = value;
}

std::optional<std::string> GrabData::fileURL() {
    if (fileURL_) return fileURL_;
    std::string folder = libFolderText();
    if (folder.empty()) return std::nullopt;
    auto it = content.find("filename");
    std::string name = it == content.end() ? std::string() : it->second;
    if (!isSafeFileName(name)) return std::nullopt;
    fileURL_ = (folder.back() == '/' ? folder : folder + "/") + name;
    return fileURL_;
}

std::vector<std::string> GrabData::colors() const {
    auto it = content.find("colors");
    if (it == content.end() || it->second.empty()) return {};
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t comma = it->second.find(',', start);
        out.push_back(it->second.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

void GrabData::setColors(const std::vector<std::string>& list) {
    std::string joined;
    for (size_t i = 0; i < list.size(); ++i) joined += (i ? "," : "") + list[i];
    content["colors"] = joined;
}

std::optional<LibObject> GrabData::buildLibObject() {
    auto path = fileURL();
    if (!path) return std::nullopt;
    auto base = content.find("basecolor");
    return LibObject{*path, intValue("width"), intValue("height"),
                     imaging::ColorMagic::hex2cg(base == content.end() ? "" : base->second, 1.0)};
}

std::optional<LibObject> GrabData::libObject() {
    if (gone() >= 1) return std::nullopt;
    if (libObject_) return libObject_;
    libObject_ = buildLibObject();
    return libObject_;
}

void GrabData::refreshLibObject() {
    if (auto fresh = buildLibObject()) libObject_ = fresh;
}

const std::string& GrabData::foldedOcr() {
    if (!foldedOcr_) {
        auto it = content.find("ocr");
        foldedOcr_ = it == content.end() ? std::string() : kit::caseFolded(it->second);
    }
    return *foldedOcr_;
}

void GrabData::invalidateCaches() {
    foldedOcr_.reset();
    fileURL_.reset();
    ts_.reset();
    gone_.reset();
    libObject_.reset();
}

}  // namespace library
