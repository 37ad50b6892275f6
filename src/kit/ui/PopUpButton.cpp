#include "kit/ui/PopUpButton.h"

#include <QComboBox>

#include "kit/ui/qt/ControlPrivate.h"

namespace kit {

namespace {
QComboBox* combo(const PopUpButton& p) {
    return qt::hosted<QComboBox>(p);
}
}  // namespace

PopUpButton::PopUpButton(const Rect& frame) : Control(frame) {
    auto* c = new QComboBox;
    c->setFocusPolicy(Qt::TabFocus);
    qt::hostWidget(*this, c);
    // Only the user's choices run the action, not selections made in code.
    QObject::connect(c, &QComboBox::activated, [this](int) { sendAction(); });
}

void PopUpButton::addItem(const std::string& title) {
    combo(*this)->addItem(QString::fromStdString(title));
}
void PopUpButton::addItems(const std::vector<std::string>& titles) {
    for (auto& t : titles) addItem(t);
}
void PopUpButton::removeAllItems() {
    combo(*this)->clear();
}
int PopUpButton::numberOfItems() const {
    return combo(*this)->count();
}
std::string PopUpButton::itemTitle(int index) const {
    return combo(*this)->itemText(index).toStdString();
}
int PopUpButton::indexOfSelectedItem() const {
    return combo(*this)->currentIndex();
}
std::string PopUpButton::titleOfSelectedItem() const {
    return combo(*this)->currentText().toStdString();
}

void PopUpButton::selectItem(int index) {
    if (index >= -1 && index < numberOfItems()) combo(*this)->setCurrentIndex(index);
}

bool PopUpButton::selectItem(const std::string& title) {
    int i = combo(*this)->findText(QString::fromStdString(title));
    if (i < 0) return false;
    combo(*this)->setCurrentIndex(i);
    return true;
}

}  // namespace kit
