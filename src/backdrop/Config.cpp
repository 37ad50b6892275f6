#include "backdrop/Config.h"

#include <cmath>
#include <utility>

namespace backdrop {

namespace {

kit::Json colorJson(const RGBColor& c) {
    return {{"b", c.b}, {"g", c.g}, {"r", c.r}};
}

bool readColor(const kit::Json& j, RGBColor& out) {
    if (!j.is_object()) return false;
    RGBColor c = out;
    for (auto [key, field] : {std::pair{"r", &c.r}, std::pair{"g", &c.g}, std::pair{"b", &c.b}}) {
        auto it = j.find(key);
        if (it == j.end()) continue;
        if (!it->is_number()) return false;
        *field = it->get<double>();
    }
    out = c;
    return true;
}

}  // namespace

kit::Json Config::toJson() const {
    kit::Json mesh = kit::Json::array();
    for (const RGBColor& m : meshColors) mesh.push_back(colorJson(m));
    return {{"isOn", isOn},
            {"mode", mode},
            {"gradientStart", colorJson(gradientStart)},
            {"gradientEnd", colorJson(gradientEnd)},
            {"flatColor", colorJson(flatColor)},
            {"meshColors", mesh},
            {"meshSeed", meshSeed},
            {"angle", angle},
            {"noise", noise},
            {"padding", padding},
            {"inset", inset},
            {"autoCrop", autoCrop},
            {"innerRadius", innerRadius},
            {"outerRadius", outerRadius},
            {"shadow", shadow},
            {"shadowRadius", shadowRadius},
            {"ratio", ratio},
            {"imageName", imageName},
            {"templateName", templateName},
            {"version", version}};
}

bool Config::apply(const kit::Json& j, std::string* error) {
    auto fail = [&](const std::string& key) {
        if (error) *error = "Backdrop setting \"" + key + "\" has the wrong type";
        return false;
    };
    if (!j.is_object()) {
        if (error) *error = "Backdrop configuration is not a JSON object";
        return false;
    }
    Config n = *this;
    for (auto [key, field] : {std::pair{"isOn", &n.isOn}, std::pair{"meshSeed", &n.meshSeed},
                              std::pair{"autoCrop", &n.autoCrop}, std::pair{"version", &n.version}}) {
        auto it = j.find(key);
        if (it == j.end()) continue;
        if (!it->is_number()) return fail(key);
        *field = int(std::lround(it->get<double>()));
    }
    for (auto [key, field] :
         {std::pair{"angle", &n.angle}, std::pair{"noise", &n.noise}, std::pair{"padding", &n.padding},
          std::pair{"inset", &n.inset}, std::pair{"innerRadius", &n.innerRadius},
          std::pair{"outerRadius", &n.outerRadius}, std::pair{"shadow", &n.shadow},
          std::pair{"shadowRadius", &n.shadowRadius}}) {
        auto it = j.find(key);
        if (it == j.end()) continue;
        if (!it->is_number()) return fail(key);
        *field = it->get<double>();
    }
    for (auto [key, field] :
         {std::pair{"mode", &n.mode}, std::pair{"ratio", &n.ratio}, std::pair{"imageName", &n.imageName},
          std::pair{"templateName", &n.templateName}}) {
        auto it = j.find(key);
        if (it == j.end()) continue;
        if (!it->is_string()) return fail(key);
        *field = it->get<std::string>();
    }
    for (auto [key, field] :
         {std::pair{"gradientStart", &n.gradientStart}, std::pair{"gradientEnd", &n.gradientEnd},
          std::pair{"flatColor", &n.flatColor}}) {
        auto it = j.find(key);
        if (it != j.end() && !readColor(*it, *field)) return fail(key);
    }
    if (auto it = j.find("meshColors"); it != j.end()) {
        if (!it->is_array()) return fail("meshColors");
        std::vector<RGBColor> mesh;
        for (const kit::Json& m : *it) {
            RGBColor c;
            if (!readColor(m, c)) return fail("meshColors");
            mesh.push_back(c);
        }
        n.meshColors = std::move(mesh);
    }
    *this = std::move(n);
    return true;
}

RGBColor randomColor(uint32_t& state) {
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24);
    };
    // Saturated, not too dark: a hue around the wheel at a pleasant lightness.
    const double h = next() * 6, s = 0.45 + 0.4 * next(), v = 0.75 + 0.2 * next();
    const int i = int(h) % 6;
    const double f = h - std::floor(h), p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i) {
        case 0:
            return {v, t, p};
        case 1:
            return {q, v, p};
        case 2:
            return {p, v, t};
        case 3:
            return {p, q, v};
        case 4:
            return {t, p, v};
        default:
            return {v, p, q};
    }
}

}  // namespace backdrop
