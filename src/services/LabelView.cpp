#include "services/LabelView.h"

LabelView::LabelView(const kit::Rect& frame, kit::Font font)
    : kit::View(frame), text_(kit::TextLayer::make()) {
    text_->setFont(font);
    text_->setForegroundColor(kit::Color::black().withAlpha(0.85));
    text_->setTruncationMode(kit::TextTruncation::End);
    layer()->addSublayer(text_);
    layout();
}

void LabelView::setText(std::string text) {
    text_->setString(std::move(text));
    layout();
}

void LabelView::setTextColor(kit::Color color) {
    text_->setForegroundColor(color);
}

void LabelView::setFont(kit::Font font) {
    text_->setFont(font);
    layout();
}

void LabelView::setAlignment(kit::TextAlignment alignment) {
    text_->setAlignmentMode(alignment);
}

void LabelView::layout() {
    double height = text_->preferredFrameSize().height;
    kit::Rect b = bounds();
    text_->setFrame({0, b.midY() - height / 2, b.width(), height});
    setNeedsDisplay();
}
