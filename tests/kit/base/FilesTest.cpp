#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "kit/base/Files.h"
#include "support/ScopedEnv.h"

using namespace kit;
namespace fs = std::filesystem;

namespace {

using testsupport::ScopedEnv;

unsigned modeOf(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

}  // namespace

TEST(Files, FoldersFollowKadrixHomeThenXdg) {
    std::string base = files::tempDir() + "/folders";
    files::remove(base);
    {
        ScopedEnv home("KADRIX_HOME", (base + "/kh").c_str());
        ScopedEnv xdg("XDG_CONFIG_HOME", (base + "/xdg").c_str());
        EXPECT_EQ(files::configDir(), base + "/kh/config");
        EXPECT_EQ(files::dataDir(), base + "/kh/data");
        EXPECT_EQ(files::tempDir(), base + "/kh/tmp");
        EXPECT_EQ(modeOf(base + "/kh/tmp"), 0700u);
        EXPECT_TRUE(files::isDirectory(base + "/kh/config"));
    }
    {
        ScopedEnv home("KADRIX_HOME", nullptr);
        ScopedEnv xdg("XDG_CONFIG_HOME", (base + "/xdg").c_str());
        ScopedEnv data("XDG_DATA_HOME", (base + "/share").c_str());
        ScopedEnv run("XDG_RUNTIME_DIR", (base + "/run").c_str());
        files::makeDirs(base + "/run");
        EXPECT_EQ(files::configDir(), base + "/xdg/kadrix");
        EXPECT_EQ(files::dataDir(), base + "/share/kadrix");
        EXPECT_EQ(files::tempDir(), base + "/run/kadrix");
        EXPECT_EQ(modeOf(base + "/xdg/kadrix"), 0700u);
    }
    files::remove(base);
}

TEST(Files, TempFolderRefusesALinkAndTightensItsMode) {
    std::string base = files::tempDir() + "/tempcheck";
    files::remove(base);
    files::makeDirs(base + "/elsewhere");
    files::makeDirs(base + "/kh");
    ASSERT_EQ(symlink((base + "/elsewhere").c_str(), (base + "/kh/tmp").c_str()), 0);
    {
        ScopedEnv home("KADRIX_HOME", (base + "/kh").c_str());
        std::string t = files::tempDir();
        EXPECT_NE(t, base + "/kh/tmp");
        EXPECT_EQ(modeOf(t), 0700u);
        EXPECT_EQ(files::tempDir(), t);  // the same fallback while the name stays taken
        files::remove(t);
    }
    fs::remove(base + "/kh/tmp");
    files::makeDirs(base + "/kh/tmp", 0755);
    chmod((base + "/kh/tmp").c_str(), 0755);
    {
        ScopedEnv home("KADRIX_HOME", (base + "/kh").c_str());
        EXPECT_EQ(files::tempDir(), base + "/kh/tmp");
        EXPECT_EQ(modeOf(base + "/kh/tmp"), 0700u);
    }
    files::remove(base);
}

TEST(Files, AtomicWriteReplacesWholeAndLeavesNoTemporaries) {
    std::string dir = files::tempDir() + "/atomic";
    files::remove(dir);
    files::makeDirs(dir);
    std::string p = dir + "/f.txt";
    ASSERT_TRUE(files::writeAtomic(p, "first"));
    ASSERT_TRUE(files::writeAtomic(p, std::string(100000, 'x'), 0600));
    ASSERT_TRUE(files::readAll(p));
    EXPECT_EQ(files::readAll(p)->size(), 100000u);
    EXPECT_EQ(modeOf(p), 0600u);
    EXPECT_FALSE(files::readAll(p, 99999));  // over the bound
    EXPECT_FALSE(files::readAll(dir + "/missing"));
    EXPECT_FALSE(files::writeAtomic(dir + "/no/such/folder/f", "x"));
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir)) ++entries, (void)e;
    EXPECT_EQ(entries, 1);
    files::remove(dir);
    EXPECT_FALSE(files::exists(dir));
}

// A FIFO or device named like a picture once held the main thread: open()
// waited for a writer, /dev/zero read a gigabyte. Neither is read now, and
// neither takes time.
TEST(Files, OnlyRegularFilesAreReadAndNothingElseBlocks) {
    std::string dir = files::tempDir() + "/special";
    files::remove(dir);
    files::makeDirs(dir);
    const std::string fifo = dir + "/x.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir}) {
        std::string error;
        EXPECT_FALSE(files::readAll(path, size_t(1) << 30, &error)) << path;
        EXPECT_EQ(error, files::kNotRegularFile) << path;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // A regular file larger than the bound is refused by its size.
    ASSERT_TRUE(files::writeAtomic(dir + "/big", std::string(4096, 'b')));
    std::string error;
    EXPECT_FALSE(files::readAll(dir + "/big", 4095, &error));
    EXPECT_EQ(error, files::kTooLarge);
    files::remove(dir);
}

TEST(Files, NewFileTakesOnlyAFreeNameAndAppearsWhole) {
    std::string dir = files::tempDir() + "/newfile";
    files::remove(dir);
    files::makeDirs(dir);
    std::string p = dir + "/shot.png";
    const std::string big(3 << 20, 'p');
    EXPECT_EQ(files::writeNew(p, big, 0640), files::NewFile::written);
    ASSERT_TRUE(files::readAll(p));
    EXPECT_EQ(files::readAll(p)->size(), big.size());
    EXPECT_EQ(modeOf(p), 0640u);
    // A taken name is left exactly as it was.
    EXPECT_EQ(files::writeNew(p, "other"), files::NewFile::exists);
    EXPECT_EQ(*files::readAll(p), big);
    std::string error;
    EXPECT_EQ(files::writeNew(dir + "/no/such/folder/f", "x", 0644, &error), files::NewFile::failed);
    EXPECT_FALSE(error.empty());
    // The attribute asked for comes with the file, on it before its name.
    const files::Attribute attribute{"kadrix.test-mark", "yes"};
    EXPECT_EQ(files::writeNew(dir + "/marked.png", "m", 0644, nullptr, {&attribute, 1}),
              files::NewFile::written);
    if (files::keepsXattrs(dir)) {
        EXPECT_EQ(files::getXattr(dir + "/marked.png", "kadrix.test-mark"), "yes");
    }
    EXPECT_TRUE(files::newFilesUnderWay().empty());
    // No temporary name outlives a write, whatever its end.
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir)) ++entries, (void)e;
    EXPECT_EQ(entries, 2);
    files::remove(dir);
}

TEST(Files, AReplacingWriteShowsTheOldFileOrTheWholeNewOne) {
    std::string dir = files::tempDir() + "/replacing";
    files::remove(dir);
    files::makeDirs(dir);
    const std::string p = dir + "/shot.png";
    ASSERT_TRUE(files::writeAtomic(p, "old"));
    const files::Attribute attribute{"kadrix.test-mark", "yes"};
    EXPECT_TRUE(files::writeReplacing(p, std::string(1 << 20, 'n'), 0640, nullptr, {&attribute, 1}));
    EXPECT_EQ(files::readAll(p)->size(), size_t(1) << 20);
    EXPECT_EQ(modeOf(p), 0640u);
    if (files::keepsXattrs(dir)) {
        EXPECT_EQ(files::getXattr(p, "kadrix.test-mark"), "yes");
    }
    // A name that cannot be given (a folder holds it): the failure's reason,
    // and nothing hidden left behind.
    files::makeDirs(dir + "/taken.png/inside");
    std::string error;
    EXPECT_FALSE(files::writeReplacing(dir + "/taken.png", "new", 0644, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(files::isDirectory(dir + "/taken.png/inside"));
    EXPECT_TRUE(files::newFilesUnderWay().empty());
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir)) ++entries, (void)e;
    EXPECT_EQ(entries, 2);
    files::remove(dir);
}

TEST(Files, ExtendedAttributesRoundTripOrFailQuietly) {
    std::string p = files::uniqueTempPath("xattr-", ".png");
    ASSERT_TRUE(files::writeAtomic(p, "png"));
    bool supported = files::setXattr(p, "kadrix.capture-rect", "[1,2,3,4]");
    if (supported) {
        EXPECT_EQ(files::getXattr(p, "kadrix.capture-rect"), "[1,2,3,4]");
        EXPECT_TRUE(files::removeXattr(p, "kadrix.capture-rect"));
    }
    EXPECT_FALSE(files::getXattr(p, "kadrix.capture-rect"));
    EXPECT_FALSE(files::getXattr(p + ".missing", "kadrix.capture-rect"));
    EXPECT_FALSE(files::setXattr(p + ".missing", "kadrix.capture-rect", "x"));
    files::remove(p);
}

TEST(Files, MoveWorksWithinAndAcrossFileSystems) {
    std::string a = files::uniqueTempPath("move-", ".bin");
    std::string b = files::uniqueTempPath("moved-", ".bin");
    ASSERT_TRUE(files::writeAtomic(a, "payload"));
    ASSERT_TRUE(files::move(a, b));
    EXPECT_FALSE(files::exists(a));
    EXPECT_EQ(files::readAll(b), "payload");

    // /dev/shm is another file system in most setups: the EXDEV path.
    struct stat s1 {
    }, s2{};
    if (stat("/dev/shm", &s2) != 0 || stat(b.c_str(), &s1) != 0 || s1.st_dev == s2.st_dev ||
        access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    std::string c = "/dev/shm/kadrix-move-" + std::to_string(getpid());
    ASSERT_TRUE(files::move(b, c));
    EXPECT_FALSE(files::exists(b));
    EXPECT_EQ(files::readAll(c), "payload");
    EXPECT_FALSE(files::exists(c + ".part"));
    files::remove(c);
    EXPECT_FALSE(files::move(c, b));  // gone: nothing to move
}

TEST(Files, BookmarksGoStaleWhenTheFolderIsReplaced) {
    std::string dir = files::tempDir() + "/bookmarked";
    files::remove(dir);
    files::makeDirs(dir);
    auto bm = files::makeBookmark(dir);
    ASSERT_TRUE(bm);
    auto r = files::resolveBookmark(*bm);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->path, dir);
    EXPECT_FALSE(r->stale);

    std::string keep = files::tempDir() + "/bookmarked-keep";
    files::remove(keep);
    ASSERT_TRUE(files::move(dir, keep));  // the old folder keeps its inode elsewhere
    files::makeDirs(dir);                 // a new folder under the old name
    r = files::resolveBookmark(*bm);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->stale);
    files::remove(dir);
    files::remove(keep);
    EXPECT_TRUE(files::resolveBookmark(*bm)->stale);
    EXPECT_FALSE(files::resolveBookmark({'n', 'o'}));
    EXPECT_FALSE(files::makeBookmark(dir + "/missing"));
}
