#include "backdrop/Templates.h"

#include <cmath>

namespace backdrop {

namespace {

RGBColor hex(unsigned v) {
    return {((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0};
}

bool close(const RGBColor& a, const RGBColor& b) {
    return std::abs(a.r - b.r) < 1e-3 && std::abs(a.g - b.g) < 1e-3 && std::abs(a.b - b.b) < 1e-3;
}

}  // namespace

void Template::applyTo(Config& c) const {
    c.mode = mode;
    c.templateName = name;
    if (mode == "flat") {
        c.flatColor = colors.at(0);
    } else if (mode == "gradient") {
        c.gradientStart = colors.at(0);
        c.gradientEnd = colors.at(1);
        c.angle = angle;
    } else {
        c.meshColors = colors;
        c.meshSeed = seed;
    }
}

bool Template::matches(const Config& c) const {
    if (c.mode != mode) return false;
    if (mode == "flat") return close(c.flatColor, colors[0]);
    if (mode == "gradient") return close(c.gradientStart, colors[0]) && close(c.gradientEnd, colors[1]);
    if (c.meshSeed != seed || c.meshColors.size() != colors.size()) return false;
    for (size_t i = 0; i < colors.size(); ++i)
        if (!close(c.meshColors[i], colors[i])) return false;
    return true;
}

const std::vector<Template>& gradientTemplates() {
    static const std::vector<Template> list = {
        {"Ocean", "gradient", {hex(0x5a78fa), hex(0xd15cd6)}, 135},
        {"Sunrise", "gradient", {hex(0xff8a5c), hex(0xffd36e)}, 90},
        {"Mint", "gradient", {hex(0x43c6ac), hex(0xf8ffae)}, 45},
        {"Dusk", "gradient", {hex(0x2c3e73), hex(0xfd746c)}, 135},
        {"Lagoon", "gradient", {hex(0x1fa2ff), hex(0xa6ffcb)}, 0},
        {"Berry", "gradient", {hex(0x8e2de2), hex(0xff6a88)}, 135},
        {"Steel", "gradient", {hex(0x606c88), hex(0xb8c6db)}, 90},
        {"Forest", "gradient", {hex(0x134e5e), hex(0x71b280)}, 45},
    };
    return list;
}

const std::vector<Template>& meshTemplates() {
    static const std::vector<Template> list = {
        {"Coral", "mesh", {hex(0xfa8f6b), hex(0x6b85fa), hex(0x8cdbc7), hex(0xf5d173)}, 0, 1},
        {"Aurora", "mesh", {hex(0x1b2a6b), hex(0x2ee6a8), hex(0x7b4bd9), hex(0x0e8fd6)}, 0, 7},
        {"Peach", "mesh", {hex(0xffc3a0), hex(0xffafbd), hex(0xfde2c0), hex(0xe7a8d8)}, 0, 3},
        {"Lime", "mesh", {hex(0xd4fc79), hex(0x96e6a1), hex(0x5ec8c0), hex(0xf9f586)}, 0, 5},
        {"Night", "mesh", {hex(0x0f0c29), hex(0x302b63), hex(0x24243e), hex(0x6a3093)}, 0, 11},
        {"Candy", "mesh", {hex(0xff9a9e), hex(0xa18cd1), hex(0xfbc2eb), hex(0x84fab0)}, 0, 13},
    };
    return list;
}

const std::vector<Template>& solidTemplates() {
    static const std::vector<Template> list = {
        {"Cloud", "flat", {hex(0xe8ebf0)}},    {"White", "flat", {hex(0xffffff)}},
        {"Graphite", "flat", {hex(0x2b2d31)}}, {"Black", "flat", {hex(0x000000)}},
        {"Sky", "flat", {hex(0x8ec5fc)}},      {"Sand", "flat", {hex(0xf3e3c3)}},
        {"Rose", "flat", {hex(0xf7b7c4)}},     {"Sage", "flat", {hex(0xb5cdb0)}},
    };
    return list;
}

const std::vector<Template>& templatesFor(const std::string& mode) {
    static const std::vector<Template> none;
    if (mode == "gradient") return gradientTemplates();
    if (mode == "mesh") return meshTemplates();
    if (mode == "flat") return solidTemplates();
    return none;
}

}  // namespace backdrop
