#include "kit/ui/ColorPanel.h"

#include <QApplication>
#include <QColorDialog>
#include <QPushButton>
#include <cmath>
#include <memory>

#include "kit/base/Displays.h"
#include "kit/ui/qt/ControlPrivate.h"

namespace kit {

namespace {

// Made on first use and never destroyed by a static destructor: the
// dialog must go before the application object does (see aboutToQuit).
struct PanelState {
    std::unique_ptr<QColorDialog> dialog;
    std::function<void(Color)> target;
    bool continuous = true;
};

PanelState& state() {
    static PanelState& s = *new PanelState;
    return s;
}

PanelState& panel() {
    PanelState& s = state();
    if (!s.dialog) {
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { state().dialog.reset(); });
        s.dialog = std::make_unique<QColorDialog>();
        s.dialog->setOption(QColorDialog::DontUseNativeDialog);
        s.dialog->setOption(QColorDialog::NoButtons);
        s.dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
        QObject::connect(s.dialog.get(), &QColorDialog::currentColorChanged, [](const QColor& c) {
            PanelState& st = panel();
            if (st.continuous && st.target) st.target(qt::fromQColor(c));
        });
        QObject::connect(s.dialog.get(), &QColorDialog::finished, [](int) {
            PanelState& st = panel();
            if (!st.continuous && st.target) st.target(qt::fromQColor(st.dialog->currentColor()));
        });
    }
    return s;
}

}  // namespace

ColorPanel::ColorPanel() = default;

ColorPanel& ColorPanel::shared() {
    static ColorPanel p;
    return p;
}

Color ColorPanel::color() const {
    return qt::fromQColor(panel().dialog->currentColor());
}

void ColorPanel::setColor(Color color) {
    QSignalBlocker block(panel().dialog.get());  // setting is not choosing
    panel().dialog->setCurrentColor(qt::toQColor(color));
}

void ColorPanel::setShowsAlpha(bool shows) {
    panel().dialog->setOption(QColorDialog::ShowAlphaChannel, shows);
}
void ColorPanel::setContinuous(bool continuous) {
    state().continuous = continuous;
}
void ColorPanel::setTarget(std::function<void(Color)> onChange) {
    state().target = std::move(onChange);
}

void ColorPanel::orderFront() {
    panel().dialog->show();
    panel().dialog->raise();
}

// Asking whether the panel shows, or closing it, makes no dialog: the editor
// asks at every start, and the dialog with its icons costs a few megabytes.
void ColorPanel::close() {
    if (state().dialog) state().dialog->hide();
}
Rect ColorPanel::frame() const {
    QColorDialog* d = panel().dialog.get();
    if (!d->isVisible()) d->adjustSize();
    QRect g = d->frameGeometry();
    return Displays::fromWindowServer(
        Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())});
}

void ColorPanel::setFrameOrigin(Point origin) {
    Rect server = Displays::toWindowServer(Rect{origin, frame().size});
    panel().dialog->move(int(std::lround(server.x())), int(std::lround(server.y())));
}

bool ColorPanel::isVisible() const {
    return state().dialog && state().dialog->isVisible();
}

// ---- ColorWell -------------------------------------------------------------------

ColorWell::ColorWell(const Rect& frame) : Control(frame) {
    auto* b = new QPushButton;
    b->setFocusPolicy(Qt::TabFocus);
    qt::hostWidget(*this, b);
    QObject::connect(b, &QPushButton::clicked, [this] { activate(); });
    setColor(color_);
}

void ColorWell::setColor(Color color) {
    color_ = color;
    qt::hosted<QPushButton>(*this)->setStyleSheet(
        QString("QPushButton { background-color: %1; border: 1px solid #808080; border-radius: 3px; }")
            .arg(qt::toQColor(color).name(QColor::HexArgb)));
}

void ColorWell::activate() {
    ColorPanel& p = ColorPanel::shared();
    p.setColor(color_);
    p.setTarget([this](Color c) {
        setColor(c);
        sendAction();
    });
    p.orderFront();
}

}  // namespace kit
