// The kadrix:// command table against recording actions, its consent gates,
// and a seeded pass of random and mutated URLs.
#include <gtest/gtest.h>

#include <random>

#include "core/UrlCommands.h"
#include "services/Settings.h"

using core::AppLogic;
using core::handleURLCommand;

namespace {

class Recorder : public core::UrlActions {
public:
    std::vector<std::string> calls;
    std::optional<AfterGrab> lastThen;
    double lastDelay = -1;
    bool running = false, uploadsOpen = true, yes = true;
    int consents = 0;

    bool captureRunning() const override { return running; }
    void yieldFocus() override { calls.push_back("show"); }
    void grab(const std::string& mode, const std::optional<AfterGrab>& then) override {
        calls.push_back("grab:" + mode);
        lastThen = then;
    }
    void startScrollingCapture(int direction, const std::optional<AfterGrab>& then) override {
        calls.push_back("scroll:" + std::to_string(direction));
        lastThen = then;
    }
    void grabDelayed(double seconds, const std::optional<AfterGrab>& then) override {
        calls.push_back("delayed");
        lastDelay = seconds;
        lastThen = then;
    }
    void addCaptureToScreenshot() override { calls.push_back("append"); }
    void instantOCR() override { calls.push_back("ocr"); }
    void loadFromClipboard() override { calls.push_back("clipboard"); }
    void openImageDialogSoon() override { calls.push_back("file"); }
    bool gotoUploads() override {
        calls.push_back("uploads");
        return uploadsOpen;
    }
    void openPreferences() override { calls.push_back("settings"); }
    void showLibraryPopover() override { calls.push_back("popover"); }
    bool searchLibrary(const std::string& text) override {
        calls.push_back("search:" + text);
        return true;
    }
    void setupLibraryStatusItem() override { calls.push_back("libitem"); }
    void buildMenu() override { calls.push_back("menu"); }
    void rescanLibraryView() override { calls.push_back("rescan"); }
    void handlePlimCommand(const std::string& command, const std::optional<std::string>&) override {
        calls.push_back("plim:" + command);
    }
    bool consent(const std::string&, const std::string&) override {
        ++consents;
        return yes;
    }
    void notify(const std::string& title, const std::string&) override { calls.push_back("notify:" + title); }
    void warning(const std::string& title, const std::string& message) override {
        calls.push_back("warning:" + title);
        lastWarning = message;
    }
    std::string lastWarning;
};

class UrlCommands : public ::testing::Test {
protected:
    void SetUp() override {
        services::Settings::shared().setAllowDeeplinks(true);
        services::Settings::shared().setToken("");
        services::Settings::shared().setLibEnabled(false);
    }
    void run(const std::string& command, std::optional<std::string> payload = std::nullopt,
             std::map<std::string, std::string> query = {}, const std::string& host = "grab") {
        handleURLCommand(host, command, payload, query, actions);
    }
    Recorder actions;
};

}  // namespace

TEST_F(UrlCommands, CapturesAndTheirThenList) {
    run("grab/area", "copy,save", {{"then", "Copy,Save"}});
    ASSERT_EQ(actions.calls, std::vector<std::string>{"grab:interactive"});
    ASSERT_TRUE(actions.lastThen);
    EXPECT_TRUE(actions.lastThen->copy && actions.lastThen->save && !actions.lastThen->edit);

    actions.calls.clear();
    run("grab/fullscreen", std::nullopt, {{"then", "copy, save"}});  // the blank keeps " save" apart
    EXPECT_TRUE(actions.lastThen->copy);
    EXPECT_FALSE(actions.lastThen->save);

    actions.calls.clear();
    run("grab/fullscreen", std::nullopt, {{"then", ""}});
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"warning:Unrecognized \"then\" parameter", "grab:fullscreen"}));
    ASSERT_TRUE(actions.lastThen);
    EXPECT_EQ(*actions.lastThen, AppLogic::AfterGrab{});

    actions.calls.clear();
    run("grab/window/active");
    EXPECT_FALSE(actions.lastThen);
    run("grab/window", std::nullopt, {{"then", "thumbnail"}});
    EXPECT_TRUE(actions.lastThen->thumbnail);
    run("grab/repeat");
    run("grab/scrolling");
    run("grab/scrolling/reverse");
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"grab:window", "grab:interactive-window",
                                                       "grab:interactive-repeat", "scroll:-1", "scroll:1"}));
}

TEST_F(UrlCommands, DelayedCaptureTakesOnlyAWholeFiniteNumber) {
    EXPECT_EQ(core::delayFromPayload(std::nullopt), 3.0);
    EXPECT_EQ(core::delayFromPayload("0.5"), 0.5);
    EXPECT_EQ(core::delayFromPayload("abc"), 3.0);
    EXPECT_EQ(core::delayFromPayload("5?then=copy"), 3.0);
    EXPECT_EQ(core::delayFromPayload("3600"), 3600.0);
    EXPECT_EQ(core::delayFromPayload("3601"), 3.0);
    EXPECT_EQ(core::delayFromPayload("-1"), 3.0);
    EXPECT_EQ(core::delayFromPayload("inf"), 3.0);
    EXPECT_EQ(core::delayFromPayload("nan"), 3.0);
    run("grab/delayed", "5?then=copy", {{"then", "copy"}});
    EXPECT_EQ(actions.lastDelay, 3.0);
    EXPECT_TRUE(actions.lastThen->copy);
}

TEST_F(UrlCommands, EditorLibraryAndUnknownCommands) {
    run("show", std::nullopt, {{"then", "nope"}});
    run("");
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"warning:Unrecognized \"then\" parameter", "show", "show"}));

    actions.calls.clear();
    run("lib/search", std::nullopt, {{"search", "invoice"}});
    run("lib/search", "car");
    run("lib");
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"popover", "search:invoice", "popover", "search:car", "popover"}));

    actions.calls.clear();
    actions.uploadsOpen = false;
    run("uploads");
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"uploads", "warning:Can't open past uploads "}));

    actions.calls.clear();
    run(std::string(5000, 'x') + "\x01");
    EXPECT_EQ(actions.calls, std::vector<std::string>{"warning:Kadrix: command is not recognized"});
    EXPECT_LT(actions.lastWarning.size(), 300u);
    EXPECT_EQ(actions.lastWarning.find('\x01'), std::string::npos);
}

TEST_F(UrlCommands, SwitchedOffOnlyTheCompanionGetsThrough) {
    services::Settings::shared().setAllowDeeplinks(false);
    run("show");
    run("ready", "x", {}, "plim");
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"warning:Kadrix: URL Scheme (deeplinks) is disabled", "plim:ready"}));
}

TEST_F(UrlCommands, ACaptureWhileAnotherRunsIsDropped) {
    actions.running = true;
    run("grab/fullscreen");
    run("grab/delayed");
    run("grab/append");  // adds to the open screenshot: not a capture of its own
    EXPECT_EQ(actions.calls, std::vector<std::string>{"append"});
}

TEST_F(UrlCommands, TokenLengthsNoneAndConsent) {
    run("settings/token", "abc-def");
    EXPECT_EQ(actions.calls.back(), "warning:Kadrix: no valid token provided");
    run("settings/token", std::string(36, 'a'));
    EXPECT_EQ(services::Settings::shared().token(), std::string(36, 'a'));
    run("settings/token", std::string(37, 'b'));
    EXPECT_EQ(services::Settings::shared().token(), std::string(36, 'a'));
    run("settings/token", "NONE");
    EXPECT_EQ(services::Settings::shared().token(), std::string(36, 'a'));
    run("settings/token", "none");
    EXPECT_EQ(services::Settings::shared().token(), "");

    actions.yes = false;  // the user says no: nothing changes
    run("settings/token", "abcdefghijk1");
    EXPECT_EQ(services::Settings::shared().token(), "");
    EXPECT_EQ(actions.calls.back(), "notify:Token Was Removed");
}

TEST_F(UrlCommands, LibrarySettingsAskFirstAndIgnoreBadLimits) {
    int64_t limit = services::Settings::shared().libLimit();
    for (const char* bad : {"-5", "0", "abc", "12x"}) run("settings/library/limit", bad);
    EXPECT_EQ(actions.consents, 0);
    EXPECT_EQ(services::Settings::shared().libLimit(), limit);

    actions.yes = false;
    run("settings/library/enable");
    run("settings/library/limit", "500");
    EXPECT_FALSE(services::Settings::shared().libEnabled());
    EXPECT_EQ(services::Settings::shared().libLimit(), limit);

    actions.yes = true;
    actions.calls.clear();
    run("settings/library/enable");
    run("settings/library/limit", "500");
    EXPECT_TRUE(services::Settings::shared().libEnabled());
    EXPECT_EQ(services::Settings::shared().libLimit(), 500);
    run("settings/library/disable");
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"libitem", "rescan", "menu"}));
    EXPECT_FALSE(services::Settings::shared().libEnabled());
}

TEST_F(UrlCommands, RandomAndMutatedUrlsNeverChangeSettingsWithoutConsent) {
    const std::vector<std::string> seeds{"grab/area",
                                         "grab/delayed",
                                         "settings/token",
                                         "settings/library/enable",
                                         "settings/library/limit",
                                         "lib/search",
                                         "uploads",
                                         "show",
                                         "plim/connect"};
    std::mt19937 rng(20261207);
    actions.yes = false;
    services::Settings::shared().setToken("keep");
    for (int i = 0; i < 10000; ++i) {
        std::string command = seeds[rng() % seeds.size()];
        int edits = int(rng() % 4);
        for (int e = 0; e < edits && !command.empty(); ++e) {
            size_t at = rng() % command.size();
            switch (rng() % 3) {
                case 0:
                    command[at] = char(rng() % 256);
                    break;
                case 1:
                    command.erase(at, 1);
                    break;
                default:
                    command.insert(at, 1, char(rng() % 256));
                    break;
            }
        }
        std::optional<std::string> payload;
        if (rng() % 2) payload = std::string(rng() % 64, char('0' + rng() % 75));
        std::map<std::string, std::string> query;
        if (rng() % 3 == 0) query["then"] = std::string(rng() % 12, char('a' + rng() % 26));
        handleURLCommand(rng() % 10 == 0 ? "plim" : "grab", command, payload, query, actions);
    }
    EXPECT_EQ(services::Settings::shared().token(), "keep");
    EXPECT_FALSE(services::Settings::shared().libEnabled());
}
