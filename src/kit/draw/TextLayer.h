#pragma once
#include "kit/base/TextAlignment.h"
// A layer that draws a string in one font and colour, from the top-left of
// its bounds, upright.
#include <string>

#include "kit/draw/Font.h"
#include "kit/draw/Layer.h"

namespace kit {

enum class TextTruncation { None, Start, Middle, End };

class TextLayer : public Layer {
public:
    static std::shared_ptr<TextLayer> make() { return std::make_shared<TextLayer>(); }
    Kind kind() const override { return Kind::Text; }

    const std::string& string() const { return string_; }  // UTF-8
    void setString(std::string s);
    // Default: the system font at 36 units.
    const Font& font() const { return font_; }
    void setFont(Font f);
    double fontSize() const { return font_.size; }
    void setFontSize(double s);
    Color foregroundColor() const { return foregroundColor_; }  // default white
    void setForegroundColor(Color c);
    TextAlignment alignmentMode() const { return alignment_; }
    void setAlignmentMode(TextAlignment a);
    // Wrap words at the bounds' width (otherwise one line per paragraph).
    bool isWrapped() const { return wrapped_; }
    void setWrapped(bool w);
    // Where an overlong line is cut with "…" (only when not wrapped).
    TextTruncation truncationMode() const { return truncation_; }
    void setTruncationMode(TextTruncation t);

    // The size that holds the whole text: (ceil of the advance, ceil of the
    // line heights); wrapped at the bounds' width when wrapping.
    Size preferredFrameSize() const;

private:
    std::string string_;
    Font font_ = Font::system(36);
    Color foregroundColor_ = Color::white(1);
    TextAlignment alignment_ = TextAlignment::Natural;
    bool wrapped_ = false;
    TextTruncation truncation_ = TextTruncation::None;
};

}  // namespace kit
