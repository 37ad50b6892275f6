// Notifications against a private session bus: with a small fake
// notification server (this test program run again as a child) and without
// one. Each side runs in its own process, since a process keeps the session
// bus it first connected to.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusMetaType>
#include <QtDBus/QDBusVirtualObject>
#include <cstdlib>

#include "kit/desktop/UserNotifications.h"
#include "support/EventLoopWait.h"

using namespace kit;

namespace {

bool isChild(const char* role) {
    const char* r = std::getenv("KADRIX_NOTIFY_ROLE");
    return r && std::string(r) == role;
}

using testsupport::pump;

// The fake server: answers GetServerInformation and Notify (recording the
// call in a file), then invokes the notification's default action.
class FakeServer : public QDBusVirtualObject {
public:
    QString log;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.member() == "GetServerInformation") {
            bus.send(m.createReply(QVariantList{"fake", "kadrix-tests", "1", "1.2"}));
            return true;
        }
        if (m.member() == "Notify") {
            auto a = m.arguments();
            const QVariantMap hints = qdbus_cast<QVariantMap>(a[6]);
            QFile f(log);
            if (f.open(QIODevice::Append))
                f.write((a[3].toString() + "|" + a[4].toString() + "|" + a[5].toStringList().join(",") + "|" +
                         hints.value("sound-name").toString() + "|" + QString::number(a[7].toInt()) + "\n")
                            .toUtf8());
            // A slow server: the reply comes a second later.
            QDBusMessage reply = m.createReply(QVariantList{uint(42)});
            QTimer::singleShot(1000, [bus, reply] { QDBusConnection(bus).send(reply); });
            QTimer::singleShot(1100, [bus] {
                // Someone else's notification first: it must not trigger ours.
                auto other = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                        "org.freedesktop.Notifications", "ActionInvoked");
                other << uint(41) << QString("default");
                QDBusConnection(bus).send(other);
                auto sig = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                      "org.freedesktop.Notifications", "ActionInvoked");
                sig << uint(42) << QString("default");
                QDBusConnection(bus).send(sig);
            });
            return true;
        }
        return false;
    }
};

struct PrivateBus {
    QProcess daemon;
    QString address;
    PrivateBus() {
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon.waitForStarted(5000)) return;
        QElapsedTimer t;
        t.start();
        while (!daemon.canReadLine() && t.elapsed() < 5000) daemon.waitForReadyRead(100);
        address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~PrivateBus() {
        daemon.terminate();
        daemon.waitForFinished(2000);
    }
};

QProcess* startChild(const QString& role, const QString& address, const QString& log) {
    auto* p = new QProcess;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("KADRIX_NOTIFY_ROLE", role);
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    env.insert("KADRIX_NOTIFY_LOG", log);
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedChannels);
    p->start(QCoreApplication::applicationFilePath(), {"--gtest_filter=UserNotificationsChild." + role});
    return p;
}

int waitChild(QProcess* p, int ms) {
    p->waitForFinished(ms);
    int code =
        p->state() == QProcess::NotRunning && p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    if (p->state() != QProcess::NotRunning) p->kill(), p->waitForFinished(1000);
    delete p;
    return code;
}

}  // namespace

TEST(UserNotificationsChild, Server) {
    if (!isChild("Server")) GTEST_SKIP() << "runs as a child process only";
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    FakeServer server;
    server.log = QString::fromLocal8Bit(std::getenv("KADRIX_NOTIFY_LOG"));
    ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/Notifications", &server));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    pump(8000);
}

TEST(UserNotificationsChild, Client) {
    if (!isChild("Client")) GTEST_SKIP() << "runs as a child process only";
    bool granted = false, answered = false;
    UserNotifications::requestAuthorization([&](bool g) { granted = g, answered = true; });
    pump(5000, [&] { return answered; });
    ASSERT_TRUE(granted);
    bool clicked = false;
    uint32_t id = 0;
    QElapsedTimer posting;
    posting.start();
    UserNotifications::post(
        {"Saved", "SCR-1.png", true, false, "Show"}, [&] { clicked = true; },
        [&](uint32_t given) { id = given; });
    // The server takes a second to answer; posting does not wait for it.
    EXPECT_LT(posting.elapsed(), 500);
    EXPECT_EQ(id, 0u);
    pump(5000, [&] { return clicked; });
    EXPECT_EQ(id, 42u);
    EXPECT_TRUE(clicked) << "invoking the action runs the callback";
    // A warning: the desktop's warning sound, and the usual display time.
    bool warned = false;
    UserNotifications::post({"Can't save", "disk full", true, true}, {}, [&](uint32_t) { warned = true; });
    pump(5000, [&] { return warned; });
    EXPECT_TRUE(warned);
}

TEST(UserNotificationsChild, NoServer) {
    if (!isChild("NoServer")) GTEST_SKIP() << "runs as a child process only";
    bool granted = true, answered = false;
    UserNotifications::requestAuthorization([&](bool g) { granted = g, answered = true; });
    pump(8000, [&] { return answered; });
    EXPECT_TRUE(answered);
    EXPECT_FALSE(granted);
    EXPECT_FALSE(UserNotifications::isAuthorized(1000));
    bool posted = false;
    uint32_t id = 99;
    UserNotifications::post(
        {"t", "b"}, [] {}, [&](uint32_t given) { id = given, posted = true; });
    pump(8000, [&] { return posted; });
    EXPECT_EQ(id, 0u);
}

TEST(UserNotifications, ReachAFakeServerAndRunTheActionOnClick) {
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
    QString log = QString::fromLocal8Bit(std::getenv("KADRIX_HOME")) + "/notify.log";
    QProcess* server = startChild("Server", bus.address, log);
    // Wait until the fake server owns its name.
    auto probe = QDBusConnection::connectToBus(bus.address, "kadrix-probe");
    QElapsedTimer t;
    t.start();
    while (!probe.interface()->isServiceRegistered("org.freedesktop.Notifications") && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(waitChild(startChild("Client", bus.address, log), 20000), 0);
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()),
              "Saved|SCR-1.png|default,Show|message-new-instant|-1\n"
              "Can't save|disk full||dialog-warning|-1\n");
    QDBusConnection::disconnectFromBus("kadrix-probe");
    server->kill();
    waitChild(server, 2000);
}

TEST(UserNotifications, RefusedWhenNoServerAnswers) {
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
    EXPECT_EQ(waitChild(startChild("NoServer", bus.address, {}), 20000), 0);
    // And with no bus at all.
    EXPECT_EQ(waitChild(startChild("NoServer", "unix:path=/nonexistent/kadrix-bus", {}), 20000), 0);
}
