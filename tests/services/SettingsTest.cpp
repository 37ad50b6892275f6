#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "ServicesFixture.h"
#include "kit/base/Files.h"
#include "kit/base/Regex.h"

using namespace services;

using SettingsTest = ServicesFixture;

TEST_F(SettingsTest, FirstReadStoresTheDefaultAndLaterReadsKeepIt) {
    EXPECT_FALSE(storage->contains("areaCaptureMode"));
    EXPECT_EQ(settings->areaCaptureMode(), "none");
    EXPECT_EQ(storage->string("areaCaptureMode"), "none");
    EXPECT_EQ(settings->getString("areaCaptureMode", "other"), "none");

    EXPECT_EQ(settings->getInt("scrollingMax", 7), 7);
    EXPECT_EQ(storage->object("scrollingMax"), kit::Json(7));
    EXPECT_EQ(settings->scrollingMax(), 7);

    EXPECT_TRUE(settings->afterGrabShow());
    EXPECT_EQ(storage->object("afterGrabShow"), kit::Json(true));
    EXPECT_TRUE(settings->getBool("afterGrabShow", false));
    EXPECT_TRUE(telemetry->events().empty()) << "a getter never sends telemetry";
}

TEST_F(SettingsTest, StoredValuesWinOverDefaultsAndWrongTypesReadAsDefaults) {
    storage->set("colorFormat", "RGB");
    storage->set("libLayout", kit::Json::array({1, 2}));
    storage->set("scrollingSpeed", "fast");
    EXPECT_EQ(settings->colorFormat(), "RGB");
    EXPECT_EQ(settings->libLayout(), "medium");
    EXPECT_EQ(storage->object("libLayout"), kit::Json::array({1, 2})) << "a stored value is never replaced";
    EXPECT_EQ(settings->scrollingSpeed(), 0);
    // A cached value of another type reads as the caller's default.
    EXPECT_EQ(settings->getInt("colorFormat", 5), 5);
}

TEST_F(SettingsTest, ANumberAndAFlagReadAlikeOnceCached) {
    settings->setShowMenubarIcon(false);  // stores the number 0
    EXPECT_EQ(settings->showMenubarIcon(), 0);
    EXPECT_FALSE(settings->getBool("showMenubarIcon", true)) << "0 reads as false, not as the flag's default";
    settings->setShowMenubarIcon(true);
    EXPECT_TRUE(settings->getBool("showMenubarIcon", false));
    settings->storeBool("showIntro", false);
    EXPECT_EQ(settings->getInt("showIntro", 1), 0);
    settings->storeBool("showIntro", true);
    EXPECT_EQ(settings->showIntro(), 1);
}

TEST_F(SettingsTest, SettersStoreAndReportByTheirKind) {
    settings->setAfterGrabCopy(true);
    EXPECT_TRUE(settings->afterGrabCopy());
    EXPECT_EQ(storage->object("afterGrabCopy"), kit::Json(true));
    EXPECT_EQ(last()["type"], "setting-afterGrabCopy");
    EXPECT_EQ(last()["setting"], true);

    size_t before = telemetry->events().size();
    settings->setBdrConfig("{}");
    settings->setToken("secret");
    EXPECT_EQ(telemetry->events().size(), before) << "silent keys send nothing";
    EXPECT_EQ(settings->token(), "secret");

    settings->setDefaultFolder("/home/someone/Pictures");
    EXPECT_EQ(last()["type"], "setting-defaultFolder");
    EXPECT_FALSE(last().contains("setting")) << "the folder path is not sent";

    settings->setScrollingMax(30000);
    EXPECT_EQ(last()["setting"], 30000);
}

TEST_F(SettingsTest, SpecialSettersCallTheirOwnersFirst) {
    std::vector<std::string> calls;
    updateAppHooks([&](AppHooks& hooks) {
        hooks.setStatusItemVisible = [&](bool visible) {
            calls.push_back(std::string("status:") + (visible ? "1" : "0"));
        };
        hooks.setThumbnailCacheLimit = [&](int64_t limit) {
            calls.push_back("cache:" + std::to_string(limit));
        };
    });
    settings->setShowMenubarIcon(false);
    EXPECT_EQ(storage->object("showMenubarIcon"), kit::Json(0));
    EXPECT_EQ(settings->showMenubarIcon(), 0);
    EXPECT_EQ(last()["type"], "setting-showMenubarIcon");
    EXPECT_EQ(last()["setting"], 0);

    settings->setLibLimit(200);
    EXPECT_EQ(settings->libLimit(), 200);
    EXPECT_EQ(last()["setting"], 200);
    settings->setLibLimit(20);
    EXPECT_EQ(calls, (std::vector<std::string>{"status:0", "cache:50", "cache:20"}));

    settings->setShowIntro(true);
    EXPECT_EQ(storage->object("showIntro"), kit::Json(1));

    settings->setWindowShadow("solid");
    settings->setWindowShadow("trimmed");
    EXPECT_EQ(last()["type"], "setting-windowShadow");
    EXPECT_EQ(last()["rep"], 2);
    EXPECT_EQ(last()["setting"], "trimmed");
}

TEST_F(SettingsTest, UidIsGeneratedOnceInItsForm) {
    std::string first = settings->uid();
    EXPECT_TRUE(kit::Regex("[0-9a-z]+-[0-9a-z]+").matchesWhole(first)) << first;
    EXPECT_EQ(settings->uid(), first);
    EXPECT_EQ(storage->string("uid"), first);
    EXPECT_EQ(telemetry->uid(), first);
    // The first part counts milliseconds since 2019-12-20: about 2.2e11 in 2026.
    int64_t ms = std::stoll(first.substr(0, first.find('-')), nullptr, 36);
    EXPECT_GT(ms, int64_t(1e11));
    int64_t random = std::stoll(first.substr(first.find('-') + 1), nullptr, 36);
    EXPECT_GE(random, 1);
    EXPECT_LE(random, 1600000);
}

TEST_F(SettingsTest, EverCountsPresenceOnly) {
    EXPECT_FALSE(settings->ever("CreatedGIF"));
    storage->set("everCreatedGIF", false);
    EXPECT_TRUE(settings->ever("CreatedGIF"));
    EXPECT_FALSE(storage->contains("everScrolled"));
}

TEST_F(SettingsTest, ResetKeepsTokenUidAndCounterOnly) {
    settings->setToken("t0k3n");
    std::string uid = settings->uid();
    settings->setAfterGrabSave(true);  // an event, so the counter moves
    int64_t counter = settings->localEventCounter();
    EXPECT_GT(counter, 0);
    storage->set("typeface", "Serif");
    settings->resetSettings();

    auto keys = storage->keys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"localEventCounter", "token", "uid"}));
    EXPECT_EQ(storage->string("token"), "t0k3n");
    EXPECT_EQ(storage->string("uid"), uid);
    EXPECT_EQ(storage->integer("localEventCounter"), counter);
    // The running program reads the defaults again, not the values from before.
    EXPECT_FALSE(settings->afterGrabSave());
}

TEST_F(SettingsTest, DefaultFolderIsABookmarkThatGoesStale) {
    namespace fs = std::filesystem;
    fs::path folder = fs::path(kit::files::dataDir()) / "settings-folder-test";
    fs::remove_all(folder);
    fs::create_directories(folder);
    EXPECT_FALSE(settings->defaultFolderURL());
    settings->setDefaultFolderURL(folder.string());
    ASSERT_TRUE(settings->defaultFolderURL());
    EXPECT_EQ(fs::path(*settings->defaultFolderURL()), folder);

    // A folder that cannot be bookmarked is reported and the old bookmark stays.
    settings->setDefaultFolderURL((folder / "missing").string());
    EXPECT_EQ(last()["type"], "oops");
    EXPECT_EQ(last()["function"], "defaultFolderURL");
    EXPECT_EQ(last()["message"].get<std::string>().rfind("Failed to get bookmarkData: ", 0), 0u);
    EXPECT_TRUE(settings->defaultFolderURL());

    // The same path made anew is another folder: the bookmark is stale.
    // (The old folder still exists while the new one is made, so the two differ.)
    fs::rename(folder, folder.string() + "-old");
    fs::create_directories(folder);
    fs::remove_all(folder.string() + "-old");
    EXPECT_FALSE(settings->defaultFolderURL());
    settings->setDefaultFolderURL(std::nullopt);
    EXPECT_FALSE(storage->contains("defaultFolderBookmark"));
    fs::remove_all(folder);
}

TEST_F(SettingsTest, ReadersAndWritersOnSeveralThreadsSeeWholeValues) {
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                if (t % 2) {
                    settings->setSaveFormat(i % 2 ? "PNG" : "JPEG");
                } else {
                    std::string value = settings->saveFormat();
                    if (value != "PNG" && value != "JPEG" && value != "Auto") bad = true;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(bad);
    size_t posted = 0;
    for (auto& post : recordedPosts()) posted += post.records.size();
    EXPECT_EQ(telemetry->events().size() + posted, 1000u);
}
