#include "kit/ui/Cursor.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

#include "kit/base/qt/QtImage.h"
#include "kit/ui/qt/ViewPrivate.h"

namespace kit {

namespace {

int g_hideCount = 0;

// Draws a cursor picture at 2× for crisp pointers on scaled screens.
Image drawCursor(int size, const std::function<void(QPainter&)>& paint) {
    QImage img(size * 2, size * 2, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(2, 2);
        paint(p);
    }
    return qt::toImage(img, 2.0);
}

}  // namespace

Cursor Cursor::pen() {
    static Image img = drawCursor(24, [](QPainter& p) {
        // A pen slanted 45°, nib at the bottom-left corner (the hot spot).
        QPainterPath body;
        body.moveTo(2, 22);
        body.lineTo(4, 16);
        body.lineTo(17, 3);
        body.lineTo(21, 7);
        body.lineTo(8, 20);
        body.closeSubpath();
        p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(body);
        p.setPen(QPen(Qt::black, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(60, 60, 60));
        p.drawPath(body);
        p.drawLine(QPointF(4, 16), QPointF(8, 20));
    });
    return Cursor(img, {2, 22});
}

Cursor Cursor::zoom(bool zoomIn) {
    static Image in, out;
    Image& img = zoomIn ? in : out;
    if (img.isNull()) {
        img = drawCursor(22, [zoomIn](QPainter& p) {
            p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(13.5, 13.5), QPointF(20, 20));
            p.drawEllipse(QPointF(8.5, 8.5), 6.5, 6.5);
            p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(13.5, 13.5), QPointF(20, 20));
            p.setBrush(QColor(255, 255, 255, 200));
            p.drawEllipse(QPointF(8.5, 8.5), 6.5, 6.5);
            p.drawLine(QPointF(5.5, 8.5), QPointF(11.5, 8.5));
            if (zoomIn) p.drawLine(QPointF(8.5, 5.5), QPointF(8.5, 11.5));
        });
    }
    return Cursor(img, {8.5, 8.5});
}

Cursor Cursor::named(const std::string& name) {
    if (name == "arrow") return arrow();
    if (name == "crosshair") return crosshair();
    if (name == "openHand") return openHand();
    if (name == "closedHand") return closedHand();
    if (name == "pointingHand") return pointingHand();
    if (name == "iBeam") return iBeam();
    if (name == "resizeLeftRight") return resizeLeftRight();
    if (name == "resizeUpDown") return resizeUpDown();
    if (name == "resizeNWSE") return Cursor(Shape::ResizeDiagonalNWSE);
    if (name == "resizeNESW") return Cursor(Shape::ResizeDiagonalNESW);
    if (name == "operationNotAllowed") return operationNotAllowed();
    if (name == "pen") return pen();
    if (name == "zoomIn") return zoom(true);
    if (name == "zoomOut") return zoom(false);
    return arrow();
}

void Cursor::set() const {
    QWidget* w = QApplication::widgetAt(QCursor::pos());
    if (!w) w = QApplication::activeWindow();
    if (w) w->setCursor(qt::toQCursor(*this));
}

void Cursor::hide() {
    if (g_hideCount++ == 0) QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
}

void Cursor::unhide() {
    if (g_hideCount == 0) return;
    if (--g_hideCount == 0) QGuiApplication::restoreOverrideCursor();
}

bool Cursor::isHidden() {
    return g_hideCount > 0;
}

namespace qt {

QCursor toQCursor(const Cursor& c) {
    switch (c.shape()) {
        case Cursor::Shape::Arrow:
            return Qt::ArrowCursor;
        case Cursor::Shape::IBeam:
            return Qt::IBeamCursor;
        case Cursor::Shape::Crosshair:
            return Qt::CrossCursor;
        case Cursor::Shape::PointingHand:
            return Qt::PointingHandCursor;
        case Cursor::Shape::OpenHand:
            return Qt::OpenHandCursor;
        case Cursor::Shape::ClosedHand:
            return Qt::ClosedHandCursor;
        case Cursor::Shape::ResizeLeftRight:
            return Qt::SizeHorCursor;
        case Cursor::Shape::ResizeUpDown:
            return Qt::SizeVerCursor;
        case Cursor::Shape::ResizeDiagonalNWSE:
            return Qt::SizeFDiagCursor;
        case Cursor::Shape::ResizeDiagonalNESW:
            return Qt::SizeBDiagCursor;
        case Cursor::Shape::OperationNotAllowed:
            return Qt::ForbiddenCursor;
        case Cursor::Shape::DragCopy:
            return Qt::DragCopyCursor;
        case Cursor::Shape::Custom:
            break;
    }
    if (c.image().isNull()) return Qt::ArrowCursor;
    QPixmap pm = QPixmap::fromImage(wrap(c.image()).copy());
    pm.setDevicePixelRatio(c.image().scale());
    return QCursor(pm, int(c.hotSpot().x), int(c.hotSpot().y));
}

}  // namespace qt
}  // namespace kit
