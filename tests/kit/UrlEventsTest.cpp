// Single instance: a second process hands its URLs to the first over the
// per-user socket. The second process is this test program run again with
// one test selected.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QUrl>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "kit/UrlEvents.h"

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
    EXPECT_EQ(files, (std::vector<std::string>{file, file})) << "existing files only, by path or URL";

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

TEST(UrlEvents, RegistersTheSchemeHandlerKeepingOtherDefaults) {
    std::string home = std::getenv("KADRIX_HOME");
    {
        std::ofstream list(home + "/mimeapps.list");
        list << "[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n"
                "text/html=browser.desktop\nx-scheme-handler/kadrix=old.desktop\n\n[Other]\na=b\n";
    }
    ASSERT_TRUE(UrlEvents::registerSchemeHandler("/opt/kadrix app/kadrix"));
    auto read = [](const std::string& p) {
        std::ifstream f(p);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    std::string entry = read(home + "/applications/kadrix.desktop");
    EXPECT_NE(entry.find("Exec=\"/opt/kadrix app/kadrix\" %u\n"), std::string::npos);
    EXPECT_NE(entry.find("MimeType=x-scheme-handler/kadrix;image/png;image/jpeg;\n"), std::string::npos);
    EXPECT_EQ(read(home + "/mimeapps.list"),
              "[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n"
              "text/html=browser.desktop\nx-scheme-handler/kadrix=kadrix.desktop\n\n[Other]\na=b\n");

    // A file without the section gets it; registering twice changes nothing more.
    { std::ofstream(home + "/mimeapps.list") << "[Added Associations]\nimage/png=viewer.desktop;\n"; }
    ASSERT_TRUE(UrlEvents::registerSchemeHandler("/usr/bin/kadrix"));
    ASSERT_TRUE(UrlEvents::registerSchemeHandler("/usr/bin/kadrix"));
    EXPECT_EQ(read(home + "/mimeapps.list"),
              "[Added Associations]\nimage/png=viewer.desktop;\n\n"
              "[Default Applications]\nx-scheme-handler/kadrix=kadrix.desktop\n");

    ASSERT_TRUE(UrlEvents::registerSchemeHandler("/opt/100%u/kadrix"));
    EXPECT_NE(read(home + "/applications/kadrix.desktop").find("Exec=\"/opt/100%%u/kadrix\" %u\n"),
              std::string::npos)
        << "a percent sign in the path is no field code";
    EXPECT_FALSE(UrlEvents::registerSchemeHandler("relative/kadrix"));
    EXPECT_FALSE(UrlEvents::registerSchemeHandler("/tmp/$(evil)/kadrix"));
    EXPECT_FALSE(UrlEvents::registerSchemeHandler("/tmp/a\"b"));
}
