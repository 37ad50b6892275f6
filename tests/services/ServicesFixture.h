#pragma once
// A settings store and a telemetry service of their own for each test, over
// an in-memory database, with a transport that records posts and holds their
// completions until the test answers them.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Defaults.h"
#include "services/AppHooks.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

struct RecordedPost {
    std::string url;
    std::vector<services::EventRecord> records;
    services::PostCompletion done;
};

class ServicesFixture : public ::testing::Test {
protected:
    void SetUp() override {
        services::resetAppHooks();
        storage = std::make_unique<kit::Defaults>("");
        makeServices();
    }
    void TearDown() override { services::resetAppHooks(); }

    // A fresh pair over the same database, as after a restart.
    void makeServices() {
        telemetry.reset();
        settings = std::make_unique<services::Settings>(*storage);
        telemetry = std::make_unique<services::Telemetry>(
            *settings, [this](const std::string& url, const std::vector<services::EventRecord>& records,
                              services::PostCompletion done) {
                std::lock_guard guard(postsMutex);
                posts.push_back({url, records, std::move(done)});
            });
        settings->setTelemetry(telemetry.get());
    }

    // Answers the oldest unanswered post.
    void answer(std::optional<std::string> failure) {
        ASSERT_LT(answered, posts.size());
        posts[answered++].done(std::move(failure));
    }

    std::vector<RecordedPost> recordedPosts() {
        std::lock_guard guard(postsMutex);
        return posts;
    }

    std::vector<std::string> types() const {
        std::vector<std::string> out;
        for (auto& record : telemetry->events()) out.push_back(record.value("type", ""));
        return out;
    }
    kit::Json last() const { return telemetry->events().back(); }

    std::unique_ptr<kit::Defaults> storage;
    std::unique_ptr<services::Settings> settings;
    std::unique_ptr<services::Telemetry> telemetry;
    std::mutex postsMutex;
    std::vector<RecordedPost> posts;
    size_t answered = 0;
};
