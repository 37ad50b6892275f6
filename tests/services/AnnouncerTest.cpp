#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "ServicesFixture.h"
#include "kit/base/Files.h"
#include "kit/base/Timer.h"
#include "services/Announcer.h"

using namespace services;

namespace {
std::string localDay(double seconds) {
    std::time_t t = std::time_t(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

using File = std::map<std::string, std::string>;

class AnnouncerTest : public ServicesFixture {
protected:
    void SetUp() override {
        ServicesFixture::SetUp();
        announcer = std::make_unique<Announcer>(*settings, *telemetry);
        editor = kit::View::make({0, 0, 800, 500});
        updateAppHooks([this](AppHooks& hooks) {
            hooks.openWithDefaultApp = [this](const std::string& link) {
                opened.push_back(link);
                return true;
            };
        });
        settings->setLocalEventCounter(10);
    }
    // An announcement running today, shown once the counter passes 5.
    File today(const std::string& code = "spring26") {
        std::string day = localDay(kit::wallNow());
        return {{"psa_code", code},
                {"psa_firstDate", day},
                {"psa_lastDate", day},
                {"psa_minLec", "5"},
                {"psa_message", "Big news"},
                {"psa_cta", "Read more"},
                {"psa_link", "https://kadrix.app/news"}};
    }
    bool bannerVisible() const { return announcer->theView() && !announcer->theView()->isHidden(); }

    kit::ManualClockScope clock{0, 1.8e9};
    std::unique_ptr<Announcer> announcer;
    std::shared_ptr<kit::View> editor;
    std::vector<std::string> opened;
};
}  // namespace

TEST_F(AnnouncerTest, ConfigurationTakesOnlyValuesThatPassTheirTests) {
    announcer->configure(today());
    EXPECT_EQ(announcer->code, "spring26");
    EXPECT_EQ(announcer->minLec, 5);
    EXPECT_EQ(announcer->link, "https://kadrix.app/news");

    announcer->configure({{"psa_code", "spring26"},
                          {"psa_firstDate", "2026-01-0"},
                          {"psa_lastDate", "1999-01-01"},
                          {"psa_minLec", "-5"},
                          {"psa_message", "Hi!"},
                          {"psa_cta", "Go"},
                          {"psa_link", "http://kadrix.app/plain"}});
    EXPECT_EQ(announcer->firstDate, localDay(kit::wallNow())) << "9 characters: ignored";
    EXPECT_EQ(announcer->lastDate, localDay(kit::wallNow())) << "not a 202x date: ignored";
    EXPECT_EQ(announcer->minLec, 5);
    EXPECT_EQ(announcer->message, "Big news");
    EXPECT_EQ(announcer->cta, "Read more");
    EXPECT_EQ(announcer->link, "https://kadrix.app/news") << "only https links";

    announcer->configure({{"psa_code", "abc"}, {"psa_minLec", "+7"}});
    EXPECT_EQ(announcer->minLec, 7);
    announcer->configure({{"psa_code", "abc"}, {"psa_minLec", "seven"}});
    EXPECT_EQ(announcer->minLec, 7);

    announcer->configure({{"psa_code", "ab"}});
    EXPECT_EQ(announcer->code, "");
    EXPECT_EQ(announcer->message, "");
    EXPECT_EQ(announcer->firstDate, "2099-01-01");
    EXPECT_EQ(announcer->cta, "Read more") << "the rest keeps its values";
}

TEST_F(AnnouncerTest, DateWindowCoversBothDaysInFull) {
    double midnight = *Announcer::parseDay(localDay(kit::wallNow()));
    announcer->firstDate = announcer->lastDate = localDay(midnight);
    clock.clock().setWall(midnight);
    EXPECT_TRUE(announcer->inDateWindow());
    clock.clock().setWall(midnight + 86399);
    EXPECT_TRUE(announcer->inDateWindow());
    clock.clock().setWall(midnight + 86401);
    EXPECT_FALSE(announcer->inDateWindow());
    clock.clock().setWall(midnight - 1);
    EXPECT_FALSE(announcer->inDateWindow());
    announcer->firstDate = "2026-02-30";
    EXPECT_FALSE(announcer->inDateWindow()) << "a day that does not exist";
    EXPECT_FALSE(Announcer::parseDay("2026/01/01"));
}

TEST_F(AnnouncerTest, BannerShowsAfterADelayWhenDue) {
    announcer->configure(today());
    announcer->attach(*editor);
    ASSERT_TRUE(announcer->theView());
    EXPECT_FALSE(bannerVisible());
    clock.advance(0.39);
    EXPECT_FALSE(bannerVisible());
    clock.advance(0.02);
    EXPECT_TRUE(bannerVisible());
    EXPECT_EQ(last()["type"], "announcer:show");
    EXPECT_EQ(last()["code"], "spring26");
    EXPECT_EQ(announcer->messageLabel()->text(), "Big news");
    EXPECT_EQ(announcer->ctaButton()->title(), "Read more");
    EXPECT_EQ(announcer->closeButton()->title(), "\u00D7");
    kit::Rect frame = announcer->theView()->frame();
    EXPECT_EQ(frame.maxY(), 500 - 20) << "20 points below the top";
    EXPECT_DOUBLE_EQ(frame.midX(), 400);
    kit::Rect cta = announcer->ctaButton()->frame(), close = announcer->closeButton()->frame();
    EXPECT_EQ(cta.height(), 28);
    EXPECT_EQ(frame.height() - cta.maxY(), 6) << "the button sits 6 below the banner's top";
    EXPECT_GE(cta.minY(), 6) << "and keeps 6 clear of its bottom";
    EXPECT_EQ(close.height(), 39);
    EXPECT_EQ(close.maxY(), frame.height()) << "the close button hangs from the top";
    EXPECT_EQ(frame.maxX() - frame.minX() - close.maxX(), 4);

    // Too few events yet, or outside its days: hidden at the next attach.
    settings->setLocalEventCounter(5);
    announcer->attach(*editor);
    EXPECT_FALSE(bannerVisible());
    settings->setLocalEventCounter(10);
    clock.clock().setWall(kit::wallNow() + 3 * 86400);
    announcer->attach(*editor);
    clock.advance(1);
    EXPECT_FALSE(bannerVisible());
}

TEST_F(AnnouncerTest, ClosedForGoodEvenAcrossARestart) {
    std::string path = kit::files::configDir() + "/announcer-restart.json";
    std::filesystem::remove(path);
    {
        kit::Defaults file(path);
        Settings s(file, telemetry.get());
        s.setLocalEventCounter(10);
        Announcer a(s, *telemetry);
        a.configure(today());
        a.attach(*editor);
        clock.advance(0.5);
        ASSERT_FALSE(a.theView()->isHidden());
        a.closeButton()->performClick();
        EXPECT_TRUE(a.theView()->isHidden());
        EXPECT_EQ(last()["type"], "announcer:close");
        a.theView()->removeFromSuperview();
    }
    kit::Defaults file(path);
    Settings s(file, telemetry.get());
    Announcer a(s, *telemetry);
    a.configure(today());
    EXPECT_FALSE(a.shouldShow()) << "the same code stays closed";
    a.configure(today("summer26"));
    EXPECT_TRUE(a.shouldShow()) << "a new code shows";
    std::filesystem::remove(path);
}

TEST_F(AnnouncerTest, CallToActionOpensTheLinkAndMarksIt) {
    announcer->configure(today());
    announcer->attach(*editor);
    clock.advance(0.5);
    announcer->ctaButton()->performClick();
    EXPECT_EQ(opened, std::vector<std::string>{"https://kadrix.app/news"});
    EXPECT_FALSE(bannerVisible());
    EXPECT_EQ(storage->integer("announcer:spring26"), 1);
    bool acted = false;
    for (auto& record : telemetry->events()) acted |= record["type"] == "announcer:action";
    EXPECT_TRUE(acted);

    // Without a link the button only reports.
    Announcer fresh(*settings, *telemetry);
    fresh.configure({{"psa_code", "nolink"}});
    fresh.doCTA();
    EXPECT_EQ(last()["type"], "announcer:action");
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_FALSE(storage->contains("announcer:nolink"));
}

TEST_F(AnnouncerTest, CloseBeforeTheDelayKeepsTheBannerHidden) {
    announcer->configure(today());
    announcer->attach(*editor);
    announcer->doClose();
    clock.advance(1);
    EXPECT_FALSE(bannerVisible());
    for (auto& record : telemetry->events()) EXPECT_NE(record["type"], "announcer:show");
}
