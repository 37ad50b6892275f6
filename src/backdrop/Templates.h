#pragma once
// The looks offered in the backdrop panel: gradient pairs, mesh palettes and
// solid colours. Choosing one sets the configuration's mode, colours and
// template name; the rest of the configuration (padding, corners, shadow)
// stays as the user set it.
#include <string>
#include <vector>

#include "backdrop/Config.h"

namespace backdrop {

struct Template {
    std::string name;
    std::string mode;  // "gradient", "mesh" or "flat"
    std::vector<RGBColor> colors;
    double angle = 135;
    int seed = 1;

    // This template's look over `c` (colours, mode, angle, seed, name).
    void applyTo(Config& c) const;
    // True when `c` shows this template's look.
    bool matches(const Config& c) const;
};

const std::vector<Template>& gradientTemplates();
const std::vector<Template>& meshTemplates();
const std::vector<Template>& solidTemplates();
// The templates of a mode ("flat" gives the solid colours); empty for "image".
const std::vector<Template>& templatesFor(const std::string& mode);

}  // namespace backdrop
