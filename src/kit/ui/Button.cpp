#include "kit/ui/Button.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>

#include "kit/ui/qt/ControlPrivate.h"
#include "kit/ui/qt/MenuPrivate.h"

namespace kit {

namespace {
QAbstractButton* qbutton(const Button& b) {
    return qt::hosted<QAbstractButton>(b);
}
}  // namespace

Button::Button(const Rect& frame, Type type) : Control(frame), type_(type) {
    QAbstractButton* b = nullptr;
    switch (type) {
        case Type::MomentaryPush:
            b = new QPushButton;
            break;
        case Type::PushOnPushOff:
            b = new QPushButton;
            b->setCheckable(true);
            break;
        case Type::Checkbox:
            b = new QCheckBox;
            break;
        case Type::Radio:
            b = new QRadioButton;
            // Radios of one superview are one group; Qt groups them by parent,
            // but each kit view has its own widget, so the group is kept here.
            break;
    }
    b->setFocusPolicy(Qt::TabFocus);
    qt::hostWidget(*this, b);
    QObject::connect(b, &QAbstractButton::clicked, [this](bool) {
        if (type_ == Type::Radio && superview()) {
            for (auto& s : superview()->subviews())
                if (auto* other = dynamic_cast<Button*>(s.get());
                    other && other != this && other->type_ == Type::Radio)
                    qbutton(*other)->setChecked(false);
            qbutton(*this)->setChecked(true);
        }
        sendAction();
    });
    if (type == Type::Radio) b->setAutoExclusive(false);
}

std::shared_ptr<Button> Button::make(std::string title, Action action, Type type) {
    auto b = std::make_shared<Button>(Rect{}, type);
    b->setTitle(title);
    b->setAction(std::move(action));
    b->sizeToFit();
    return b;
}

std::string Button::title() const {
    return qbutton(*this)->text().replace("&&", "&").toStdString();
}

void Button::setTitle(const std::string& title) {
    QString t = QString::fromStdString(title);
    t.replace('&', "&&");  // no mnemonics
    qbutton(*this)->setText(t);
}

void Button::setImage(const Image& image) {
    QAbstractButton* b = qbutton(*this);
    b->setIcon(qt::iconFromImage(image));
    if (!image.isNull()) b->setIconSize(QSize(int(image.pointSize().width), int(image.pointSize().height)));
}

void Button::setBordered(bool bordered) {
    if (auto* p = dynamic_cast<QPushButton*>(qbutton(*this))) p->setFlat(!bordered);
}

bool Button::isBordered() const {
    auto* p = dynamic_cast<QPushButton*>(qbutton(*this));
    return p ? !p->isFlat() : false;
}

ControlState Button::state() const {
    return qbutton(*this)->isChecked() ? ControlState::On : ControlState::Off;
}

void Button::setState(ControlState state) {
    QAbstractButton* b = qbutton(*this);
    if (auto* c = dynamic_cast<QCheckBox*>(b); c && state == ControlState::Mixed) {
        c->setTristate(true);
        c->setCheckState(Qt::PartiallyChecked);
        return;
    }
    b->setChecked(state == ControlState::On);
}

void Button::setKeyEquivalentReturn(bool on) {
    if (auto* p = dynamic_cast<QPushButton*>(qbutton(*this))) p->setDefault(on);
}

void Button::performClick() {
    qbutton(*this)->click();
}

}  // namespace kit
