// Taking kadrix:// URLs apart, and the delegate handing them to the core.
#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "core/UrlCommands.h"
#include "services/Alerts.h"
#include "services/Settings.h"
#include "shell/AppDelegate.h"
#include "shell/UrlActionsLink.h"
#include "shell/UrlCommand.h"

using namespace shell;

namespace {

UrlCommand command(const std::string& text) {
    auto r = takeApartUrl(text);
    EXPECT_TRUE(std::holds_alternative<UrlCommand>(r)) << text;
    return std::holds_alternative<UrlCommand>(r) ? std::get<UrlCommand>(r) : UrlCommand{};
}

std::string error(const std::string& text) {
    auto r = takeApartUrl(text);
    return std::holds_alternative<UrlError>(r) ? std::get<UrlError>(r).message : "(no error)";
}

}  // namespace

TEST(UrlCommand, TakesApartTheExamples) {
    auto grab = command("kadrix://grab/area?then=copy");
    EXPECT_EQ(grab.host, "grab");
    EXPECT_EQ(grab.command, "grab/area");
    EXPECT_EQ(grab.value, "copy");
    EXPECT_EQ(grab.query, (std::map<std::string, std::string>{{"then", "copy"}}));

    auto search = command("KADRIX://Lib/Search=red%20car");
    EXPECT_EQ(search.command, "lib/search");
    EXPECT_EQ(search.value, "red car") << "decoded, case kept";
    EXPECT_TRUE(search.query.empty());

    auto show = command("kadrix://show/");
    EXPECT_EQ(show.command, "show");
    EXPECT_EQ(show.value, std::nullopt);
    EXPECT_TRUE(show.query.empty());
}

TEST(UrlCommand, QueryItemsLaterOnesWinAndBareNamesRemove) {
    EXPECT_TRUE(command("kadrix://grab/area?then=copy&then").query.empty());
    EXPECT_EQ(command("kadrix://x?a=1&b=2&a=3").query,
              (std::map<std::string, std::string>{{"a", "3"}, {"b", "2"}}));
    EXPECT_EQ(command("kadrix://x?then&then=save").query.at("then"), "save");
    EXPECT_EQ(command("kadrix://x?q=a%26b").query.at("q"), "a&b");
}

TEST(UrlCommand, ValueAndCommandCutting) {
    auto c = command("kadrix:///Lib/Search/?q=Red=Car");
    EXPECT_EQ(c.command, "lib/search") << "cut at '?', slashes trimmed, lower-cased";
    EXPECT_EQ(c.value, "Red=Car") << "after the first '=', from the whole text";
    EXPECT_EQ(command("kadrix://lib/search=%FF").value, std::nullopt) << "bytes that are not UTF-8";
    EXPECT_EQ(command("kadrix://lib/search=caf%C3%A9").value, "caf\xc3\xa9");
    EXPECT_EQ(command("kadrix:show").command, "kadrix:show") << "no '://' to cut after";
}

TEST(UrlCommand, ErrorsAndForeignSchemes) {
    EXPECT_EQ(error(""), "Failed to get urlString");
    EXPECT_EQ(error("show"), "Failed to unpack url.scheme");
    EXPECT_EQ(error("kadrix://lib/search=red car"), "Failed to unpack url.scheme")
        << "a blank does not parse";
    EXPECT_EQ(error("kadrix://x=%zz"), "Failed to unpack url.scheme");
    EXPECT_EQ(error("kadrix://grab:x/area"), "Invalid url: kadrix://grab:x/area")
        << "a port that is no number";
    EXPECT_TRUE(std::holds_alternative<ForeignUrl>(takeApartUrl("https://example.com/?a=1")));
    std::string huge = "kadrix://x=" + std::string(kMaxUrlLength, 'a');
    std::string message = error(huge);
    EXPECT_EQ(message.rfind("Invalid url: kadrix://x=aaa", 0), 0u);
    EXPECT_LT(message.size(), 300u) << "the report carries the beginning only";
}

class UrlEventHandling : public shelltest::ShellFixture {};

TEST_F(UrlEventHandling, TheDelegateHandsCommandsToTheCoreAndReportsBadOnes) {
    auto& delegate = AppDelegate::shared();
    delegate.handleGetURLEvent("kadrix://grab/area?then=copy&then");
    ASSERT_EQ(core.calls, std::vector<std::string>{"url grab grab/area"});
    EXPECT_EQ(core.values.back(), "copy&then") << "everything after the first =";
    EXPECT_TRUE(core.queries.back().empty());

    size_t oopsBefore = events("oops").size();
    delegate.handleGetURLEvent("https://example.com/");
    EXPECT_EQ(core.calls.size(), 1u);
    EXPECT_EQ(events("oops").size(), oopsBefore) << "another scheme is dropped without a report";

    delegate.handleGetURLEvent("kadrix://grab:x");
    EXPECT_EQ(core.calls.size(), 1u);
    auto oops = events("oops");
    ASSERT_EQ(oops.size(), oopsBefore + 1);
    EXPECT_EQ(oops.back().value("function", ""), "handleGetURLEvent(_:withReplyEvent:)");
    EXPECT_EQ(oops.back().value("message", ""), "Invalid url: kadrix://grab:x");
}

TEST_F(UrlEventHandling, OneQuestionAtATimeWhileLinksKeepArriving) {
    // Links that come while a link's question is open (its modal loop delivers them) wait for
    // the answer, then ask their own questions one after the other, in the order they came.
    auto& delegate = AppDelegate::shared();
    core.urlCommandsRun = [](const std::string& host, const std::string& command,
                             const std::optional<std::string>& value,
                             const std::map<std::string, std::string>& query) {
        if (host == "settings") core::handleURLCommand(host, command, value, query, UrlActionsLink::shared());
    };
    std::vector<std::string> asked;
    int open = 0, mostOpen = 0;
    services::setAlertPresenter([&](const services::AlertRequest& request) {
        mostOpen = std::max(mostOpen, ++open);
        asked.push_back(request.title);
        if (asked.size() == 1) {
            delegate.handleGetURLEvent("kadrix://settings/library/limit=5");
            delegate.handleGetURLEvent("kadrix://show");
            delegate.handleGetURLEvent("kadrix://settings/token=none");
            EXPECT_EQ(asked.size(), 1u) << "no second dialog while the first is open";
        }
        --open;
        return services::AlertAnswer{1, ""};  // Cancel
    });
    const int64_t limitBefore = services::Settings::shared().libLimit();
    delegate.handleGetURLEvent("kadrix://settings/library/enable");
    services::setAlertPresenter({});
    EXPECT_EQ(mostOpen, 1);
    EXPECT_EQ(asked, (std::vector<std::string>{"Turn the screenshot library on?", "Change the library size?",
                                               "Remove the upload token?"}));
    EXPECT_EQ(core.calls, (std::vector<std::string>{"url settings settings/library/enable",
                                                    "url settings settings/library/limit", "url show show",
                                                    "url settings settings/token"}));
    EXPECT_EQ(services::Settings::shared().libLimit(), limitBefore) << "Cancel changed nothing";
}

TEST(UrlCommand, CompanionSwitchWaitsForTheUsersWord) {
    // The user says Cancel: the upload route stays as it was and nothing reaches the core.
    std::vector<std::string> asked;
    services::setAlertPresenter([&asked](const services::AlertRequest& request) {
        asked.push_back(request.title);
        return services::AlertAnswer{1, ""};
    });
    const std::string before = services::Settings::shared().uploadMode();
    UrlActionsLink::shared().handlePlimCommand("plim/connect", std::nullopt);
    UrlActionsLink::shared().handlePlimCommand("plim/disconnect", std::nullopt);
    services::setAlertPresenter({});
    EXPECT_EQ(services::Settings::shared().uploadMode(), before);
    EXPECT_EQ((asked), (std::vector<std::string>{"Connect the companion uploader?",
                                                 "Disconnect the companion uploader?"}));
}
