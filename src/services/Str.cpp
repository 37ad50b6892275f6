#include "services/Str.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "kit/base/Crypto.h"

namespace services {

namespace {

// Decodes one UTF-8 sequence at `pos`; a malformed byte counts as one character.
char32_t decode(std::string_view s, size_t& pos) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = byte(pos);
    int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
    if (extra == 0) {
        ++pos;
        return c;
    }
    if (extra < 0 || pos + size_t(extra) >= s.size()) {
        ++pos;
        return 0xFFFD;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        unsigned char cc = byte(pos + i);
        if ((cc & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    pos += size_t(extra) + 1;
    return cp;
}

bool between(char32_t c, char32_t lo, char32_t hi) {
    return c >= lo && c <= hi;
}

// Code points that never start a user-perceived character: combining marks,
// joiners, variation selectors, emoji modifiers and tags.
bool extendsCluster(char32_t c) {
    return between(c, 0x0300, 0x036F) || between(c, 0x0483, 0x0489) || between(c, 0x0591, 0x05BD) ||
           between(c, 0x0610, 0x061A) || between(c, 0x064B, 0x065F) || between(c, 0x0900, 0x0903) ||
           between(c, 0x093A, 0x094F) || between(c, 0x0E31, 0x0E3A) || between(c, 0x0E47, 0x0E4E) ||
           between(c, 0x1AB0, 0x1AFF) || between(c, 0x1DC0, 0x1DFF) || c == 0x200C || c == 0x200D ||
           between(c, 0x20D0, 0x20FF) || between(c, 0xFE00, 0xFE0F) || between(c, 0xFE20, 0xFE2F) ||
           between(c, 0x1F3FB, 0x1F3FF) || between(c, 0xE0020, 0xE007F) || between(c, 0xE0100, 0xE01EF);
}
bool regionalIndicator(char32_t c) {
    return between(c, 0x1F1E6, 0x1F1FF);
}

// Splits UTF-8 text into the byte offsets where characters begin (plus the end).
std::vector<size_t> clusterStarts(std::string_view s) {
    std::vector<size_t> starts;
    size_t pos = 0;
    char32_t prev = 0;
    int regionalRun = 0;
    while (pos < s.size()) {
        size_t at = pos;
        char32_t c = decode(s, pos);
        bool joins =
            !starts.empty() && (extendsCluster(c) || prev == 0x200D || (prev == '\r' && c == '\n') ||
                                (regionalIndicator(c) && regionalIndicator(prev) && regionalRun % 2 == 1));
        regionalRun = regionalIndicator(c) ? regionalRun + 1 : 0;
        if (!joins) starts.push_back(at);
        prev = c;
    }
    starts.push_back(s.size());
    return starts;
}

}  // namespace

Bytes Str::sha256(const Bytes& data) {
    kit::crypto::Digest digest = kit::crypto::sha256(std::span<const uint8_t>(data));
    return Bytes(digest.begin(), digest.end());
}

std::string Str::hex(const Bytes& data) {
    return kit::crypto::toHex(data);
}

std::string Str::letters(int64_t number) {
    std::string text;
    if (number < 1) return text;
    while (true) {
        text.insert(text.begin(), char('a' + number % 26));
        number /= 26;
        if (number < 1) break;
    }
    return text;
}

int64_t Str::intFromDigits(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9') digits.push_back(c);
    int64_t value = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) return 0;
    return value;
}

bool Str::isValidUTF8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
        unsigned char c = byte(i);
        int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
        if (extra < 0 || (extra > 0 && i + size_t(extra) >= text.size())) return false;
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (byte(i + k) & 0x3F);
        }
        static const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (cp < smallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += size_t(extra) + 1;
    }
    return true;
}

size_t Str::characterCount(std::string_view text) {
    return clusterStarts(text).size() - 1;
}

std::string Str::substring(const std::string& text, int64_t from, int64_t length) {
    std::vector<size_t> starts = clusterStarts(text);
    int64_t count = int64_t(starts.size()) - 1;
    if (from < 0 || length < 0 || from > count || length > count - from) return text;
    return text.substr(starts[from], starts[from + length] - starts[from]);
}

std::optional<kit::Image> resizeImage(const kit::Image& image, bool quality, double width, double height) {
    constexpr double limit = double(std::numeric_limits<int>::max());
    if (image.isNull() || !std::isfinite(width) || !std::isfinite(height)) return std::nullopt;
    double w = std::trunc(width), h = std::trunc(height);
    if (w < 1 || h < 1 || w > limit || h > limit) return std::nullopt;
    kit::Image out =
        image.scaled(int(w), int(h), quality ? kit::ScaleQuality::Medium : kit::ScaleQuality::None);
    if (out.isNull()) return std::nullopt;
    return out;
}

}  // namespace services
