#include "kit/ui/Label.h"

#include <QLabel>

#include "kit/ui/qt/ControlPrivate.h"

namespace kit {

namespace {
QLabel* label(const Label& l) {
    return qt::hosted<QLabel>(l);
}
}  // namespace

Label::Label(const Rect& frame) : Control(frame) {
    auto* l = new QLabel;
    l->setTextFormat(Qt::PlainText);
    l->setFocusPolicy(Qt::NoFocus);
    qt::hostWidget(*this, l);
}

std::shared_ptr<Label> Label::make(const std::string& text) {
    auto l = std::make_shared<Label>();
    l->setStringValue(text);
    l->sizeToFit();
    return l;
}

std::string Label::stringValue() const {
    return label(*this)->text().toStdString();
}
void Label::setStringValue(const std::string& text) {
    label(*this)->setText(QString::fromStdString(text));
}

void Label::setTextColor(Color color) {
    QPalette p = label(*this)->palette();
    p.setColor(QPalette::WindowText, qt::toQColor(color));
    label(*this)->setPalette(p);
}

void Label::setAlignment(TextAlignment a) {
    label(*this)->setAlignment(qt::toQtAlignment(a));
}

void Label::setWraps(bool wraps) {
    label(*this)->setWordWrap(wraps);
}

void Label::setSelectable(bool selectable) {
    label(*this)->setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
}

}  // namespace kit
