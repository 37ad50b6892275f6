#include "imaging/HexText.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace imaging {

std::string cleanHexText(std::string_view text) {
    std::string s;
    for (char ch : text)
        if (ch != '#') s += char(std::toupper(static_cast<unsigned char>(ch)));
    size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::optional<kit::Color> colorFromHexDigits(std::string_view cleaned, double alpha) {
    if (cleaned.size() != 6) return std::nullopt;
    unsigned v = 0;
    for (char ch : cleaned) {
        int digit;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (ch >= 'A' && ch <= 'F')
            digit = ch - 'A' + 10;
        else
            return std::nullopt;
        v = v * 16 + unsigned(digit);
    }
    return kit::Color{((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0, alpha};
}

std::string hexOfComponents(const kit::Color& c, bool viaFloat) {
    auto byte = [viaFloat](double component) {
        double scaled = viaFloat ? double(float(component * 255)) : component * 255;
        if (!std::isfinite(scaled)) return 0L;
        return std::clamp(std::lround(scaled), 0L, 255L);
    };
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02lX%02lX%02lX", byte(c.r), byte(c.g), byte(c.b));
    return buf;
}

}  // namespace imaging
