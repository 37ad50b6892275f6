#include "kit/ui/SegmentedControl.h"

#include <QHBoxLayout>
#include <QToolButton>

#include "kit/ui/qt/ControlPrivate.h"
#include "kit/ui/qt/MenuPrivate.h"

namespace kit {

namespace {

QWidget* row(const SegmentedControl& c) {
    return qt::hostedWidget(c);
}

QToolButton* segment(const SegmentedControl& c, int i) {
    auto* l = row(c)->layout();
    if (i < 0 || i >= l->count()) return nullptr;
    return static_cast<QToolButton*>(l->itemAt(i)->widget());
}

}  // namespace

SegmentedControl::SegmentedControl(const Rect& frame, Tracking tracking)
    : Control(frame), tracking_(tracking) {
    auto* r = new QWidget;
    auto* l = new QHBoxLayout(r);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(1);
    qt::hostWidget(*this, r);
}

int SegmentedControl::segmentCount() const {
    return row(*this)->layout()->count();
}

void SegmentedControl::setSegmentCount(int count) {
    auto* l = static_cast<QHBoxLayout*>(row(*this)->layout());
    while (l->count() > count) {
        QWidget* w = l->takeAt(l->count() - 1)->widget();
        delete w;
    }
    while (l->count() < count) {
        auto* b = new QToolButton;
        int index = l->count();
        b->setCheckable(tracking_ == Tracking::SelectOne);
        b->setAutoRaise(false);
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setFocusPolicy(Qt::NoFocus);
        QObject::connect(b, &QToolButton::clicked, [this, index](bool) {
            clicked_ = index;
            if (tracking_ == Tracking::SelectOne) setSelectedSegment(index);
            sendAction();
        });
        l->addWidget(b);
    }
    if (selected_ >= count) selected_ = -1;
}

void SegmentedControl::setLabel(const std::string& label, int i) {
    if (auto* b = segment(*this, i)) b->setText(QString::fromStdString(label));
}

std::string SegmentedControl::label(int i) const {
    auto* b = segment(*this, i);
    return b ? b->text().toStdString() : std::string();
}

void SegmentedControl::setImage(const Image& image, int i) {
    auto* b = segment(*this, i);
    if (!b) return;
    b->setIcon(qt::iconFromImage(image));
    if (!image.isNull()) b->setIconSize(QSize(int(image.pointSize().width), int(image.pointSize().height)));
    b->setToolButtonStyle(b->text().isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
}

void SegmentedControl::setToolTip(const std::string& tip, int i) {
    if (auto* b = segment(*this, i)) b->setToolTip(QString::fromStdString(tip));
}

std::string SegmentedControl::toolTip(int i) const {
    auto* b = segment(*this, i);
    return b ? b->toolTip().toStdString() : std::string();
}

void SegmentedControl::setEnabled(bool enabled, int i) {
    if (auto* b = segment(*this, i)) b->setEnabled(enabled);
}

void SegmentedControl::setSelectedSegment(int s) {
    selected_ = (s >= 0 && s < segmentCount()) ? s : -1;
    for (int i = 0; i < segmentCount(); ++i)
        if (auto* b = segment(*this, i); b && b->isCheckable()) b->setChecked(i == selected_);
}

void SegmentedControl::performClick(int s) {
    if (auto* b = segment(*this, s)) b->click();
}

}  // namespace kit
