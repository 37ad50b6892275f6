#include <gtest/gtest.h>

#include <thread>

#include "BackdropFixture.h"
#include "backdrop/CustomImages.h"
#include "backdrop/MeshGradient.h"
#include "editor/Framer.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "support/SlowDecoder.h"
#include "support/TestData.h"

namespace {

using backdrop::CustomImages;

kit::LayerPtr sublayer(const backdrop::Backdrop& b, const std::string& name) {
    for (const kit::LayerPtr& l : b.lbackdrop()->sublayers())
        if (l->name == name) return l;
    return nullptr;
}

// An image file the user might pick, written to the private temp folder.
std::string pictureFile(kit::PixelBGRA colour, int w = 64, int h = 48) {
    const std::string path = kit::files::uniqueTempPath("pick-", ".png");
    const auto png = kit::ImageIO::encodePNG(filled(w, h, colour));
    kit::files::writeAtomic(path, {reinterpret_cast<const char*>(png.data()), png.size()});
    return path;
}

TEST(BackdropMesh, DrawsSmallForTheEditorAndAtFullSizeForExport) {
    BackdropFixture fx;
    fx.on({{"mode", "mesh"},
           {"padding", 40},
           {"meshSeed", 3},
           {"meshColors", {{{"r", 1}, {"g", 0}, {"b", 0}}, {{"r", 0}, {"g", 0}, {"b", 1}}}}});
    const kit::LayerPtr mesh = sublayer(fx.b, "backdrop.mesh");
    ASSERT_TRUE(mesh);
    EXPECT_FALSE(mesh->isHidden());
    EXPECT_LE(mesh->contents().width(), backdrop::kMeshPreviewSide);
    const kit::Image img = fx.image();
    ASSERT_EQ(img.width(), 200);
    // Only red and blue mix here: no green anywhere, and the two blobs differ.
    for (auto [x, y] : {std::pair{1, 1}, std::pair{198, 158}, std::pair{1, 158}, std::pair{198, 1}})
        EXPECT_LT(img.colorAt(x, y).green8(), 8) << x << "," << y;
    int redder = 0;
    for (auto [x, y] : {std::pair{1, 1}, std::pair{198, 158}, std::pair{1, 158}, std::pair{198, 1}})
        redder += img.colorAt(x, y).red8() > img.colorAt(x, y).blue8();
    EXPECT_GT(redder, 0);
    EXPECT_LT(redder, 4);

    fx.b.blurMeshForExport();
    EXPECT_EQ(mesh->contents().width(), 200);
    EXPECT_EQ(mesh->contents().height(), 160);
    // The same picture, only sharper: the corners keep their colour.
    const kit::Image full = fx.image();
    EXPECT_NEAR(full.colorAt(1, 1).red8(), img.colorAt(1, 1).red8(), 12);
}

TEST(BackdropGrain, OnlyWhenAskedAndTheSameEveryTime) {
    BackdropFixture fx;
    fx.on({{"mode", "flat"}, {"padding", 30}, {"flatColor", {{"r", 0.5}, {"g", 0.5}, {"b", 0.5}}}});
    auto spread = [](const kit::Image& img) {
        int lo = 255, hi = 0;
        for (int x = 0; x < 170; ++x) {
            lo = std::min(lo, img.colorAt(x, 10).red8());
            hi = std::max(hi, img.colorAt(x, 10).red8());
        }
        return hi - lo;
    };
    EXPECT_LE(spread(fx.image()), 1);
    fx.on({{"mode", "flat"}, {"noise", 0.8}});
    const kit::Image a = fx.image();
    EXPECT_GT(spread(a), 10);
    fx.on({{"noise", 0.2}});
    fx.on({{"noise", 0.8}});
    EXPECT_TRUE(fx.image() == a);
}

TEST(BackdropPictures, StoredCopiesAreListedLoadedAndRemoved) {
    for (const std::string& n : CustomImages::list()) CustomImages::remove(n);
    const backdrop::StoreResult r = CustomImages::store(pictureFile({0, 200, 0, 255}, 400, 100));
    ASSERT_TRUE(r.name) << r.error;
    EXPECT_TRUE(CustomImages::validName(*r.name));
    EXPECT_EQ(CustomImages::list(), std::vector<std::string>{*r.name});
    const kit::Image thumb = CustomImages::thumbnail(*r.name);
    EXPECT_EQ(thumb.width(), CustomImages::kThumbnailSide);
    EXPECT_EQ(thumb.height(), 40);
    EXPECT_NEAR(CustomImages::load(*r.name).colorAt(200, 50).green8(), 200, 6);  // a JPEG copy

    // A file that is no picture stores nothing and says why.
    const std::string junk = kit::files::uniqueTempPath("junk-", ".png");
    kit::files::writeAtomic(junk, "not a picture");
    const backdrop::StoreResult bad = CustomImages::store(junk);
    EXPECT_FALSE(bad.name);
    EXPECT_FALSE(bad.error.empty());
    EXPECT_EQ(CustomImages::list().size(), 1u);

    // Names from a stored record never leave the folder.
    for (const char* name : {"../backdrop-1.jpg", "backdrop-1.jpg/../../x.jpg", "/etc/passwd",
                             "backdrop-1-thumb.jpg", "backdrop-..jpg", "photo.jpg"}) {
        EXPECT_FALSE(CustomImages::validName(name)) << name;
        EXPECT_TRUE(CustomImages::load(name).isNull()) << name;
        EXPECT_FALSE(CustomImages::remove(name)) << name;
    }
    EXPECT_TRUE(CustomImages::remove(*r.name));
    EXPECT_TRUE(CustomImages::list().empty());
    EXPECT_FALSE(kit::files::exists(CustomImages::folder() + "/" + r.name->substr(0, r.name->size() - 4) +
                                    "-thumb.jpg"));
    EXPECT_FALSE(CustomImages::remove(*r.name));
}

// Pictures are read with the event loop running: a second drop during the
// first one's read is the one chosen, and a layout asking for a picture
// during a read gets it.
TEST(BackdropPictures, ThePictureDroppedLastIsChosenAndReadsLetLayoutsIn) {
    for (const std::string& n : CustomImages::list()) CustomImages::remove(n);
    BackdropFixture fx;
    testsupport::SlowDecoder slow(0.2);
    const std::string red = pictureFile({0, 0, 220, 255}), green = pictureFile({0, 220, 0, 255});
    kit::dispatchMain([&] { EXPECT_TRUE(fx.b.loadNewFile(green, "drop")); });
    ASSERT_TRUE(fx.b.loadNewFile(red, "drop"));
    EXPECT_EQ(CustomImages::list().size(), 2u);  // both kept
    const auto kept = CustomImages::list();
    const std::string chosen = fx.b.c.imageName, other = kept[0] == chosen ? kept[1] : kept[0];
    EXPECT_NEAR(fx.b.customImage(chosen, nullptr).colorAt(10, 10).green8(), 220, 6);

    // Not in memory: read again, while a layout asks for the chosen one.
    kit::dispatchMain([&] { EXPECT_FALSE(fx.b.customImage(chosen, nullptr).isNull()); });
    EXPECT_NEAR(fx.b.customImage(other, nullptr).colorAt(10, 10).red8(), 220, 6);
    for (const std::string& n : CustomImages::list()) CustomImages::remove(n);
}

TEST(BackdropPictures, ImageModeCoversTheBackdropAndAMissingPictureFallsBackOnce) {
    BackdropFixture fx;
    ASSERT_TRUE(fx.b.loadNewFile(pictureFile({0, 0, 220, 255}, 30, 200), "drop"));  // tall and red
    EXPECT_EQ(fx.b.c.mode, "image");
    fx.on({{"padding", 20}});
    const kit::Image img = fx.image();
    // Cover: even the wide backdrop's corners show the tall picture.
    for (auto [x, y] : {std::pair{1, 1}, std::pair{158, 118}, std::pair{80, 2}})
        EXPECT_GT(img.colorAt(x, y).red8(), 200) << x << "," << y;
    EXPECT_TRUE(fx.notices.empty());

    fx.on({{"imageName", "backdrop-1.jpg"},
           {"gradientStart", {{"r", 0}, {"g", 1}, {"b", 0}}},
           {"gradientEnd", {{"r", 0}, {"g", 1}, {"b", 0}}}});
    EXPECT_GT(fx.image().colorAt(1, 1).green8(), 250);  // the gradient stands in
    fx.b.layout();
    fx.b.layout();
    EXPECT_EQ(fx.notices, std::vector<std::string>{"Backdrop picture unavailable"});

    // A file that is no picture changes nothing.
    const backdrop::Config before = fx.b.c;
    const std::string junk = kit::files::uniqueTempPath("junk-", ".jpg");
    kit::files::writeAtomic(junk, "\xff\xd8 broken");
    EXPECT_FALSE(fx.b.loadNewFile(junk, "drop"));
    EXPECT_EQ(fx.b.c.toJson(), before.toJson());
    EXPECT_EQ(fx.notices.back(), "Can't use this picture");

    // A JPEG that keeps its decoder busy past its time is no picture either;
    // a drawing of a few bytes is one.
    const auto limits = kit::ImageIO::decoderLimits();
    kit::ImageIO::setDecoderLimits({1, limits.memoryBytes});
    fx.notices.clear();
    EXPECT_FALSE(
        fx.b.loadNewFile(testsupport::testDataPath("repro/jpeg-progressive-4096-60000-scans.jpg"), "drop"));
    EXPECT_EQ(fx.b.c.toJson(), before.toJson());
    EXPECT_EQ(fx.notices, std::vector<std::string>{"Can't use this picture"});
    kit::ImageIO::setDecoderLimits(limits);
    EXPECT_TRUE(
        fx.b.loadNewFile(testsupport::testDataPath("repro/svg-170byte-6000x4000-poster.svg"), "drop"));
    EXPECT_EQ(fx.b.c.mode, "image");
}

TEST(BackdropCanvasColor, CachedPerCropAndSafeFromOtherThreads) {
    BackdropFixture fx;
    kit::Image pixels = filled(100, 100, {0, 0, 255, 255});  // red page
    for (int y = 40; y < 60; ++y)
        for (int x = 40; x < 60; ++x) pixels.setPixel(x, y, {255, 0, 0, 255});  // blue square
    fx.shot = imaging::Capture::of(pixels);
    EXPECT_EQ(fx.b.bestCanvasColor()->red8(), 255);
    EXPECT_EQ(fx.b.bestCanvasColor()->red8(), 255);
    fx.shot.crop = {40, 40, 20, 20};
    EXPECT_EQ(fx.b.bestCanvasColor()->blue8(), 255);

    std::vector<std::thread> threads;
    std::atomic<int> blue{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 50; ++k) blue += fx.b.bestCanvasColor()->blue8() == 255;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(blue, 200);

    fx.shot = {};
    EXPECT_FALSE(fx.b.bestCanvasColor());
}

TEST(BackdropAutoCrop, TrimsUniformBordersAndGivesThemBack) {
    BackdropFixture fx;
    kit::Image pixels = filled(200, 100, {255, 255, 255, 255});
    for (int y = 10; y < 90; ++y)
        for (int x = 30; x < 150; ++x) pixels.setPixel(x, y, {0, 0, uint8_t((x + y) % 200), 255});
    fx.shot = imaging::Capture::of(pixels);
    fx.source = {0, 0, 200, 100};
    fx.on({{"autoCrop", 1}});
    ASSERT_TRUE(fx.b.applyAutoCrop());
    ASSERT_EQ(fx.crops.size(), 1u);
    EXPECT_EQ(fx.crops[0], (services::Rect{30, 10, 120, 80}));
    EXPECT_FALSE(fx.b.applyAutoCrop());  // nothing more to trim

    fx.b.c.autoCrop = 0;
    EXPECT_TRUE(fx.b.applyAutoCrop());
    EXPECT_EQ(fx.crops.back(), (services::Rect{0, 0, 200, 100}));

    // When the user cropped after the trim, switching it off keeps their crop.
    fx.b.c.autoCrop = 1;
    ASSERT_TRUE(fx.b.applyAutoCrop());
    fx.shot.crop = {40, 20, 50, 50};
    fx.b.c.autoCrop = 0;
    EXPECT_FALSE(fx.b.applyAutoCrop());
    EXPECT_EQ(fx.crops.size(), 3u);
}

struct StatusSpy : editor::CoreHost {
    int statusUpdates = 0;
    void updateStatus() override { ++statusUpdates; }
};

TEST(BackdropUndo, ConfigurationThatChangesTheCompositionRefitsTheView) {
    BackdropFixture fx;
    StatusSpy spy;
    editor::setBackdrop(&fx.b);
    editor::setCore(&spy);
    editor::Framer& f = editor::Framer::shared();
    const services::Rect oldSource = f.source, oldArea = f.area;
    fx.source = f.source = {0, 0, 1200, 800};
    f.area = {0, 0, 600, 400};
    fx.on({{"padding", 200}});
    const double framed = f.zoom();
    // Undo's restore: the stored record switches the backdrop off.
    fx.b.applyConfig({{"isOn", 0}});
    EXPECT_GT(f.zoom(), framed * 1.3);
    EXPECT_EQ(spy.statusUpdates, 2);
    // A change that keeps the size (the shadow) leaves the view alone.
    fx.on({{"padding", 200}});
    fx.b.applyConfig({{"shadow", 0.75}});
    EXPECT_EQ(spy.statusUpdates, 3);
    editor::setBackdrop(nullptr);
    editor::setCore(nullptr);
    f.source = oldSource;
    f.area = oldArea;
}

}  // namespace
