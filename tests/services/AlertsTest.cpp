#include <gtest/gtest.h>

#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "kit/base/Dispatch.h"
#include "kit/ui/Application.h"
#include "services/Alerts.h"

using namespace services;

namespace {
// Answers every alert with a chosen button and field text, recording what was shown.
struct AlertDouble {
    std::vector<AlertRequest> shown;
    AlertAnswer answer;
    AlertDouble() {
        setAlertPresenter([this](const AlertRequest& request) {
            shown.push_back(request);
            AlertAnswer a = answer;
            if (a.text.empty() && request.textField) a.text = *request.textField;
            return a;
        });
    }
    ~AlertDouble() { setAlertPresenter({}); }
};
}  // namespace

TEST(AlertsTest, ButtonsAndAnswers) {
    AlertDouble alerts;
    int ran = 0;
    alert("Title", "Text", [&] { ++ran; });
    alert("No closure", "Nothing runs after OK");
    EXPECT_EQ(ran, 1);
    ASSERT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(alerts.shown[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(alerts.shown[0].title, "Title");
    EXPECT_EQ(alerts.shown[0].message, "Text");

    std::vector<int> choices;
    alerts.answer.button = 1;
    confirm("Quit?", "Choose", "Quit", "Stay", [&](int c) { choices.push_back(c); });
    EXPECT_TRUE(alerts.shown.back().noKeyEquivalents) << "Return and Escape do not answer";
    EXPECT_EQ(alerts.shown.back().buttons, (std::vector<std::string>{"Quit", "Stay"}));
    alerts.answer.button = 0;
    confirm("Quit?", "Choose", "Quit", "Stay", [&](int c) { choices.push_back(c); });
    alerts.answer.button = -1;  // dismissed some other way
    confirm("Quit?", "Choose", "Quit", "Stay", [&](int c) { choices.push_back(c); });
    EXPECT_EQ(choices, (std::vector<int>{2, 1}));

    std::vector<bool> oks;
    alerts.answer.button = 0;
    confirmOkCancel("Update?", "Sure", [&](bool ok) { oks.push_back(ok); });
    EXPECT_EQ(alerts.shown.back().buttons, (std::vector<std::string>{"Ok", "Cancel"}));
    EXPECT_FALSE(alerts.shown.back().noKeyEquivalents);
    alerts.answer.button = 1;
    confirmOkCancel("Update?", "Sure", [&](bool ok) { oks.push_back(ok); });
    EXPECT_EQ(oks, (std::vector<bool>{true, false}));
}

TEST(AlertsTest, ALinksQuestionIsAllowedOnlyByItsButton) {
    AlertDouble alerts;
    alerts.answer.button = 0;
    EXPECT_TRUE(askConsent("Apply?", "A link asks."));
    const AlertRequest& asked = alerts.shown.back();
    EXPECT_EQ(asked.buttons, (std::vector<std::string>{"Allow", "Cancel"}));
    EXPECT_TRUE(asked.noKeyEquivalents) << "Return does not allow";
    EXPECT_TRUE(asked.cancelOnEscape);
    alerts.answer.button = 1;
    EXPECT_FALSE(askConsent("Apply?", "A link asks."));
    alerts.answer.button = -1;  // the window closed
    EXPECT_FALSE(askConsent("Apply?", "A link asks."));
}

TEST(AlertsTest, PromptReturnsTheFieldOnlyForOK) {
    AlertDouble alerts;
    alerts.answer = {0, "typed"};
    EXPECT_EQ(promptText("Token", "Paste it", "old"), "typed");
    EXPECT_EQ(alerts.shown.back().textField, "old");
    EXPECT_EQ(alerts.shown.back().buttons, (std::vector<std::string>{"OK", "Cancel"}));
    alerts.answer = {1, "typed"};
    EXPECT_EQ(promptText("Token", "Paste it", "old"), "");
}

TEST(AlertsTest, WrappersShowOnALaterTurnOfTheMainLoop) {
    AlertDouble alerts;
    alerts.answer.button = 0;
    bool confirmed = false;
    alertOnMain("Later", "Not inside the call");
    confirmOkCancelOnMain("Later", "Too", [&](bool ok) { confirmed = ok; });
    EXPECT_TRUE(alerts.shown.empty());
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return alerts.shown.size() == 2; }, 5));
    EXPECT_EQ(alerts.shown[0].title, "Later");
    EXPECT_TRUE(confirmed);

    std::thread([&] { confirmOnMain("From a thread", "x", "A", "B", [](int) {}); }).join();
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return alerts.shown.size() == 3; }, 5));
}

TEST(AlertsTest, AnAlertMakesTheApplicationRegularForGood) {
    AlertDouble alerts;
    auto& app = kit::Application::shared();
    app.setActivationPolicy(kit::ActivationPolicy::Accessory);
    alert("Permission", "Needed");
    EXPECT_EQ(app.activationPolicy(), kit::ActivationPolicy::Regular);
    alert("Again", "Still regular");
    EXPECT_EQ(app.activationPolicy(), kit::ActivationPolicy::Regular);
}

TEST(AlertsTest, CalledOffTheMainThreadTheyAskOnIt) {
    AlertDouble alerts;
    alerts.answer = {0, "from main"};
    std::atomic<bool> ranOnMain{false}, choiceOnMain{false};
    std::string typed;
    std::thread worker([&] {
        alert("Background", "work failed", [&] { ranOnMain = kit::isMainThread(); });
        confirm("Background", "choose", "A", "B", [&](int) { choiceOnMain = kit::isMainThread(); });
        typed = promptText("Name", "for the leaderboard", "");
    });
    // (Not ASSERT: returning with the worker still running ends the whole run.)
    EXPECT_TRUE(kit::runMainLoopUntil([&] { return alerts.shown.size() == 3; }, 5));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(choiceOnMain);
    EXPECT_EQ(typed, "from main");
}

// Kadrix asked to end while an alert waits for its OK: the alert's wait
// ends, and what was to follow the OK (the scrolling capture's explanation
// starts the capture) does not happen.
TEST(AlertsTest, AnAlertCutShortAsKadrixEndsDoesNothingMore) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [] {
        auto& app = kit::Application::shared();
        QTimer::singleShot(0, [] {
            QTimer::singleShot(300, [] { std::raise(SIGTERM); });
            bool wentOn = false;
            alert("Scrolling Capture", "Read this first.", [&wentOn] { wentOn = true; });
            std::fprintf(stderr, "alert over, %s\n", wentOn ? "went on" : "nothing more");
        });
        QTimer::singleShot(5000, [] { std::_Exit(4); });
        app.run();
        kit::Application::endProcess(0);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "alert over, nothing more\n$");
}
