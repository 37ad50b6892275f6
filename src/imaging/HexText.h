#pragma once
// Six-digit hexadecimal colour texts, shared by the sampling functions and
// the dominant-colour code, which read and write colours the same way.
#include <optional>
#include <string>
#include <string_view>

#include "kit/base/Color.h"

namespace imaging {

// Every "#" removed, upper case, blanks and tabs trimmed at both ends.
std::string cleanHexText(std::string_view text);
// The colour of exactly six hex digits (as cleaned), or nothing.
std::optional<kit::Color> colorFromHexDigits(std::string_view cleaned, double alpha);
// "#RRGGBB" of the first three components, each x 255 rounded half away
// from zero; `viaFloat` rounds the single-precision product.
std::string hexOfComponents(const kit::Color& c, bool viaFloat);

}  // namespace imaging
