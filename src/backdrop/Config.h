#pragma once
// The backdrop's stored configuration: twenty keys, written as JSON with
// sorted keys (the setting "bdrConfig" and every undo snapshot). Values are
// kept as given, so a record reads back unchanged; only the layout derived
// from them is clamped.
#include <cstdint>
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Json.h"

namespace backdrop {

struct RGBColor {
    double r = 0, g = 0, b = 0;
    friend bool operator==(const RGBColor&, const RGBColor&) = default;
    kit::Color color(double alpha = 1) const { return {r, g, b, alpha}; }
};

// The stored configuration. Lengths are in points (multiplied by the
// screen's pixel ratio when laid out); the stored values are kept as given,
// only the effective paddings and radii derived from them are clamped.
struct Config {
    int isOn = 0;
    std::string mode = "gradient";  // "gradient", "mesh", "flat" or "image"
    // The first template of each mode.
    RGBColor gradientStart{90 / 255.0, 120 / 255.0, 250 / 255.0};
    RGBColor gradientEnd{209 / 255.0, 92 / 255.0, 214 / 255.0};
    RGBColor flatColor{232 / 255.0, 235 / 255.0, 240 / 255.0};
    std::vector<RGBColor> meshColors{{250 / 255.0, 143 / 255.0, 107 / 255.0},
                                     {107 / 255.0, 133 / 255.0, 250 / 255.0},
                                     {140 / 255.0, 219 / 255.0, 199 / 255.0},
                                     {245 / 255.0, 209 / 255.0, 115 / 255.0}};
    int meshSeed = 1;
    double angle = 135;       // gradient direction in degrees, 0 = left to right, counter-clockwise
    double noise = 0;         // grain strength 0…1
    double padding = 48;      // around the screenshot
    double inset = -1;        // space around the screenshot in its own edge colour; -1 none
    int autoCrop = 0;         // 1: trim uniform borders of the screenshot before framing
    double innerRadius = 10;  // corners of the screenshot
    double outerRadius = 0;   // corners of the whole picture
    double shadow = 0.5;      // shadow opacity 0…1
    double shadowRadius = 24;
    std::string ratio = "auto";  // "auto" or "w:h"
    std::string imageName;       // the custom picture in image mode
    std::string templateName;    // the template last chosen; empty when edited by hand
    int version = 1;

    kit::Json toJson() const;
    // Sets the keys present in `j`, keeping the others; a key of the wrong
    // type is an error and leaves the configuration untouched.
    bool apply(const kit::Json& j, std::string* error = nullptr);
};

// A colour randomly chosen for the randomise key (exposed for tests).
RGBColor randomColor(uint32_t& state);

}  // namespace backdrop
