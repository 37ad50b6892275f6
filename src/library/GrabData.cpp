#include "library/GrabData.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "imaging/ColorMagic.h"
#include "kit/base/TextCase.h"

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
    facetKeys_.reset();
    sealedLine.reset();
}

int64_t GrabData::gone() {
    if (!gone_) gone_ = intValue("gone");
    return *gone_;
}

void GrabData::setGone(int64_t value) {
    content["gone"] = std::to_string(value);
    gone_ = value;
    sealedLine.reset();
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
        out.push_back(
            it->second.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

void GrabData::setColors(const std::vector<std::string>& list) {
    std::string joined;
    for (size_t i = 0; i < list.size(); ++i) joined += (i ? "," : "") + list[i];
    content["colors"] = joined;
    sealedLine.reset();
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
        if (it == content.end()) {
            foldedOcr_ = std::string();
        } else if (std::all_of(it->second.begin(), it->second.end(),
                               [](char c) { return uint8_t(c) < 0x80; })) {
            // Plain ASCII folds letter by letter, far faster than the general way.
            std::string folded = it->second;
            for (char& c : folded)
                if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
            foldedOcr_ = std::move(folded);
        } else {
            foldedOcr_ = kit::caseFolded(it->second);
        }
    }
    return *foldedOcr_;
}

const GrabData::FacetKeys& GrabData::facetKeys() {
    if (facetKeys_) return *facetKeys_;
    auto text = [this](const char* key) {
        auto it = content.find(key);
        return it == content.end() ? std::string() : it->second;
    };
    FacetKeys k;
    std::time_t t = std::time_t(ts());
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d", tm.tm_year + 1900, tm.tm_mon + 1);
    k.month = buf;
    for (char c : text("objects"))
        if (k.objects.find(c) == std::string::npos) k.objects += c;
    k.mode = text("mode");
    k.app = text("app");
    const std::string domains = text("domains");
    for (size_t start = 0;;) {
        size_t nl = std::min(domains.find('\n', start), domains.size());
        std::string piece = domains.substr(start, nl - start);
        if (std::find(k.domains.begin(), k.domains.end(), piece) == k.domains.end())
            k.domains.push_back(piece);
        if (nl == domains.size()) break;
        start = nl + 1;
    }
    facetKeys_ = std::move(k);
    return *facetKeys_;
}

void GrabData::invalidateCaches() {
    foldedOcr_.reset();
    facetKeys_.reset();
    fileURL_.reset();
    ts_.reset();
    gone_.reset();
    libObject_.reset();
    sealedLine.reset();
}

}  // namespace library
