// Single instance: a second process hands its URLs to the first over the
// per-user socket. The second process is this test program run again with
// one test selected.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "kit/base/UrlEvents.h"

using namespace kit;

TEST(UrlEvents, FindsKadrixUrlsAmongArguments) {
    auto urls = UrlEvents::urlsInArguments(
        {"/usr/bin/kadrix", "KADRIX://grab/area", "kadrix:", "file.png", "kadrix://show?x=1"});
    EXPECT_EQ(urls, (std::vector<std::string>{"KADRIX://grab/area", "kadrix://show?x=1"}));
}

// Runs only as the child of the test below.
TEST(UrlEventsChild, Forward) {
    const char* url = std::getenv("KADRIX_URL_CHILD");
    if (!url) GTEST_SKIP() << "runs as a child process only";
    std::vector<std::string> msgs;
    if (*url) msgs.push_back(url);
    auto role = UrlEvents::claimSingleInstance(msgs);
    EXPECT_EQ(role, UrlEvents::Role::Forwarded);
}

namespace {

int runChild(const std::string& url) {
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("KADRIX_URL_CHILD", QString::fromStdString(url));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=UrlEventsChild.Forward"});
    // The parent must keep its loop turning to accept the connection.
    QElapsedTimer t;
    t.start();
    while (child.state() != QProcess::NotRunning && t.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        child.waitForFinished(20);
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

void pumpUntil(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

TEST(UrlEvents, ASecondLaunchForwardsItsUrlsToTheFirst) {
    ASSERT_EQ(UrlEvents::claimSingleInstance({}), UrlEvents::Role::Primary);
    std::vector<std::string> got;
    EXPECT_EQ(runChild("kadrix://grab/area?then=copy"), 0);
    EXPECT_EQ(runChild(""), 0);
    // URLs that came before the handler are kept for it.
    UrlEvents::setHandler([&](const std::string& u) { got.push_back(u); });
    pumpUntil([&] { return got.size() >= 2; });
    EXPECT_EQ(got, (std::vector<std::string>{"kadrix://grab/area?then=copy", "kadrix://show"}));
    UrlEvents::setHandler({});
    UrlEvents::release();
}

TEST(UrlEvents, FilesOfALaterLaunchReachTheFileHandler) {
    std::string home = std::getenv("KADRIX_HOME");
    std::string file = home + "/shot 1%.png";
    { std::ofstream(file) << "png"; }
    auto files = UrlEvents::filesInArguments(
        {"/opt/kadrix/kadrix", "--verbose", "kadrix://show", file,
         QUrl::fromLocalFile(QString::fromStdString(file)).toString(QUrl::FullyEncoded).toStdString(),
         home + "/missing.png", home});
    // Handed over unlooked at, by path or URL: the running Kadrix judges them.
    EXPECT_EQ(files, (std::vector<std::string>{file, file, home + "/missing.png", home}));

    ASSERT_EQ(UrlEvents::claimSingleInstance({}), UrlEvents::Role::Primary);
    std::vector<std::string> urls, paths;
    UrlEvents::setHandler([&](const std::string& u) { urls.push_back(u); });
    EXPECT_EQ(runChild(UrlEvents::fileMessage(file)), 0);
    EXPECT_EQ(runChild("kadrix://ocr"), 0);
    pumpUntil([&] { return !urls.empty(); });
    UrlEvents::setFileHandler([&](const std::string& p) { paths.push_back(p); });
    EXPECT_EQ(paths, std::vector<std::string>{file}) << "kept until the handler came";
    EXPECT_EQ(urls, std::vector<std::string>{"kadrix://ocr"}) << "a file is no URL event";
    UrlEvents::setHandler({});
    UrlEvents::setFileHandler({});
    UrlEvents::release();
}

// An argument that holds a line break once arrived as two messages, the
// second a file that skipped the first launch's regular-file check (a FIFO
// named x.png then froze the instance in open()).
TEST(UrlEvents, OneArgumentWithALineBreakStaysOneLink) {
    const std::string fifo = std::string(std::getenv("KADRIX_HOME")) + "/x.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string argument = "kadrix://show\nfile://" + fifo;
    ASSERT_EQ(UrlEvents::claimSingleInstance({}), UrlEvents::Role::Primary);
    std::vector<std::string> urls, paths;
    UrlEvents::setHandler([&](const std::string& u) { urls.push_back(u); });
    UrlEvents::setFileHandler([&](const std::string& p) { paths.push_back(p); });
    EXPECT_EQ(runChild(argument), 0);
    pumpUntil([&] { return !urls.empty() || !paths.empty(); });
    EXPECT_EQ(urls, std::vector<std::string>{"kadrix://show%0Afile://" + fifo});
    EXPECT_TRUE(paths.empty()) << "no file came out of a link";
    UrlEvents::setHandler({});
    UrlEvents::setFileHandler({});
    UrlEvents::release();
    ::unlink(fifo.c_str());
}

TEST(UrlEvents, AnInstanceTooBusyToAnswerAtOnceGetsTheUrlOnlyOnce) {
    ASSERT_EQ(UrlEvents::claimSingleInstance({}), UrlEvents::Role::Primary);
    std::vector<std::string> got;
    UrlEvents::setHandler([&](const std::string& u) { got.push_back(u); });
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("KADRIX_URL_CHILD", "kadrix://grab/fullscreen?then=save");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=UrlEventsChild.Forward"});
    ASSERT_TRUE(child.waitForStarted(5000));
    // The main thread is busy (a save, say) for longer than a sender waits
    // for its first answer; the connection waits in the backlog meanwhile.
    ::sleep(3);
    QElapsedTimer t;
    t.start();
    while (child.state() != QProcess::NotRunning && t.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        child.waitForFinished(20);
    }
    pumpUntil([&] { return !got.empty(); });
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(got, (std::vector<std::string>{"kadrix://grab/fullscreen?then=save"}));
    UrlEvents::setHandler({});
    UrlEvents::release();
}

TEST(UrlEvents, JunkFromTheSocketIsDropped) {
    ASSERT_EQ(UrlEvents::claimSingleInstance({}), UrlEvents::Role::Primary);
    std::vector<std::string> got;
    UrlEvents::setHandler([&](const std::string& u) { got.push_back(u); });
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = UrlEvents::socketPath();
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::string data = std::string(
                           "bin\x01\x02"
                           "ary\n\n",
                           10) +
                       "kadrix://ocr\nkadrix://last";
    ASSERT_EQ(::write(fd, data.data(), data.size()), ssize_t(data.size()));
    ::close(fd);
    pumpUntil([&] { return got.size() >= 2; });
    EXPECT_EQ(got, (std::vector<std::string>{"kadrix://ocr", "kadrix://last"}));
    UrlEvents::setHandler({});
    UrlEvents::release();
}

namespace {

std::string readFile(const std::string& p) {
    std::ifstream f(p);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// A private desktop: user folders under KADRIX_HOME, system folders under it too.
struct DesktopDirs {
    std::string home = std::getenv("KADRIX_HOME");
    std::string system = home + "/system";
    DesktopDirs() {
        std::filesystem::remove_all(home + "/applications");
        std::filesystem::remove(home + "/mimeapps.list");
        std::filesystem::remove_all(system);
        std::filesystem::create_directories(system + "/share/applications");
        std::filesystem::create_directories(system + "/etc");
        setenv("XDG_DATA_DIRS", (system + "/share").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (system + "/etc").c_str(), 1);
    }
    ~DesktopDirs() {
        unsetenv("XDG_DATA_DIRS");
        unsetenv("XDG_CONFIG_DIRS");
    }
    std::string entry() const { return readFile(home + "/applications/kadrix.desktop"); }
    std::string list() const { return readFile(home + "/mimeapps.list"); }
};

}  // namespace

TEST(UrlEvents, RegistersTheSchemeHandlerOnlyWhereNoneIs) {
    DesktopDirs d;
    {
        std::ofstream(d.home + "/mimeapps.list")
            << "[Added Associations]\nimage/png=viewer.desktop;\n\n"
               "[Default Applications]\ntext/html=browser.desktop\n\n[Other]\na=b\n";
    }
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/bin/sh"), UrlEvents::Registration::Written);
    EXPECT_NE(d.entry().find("Exec=\"/bin/sh\" %u\n"), std::string::npos);
    EXPECT_NE(d.entry().find("MimeType=x-scheme-handler/kadrix;image/png;image/jpeg;\n"), std::string::npos);
    EXPECT_EQ(d.list(),
              "[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n"
              "text/html=browser.desktop\nx-scheme-handler/kadrix=kadrix.desktop\n\n[Other]\na=b\n")
        << "only the scheme's own default is added";

    // Our entry runs a program that exists: a later launch (another build) leaves it.
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/opt/other/kadrix"), UrlEvents::Registration::Kept);
    EXPECT_NE(d.entry().find("Exec=\"/bin/sh\" %u\n"), std::string::npos);

    // Its program is gone: the entry follows the program that runs now.
    {
        std::ofstream(d.home + "/applications/kadrix.desktop")
            << "[Desktop Entry]\nExec=\"/gone/100%%/kadrix\" %u\n"
               "X-Kadrix-Registered=true\n";
    }
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/opt/100%u/kadrix"), UrlEvents::Registration::Written);
    EXPECT_NE(d.entry().find("Exec=\"/opt/100%%u/kadrix\" %u\n"), std::string::npos)
        << "a percent sign in the path is no field code";
    EXPECT_EQ(d.list().find("x-scheme-handler/kadrix=kadrix.desktop"),
              d.list().rfind("x-scheme-handler/kadrix="));

    // An entry the user wrote is never replaced, even when its program is gone.
    {
        std::ofstream(d.home + "/applications/kadrix.desktop")
            << "[Desktop Entry]\nExec=\"/gone/kadrix\" %u\n";
    }
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/bin/sh"), UrlEvents::Registration::Kept);
    EXPECT_EQ(d.entry(), "[Desktop Entry]\nExec=\"/gone/kadrix\" %u\n");

    EXPECT_EQ(UrlEvents::registerSchemeHandler("relative/kadrix"), UrlEvents::Registration::Failed);
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/tmp/$(evil)/kadrix"), UrlEvents::Registration::Failed);
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/tmp/a\"b"), UrlEvents::Registration::Failed);
}

TEST(UrlEvents, NeverOverridesAnotherHandler) {
    {
        DesktopDirs d;
        std::string choice = "[Default Applications]\nx-scheme-handler/kadrix=mine.desktop\n";
        { std::ofstream(d.home + "/mimeapps.list") << choice; }
        EXPECT_EQ(UrlEvents::registerSchemeHandler("/bin/sh"), UrlEvents::Registration::Kept)
            << "the user's choice";
        EXPECT_EQ(d.list(), choice);
        EXPECT_FALSE(std::filesystem::exists(d.home + "/applications/kadrix.desktop"));
    }
    {
        DesktopDirs d;
        { std::ofstream(d.system + "/share/applications/kadrix.desktop") << "[Desktop Entry]\n"; }
        EXPECT_EQ(UrlEvents::registerSchemeHandler("/bin/sh"), UrlEvents::Registration::Kept)
            << "an installed entry";
        EXPECT_FALSE(std::filesystem::exists(d.home + "/applications/kadrix.desktop"));
    }
    {
        DesktopDirs d;
        {
            std::ofstream(d.system + "/share/applications/mimeinfo.cache")
                << "[MIME Cache]\nx-scheme-handler/kadrix=other.desktop;\n";
        }
        EXPECT_EQ(UrlEvents::registerSchemeHandler("/bin/sh"), UrlEvents::Registration::Kept)
            << "an installed program declaring the scheme";
    }
    {
        DesktopDirs d;
        // A default left naming our entry after it was removed does not count.
        {
            std::ofstream(d.system + "/etc/mimeapps.list")
                << "[Default Applications]\nx-scheme-handler/kadrix=kadrix.desktop\n";
        }
        EXPECT_EQ(UrlEvents::registerSchemeHandler("/bin/sh"), UrlEvents::Registration::Written);
        EXPECT_EQ(d.list(), "") << "a default is there already";
    }
}

TEST(UrlEvents, AnInstalledEntryIsNeverShadowed) {
    DesktopDirs d;
    // Written while running from a build folder, before the package was installed.
    ASSERT_EQ(UrlEvents::registerSchemeHandler("/bin/sh"), UrlEvents::Registration::Written);
    std::string list = d.list();
    { std::ofstream(d.system + "/share/applications/kadrix.desktop") << "[Desktop Entry]\nExec=kadrix %U\n"; }
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/usr/bin/kadrix"), UrlEvents::Registration::Kept);
    EXPECT_FALSE(std::filesystem::exists(d.home + "/applications/kadrix.desktop"))
        << "our copy under the same name would hide the installed one";
    EXPECT_EQ(d.list(), list) << "the default names the file, which is now the installed entry";
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/bin/sh"), UrlEvents::Registration::Kept)
        << "a build run beside the installed program writes nothing";
    EXPECT_FALSE(std::filesystem::exists(d.home + "/applications/kadrix.desktop"));

    // An entry the user wrote under that name is the user's to keep.
    { std::ofstream(d.home + "/applications/kadrix.desktop") << "[Desktop Entry]\nExec=\"/bin/sh\" %u\n"; }
    EXPECT_EQ(UrlEvents::registerSchemeHandler("/usr/bin/kadrix"), UrlEvents::Registration::Kept);
    EXPECT_TRUE(std::filesystem::exists(d.home + "/applications/kadrix.desktop"));
}

TEST(UrlEvents, FileNamesThatAreNotUtf8SurviveTheTrip) {
    std::string home = std::getenv("KADRIX_HOME");
    std::string file = home + "/caf\xe9 100%.png";
    { std::ofstream(file) << "png"; }
    std::string message = UrlEvents::fileMessage(file);
    EXPECT_TRUE(UrlEvents::isValidUtf8(message));
    EXPECT_NE(message.find("caf%E9%20100%25.png"), std::string::npos);
    EXPECT_EQ(UrlEvents::pathFromFileURL(message), file);
    EXPECT_EQ(UrlEvents::filesInArguments({"kadrix", message, file}), (std::vector<std::string>{file, file}));
    EXPECT_EQ(UrlEvents::pathFromFileURL("file://localhost/a%2Fb"), "/a/b");
    EXPECT_EQ(UrlEvents::pathFromFileURL("file://evil.example/etc/passwd"), "") << "another host's file";
    EXPECT_EQ(UrlEvents::pathFromFileURL("file:///a%00b"), "") << "a NUL inside";
    EXPECT_EQ(UrlEvents::pathFromFileURL("file:///a%4"), "") << "a cut escape";

    ASSERT_EQ(UrlEvents::claimSingleInstance({}), UrlEvents::Role::Primary);
    std::vector<std::string> paths;
    UrlEvents::setFileHandler([&](const std::string& p) { paths.push_back(p); });
    EXPECT_EQ(runChild(message), 0);
    pumpUntil([&] { return !paths.empty(); });
    EXPECT_EQ(paths, std::vector<std::string>{file});
    UrlEvents::setFileHandler({});
    UrlEvents::release();
}

TEST(UrlEvents, Utf8Check) {
    EXPECT_TRUE(UrlEvents::isValidUtf8("kadrix://lib/search=caf\xc3\xa9 \xf0\x9f\x93\xb7"));
    EXPECT_FALSE(UrlEvents::isValidUtf8("caf\xe9"));
    EXPECT_FALSE(UrlEvents::isValidUtf8("\xc0\xaf")) << "overlong";
    EXPECT_FALSE(UrlEvents::isValidUtf8("\xed\xa0\x80")) << "surrogate";
    EXPECT_FALSE(UrlEvents::isValidUtf8("\xf4\x90\x80\x80")) << "beyond U+10FFFF";
    EXPECT_FALSE(UrlEvents::isValidUtf8("\xe2\x82")) << "cut short";
}

namespace {

int connectToInstance() {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = UrlEvents::socketPath();
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the instance closed the connection (reads end-of-file) by now.
bool closedByInstance(int fd) {
    char c;
    ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN);
}

}  // namespace

TEST(UrlEvents, SilentOrFloodingSendersAreCutOff) {
    ASSERT_EQ(UrlEvents::claimSingleInstance({}), UrlEvents::Role::Primary);
    std::vector<std::string> got;
    UrlEvents::setHandler([&](const std::string& u) { got.push_back(u); });

    int silent = connectToInstance();
    ASSERT_GE(silent, 0);
    int flood = connectToInstance();
    ASSERT_GE(flood, 0);
    std::string chunk = "kadrix://show\n" + std::string(100 * 1024, 'a');
    ::send(flood, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    pumpUntil([&] { return closedByInstance(flood); });
    EXPECT_TRUE(closedByInstance(flood)) << "a line past the cap ends the connection";
    EXPECT_FALSE(closedByInstance(silent)) << "still within its time";
    QElapsedTimer t;
    t.start();
    pumpUntil([&] { return closedByInstance(silent); });
    EXPECT_TRUE(closedByInstance(silent)) << "a sender that never finishes is dropped";
    EXPECT_LT(t.elapsed(), 3000);
    ::close(silent);
    ::close(flood);

    // Others are still heard, and nothing of the cut-off sender counted.
    EXPECT_EQ(runChild("kadrix://ocr"), 0);
    pumpUntil([&] { return !got.empty(); });
    EXPECT_EQ(got, std::vector<std::string>{"kadrix://ocr"});
    UrlEvents::setHandler({});
    UrlEvents::release();
}

// Runs only as a child of the test below: claims the instance with its URL
// and, as the instance, listens a while and prints what it hears.
TEST(UrlEventsChild, Race) {
    const char* url = std::getenv("KADRIX_RACE_CHILD");
    if (!url) GTEST_SKIP() << "runs as a child process only";
    auto role = UrlEvents::claimSingleInstance({url});
    ASSERT_NE(role, UrlEvents::Role::Failed);
    if (role == UrlEvents::Role::Forwarded) {
        std::printf("ROLE forwarded\n");
        return;
    }
    std::printf("ROLE primary\n");
    UrlEvents::setHandler([](const std::string& u) { std::printf("GOT %s\n", u.c_str()); });
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1200) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    UrlEvents::release();
}

TEST(UrlEvents, TwoLaunchesAtOnceLeaveOneInstanceThatHearsTheOther) {
    for (int round = 0; round < 2; ++round) {
        QProcess a, b;
        for (auto [p, url] : {std::pair{&a, "kadrix://a"}, std::pair{&b, "kadrix://b"}}) {
            auto env = QProcessEnvironment::systemEnvironment();
            env.insert("KADRIX_RACE_CHILD", url);
            p->setProcessEnvironment(env);
        }
        a.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=UrlEventsChild.Race"});
        b.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=UrlEventsChild.Race"});
        ASSERT_TRUE(a.waitForFinished(15000));
        ASSERT_TRUE(b.waitForFinished(15000));
        EXPECT_EQ(a.exitCode(), 0);
        EXPECT_EQ(b.exitCode(), 0);
        std::string out = a.readAllStandardOutput().toStdString() + b.readAllStandardOutput().toStdString();
        auto count = [&](const std::string& s) {
            size_t n = 0;
            for (size_t at = out.find(s); at != std::string::npos; at = out.find(s, at + 1)) ++n;
            return n;
        };
        EXPECT_EQ(count("ROLE primary"), 1u) << out;
        EXPECT_EQ(count("ROLE forwarded"), 1u) << out;
        EXPECT_EQ(count("GOT kadrix://"), 1u) << "the instance hears the other launch's URL\n" << out;
    }
}
