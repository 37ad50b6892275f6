#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <filesystem>

#include "kit/base/Files.h"
#include "kit/image/Thumbnails.h"
#include "support/PictureFiles.h"

namespace th = kit::thumbnails;
namespace fs = std::filesystem;

namespace {

class ThumbnailsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        base = kit::files::uniqueTempPath("thumbs-", "");
        fs::create_directories(base + "/pictures");
        root = base + "/cache/thumbnails";
    }
    void TearDown() override { fs::remove_all(base); }

    std::string picture(const std::string& name, int w, int h, kit::Color c) {
        const std::string path = base + "/pictures/" + name;
        testsupport::writePicture(path, w, h, c);
        return path;
    }
    static void setTime(const std::string& path, int64_t seconds) { testsupport::setFileTime(path, seconds); }
    static unsigned modeOf(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
    }

    std::string base, root;
};

}  // namespace

TEST(ThumbnailNames, FollowTheSharedCacheLayout) {
    // The example every implementation of the shared cache agrees on.
    EXPECT_EQ(th::fileNameFor("file:///home/jens/photos/me.png"), "c6ee772d9e49320e97ec29a7eb5b1697.png");
    EXPECT_EQ(th::fileUri("/home/jens/photos/me.png"), "file:///home/jens/photos/me.png");
    EXPECT_EQ(th::pathFor("/c", th::Flavor::Large, "/home/jens/photos/me.png"),
              "/c/large/c6ee772d9e49320e97ec29a7eb5b1697.png");

    EXPECT_EQ(th::fileUri("/a/My Shot #1 100%.png"), "file:///a/My%20Shot%20%231%20100%25.png");
    EXPECT_EQ(th::fileUri("/a/Bild ü.png"), "file:///a/Bild%20%C3%BC.png");
    EXPECT_EQ(th::fileUri("/a/./b/../c.png"), "file:///a/c.png");
    EXPECT_EQ(th::fileUri("rel.png").rfind("file:///", 0), 0u);
}

TEST(ThumbnailNames, SizeFoldersHoldTheRequestedSize) {
    EXPECT_EQ(th::flavorFor(1), th::Flavor::Normal);
    EXPECT_EQ(th::flavorFor(128), th::Flavor::Normal);
    EXPECT_EQ(th::flavorFor(129), th::Flavor::Large);
    EXPECT_EQ(th::flavorFor(512), th::Flavor::XLarge);
    EXPECT_EQ(th::flavorFor(1024), th::Flavor::XXLarge);
    EXPECT_EQ(th::flavorFor(5000), th::Flavor::XXLarge);
    EXPECT_STREQ(th::folderOf(th::Flavor::XLarge), "x-large");
    EXPECT_STREQ(th::folderOf(th::Flavor::XXLarge), "xx-large");
}

TEST_F(ThumbnailsFixture, WrittenThumbnailCarriesUriTimeAndPrivateModes) {
    const std::string file = picture("shot.png", 400, 200, kit::Color::rgb(10, 200, 30));
    setTime(file, 1700000000);
    kit::Image thumb = th::decodeScaled(file, 256);
    ASSERT_FALSE(thumb.isNull());
    ASSERT_TRUE(th::write(root, th::Flavor::Large, file, 1700000000, thumb, 400, 200));

    const std::string thumbPath = th::pathFor(root, th::Flavor::Large, file);
    const QImage written(QString::fromStdString(thumbPath));
    EXPECT_EQ(written.text("Thumb::URI").toStdString(), th::fileUri(file));
    EXPECT_EQ(written.text("Thumb::MTime"), "1700000000");
    EXPECT_EQ(written.text("Thumb::Image::Width"), "400");
    EXPECT_EQ(written.width(), 256);
    EXPECT_EQ(modeOf(thumbPath), 0600u);
    EXPECT_EQ(modeOf(root + "/large"), 0700u);
    // Nothing but the thumbnail is left in its folder (no temporary file).
    ASSERT_TRUE(kit::files::listFolder(root + "/large"));
    EXPECT_EQ(kit::files::listFolder(root + "/large")->size(), 1u);

    // Too big for the folder it names: refused.
    EXPECT_FALSE(
        th::write(root, th::Flavor::Normal, file, 1700000000, th::decodeScaled(file, 256), 400, 200));
}

TEST_F(ThumbnailsFixture, LookupIsFreshOnlyForTheSameFileAndTime) {
    const std::string file = picture("a.png", 300, 300, kit::Color::rgb(200, 0, 0));
    const std::string other = picture("b.png", 300, 300, kit::Color::rgb(0, 0, 200));
    EXPECT_EQ(th::read(root, th::Flavor::Normal, file, 5).state, th::Lookup::State::Missing);

    ASSERT_TRUE(th::write(root, th::Flavor::Normal, file, 5, th::decodeScaled(file, 128), 300, 300));
    auto fresh = th::read(root, th::Flavor::Normal, file, 5);
    ASSERT_EQ(fresh.state, th::Lookup::State::Fresh);
    EXPECT_EQ(fresh.image.width(), 128);
    EXPECT_EQ(fresh.image.pixel(64, 64), (kit::PixelBGRA{0, 0, 200, 255}));

    EXPECT_EQ(th::read(root, th::Flavor::Normal, file, 6).state, th::Lookup::State::Stale);
    EXPECT_EQ(th::read(root, th::Flavor::Large, file, 5).state, th::Lookup::State::Missing);

    // A thumbnail of another file under this file's name (a hash clash, or
    // a copy) is not taken for it.
    ASSERT_TRUE(th::write(root, th::Flavor::Normal, other, 5, th::decodeScaled(other, 128), 300, 300));
    fs::copy_file(th::pathFor(root, th::Flavor::Normal, other), th::pathFor(root, th::Flavor::Normal, file),
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(th::read(root, th::Flavor::Normal, file, 5).state, th::Lookup::State::Stale);

    // A thumbnail larger than its size folder holds is not read: another
    // program's 512 px picture under the 128 px folder's name.
    const kit::Image large = th::decodeScaled(other, 512);
    ASSERT_EQ(large.width(), 300);  // never enlarged: write one of 300 px as the larger flavour
    ASSERT_TRUE(th::write(root, th::Flavor::XLarge, file, 5, large, 300, 300));
    fs::copy_file(th::pathFor(root, th::Flavor::XLarge, file), th::pathFor(root, th::Flavor::Normal, file),
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(th::read(root, th::Flavor::Normal, file, 5).state, th::Lookup::State::Missing);
    EXPECT_EQ(th::read(root, th::Flavor::XLarge, file, 5).state, th::Lookup::State::Fresh);

    // A damaged thumbnail counts as missing, never as an image.
    kit::files::writeAtomic(th::pathFor(root, th::Flavor::Normal, file), "\x89PNG\r\n\x1a\n broken");
    EXPECT_EQ(th::read(root, th::Flavor::Normal, file, 5).state, th::Lookup::State::Missing);
}

TEST_F(ThumbnailsFixture, FailureMarkerHoldsUntilTheFileChanges) {
    const std::string bad = base + "/pictures/bad.png";
    kit::files::writeAtomic(bad, "not an image at all");
    std::string error;
    EXPECT_TRUE(th::decodeScaled(bad, 128, &error).isNull());
    EXPECT_FALSE(error.empty());

    ASSERT_TRUE(th::writeFailure(root, bad, 42));
    EXPECT_TRUE(
        kit::files::exists(root + "/fail/" + th::failFolderName() + "/" + th::fileNameFor(th::fileUri(bad))));
    EXPECT_EQ(th::failFolderName().rfind("kadrix-", 0), 0u);
    EXPECT_TRUE(th::hasFailure(root, bad, 42));
    EXPECT_FALSE(th::hasFailure(root, bad, 43));
    EXPECT_FALSE(th::hasFailure(root, base + "/pictures/other.png", 42));
}

TEST_F(ThumbnailsFixture, RemoveAllDropsEverySizeAndTheMarker) {
    const std::string file = picture("c.png", 600, 600, kit::Color::white(0.5));
    kit::Image big = th::decodeScaled(file, 512);
    ASSERT_TRUE(th::write(root, th::Flavor::XLarge, file, 1, big, 600, 600));
    ASSERT_TRUE(th::write(root, th::Flavor::Normal, file, 1, th::fitWithin(big, 128), 600, 600));
    ASSERT_TRUE(th::writeFailure(root, file, 1));
    th::removeAll(root, file);
    EXPECT_FALSE(kit::files::exists(th::pathFor(root, th::Flavor::XLarge, file)));
    EXPECT_FALSE(kit::files::exists(th::pathFor(root, th::Flavor::Normal, file)));
    EXPECT_FALSE(th::hasFailure(root, file, 1));
}

TEST_F(ThumbnailsFixture, DecodingScalesDownKeepingTheShapeAndNeverUp) {
    const std::string wide = picture("wide.png", 1920, 1080, kit::Color::black());
    int w = 0, h = 0;
    kit::Image t = th::decodeScaled(wide, 256, nullptr, &w, &h);
    EXPECT_EQ(t.width(), 256);
    EXPECT_EQ(t.height(), 144);
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1080);

    const std::string tall = picture("tall.png", 10, 4000, kit::Color::black());
    t = th::decodeScaled(tall, 128);
    EXPECT_EQ(t.height(), 128);
    EXPECT_EQ(t.width(), 1);  // never a zero-width picture

    const std::string small = picture("small.png", 40, 30, kit::Color::black());
    t = th::decodeScaled(small, 256);
    EXPECT_EQ(t.width(), 40);
    EXPECT_EQ(t.height(), 30);

    EXPECT_TRUE(th::decodeScaled(base + "/pictures/none.png", 128).isNull());
    EXPECT_FALSE(th::modificationTime(base + "/pictures/none.png"));
    EXPECT_FALSE(th::modificationTime(base + "/pictures"));  // a folder is no picture
}
