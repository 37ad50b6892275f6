#pragma once
// Measuring text laid out in a font; sizes are in the font's units (points).
#include <string>

#include "kit/base/Geometry.h"
#include "kit/draw/Font.h"

namespace kit {

struct FontMetrics {
    double ascent = 0, descent = 0, leading = 0;
    double lineHeight = 0;  // ascent + descent + leading
    double capHeight = 0, xHeight = 0;
};

FontMetrics fontMetrics(const Font& font);

// Width of one line of text (its advance; newlines are not broken).
double textAdvance(const std::string& text, const Font& font);

// Size of text (UTF-8) laid out in font. maxWidth <= 0: no wrapping (lines
// break only at newlines); otherwise words wrap at maxWidth. The width is the
// widest line, the height the sum of the line heights; an empty text is one
// line high and zero wide.
Size measureText(const std::string& text, const Font& font, double maxWidth = 0);

}  // namespace kit
