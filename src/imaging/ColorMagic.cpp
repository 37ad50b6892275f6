#include "imaging/ColorMagic.h"

#include <algorithm>
#include <cmath>

#include "imaging/Diagnostics.h"
#include "imaging/HexText.h"

namespace imaging {

namespace {

constexpr size_t kMaxCandidates = 500;
constexpr double kMergeDistance = 0.2;

struct ColorFrequency {
    kit::Color color;
    double frequency;
};

double distance(const kit::Color& a, const kit::Color& b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

void sortByFrequency(std::vector<ColorFrequency>& list) {
    std::stable_sort(list.begin(), list.end(), [](const ColorFrequency& a, const ColorFrequency& b) {
        return a.frequency > b.frequency;
    });
}

uint32_t keyOf(ColorMagic::RGB c) {
    return (uint32_t(c.R) << 16) | (uint32_t(c.G) << 8) | c.B;
}

uint32_t hashOf(uint32_t key) {
    return key * 2654435761u;
}

}  // namespace

// ---- CountedSet -------------------------------------------------------------

ColorMagic::CountedSet::CountedSet(size_t capacity) {
    size_t n = 64;
    while (n < capacity * 2 && n < (size_t(1) << 25)) n *= 2;
    slots_.assign(n, 0);
    slotIndex_.assign(n, 0);
}

size_t ColorMagic::CountedSet::find(uint32_t key) const {
    const size_t mask = slots_.size() - 1;
    size_t i = hashOf(key) & mask;
    while (slots_[i] != 0 && slots_[i] != key + 1) i = (i + 1) & mask;
    return i;
}

void ColorMagic::CountedSet::grow() {
    std::vector<uint32_t> keys(slots_.size() * 2, 0);
    slots_.swap(keys);
    slotIndex_.assign(slots_.size(), 0);
    for (size_t i = 0; i < colors_.size(); ++i) {
        size_t s = find(keyOf(colors_[i]));
        slots_[s] = keyOf(colors_[i]) + 1;
        slotIndex_[s] = uint32_t(i);
    }
}

void ColorMagic::CountedSet::add(RGB c) {
    const uint32_t key = keyOf(c);
    size_t s = find(key);
    if (slots_[s] != 0) {
        ++counts_[slotIndex_[s]];
        return;
    }
    if ((colors_.size() + 1) * 2 > slots_.size()) {
        grow();
        s = find(key);
    }
    slots_[s] = key + 1;
    slotIndex_[s] = uint32_t(colors_.size());
    colors_.push_back(c);
    counts_.push_back(1);
}

size_t ColorMagic::CountedSet::count(RGB c) const {
    size_t s = find(keyOf(c));
    return slots_[s] != 0 ? counts_[slotIndex_[s]] : 0;
}

// ---- Dominant colours ------------------------------------------------------

kit::Image ColorMagic::resize(const kit::Image& image, int width, int height) {
    if (image.isNull() || width <= 0 || height <= 0) return {};
    return image.scaled(width, height, kit::ScaleQuality::High);
}

kit::Image ColorMagic::resize(const kit::Image& image, double scale) {
    if (image.isNull() || !std::isfinite(scale)) return {};
    return resize(image, int(std::lround(image.width() * scale)), int(std::lround(image.height() * scale)));
}

std::vector<kit::Color> ColorMagic::dominantColors(const kit::Image& image, int count, int limit) {
    kit::Image small = resize(image, 0.2);
    if (small.isNull()) {
        consoleLine("Error while resizing the image");
        return {};
    }
    const long long area = (long long)small.width() * small.height();
    // Room for the colours as they come: a picture has far fewer colours
    // than pixels, and room for every pixel at the cap is a quarter gigabyte.
    CountedSet colors{std::min<size_t>(size_t(area), size_t(1) << 16)};
    Stopwatch timer("Color get");
    for (int y = 0; y < small.height(); ++y) {
        const uint8_t* p = small.row(y);
        for (int x = 0; x < small.width(); ++x, p += 4) {
            const int b = p[0], g = p[1], r = p[2], a = p[3];
            const int sum = r + g + b;
            const int spread = std::max({r, g, b}) - std::min({r, g, b});
            if (a >= 151 && sum >= 49 && sum <= 749 && spread > 10)
                colors.add({uint8_t(r), uint8_t(g), uint8_t(b)});
        }
    }
    timer.log();
    return dominantColorFrequencies(colors, count, area, limit);
}

std::vector<kit::Color> ColorMagic::dominantColorFrequencies(const CountedSet& colorsCountedSet, int clusters,
                                                             long long area, long long areaThreshold) {
    const long long floor = (long long)(double(area) * 0.0001);
    std::vector<ColorFrequency> candidates;
    for (size_t i = 0; i < colorsCountedSet.size(); ++i) {
        if ((long long)colorsCountedSet.countAt(i) <= floor) continue;
        RGB c = colorsCountedSet.colors()[i];
        candidates.push_back({kit::Color::rgb(c.R, c.G, c.B), double(colorsCountedSet.countAt(i))});
    }
    sortByFrequency(candidates);
    if (candidates.size() > kMaxCandidates) candidates.resize(kMaxCandidates);

    // Each candidate joins the nearest cluster when it is close enough (adding
    // one, whatever its own count), or starts a cluster of its own.
    std::vector<ColorFrequency> merged;
    for (const auto& candidate : candidates) {
        ColorFrequency* nearest = nullptr;
        double best = 0;
        for (auto& cluster : merged) {
            double d = distance(cluster.color, candidate.color);
            if (!nearest || d < best) nearest = &cluster, best = d;
        }
        if (!nearest || best >= kMergeDistance)
            merged.push_back(candidate);
        else
            nearest->frequency += 1.0;
    }
    if (clusters >= 0 && merged.size() > size_t(clusters)) merged.resize(size_t(clusters));
    sortByFrequency(merged);
    std::vector<kit::Color> result;
    for (const auto& cluster : merged)
        if (cluster.frequency > double(areaThreshold)) result.push_back(cluster.color);
    return result;
}

std::vector<kit::Color> ColorMagic::topColors(const std::vector<std::string>& hexes, int clusters) {
    CountedSet colors(hexes.size());
    for (const auto& hex : hexes) {
        kit::Color c = hex2cg(hex, 1.0);
        const double r = c.r * 255, g = c.g * 255, b = c.b * 255;
        const double M = std::max({r, g, b}), m = std::min({r, g, b});
        // Black and weakly saturated colours say nothing about a picture.
        if ((M == 0 && m == 0) || (M - m) / (M + m) <= 0.1) continue;
        colors.add({uint8_t(r), uint8_t(g), uint8_t(b)});
    }
    return dominantColorFrequencies(colors, clusters, (long long)hexes.size(), 0);
}

std::string ColorMagic::cg2hex(const kit::Color& color) {
    return hexOfComponents(color, true);
}

kit::Color ColorMagic::hex2cg(std::string_view hex, double alpha) {
    const std::string text = cleanHexText(hex);
    if (text.size() == 6)
        for (char ch : text)
            if (std::string_view("ABCDEF01234567890").find(ch) == std::string_view::npos) consoleLine(text);
    return colorFromHexDigits(text, alpha).value_or(kit::Color::black());
}

}  // namespace imaging
