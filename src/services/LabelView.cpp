#include "services/LabelView.h"

namespace services {

LabelView::LabelView(const kit::Rect& frame, kit::Font font)
    : kit::View(frame), layer_(kit::TextLayer::make()) {
    layer_->setFont(font);
    layer_->setForegroundColor(kit::Color::black().withAlpha(0.85));
    layer_->setTruncationMode(kit::TextTruncation::End);
    layer()->addSublayer(layer_);
    placeText();
}

void LabelView::setText(std::string text) {
    text_ = std::move(text);
    std::string line;
    for (char c : text_) {
        bool blank = c == '\n' || c == '\r' || c == ' ';
        if (!blank)
            line.push_back(c);
        else if (!line.empty() && line.back() != ' ')
            line.push_back(' ');
    }
    layer_->setString(line);
    layout();
}

void LabelView::setTextColor(kit::Color color) {
    layer_->setForegroundColor(color);
}

void LabelView::setFont(kit::Font font) {
    layer_->setFont(font);
    layout();
}

void LabelView::setAlignment(kit::TextAlignment alignment) {
    layer_->setAlignmentMode(alignment);
}

void LabelView::setTruncation(kit::TextTruncation mode) {
    layer_->setTruncationMode(mode);
    setNeedsDisplay();
}

void LabelView::setWrapped(bool wrapped) {
    layer_->setWrapped(wrapped);
    layout();
}

void LabelView::layout() {
    placeText();
}

void LabelView::placeText() {
    kit::Rect b = bounds();
    // A wrapped text is measured at the label's width.
    layer_->setFrame({0, 0, b.width(), b.height()});
    double height = layer_->preferredFrameSize().height;
    layer_->setFrame({0, b.midY() - height / 2, b.width(), height});
    setNeedsDisplay();
}

}  // namespace services
