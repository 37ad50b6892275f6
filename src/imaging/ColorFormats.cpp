#include "imaging/ColorFormats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "services/Settings.h"

namespace imaging {

namespace {

std::string printed(const char* format, auto value) {
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, format, value);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

void replaceAll(std::string& text, std::string_view what, const std::string& with) {
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + with.size()))
        text.replace(pos, what.size(), with);
}

}  // namespace

const std::vector<ColorFormat>& colorFormats() {
    static const std::vector<ColorFormat> table = {
        {"HEX", "HEX #FFC200", "#%rh%gh%bh", "#%rh%gh%bh", "102"},
        {"HEXno", "HEX FFC200", "%rh%gh%bh", "%rh%gh%bh", "102"},
        {"RGBA", "CSS rgba(255, 194, 0, 1)", "%rd, %gd, %bd", "rgba(%rd, %gd, %bd, 1)", "112"},
        {"RGB1", "RGB (1.00, 0.76, 0.00)", "%rf, %gf, %bf", "(%rf, %gf, %bf)", "120"},
        {"Android", "Android 0xFFFFC200", "0xFF%rh%gh%bh", "0xFF%rh%gh%bh", "112"},
        {"UIColor", "UIColor (red: 1.00, gre...", "%rf, %gf, %bf",
         "UIColor(red: %rf, green: %gf, blue: %bf, alpha: 1.00)", "120"},
        {"CSharp", "C# Color.fromArgb()", "%rd, %gd, %bd", "Color.fromArgb(%rd, %gd, %bd);", "112"},
    };
    return table;
}

SampledColor convertColorSpaces(const Capture& capture, int r, int g, int b) {
    if (capture.pixels.isNull()) return {0, kit::Color::clear()};
    // The capture's colour space is sRGB: the conversion is the identity,
    // and rounding the components back gives the input bytes.
    kit::Color c = kit::Color::rgb(r, g, b);
    uint32_t packed = uint32_t(c.red8()) + uint32_t(c.green8()) * 256u + uint32_t(c.blue8()) * 65536u;
    return {packed, c};
}

std::pair<std::string, std::string> formatColor(int r, int g, int b, std::string_view colorFormat) {
    r = std::clamp(r, 0, 255);
    g = std::clamp(g, 0, 255);
    b = std::clamp(b, 0, 255);
    const std::pair<const char*, std::string> values[] = {
        {"%rh", printed("%02lX", long(r))},   {"%gh", printed("%02lX", long(g))},
        {"%bh", printed("%02lX", long(b))},   {"%rd", std::to_string(r)},
        {"%gd", std::to_string(g)},           {"%bd", std::to_string(b)},
        {"%rf", printed("%0.2F", r / 255.0)}, {"%gf", printed("%0.2F", g / 255.0)},
        {"%bf", printed("%0.2F", b / 255.0)},
    };
    const auto& table = colorFormats();
    const ColorFormat* row = &table[0];
    for (const auto& f : table)
        if (f.id == colorFormat) {
            row = &f;
            break;
        }
    std::string display = row->displayTemplate, copy = row->copyTemplate;
    for (const auto& [placeholder, value] : values) {
        replaceAll(display, placeholder, value);
        replaceAll(copy, placeholder, value);
    }
    return {display, copy};
}

std::pair<std::string, std::string> formatColor(int r, int g, int b) {
    return formatColor(r, g, b, services::Settings::shared().colorFormat());
}

}  // namespace imaging
