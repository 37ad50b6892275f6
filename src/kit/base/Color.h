#pragma once
// An sRGB colour with components in 0…1 (not premultiplied).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kit {

struct Color {
    double r = 0, g = 0, b = 0, a = 1;
    friend bool operator==(const Color&, const Color&) = default;

    static Color rgb(int r, int g, int b, double a = 1) { return {r / 255.0, g / 255.0, b / 255.0, a}; }
    static Color white(double w, double a = 1) { return {w, w, w, a}; }
    static Color clear() { return {0, 0, 0, 0}; }
    static Color black() { return {0, 0, 0, 1}; }

    Color withAlpha(double alpha) const { return {r, g, b, alpha}; }
    // 8-bit components, rounded half away from zero and clamped.
    int red8() const;
    int green8() const;
    int blue8() const;
    int alpha8() const;

    // "#RRGGBB" upper-case; "#RRGGBBAA" when withAlpha.
    std::string hex(bool withAlpha = false) const;
    // Accepts "RGB", "RRGGBB", "RRGGBBAA" with or without '#'; nothing else.
    static std::optional<Color> fromHex(std::string_view text);
};

}  // namespace kit
