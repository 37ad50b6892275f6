#pragma once
// kit-internal: the QWidget behind every kit::View.
#include <QCursor>
#include <QWidget>
#include <optional>
#include <vector>

#include "kit/ui/Cursor.h"
#include "kit/ui/View.h"

namespace kit::qt {

class ViewWidget : public QWidget {
public:
    explicit ViewWidget(View* view);
    View* view = nullptr;  // cleared when the view goes first
    int depth = 0;         // > 0 while an event handler runs

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dragLeaveEvent(QDragLeaveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool focusNextPrevChild(bool) override { return false; }
};

// A window that holds a view tree without a kit::Window (a popover's panel):
// it hears the keys that every view of the tree passed on.
class KeyFallback {
public:
    virtual ~KeyFallback() = default;
    virtual void unhandledKeyDown(const Event& e) = 0;
};

QWidget* viewWidget(const View& view);
// A view-space point (y up unless the view is flipped) in widget pixels (y down), and back.
QPoint toQt(const View& view, Point p);
QPointF toQtF(const View& view, Point p);
Point fromQt(const View& view, QPointF p);
// The kit view a widget belongs to (nullptr for other widgets).
View* viewOf(QWidget* widget);
// Re-evaluates tracking areas and cursor rects of every view in the widget's
// top-level window for a pointer at `globalPos` (nothing: the pointer left).
void trackPointer(QWidget* topLevel, std::optional<QPointF> globalPos);

QCursor toQCursor(const Cursor& cursor);

}  // namespace kit::qt
