#pragma once
// The system colours the custom controls borrow (text, window background,
// accent, control, grid) for the light and the dark look, and colour blending.
#include "kit/base/Color.h"
#include "kit/ui/View.h"

namespace controls::ControlLook {

kit::Color textColor(bool dark);
kit::Color windowBackgroundColor(bool dark);
kit::Color accentColor();
kit::Color controlColor(bool dark);
kit::Color gridColor(bool dark);
// `fraction` of the way from `base` to `other`, alpha included.
kit::Color blended(const kit::Color& base, double fraction, const kit::Color& other);
// The main colour of the application's marks (the snake, the ruler).
kit::Color mainColor();

}  // namespace controls::ControlLook
