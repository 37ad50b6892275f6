#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ServicesFixture.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Regex.h"
#include "services/Alerts.h"
#include "services/Announcer.h"
#include "services/Notifier.h"
#include "services/Site.h"
#include "services/SystemNotifications.h"
#include "services/Updater.h"
#include "support/LoopbackServer.h"

using namespace services;

namespace {
// Records what the update asks of the toast instead of showing a window.
class RecordingNotifier : public Notifier {
public:
    using Notifier::Notifier;
    std::vector<std::string> messages;
    std::string title, button;
    bool shown = false;
    int hides = 0;
    void showCustom(const std::string& t, const std::string& message, std::optional<kit::Color>,
                    std::optional<std::string> b, bool, std::optional<double>) override {
        title = t;
        button = b.value_or("");
        messages.push_back(message);
        shown = true;
    }
    void didShow() override { shown = true; }
    void setMessageText(const std::string& text) override { messages.push_back(text); }
    void hideNow() override {
        shown = false;
        ++hides;
    }
};

class NoNotifications : public SystemNotifications {
public:
    void requestAuthorization(bool, std::function<void(bool)> answer) override { answer(false); }
    void post(const std::string&, const std::string&, const std::string&, bool,
              std::function<void()>) override {}
};

class UpdaterTest : public ServicesFixture {
protected:
    void SetUp() override {
        ServicesFixture::SetUp();
        notifier =
            std::make_unique<RecordingNotifier>(*settings, *telemetry, std::make_shared<NoNotifications>());
        announcer = std::make_unique<Announcer>(*settings, *telemetry);
        updater = std::make_unique<Updater>(*settings, *telemetry, *notifier, *announcer);
        updater->runningVersion = "1.0.0";
        setAlertPresenter([this](const AlertRequest& request) {
            alerts.push_back(request);
            return AlertAnswer{0, ""};
        });
        updateAppHooks([this](AppHooks& hooks) {
            hooks.openWithDefaultApp = [this](const std::string& path) {
                opened.push_back(path);
                return true;
            };
            hooks.hideMainWindow = [this] { ++editorHides; };
            hooks.newVersionFound = [this](const std::string& v) { found.push_back(v); };
        });
        std::filesystem::remove_all(FileDownloader::downloadFolder());
    }
    void TearDown() override {
        // An alert the update posted last reaches this test's recorder, not
        // the next test (where, with no recorder, it would stop the run modal).
        kit::processMainEvents();
        updater.reset();
        setAlertPresenter({});
        ServicesFixture::TearDown();
    }

    bool waitForDownload() {
        return kit::runMainLoopUntil([&] { return notifier->hides > 0; }, 15);
    }
    bool hasEvent(const std::string& type) {
        for (auto& record : telemetry->events())
            if (record["type"] == type) return true;
        return false;
    }
    kit::Json event(const std::string& type) {
        for (auto& record : telemetry->events())
            if (record["type"] == type) return record;
        return {};
    }

    LoopbackServer server;
    SiteScope site{server.origin()};
    std::unique_ptr<RecordingNotifier> notifier;
    std::unique_ptr<Announcer> announcer;
    std::unique_ptr<Updater> updater;
    std::vector<AlertRequest> alerts;
    std::vector<std::string> opened, found;
    int editorHides = 0;
};

std::string package(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = char('a' + i % 26);
    return body;
}
}  // namespace

TEST(UpdaterVersionTest, VersionCodes) {
    EXPECT_EQ(Updater::versionCode("1.2.3"), 10203);
    EXPECT_EQ(Updater::versionCode("10.0.12"), 100012);
    EXPECT_EQ(Updater::versionCode("beta.2.3"), 10203);
    EXPECT_EQ(Updater::versionCode("2.x.+7"), 20007);
    EXPECT_EQ(Updater::versionCode("99.0.0"), 990000);
}

TEST_F(UpdaterTest, OffersOnlyPackagesUnderTheSiteRootAndNewerThanThisBuild) {
    settings->setLatestVersionCode(20000);
    settings->setLatestVersionPackageUrl(productSiteRoot() + "d/K-2.0.pkg");
    EXPECT_TRUE(updater->canAutoupdate());
    EXPECT_TRUE(updater->hasNewVersion());
    updater->runningVersion = "99.0.0";
    settings->setLatestVersionCode(990000);
    EXPECT_FALSE(updater->hasNewVersion()) << "an unreadable running version offers nothing up to 990000";

    for (std::string url : {std::string("http://a/b"), std::string("https://elsewhere.example/K-2.0.pkg"),
                            server.origin() + "evil.example/K.pkg"}) {
        settings->setLatestVersionPackageUrl(url);
        EXPECT_FALSE(updater->canAutoupdate()) << url;
    }
    updater->suggestAutoupdate("menu");
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return !alerts.empty(); }, 5));
    EXPECT_EQ(alerts[0].title, "Problem Occurred");
    EXPECT_EQ(alerts[0].message,
              "Try again later, or go to " + productSiteRoot() + " and install the new version manually.");
    EXPECT_EQ(last()["type"], "oops");
    EXPECT_EQ(last()["function"], "suggestAutoupdate(method:)");
    EXPECT_FALSE(updater->autoupdate());
}

TEST_F(UpdaterTest, ChecksAtMostEveryThreeDaysAndReadsTheVersionFile) {
    kit::ManualClockScope clock(0, 1.8e9);
    server.setHandler([](const HttpRequestRecord&) {
        return HttpReply{200,
                         {},
                         R"({"latestVersion":"2.1.0","link":"https://site/new.html",)"
                         R"("package":")" +
                             productSiteRoot() + R"(d/K-2.1.0.pkg","psa_code":"spring"})"};
    });
    updater->startChecking();
    EXPECT_EQ(updater->pendingChecks(), 1u);
    clock.advance(299);
    EXPECT_TRUE(server.requests().empty());
    testing::internal::CaptureStdout();
    clock.advance(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CHECK NEW VERSION\n");
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return settings->latestVersionCode() != 0; }, 10));

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    std::string uid = settings->uid();
    std::replace(uid.begin(), uid.end(), '-', 'B');
    EXPECT_TRUE(kit::Regex("/api/version\\.json\\?anticache=[0-9a-z]+U" + uid + "L[0-9]+")
                    .matchesWhole(requests[0].target))
        << requests[0].target;
    EXPECT_EQ(requests[0].headers["user-agent"], "Kadrix " + std::to_string(telemetry->vc()) + " Linux " +
                                                     telemetry->commonData()["os"].get<std::string>() + " " +
                                                     telemetry->commonData()["ln"].get<std::string>());
    EXPECT_EQ(settings->latestVersionCode(), 20100);
    EXPECT_EQ(settings->latestVersionURL(), "https://site/new.html");
    EXPECT_EQ(settings->latestVersionPackageUrl(), productSiteRoot() + "d/K-2.1.0.pkg");
    EXPECT_EQ(found, std::vector<std::string>{"2.1.0"});
    EXPECT_EQ(announcer->code, "spring");

    // Within three days no timer is armed and a pending one checks nothing.
    updater->armCheckTimer();
    clock.clock().setWall(clock.clock().wallNow() + 258000);
    updater->startChecking();
    EXPECT_EQ(updater->pendingChecks(), 1u);
    testing::internal::CaptureStdout();
    clock.advance(300);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "no second request";
    EXPECT_EQ(updater->pendingChecks(), 0u);
    clock.clock().setWall(clock.clock().wallNow() + 1000);
    updater->startChecking();
    EXPECT_EQ(updater->pendingChecks(), 1u);
}

TEST_F(UpdaterTest, OnlyBytesThatAreNotJsonAreAnErrorAndOtherValuesAreSkipped) {
    auto read = [&](const std::string& text) { updater->checkVersion(Bytes(text.begin(), text.end())); };
    read("not json");
    EXPECT_EQ(last()["function"], "checkVersion()");
    EXPECT_EQ(last()["message"], "Can't read version data");
    size_t before = telemetry->events().size();
    // JSON of another shape: ignored, and no error report.
    read(R"(["2.0.0"])");
    read("42");
    EXPECT_EQ(settings->latestVersionCode(), 0);
    EXPECT_EQ(telemetry->events().size(), before);
    updater->checkVersion(std::nullopt);
    EXPECT_EQ(telemetry->events().size(), before);
    // A value of another type is skipped; the texts beside it still count.
    read(R"({"latestVersion":"2.0.0","link":"https://x/","psa_code":12345,"psa_days":[1]})");
    EXPECT_EQ(settings->latestVersionCode(), 20000);
    EXPECT_EQ(settings->latestVersionURL(), "https://x/");
    EXPECT_EQ(telemetry->events().size(), before) << "no error report for a skipped value";
    settings->setLatestVersionCode(0);
    read(R"({"latestVersion":"2.0.0","psa_code":"abc"})");
    EXPECT_EQ(settings->latestVersionCode(), 0) << "without a link nothing is stored";
    EXPECT_EQ(announcer->code, "abc") << "the banner is configured all the same";
}

TEST_F(UpdaterTest, DownloadShowsProgressThenOpensThePackage) {
    const std::string body = package(3 * 1048576 / 2);
    server.setHandler([&](const HttpRequestRecord&) { return HttpReply{200, {}, body, 262144, 30}; });
    settings->setLatestVersionCode(20000);
    settings->setLatestVersionPackageUrl(productSiteRoot() + "d/Kadrix%202.0.pkg");
    ASSERT_TRUE(updater->autoupdate());
    EXPECT_EQ(editorHides, 1);
    EXPECT_EQ(notifier->title, "Downloading New Version");
    EXPECT_EQ(notifier->messages.front(), "Sit tight");
    EXPECT_EQ(notifier->button, "Cancel");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(waitForDownload());
    std::string console = testing::internal::GetCapturedStdout();

    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], FileDownloader::downloadFolder() + "/Kadrix2.0.pkg");
    EXPECT_EQ(kit::files::readAll(opened[0]), body);
    EXPECT_NE(console.find("download complete: " + opened[0]), std::string::npos);
    EXPECT_NE(
        std::find(notifier->messages.begin(), notifier->messages.end(), "Total size: 1.5mb, progress: 100%"),
        notifier->messages.end());
    kit::Json done = event("autoupdate:downloaded");
    EXPECT_EQ(done["latestVersion"], 20000);
    EXPECT_TRUE(done["timer"].is_number());
    EXPECT_EQ(storage->array("GATelemetry")->size(), telemetry->events().size())
        << "the queue is stored at once";
    EXPECT_TRUE(alerts.empty());
}

TEST_F(UpdaterTest, CancelledDownloadEndsQuietly) {
    server.setHandler([&](const HttpRequestRecord&) {
        return HttpReply{200, {}, package(400000), 4000, 50};
    });
    settings->setLatestVersionPackageUrl(productSiteRoot() + "d/K-2.0.pkg");
    ASSERT_TRUE(updater->autoupdate());
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return notifier->messages.size() > 2; }, 10));
    ASSERT_TRUE(notifier->notificationAction);
    notifier->notificationAction();  // the toast's "Cancel"
    ASSERT_TRUE(waitForDownload());
    kit::Json canceled = event("autoupdate:canceled");
    ASSERT_TRUE(canceled.is_object());
    EXPECT_GE(canceled["progress"], 0);
    EXPECT_LT(canceled["progress"], 100);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(opened.empty());
    EXPECT_FALSE(std::filesystem::exists(FileDownloader::downloadFolder() + "/K-2.0.pkg"));
}

TEST_F(UpdaterTest, RedirectAwayFromTheSiteIsRefused) {
    LoopbackServer elsewhere;
    elsewhere.setHandler([](const HttpRequestRecord&) { return HttpReply{200, {}, "not ours"}; });
    server.setHandler([&](const HttpRequestRecord&) {
        return HttpReply{302, {{"Location", elsewhere.origin() + "/evil.pkg"}}, ""};
    });
    settings->setLatestVersionPackageUrl(productSiteRoot() + "d/K-2.0.pkg");
    ASSERT_TRUE(updater->autoupdate());
    ASSERT_TRUE(waitForDownload());
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return !alerts.empty(); }, 5));
    EXPECT_EQ(alerts[0].title, "Unable to update Kadrix");
    EXPECT_EQ(alerts[0].message, "Unknown Error. Try again, or download and update the app manually");
    EXPECT_EQ(event("autoupdate:failed")["error"], "Unknown Error");
    EXPECT_TRUE(opened.empty());
    EXPECT_FALSE(std::filesystem::exists(FileDownloader::downloadFolder() + "/evil.pkg"));
}

TEST_F(UpdaterTest, ServerErrorFailsTheUpdate) {
    server.setHandler([&](const HttpRequestRecord&) { return HttpReply{404, {}, "missing"}; });
    settings->setLatestVersionPackageUrl(productSiteRoot() + "d/K-2.0.pkg");
    ASSERT_TRUE(updater->autoupdate());
    ASSERT_TRUE(waitForDownload());
    EXPECT_TRUE(hasEvent("autoupdate:failed"));
    bool reported = false;
    for (auto& record : telemetry->events())
        reported |= record["type"] == "oops" && record["message"] == "Download File response code 404";
    EXPECT_TRUE(reported);
    EXPECT_TRUE(opened.empty());
}

TEST(FileDownloaderTest, NamesStayInsideTheDownloadFolder) {
    EXPECT_EQ(FileDownloader::sanitisedName("Kadrix-2.0.pkg"), "Kadrix-2.0.pkg");
    EXPECT_EQ(FileDownloader::sanitisedName("../../.bashrc"), "bashrc");
    EXPECT_EQ(FileDownloader::sanitisedName("a b/c\\d$e.deb"), "abcde.deb");
    EXPECT_EQ(FileDownloader::sanitisedName("..."), "update");
    EXPECT_EQ(FileDownloader::sanitisedName(""), "update");
    EXPECT_EQ(FileDownloader::sanitisedName(std::string(300, 'x')).size(), 200u);
}
