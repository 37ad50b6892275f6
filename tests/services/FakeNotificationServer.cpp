// A stand-in for the desktop's notification server, for the system test on a
// private session bus (display_test.sh runs it as its own process). It
// answers GetServerInformation and Notify, writes "title<TAB>body" of every
// notice to $KADRIX_FAKE_SERVER_LOG, and clicks each notice 0.3 s after it
// arrived by sending ActionInvoked(id, "default").
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTimer>
#include <csignal>
#include <cstdlib>

namespace {
const QString kPath = "/org/freedesktop/Notifications";
const QString kInterface = "org.freedesktop.Notifications";

class FakeServer : public QDBusVirtualObject {
public:
    explicit FakeServer(QString log) : log_(std::move(log)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == "GetServerInformation") {
            connection.send(message.createReply(QVariantList{"fake", "kadrix-tests", "1.0", "1.2"}));
        } else if (member == "GetCapabilities") {
            connection.send(message.createReply(QVariant(QStringList{"actions", "body"})));
        } else if (member == "Notify") {
            QList<QVariant> a = message.arguments();
            uint id = ++lastId_;
            QFile file(log_);
            if (file.open(QIODevice::Append)) {
                file.write((a.value(3).toString() + "\t" + a.value(4).toString() + "\n").toUtf8());
            }
            connection.send(message.createReply(QVariant(id)));
            QDBusConnection bus = connection;
            QTimer::singleShot(300, [bus, id]() mutable {
                QDBusMessage click = QDBusMessage::createSignal(kPath, kInterface, "ActionInvoked");
                click << id << QString("default");
                bus.send(click);
            });
        } else if (member == "CloseNotification") {
            connection.send(message.createReply());
        } else {
            return false;
        }
        return true;
    }

private:
    QString log_;
    uint lastId_ = 0;
};
}  // namespace

TEST(FakeNotificationServer, Serve) {
    const char* log = std::getenv("KADRIX_FAKE_SERVER_LOG");
    if (!log) GTEST_SKIP() << "runs only as the system test's notification server";
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    FakeServer server(QString::fromUtf8(log));
    ASSERT_TRUE(bus.registerVirtualObject(kPath, &server));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    // Serves until the test script ends it, or the script itself ends. No
    // clock of its own: a script slowed by a busy machine ran past the minute
    // it once served, and its later notices fell back to the toast.
    pid_t script = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != script) return;
    QCoreApplication::exec();
}
