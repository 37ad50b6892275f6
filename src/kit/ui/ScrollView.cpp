#include "kit/ui/ScrollView.h"

#include <QScrollArea>
#include <QScrollBar>

#include "kit/ui/qt/ControlPrivate.h"
#include "kit/ui/qt/ViewPrivate.h"

namespace kit {

namespace {
QScrollArea* area(const ScrollView& s) {
    return qt::hosted<QScrollArea>(s);
}
}  // namespace

ScrollView::ScrollView(const Rect& frame) : View(frame) {
    auto* a = new QScrollArea;
    a->setFrameShape(QFrame::NoFrame);
    a->setWidgetResizable(false);
    a->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    a->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    qt::hostWidget(*this, a);
}

ScrollView::~ScrollView() {
    // The document's widget belongs to its view, not to the scroll area.
    if (QWidget* w = area(*this)->takeWidget()) w->setParent(nullptr);
}

void ScrollView::setDocumentView(std::shared_ptr<View> view) {
    QScrollArea* a = area(*this);
    if (QWidget* old = a->takeWidget()) old->setParent(nullptr);
    document_ = std::move(view);
    if (!document_) return;
    if (document_->superview()) document_->removeFromSuperview();
    QWidget* w = qt::viewWidget(*document_);
    a->setWidget(w);
    w->show();
}

void ScrollView::setHasVerticalScroller(bool has) {
    area(*this)->setVerticalScrollBarPolicy(has ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void ScrollView::setHasHorizontalScroller(bool has) {
    area(*this)->setHorizontalScrollBarPolicy(has ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void ScrollView::setBackgroundColor(std::optional<Color> color) {
    QWidget* vp = area(*this)->viewport();
    vp->setAutoFillBackground(color.has_value());
    if (color) {
        QPalette p = vp->palette();
        p.setColor(QPalette::Window, qt::toQColor(*color));
        vp->setPalette(p);
    }
    area(*this)->setAutoFillBackground(false);
}

Rect ScrollView::documentVisibleRect() const {
    if (!document_) return {};
    QScrollArea* a = area(*this);
    QRect vis(a->horizontalScrollBar()->value(), a->verticalScrollBar()->value(), a->viewport()->width(),
              a->viewport()->height());
    vis = vis.intersected(QRect(QPoint(0, 0), qt::viewWidget(*document_)->size()));
    Point p1 = qt::fromQt(*document_, vis.topLeft()),
          p2 = qt::fromQt(*document_, vis.bottomRight() + QPoint(1, 1));
    return Rect(std::min(p1.x, p2.x), std::min(p1.y, p2.y), std::abs(p2.x - p1.x), std::abs(p2.y - p1.y));
}

void ScrollView::scrollToPoint(Point p) {
    if (!document_) return;
    QScrollArea* a = area(*this);
    // The visible rect's origin is its bottom-left in y-up documents.
    double top = document_->isFlipped() ? p.y : document_->frame().height() - p.y - a->viewport()->height();
    a->horizontalScrollBar()->setValue(int(std::lround(p.x)));
    a->verticalScrollBar()->setValue(int(std::lround(top)));
}

void ScrollView::scrollRectToVisible(const Rect& r) {
    if (!document_) return;
    QPointF c = qt::toQtF(*document_, r.center());
    area(*this)->ensureVisible(int(c.x()), int(c.y()), int(r.width() / 2), int(r.height() / 2));
}

}  // namespace kit
