#include "kit/desktop/UserNotifications.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMetaMethod>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace kit::UserNotifications {

namespace {

const QString kService = "org.freedesktop.Notifications";
const QString kPath = "/org/freedesktop/Notifications";
const QString kInterface = "org.freedesktop.Notifications";

// Receives the service's ActionInvoked and NotificationClosed signals. The
// build has no meta-object compiler, so the receiver borrows QObject's own
// deleteLater() slot and intercepts the call, reading the signal's
// arguments from the D-Bus context of the delivery.
class SignalReceiver : public QObject, public QDBusContext {
public:
    std::map<uint32_t, std::function<void()>> actions;

    SignalReceiver() { slot_ = QObject::staticMetaObject.indexOfSlot("deleteLater()"); }

    void* qt_metacast(const char* name) override {
        if (name && std::strcmp(name, "QDBusContext") == 0) return static_cast<QDBusContext*>(this);
        return QObject::qt_metacast(name);
    }

    int qt_metacall(QMetaObject::Call call, int id, void** args) override {
        if (call == QMetaObject::InvokeMetaMethod && id == slot_ && calledFromDBus()) {
            handle(message());
            return -1;
        }
        return QObject::qt_metacall(call, id, args);
    }

private:
    int slot_ = -1;

    void handle(const QDBusMessage& msg) {
        QList<QVariant> a = msg.arguments();
        if (a.isEmpty()) return;
        uint32_t id = a[0].toUInt();
        auto it = actions.find(id);
        if (it == actions.end()) return;  // another application's notification
        if (msg.member() == "ActionInvoked") {
            auto action = it->second;
            actions.erase(it);
            if (action) action();
        } else if (msg.member() == "NotificationClosed") {
            actions.erase(it);
        }
    }
};

SignalReceiver* receiver() {
    static SignalReceiver* r = [] {
        auto* rec = new SignalReceiver;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            bus.connect(kService, kPath, kInterface, "ActionInvoked", rec, SLOT(deleteLater()));
            bus.connect(kService, kPath, kInterface, "NotificationClosed", rec, SLOT(deleteLater()));
        }
        return rec;
    }();
    return r;
}

QDBusMessage serverInformationCall() {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetServerInformation");
}

}  // namespace

void requestAuthorization(std::function<void(bool)> answer) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, [answer] {
            if (answer) answer(false);
        });
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(serverInformationCall(), 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [answer](QDBusPendingCallWatcher* w) {
        bool ok = !w->isError();
        if (!ok) {
            const QDBusError error = w->error();
            std::fprintf(stderr, "kit: the notification service did not answer: %s: %s\n",
                         qPrintable(error.name()), qPrintable(error.message()));
        }
        w->deleteLater();
        if (answer) answer(ok);
    });
}

bool isAuthorized(int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage reply = bus.call(serverInformationCall(), QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void post(const Notification& n, std::function<void()> onClick, std::function<void(uint32_t)> posted) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, [posted] {
            if (posted) posted(0);
        });
        return;
    }
    SignalReceiver* rec = receiver();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    QStringList actions;
    // "default" is what a click on the notification itself invokes.
    if (onClick) actions << "default" << QString::fromStdString(n.actionTitle);
    QVariantMap hints;
    hints["urgency"] = QVariant::fromValue(uchar(1));
    if (n.warning)
        hints["sound-name"] = QString("dialog-warning");
    else if (n.sound)
        hints["sound-name"] = QString("message-new-instant");
    else
        hints["suppress-sound"] = true;
    // The server's default display time (-1): a warning goes away like any notice.
    call << QString("Kadrix") << uint(0) << QString("kadrix") << QString::fromStdString(n.title)
         << QString::fromStdString(n.body) << actions << hints << int(-1);
    // Never waits on the main thread: a server that is slow (or hangs) does
    // not stall the application; the id arrives with the reply.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [rec, onClick = std::move(onClick), posted](QDBusPendingCallWatcher* w) {
                         QDBusMessage reply = w->reply();
                         w->deleteLater();
                         uint32_t id = 0;
                         if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                             id = reply.arguments().first().toUInt();
                         if (id != 0 && onClick) rec->actions[id] = onClick;
                         if (posted) posted(id);
                     });
}

void close(uint32_t id) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || id == 0) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "CloseNotification");
    call << uint(id);
    bus.call(call, QDBus::NoBlock);
    receiver()->actions.erase(id);
}

}  // namespace kit::UserNotifications
