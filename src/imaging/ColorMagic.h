#pragma once
// Dominant colours of an image or of a list of stored colours, and the
// #RRGGBB texts colours are stored as.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Image.h"

namespace imaging {

class ColorMagic {
public:
    struct RGB {
        uint8_t R = 0, G = 0, B = 0;
        friend bool operator==(const RGB&, const RGB&) = default;
    };

    // A count per distinct colour, kept in the order colours were first added.
    class CountedSet {
    public:
        explicit CountedSet(size_t capacity = 0);
        void add(RGB c);
        size_t count(RGB c) const;
        size_t size() const { return colors_.size(); }
        const std::vector<RGB>& colors() const { return colors_; }
        size_t countAt(size_t i) const { return counts_[i]; }

    private:
        std::vector<uint32_t> slots_;  // open addressing: key + 1, 0 is empty
        std::vector<uint32_t> slotIndex_;
        std::vector<RGB> colors_;
        std::vector<size_t> counts_;
        size_t find(uint32_t key) const;
        void grow();
    };

    // Up to `count` colours, most frequent first, of the image shrunk to a
    // fifth; near-black, near-white, grey and mostly transparent pixels do
    // not count. Empty on failure.
    static std::vector<kit::Color> dominantColors(const kit::Image& image, int count, int limit);
    static std::vector<kit::Color> dominantColorFrequencies(const CountedSet& colorsCountedSet, int clusters,
                                                            long long area, long long areaThreshold);
    static std::vector<kit::Color> topColors(const std::vector<std::string>& hexes, int clusters);
    static std::string cg2hex(const kit::Color& color);
    static kit::Color hex2cg(std::string_view hex, double alpha);
    // A new image of that size (null when it cannot be made, as for size 0).
    static kit::Image resize(const kit::Image& image, int width, int height);
    static kit::Image resize(const kit::Image& image, double scale);
};

}  // namespace imaging
