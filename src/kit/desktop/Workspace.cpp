#include "kit/desktop/Workspace.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace kit::Workspace {

bool openURL(const std::string& url) {
    QUrl u(QString::fromStdString(url), QUrl::StrictMode);
    if (!u.isValid() || u.scheme().isEmpty()) return false;
    // The other platform's settings panes ("x-apple.systempreferences:…")
    // have no handler here; handing them to xdg-open would only show an
    // error to the user while we reported success.
    if (u.scheme().startsWith("x-apple.", Qt::CaseInsensitive)) return false;
    return QDesktopServices::openUrl(u);
}

bool openFile(const std::string& path) {
    QFileInfo info(QString::fromStdString(path));
    if (!info.exists()) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

bool revealFile(const std::string& path) {
    QFileInfo info(QString::fromStdString(path));
    if (!info.exists()) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = "org.freedesktop.FileManager1";
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(service)) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(service, "/org/freedesktop/FileManager1", service, "ShowItems");
        call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
        QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
        if (reply.type() == QDBusMessage::ReplyMessage) return true;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

}  // namespace kit::Workspace
