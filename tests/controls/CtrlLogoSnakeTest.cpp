#include <gtest/gtest.h>

#include <cstdlib>

#include "controls/CtrlLogoSnake.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Timer.h"
#include "services/Alerts.h"
#include "services/Telemetry.h"
#include "support/LoopbackServer.h"

using namespace controls;

namespace {

int eventsNamed(const std::string& type) {
    int n = 0;
    for (const auto& e : services::Telemetry::shared().events()) n += e.value("type", "") == type ? 1 : 0;
    return n;
}

std::shared_ptr<CtrlLogoSnake> logo() {
    auto v = std::make_shared<CtrlLogoSnake>(kit::Rect{0, 0, 73, 33});
    kit::Image picture(10, 10);
    v->setImage(picture);
    v->buildGrid();
    return v;
}

kit::Event click(double x, bool command) {
    kit::Event e;
    e.type = kit::EventType::LeftMouseDown;
    e.locationInWindow = {x, 10};
    e.modifierFlags = command ? kit::ModifierFlag::Command : 0;
    return e;
}

struct Prompted {
    std::vector<std::string> titles;
    std::string answer;
};

}  // namespace

TEST(CtrlLogoSnake, GridGeometry) {
    auto v = logo();
    EXPECT_EQ(v->lfield->frame(), (kit::Rect{0, 0, 73, 33}));
    ASSERT_EQ(v->lcells.size(), 144u);
    EXPECT_EQ(v->lcells[1 * 8 + 2]->frame(), (kit::Rect{5, 9, 3, 3}));
    EXPECT_TRUE(v->lfield->isHidden());
    // The starting snake is painted in the main colour, the corner is an edge shade.
    EXPECT_EQ(v->lcells[7 * 8 + 3]->backgroundColor()->r, 0.95);
    EXPECT_LT(v->lcells[1]->backgroundColor()->a, 0.11);
    EXPECT_LT(v->lcells[9 * 8 + 4]->backgroundColor()->a, v->lcells[1]->backgroundColor()->a);
}

TEST(CtrlLogoSnake, OnlyACommandClickOnTheHotSpotStarts) {
    kit::ManualClockScope clock;
    auto v = logo();
    v->mouseDown(click(28, false));
    v->mouseDown(click(20, true));
    v->mouseDown(click(35, true));
    EXPECT_FALSE(v->isOn);
    int starts = eventsNamed("snake:start");
    v->mouseDown(click(24, true));
    EXPECT_TRUE(v->isOn);
    EXPECT_TRUE(v->playing);
    EXPECT_FALSE(v->lfield->isHidden());
    EXPECT_EQ(eventsNamed("snake:start"), starts + 1);
    // A second click while the game runs starts nothing more.
    v->mouseDown(click(30, true));
    EXPECT_EQ(eventsNamed("snake:start"), starts + 1);
    EXPECT_EQ(clock.clock().pendingCount(), 1u);

    clock.advance(0.4);
    EXPECT_EQ(v->game.snake.back(), (GridCell{8, 3}));
}

TEST(CtrlLogoSnake, ShortGameShowsItsScoreThenTheLogo) {
    kit::ManualClockScope clock;
    Prompted prompted;
    services::setAlertPresenter([&](const services::AlertRequest& request) {
        prompted.titles.push_back(request.title);
        return services::AlertAnswer{0, prompted.answer};
    });
    auto v = logo();
    v->start();
    v->game.bait = {0, 0};
    v->game.score = 7;
    int stops = eventsNamed("snake:stop");
    clock.advance(0.4 + 0.2 * 9 + 0.1);  // ten moves to the right wall
    EXPECT_TRUE(v->isOn);
    EXPECT_EQ(eventsNamed("snake:stop"), stops);
    clock.advance(0.2);  // the crash
    EXPECT_EQ(eventsNamed("snake:stop"), stops + 1);
    EXPECT_FALSE(v->playing);
    EXPECT_TRUE(v->isOn);
    EXPECT_TRUE(prompted.titles.empty());
    EXPECT_EQ(v->game.matrix[10][2], 1);  // the 7's stem
    clock.advance(1.5);
    EXPECT_FALSE(v->isOn);
    EXPECT_TRUE(v->lfield->isHidden());
    EXPECT_EQ(clock.clock().pendingCount(), 0u);
    services::setAlertPresenter({});
}

TEST(CtrlLogoSnake, HighScoreAsksForANameAndPostsIt) {
    LoopbackServer server([](const HttpRequestRecord&) {
        return HttpReply{200, {{"Content-Type", "application/json"}}, R"({"success": "1"})"};
    });
    setenv("KADRIX_SITE", server.origin().c_str(), 1);
    std::vector<std::string> opened, warnings;
    CtrlLogoSnake::openPage = [&](const std::string& url) { opened.push_back(url); };
    CtrlLogoSnake::warn = [&](const std::string& t, const std::string&) { warnings.push_back(t); };
    Prompted prompted{{}, "Ann"};
    services::setAlertPresenter([&](const services::AlertRequest& request) {
        prompted.titles.push_back(request.title);
        return services::AlertAnswer{0, prompted.answer};
    });

    auto v = logo();
    v->playing = true;
    v->game.score = 12;
    v->game.direction = "left";
    v->game.snake = {{1, 3}, {0, 3}};
    EXPECT_EQ(v->move(), 1500);
    EXPECT_EQ(prompted.titles, (std::vector<std::string>{"Your Score: 12"}));
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return !opened.empty(); }, 10));
    std::vector<HttpRequestRecord> requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/leaderboard.php");
    EXPECT_EQ(requests[0].headers["content-type"], "application/json");
    const std::string& body = requests[0].body;
    EXPECT_NE(body.find(R"("name":"Ann")"), std::string::npos);
    EXPECT_NE(body.find(R"("score":"12")"), std::string::npos);
    EXPECT_NE(body.find(R"("hash":"6485acf043357f421279c88bf4f210c2f15036622402a697cea877eb2898460b")"),
              std::string::npos);
    EXPECT_EQ(opened[0], server.origin() + "/leaderboard.php");
    EXPECT_TRUE(warnings.empty());
    EXPECT_GE(eventsNamed("snake:leaderboard"), 1);

    // A cancelled prompt posts nothing.
    prompted.answer = "";
    int posts = eventsNamed("snake:leaderboard");
    v->playing = true;
    v->game.score = 15;
    v->game.direction = "left";
    v->game.snake = {{1, 3}, {0, 3}};
    v->move();
    EXPECT_EQ(eventsNamed("snake:leaderboard"), posts);
    services::setAlertPresenter({});
}

TEST(CtrlLogoSnake, FailedSubmissionsWarn) {
    std::vector<std::string> opened, warnings;
    CtrlLogoSnake::openPage = [&](const std::string& url) { opened.push_back(url); };
    CtrlLogoSnake::warn = [&](const std::string& t, const std::string& m) {
        warnings.push_back(t + ": " + m);
    };
    {
        LoopbackServer server([](const HttpRequestRecord&) {
            return HttpReply{200, {{"Content-Type", "application/json"}}, R"({"error": "closed"})"};
        });
        setenv("KADRIX_SITE", server.origin().c_str(), 1);
        auto v = logo();
        v->leaderboard("Bo", 11);
        ASSERT_TRUE(kit::runMainLoopUntil([&] { return !warnings.empty(); }, 10));
        EXPECT_EQ(warnings[0], "Oops: Apparently we failed to add your score");
    }
    // Nobody listens: no reply at all.
    setenv("KADRIX_SITE", "http://127.0.0.1:9", 1);
    auto v = logo();
    v->leaderboard("Bo", 11);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return warnings.size() == 2; }, 10));
    EXPECT_TRUE(opened.empty());
    unsetenv("KADRIX_SITE");
}
