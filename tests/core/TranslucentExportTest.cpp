// Pictures with see-through pixels, opened in the real editor and exported
// through the real compile step and clipboard, with the real backdrop: their
// pixels come out as they went in, the canvas colour fills only the canvas
// beyond the picture, and a backdrop shows through them.
#include <cmath>
#include <string>

#include "CoreFixture.h"
#include "backdrop/Backdrop.h"
#include "editor/ObjectHandlers.h"
#include "kit/ui/Pasteboard.h"
#include "support/PictureFiles.h"
#include "support/ScratchFolder.h"

namespace coretest {
namespace {

// A premultiplied pixel of straight colour (r, g, b) at alpha a.
kit::PixelBGRA premultiplied(int r, int g, int b, int a) {
    auto times = [a](int v) { return uint8_t((v * a + 127) / 255); };
    return {times(b), times(g), times(r), uint8_t(a)};
}

// A pixel's straight colour and alpha, "r,g,b,a", as a PNG stores it.
std::string straight(kit::PixelBGRA p) {
    auto un = [&](int v) { return std::to_string(p.a ? int(std::lround(v * 255.0 / p.a)) : 0); };
    return un(p.r) + "," + un(p.g) + "," + un(p.b) + "," + std::to_string(p.a);
}

// Pixel (x, y) counted from the top-left of the picture inside an export
// whose paddings are `left` and `top` pixels.
kit::PixelBGRA inExport(const kit::Image& out, int x, int y, int left = 0, int top = 0) {
    return out.pixel(left + x, top + y);
}

// Three bands of red at a quarter, half and three quarters alpha.
kit::Image bands() {
    kit::Image img(90, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 90; ++x)
            img.setPixel(x, y, premultiplied(255, 0, 0, x < 30 ? 64 : x < 60 ? 128 : 192));
    return img;
}

// Grey-blue, opaque on the left half, fading to fully transparent at the
// right edge: most of the edge is opaque.
kit::Image fade() {
    kit::Image img(60, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x)
            img.setPixel(x, y, premultiplied(40, 80, 160, x < 30 ? 255 : (59 - x) * 255 / 29));
    return img;
}

// An opaque blue ring, 10 pixels wide, around a red middle at half alpha.
kit::Image blueRing() {
    kit::Image img(60, 60);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            const bool ring = x < 10 || y < 10 || x >= 50 || y >= 50;
            img.setPixel(x, y, ring ? kit::PixelBGRA{255, 0, 0, 255} : premultiplied(255, 0, 0, 128));
        }
    return img;
}

class TranslucentExport : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        // The editor's own tree, object manager and backdrop, as its window sets them up.
        editor::installObjectHandlers();
        editor::resetCanvasLayers();
        editor::setBackdrop(&bd());
        makeWithRealEditor();
        logic->installHooks();  // the canvas colour reads this core's pixels
    }
    void TearDown() override {
        // Every export lays the canvas out again, and so starts another colour
        // job: it reads this core and backdrop, so it ends before they go.
        editor::ObjectHandlers& m = editor::ObjectHandlers::shared();
        EXPECT_TRUE(kit::runMainLoopUntil([&] { return m.canvasColorIdle(); }, 3));
        m.clear();
        bd().c = backdrop::Config();
        bd().computeLayout();
        editor::setBackdrop(nullptr);
        CoreFixture::TearDown();
    }
    static backdrop::Backdrop& bd() { return backdrop::Backdrop::shared(); }

    // Opens `picture` from a PNG file, as the user opens one.
    void open(const kit::Image& picture, const std::string& name) {
        const std::string file = scratch.file(name);
        const auto png = kit::ImageIO::encodePNG(picture);
        ASSERT_TRUE(kit::files::writeAtomic(file, std::string(png.begin(), png.end())));
        ASSERT_TRUE(logic->openImage(file));
        waitForCanvasColour();
    }
    // The canvas colour is worked out in the background: the export must
    // meet it in place, as it does once the user gets to copy.
    void waitForCanvasColour() {
        editor::ObjectHandlers& m = editor::ObjectHandlers::shared();
        ASSERT_TRUE(kit::runMainLoopUntil(
            [&] { return m.canvasColorIdle() && m.lcanvas->backgroundColor().has_value(); }, 3));
    }
    static void expectSamePixels(const kit::Image& got, const kit::Image& want, int left = 0, int top = 0) {
        for (int y = 0; y < want.height(); ++y)
            for (int x = 0; x < want.width(); ++x)
                if (inExport(got, x, y, left, top) != want.pixel(x, y)) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " is "
                                  << straight(inExport(got, x, y, left, top)) << ", was "
                                  << straight(want.pixel(x, y));
                    return;
                }
    }
    testsupport::ScratchFolder scratch;
};

TEST_F(TranslucentExport, APictureOpenedAsItIsComesOutWithItsOwnPixels) {
    for (const double dpr : {1.0, 2.0}) {
        SCOPED_TRACE(dpr);
        editor::Framer::shared()._dpr.set(dpr);
        open(bands(), "bands.png");
        const kit::Image opened = logic->imgPrecompiled();
        kit::Image out = logic->compileImage();
        ASSERT_EQ(out.width(), 90);
        expectSamePixels(out, opened);
        EXPECT_EQ(straight(out.pixel(15, 15)), "255,0,0,64");
        EXPECT_EQ(straight(out.pixel(45, 15)), "255,0,0,128");
        EXPECT_EQ(straight(out.pixel(75, 15)), "255,0,0,192");

        // Copied: the clipboard's PNG holds the same alpha.
        const int copies = kit::Pasteboard::general().changeCount();
        logic->copyImage(false, false);
        ASSERT_TRUE(
            kit::runMainLoopUntil([&] { return kit::Pasteboard::general().changeCount() != copies; }, 5));
        const kit::Image copied = kit::Pasteboard::general().image();
        ASSERT_EQ(copied.width(), 90);
        EXPECT_EQ(straight(copied.pixel(45, 15)), "255,0,0,128");
        expectSamePixels(copied, opened);

        // A picture fading out stays see-through where it fades.
        open(fade(), "fade.png");
        out = logic->compileImage();
        expectSamePixels(out, logic->imgPrecompiled());
        EXPECT_EQ(int(out.pixel(59, 10).a), 0);
        EXPECT_EQ(straight(out.pixel(45, 10)), straight(premultiplied(40, 80, 160, 123)));
    }
}

TEST_F(TranslucentExport, TheCanvasColourFillsOnlyTheCanvasBeyondThePicture) {
    open(blueRing(), "ring.png");
    const kit::Image opened = logic->imgPrecompiled();
    kit::Image out = logic->compileImage();
    expectSamePixels(out, opened);
    EXPECT_EQ(straight(out.pixel(30, 30)), "255,0,0,128") << "the middle took the ring's colour";

    // A rectangle left of the picture widens the canvas by 40 pixels; that
    // stretch takes the canvas colour, the ring's blue.
    editor::ObjectHandlers& m = editor::ObjectHandlers::shared();
    ASSERT_TRUE(m.addObject("ObjRectangle", services::Rect{-40, 10, 30, 20}));
    m.deactivate();
    bd().layout();
    editor::relayoutCanvas(false);
    waitForCanvasColour();
    out = logic->compileImage();
    ASSERT_EQ(out.width(), 100);
    EXPECT_EQ(straight(out.pixel(20, 3)), "0,0,255,255") << "the canvas beyond the picture";
    expectSamePixels(out, opened, 40);
}

TEST_F(TranslucentExport, WithTheBackdropOnThePictureIsDrawnOverIt) {
    open(blueRing(), "ring.png");
    // A flat light backdrop 20 pixels wide, with an inset of 5 in the canvas colour.
    bd().applyConfig({{"isOn", 1},
                      {"mode", "flat"},
                      {"padding", 20},
                      {"inset", 5},
                      {"innerRadius", 0},
                      {"outerRadius", 0},
                      {"shadow", 0},
                      {"noise", 0},
                      {"ratio", "auto"}});
    editor::relayoutCanvas(false);
    waitForCanvasColour();
    const kit::Image out = logic->compileImage();
    ASSERT_EQ(out.width(), 60 + 2 * 25);
    const kit::PixelBGRA flat = out.pixel(5, 5);
    EXPECT_EQ(straight(flat), "232,235,240,255");
    EXPECT_EQ(straight(out.pixel(22, 50)), "0,0,255,255") << "the inset, in the canvas colour";
    // Half red over the backdrop, not over the canvas colour.
    const kit::PixelBGRA middle = inExport(out, 30, 30, 25, 25);
    EXPECT_EQ(middle.a, 255);
    EXPECT_NEAR(middle.r, 128 + flat.r / 2, 2);
    EXPECT_NEAR(middle.g, flat.g / 2, 2);
    EXPECT_NEAR(middle.b, flat.b / 2, 2);
}

}  // namespace
}  // namespace coretest
