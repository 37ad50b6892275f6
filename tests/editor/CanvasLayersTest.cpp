// The canvas layer tree, its re-layout and what it draws; the canvas view's
// drops and looks.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "CanvasDoubles.h"
#include "editor/ShotView.h"
#include "kit/draw/LayerRenderer.h"
#include "support/ScratchFolder.h"

namespace canvastest {
namespace {

class CanvasLayersTest : public CanvasFixture {};

// A test picture whose pixel (x, y) (rows from the top) has red x and green y.
kit::Image gradient(int w, int h) {
    kit::Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, {0, uint8_t(y), uint8_t(x), 255});
    return img;
}

TEST_F(CanvasLayersTest, NothingHappensBeforeTheFirstImage) {
    editor::relayoutCanvas(true);
    editor::canvasLayers().relayoutRequest = 2;
    editor::flushRelayoutRequest();
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(editor::canvasLayers().relayoutRequest, 0);
}

TEST_F(CanvasLayersTest, TheTreeIsBuiltOnceInItsOrder) {
    showImage();
    editor::CanvasLayers& c = editor::canvasLayers();
    const std::vector<kit::LayerPtr> expected = {c.checker, objects.root, objects.control,
                                                 crop.l,    fh.lmarquee,  ruler.l};
    EXPECT_EQ(c.root->sublayers(), expected);  // no backdrop layer from the double
    EXPECT_EQ(c.imageLayer->superlayer(), objects.canvas.get());
    EXPECT_EQ(objects.curtain->superlayer(), objects.root.get());
    EXPECT_DOUBLE_EQ(objects.curtain->zPosition(), -10);
    kit::LayerPtr image = c.imageLayer;
    editor::setCanvasImage(kit::Image(10, 10));
    EXPECT_EQ(c.imageLayer, image);  // later images only replace the contents
    EXPECT_EQ(c.imageLayer->contents().width(), 10);
}

TEST_F(CanvasLayersTest, ComponentsInstalledAfterTheFirstImageJoinTheTreeWithTheNextOne) {
    h.objects = nullptr;
    h.crop = nullptr;
    showImage();
    editor::CanvasLayers& c = editor::canvasLayers();
    EXPECT_EQ(c.objects, c.ownObjects);
    EXPECT_EQ(c.crop, nullptr);
    h.objects = &objects;
    h.crop = &crop;
    editor::setCanvasImage(kit::Image(300, 200));
    const std::vector<kit::LayerPtr> expected = {c.checker, objects.root, objects.control,
                                                 crop.l,    fh.lmarquee,  ruler.l};
    EXPECT_EQ(c.root->sublayers(), expected);
    EXPECT_EQ(c.imageLayer->superlayer(), objects.canvas.get());
    EXPECT_EQ(c.imageLayer->contents().width(), 300);
}

TEST_F(CanvasLayersTest, RelayoutRunsEachComponentOnceInOrder) {
    showImage();
    editor::relayoutCanvas(false);
    EXPECT_EQ(calls(), (std::vector<std::string>{"backdrop.updateTransforms", "objects.layout", "crop.render",
                                                 "ruler.layout"}));
    calls().clear();
    editor::relayoutCanvas(true);
    EXPECT_EQ(count("crop.render animated"), 1);
    // While a text is edited nothing animates.
    calls().clear();
    editor::canvasLayers().suppressAnimation = true;
    editor::relayoutCanvas(true);
    EXPECT_EQ(count("crop.render animated"), 0);
    EXPECT_EQ(count("crop.render"), 1);
}

TEST_F(CanvasLayersTest, SmallZoomsSmoothAndLargeOnesShowSharpPixels) {
    showImage();
    const std::pair<double, kit::ScalingFilter> cases[] = {{0.5, kit::ScalingFilter::Linear},
                                                           {1.0, kit::ScalingFilter::Nearest},
                                                           {2.0, kit::ScalingFilter::Nearest}};
    for (auto [zoom, filter] : cases) {
        f._zoom.set(zoom);
        editor::relayoutCanvas(false);
        EXPECT_EQ(editor::canvasLayers().imageLayer->magnificationFilter(), filter) << zoom;
    }
}

TEST_F(CanvasLayersTest, TheScreenshotIsDrawnWhereTheViewportPutsIt) {
    // No object manager: the canvas keeps its own object tree.
    h.objects = nullptr;
    f._dpr.set(2);
    f._zoom.set(4);
    f.source = {0, 0, 8, 6};
    f.setOffset({0, 0}, {10, 6});  // image (0, 0) at view (10, 6) device pixels
    editor::setCanvasImage(gradient(8, 6));
    editor::CanvasLayers& c = editor::canvasLayers();
    c.root->setBounds({0, 0, 40, 20});
    kit::Image shot = kit::renderToImage(*c.root, 2);
    ASSERT_EQ(shot.width(), 80);
    // Image pixel (x, y) (y up) covers view device pixels 10 + 4x … and 6 + 4y …,
    // sampled nearest: every device pixel of the square has the same colour.
    for (int ix : {0, 3, 7})
        for (int iy : {0, 2, 5})
            for (int dx : {0, 3}) {
                const int vx = 10 + 4 * ix + dx, vy = 6 + 4 * iy + dx;
                kit::PixelBGRA p = shot.pixel(vx, shot.height() - 1 - vy);
                EXPECT_EQ(p.r, ix) << ix << "," << iy;
                EXPECT_EQ(p.g, 5 - iy) << ix << "," << iy;  // rows from the top
            }
    // Left of the image the checker shows through.
    kit::PixelBGRA outside = shot.pixel(4, shot.height() - 10);
    EXPECT_GE(outside.r, 240);
}

TEST_F(CanvasLayersTest, AnimatedRelayoutsTweenTheObjectTree) {
    showImage();
    f._zoom.set(2);
    editor::relayoutCanvas(true);
    EXPECT_TRUE(objects.root->hasAnimation("relayout.transform"));
    EXPECT_EQ(objects.root->transform(), kit::AffineTransform::scale(2, 2));
    // Halfway, a new animated re-layout starts from what is shown.
    clock.advance(0.075);
    const kit::AffineTransform shown = objects.root->presented("transform", objects.root->transform());
    EXPECT_GT(shown.a, 1.0);
    EXPECT_LT(shown.a, 2.0);
    f._zoom.set(8);
    editor::relayoutCanvas(true);
    EXPECT_NEAR(objects.root->presented("transform", objects.root->transform()).a, shown.a, 1e-9);
    // A plain re-layout ends the tween where the viewport is.
    f._zoom.set(4);
    editor::relayoutCanvas(false);
    EXPECT_FALSE(objects.root->hasAnimation("relayout.transform"));
    EXPECT_EQ(objects.root->transform(), kit::AffineTransform::scale(4, 4));
    EXPECT_EQ(objects.root->presented("transform", objects.root->transform()),
              kit::AffineTransform::scale(4, 4));
}

TEST_F(CanvasLayersTest, CheckerFollowsTheLookAndTheArea) {
    showImage();
    editor::CanvasLayers& c = editor::canvasLayers();
    f._dpr.set(2);
    f.area = {0, 0, 600, 400};
    editor::layoutChecker();
    EXPECT_EQ(c.checker->frame(), (kit::Rect{0, 0, 600, 400}));
    for (bool dark : {false, true}) {
        editor::updateCheckerPattern(dark);
        const kit::Image& tile = c.checker->backgroundPattern();
        ASSERT_EQ(tile.pointSize(), (kit::Size{16, 16}));
        const int base = dark ? 42 : 255, square = dark ? 51 : 242;
        // Bottom-left and top-right squares are the lighter (light) or darker (dark) grey.
        EXPECT_EQ(tile.pixel(1, tile.height() - 2).r, square);
        EXPECT_EQ(tile.pixel(tile.width() - 2, 1).r, square);
        EXPECT_EQ(tile.pixel(1, 1).r, base);
        EXPECT_EQ(tile.pixel(tile.width() - 2, tile.height() - 2).r, base);
    }
}

TEST_F(CanvasLayersTest, TheCheckerIsLeftOutWhileAnOpaqueScreenshotCoversTheView) {
    editor::CanvasLayers& c = editor::canvasLayers();
    c.root->setBounds({0, 0, 100, 80});
    f._dpr.set(2);
    f._zoom.set(4);
    kit::Image opaque = gradient(300, 200);
    editor::setCanvasImage(opaque);
    auto placeAndLayOut = [&](kit::Point imagePoint, bool animated = false) {
        f.setOffset(imagePoint, {100, 80});  // the view's centre, in device pixels
        editor::relayoutCanvas(animated);
    };
    placeAndLayOut({150, 100});
    EXPECT_TRUE(c.checker->isHidden());
    // Near the image's edge the canvas beyond it shows: so does the checker.
    placeAndLayOut({10, 100});
    EXPECT_FALSE(c.checker->isHidden());
    // While the image slides back in, the part it has not covered yet shows it too.
    placeAndLayOut({150, 100}, true);
    EXPECT_FALSE(c.checker->isHidden());
    clock.advance(1);  // the tween ends
    EXPECT_TRUE(c.checker->isHidden());
    // A backdrop may round the screenshot's corners off.
    backdrop.on = 1;
    editor::relayoutCanvas(false);
    EXPECT_FALSE(c.checker->isHidden());
    backdrop.on = 0;
    // A screenshot with see-through pixels shows the checker through them.
    kit::Image seeThrough = opaque.copy();
    seeThrough.setPixel(299, 199, {0, 0, 0, 0});
    editor::setCanvasImage(seeThrough);
    placeAndLayOut({150, 100});
    EXPECT_FALSE(c.checker->isHidden());
    editor::setCanvasImage(opaque);
    EXPECT_TRUE(c.checker->isHidden());
    // The canvas grows beyond the screenshot.
    c.root->setBounds({0, 0, 1000, 800});
    editor::layoutChecker();
    EXPECT_FALSE(c.checker->isHidden());
}

TEST_F(CanvasLayersTest, OnlyAScreenshotShownAloneIsExportedAsItIs) {
    kit::Image shot = gradient(300, 200);
    editor::setCanvasImage(shot);
    // As the object manager lays out a tree with no object: the canvas on
    // the picture, the spotlight curtain hidden.
    objects.canvas->setFrame({0, 0, 300, 200});
    objects.curtain->setHidden(true);
    EXPECT_TRUE(editor::treeShowsImageAlone(shot));
    EXPECT_FALSE(editor::treeShowsImageAlone(shot.copy()));  // the same pixels, but not the picture shown
    // Whatever else draws rules it out, and only while it draws.
    auto object = kit::Layer::make();
    object->setFrame({10, 10, 20, 20});
    objects.root->addSublayer(object);
    EXPECT_FALSE(editor::treeShowsImageAlone(shot));
    object->setHidden(true);
    objects.curtain->setHidden(false);
    EXPECT_FALSE(editor::treeShowsImageAlone(shot));
    objects.curtain->setHidden(true);
    objects.canvas->setCornerRadius(12);
    EXPECT_FALSE(editor::treeShowsImageAlone(shot));
    objects.canvas->setCornerRadius(0);
    objects.canvas->setBorderWidth(1);
    EXPECT_FALSE(editor::treeShowsImageAlone(shot));
    objects.canvas->setBorderWidth(0);
    f.paddings = [] { return editor::Framer::Paddings{0, 0, 0, 0, 0, 0, 4, 0}; };
    EXPECT_FALSE(editor::treeShowsImageAlone(shot));
    f.paddings = nullptr;
    EXPECT_TRUE(editor::treeShowsImageAlone(shot));
    // The canvas colour leaves a screenshot with a see-through pixel out, so
    // it still shows alone; a colour beneath it would show through.
    kit::Image seeThrough = shot.copy();
    seeThrough.setPixel(5, 5, {0, 0, 0, 0});
    editor::setCanvasImage(seeThrough);
    objects.canvas->setBackgroundColor(kit::Color::white(1));
    EXPECT_EQ(objects.canvas->backgroundCutout(), editor::canvasLayers().imageLayer->frame());
    EXPECT_TRUE(editor::treeShowsImageAlone(seeThrough));
    objects.canvas->setBackgroundCutout(std::nullopt);
    EXPECT_FALSE(editor::treeShowsImageAlone(seeThrough));
    // Under an opaque screenshot the colour stays whole.
    editor::setCanvasImage(shot);
    EXPECT_FALSE(objects.canvas->backgroundCutout());
    EXPECT_TRUE(editor::treeShowsImageAlone(shot));
}

TEST_F(CanvasLayersTest, DropsTakeTheFirstPngJpegOrGifFile) {
    auto view = editor::ShotView::make({0, 0, 200, 100});
    kit::DraggingInfo info;
    EXPECT_FALSE(view->draggingEntered(info));
    EXPECT_FALSE(view->performDragOperation(info));
    testsupport::ScratchFolder scratch;
    const std::string dir = scratch.file("drops");
    std::filesystem::create_directories(dir);
    const std::string shot = dir + "/Shot.JPG", fifo = dir + "/x.png";
    std::ofstream(shot) << "jpeg";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    info.filePaths = {shot, "/tmp/b.pdf"};
    EXPECT_TRUE(view->draggingEntered(info));
    info.filePaths = {"/tmp/b.pdf", shot};
    EXPECT_FALSE(view->draggingEntered(info));
    // Taken by the name alone, without a look at the file (its folder may
    // not answer): the drop's read refuses a FIFO named like a picture.
    info.filePaths = {fifo};
    EXPECT_TRUE(view->draggingEntered(info));
    // The file our own drag-out wrote is no drop for the canvas.
    info.filePaths = {shot};
    info.fromThisApplication = true;
    EXPECT_FALSE(view->draggingEntered(info));
    info.fromThisApplication = false;
    std::filesystem::remove_all(dir);
    for (const char* ok : {"x.png", "x.jpeg", "x.Gif", "/a.b/c.jpg"})
        EXPECT_TRUE(editor::ShotView::isDroppableImage(ok));
    for (const char* no : {"png", "x.png.txt", "/a.png/c", "x.tiff"})
        EXPECT_FALSE(editor::ShotView::isDroppableImage(no));

    info.filePaths = {"/tmp/one.png", "/tmp/two.png"};
    info.location = {30, 40};
    EXPECT_TRUE(view->performDragOperation(info));
    EXPECT_EQ(calls(), std::vector<std::string>{"drop /tmp/one.png 30,40"});
}

TEST_F(CanvasLayersTest, TheCanvasViewHandsEventsOnInCanvasPoints) {
    auto view = editor::ShotView::make({0, 0, 200, 100});
    EXPECT_EQ(editor::canvasLayers().root, view->layer());
    EXPECT_EQ(h.shotView, view.get());
    kit::Event e = mouse(kit::EventType::RightMouseDown);
    e.locationInWindow = {30, 40};
    view->rightMouseDown(e);
    EXPECT_EQ(h.mmode, "pan");
    e.type = kit::EventType::OtherMouseUp;
    e.buttonNumber = 1;
    view->rightMouseUp(e);
    EXPECT_EQ(h.mmode, "default");
    view->mouseExited(e);
    EXPECT_EQ(core.cursors.back(), "default");
    showImage();
    calls().clear();
    view->mouseEntered(e);  // the pointer's first position counts as a move
    EXPECT_EQ(count("ruler.moved"), 1);
    view.reset();
    EXPECT_EQ(h.shotView, nullptr);
}

}  // namespace
}  // namespace canvastest
