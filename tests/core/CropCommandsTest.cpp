// Cropping, uncropping and flattening against the editor double: the
// rectangles the core composes, the picture it cuts, and failures that keep
// the screenshot.
#include "CoreFixture.h"
#include "backdrop/Backdrop.h"
#include "core/AppExports.h"
#include "editor/CropTool.h"
#include "editor/EditorHost.h"
#include "editor/ObjectHandlers.h"

using services::Rect;

namespace coretest {
namespace {

class CropCommands : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        make();
    }
    // An image whose pixel (x, y) from the top-left has blue x and green y.
    static kit::Image gradient(int w, int h) {
        kit::Image img(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) img.setPixel(x, y, {uint8_t(x), uint8_t(y), 0, 255});
        return img;
    }
    void select(Rect r) {
        editor->cropOn = true;
        editor->selection = r;
    }
    size_t count(const std::string& entry) const { return std::count(log.begin(), log.end(), entry); }
};

TEST_F(CropCommands, ASecondCropComposesWithTheFirst) {
    ASSERT_TRUE(logic->loadImage(gradient(500, 400), false));
    ASSERT_TRUE(logic->cropAbsolute({100, 40, 300, 200}));
    const editor::Framer& f = editor::Framer::shared();
    EXPECT_EQ(f.source, (Rect{0, 0, 300, 200}));

    select({10, 10, 50, 50});
    logic->cropToSelection(false);
    EXPECT_EQ(f.crop, (Rect{110, 180, 50, 50}));
    kit::Image cut = logic->imgPrecompiled();
    ASSERT_EQ(cut.width(), 50);
    ASSERT_EQ(cut.height(), 50);
    EXPECT_EQ(cut.pixel(0, 0).b, 110);
    EXPECT_EQ(cut.pixel(0, 0).g, 180);
    // The objects keep their place over the content; the crop is one undo step.
    EXPECT_EQ(editor->shiftX, -10);
    EXPECT_EQ(editor->shiftY, -10);
    EXPECT_EQ(count("saveUndo"), 1u);
    auto crop = lastEvent("crop");
    ASSERT_TRUE(crop);
    EXPECT_EQ((*crop)["width"], 50);
    EXPECT_TRUE(logged("resetCropTool"));
}

TEST_F(CropCommands, ASelectionDrawnBackwardsCropsTheSameArea) {
    ASSERT_TRUE(logic->loadImage(gradient(200, 100), false));
    select({60, 70, -50, -40});
    logic->cropToSelection(true);
    EXPECT_EQ(editor->selection, (Rect{10, 30, 50, 40}));
    EXPECT_EQ(editor::Framer::shared().crop, (Rect{10, 30, 50, 40}));
    EXPECT_EQ(count("saveUndo"), 0u);  // dontRepaint leaves the history to the caller
}

TEST_F(CropCommands, AFailedCropKeepsThePreviousCropAndPicture) {
    ASSERT_TRUE(logic->loadImage(gradient(200, 100), false));
    ASSERT_TRUE(logic->cropAbsolute({20, 10, 50, 40}));
    const Rect before = editor::Framer::shared().crop;

    for (Rect bad : {Rect{300, 10, 50, 40}, Rect{20, 10, 0, 40}, Rect{-80, -80, 40, 40}}) {
        EXPECT_FALSE(logic->cropAbsolute(bad));
        EXPECT_EQ(editor::Framer::shared().crop, before);
        ASSERT_FALSE(logic->imgPrecompiled().isNull());
        EXPECT_EQ(logic->imgPrecompiled().width(), 50);
    }
    // An empty selection changes nothing and moves no object; one outside
    // the picture is refused and puts the objects back where they were.
    select({5, 5, 0, 10});
    logic->cropToSelection(false);
    EXPECT_EQ(editor::Framer::shared().crop, before);
    EXPECT_EQ(editor->shiftX, 0);
    select({300, 5, 20, 10});
    logic->cropToSelection(false);
    EXPECT_EQ(editor::Framer::shared().crop, before);
    EXPECT_EQ(editor->shiftX, 0);
    EXPECT_EQ(editor->shiftY, 0);
}

TEST_F(CropCommands, CutsAreMadeWholeOutwardAndNeverPadded) {
    kit::Image img = gradient(100, 80);
    kit::Image cut = core::AppLogic::cutImage(img, {10.5, 20.25, 10, 10});
    ASSERT_EQ(cut.width(), 11);
    ASSERT_EQ(cut.height(), 11);
    EXPECT_EQ(cut.pixel(0, 0).b, 10);
    // Half outside: only the part inside comes back.
    cut = core::AppLogic::cutImage(img, {90, -5, 30, 20});
    EXPECT_EQ(cut.width(), 10);
    EXPECT_EQ(cut.height(), 15);
    EXPECT_TRUE(core::AppLogic::cutImage(img, {100, 0, 5, 5}).isNull());
    EXPECT_TRUE(core::AppLogic::cutImage(img, {0, 0, std::nan(""), 5}).isNull());
}

TEST_F(CropCommands, UncropSelectsTheFormerAreaAndRestoresTheWholePicture) {
    ASSERT_TRUE(logic->loadImage(gradient(200, 100), false));
    select({30, 20, 40, 30});
    logic->cropToSelection(false);
    const Rect cropped = editor::Framer::shared().crop;  // (30, 50, 40, 30) from the top
    EXPECT_EQ(cropped, (Rect{30, 50, 40, 30}));
    editor->cropOn = false;

    logic->uncrop();
    EXPECT_EQ(editor::Framer::shared().crop, (Rect{0, 0, 200, 100}));
    EXPECT_EQ(logic->imgPrecompiled().width(), 200);
    EXPECT_TRUE(editor->cropOn);
    EXPECT_EQ(editor->selection, (Rect{30, 20, 40, 30}));
    EXPECT_EQ(editor->shiftX, 0);  // moved back where they were
    EXPECT_EQ(editor->shiftY, 0);
    EXPECT_TRUE(lastEvent("uncrop"));
    EXPECT_EQ(count("saveUndo"), 2u);

    // Nothing cropped: no event, no undo state.
    const size_t events = types().size();
    logic->uncrop();
    EXPECT_EQ(types().size(), events);
    EXPECT_EQ(count("saveUndo"), 2u);
}

TEST_F(CropCommands, BackdropGoesOffOnlyAbove15Megapixels) {
    EXPECT_FALSE(core::AppLogic::backdropTooLargeAfterUncrop(15'000'000));
    EXPECT_FALSE(core::AppLogic::backdropTooLargeAfterUncrop(15'049'999));
    EXPECT_TRUE(core::AppLogic::backdropTooLargeAfterUncrop(15'050'000));
}

TEST_F(CropCommands, PreCropCutsTheSelectionOrGivesTheWholePicture) {
    ASSERT_TRUE(logic->loadImage(gradient(200, 100), false));
    auto whole = logic->preCrop(std::nullopt);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->width(), 200);

    ASSERT_TRUE(logic->cropAbsolute({50, 10, 100, 80}));
    select({10, 60, 20, 10});  // top edge at 70 of 80: 10 from the top
    auto cut = logic->preCrop(std::nullopt);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->width(), 20);
    EXPECT_EQ(cut->pixel(0, 0).b, 60);
    EXPECT_EQ(cut->pixel(0, 0).g, 20);
    select({10, 60, 0, 10});
    EXPECT_FALSE(logic->preCrop(std::nullopt));

    // The copy cuts the compiled picture, which the paddings widen: an
    // annotation past the top adds rows above the screenshot, none below.
    struct Padded : editor::BackdropHost {
        Paddings paddings() const override { return {.padBL = 5, .padCT = 30}; }
    } padded;
    select({10, 60, 20, 10});
    editor::setBackdrop(&padded);
    auto copied = core::AppExportHost(*logic).preCrop(gradient(105, 110));
    editor::setBackdrop(nullptr);
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->height(), 10);
    EXPECT_EQ(copied->pixel(0, 0).b, 15);
    EXPECT_EQ(copied->pixel(0, 0).g, 40) << "60 rows up from the bottom edge";
}

}  // namespace
}  // namespace coretest

namespace coretest {
namespace {

// With the real editor and backdrop: annotations left of a crop widen the
// composition, and the first copy after the crop is that composition.
TEST_F(CoreFixture, ACropKeepsTheAnnotationsOutsideItInTheFirstCompiledPicture) {
    // The objects draw into the canvas tree the way the editor window sets it up.
    editor::installObjectHandlers();
    editor::resetCanvasLayers();
    editor::setBackdrop(&backdrop::Backdrop::shared());
    makeWithRealEditor();
    ASSERT_TRUE(logic->loadImage(solidImage(800, 500, {200, 200, 200, 255}), false));
    editor::ObjectHandlers& objects = editor::ObjectHandlers::shared();
    ASSERT_TRUE(objects.addObject("ObjArrow", Rect{60, 300, 250, 0}));
    objects.deactivate();
    editor::CropTool::shared().setSelection(Rect{420, 20, 360, 460});

    logic->cropToSelection(false);
    EXPECT_EQ(logic->imgPrecompiled().width(), 360);
    kit::Image picture = logic->compileImage();
    EXPECT_GT(picture.width(), 360 + 300) << "the arrow lies left of the crop and widens the picture";
    int red = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (kit::PixelBGRA p = picture.pixel(x, y); p.r > 200 && p.g < 120 && p.b < 80) ++red;
    EXPECT_GT(red, 100) << "the arrow is in the picture";

    objects.clear();
    editor::setBackdrop(nullptr);
}

}  // namespace
}  // namespace coretest
