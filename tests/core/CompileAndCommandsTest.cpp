#include <filesystem>

#include "core/ExportFixture.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Pasteboard.h"
#include "services/Alerts.h"

namespace {

namespace fs = std::filesystem;
kit::Color white{1, 1, 1, 1};

// Rows count from the top in kit images; the probes below think y up.
kit::PixelBGRA at(const kit::Image& img, int x, int yUp) {
    return img.pixel(x, img.height() - 1 - yUp);
}
const kit::PixelBGRA kRed{0, 0, 255, 255}, kBlue{255, 0, 0, 255}, kWhite{255, 255, 255, 255}, kClear{};

// An object layer as the editor builds it: the screenshot in a canvas layer
// at the bottom, one object (a blue square) above it.
kit::LayerPtr objectsLayer(const kit::Image& shot, const kit::Rect& square) {
    auto root = kit::Layer::make();
    root->setBounds({0, 0, double(shot.width()), double(shot.height())});
    auto canvas = kit::Layer::make();
    canvas->setFrame({0, 0, double(shot.width()), double(shot.height())});
    canvas->setContents(shot);
    canvas->setZPosition(-200);
    root->addSublayer(canvas);
    auto obj = kit::Layer::make();
    obj->setFrame(square);
    obj->setBackgroundColor(blue);
    root->addSublayer(obj);
    return root;
}

TEST_F(ExportFixture, CompileDrawsObjectsOverTheShotInsideThePaddings) {
    host.image = solid(100, 80, red);
    host.layer = objectsLayer(host.image, {10, 10, 20, 20});
    backdrop.pads.padBL = 30.6;
    kit::Image out = exporter->compileImage();
    ASSERT_FALSE(out.isNull());
    EXPECT_EQ(out.width(), 130);  // the padding is cut to whole pixels
    EXPECT_EQ(out.height(), 80);
    EXPECT_EQ(host.prepares, 1);
    EXPECT_EQ(at(out, 5, 40), kClear);       // the padding, backdrop off
    EXPECT_EQ(at(out, 31 + 50, 60), kRed);   // the shot
    EXPECT_EQ(at(out, 31 + 15, 15), kBlue);  // the object, in image pixels
    EXPECT_EQ(eventTypes().back(), "timer");
}

TEST_F(ExportFixture, CompilePutsTheBackdropUnderTheCanvas) {
    host.image = solid(50, 40, red);
    backdrop.pads = {10, 10, 10, 10, 0, 0, 0, 0};
    backdrop.on = 1;
    backdrop.layer = kit::Layer::make();
    backdrop.layer->setBounds({0, 0, 70, 60});
    backdrop.layer->setBackgroundColor(white);
    backdrop.layer->setTransform(kit::AffineTransform::scale(0.25, 0.25));
    kit::Image out = exporter->compileImage();
    ASSERT_EQ(out.width(), 70);
    EXPECT_EQ(at(out, 2, 2), kWhite);
    EXPECT_EQ(at(out, 35, 30), kRed);
    EXPECT_EQ(backdrop.exportRenders, 1);
    EXPECT_EQ(backdrop.transformsRestored, 1);
}

TEST_F(ExportFixture, AScreenshotWithNothingOverItIsExportedAsCaptured) {
    host.image = solid(60, 40, red);
    host.image.setScale(2);
    host.alone = true;
    kit::Image out = exporter->compileImage();
    EXPECT_FALSE(host.image.storage().owner_before(out.storage()) ||
                 out.storage().owner_before(host.image.storage()))
        << "the captured pixels were copied";
    EXPECT_EQ(out.scale(), 1.0);  // as a drawing would give
    EXPECT_EQ(host.prepares, 1);
    EXPECT_EQ(eventTypes().back(), "timer");
    // Paddings or a backdrop still make a picture of their own.
    auto drawnAgain = [&] {
        kit::Image again = exporter->compileImage();
        return again.storage().owner_before(host.image.storage()) ||
               host.image.storage().owner_before(again.storage());
    };
    backdrop.pads.padBR = 1;
    EXPECT_TRUE(drawnAgain());
    backdrop.pads.padBR = 0;
    backdrop.pads.padBL = 0.5;  // no wider, but the picture moves half a pixel
    EXPECT_TRUE(drawnAgain());
    backdrop.pads.padBL = 0;
    backdrop.on = 1;
    backdrop.layer = kit::Layer::make();
    backdrop.layer->setBounds({0, 0, 60, 40});
    EXPECT_TRUE(drawnAgain());
}

TEST_F(ExportFixture, NothingToCompileIsReportedNotReplaced) {
    EXPECT_TRUE(exporter->compileImage().isNull());
    auto events = telemetry->events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.back().value("type", ""), "timer");
}

TEST_F(ExportFixture, QuickSaveGoesToTheStoredFolderAndTellsTheUser) {
    settings->storeString("saveFormat", "PNG");
    host.image = solid(60, 40, red);
    host.layer = objectsLayer(host.image, {0, 0, 10, 10});
    kit::files::makeDirs(folder);
    settings->setDefaultFolderURL(folder);
    std::optional<core::WriteResult> done;
    cmds().onSaveFinished = [&](const core::WriteResult& r) { done = r; };
    cmds().saveImage(false, false);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return done.has_value(); }, 10));
    ASSERT_TRUE(*done);
    kit::Image saved = kit::ImageIO::read(*done->path);
    EXPECT_EQ(at(saved, 5, 5), kBlue);  // annotations are in the file
    EXPECT_EQ(host.hides, 1);
    ASSERT_EQ(notifier->notices.size(), 1u);
    EXPECT_EQ(notifier->notices[0].message, *done->path);
    EXPECT_EQ(host.meta["width"], "60");
    EXPECT_EQ(host.meta["dpr"], "1.0");
}

TEST_F(ExportFixture, AFailedSaveAsksOnceAndKeepsTheStoredFolder) {
    // A plain file where the folder should be: every write there fails.
    kit::files::writeAtomic(folder, "x");
    std::string stored = folder + "-stored";
    kit::files::makeDirs(stored);
    settings->setDefaultFolderURL(stored);
    host.image = solid(20, 20, red);
    int finished = 0;
    cmds().onSaveFinished = [&](const core::WriteResult&) { ++finished; };
    // Cancelled chooser: no second save, the folder setting is untouched.
    cmds().saveToDefaultFolder(folder + "/shots", true, true);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return finished == 1; }, 10));
    EXPECT_EQ(host.chooserRuns, 1);
    EXPECT_EQ(cmds().saveAttempts, 1);
    EXPECT_EQ(settings->defaultFolderURL(), stored);
    // The retry fails too: the user is told why, and the count starts over.
    host.chooserAnswer = folder + "/also-bad";
    cmds().saveToDefaultFolder(folder + "/shots", true, true);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return finished == 2; }, 10));
    EXPECT_EQ(cmds().saveAttempts, 0);
    ASSERT_FALSE(notifier->notices.empty());
    EXPECT_TRUE(notifier->notices.back().warning);
    EXPECT_EQ(notifier->notices.back().title, "Can't save file");
    EXPECT_FALSE(notifier->notices.back().message.empty());
    fs::remove(folder);
    fs::remove_all(stored);
}

TEST_F(ExportFixture, CopyPutsTheCompiledPictureOnTheClipboard) {
    host.image = solid(40, 30, red);
    host.layer = objectsLayer(host.image, {0, 0, 10, 10});
    int before = kit::Pasteboard::general().changeCount();
    cmds().copyImage(false, false);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return kit::Pasteboard::general().changeCount() != before; }, 5));
    kit::Image got = kit::Pasteboard::general().image();
    ASSERT_EQ(got.width(), 40);
    EXPECT_EQ(at(got, 2, 2), kBlue);
    EXPECT_EQ(host.hides, 1);
    EXPECT_EQ(eventTypes().back(), "copyImage");
    // Nothing loaded: nothing copied, the editor still goes away.
    host.image = {};
    cmds().copyImage(false, false);
    EXPECT_EQ(host.hides, 2);
}

TEST_F(ExportFixture, ACopyOvertakenByANewerOneIsNoFailure) {
    host.image = solid(40, 30, red);
    int before = kit::Pasteboard::general().changeCount();
    cmds().copyImage(false, true);
    host.image = solid(25, 30, red);
    cmds().copyImage(false, true);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return kit::Pasteboard::general().changeCount() != before; }, 5));
    kit::processMainEvents();
    EXPECT_EQ(kit::Pasteboard::general().image().width(), 25);
    EXPECT_TRUE(notifier->notices.empty()) << notifier->notices.front().title;
    for (auto& record : telemetry->events()) EXPECT_NE(record.value("type", ""), "oops") << record.dump();
}

}  // namespace

namespace {

TEST_F(ExportFixture, GifCommandExplainsItselfOnceThenHidesTheEditor) {
    std::vector<std::string> alerts;
    services::setAlertPresenter([&](const services::AlertRequest& request) {
        alerts.push_back(request.title);
        return services::AlertAnswer{0, {}};
    });
    kit::files::makeDirs(folder);
    int done = 0;
    cmds().onGIFFinished = [&](const core::WriteResult& r) { done += bool(r); };
    cmds().saveGIF(solid(40, 30, red), solid(40, 30, blue), 0.4, folder);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return done == 1 && !alerts.empty(); }, 10));
    EXPECT_EQ(alerts[0], "\"Before/After\" Gif generation");
    EXPECT_EQ(host.hides, 0);
    EXPECT_TRUE(settings->ever("CreatedGIF"));
    cmds().saveGIF(solid(40, 30, red), solid(40, 30, blue), 0.4, folder);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return done == 2; }, 10));
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(host.hides, 1);
    EXPECT_EQ(files().size(), 2u);
    EXPECT_EQ(notifier->notices.back().message.substr(0, folder.size()), folder);
    services::setAlertPresenter({});
}

}  // namespace

namespace {

// Scrolling captures run far past 32767 rows, the painter's coordinate range.
TEST_F(ExportFixture, CompileKeepsVeryTallCapturesWhole) {
    host.image = solid(60, 40000, red);
    host.layer = objectsLayer(host.image, {10, 39000, 20, 20});
    kit::Image out = exporter->compileImage();
    ASSERT_EQ(out.height(), 40000);
    EXPECT_EQ(at(out, 30, 10), kRed);
    EXPECT_EQ(at(out, 30, 35000), kRed);
    EXPECT_EQ(at(out, 15, 39010), kBlue);
}

}  // namespace

namespace {

TEST_F(ExportFixture, CopyOfTheSelectionKeepsTheEditorAndEndsTheSelection) {
    host.image = solid(80, 60, red);
    host.layer = objectsLayer(host.image, {0, 0, 10, 10});  // bottom-left corner
    host.selection = kit::Rect(0, 50, 20, 10);              // the bottom rows
    int before = kit::Pasteboard::general().changeCount();
    cmds().copyImage(true, false);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return kit::Pasteboard::general().changeCount() != before; }, 5));
    kit::Image got = kit::Pasteboard::general().image();
    ASSERT_EQ(got.width(), 20);
    ASSERT_EQ(got.height(), 10);
    EXPECT_EQ(at(got, 5, 5), kBlue);
    EXPECT_EQ(at(got, 15, 5), kRed);
    EXPECT_EQ(host.hides, 0);
    EXPECT_EQ(host.selectionEnds, 1);
}

}  // namespace
