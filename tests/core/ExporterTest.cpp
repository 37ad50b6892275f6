#include <gif_lib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "core/ExportFixture.h"
#include "kit/base/Exif.h"
#include "kit/base/Files.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Pasteboard.h"
#include "support/PictureFiles.h"

namespace {

using core::jpegAllowed;
using core::jpegWins;
namespace fs = std::filesystem;

constexpr size_t MB = 1024 * 1024;

kit::Color green{0, 1, 0, 1};

std::vector<uint8_t> bytesOf(const std::string& path) {
    auto text = kit::files::readAll(path);
    return text ? std::vector<uint8_t>(text->begin(), text->end()) : std::vector<uint8_t>{};
}

TEST(SaveFormatRule, AutoPicksJpegOnlyWhenItIsFarSmaller) {
    EXPECT_TRUE(jpegWins(3 * MB, 1 * MB));        // above 2 MB and more than twice as big
    EXPECT_FALSE(jpegWins(1 * MB, MB * 3 / 10));  // 1.0 is not above 4 × 0.3
    EXPECT_TRUE(jpegWins(1 * MB, MB / 5));
    EXPECT_FALSE(jpegWins(MB / 2, 1));  // exactly 0.5 MB never
    // JPEG's side limit and rounded corners that need transparency.
    EXPECT_TRUE(jpegAllowed(65500, 65500, 0, 0, 0));
    EXPECT_FALSE(jpegAllowed(100, 65501, 0, 0, 0));
    EXPECT_FALSE(jpegAllowed(65501, 100, 0, 0, 0));
    EXPECT_FALSE(jpegAllowed(100, 100, 4, 0, 0));
    EXPECT_FALSE(jpegAllowed(100, 100, 0, 4, 0));
    EXPECT_TRUE(jpegAllowed(100, 100, 0, 4, 600));
    EXPECT_EQ(core::saveFormatOf("JPEG"), core::SaveFormat::JPEG);
    EXPECT_EQ(core::saveFormatOf("Auto"), core::SaveFormat::Auto);
    EXPECT_EQ(core::saveFormatOf("WebP"), core::SaveFormat::PNG);
}

TEST_F(ExportFixture, SavesPngWithTheScreenCaptureMarkAndCountsClashes) {
    settings->storeString("saveFormat", "PNG");
    kit::Image img = solid(40, 30, red);
    auto a = exporter->saveImgToFolder(img, "shot", folder, false);
    auto b = exporter->saveImgToFolder(img, "shot", folder, false);
    auto c = exporter->saveImgToFolder(img, "shot", folder, false);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(files(), (std::vector<std::string>{"shot-2.png", "shot-3.png", "shot.png"}));
    kit::Image back = kit::ImageIO::read(*a.path);
    ASSERT_EQ(back.width(), 40);
    EXPECT_EQ(back.pixel(5, 5), (kit::PixelBGRA{0, 0, 255, 255}));
    // A file system without user attributes has no mark, and that is no error.
    if (auto mark = kit::files::getXattr(*a.path, core::kScreenCaptureAttribute)) {
        EXPECT_EQ(mark->size(), 42u);
        EXPECT_EQ(*mark, core::screenCaptureMark());
        EXPECT_EQ(mark->substr(0, 8), "bplist00");
    }
    // Overwrite takes the first name even when it exists.
    auto d = exporter->saveImgToFolder(solid(40, 30, blue), "shot", folder, true);
    ASSERT_TRUE(d);
    EXPECT_EQ(*d.path, *a.path);
    EXPECT_EQ(kit::ImageIO::read(*a.path).pixel(1, 1), (kit::PixelBGRA{255, 0, 0, 255}));
}

TEST_F(ExportFixture, JpegCarriesTheScreenshotCommentAndFallsBackToPng) {
    settings->storeString("saveFormat", "JPEG");
    auto jpeg = exporter->saveImgToFolder(solid(64, 48, green), "j", folder, false);
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(fs::path(*jpeg.path).extension(), ".jpeg");
    EXPECT_EQ(kit::Exif::userComment(bytesOf(*jpeg.path)), "Screenshot");
    // Too tall for JPEG: a PNG, never a missing file.
    auto tall = exporter->saveImgToFolder(solid(2, 65501, green), "tall", folder, false);
    ASSERT_TRUE(tall);
    EXPECT_EQ(fs::path(*tall.path).extension(), ".png");
    EXPECT_EQ(kit::ImageIO::pixelSize(*tall.path).height, 65501);
    // Rounded outer corners need transparency: PNG too.
    backdrop.outer = 8;
    auto rounded = exporter->saveImgToFolder(solid(20, 20, green), "r", folder, false);
    ASSERT_TRUE(rounded);
    EXPECT_EQ(fs::path(*rounded.path).extension(), ".png");
    EXPECT_FALSE(kit::Exif::userComment(bytesOf(*rounded.path)));
}

TEST_F(ExportFixture, AutoKeepsPngForFlatPicturesAndTakesJpegForPhotos) {
    settings->storeString("saveFormat", "Auto");
    auto flat = exporter->saveImgToFolder(solid(800, 600, blue), "flat", folder, false);
    ASSERT_TRUE(flat);
    EXPECT_EQ(fs::path(*flat.path).extension(), ".png");
    // A picture that PNG cannot squeeze, so Auto has something to weigh.
    auto photo = exporter->saveImgToFolder(testsupport::noisePicture(1400, 1000), "photo", folder, false);
    ASSERT_TRUE(photo);
    EXPECT_EQ(fs::path(*photo.path).extension(), ".jpeg");
}

TEST_F(ExportFixture, BytesEncodedAheadServeOnlyTheSamePixelsInTheSameFormat) {
    settings->storeString("saveFormat", "PNG");
    host.alone = true;
    host.image = solid(64, 48, red);
    exporter->encodeAhead();
    auto same = exporter->saveToFolder(folder);
    ASSERT_TRUE(same);
    EXPECT_EQ(bytesOf(*same.path), core::Exporter::encodePNG(host.image));
    // Drawn into while the encoding ran: the file shows the drawing.
    exporter->encodeAhead();
    host.image.setPixel(3, 3, {255, 0, 0, 255});
    auto drawn = exporter->saveToFolder(folder);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(kit::ImageIO::read(*drawn.path).pixel(3, 3), (kit::PixelBGRA{255, 0, 0, 255}));
    // The format changed meanwhile: the file is in the new one.
    exporter->encodeAhead();
    settings->storeString("saveFormat", "JPEG");
    auto jpeg = exporter->saveToFolder(folder);
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(fs::path(*jpeg.path).extension(), ".jpeg");
}

TEST_F(ExportFixture, NeitherASaveNorANewerEncodingWaitsForAStaleOneMadeAhead) {
    settings->storeString("saveFormat", "PNG");
    host.alone = true;
    host.image = solid(64, 48, red);
    // Each encoding made ahead here holds at its start until the test has
    // saved (or, should the test be waiting for it, until the bound runs out)
    // and records whether the save had returned by then.
    struct Gate {
        std::promise<void> open;
        std::shared_future<void> opened = open.get_future().share();
        std::atomic<bool> saved{false};
        std::atomic<int> sawSave{0};
    };
    auto gate = std::make_shared<Gate>();
    exporter->onAheadEncodingStarts = [gate] {
        gate->opened.wait_for(std::chrono::seconds(3));
        if (gate->saved) ++gate->sawSave;
    };
    exporter->encodeAhead();
    exporter->encodeAhead();  // the first one is never taken
    host.image = solid(64, 48, blue);
    auto saved = exporter->saveToFolder(folder);
    gate->saved = true;
    gate->open.set_value();
    ASSERT_TRUE(saved);
    EXPECT_EQ(kit::ImageIO::read(*saved.path).pixel(1, 1), (kit::PixelBGRA{255, 0, 0, 255}));
    // The exporter's end waits for both.
    exporter.reset();
    EXPECT_EQ(gate->sawSave, 2);
}

TEST_F(ExportFixture, AWriteThatCannotHappenIsAFailureWithAReason) {
    // A plain file stands where the folder should be.
    kit::files::writeAtomic(folder, "x");
    auto r = exporter->saveImgToFolder(solid(10, 10, red), "x", folder + "/sub", false);
    EXPECT_FALSE(r);
    EXPECT_FALSE(r.error.empty());
    auto gif = exporter->saveGIFToFolder(solid(4, 4, red), solid(4, 4, blue), 0.4, folder + "/sub", "g");
    EXPECT_FALSE(gif);
    fs::remove(folder);
}

TEST_F(ExportFixture, TwoSavesAtOnceNeverShareAName) {
    settings->storeString("saveFormat", "PNG");
    core::FolderWrite job;
    job.image = solid(300, 200, red);
    job.folder = folder;
    job.baseName = "same";
    job.format = core::SaveFormat::PNG;
    core::WriteResult r1, r2;
    std::thread t1([&] { r1 = exporter->writeToFolder(job); });
    std::thread t2([&] { r2 = exporter->writeToFolder(job); });
    t1.join();
    t2.join();
    ASSERT_TRUE(r1 && r2);
    EXPECT_NE(*r1.path, *r2.path);
    EXPECT_EQ(files(), (std::vector<std::string>{"same-2.png", "same.png"}));
}

TEST_F(ExportFixture, AutoNameOverwritesOnlyInItsOwnFolder) {
    settings->storeString("saveFormat", "PNG");
    settings->storeBool("autosaveOverwrite", true);
    host.image = solid(30, 20, red);
    host.meta["app"] = "Editor";
    settings->storeString("fileNameTemplate", "%n");
    kit::files::makeDirs(folder);
    kit::files::writeAtomic(folder + "/Editor.png", "someone else's");
    auto first = exporter->saveToFolder(folder);
    ASSERT_TRUE(first);
    EXPECT_EQ(fs::path(*first.path).filename(), "Editor-2.png");  // the first save avoids clashes
    EXPECT_EQ(host.meta["autoName"], "Editor-2");
    host.image = solid(30, 20, blue);
    auto second = exporter->saveToFolder(folder);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second.path, *first.path);  // replaced
    EXPECT_EQ(kit::ImageIO::read(*first.path).pixel(0, 0), (kit::PixelBGRA{255, 0, 0, 255}));
    // Elsewhere the same name is somebody else's file.
    std::string other = folder + "/other";
    kit::files::makeDirs(other);
    kit::files::writeAtomic(other + "/Editor-2.png", "keep");
    auto third = exporter->saveToFolder(other);
    ASSERT_TRUE(third);
    EXPECT_EQ(*kit::files::readAll(other + "/Editor-2.png"), "keep");
}

TEST_F(ExportFixture, DownscaleAndPixelDensityFollowTheRatio) {
    settings->storeString("saveFormat", "PNG");
    settings->storeBool("downscaleOnSave", true);
    host.image = solid(1000, 600, red);
    host.ratio = 2.0;
    auto half = exporter->saveToFolder(folder);
    ASSERT_TRUE(half);
    EXPECT_EQ(kit::ImageIO::pixelSize(*half.path).width, 500);
    EXPECT_EQ(kit::ImageIO::pixelSize(*half.path).height, 300);
    host.ratio = 1.0;
    host.meta = kit::Json::object();
    auto full = exporter->saveToFolder(folder);
    ASSERT_TRUE(full);
    EXPECT_EQ(kit::ImageIO::pixelSize(*full.path).width, 1000);
    // The point size: pixels / ratio when both divide evenly.
    EXPECT_EQ(core::Exporter::bitmapRep(solid(1000, 600, red), 2.0).pointSize().width, 500);
    EXPECT_EQ(core::Exporter::bitmapRep(solid(1001, 600, red), 2.0).pointSize().width, 1001);
}

TEST_F(ExportFixture, SaveAsWritesWhatTheNameSaysAndReplacesTheFile) {
    using core::Exporter;
    EXPECT_EQ(Exporter::withImageExtension("/d/shot.png", true), "/d/shot.png");
    EXPECT_EQ(Exporter::withImageExtension("/d/shot.JPG", false), "/d/shot.JPG");
    EXPECT_EQ(Exporter::withImageExtension("/d/shot", true), "/d/shot.jpeg");
    // An extension that is no image format of ours would get a JPEG under a wrong name.
    EXPECT_EQ(Exporter::withImageExtension("/d/shot.gif", false), "/d/shot.gif.png");
    EXPECT_EQ(Exporter::withImageExtension("/d.v2/shot", false), "/d.v2/shot.png");

    host.image = solid(64, 48, green);
    kit::files::makeDirs(folder);
    auto jpeg = exporter->saveToFileAs(folder + "/as.jpeg");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(kit::ImageIO::read(*jpeg.path).width(), 64);
    EXPECT_EQ(bytesOf(*jpeg.path)[0], 0xFF);
    EXPECT_FALSE(kit::Exif::userComment(bytesOf(*jpeg.path)));  // no comment, unlike the folder writer
    kit::files::writeAtomic(folder + "/as.png", "old");
    auto png = exporter->saveToFileAs(folder + "/as.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(bytesOf(*png.path)[1], 'P');
    EXPECT_EQ(files(), (std::vector<std::string>{"as.jpeg", "as.png"}));
    // Nothing loaded: a failure with its reason, no file.
    host.image = {};
    auto none = exporter->saveToFileAs(folder + "/none.png");
    EXPECT_FALSE(none);
    EXPECT_FALSE(fs::exists(folder + "/none.png"));
}

TEST(ExporterResize, KeepsTheAspectAndNeverLosesTheImage) {
    kit::Image img(101, 50);
    EXPECT_EQ(core::Exporter::resize(img, 50, 0).height(), 24);  // 50 × 50 / 101, truncated
    EXPECT_EQ(core::Exporter::resize(img, 1, 0).height(), 1);
    EXPECT_EQ(core::Exporter::resize(img, 202, 0).height(), 100);
    EXPECT_EQ(core::Exporter::resize(img, 0, 0).width(), 101);
}

TEST_F(ExportFixture, GifHasTwoFramesLoopingForeverOnTheLargerCanvas) {
    auto r = exporter->saveGIFToFolder(solid(800, 600, red), solid(820, 590, blue), 0.4, folder, "anim");
    ASSERT_TRUE(r);
    EXPECT_EQ(fs::path(*r.path).filename(), "anim.gif");
    int err = 0;
    GifFileType* gif = DGifOpenFileName(r.path->c_str(), &err);
    ASSERT_TRUE(gif);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    EXPECT_EQ(gif->ImageCount, 2);
    EXPECT_EQ(gif->SWidth, 820);
    EXPECT_EQ(gif->SHeight, 600);
    for (int i = 0; i < gif->ImageCount; ++i) {
        GraphicsControlBlock gcb;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &gcb), GIF_OK);
        EXPECT_EQ(gcb.DelayTime, 40);
        EXPECT_EQ(gif->SavedImages[i].ImageDesc.Width, 820);
    }
    bool loopsForever = false;
    for (int i = 0; i < gif->SavedImages[0].ExtensionBlockCount; ++i) {
        const ExtensionBlock& b = gif->SavedImages[0].ExtensionBlocks[i];
        if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
            memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0) {
            const ExtensionBlock& sub = gif->SavedImages[0].ExtensionBlocks[i + 1];
            loopsForever = sub.ByteCount == 3 && sub.Bytes[1] == 0 && sub.Bytes[2] == 0;
        }
    }
    EXPECT_TRUE(loopsForever);
    DGifCloseFile(gif, &err);
    auto again = exporter->saveGIFToFolder(solid(8, 6, red), solid(8, 6, blue), 0.4, folder, "anim");
    ASSERT_TRUE(again);
    EXPECT_EQ(fs::path(*again.path).filename(), "anim-2.gif");
    // No leftovers of the writes beside the two files.
    EXPECT_EQ(files(), (std::vector<std::string>{"anim-2.gif", "anim.gif"}));
    EXPECT_FALSE(exporter->saveGIFToFolder(solid(2, 65536, red), solid(2, 2, red), 0.4, folder, "big"));
}

TEST_F(ExportFixture, CleanupRemovesOnlyOurOldImages) {
    kit::files::makeDirs(folder);
    for (const char* name : {"a.png", "b.jpeg", "c.gif", "notes.txt"})
        kit::files::writeAtomic(folder + "/" + name, "x");
    kit::files::makeDirs(folder + "/sub.png");
    double born = kit::files::fileStamp(folder + "/a.png")
                      ->created.value_or(kit::files::fileStamp(folder + "/a.png")->modified);
    core::Exporter::cleanupTempFolder(folder, born + 86399);
    EXPECT_EQ(files().size(), 5u);
    core::Exporter::cleanupTempFolder(folder, born + 86401);
    EXPECT_EQ(files(), (std::vector<std::string>{"notes.txt", "sub.png"}));
    core::Exporter::cleanupTempFolder(folder + "/missing", born + 86401);  // nothing there: nothing happens
}

TEST_F(ExportFixture, TemporaryFolderIsPrivateAndPlainJpegRefusesPaths) {
    auto path = exporter->saveTempImage(solid(10, 10, red), "drag", true);
    ASSERT_TRUE(path);
    EXPECT_EQ(fs::path(*path).filename(), "drag.png");
    auto perms = fs::status(core::Exporter::tempFolder()).permissions();
    EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_all);
    auto a = exporter->saveTempImage(solid(10, 10, red), "drag2", false);
    auto b = exporter->saveTempImage(solid(10, 10, red), "drag2", false);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(fs::path(*b).filename(), "drag2-2.png");
    EXPECT_FALSE(exporter->saveImageAsJPEG(solid(4, 4, red), "x.jpeg", folder + "/none", 0.8));
    kit::files::makeDirs(folder);
    EXPECT_FALSE(exporter->saveImageAsJPEG(solid(4, 4, red), "../x.jpeg", folder, 0.8));
    auto ok = exporter->saveImageAsJPEG(solid(4, 4, red), "x.jpeg", folder, 0.8);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(kit::Exif::userComment(bytesOf(*ok.path)));
}

TEST_F(ExportFixture, CopyOffersOnePngAndKeepsTheClipboardOnFailure) {
    auto& pb = kit::Pasteboard::general();
    pb.setString("before");
    using Result = core::Exporter::CopyResult;
    std::optional<Result> failed;
    exporter->copyToPasteboard(kit::Image(), [&](Result r) { failed = r; });
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return failed.has_value(); }, 5));
    EXPECT_EQ(*failed, Result::Failed);
    EXPECT_EQ(pb.string(), "before");
    // Two copies in a row: the later one is on the clipboard, the earlier is dropped.
    std::vector<Result> results;
    exporter->copyToPasteboard(solid(300, 200, red), [&](Result r) { results.push_back(r); });
    exporter->copyToPasteboard(solid(30, 20, blue), [&](Result r) { results.push_back(r); });
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return results.size() == 2; }, 5));
    EXPECT_EQ(results, (std::vector<Result>{Result::Superseded, Result::Written}));
    EXPECT_EQ(pb.types(), std::vector<std::string>{"image/png"});
    kit::Image got = pb.image();
    EXPECT_EQ(got.width(), 30);
    EXPECT_EQ(got.pixel(0, 0), (kit::PixelBGRA{255, 0, 0, 255}));
}

}  // namespace
