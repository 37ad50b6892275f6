// The style's standard icons (a menu bar's overflow arrow, a dialog's
// buttons) come from image files that Qt reads as soon as the icon is made,
// and Qt's first image read loads every image-format plugin with the
// libraries behind them. Widgets made at start-up but not yet shown would
// make every idle instance pay that, so each standard icon is read when it is
// first drawn or measured instead.
#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <optional>

#include "kit/ui/qt/ApplicationPrivate.h"

namespace kit::qt {

namespace {

class DeferredIconEngine : public QIconEngine {
public:
    DeferredIconEngine(const QStyle* style, QStyle::StandardPixmap which, const QWidget* widget)
        : style_(style), which_(which), widget_(widget) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        return icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    bool isNull() override { return icon().isNull(); }
    QString key() const override { return QStringLiteral("kadrix-deferred"); }
    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

private:
    QIcon& icon() {
        if (!icon_) {
            // The widget asked for may be gone by now; the icon then is the
            // style's general one.
            icon_ = style_ ? style_->standardIcon(which_, nullptr, widget_.data()) : QIcon();
        }
        return *icon_;
    }

    QPointer<const QStyle> style_;
    QStyle::StandardPixmap which_;
    QPointer<const QWidget> widget_;
    std::optional<QIcon> icon_;
};

class DeferredIconStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override {
        // An option describes a state that may not outlive the call.
        if (option) return QProxyStyle::standardIcon(which, option, widget);
        return QIcon(new DeferredIconEngine(baseStyle(), which, widget));
    }
};

}  // namespace

void deferStandardIcons(QApplication* app) {
    if (!app || dynamic_cast<DeferredIconStyle*>(QApplication::style())) return;
    // A style of the same kind as the one in force, which the proxy owns.
    QStyle* base = QStyleFactory::create(QApplication::style()->name());
    if (base) QApplication::setStyle(new DeferredIconStyle(base));
}

}  // namespace kit::qt
