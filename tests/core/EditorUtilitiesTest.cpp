// The editor's pointer, objects from the crop selection, the units switch,
// image objects' placement, pins and image files.
#include <fstream>

#include "CoreFixture.h"
#include "kit/image/ImageIO.h"
#include "support/ScratchFolder.h"

namespace coretest {
namespace {

using core::AppLogic;

class EditorUtilities : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        make();
    }

    std::string writePNG(const std::string& name, const kit::Image& img) {
        const std::string file = scratch.file(name);
        auto bytes = kit::ImageIO::encodePNG(img);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return file;
    }
    testsupport::ScratchFolder scratch;
};

TEST_F(EditorUtilities, CursorNamesMapToTheirPointers) {
    struct Row {
        const char* name;
        const char* entry;
        std::optional<kit::Cursor::Shape> system;
    };
    using S = kit::Cursor::Shape;
    const Row rows[] = {
        {"t-resize", "t-resize", {}},
        {"b-resize", "t-resize", {}},
        {"l-resize", "l-resize", {}},
        {"r-resize", "l-resize", {}},
        {"bl-resize", "bl-resize", {}},
        {"tr-resize", "bl-resize", {}},
        {"br-resize", "tl-resize", {}},
        {"tl-resize", "tl-resize", {}},
        {"point", "point", {}},
        {"move", "move", {}},
        {"zoom", "zoom", {}},
        {"pen", "pen", {}},
        {"open-hand", "", S::OpenHand},
        {"closed-hand", "", S::ClosedHand},
        {"crosshair", "", S::Crosshair},
        {"ibeam", "", S::IBeam},
        {"default", "", S::Arrow},
    };
    for (const Row& row : rows) {
        auto choice = AppLogic::pointerFor(row.name);
        ASSERT_TRUE(choice) << row.name;
        EXPECT_EQ(choice->entry, row.entry) << row.name;
        EXPECT_EQ(choice->system ? std::optional(choice->system->shape()) : std::nullopt, row.system)
            << row.name;
    }
    EXPECT_FALSE(AppLogic::pointerFor("Default"));
    EXPECT_FALSE(AppLogic::pointerFor("resize"));
}

TEST_F(EditorUtilities, SetCursorUsesTheDrawnPointersAndRefusesUnknownNames) {
    logic->cursors.clear();
    const kit::Cursor drawn(solidImage(8, 8, {0, 0, 0, 255}), {4, 4});
    logic->cursors["tl-resize"] = drawn;

    logic->setCursor("br-resize");
    logic->setCursor("br-resize");  // set again, not skipped
    ASSERT_EQ(editor->pointers.size(), 2u);
    EXPECT_EQ(editor->pointers[1], drawn);
    EXPECT_EQ(logic->currentCursor, "br-resize");

    // A drawing that is not there changes no pointer, but the name is kept.
    logic->setCursor("zoom");
    EXPECT_EQ(editor->pointers.size(), 2u);
    EXPECT_EQ(logic->currentCursor, "zoom");

    logic->setCursor("sideways");
    ASSERT_EQ(editor->pointers.size(), 3u);
    EXPECT_EQ(editor->pointers.back().shape(), kit::Cursor::Shape::Arrow);
    EXPECT_EQ(logic->currentCursor, "default");
    auto oops = lastEvent("oops");
    ASSERT_TRUE(oops);
    EXPECT_NE(oops->dump().find("Passed unrecognized cursor type: default"), std::string::npos);

    logic->setCursorUpdating(false);
    logic->setCursor("crosshair");
    EXPECT_EQ(editor->pointers.size(), 3u);
    EXPECT_EQ(logic->currentCursor, "default");
}

TEST_F(EditorUtilities, TheSelectionBecomesARectangleAnErasedAreaOrRulers) {
    // Without a selection nothing is made.
    logic->selectRectangleTool();
    logic->selectConcealTool();
    logic->imprintSelectionSize();
    EXPECT_TRUE(editor->made.empty());

    editor->cropOn = true;
    editor->selection = {10, 20, 30, 40};
    logic->selectRectangleTool();
    EXPECT_FALSE(editor->cropOn);
    editor->cropOn = true;
    logic->selectConcealTool();
    ASSERT_EQ(editor->made.size(), 2u);
    EXPECT_EQ(editor->made[0].type, "ObjRectangle");
    EXPECT_EQ(editor->made[1].type, "ObjConceal");
    EXPECT_EQ(editor->made[1].rect, (services::Rect{10, 20, 30, 40}));
    EXPECT_FALSE(editor->cropOn);
}

TEST_F(EditorUtilities, SizeRulersSitBesideTheSelectionWhicheverWayItWasDrawn) {
    auto [v, h] = AppLogic::imprintRulers({10, 20, 30, 40}, 2);
    EXPECT_EQ(v, (services::Rect{46, 20, 2, 40}));
    EXPECT_EQ(h, (services::Rect{10, 12, 30, 2}));
    auto [v2, h2] = AppLogic::imprintRulers({40, 60, -30, -40}, 2);
    EXPECT_EQ(v2, v);
    EXPECT_EQ(h2, h);

    editor::Framer::shared()._dpr.set(2.0);
    editor->cropOn = true;
    editor->selection = {10, 20, 30, 40};
    logic->imprintSelectionSize();
    ASSERT_EQ(editor->made.size(), 2u);
    EXPECT_TRUE(editor->made[0].vertical);
    EXPECT_EQ(editor->made[0].tdist, 12.0);
    EXPECT_FALSE(editor->made[1].vertical);
    EXPECT_EQ(editor->made[1].tdist, -20.0);
    EXPECT_EQ(editor->made[0].dpr, 2.0);
    EXPECT_EQ(lastEvent("draw").value()["method"], "imprintSelectionSize");

    // With real pixels on the rulers count pixels.
    settings->storeBool("realPixels", true);
    editor->cropOn = true;
    logic->imprintSelectionSize();
    ASSERT_EQ(editor->made.size(), 4u);
    EXPECT_EQ(editor->made[2].dpr, 1.0);
    EXPECT_EQ(editor->made[3].dpr, 1.0);
}

TEST_F(EditorUtilities, ImageObjectsLineUpRightOfTheScreenshot) {
    const services::Rect source{0, 0, 200, 100};
    // dpr 1: a 20-point gap after the screenshot, tops level.
    EXPECT_EQ(AppLogic::imageObjectOrigin(source, source, 50, 30, 1), (kit::Point{220, 70}));
    // dpr 2: the gap is 40 pixels.
    EXPECT_EQ(AppLogic::imageObjectOrigin(source, source, 50, 30, 2), (kit::Point{240, 70}));
    // A second image goes after the first.
    EXPECT_EQ(AppLogic::imageObjectOrigin(source, {0, 0, 290, 100}, 50, 30, 2), (kit::Point{330, 70}));
    // Far out, the right edge stops at the screenshot's right edge + 1900 points.
    EXPECT_EQ(AppLogic::imageObjectOrigin(source, {0, 0, 2200, 100}, 50, 30, 1), (kit::Point{2050, 70}));

    editor::Framer::shared().source = source;
    editor->overlay = source;
    editor->active = "ObjImage";
    editor->status = {};
    logic->addImageObject(solidImage(50, 30, {1, 2, 3, 255}));
    EXPECT_TRUE(logged("moveActiveObject 220,70"));
    EXPECT_EQ(editor->status.title, "Image size") << "the read-outs follow the grown composition";
    const kit::Json draw = *lastEvent("draw");
    EXPECT_EQ(draw["object"], "ObjImage");
    EXPECT_EQ(draw["method"], "capture");
    EXPECT_EQ(draw["width"], 50);
}

TEST_F(EditorUtilities, RealPixelsRefreshEveryReadout) {
    const int before = editor->relayouts;
    logic->setRealPixels(true);
    EXPECT_TRUE(settings->realPixels());
    EXPECT_FALSE(logged("refreshCropLabels"));  // the crop tool is off
    EXPECT_TRUE(logged("syncRealPixelsState"));
    EXPECT_EQ(editor->relayouts, before + 1);
    EXPECT_NE(editor->status.size.find("px"), std::string::npos);

    editor->cropOn = true;
    logic->setRealPixels(false);
    EXPECT_TRUE(logged("refreshCropLabels"));
    EXPECT_NE(editor->status.size.find("pt"), std::string::npos);
}

TEST_F(EditorUtilities, LibraryFilesArePinnedOrCopiedAndBadOnesWarned) {
    logic->pinImage(scratch.file("no-such.png"));
    EXPECT_TRUE(logged("warning Can't pin image"));
    logic->copyImageFile(scratch.file("no-such.png"));
    EXPECT_TRUE(logged("warning Can't copy image"));

    const std::string file = writePNG("pin-me.png", solidImage(40, 20, {5, 6, 7, 255}));
    logic->pinImage(file);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto& e) { return e.rfind("pin ", 0) == 0; }), 1);
    EXPECT_EQ(lastEvent("pin").value()["width"], 40);
}

TEST_F(EditorUtilities, TheOpenImagePanelOffersEveryReadableFormat) {
    std::vector<std::string> offered;
    std::string title;
    logic->imageChooser_ = [&](kit::OpenPanel& panel) {
        offered = panel.allowedTypes;
        title = panel.title;
        return std::vector<std::string>{"/pictures/photo.jpg"};
    };
    logic->openImageDialog();
    EXPECT_EQ(title, "Open Image");
    for (const char* ext : {"png", "jpg", "jpeg", "gif", "bmp"})
        EXPECT_NE(std::find(offered.begin(), offered.end(), ext), offered.end()) << ext;
    EXPECT_TRUE(logged("openPickedImage /pictures/photo.jpg"));

    std::string picked;
    logic->openImageDialog([&](const std::string& file) { picked = file; });
    EXPECT_EQ(picked, "/pictures/photo.jpg");

    log.clear();
    logic->imageChooser_ = [](kit::OpenPanel&) { return std::vector<std::string>{}; };
    logic->openImageDialog();
    EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace coretest

namespace coretest {
namespace {

class BackdropCheck : public CoreFixture {
protected:
    struct Backdrop : editor::BackdropHost {
        std::vector<std::string> toggles;
        void toggle(const std::string& method) override { toggles.push_back(method); }
    } backdrop;
    struct Shell : editor::ShellHost {
        std::vector<std::string> tabs;
        void showPreferences(const std::string& tab) override { tabs.push_back(tab); }
    } shellHost;

    void SetUp() override {
        CoreFixture::SetUp();
        make();
        editor::setBackdrop(&backdrop);
        editor::setShell(&shellHost);
    }
    void TearDown() override {
        editor::setBackdrop(nullptr);
        editor::setShell(nullptr);
        CoreFixture::TearDown();
    }
};

TEST_F(BackdropCheck, AWindowWithItsOwnBackgroundGetsNoBackdrop) {
    logic->metadataRef()["backdropApplied"] = "true";
    logic->checkBackdropAllowed("hotkey:K");
    EXPECT_TRUE(backdrop.toggles.empty());
    EXPECT_TRUE(logged("notify Window already has backdrop"));
    EXPECT_EQ(lastEvent("backdrop:denied").value()["error"], "Window with embedded background");
    ASSERT_EQ(notifier->lastButton, "Settings");
    notifier->lastAction();
    EXPECT_EQ(shellHost.tabs, std::vector<std::string>{"general"});
    EXPECT_TRUE(logged("toolbar crop"));

    logic->metadataRef()["backdropApplied"] = "false";
    logic->checkBackdropAllowed("hotkey:K");
    EXPECT_EQ(backdrop.toggles, std::vector<std::string>{"hotkey:K"});
}

}  // namespace
}  // namespace coretest

namespace coretest {
namespace {

// Pins are known by numbers that are never given twice, so a closed pin's
// number can never reach a later pin.
TEST(PinIds, AClosedPinsNumberIsNeverReused) {
    core::CaptureRoutes routes;
    const kit::Image img = solidImage(40, 30, {1, 2, 3, 255});
    routes.pin(img, {200, 200});
    routes.pin(img, {300, 300});
    EXPECT_EQ(routes.pinCount(), 2u);
    routes.removePin(1);
    EXPECT_EQ(routes.pinCount(), 1u);
    routes.removePin(1);  // already gone
    EXPECT_EQ(routes.pinCount(), 1u);
    routes.pin(img, {400, 400});
    routes.removePin(1);  // the new pin has a number of its own
    EXPECT_EQ(routes.pinCount(), 2u);
    routes.removePin(2);
    routes.removePin(3);
    EXPECT_EQ(routes.pinCount(), 0u);
    kit::processMainEvents();
}

}  // namespace
}  // namespace coretest
