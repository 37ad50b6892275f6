// Pictures brought in from the clipboard, a file or a drop.
#include <sys/stat.h>

#include <fstream>

#include "CoreFixture.h"
#include "editor/ObjectHandlers.h"
#include "editor/Undo.h"
#include "kit/base/Dispatch.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Pasteboard.h"
#include "support/PeakMemory.h"
#include "support/PictureFiles.h"
#include "support/ScratchFolder.h"
#include "support/SlowDecoder.h"
#include "support/TestData.h"

namespace coretest {
namespace {

class OpenCommands : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        make();
    }
    testsupport::ScratchFolder scratch;
};

TEST_F(OpenCommands, DropZonesAreStrictlyInsideTheirRectangles) {
    using Z = core::AppLogic::DropZone;
    const services::Rect canvas{0, 0, 100, 50}, comp{-20, -20, 140, 90};
    EXPECT_EQ(core::AppLogic::dropZone({50, 25}, canvas, comp), Z::Canvas);
    EXPECT_EQ(core::AppLogic::dropZone({0, 25}, canvas, comp),
              Z::Backdrop);  // on the edge: outside the canvas
    EXPECT_EQ(core::AppLogic::dropZone({-10, 60}, canvas, comp), Z::Backdrop);
    EXPECT_EQ(core::AppLogic::dropZone({120, 25}, canvas, comp), Z::Outside);
    // Without a backdrop both rectangles are one: on it or outside.
    EXPECT_EQ(core::AppLogic::dropZone({100, 25}, canvas, canvas), Z::Outside);
}

TEST_F(OpenCommands, ADropOnTheScreenshotAddsAnObjectAndOutsideOpensTheFile) {
    ASSERT_TRUE(logic->loadImage(solidImage(200, 100, {0, 0, 0, 255}), false));
    const std::string file = scratch.file("drop.png");
    {
        auto bytes = kit::ImageIO::encodePNG(solidImage(30, 20, {9, 9, 9, 255}));
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    editor::Framer& f = editor::Framer::shared();
    f._zoom.set(1.0);
    f.setOffset({0, 0}, {0, 0});
    f._dpr.set(2.0);
    // View point (x·2 − 1, y·2): (50, 30) lands at image (99, 60).
    EXPECT_TRUE(logic->droppedImageAt(file, 50, 30));
    EXPECT_TRUE(logged("addImageObject 30"));
    EXPECT_FALSE(logic->droppedImageAt(scratch.file("missing.png"), 50, 30));
    // Far outside: the file becomes the screenshot.
    EXPECT_TRUE(logic->droppedImageAt(file, 500, 30));
    EXPECT_EQ(logic->imgSource().width(), 30);
    EXPECT_EQ(logic->metadata()["mode"], "file");
    EXPECT_EQ(logic->openedURL, file);
}

// Files that once froze the editor or cost gigabytes: a FIFO named like a
// picture (open() waited for a writer), /dev/zero, and 105 bytes of PNG
// claiming 60000 × 60000. Opened or dropped, each is refused with the
// reason, and the screenshot stays.
TEST_F(OpenCommands, FilesThatAreNoPicturesAreRefusedWithTheReason) {
    ASSERT_TRUE(logic->loadImage(solidImage(200, 100, {0, 0, 0, 255}), false));
    const std::string fifo = scratch.file("x.png");
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    editor::Framer& f = editor::Framer::shared();
    f._zoom.set(1.0);
    f.setOffset({0, 0}, {0, 0});
    f._dpr.set(2.0);
    const std::string notRegular = "The file is not a regular file.";
    const std::string tooLarge =
        "The image is too large to open: 60000 × 60000 pixels (at most 256 megapixels).";
    const std::string bomb = testsupport::testDataPath("repro/png-60000x60000-header.png");
    // Both sizes over 2^31: the cap's check once overflowed on them.
    const std::string overflow = testsupport::testDataPath("repro/png-ihdr-4g-by-4g-overflow.png");
    const std::string overflowTooLarge =
        "The image is too large to open: 2303741511 × 4278852106 pixels (at most 256 megapixels).";
    // 60,000 scans that keep a decoder busy for minutes: given up at its time.
    const std::string busy = testsupport::testDataPath("repro/jpeg-progressive-4096-60000-scans.jpg");
    const auto limits = kit::ImageIO::decoderLimits();
    kit::ImageIO::setDecoderLimits({1, limits.memoryBytes});
    for (const auto& [file, reason] :
         {std::pair{fifo, notRegular}, std::pair{std::string("/dev/zero"), notRegular},
          std::pair{bomb, tooLarge}, std::pair{overflow, overflowTooLarge},
          std::pair{busy, std::string("The image takes too long to read; reading it was given up.")}}) {
        for (const bool dropped : {false, true}) {
            notifier->lastWarning.clear();
            log.clear();
            EXPECT_FALSE(dropped ? logic->droppedImageAt(file, 50, 30) : logic->openImage(file)) << file;
            EXPECT_TRUE(logged("warning Can't open image")) << file;
            EXPECT_EQ(notifier->lastWarning, reason) << file;
        }
    }
    kit::ImageIO::setDecoderLimits(limits);
    EXPECT_EQ(logic->imgSource().width(), 200);
    ::unlink(fifo.c_str());
}

TEST_F(OpenCommands, ClipboardWithoutAnImageKeepsTheScreenshot) {
    ASSERT_TRUE(logic->loadImage(solidImage(40, 30, {0, 0, 0, 255}), false));
    logic->clipboardImage_ = [] { return kit::Image(); };
    logic->loadFromClipboard("menu");
    EXPECT_TRUE(logged("notify Can't load image from the clipboard"));
    EXPECT_FALSE(lastEvent("loadClipboard"));
    EXPECT_EQ(logic->imgSource().width(), 40);

    logic->openedURL = "/some/file.png";
    logic->clipboardImage_ = [] { return solidImage(70, 20, {1, 2, 3, 255}); };
    logic->loadFromClipboard("menu");
    EXPECT_EQ(logic->imgSource().width(), 70);
    EXPECT_EQ(logic->metadata()["mode"], "clipboard");
    EXPECT_TRUE(logic->openedURL.empty());
    ASSERT_TRUE(lastEvent("loadClipboard"));
}

// A byte of every page of the screenshot read, as drawing it does: the
// bits of all those bytes.
uint8_t readEveryPage(const kit::Image& img) {
    uint8_t seen = 0;
    for (size_t at = 0; at < img.bytesPerRow() * size_t(img.height()); at += 4096) seen |= img.bits()[at];
    return seen;
}

// A picture opened in place of another is held beside it only while it is
// read: the one shown stays until the new one can take its place (a picture
// that cannot be read leaves it), and goes then. At the pixel cap each
// picture more held at once costs another gigabyte.
TEST_F(OpenCommands, AnOpenedPictureIsHeldBesideTheOneItReplacesOnlyWhileItIsRead) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitizer's own memory is not the program's";
#endif
    constexpr int kSide = 3072;
    constexpr long long kPictureBytes = 4LL * kSide * kSide;
    const std::string first = scratch.file("big-first.png"), second = scratch.file("big-second.png");
    testsupport::writePicture(first, kSide, kSide, kit::Color::rgb(10, 20, 30));
    testsupport::writePicture(second, kSide, kSide, kit::Color::rgb(200, 100, 50));
    ASSERT_TRUE(logic->openImage(first));
    EXPECT_EQ(readEveryPage(logic->imgSource()), 30);  // blue, each page's first byte (B, G, R, A)
    const auto held = testsupport::heldGrowthOf([&] { ASSERT_TRUE(logic->openImage(second)); });
    EXPECT_EQ(readEveryPage(logic->imgSource()), 50);
    EXPECT_GT(held.peak, kPictureBytes / 2) << "the picture read is not seen held beside the one shown";
    EXPECT_LT(held.peak, kPictureBytes * 3 / 2)
        << "more than the picture shown and the one read were held at once";
    EXPECT_LT(held.after, kPictureBytes / 2) << "the first picture is still held beside the second";
    ::unlink(first.c_str());
    ::unlink(second.c_str());
}

// A file's picture comes from a decoder the main thread waits for with its
// event loop running; whatever the user asks meanwhile runs inside that
// wait and finishes first. The editor must end as the requests run one
// after another in the order they were made.
TEST_F(OpenCommands, APictureThatArrivesLateNeverOvertakesALaterRequest) {
    const std::string dir = scratch.path() + "/";
    const std::string first = dir + "first.png", second = dir + "second.png", dropped = dir + "dropped.png";
    for (const auto& [file, width] : {std::pair{first, 30}, std::pair{second, 50}, std::pair{dropped, 11}})
        testsupport::writePicture(file, width, 20, kit::Color::black());
    editor::Framer& f = editor::Framer::shared();
    auto startOver = [&] {
        ASSERT_TRUE(logic->loadImage(solidImage(200, 100, {0, 0, 0, 255}), false));
        f._zoom.set(1.0);
        f.setOffset({0, 0}, {0, 0});
        f._dpr.set(2.0);  // the drop point (50, 30) lies on the screenshot
        log.clear();
    };
    testsupport::SlowDecoder slow(0.2);

    // A second open made during the first one's wait: the second stays, and
    // the first is given up.
    startOver();
    kit::dispatchMain([&] { EXPECT_TRUE(logic->openImage(second)); });
    EXPECT_FALSE(logic->openImage(first));
    EXPECT_EQ(logic->imgSource().width(), 50);
    EXPECT_EQ(logic->openedURL, second);

    // A capture by its shortcut during an open: the capture stays.
    startOver();
    routes->image = solidImage(70, 40, {5, 5, 5, 255});
    kit::dispatchMain([&] { logic->grabScreenshot("interactive", "hotkey", core::AppLogic::AfterGrab{}); });
    EXPECT_FALSE(logic->openImage(first));
    EXPECT_EQ(logic->imgSource().width(), 70);

    // A picture dropped on the screenshot, then another file opened while
    // the drop is read: the drop belonged to the screenshot now gone.
    startOver();
    kit::dispatchMain([&] { EXPECT_TRUE(logic->openImage(second)); });
    EXPECT_TRUE(logic->droppedImageAt(dropped, 50, 30));
    EXPECT_EQ(logic->imgSource().width(), 50);
    EXPECT_FALSE(logged("addImageObject 11"));

    // A drop made while a file opens goes onto that file's picture.
    startOver();
    kit::dispatchMain([&] { EXPECT_TRUE(logic->droppedImageAt(dropped, 50, 30)); });
    EXPECT_TRUE(logic->openImage(first));
    EXPECT_EQ(logic->imgSource().width(), 30);
    const auto at = [&](const std::string& entry) { return std::find(log.begin(), log.end(), entry); };
    ASSERT_NE(at("addImageObject 11"), log.end());
    EXPECT_LT(at("setCanvasImage 30x20"), at("addImageObject 11"));

    // A file copied from the library while another one's copy is read.
    const int copies = kit::Pasteboard::general().changeCount();
    kit::dispatchMain([&] { logic->copyImageFile(second); });
    logic->copyImageFile(first);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return kit::Pasteboard::general().changeCount() != copies; }, 5));
    EXPECT_EQ(kit::Pasteboard::general().image().width(), 50);
}

}  // namespace
}  // namespace coretest

namespace coretest {
namespace {

// With the real editor: the arrow drawn before and the picture dropped after
// are two undo steps.
TEST_F(CoreFixture, AnAddedPictureIsOneUndoStep) {
    makeWithRealEditor();
    ASSERT_TRUE(logic->loadImage(solidImage(400, 300, {50, 50, 50, 255}), false));
    editor::ObjectHandlers& objects = editor::ObjectHandlers::shared();
    editor::Undo& undo = editor::Undo::shared();
    ASSERT_TRUE(objects.addObject("ObjArrow", services::Rect{10, 10, 100, 50}));
    objects.deactivate();
    undo.save("");

    logic->addImageObject(solidImage(30, 20, {9, 9, 9, 255}));
    ASSERT_EQ(objects.objects.size(), 2u);
    undo.undo();
    ASSERT_EQ(objects.objects.size(), 1u);
    EXPECT_EQ(editor::ObjectHandlers::typeName(objects.objects[0]->className()), "ObjArrow");
    undo.redo();
    EXPECT_EQ(objects.objects.size(), 2u);
    objects.clear();
}

// The editor's paste reads the clipboard's picture with the event loop
// running: a file opened meanwhile gets it when asked for before it, and
// takes it away when asked for after it.
TEST_F(CoreFixture, APastedPictureGoesOntoTheScreenshotOfItsTurn) {
    makeWithRealEditor();
    logic->installHooks();  // the editor reaches this core
    testsupport::ScratchFolder scratch;
    const std::string file = scratch.file("opened-while-pasting.png");
    testsupport::writePicture(file, 90, 60, kit::Color::black());
    ASSERT_TRUE(kit::Pasteboard::general().setImage(solidImage(30, 20, {200, 9, 9, 255})));
    editor::ObjectHandlers& objects = editor::ObjectHandlers::shared();
    testsupport::SlowDecoder slow(0.2);
    for (const bool openFirst : {true, false}) {
        ASSERT_TRUE(logic->loadImage(solidImage(400, 300, {50, 50, 50, 255}), false));
        if (openFirst) {
            kit::dispatchMain([&] { EXPECT_TRUE(objects.addImageFromPasteboard()); });
            EXPECT_TRUE(logic->openImage(file));
        } else {
            kit::dispatchMain([&] { EXPECT_TRUE(logic->openImage(file)); });
            EXPECT_TRUE(objects.addImageFromPasteboard());
        }
        EXPECT_EQ(logic->imgSource().width(), 90);
        EXPECT_EQ(objects.objects.size(), openFirst ? 1u : 0u) << openFirst;
    }
    objects.clear();
}

}  // namespace
}  // namespace coretest
