#include "controls/ControlLook.h"

namespace controls::ControlLook {

kit::Color textColor(bool dark) {
    return dark ? kit::Color::white(1.0, 0.85) : kit::Color::white(0, 0.85);
}

kit::Color windowBackgroundColor(bool dark) {
    return dark ? kit::Color::white(0.196) : kit::Color::white(0.925);
}

kit::Color accentColor() {
    return {0.0, 0.478, 1.0, 1.0};
}

kit::Color controlColor(bool dark) {
    return dark ? kit::Color::white(1.0, 0.25) : kit::Color::white(1.0);
}

kit::Color gridColor(bool dark) {
    return dark ? kit::Color::white(1.0, 0.1) : kit::Color::white(0.8);
}

kit::Color blended(const kit::Color& base, double fraction, const kit::Color& other) {
    auto mix = [fraction](double a, double b) { return a + (b - a) * fraction; };
    return {mix(base.r, other.r), mix(base.g, other.g), mix(base.b, other.b), mix(base.a, other.a)};
}

kit::Color mainColor() {
    return {0.95, 0.25, 0.12, 1.0};
}

}  // namespace controls::ControlLook
