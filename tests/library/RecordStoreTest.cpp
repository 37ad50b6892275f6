// The sealed record store, the library entry and the sealing itself.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <filesystem>

#include "LibraryFixture.h"
#include "kit/base/Crypto.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "library/DataLayer.h"
#include "library/GrabData.h"
#include "services/Crypti.h"
#include "support/OwnCase.h"

using library::DataLayer;
using library::GrabData;
using library::Record;

namespace {

class RecordStore : public LibraryFolderFixture {
protected:
    std::string file() const { return folder + "/imagelib.kxdb"; }
    std::string contents() const { return kit::files::readAll(file()).value_or(""); }
};

}  // namespace

TEST(Crypti, KnownAnswerAndRoundTrip) {
    // AES-256-GCM with a zero key and nonce over an empty text: the standard tag.
    std::vector<uint8_t> key(32, 0), nonce(12, 0);
    auto box = kit::crypto::seal(key, std::span<const uint8_t>(), nonce);
    ASSERT_TRUE(box);
    EXPECT_EQ(kit::crypto::toHex(std::span(*box).subspan(12)), "530f8afbc74536b9a963b4f1c4cb738b");
    // The same over sixteen zero bytes: ciphertext, then tag.
    std::vector<uint8_t> zeros(16, 0);
    box = kit::crypto::seal(key, zeros, nonce);
    ASSERT_TRUE(box);
    EXPECT_EQ(kit::crypto::toHex(*box),
              "000000000000000000000000"
              "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919");
    EXPECT_EQ(kit::crypto::open(key, *box), zeros);
    (*box)[20] ^= 1;
    EXPECT_FALSE(kit::crypto::open(key, *box));

    auto sealed = services::Crypti::sealForCompanion("upload=me", "token-1");
    ASSERT_TRUE(sealed);
    EXPECT_EQ(services::Crypti::openFromCompanion(*sealed, "token-1"), "upload=me");
    EXPECT_FALSE(services::Crypti::openFromCompanion(*sealed, "token-2"));
    EXPECT_FALSE(services::Crypti::openFromCompanion(*sealed + "=", "token-1"));  // not strict base64
    EXPECT_FALSE(services::Crypti::makeKey("\xC0\xAF"));                          // not UTF-8
    EXPECT_NE(*services::Crypti::makeKey("a"), kit::crypto::sha256("a"));         // the suffix counts
}

TEST_F(RecordStore, LinesAreSealedFreshEachTimeAndReadBack) {
    DataLayer store(folder);
    Record r{{"filename", "SCR-1.png"}, {"ocr", "two\nlines"}};
    std::string a = store.encodeRec(r), b = store.encodeRec(r);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.back(), '\n');
    EXPECT_EQ(a.find('{'), std::string::npos);  // nothing in clear
    store.write(a, true);                       // no file yet: created
    store.write(b, true);
    DataLayer reader(folder);
    reader.read();
    ASSERT_EQ(reader.records.size(), 2u);
    EXPECT_EQ(reader.records[1], r);
    EXPECT_EQ(std::filesystem::status(file()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(RecordStore, WhatCannotBeReadIsSkippedButNeverLostByARewrite) {
    DataLayer other(folder, "another key text");
    std::string foreign = other.encodeRec({{"filename", "theirs.png"}});
    std::string plain = R"({"filename":"plain.png","ts":"5"})";
    std::string numeric = R"({"filename":"n.png","width":3})";
    std::string badJson = "{not json}";
    std::string shortBox = kit::crypto::base64Encode(std::vector<uint8_t>(20, 1));
    DataLayer store(folder);
    std::string mine = store.encodeRec({{"filename", "mine.png"}});
    kit::files::writeAtomic(
        file(), foreign + plain + "\n" + numeric + "\n" + badJson + "\n" + shortBox + "\n" + mine);
    store.read();
    ASSERT_EQ(store.records.size(), 2u);  // bad lines skip themselves, not the rest
    EXPECT_EQ(store.records[0].at("filename"), "plain.png");
    EXPECT_EQ(store.records[1].at("filename"), "mine.png");
    EXPECT_EQ(store.unreadableLines().size(), 4u);

    store.write(store.encodeRec(store.records[1]), false);  // a rewrite of what we know
    std::string after = contents();
    for (auto& kept : {foreign.substr(0, foreign.size() - 1), numeric, badJson, shortBox})
        EXPECT_NE(after.find(kept), std::string::npos) << kept;
}

// A disk that takes the bytes but cannot keep them: fsync fails (a failing
// device, a full thin volume). Here the kernel refuses it in a child of the
// test, so the layer meets a real failed fsync.
TEST_F(RecordStore, AnAppendTheDiskCannotKeepIsAFailureAndGoesAgain) {
    DataLayer store(folder);
    const std::string first = store.encodeRec({{"filename", "a.png"}});
    ASSERT_TRUE(store.write(first, false));
    const std::string second = store.encodeRec({{"filename", "b.png"}});
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fsync, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        const sock_fprog program{4, filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0)
            ::_exit(3);
        std::string error;
        const bool written = store.write(second, true, &error);
        ::_exit(written ? 1 : error.empty() ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ(contents(), first);
}

TEST_F(RecordStore, AnAppendAfterATornLineStartsOnANewLine) {
    DataLayer store(folder);
    std::string first = store.encodeRec({{"filename", "a.png"}});
    kit::files::writeAtomic(file(), first + "tornpartofali");  // a crash mid-append
    store.write(store.encodeRec({{"filename", "b.png"}}), true);
    store.read();
    ASSERT_EQ(store.records.size(), 2u);
    EXPECT_EQ(store.records[1].at("filename"), "b.png");
    EXPECT_EQ(store.unreadableLines(), std::vector<std::string>{"tornpartofali"});
}

// A disk that fills part way through an append: the part written goes
// again, the failure is told, and the next append leaves every line readable.
TEST_F(RecordStore, AnAppendThatFailsPartWayLeavesNoUnreadableLine) {
    DataLayer store(folder);
    const std::string first = store.encodeRec({{"filename", "a.png"}});
    ASSERT_TRUE(store.write(first, false));
    const std::string second = store.encodeRec({{"filename", "b.png"}});
    // The file may grow by half the line: the write stops there.
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &before);
    rlimit was{};
    ::getrlimit(RLIMIT_FSIZE, &was);
    const rlimit full{rlim_t(first.size() + second.size() / 2), was.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &full);
    std::string error;
    const bool written = store.write(second, true, &error);
    ::setrlimit(RLIMIT_FSIZE, &was);
    ::sigaction(SIGXFSZ, &before, nullptr);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(contents(), first);

    ASSERT_TRUE(store.write(store.encodeRec({{"filename", "c.png"}}), true));
    store.read();
    ASSERT_EQ(store.records.size(), 2u);
    EXPECT_EQ(store.records[1].at("filename"), "c.png");
    EXPECT_TRUE(store.unreadableLines().empty());
}

TEST_F(RecordStore, AMissingOrEmptyFile) {
    DataLayer store(folder);
    store.records = {{{"filename", "x"}}};
    store.read();
    EXPECT_EQ(store.records.size(), 1u);  // missing: unchanged
    kit::files::writeAtomic(file(), "\n");
    store.read();
    EXPECT_TRUE(store.records.empty());
}

// The writer of the case below, in a process of its own.
TEST(RecordStoreWriter, WritesUntilKilled) {
    const char* folder = std::getenv("KADRIX_RECORD_WRITER");
    if (!folder) GTEST_SKIP() << "only run by RecordStore.AKilledWriterLeavesEveryFinishedLine";
    DataLayer w(folder);
    for (int i = 1;; ++i) {
        Record r{{"filename", std::to_string(i) + ".png"}, {"ocr", std::string(4000, 'x')}};
        if (i % 5 != 0) {
            w.write(w.encodeRec(r), true);
            continue;
        }
        // Now and then the whole file is rewritten, as an update does.
        w.read();
        std::string all;
        for (auto& rec : w.records) all += w.encodeRec(rec);
        w.write(all + w.encodeRec(r), false);
    }
}

TEST_F(RecordStore, AKilledWriterLeavesEveryFinishedLine) {
    DataLayer store(folder);
    store.write(store.encodeRec({{"filename", "0.png"}}), false);
    testsupport::OwnCase writer("RecordStoreWriter.WritesUntilKilled", "KADRIX_RECORD_WRITER", folder);
    ASSERT_TRUE(writer.started());
    // The kill comes once a dozen records are in (a loaded machine, or one
    // under the sanitizers, takes its time to get there), in mid-stride.
    auto written = [&] {
        std::error_code ec;
        const auto size = std::filesystem::file_size(file(), ec);
        return !ec && size >= 12 * 4000;
    };
    for (int waited = 0; !written() && waited < 3000; ++waited) usleep(10000);
    usleep(30000);
    writer.kill();
    DataLayer reader(folder);
    reader.read();
    ASSERT_GT(reader.records.size(), 3u);
    // Names run without a gap: nothing written before the kill went missing.
    for (size_t i = 0; i < reader.records.size(); ++i)
        EXPECT_EQ(reader.records[i].at("filename"), std::to_string(i) + ".png");
    EXPECT_LE(reader.unreadableLines().size(), 1u);  // at most the line cut by the kill
}

// The case below, in a process of its own, where no thread can be started.
TEST(InParallelWithoutThreads, DoesEverySliceOnTheCallingThread) {
    if (!std::getenv("KADRIX_NO_THREADS")) GTEST_SKIP() << "only run by InParallel.ThreadsThatCannotStart";
    pthread_attr_t attr, before;
    ASSERT_EQ(pthread_getattr_default_np(&before), 0);
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(1) << 46);  // more than the address space holds
    ASSERT_EQ(pthread_setattr_default_np(&attr), 0);
    std::vector<std::atomic<int>> done(4096);
    library::inParallel(done.size(), 1, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) ++done[i];
    });
    pthread_setattr_default_np(&before);
    for (auto& d : done) ASSERT_EQ(d, 1);
}

TEST(InParallel, ThreadsThatCannotStart) {
    if (kit::usableCores() < 2) GTEST_SKIP() << "one core: no thread is started anyway";
    testsupport::OwnCase child("InParallelWithoutThreads.DoesEverySliceOnTheCallingThread",
                               "KADRIX_NO_THREADS", "1");
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.wait(), 0);
}

TEST(GrabDataTest, StrictIntegers) {
    GrabData g({{"a", "42"},
                {"b", "+7"},
                {"c", "-3"},
                {"d", ""},
                {"e", "-"},
                {"f", " 1"},
                {"g", "1 "},
                {"h", "1.5"},
                {"i", "0x10"},
                {"j", "9223372036854775807"},
                {"k", "9223372036854775808"},
                {"l", "-9223372036854775808"},
                {"m", "+-3"}});
    EXPECT_EQ(g.intValue("a"), 42);
    EXPECT_EQ(g.intValue("b"), 7);
    EXPECT_EQ(g.intValue("c"), -3);
    for (const char* zero : {"d", "e", "f", "g", "h", "i", "k", "m", "absent"})
        EXPECT_EQ(g.intValue(zero), 0) << zero;
    EXPECT_EQ(g.intValue("j"), INT64_MAX);
    EXPECT_EQ(g.intValue("l"), INT64_MIN);
}

TEST(GrabDataTest, CachesColoursAndTheGalleryTuple) {
    library::setLibFolderText("");
    GrabData g({{"filename", "a.png"}, {"width", "10"}, {"basecolor", " ff8000 "}, {"gone", "-5"}});
    EXPECT_FALSE(g.fileURL());  // no folder opened yet, nothing cached
    library::setLibFolderText("/lib");
    auto obj = g.libObject();
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->path, "/lib/a.png");
    EXPECT_EQ(obj->width, 10);
    EXPECT_EQ(obj->height, 0);
    EXPECT_EQ(obj->baseColor, kit::Color::rgb(255, 128, 0));

    g.setTs(99);
    EXPECT_EQ(g.content.at("ts"), "99");
    g.content["ts"] = "5";
    EXPECT_EQ(g.ts(), 99);  // the cache, until told otherwise
    g.invalidateCaches();
    EXPECT_EQ(g.ts(), 5);

    g.setGone(1);
    EXPECT_FALSE(g.libObject());
    GrabData bad({{"filename", "x.png"}, {"basecolor", "#12345"}});
    ASSERT_TRUE(bad.libObject());
    EXPECT_EQ(bad.libObject()->baseColor, kit::Color::black());

    for (const char* c : {"", ",", "#AAAAAA", "#AAAAAA,,#BBBBBB"}) {
        GrabData e(Record{{"colors", c}});
        EXPECT_EQ(e.colors().size(), std::string(c).empty() ? 0u : std::count(c, c + strlen(c), ',') + 1u)
            << c;
    }
}

TEST(GrabDataTest, FileNamesThatLeaveTheFolderAreRefused) {
    library::setLibFolderText("/lib");
    for (const char* name : {"", ".", "..", "../../.ssh/id_rsa", "a/b.png"}) {
        GrabData g(Record{{"filename", name}});
        EXPECT_FALSE(g.fileURL()) << name;
        EXPECT_FALSE(g.libObject()) << name;
    }
    EXPECT_FALSE(GrabData(Record{{"filename", std::string("a\0b", 3)}}).fileURL());
    EXPECT_TRUE(GrabData(Record{{"filename", "..a.png"}}).fileURL());
}
