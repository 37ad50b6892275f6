#include "controls/ImageAssets.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "kit/base/Displays.h"
#include "kit/image/SvgImage.h"

namespace controls::ImageAssets::detail {
extern const std::pair<const char*, const char*> kIcons[];
extern const std::size_t kIconCount;
}  // namespace controls::ImageAssets::detail

namespace controls::ImageAssets {

namespace {

// The drawings use one ink for everything that follows the appearance; the
// coloured pictures (notifications, cursors, the drag file) do not use it.
constexpr const char* kInk = "#2B2B2E";
constexpr const char* kInkOnDark = "#ECECEE";
// The highlighted form of an icon draws its ink in the program's accent.
constexpr const char* kAccent = "#F2401F";
constexpr const char* kHighlightSuffix = "-hl";

// Library tool icons are the menu drawings at a larger size.
struct Alias {
    const char* source;
    double size;
};
const std::map<std::string, Alias>& aliases() {
    static const std::map<std::string, Alias> a = {
        {"lib-tool-28-area", {"16-menu-area", 28}},
        {"lib-tool-28-clipboard", {"16-menu-clipboard", 28}},
        {"lib-tool-28-fullscreen", {"16-menu-screen", 28}},
        {"lib-tool-28-kadrix", {"16-menu-kadrix", 28}},
        {"lib-tool-28-more", {"16-menu-more", 28}},
        {"lib-tool-28-ocr", {"16-menu-ocr", 28}},
        {"lib-tool-28-repeat", {"16-repeat", 28}},
        {"lib-tool-28-scrolldown", {"16-menu-scrolling", 28}},
        {"lib-tool-28-scrollup", {"16-menu-scrolling-up", 28}},
        {"lib-tool-28-window", {"16-menu-window", 28}},
    };
    return a;
}

const char* source(const std::string& name) {
    for (std::size_t i = 0; i < detail::kIconCount; ++i)
        if (name == detail::kIcons[i].first) return detail::kIcons[i].second;
    return nullptr;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// What to draw for a name: the SVG text with its ink set, and its point size.
struct Drawing {
    std::string svg;
    std::optional<double> size;  // square size in points, else the document's own
};

std::optional<Drawing> drawingFor(const std::string& name, bool dark) {
    std::string base = name;
    bool highlighted = endsWith(name, kHighlightSuffix);
    if (highlighted) base = name.substr(0, name.size() - std::string(kHighlightSuffix).size());
    std::optional<double> size;
    if (auto it = aliases().find(base); it != aliases().end()) {
        size = it->second.size;
        base = it->second.source;
    }
    const char* text = source(base);
    if (!text) return std::nullopt;
    std::string ink = highlighted ? kAccent : (dark ? kInkOnDark : kInk);
    return Drawing{replaced(text, kInk, ink), size};
}

std::mutex& lock() {
    static std::mutex m;
    return m;
}

std::map<std::string, kit::Image>& registered() {
    static std::map<std::string, kit::Image> t;
    return t;
}

std::map<std::string, kit::Image>& rendered() {
    static std::map<std::string, kit::Image> t;
    return t;
}

std::string cacheKey(const std::string& name, Look look) {
    return name + (look.dark ? "|dark|" : "|light|") + std::to_string(look.scale);
}

}  // namespace

Look currentLook() {
    double scale = 1.0;
    for (const auto& d : kit::Displays::all()) scale = std::max(scale, d.scale);
    return {kit::applicationIsDark(), scale};
}

kit::Image named(const std::string& name) {
    return named(name, currentLook());
}

kit::Image named(const std::string& name, Look look) {
    if (look.scale <= 0) look.scale = 1.0;
    std::string key = cacheKey(name, look);
    {
        std::lock_guard<std::mutex> guard(lock());
        if (auto it = registered().find(name); it != registered().end()) return it->second;
        if (auto it = rendered().find(key); it != rendered().end()) return it->second;
    }
    auto drawing = drawingFor(name, look.dark);
    if (!drawing) return {};
    kit::Size size = drawing->size ? kit::Size{*drawing->size, *drawing->size} : kit::svgSize(drawing->svg);
    kit::Image image = kit::renderSvg(drawing->svg, size, look.scale);
    if (image.isNull()) return {};
    std::lock_guard<std::mutex> guard(lock());
    rendered()[key] = image;
    return image;
}

void set(const std::string& name, const kit::Image& image) {
    std::lock_guard<std::mutex> guard(lock());
    if (image.isNull())
        registered().erase(name);
    else
        registered()[name] = image;
}

std::vector<std::string> names() {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < detail::kIconCount; ++i) out.emplace_back(detail::kIcons[i].first);
    for (const auto& [name, alias] : aliases()) out.push_back(name);
    // Every picture that can be armed or hovered has its highlighted form.
    std::vector<std::string> highlighted;
    for (const auto& n : out)
        if (n.rfind("20-", 0) == 0 || n.rfind("lib-tool-28-", 0) == 0)
            highlighted.push_back(n + kHighlightSuffix);
    out.insert(out.end(), highlighted.begin(), highlighted.end());
    // Drawing sources that are not pictures of their own.
    std::erase(out, std::string("16-repeat"));
    std::erase(out, std::string("20-more-overlay-hl"));
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace controls::ImageAssets
