#include "kit/TextLayer.h"

#include <cmath>

#include "kit/TextMeasure.h"

namespace kit {

void TextLayer::setString(std::string s) {
    string_ = std::move(s);
    changed();
}
void TextLayer::setFont(Font f) {
    font_ = std::move(f);
    changed();
}
void TextLayer::setFontSize(double s) {
    font_.size = s > 0 ? s : font_.size;
    changed();
}
void TextLayer::setForegroundColor(Color c) {
    foregroundColor_ = c;
    changed();
}
void TextLayer::setAlignmentMode(TextAlignment a) {
    alignment_ = a;
    changed();
}
void TextLayer::setWrapped(bool w) {
    wrapped_ = w;
    changed();
}
void TextLayer::setTruncationMode(TextTruncation t) {
    truncation_ = t;
    changed();
}

Size TextLayer::preferredFrameSize() const {
    Size s = measureText(string_, font_, wrapped_ ? bounds().width() : 0);
    return {std::ceil(s.width), std::ceil(s.height)};
}

}  // namespace kit
