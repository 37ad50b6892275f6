#include "kit/ui/Control.h"

#include <QVBoxLayout>

#include "kit/draw/qt/QtText.h"
#include "kit/ui/qt/ControlPrivate.h"
#include "kit/ui/qt/ViewPrivate.h"

namespace kit {

namespace qt {

void hostWidget(View& view, QWidget* widget) {
    QWidget* host = viewWidget(view);
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(widget);
    // Focus belongs to the hosted widget, not to its frame.
    host->setFocusProxy(widget);
}

QWidget* hostedWidget(const View& view) {
    QLayout* l = viewWidget(view)->layout();
    return l && l->count() > 0 ? l->itemAt(0)->widget() : nullptr;
}

}  // namespace qt

Control::~Control() = default;

bool Control::isEnabled() const {
    return qt::hostedWidget(*this)->isEnabled();
}
void Control::setEnabled(bool enabled) {
    qt::hostedWidget(*this)->setEnabled(enabled);
}
void Control::setFont(const Font& font) {
    qt::hostedWidget(*this)->setFont(qt::toQFont(font));
}

Size Control::fittingSize() const {
    QSize s = qt::hostedWidget(*this)->sizeHint();
    return {double(s.width()), double(s.height())};
}

void Control::sizeToFit() {
    setFrameSize(fittingSize());
}

bool Control::acceptsFirstResponder() const {
    return qt::hostedWidget(*this)->focusPolicy() != Qt::NoFocus;
}

}  // namespace kit
