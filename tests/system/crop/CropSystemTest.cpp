// The crop tool and the ruler on a real X display: a window whose content is
// the canvas view showing a generated 800 × 500 picture with a blue bar,
// driven with xdotool. A dragged selection shows its size in the label under
// it, Return hands the core exactly the selected pixels, and an arrow key
// held over the bar measures its length. Runs at QT_SCALE_FACTOR 1 and 2.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "editor/CanvasLayers.h"
#include "editor/CropTool.h"
#include "editor/EditorHost.h"
#include "editor/EditorKeys.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/Ruler.h"
#include "editor/ShotView.h"
#include "kit/base/Displays.h"
#include "kit/desktop/Grab.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Window.h"
#include "services/Settings.h"
#include "support/EventLoopWait.h"
#include "system/EditorCanvasWindow.h"

namespace {

using namespace editor;
using testsupport::spin;
using testsupport::waitFor;

constexpr int kW = 800, kH = 500;
// The bar, in image pixels (y up): 240 × 16 at (100, 200).
constexpr int kBarX = 100, kBarY = 200, kBarW = 240, kBarH = 16;

// Pixel (x, y), rows from the top: a soft pattern that differs from pixel to
// pixel by less than the ruler's edge threshold, and the blue bar.
kit::PixelBGRA pictureAt(int x, int y) {
    const int up = kH - 1 - y;
    if (x >= kBarX && x < kBarX + kBarW && up >= kBarY && up < kBarY + kBarH) return {220, 90, 30, 255};
    return {uint8_t(200 + (y % 8)), uint8_t(210 + (x % 8)), uint8_t(220 + ((x + y) % 8)), 255};
}

kit::Image picture() {
    kit::Image img(kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) img.setPixel(x, y, pictureAt(x, y));
    return img;
}

struct Core : CoreHost {
    kit::Image image;
    std::optional<services::Rect> cropped;  // the selection Return handed over
    kit::Image imgSource() const override { return image; }
    kit::Image imgPrecompiled() const override { return image; }
    imaging::Capture capture() const override { return imaging::Capture::of(image); }
    void cropToSelection(bool) override { cropped = CropTool::shared().selection(); }
};

void xdo(const QStringList& args) {
    QProcess::execute("xdotool", args);
}

class CropSystem : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        services::Settings::shared().storeBool("allowTelemetry", false);
        services::Settings::shared().storeBool("realPixels", false);
        core = new Core;
        core->image = picture();
        setCore(core);
        installCropRulerAndKeys();
        window =
            systest::EditorCanvasWindow::open({100, 100, 900, 600}, "kadrix crop test", core->image, view);
    }
    static void TearDownTestSuite() {
        window->close();
        setCore(nullptr);
    }

    void SetUp() override {
        editor::Framer& f = editor::Framer::shared();
        const kit::Rect b = view->bounds();
        f.area = {0, 0, b.width() * dpr(), b.height() * dpr()};
        // Zoom 1, the image's bottom-left 20 device pixels in from the canvas's.
        f._zoom.set(1);
        f.setOffset({0, 0}, {20, 20});
        CropTool::shared().setSelection(std::nullopt);
        relayoutCanvas(false);
        spin(200);
    }

    static double dpr() { return editor::Framer::shared().dpr(); }
    static double scale() { return kit::Displays::primary().scale; }
    // The root pixel whose press the dispatcher turns into image point (ix, iy):
    // view x = canvas x × dpr − 1, so one device pixel to the right.
    static kit::Point rootPixelOf(double ix, double iy) {
        const kit::Point v = editor::Framer::shared().imageToView({ix, iy});
        const kit::Rect c = kit::Displays::toWindowServer(view->convertToScreen(view->bounds()));
        const double cx = (v.x + 1) / dpr(), cy = v.y / dpr();
        return {(c.x() + cx) * scale(), (c.y() + c.height() - cy) * scale()};
    }
    static void pointerToImage(double ix, double iy) {
        const kit::Point r = rootPixelOf(ix, iy);
        xdo({"mousemove", QString::number(std::lround(r.x)), QString::number(std::lround(r.y))});
    }
    static void saveShot(const std::string& name) {
        const char* dir = std::getenv("KADRIX_SHOTS_DIR");
        if (!dir) return;
        kit::Image shot = kit::grabArea(kit::Displays::toWindowServer(view->convertToScreen(view->bounds())));
        std::filesystem::create_directories(dir);
        const kit::ImageIO::Bytes png = kit::ImageIO::encodePNG(shot);
        std::ofstream(std::string(dir) + "/" + name + "-x" + std::to_string(int(dpr())) + ".png",
                      std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    }

    static inline Core* core = nullptr;
    static inline systest::EditorCanvasWindow* window = nullptr;
    static inline std::shared_ptr<ShotView> view;
};

TEST_F(CropSystem, ADraggedSelectionShowsItsSizeAndReturnHandsOverItsPixels) {
    // 200 × 150 image pixels from (61, 80), in steps as a hand would drag. At
    // scale 2 the pointer moves in whole points, which the dispatcher's shift
    // by one device pixel puts on odd view x: (61, 80) is reachable at both scales.
    pointerToImage(61, 80);
    spin(100);
    xdo({"mousedown", "1"});
    for (int i = 1; i <= 5; ++i) {
        spin(40);
        pointerToImage(61 + 40 * i, 80 + 30 * i);
    }
    spin(100);
    xdo({"mouseup", "1"});
    ASSERT_TRUE(
        waitFor([] { return CropTool::shared().on() && CropTool::shared().mmode == "default"; }, 3000));
    spin(200);
    saveShot("crop-selection");
    EXPECT_EQ(CropTool::shared().selection(), (services::Rect{61, 80, 200, 150}));
    const std::string points = dpr() == 2 ? "100\u00D775\u200Apt" : "200\u00D7150\u200Apt";
    EXPECT_EQ(CropTool::shared().ltext->string(), points);
    EXPECT_FALSE(CropTool::shared().layer()->isHidden());

    xdo({"key", "Return"});
    ASSERT_TRUE(waitFor([] { return core->cropped.has_value(); }, 3000));
    const services::Rect r = *core->cropped;
    // The pixels under the selection, rows from the top of the picture.
    const kit::Image got =
        core->image.cropped(int(r.x1), kH - int(r.y1 + r.height), int(r.width), int(r.height));
    ASSERT_EQ(got.width(), 200);
    ASSERT_EQ(got.height(), 150);
    int wrong = 0;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x)
            wrong += !(got.pixel(x, y) == pictureAt(61 + x, kH - 80 - 150 + y));
    EXPECT_EQ(wrong, 0);
}

TEST_F(CropSystem, AHeldArrowKeyMeasuresTheBarUnderThePointer) {
    pointerToImage(kBarX + 50.5, kBarY + 8.5);
    spin(200);
    xdo({"keydown", "Right"});
    ASSERT_TRUE(waitFor([] { return Ruler::shared().on(); }, 3000));
    spin(1200);  // longer than the hide delay, whatever the keyboard's repeat
    EXPECT_TRUE(Ruler::shared().on()) << "the ruler stays while the key is held";
    saveShot("ruler");
    EXPECT_EQ(Ruler::shared().rect, (services::Rect{kBarX, kBarY + 8, kBarW, 0}));
    EXPECT_EQ(Ruler::shared().text, dpr() == 2 ? "120pt" : "240pt");
    xdo({"keyup", "Right"});
    EXPECT_TRUE(waitFor([] { return !Ruler::shared().on(); }, 3000));
}

// Window managers take Alt+drag for moving windows (openbox does, from the
// press on): Alt pressed once the drag runs reaches the canvas, shows the
// smart-adjust suggestion and, held at the release, snaps the selection to it.
TEST_F(CropSystem, AltDuringADragSuggestsAndSnapsToTheContent) {
    pointerToImage(kBarX - 21, kBarY - 20);
    spin(100);
    xdo({"mousedown", "1"});
    spin(60);
    pointerToImage(kBarX + kBarW + 19, kBarY + kBarH + 20);
    spin(60);
    xdo({"keydown", "alt"});
    spin(60);
    pointerToImage(kBarX + kBarW + 21, kBarY + kBarH + 22);
    ASSERT_TRUE(waitFor([] { return CropTool::shared().suggestion.has_value(); }, 3000));
    EXPECT_EQ(*CropTool::shared().suggestion, (services::Rect{kBarX, kBarY, kBarW, kBarH}));
    spin(100);
    saveShot("suggestion");
    xdo({"mouseup", "1"});
    xdo({"keyup", "alt"});
    ASSERT_TRUE(waitFor([] { return CropTool::shared().mmode == "default"; }, 3000));
    EXPECT_EQ(CropTool::shared().selection(), (services::Rect{kBarX, kBarY, kBarW, kBarH}));
    EXPECT_FALSE(CropTool::shared().suggestion);
}

}  // namespace
