#include "kit/ui/StatusItem.h"

#include <QCursor>
#include <QSystemTrayIcon>

#include "kit/base/Displays.h"
#include "kit/desktop/Grab.h"
#include "kit/ui/Menu.h"
#include "kit/ui/qt/MenuPrivate.h"

namespace kit {

struct StatusItem::Private {
    QSystemTrayIcon tray;
};

StatusItem::StatusItem() : d_(std::make_unique<Private>()) {
    QObject::connect(&d_->tray, &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         switch (reason) {
                             case QSystemTrayIcon::Trigger:
                             case QSystemTrayIcon::DoubleClick:
                                 performClick();
                                 break;
                             case QSystemTrayIcon::Context:
                                 // With a menu, the tray opens it itself on the secondary button.
                                 if (!menu_ && onClick) onClick(true);
                                 break;
                             case QSystemTrayIcon::MiddleClick:
                             case QSystemTrayIcon::Unknown:
                                 break;
                         }
                     });
}

StatusItem::~StatusItem() {
    d_->tray.setContextMenu(nullptr);
    d_->tray.hide();
}

bool StatusItem::isTrayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusItem::setImage(const Image& image) {
    image_ = image;
    d_->tray.setIcon(qt::iconFromImage(image));
}

void StatusItem::setToolTip(std::string tip) {
    d_->tray.setToolTip(QString::fromStdString(tip));
}

void StatusItem::setVisible(bool visible) {
    d_->tray.setVisible(visible);
}

bool StatusItem::isVisible() const {
    return d_->tray.isVisible();
}

void StatusItem::setMenu(std::shared_ptr<Menu> menu) {
    menu_ = std::move(menu);
    d_->tray.setContextMenu(menu_ ? qt::qmenu(*menu_) : nullptr);
}

void StatusItem::performClick() {
    if (menu_) {
        // A left click opens the menu too, below the icon when the tray says
        // where it is.
        QRect g = d_->tray.geometry();
        QPoint at = g.isValid() ? QPoint(g.left(), g.bottom() + 1) : QCursor::pos();
        qt::qmenu(*menu_)->popup(at);
        return;
    }
    if (onClick) onClick(false);
}

namespace {

std::optional<Rect> known(const QRect& g) {
    if (!g.isValid()) return std::nullopt;
    return Displays::fromWindowServer(Rect(g.x(), g.y(), g.width(), g.height()));
}

}  // namespace

Rect StatusItem::buttonFrame() const {
    if (auto frame = known(d_->tray.geometry())) return *frame;
    QPoint p = QCursor::pos();
    return Displays::fromWindowServer(Rect(p.x() - 11, p.y() - 11, 22, 22));
}

std::optional<Rect> StatusItem::trayFrame() const {
    if (!d_->tray.isVisible()) return std::nullopt;
    return known(d_->tray.geometry());
}

std::optional<bool> StatusItem::panelIsDark() const {
    QRect g = d_->tray.geometry();
    if (!g.isValid() || g.isEmpty()) return std::nullopt;
    return cornersAreDark(grabArea(Rect(g.x(), g.y(), g.width(), g.height())));
}

std::optional<bool> cornersAreDark(const Image& area) {
    if (area.isNull()) return std::nullopt;
    int right = area.width() - 1, bottom = area.height() - 1;
    double sum = 0;
    int opaque = 0;
    for (auto [x, y] :
         {std::pair{0, 0}, std::pair{right, 0}, std::pair{0, bottom}, std::pair{right, bottom}}) {
        Color c = area.colorAt(x, y);
        if (c.a < 0.9) continue;
        sum += 0.3 * c.r + 0.59 * c.g + 0.11 * c.b;
        ++opaque;
    }
    if (!opaque) return std::nullopt;
    return sum / opaque < 0.5;
}

}  // namespace kit
