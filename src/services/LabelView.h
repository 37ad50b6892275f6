#pragma once
// A text label: a view that draws its string with a text layer, vertically
// centred, on one line cut with "…" when it does not fit (or wrapped, when
// asked). Line breaks show as blanks, so a text of several lines still reads
// on its one line.
#include <memory>
#include <string>

#include "kit/draw/TextLayer.h"
#include "kit/ui/View.h"

namespace services {

class LabelView : public kit::View {
public:
    explicit LabelView(const kit::Rect& frame = {}, kit::Font font = kit::Font::system(13));
    static std::shared_ptr<LabelView> make(const kit::Rect& frame = {},
                                           kit::Font font = kit::Font::system(13)) {
        return std::make_shared<LabelView>(frame, font);
    }

    const std::string& text() const { return text_; }
    void setText(std::string text);
    void setTextColor(kit::Color color);
    void setFont(kit::Font font);
    void setAlignment(kit::TextAlignment alignment);
    // A line too long for the label is cut at its end unless told otherwise.
    void setTruncation(kit::TextTruncation mode);
    // Words wrap at the label's width instead (nothing is cut then).
    void setWrapped(bool wrapped);
    kit::TextTruncation truncation() const { return layer_->truncationMode(); }
    kit::Size fittingSize() const { return layer_->preferredFrameSize(); }
    void layout() override;

private:
    void placeText();
    std::shared_ptr<kit::TextLayer> layer_;
    std::string text_;
};

}  // namespace services
