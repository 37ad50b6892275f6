#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "kit/base/Defaults.h"
#include "kit/base/Files.h"
#include "support/OwnCase.h"
#include "support/ThreadLimit.h"

using namespace kit;
namespace fs = std::filesystem;

namespace {

class DefaultsFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir =
            files::tempDir() + "/defaults-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        files::remove(dir);
        files::makeDirs(dir);
        path = dir + "/defaults.json";
    }
    void TearDown() override { files::remove(dir); }
    std::vector<std::string> asideFiles() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().starts_with("defaults.json.corrupt-")) out.push_back(e.path());
        return out;
    }
    std::string dir, path;
};

}  // namespace

TEST(Defaults, TypedReadsConvertLikeTheUserDefaultsDatabase) {
    Defaults d("");
    d.set("text", "hello");
    d.set("num", "42");
    d.set("real", 2.75);
    d.set("whole", 10.0);
    d.set("int", int64_t(7));
    d.set("yes", true);
    d.set("list", Json::array({1, "a"}));
    d.set("dict", Json{{"k", 1}});
    d.set("word", "yes");

    EXPECT_EQ(d.string("text"), "hello");
    EXPECT_EQ(d.string("int"), "7");
    EXPECT_EQ(d.string("real"), "2.75");
    EXPECT_EQ(d.string("whole"), "10");
    EXPECT_EQ(d.string("yes"), "1");
    EXPECT_FALSE(d.string("list"));
    EXPECT_FALSE(d.string("absent"));

    EXPECT_EQ(d.integer("num"), 42);
    EXPECT_EQ(d.integer("real"), 2);
    EXPECT_EQ(d.integer("yes"), 1);
    EXPECT_EQ(d.integer("text"), 0);
    EXPECT_EQ(d.integer("absent"), 0);
    EXPECT_DOUBLE_EQ(d.doubleValue("real"), 2.75);
    EXPECT_DOUBLE_EQ(d.doubleValue("num"), 42);

    EXPECT_TRUE(d.boolean("yes"));
    EXPECT_TRUE(d.boolean("int"));
    EXPECT_TRUE(d.boolean("word"));
    EXPECT_FALSE(d.boolean("text"));
    EXPECT_FALSE(d.boolean("absent"));

    EXPECT_EQ(d.array("list")->size(), 2u);
    EXPECT_FALSE(d.array("dict"));
    EXPECT_EQ(d.dictionary("dict")->at("k"), 1);
    EXPECT_FALSE(d.dictionary("list"));
    EXPECT_FALSE(d.data("text"));

    d.set("text", nullptr);  // null removes
    EXPECT_FALSE(d.contains("text"));
    d.remove("num");
    EXPECT_FALSE(d.object("num"));
    EXPECT_TRUE(d.contains("real"));
    d.removeAll();
    EXPECT_TRUE(d.keys().empty());
}

TEST_F(DefaultsFile, ValuesSurviveAReopenWithTheirTypesAndAPrivateMode) {
    {
        Defaults d(path);
        d.set("s", "ünïcode");
        d.set("i", int64_t(-9000000000));
        d.set("b", false);
        d.set("d", 0.1);
        d.setData("bytes", {0, 1, 2, 250, 255});
        d.set("nested", Json{{"inner", Json::binary({9, 8})}, {"list", {1, 2}}});
        ASSERT_TRUE(d.flush());
    }
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Defaults again(path);
    EXPECT_EQ(again.string("s"), "ünïcode");
    EXPECT_EQ(again.integer("i"), -9000000000);
    EXPECT_EQ(again.object("b"), Json(false));
    EXPECT_DOUBLE_EQ(again.doubleValue("d"), 0.1);
    EXPECT_EQ(again.data("bytes"), (std::vector<uint8_t>{0, 1, 2, 250, 255}));
    auto nested = again.dictionary("nested");
    ASSERT_TRUE(nested);
    EXPECT_TRUE(nested->at("inner").is_binary());
    EXPECT_EQ(nested->at("list"), Json::array({1, 2}));
    EXPECT_TRUE(asideFiles().empty());
}

TEST_F(DefaultsFile, ChangesAreWrittenAfterTheDebounceWithoutAFlush) {
    Defaults d(path, 0.05);
    d.set("k", 1);
    EXPECT_FALSE(files::exists(path));  // not yet: the write waits for quiet
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::optional<std::string> text;
    while (std::chrono::steady_clock::now() < until) {
        text = files::readAll(path);
        if (text && text->find("\"k\"") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("\"k\": 1"), std::string::npos);
}

// Where the system gives no thread to write on, no change waits for one: each
// is written as it is made.
TEST_F(DefaultsFile, WithNoThreadToWriteOnEachChangeIsWrittenAsItIsMade) {
    if (::getuid() != 0) GTEST_SKIP() << "making a user of its own needs root";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Reached through the descriptor: the folders above are not that user's.
            const int folder = ::open(dir.c_str(), O_PATH | O_DIRECTORY);
            if (::chown(dir.c_str(), testsupport::lonerId(), testsupport::lonerId()) != 0 ||
                !testsupport::refuseThreadStarts())
                std::_Exit(2);
            const std::string file = "/proc/self/fd/" + std::to_string(folder) + "/defaults.json";
            Defaults d(file, 60);
            d.set("kept", 7);
            std::fprintf(stderr, "%s\n",
                         Defaults(file).integer("kept") == 7 ? "written at once" : "not written");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "written at once\n$");
}

TEST_F(DefaultsFile, ACorruptFileIsMovedAsideAndTheStoreStartsEmpty) {
    const std::string garbage = "{\"token\": \"abc\", truncated";
    ASSERT_TRUE(files::writeAtomic(path, garbage));
    {
        Defaults d(path);
        EXPECT_TRUE(d.keys().empty());
        auto aside = asideFiles();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(files::readAll(aside[0]), garbage);  // nothing lost
        d.set("fresh", 1);
        ASSERT_TRUE(d.flush());
    }
    // A valid file that is not an object is refused the same way.
    Defaults d(path);
    EXPECT_EQ(d.integer("fresh"), 1);
    d.flush();
    ASSERT_TRUE(files::writeAtomic(path, "[1,2,3]"));
    files::remove(asideFiles()[0]);
    Defaults e(path);
    EXPECT_TRUE(e.keys().empty());
    EXPECT_EQ(asideFiles().size(), 1u);
}

TEST_F(DefaultsFile, CorruptFilesInOneSecondAreAllKept) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(files::writeAtomic(path, "{broken " + std::to_string(i)));
        Defaults d(path);
        EXPECT_TRUE(d.keys().empty());
    }
    auto aside = asideFiles();
    ASSERT_EQ(aside.size(), 3u);
    std::set<std::string> texts;
    for (auto& f : aside) texts.insert(files::readAll(f).value_or(""));
    EXPECT_EQ(texts, (std::set<std::string>{"{broken 0", "{broken 1", "{broken 2"}));
}

TEST_F(DefaultsFile, ACorruptFileFromAnotherProcessIsKeptNotOverwritten) {
    Defaults ours(path);
    ours.set("mine", 1);
    ASSERT_TRUE(ours.flush());
    // Another process leaves the file unreadable.
    ASSERT_TRUE(files::writeAtomic(path, "{\"theirs\": 2, cut off"));
    ours.synchronize();
    EXPECT_EQ(ours.integer("mine"), 1);
    auto aside = asideFiles();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(files::readAll(aside[0]), "{\"theirs\": 2, cut off");
    // The next write makes a whole file again, beside the kept copy.
    ours.set("mine", 2);
    ASSERT_TRUE(ours.flush());
    EXPECT_EQ(Defaults(path).integer("mine"), 2);
    EXPECT_EQ(files::readAll(aside[0]), "{\"theirs\": 2, cut off");
    // The same when the write comes first, without a synchronize.
    ASSERT_TRUE(files::writeAtomic(path, "not json"));
    ours.set("mine", 3);
    ASSERT_TRUE(ours.flush());
    EXPECT_EQ(asideFiles().size(), 2u);
}

// The writer of the case below, in a process of its own.
// Writes records whose payload must always match their counter.
TEST(DefaultsWriter, WritesUntilKilled) {
    const char* path = std::getenv("KADRIX_DEFAULTS_WRITER");
    if (!path) GTEST_SKIP() << "only run by DefaultsFile.AKillBetweenWritesLeavesTheLastWholeFile";
    Defaults d(path, 0);
    for (int64_t i = 1;; ++i) {
        d.set("record",
              Json{{"n", i}, {"payload", std::string(size_t(1000 + i % 5000), char('a' + i % 26))}});
        d.flush();
    }
}

TEST_F(DefaultsFile, AKillBetweenWritesLeavesTheLastWholeFile) {
    for (int round = 0; round < 4; ++round) {
        files::remove(path);
        testsupport::OwnCase writer("DefaultsWriter.WritesUntilKilled", "KADRIX_DEFAULTS_WRITER", path);
        ASSERT_TRUE(writer.started());
        // Once the first write is done, the kill comes a little later each round.
        for (int waited = 0; !fs::exists(path) && waited < 3000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(path)) << "round " << round << ": the writer wrote nothing";
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 20 * round));
        writer.kill();

        Defaults d(path);
        ASSERT_TRUE(asideFiles().empty()) << "round " << round << ": the file was torn";
        auto record = d.dictionary("record");
        ASSERT_TRUE(record);
        int64_t i = record->at("n").get<int64_t>();
        ASSERT_GT(i, 0);
        EXPECT_EQ(record->at("payload"), std::string(size_t(1000 + i % 5000), char('a' + i % 26)));
        // No temporary files are left behind for readers to trip on.
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().find(".tmp-") != std::string::npos) fs::remove(e.path());
    }
}

TEST_F(DefaultsFile, ConcurrentReadersAndWriters) {
    Defaults d(path, 0.001);
    constexpr int kWriters = 4, kKeys = 500;
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            for (int k = 0; k < kKeys; ++k)
                d.set("w" + std::to_string(w) + "." + std::to_string(k), w * 100000 + k);
        });
    for (int r = 0; r < 3; ++r)
        threads.emplace_back([&] {
            while (!stop) {
                for (int w = 0; w < kWriters; ++w) {
                    int k = int(std::hash<std::thread::id>{}(std::this_thread::get_id()) % kKeys);
                    int64_t v = d.integer("w" + std::to_string(w) + "." + std::to_string(k));
                    if (v != 0 && v != w * 100000 + k) ++badReads;
                }
                d.keys();
            }
        });
    threads.emplace_back([&] {
        while (!stop) d.flush();
    });
    for (int w = 0; w < kWriters; ++w) threads[size_t(w)].join();
    stop = true;
    for (size_t i = kWriters; i < threads.size(); ++i) threads[i].join();
    EXPECT_EQ(badReads.load(), 0);
    ASSERT_TRUE(d.flush());

    Defaults reread(path);
    EXPECT_EQ(reread.keys().size(), size_t(kWriters * kKeys));
    EXPECT_EQ(reread.integer("w3.499"), 300499);
}

TEST_F(DefaultsFile, AnotherProcessesValuesWinForKeysWeDidNotChange) {
    Defaults ours(path), theirs(path);
    ours.set("shared", "ours");
    ours.set("mine", 1);
    ASSERT_TRUE(ours.flush());
    theirs.set("theirs", 2);
    theirs.set("shared", "theirs");
    ASSERT_TRUE(theirs.flush());  // keeps our "mine" in the file
    ours.set("mine", 3);
    ASSERT_TRUE(ours.flush());  // keeps their keys, and their "shared"
    Defaults check(path);
    EXPECT_EQ(check.integer("mine"), 3);
    EXPECT_EQ(check.integer("theirs"), 2);
    EXPECT_EQ(check.string("shared"), "theirs");
    ours.synchronize();
    EXPECT_EQ(ours.string("shared"), "theirs");

    // A removeAll is not undone by what the file still holds.
    ours.removeAll();
    ours.set("only", true);
    ASSERT_TRUE(ours.flush());
    Defaults after(path);
    EXPECT_EQ(after.keys(), std::vector<std::string>{"only"});
}

TEST(Defaults, StandardStoreLivesInTheConfigFolder) {
    EXPECT_EQ(Defaults::standard().path(), files::configDir() + "/defaults.json");
    Defaults::standard().set("kit.test.standard", 5);
    EXPECT_EQ(Defaults::standard().integer("kit.test.standard"), 5);
    Defaults::standard().remove("kit.test.standard");
}
