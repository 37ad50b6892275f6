#include "kit/base/Color.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace kit {

static int to8(double v) {
    return int(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

int Color::red8() const {
    return to8(r);
}
int Color::green8() const {
    return to8(g);
}
int Color::blue8() const {
    return to8(b);
}
int Color::alpha8() const {
    return to8(a);
}

std::string Color::hex(bool withAlpha) const {
    char buf[16];
    if (withAlpha)
        std::snprintf(buf, sizeof buf, "#%02X%02X%02X%02X", red8(), green8(), blue8(), alpha8());
    else
        std::snprintf(buf, sizeof buf, "#%02X%02X%02X", red8(), green8(), blue8());
    return buf;
}

std::optional<Color> Color::fromHex(std::string_view t) {
    if (!t.empty() && t.front() == '#') t.remove_prefix(1);
    if (t.size() != 3 && t.size() != 6 && t.size() != 8) return std::nullopt;
    unsigned v[8];
    for (size_t i = 0; i < t.size(); ++i) {
        char c = char(std::tolower((unsigned char)t[i]));
        if (c >= '0' && c <= '9')
            v[i] = unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            v[i] = unsigned(c - 'a' + 10);
        else
            return std::nullopt;
    }
    if (t.size() == 3) return rgb(int(v[0] * 17), int(v[1] * 17), int(v[2] * 17));
    auto byte = [&](int i) { return int(v[2 * i] * 16 + v[2 * i + 1]); };
    return rgb(byte(0), byte(1), byte(2), t.size() == 8 ? byte(3) / 255.0 : 1.0);
}

}  // namespace kit
