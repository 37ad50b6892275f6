// The upload command as the core runs it: the token prompt, the link on the
// clipboard, token errors, the gallery link, the hand-off to the companion
// uploader and its callbacks.
#include <cstdlib>
#include <filesystem>

#include "core/CoreFixture.h"
#include "core/Uploader.h"
#include "kit/ui/Pasteboard.h"
#include "services/Crypti.h"
#include "support/EventLoopWait.h"
#include "support/LoopbackServer.h"
#include "support/ScopedEnv.h"
#include "support/ScratchFolder.h"

namespace coretest {
namespace {

class UploadCommandTest : public CoreFixture {
protected:
    core::AppLogic& withScreenshot() {
        auto& logic = make();
        EXPECT_TRUE(logic.loadImage(solidImage(40, 30, {10, 20, 30, 255}), false));
        logic.openURL_ = [this](const std::string& url) {
            opened.push_back(url);
            return openAnswer;
        };
        return logic;
    }
    std::vector<std::string> opened;
    bool openAnswer = true;
};

TEST_F(UploadCommandTest, PromptRefusesOddTokensThenUploadPutsTheLinkOnTheClipboard) {
    LoopbackServer server([](const HttpRequestRecord&) {
        return HttpReply{200, {}, "SUCCESS: http://127.0.0.1/s/KLZ.png"};
    });
    storage->set("uploadEndpoint", server.url("/up"));
    auto& logic = withScreenshot();
    std::vector<std::string> answers = {"  ab\"c--x  ", " abc123 \n"};
    int asked = 0;
    logic.askToken_ = [&](const std::string& title, const std::string&) {
        EXPECT_EQ(title, "Provide a Token");
        return answers.at(asked++);
    };
    logic.uploadImage("test");
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Invalid Token");
    EXPECT_EQ(settings->token(), "abc123");

    ASSERT_TRUE(testsupport::waitFor([&] { return logged("notify URL copied to the clipboard"); }, 15000));
    EXPECT_EQ(kit::Pasteboard::general().string(), "http://127.0.0.1/s/KLZ.png");
    EXPECT_EQ(notifier->lastButton, "Manage");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_NE(server.requests()[0].body.find("\r\n\r\nabc123\r\n"), std::string::npos);
    ASSERT_TRUE(lastEvent("uploadImage"));

    // "Manage" opens the gallery with a code for this token.
    notifier->lastAction();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].find("/gallery.html?code="), std::string::npos);
    ASSERT_TRUE(lastEvent("goto:uploads"));
    EXPECT_EQ(lastEvent("goto:uploads")->value("method", ""), "notification");
}

TEST_F(UploadCommandTest, NoTokenNoUpload) {
    auto& logic = withScreenshot();
    logic.askToken_ = [](const std::string&, const std::string&) { return std::string(); };
    logic.uploadImage("test");
    EXPECT_TRUE(logged("warning Upload Failed"));
    EXPECT_EQ(logic.lastActiveTime, 0);  // the editor stayed
    EXPECT_FALSE(logic.gotoUploads("url"));
    EXPECT_TRUE(opened.empty());
}

TEST_F(UploadCommandTest, TokenErrorsClearTheToken) {
    auto& logic = withScreenshot();
    settings->setToken("abc123");
    logic.uploadFinished("", "Bad Token here");  // capital T: shown as it is
    kit::processMainEvents();
    EXPECT_EQ(settings->token(), "abc123");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "Bad Token here");

    logic.uploadFinished("", "invalid token");
    kit::processMainEvents();
    EXPECT_EQ(settings->token(), "");
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1].message, "Invalid Token");
}

TEST_F(UploadCommandTest, HandOffWritesTheFileAndOpensASealedLink) {
    testsupport::ScratchFolder scratch;
    const std::filesystem::path home = scratch.file("data");
    testsupport::ScopedEnv data("XDG_DATA_HOME", home.string());
    // KADRIX_HOME (every test has its own) takes the shared folder, as it takes every other path.
    ASSERT_TRUE(std::getenv("KADRIX_HOME"));
    const auto shared = std::filesystem::path(std::getenv("KADRIX_HOME")) / "kadrix.companion";

    auto& logic = withScreenshot();
    settings->setUploadMode("plim");
    logic.uploadImage("test");
    ASSERT_EQ(opened.size(), 1u);
    const std::string prefix = "plim://upload=";
    ASSERT_EQ(opened[0].rfind(prefix, 0), 0u);
    // Undo the strict percent-encoding and open the box.
    std::string sealed;
    for (size_t i = prefix.size(); i < opened[0].size(); ++i) {
        if (opened[0][i] == '%') {
            sealed += char(std::stoi(opened[0].substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            sealed += opened[0][i];
        }
    }
    auto message = services::Crypti::openFromCompanion(sealed, core::integrationToken());
    ASSERT_TRUE(message);
    const std::string name = message->substr(message->find(':') + 1);
    EXPECT_EQ(name.rfind("SCR-", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(shared / name));
    EXPECT_FALSE(std::filesystem::exists(home / "kadrix.companion"));
    EXPECT_EQ(std::filesystem::status(shared).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    EXPECT_NE(logic.lastActiveTime, 0);  // the editor hid
    EXPECT_TRUE(settings->token().empty());

    // A companion that cannot be reached: a warning, no file left, the editor stays.
    openAnswer = false;
    logic.lastActiveTime = 0;
    std::filesystem::remove(shared / name);
    logic.uploadImage("test");
    EXPECT_TRUE(logged("warning Can't hand the image over"));
    EXPECT_FALSE(std::filesystem::exists(shared / name));
    EXPECT_EQ(logic.lastActiveTime, 0);
}

TEST_F(UploadCommandTest, CompanionCallbacks) {
    auto& logic = withScreenshot();
    logic.handlePlimCommand("plim/connect", std::nullopt);
    EXPECT_EQ(settings->uploadMode(), "plim");
    logic.handlePlimCommand("plim/disconnect", std::nullopt);
    EXPECT_EQ(settings->uploadMode(), "cloud");
    EXPECT_EQ((opened), (std::vector<std::string>{"plim://kadrix/connected", "plim://kadrix/disconnected"}));

    const double now = double(std::time(nullptr));
    auto report = [&](double at, const std::string& link) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%.3f", at);
        return *services::Crypti::sealForCompanion(std::string(stamp) + ":" + link, core::integrationToken());
    };
    logic.handlePlimCommand("plim/ready", report(now - 5, "https://store.test/a.png"));
    EXPECT_TRUE(logged("notify Upload Succeeded"));
    EXPECT_EQ(notifier->lastButton, "Open");

    for (const auto& payload :
         {std::optional<std::string>(), std::optional(report(now - 60, "https://store.test/a.png")),
          std::optional(report(now, "ftp://store.test/a.png")), std::optional<std::string>("not sealed")}) {
        notifier->lastButton = "none yet";
        logic.handlePlimCommand("plim/ready", payload);
        EXPECT_FALSE(notifier->lastButton);
        EXPECT_FALSE(notifier->lastAction);
    }
    logic.handlePlimCommand("plim/fail", std::nullopt);
    EXPECT_TRUE(logged("warning Upload Failed!"));
    logic.handlePlimCommand("plim/off", std::nullopt);
    EXPECT_TRUE(logged("warning Upload Integration is Off"));
    const size_t before = log.size();
    logic.handlePlimCommand("plim/other", std::nullopt);
    EXPECT_EQ(log.size(), before);
}

}  // namespace
}  // namespace coretest
