#include "kit/base/Displays.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace kit::Displays {

namespace {

double primaryBottom() {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return 0;
    QRect g = s->geometry();
    return g.y() + g.height();
}

Rect flip(const QRect& r) {
    return {double(r.x()), primaryBottom() - r.y() - r.height(), double(r.width()), double(r.height())};
}

Display describe(QScreen* s) {
    Display d;
    d.name = s->name().toStdString();
    d.frame = flip(s->geometry());
    d.visibleFrame = flip(s->availableGeometry());
    d.scale = std::max(1.0, std::round(s->devicePixelRatio()));
    d.isPrimary = s == QGuiApplication::primaryScreen();
    return d;
}

}  // namespace

std::vector<Display> all() {
    std::vector<Display> out;
    if (QScreen* p = QGuiApplication::primaryScreen()) out.push_back(describe(p));
    for (QScreen* s : QGuiApplication::screens())
        if (s != QGuiApplication::primaryScreen()) out.push_back(describe(s));
    return out;
}

Display primary() {
    QScreen* p = QGuiApplication::primaryScreen();
    return p ? describe(p) : Display{};
}

Display main() {
    if (QWidget* w = QApplication::activeWindow())
        if (QScreen* s = w->screen()) return describe(s);
    return primary();
}

std::optional<Display> at(Point p) {
    for (auto& d : all())
        if (d.frame.contains(p)) return d;
    return std::nullopt;
}

std::vector<Display> intersecting(const Rect& r) {
    std::vector<Display> out;
    for (auto& d : all())
        if (d.frame.intersects(r.standardized())) out.push_back(d);
    return out;
}

Point pointerLocation() {
    return fromWindowServer(Point{double(QCursor::pos().x()), double(QCursor::pos().y())});
}

Rect toWindowServer(const Rect& r) {
    Rect s = r.standardized();
    return {s.x(), primaryBottom() - s.y() - s.height(), s.width(), s.height()};
}
Rect fromWindowServer(const Rect& r) {
    return toWindowServer(r);
}  // the flip is its own inverse
Point toWindowServer(Point p) {
    return {p.x, primaryBottom() - p.y};
}
Point fromWindowServer(Point p) {
    return toWindowServer(p);
}

}  // namespace kit::Displays
