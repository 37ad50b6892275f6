#include "library/LibViewText.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <locale>
#include <sstream>

namespace library {

namespace {

// Rounds to nearest, halves away from zero.
int64_t roundHalfAway(double v) {
    return int64_t(std::llround(v));
}

std::string trim(const std::string& s) {
    const char* ws = " \t\n\r\f\v";
    size_t a = s.find_first_not_of(ws);
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(ws);
    return s.substr(a, b - a + 1);
}

}  // namespace

std::string formatCount(int64_t n) {
    // One formatter for the process, made on first use.
    static const std::locale user = [] {
        try {
            return std::locale("");
        } catch (const std::exception&) {
            return std::locale::classic();
        }
    }();
    std::ostringstream out;
    out.imbue(user);
    out << n;
    std::string text = out.str();
    return text.empty() ? std::to_string(n) : text;
}

std::string imagesText(int64_t n) {
    return formatCount(n) + " image" + (n == 1 ? "" : "s");
}

std::string statusDate(int64_t ts) {
    static constexpr std::array<const char*, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t t = std::time_t(ts);
    std::tm tm{};
    localtime_r(&t, &tm);
    int hour = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    char minutes[3];
    std::snprintf(minutes, sizeof minutes, "%02d", tm.tm_min);
    return std::string(months[size_t(tm.tm_mon)]) + " " + std::to_string(tm.tm_mday) + ", " +
           std::to_string(tm.tm_year + 1900) + " at " + std::to_string(hour) + ":" + minutes +
           (tm.tm_hour < 12 ? "am" : "pm");
}

std::string statusSize(int64_t bytes) {
    constexpr int64_t kMiB = 1048576;
    if (bytes <= 0) return {};
    if (bytes <= kMiB) return ", " + std::to_string(roundHalfAway(double(bytes) / 1024)) + "kb";
    int64_t tenths = roundHalfAway(double(bytes) * 10 / double(kMiB));
    return ", " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "mb";
}

std::string selectedStatus(int64_t ts, int64_t bytes) {
    return "1 image (" + statusDate(ts) + statusSize(bytes) + ")";
}

std::string normalizeToolTitle(const std::string& title) {
    std::string s = title;
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const std::string word = "capture";
    for (size_t at = s.find(word); at != std::string::npos; at = s.find(word, at)) s.erase(at, word.size());
    return trim(s);
}

kit::Size popoverSize(const std::string& sizeSetting, double visibleHeight, double chrome) {
    kit::Size size{380, 580};
    if (sizeSetting != "small") size = {560, std::max(visibleHeight - 100, 580.0)};
    // On a screen lower than that (a small one, or a large scale) the
    // popover is as high as the screen, never higher: its status line and
    // buttons stay within reach.
    if (visibleHeight > chrome) size.height = std::min(size.height, visibleHeight - chrome);
    return size;
}

Visibility visibilityFor(const VisibilityInput& in) {
    Visibility v;
    if (!in.enabled) {
        v.message = in.bigMessage;
        v.status = false;
        return v;
    }
    bool haveEntries = in.visibleCount > 0;
    // Outside a run the progress area holds only the offer to add new files.
    bool offer = in.queued > 0 && haveEntries && in.offerAllowed;
    v.spinner = in.loading;
    if (in.bigMessage) {
        v.message = true;
        v.search = !in.indexing && haveEntries && !in.loading;
        v.progress = !in.indexing && offer;
        v.status = false;
    } else if (in.loading) {
        v.progress = !in.indexing && offer;
        v.status = false;
    } else {
        v.gallery = haveEntries;
        v.search = !in.indexing && haveEntries;
        v.progress = !in.indexing && offer;
        if (in.indexing) v.status = false;
    }
    return v;
}

std::optional<kit::Rect> quickLookFrame(kit::Size imageSize, const kit::Rect& visible,
                                        const std::optional<kit::Rect>& sender) {
    if (imageSize.width <= 0 || imageSize.height <= 0 || visible.width() <= 0 || visible.height() <= 0)
        return std::nullopt;
    double right = sender ? sender->minX() : visible.maxX();
    double top = sender ? std::min(sender->maxY(), visible.maxY()) : visible.maxY();
    double maxHeight = top - visible.minY() - 50;
    double width = std::min({right - visible.minX() - 40, 1200.0, imageSize.width});
    // No room beside the popover (it stands at the screen's left edge, or is
    // too low): the panel goes to the middle of the screen instead.
    if (sender && (width < 1 || maxHeight < 1)) return quickLookFrame(imageSize, visible, std::nullopt);
    width = std::max(1.0, width);
    maxHeight = std::max(1.0, maxHeight);
    double ratio = imageSize.width / imageSize.height;
    double height = double(roundHalfAway(width / ratio));
    if (height > maxHeight) {
        width = std::max(1.0, double(roundHalfAway(ratio * maxHeight)));
        height = maxHeight;
    }
    height = std::max(1.0, height);
    if (sender) return kit::Rect(sender->minX() - width - 16, top - height - 30, width, height);
    return kit::Rect(visible.midX() - width / 2, visible.midY() - height / 2, width, height);
}

std::optional<int> reselectAfterDelete(int anchor, int deleted, int remaining) {
    if (remaining <= 0) return std::nullopt;
    int index = std::max(0, anchor - deleted + 1);
    return std::min(index, remaining - 1);
}

bool isTypingKey(const std::string& c) {
    if (c.empty()) return false;
    auto all = [&](auto pred) { return std::all_of(c.begin(), c.end(), pred); };
    // Bytes above 0x7F are parts of letters of other scripts.
    if (all([](unsigned char ch) { return ch >= 0x80 || std::isalnum(ch); })) return true;
    if (all([](unsigned char ch) { return ch < 0x80 && std::ispunct(ch); })) return true;
    return all([](unsigned char ch) { return ch == ' ' || ch == '\t'; });
}

}  // namespace library
