#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "ServicesFixture.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Regex.h"
#include "kit/base/Timer.h"
#include "services/Site.h"
#include "support/LoopbackServer.h"

using namespace services;

using TelemetryTest = ServicesFixture;

namespace {
void queue(Telemetry& t, int count, const std::string& name = "x") {
    for (int i = 0; i < count; ++i) t.event(name, {{"i", i}});
}
}  // namespace

TEST_F(TelemetryTest, RecordsCarryTheirStamps) {
    updateAppHooks([](AppHooks& hooks) {
        hooks.editorZoom = [] { return 1.5; };
        hooks.editorDpr = [] { return 1.0; };
    });
    telemetry->event("copy", {{"method", "menu"}, {"ts", "caller"}, {"size", 2}});
    kit::Json record = last();
    EXPECT_EQ(record["type"], "copy");
    EXPECT_EQ(record["method"], "menu");
    EXPECT_EQ(record["size"], 2);
    EXPECT_TRUE(record["ts"].is_number_integer()) << "the stamps overwrite the caller's keys";
    EXPECT_NEAR(record["ts"].get<double>(), kit::wallNow() * 1000, 5000);
    int64_t evtid = record["evtid"];
    int64_t ts = record["ts"];
    EXPECT_EQ(evtid / 10000, ts - 1576800000000);
    EXPECT_EQ(record["uid"], settings->uid());
    EXPECT_EQ(record["sid"], telemetry->sid());
    EXPECT_EQ(record["dev"], false);
    EXPECT_EQ(record["zoom"], 1.5);
    EXPECT_EQ(record["dpr"], 1.0);
    EXPECT_EQ(record["vc"], telemetry->vc());
    EXPECT_EQ(record["lec"], 0);
    telemetry->event("copy");
    EXPECT_EQ(last()["lec"], 1);
    EXPECT_EQ(settings->localEventCounter(), 2);
    EXPECT_FALSE(record.contains("cpu"));

    telemetry->event("launch");
    for (const char* key : {"os", "appv", "build", "ln", "loc", "tz", "cpu"})
        EXPECT_TRUE(last().contains(key)) << key;
    EXPECT_TRUE(kit::Regex(R"(\d+\.\d+\.\d+)").matchesWhole(last()["os"].get<std::string>()));
}

TEST_F(TelemetryTest, VersionCodeNeedsThreeParts) {
    EXPECT_EQ(Telemetry::versionCode("1.2.3", "45"), 1020345);
    EXPECT_EQ(Telemetry::versionCode("2.10.7", "1234"), 2100734);
    EXPECT_EQ(Telemetry::versionCode("1.2", "5"), 0);
    EXPECT_EQ(Telemetry::versionCode("1..2.x", "b"), 1020000);
}

TEST_F(TelemetryTest, PresetsMergeIntoTheNextEventOfTheirName) {
    telemetry->preset("x", {{"method", "menu"}, {"size", 9}});
    telemetry->preset("x", {{"method", "hotkey:Ctrl+1"}});
    telemetry->event("y");
    EXPECT_FALSE(last().contains("method"));
    telemetry->event("x", {{"size", 2}});
    EXPECT_EQ(last()["method"], "hotkey:Ctrl+1");
    EXPECT_EQ(last()["size"], 2) << "the caller's value wins";
    telemetry->event("x");
    EXPECT_FALSE(last().contains("method"));
}

TEST_F(TelemetryTest, RepeatableEventsFoldByNameAndMethod) {
    telemetry->repeatableEvent("x", {{"method", "menu"}});
    EXPECT_EQ(last()["rep"], 1);
    telemetry->repeatableEvent("x", {{"method", "menu"}});
    telemetry->repeatableEvent("x", {{"method", "menu"}});
    EXPECT_EQ(types(), (std::vector<std::string>{"x"}));
    EXPECT_EQ(last()["rep"], 3);
    EXPECT_EQ(settings->localEventCounter(), 1) << "a folded repeat counts once";

    telemetry->repeatableEvent("x", {{"method", "auto"}});
    telemetry->repeatableEvent("x");
    telemetry->repeatableEvent("x");
    EXPECT_EQ(types(), (std::vector<std::string>{"x", "x", "x"}));
    EXPECT_EQ(last()["rep"], 2);

    // A preset's method decides the match.
    telemetry->preset("x", {{"method", "auto"}});
    telemetry->repeatableEvent("x");
    EXPECT_EQ(types().size(), 4u);
}

TEST_F(TelemetryTest, EventUnlessLastAndSessions) {
    telemetry->eventUnlessLast("a", "b");
    EXPECT_TRUE(telemetry->events().empty());
    telemetry->event("a");
    telemetry->eventUnlessLast("a", "b");
    EXPECT_EQ(types(), (std::vector<std::string>{"a"}));
    telemetry->event("c");
    telemetry->eventUnlessLast("a", "b");
    EXPECT_EQ(types().back(), "b");

    // A session's id is the millisecond it began with a random number below
    // a thousand: sessions begun a second apart differ, the later larger.
    kit::ManualClockScope clock(0, 1.7e9);
    telemetry->newSession();
    std::string session = telemetry->sid();
    telemetry->event("hide");
    EXPECT_EQ(last()["sid"], session);
    telemetry->event("later");
    EXPECT_EQ(last()["sid"], "0");
    clock.clock().setWall(1.7e9 + 1);
    telemetry->event("show");
    const std::string next = last()["sid"].get<std::string>();
    const auto number = [](const std::string& id) { return std::stoll(id, nullptr, 36); };
    EXPECT_GT(number(next), number(session)) << next << " after " << session;
    EXPECT_EQ(number(next) / 1000 - number(session) / 1000, 1000)
        << "the second between them, in milliseconds";
}

TEST_F(TelemetryTest, OopsPrintsItsBlockAndStopsFlooding) {
    std::string dashes;
    for (int i = 0; i < 41; ++i) dashes += "\u2014";
    testing::internal::CaptureStdout();
    telemetry->oops("save()", "Disk full");
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, dashes + "\nOOPS Disk full\nsave()\n" + dashes + "\n");
    EXPECT_EQ(last()["type"], "oops");
    EXPECT_EQ(last()["message"], "Disk full");
    EXPECT_EQ(last()["function"], "save()");

    telemetry->event("x");
    for (int i = 0; i < 5; ++i) telemetry->oops("f", "again");
    EXPECT_EQ(types().size(), 7u);
    testing::internal::CaptureStdout();
    telemetry->oops("f", "flood");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("OOPSES: Five in a row, stop flooding GA"),
              std::string::npos);
    EXPECT_EQ(types().size(), 7u);
}

TEST_F(TelemetryTest, BatchesOf36WithOneRoundInFlight) {
    queue(*telemetry, 35);
    EXPECT_TRUE(posts.empty());
    queue(*telemetry, 1);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].records.size(), 36u);
    EXPECT_EQ(posts[0].url, productSiteURL("/telemetry.php"));
    EXPECT_TRUE(telemetry->events().empty());
    EXPECT_TRUE(telemetry->flushingInProgress());

    queue(*telemetry, 36);
    EXPECT_EQ(posts.size(), 1u) << "a post is under way";
    testing::internal::CaptureStdout();
    answer(std::nullopt);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Telemetry Flush: Go on another round..."),
              std::string::npos);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1].records.front()["i"], 0);
    answer(std::nullopt);
    EXPECT_TRUE(telemetry->events().empty());
    EXPECT_EQ(storage->object("GATelemetry"), kit::Json::array());
}

TEST_F(TelemetryTest, FailedPostBacksOffAndLosesNothing) {
    kit::ManualClockScope clock(0, kit::wallNow());
    queue(*telemetry, 36);
    queue(*telemetry, 2, "meanwhile");
    answer("Network Error: timed out");
    auto events = telemetry->events();
    ASSERT_EQ(events.size(), 38u);
    EXPECT_EQ(events[0]["type"], "meanwhile") << "the batch goes behind what came meanwhile";
    EXPECT_EQ(events[2]["i"], 0);

    telemetry->flush(true);
    EXPECT_EQ(posts.size(), 1u) << "no post during the back-off, forced or not";
    clock.clock().setWall(clock.clock().wallNow() + 1799);
    telemetry->flush(true);
    EXPECT_EQ(posts.size(), 1u);
    clock.clock().setWall(clock.clock().wallNow() + 1);
    telemetry->flush(false);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1].records.size(), 36u);
}

TEST_F(TelemetryTest, TurningTelemetryOffFlushesOnceThenOnlyStores) {
    queue(*telemetry, 3);
    settings->setAllowTelemetry(false);
    ASSERT_EQ(posts.size(), 1u);
    ASSERT_EQ(posts[0].records.size(), 4u);
    EXPECT_EQ(posts[0].records.back()["type"], "setting-allowTelemetry");
    EXPECT_EQ(posts[0].records.back()["setting"], false);
    answer(std::nullopt);

    queue(*telemetry, 40);
    telemetry->flush(true);
    EXPECT_EQ(posts.size(), 1u);
    EXPECT_EQ(storage->array("GATelemetry")->size(), 40u) << "kept for later, not sent";
}

TEST_F(TelemetryTest, QueueSurvivesARestartAndStaysBounded) {
    settings->setAllowTelemetry(false);
    answer(std::nullopt);
    queue(*telemetry, 1001);
    EXPECT_EQ(telemetry->events().size(), 1001u);
    queue(*telemetry, 1);
    EXPECT_EQ(telemetry->events().size(), 902u);
    telemetry->storeQueue();
    makeServices();
    EXPECT_EQ(telemetry->events().size(), 902u);

    storage->set("GATelemetry", kit::Json::array({1, 2}));
    makeServices();
    EXPECT_TRUE(telemetry->events().empty()) << "a stored value of the wrong form is ignored";
}

TEST_F(TelemetryTest, PersistsAcrossARealRestartOfTheDatabaseFile) {
    std::string path = kit::files::configDir() + "/telemetry-restart.json";
    std::filesystem::remove(path);
    {
        kit::Defaults file(path);
        Settings s(file);
        Telemetry t(s, [](const std::string&, const std::vector<EventRecord>&, PostCompletion) {});
        s.setTelemetry(&t);
        t.event("launch");
        t.event("quit");
        t.storeQueue();
    }
    kit::Defaults file(path);
    Settings s(file);
    Telemetry t(s, [](const std::string&, const std::vector<EventRecord>&, PostCompletion) {});
    auto events = t.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1]["type"], "quit");
    std::filesystem::remove(path);
}

TEST_F(TelemetryTest, NonFiniteNumbersBecomeNullSoTheQueueDrains) {
    updateAppHooks([](AppHooks& hooks) { hooks.editorZoom = [] { return std::nan(""); }; });
    telemetry->event("x", {{"value", INFINITY}, {"nested", {{"v", -INFINITY}}}});
    EXPECT_TRUE(last()["zoom"].is_null());
    EXPECT_TRUE(last()["value"].is_null());
    EXPECT_TRUE(last()["nested"]["v"].is_null());
    EXPECT_EQ(kit::json::parse(kit::json::dump(last()))->at("value"), nullptr);
}

TEST(TelemetryPostTest, PostsTheSortedJsonToTheSiteOnTheMainThread) {
    LoopbackServer server;
    SiteScope site(server.origin());
    server.setHandler([](const HttpRequestRecord&) { return HttpReply{500, {}, "ignored"}; });

    kit::Defaults storage("");
    Settings settings(storage);
    Telemetry telemetry(settings);  // the real transport
    settings.setTelemetry(&telemetry);
    telemetry.event("b", {{"zeta", 1}, {"alpha", "two"}});
    std::vector<EventRecord> sent = telemetry.events();
    telemetry.flush(true);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return !telemetry.flushingInProgress(); }, 10));

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/telemetry.php");
    EXPECT_EQ(requests[0].headers["content-type"], "application/json");
    EXPECT_EQ(requests[0].headers["accept"], "application/json");
    EXPECT_EQ(requests[0].body, kit::json::dump(kit::Json(sent)));
    EXPECT_EQ(requests[0].body.rfind("[{\"alpha\":\"two\",\"b", 0), std::string::npos);
    EXPECT_EQ(requests[0].body.find("{\"alpha\":\"two\","), 1u) << "keys are sorted";
    EXPECT_TRUE(telemetry.events().empty()) << "a 500 reply still counts as delivered";
}

TEST(TelemetryPostTest, AnAnswerOfAnySizeIsADeliveredBatch) {
    LoopbackServer server;
    SiteScope site(server.origin());
    // Far more than the bound read of an answer that is ignored anyway.
    server.setHandler([](const HttpRequestRecord&) { return HttpReply{200, {}, std::string(1 << 20, 'x')}; });
    std::optional<std::optional<std::string>> result;
    postJSON(productSiteURL("/telemetry.php"), {kit::Json{{"type", "x"}}},
             [&](std::optional<std::string> failure) { result = failure; });
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return result.has_value(); }, 10));
    EXPECT_FALSE(result->has_value()) << result->value_or("");
}

TEST(TelemetryPostTest, TransportErrorIsReportedOnTheMainThread) {
    LoopbackServer server;
    SiteScope site("http://127.0.0.1:1");  // nothing listens there
    std::optional<std::optional<std::string>> result;
    bool onMain = false;
    postJSON(productSiteURL("/telemetry.php"), {kit::Json{{"type", "x"}}},
             [&](std::optional<std::string> failure) {
                 onMain = kit::isMainThread();
                 result = failure;
             });
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return result.has_value(); }, 10));
    EXPECT_TRUE(onMain);
    ASSERT_TRUE(result->has_value());
    EXPECT_EQ(result->value().rfind("Network Error: ", 0), 0u);
}
