#include "kit/draw/TextLayer.h"

#include <cmath>

#include "kit/draw/TextMeasure.h"

namespace kit {

void TextLayer::setString(std::string s) {
    if (string_ == s) return;
    string_ = std::move(s);
    changed();
}
void TextLayer::setFont(Font f) {
    if (font_ == f) return;
    font_ = std::move(f);
    changed();
}
void TextLayer::setFontSize(double s) {
    if (!(s > 0) || font_.size == s) return;
    font_.size = s;
    changed();
}
void TextLayer::setForegroundColor(Color c) {
    if (foregroundColor_ == c) return;
    foregroundColor_ = c;
    changed();
}
void TextLayer::setAlignmentMode(TextAlignment a) {
    if (alignment_ == a) return;
    alignment_ = a;
    changed();
}
void TextLayer::setWrapped(bool w) {
    if (wrapped_ == w) return;
    wrapped_ = w;
    changed();
}
void TextLayer::setTruncationMode(TextTruncation t) {
    if (truncation_ == t) return;
    truncation_ = t;
    changed();
}

Size TextLayer::preferredFrameSize() const {
    Size s = measureText(string_, font_, wrapped_ ? bounds().width() : 0);
    return {std::ceil(s.width), std::ceil(s.height)};
}

}  // namespace kit
