// The editor canvas on a real X display: a window whose content is the
// canvas view showing a generated 1920 × 1080 picture, driven with xdotool.
// Wheel zooms keep the picture under the pointer, Space+drag pans, and the
// screen shows the picture resampled as the zoom says (nearest pixels from
// 100 % up, averaged pixels below). Runs at QT_SCALE_FACTOR 1 and 2.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "editor/CanvasLayers.h"
#include "editor/EditorHost.h"
#include "editor/FrameHandlers.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/ObjectHandlers.h"
#include "editor/ShotView.h"
#include "kit/base/Displays.h"
#include "kit/desktop/Grab.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Window.h"
#include "objects/PressedKeys.h"
#include "support/EventLoopWait.h"

namespace {

using testsupport::spin;
using testsupport::waitFor;

constexpr int kW = 1920, kH = 1080;

// Pixel (x, y), rows from the top: red and green run along x and y, blue
// marks the 256-pixel tile, so every pixel of a region tells where it is.
kit::PixelBGRA pictureAt(int x, int y) {
    return {uint8_t(((x / 256) * 40 + (y / 256) * 20) % 256), uint8_t(y % 256), uint8_t(x % 256), 255};
}

kit::Image picture() {
    kit::Image img(kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) img.setPixel(x, y, pictureAt(x, y));
    return img;
}

struct Core : editor::CoreHost {
    kit::Image image;
    kit::Image imgSource() const override { return image; }
    kit::Image imgPrecompiled() const override { return image; }
};

// What the editor's key table does with the keys this test presses: hold
// them, and pass the zoom keys on.
struct Keys : editor::KeyCommands {
    void keyDown(const objects::KeyEvt& k, const kit::Event*) override {
        objects::PressedKeys::shared().press(k.code);
        editor::FrameHandlers::keyDown(k.code, k.modifiers);
        editor::Handlers::shared().updateCursor();
        editor::Handlers::shared().flush();
    }
};

// Keys that no view takes reach the window; it hands them to the dispatcher.
class CanvasWindow : public kit::Window {
public:
    using kit::Window::Window;
    void keyDown(const kit::Event& e) override {
        editor::Handlers::shared().keyDown(editor::keyEvtFromEvent(e), &e);
    }
    void keyUp(const kit::Event& e) override {
        editor::Handlers::shared().keyUp(editor::keyEvtFromEvent(e), &e);
    }
};

struct Resign : kit::WindowDelegate {
    void windowDidResignKey(kit::Window&) override { editor::Handlers::shared().resignKey(); }
};

void xdo(const QStringList& args) {
    QProcess::execute("xdotool", args);
}

// xdotool works in root-window pixels: logical pixels times the scale.
void pointerTo(kit::Point server, double dx = 0, double dy = 0) {
    const double s = kit::Displays::primary().scale;
    xdo({"mousemove", QString::number(std::lround((server.x + dx) * s)),
         QString::number(std::lround((server.y + dy) * s))});
}

class CanvasSystem : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        core = new Core;
        core->image = picture();
        editor::setCore(core);
        keys = new Keys;
        editor::Handlers::shared().keys = keys;
        window = new CanvasWindow({100, 100, 440, 300}, kit::WindowStyle::Titled);
        window->setTitle("kadrix canvas test");
        view = editor::ShotView::make({0, 0, 440, 300});
        window->setContentView(view);
        resign = std::make_shared<Resign>();
        window->setDelegate(resign);
        window->makeKeyAndOrderFront();
        waitFor([] { return window->isVisible() && window->isKeyWindow(); }, 5000);
        spin(300);

        editor::Framer& f = editor::Framer::shared();
        f._dpr.set(window->backingScaleFactor());
        f.original = f.crop = f.source = {0, 0, kW, kH};
        // The object manager takes claimed presses, as in the editor.
        editor::installObjectHandlers();
        editor::setCanvasImage(core->image);
    }
    static void TearDownTestSuite() {
        window->close();
        editor::Handlers::shared().keys = nullptr;
        editor::setCore(nullptr);
    }

    void SetUp() override {
        editor::Framer& f = editor::Framer::shared();
        const kit::Rect b = view->bounds();
        f.area = {0, 0, b.width() * dpr(), b.height() * dpr()};
        editor::layoutChecker();
    }

    static double dpr() { return editor::Framer::shared().dpr(); }
    // The canvas in the window-server space (logical pixels, y down).
    static kit::Rect canvasOnServer() {
        return kit::Displays::toWindowServer(view->convertToScreen(view->bounds()));
    }
    // Where a canvas point (points, y up) is on the server, and back.
    static kit::Point serverPoint(kit::Point canvas) {
        const kit::Rect c = canvasOnServer();
        return {c.x() + canvas.x, c.y() + c.height() - canvas.y};
    }

    // Sets zoom and offset so the image point lies under the view point, and waits for the screen.
    static void show(double zoom, kit::Point imagePoint, kit::Point viewPoint) {
        editor::Framer& f = editor::Framer::shared();
        f._zoom.set(zoom);
        f.setOffset(imagePoint, viewPoint);
        editor::relayoutCanvas(false);
        spin(300);
    }

    // The image the zoom gives: nearest pixels at 100 % and up, 2 × 2 averages at 50 %.
    static kit::PixelBGRA expected(double ix, double iy, double zoom) {
        const int col = int(std::floor(ix)), rowUp = int(std::floor(iy));
        if (zoom >= 1) return pictureAt(col, kH - 1 - rowUp);
        const int c0 = col & ~1, r0 = (kH - 1 - rowUp) & ~1;
        int r = 0, g = 0, b = 0;
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                kit::PixelBGRA p = pictureAt(c0 + dx, r0 + dy);
                r += p.r, g += p.g, b += p.b;
            }
        return {uint8_t((b + 2) / 4), uint8_t((g + 2) / 4), uint8_t((r + 2) / 4), 255};
    }

    // The canvas as the screen shows it, kept as a PNG under KADRIX_SHOTS_DIR when set.
    static kit::Image grabCanvas(const std::string& name) {
        kit::Image shot = kit::grabArea(canvasOnServer());
        if (shot.isNull()) return shot;
        if (const char* dir = std::getenv("KADRIX_SHOTS_DIR")) {
            std::filesystem::create_directories(dir);
            const kit::ImageIO::Bytes png = kit::ImageIO::encodePNG(shot);
            std::ofstream(std::string(dir) + "/" + name + "-x" + std::to_string(int(dpr())) + ".png",
                          std::ios::binary)
                .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
        }
        return shot;
    }

    // Compares a grid of device pixels of the grabbed canvas with the picture
    // resampled at `zoom`; returns the number of samples off by more than
    // `tolerance`. The screen is looked at until it shows that, for as long
    // as a busy machine may take to draw it, and the last look is told.
    static int compareScreen(double zoom, int tolerance, const std::string& name) {
        waitFor([&] { return samplesOff(zoom, tolerance, name, false) == 0; }, 15000, 100);
        return samplesOff(zoom, tolerance, name, true);
    }
    static int samplesOff(double zoom, int tolerance, const std::string& name, bool tell) {
        kit::Image shot = grabCanvas(name);
        if (shot.isNull()) return -1;
        editor::Framer& f = editor::Framer::shared();
        int bad = 0, checked = 0;
        for (int sy = 3; sy < shot.height() - 3; sy += 7)
            for (int sx = 3; sx < shot.width() - 3; sx += 7) {
                const double vx = sx + 0.5, vy = shot.height() - sy - 0.5;  // view device pixels, y up
                const kit::Point p = f.viewToImage({vx, vy});
                // Keep clear of pixel edges, where either neighbour is right.
                const double step = zoom >= 1 ? 1 : 2;
                const double fx = std::fmod(p.x, step) / step, fy = std::fmod(p.y, step) / step;
                if (p.x < 2 || p.y < 2 || p.x > kW - 2 || p.y > kH - 2) continue;
                if (fx < 0.2 || fx > 0.8 || fy < 0.2 || fy > 0.8) continue;
                const kit::PixelBGRA got = shot.pixel(sx, sy), want = expected(p.x, p.y, zoom);
                ++checked;
                if (std::abs(got.r - want.r) > tolerance || std::abs(got.g - want.g) > tolerance ||
                    std::abs(got.b - want.b) > tolerance) {
                    if (tell && bad < 5)
                        ADD_FAILURE()
                            << name << ": device pixel " << sx << "," << sy << " image " << p.x << "," << p.y
                            << " got " << int(got.r) << "," << int(got.g) << "," << int(got.b) << " want "
                            << int(want.r) << "," << int(want.g) << "," << int(want.b);
                    ++bad;
                }
            }
        if (tell) {
            EXPECT_GT(checked, 100) << name;
        }
        return bad;
    }

    static inline Core* core = nullptr;
    static inline Keys* keys = nullptr;
    static inline CanvasWindow* window = nullptr;
    static inline std::shared_ptr<editor::ShotView> view;
    static inline std::shared_ptr<Resign> resign;
};

TEST_F(CanvasSystem, TheScreenShowsThePictureResampledForTheZoom) {
    const kit::Rect b = view->bounds();
    const kit::Point centre{b.width() * dpr() / 2, b.height() * dpr() / 2};
    show(1, {700.3, 500.6}, centre);
    EXPECT_EQ(compareScreen(1, 0, "zoom-1"), 0);
    show(4, {1201, 333}, centre);
    EXPECT_EQ(compareScreen(4, 0, "zoom-4"), 0);
    show(0.5, {960, 540}, centre);
    EXPECT_EQ(compareScreen(0.5, 3, "zoom-0.5"), 0);
}

TEST_F(CanvasSystem, WheelZoomKeepsThePictureUnderThePointer) {
    editor::Framer& f = editor::Framer::shared();
    const kit::Rect b = view->bounds();
    show(1, {900, 500}, {b.width() * dpr() / 2, b.height() * dpr() / 2});
    const kit::Point canvas{b.width() * 0.3, b.height() * 0.6};
    const kit::Point server = serverPoint(canvas);
    pointerTo(server);
    spin(200);
    const kit::Point view0{canvas.x * dpr(), canvas.y * dpr()};
    const kit::Point before = f.viewToImage(view0);
    for (double want : {2.0, 4.0}) {
        xdo({"click", "4"});
        ASSERT_TRUE(waitFor([&] { return f.zoom() == want; }, 3000)) << "zoom " << f.zoom();
        const kit::Point after = f.viewToImage(view0);
        EXPECT_NEAR(after.x, before.x, 1.0);
        EXPECT_NEAR(after.y, before.y, 1.0);
    }
    xdo({"click", "5"});
    ASSERT_TRUE(waitFor([&] { return f.zoom() == 2.0; }, 3000)) << "zoom " << f.zoom();
    EXPECT_NEAR(f.viewToImage(view0).x, before.x, 1.0);
    spin(600);  // the settle after the wheel
    EXPECT_EQ(compareScreen(2, 0, "wheel-zoom-2"), 0);
}

TEST_F(CanvasSystem, SpaceDragPansByTheDraggedDistance) {
    editor::Framer& f = editor::Framer::shared();
    const kit::Rect b = view->bounds();
    show(1, {960, 540}, {b.width() * dpr() / 2, b.height() * dpr() / 2});
    const kit::Point a = serverPoint({b.width() * 0.6, b.height() * 0.5});
    const double bx = f._bx.get(), by = f._by.get();
    pointerTo(a);
    spin(100);
    xdo({"keydown", "space"});
    spin(100);
    EXPECT_TRUE(objects::PressedKeys::shared().pressed.count(kit::KeyCode::Space));
    xdo({"mousedown", "1"});
    spin(50);
    pointerTo(a, -40, -30);
    spin(50);
    pointerTo(a, -80, -60);
    spin(100);
    EXPECT_EQ(editor::Handlers::shared().mmode, "pan");
    xdo({"mouseup", "1"});
    xdo({"keyup", "space"});
    spin(300);
    // Left and up on the screen: the picture follows, x down and y up in view space.
    EXPECT_DOUBLE_EQ(f._bx.get() - bx, -80 * dpr());
    EXPECT_DOUBLE_EQ(f._by.get() - by, 60 * dpr());
    EXPECT_EQ(editor::Handlers::shared().mmode, "default");
    EXPECT_FALSE(objects::PressedKeys::shared().pressed.count(kit::KeyCode::Space));
    EXPECT_EQ(compareScreen(1, 0, "after-pan"), 0);
}

TEST_F(CanvasSystem, ARectangleIsDrawnWithTheMouse) {
    editor::Framer& f = editor::Framer::shared();
    editor::ObjectHandlers& objects = editor::ObjectHandlers::shared();
    const kit::Rect b = view->bounds();
    show(1, {960, 540}, {b.width() * dpr() / 2, b.height() * dpr() / 2});
    objects.createOnClick = "ObjRectangle";
    const kit::Point from{b.width() * 0.3, b.height() * 0.7}, to{b.width() * 0.6, b.height() * 0.3};
    const kit::Point a = serverPoint(from);
    pointerTo(a);
    spin(100);
    xdo({"mousedown", "1"});
    spin(50);
    pointerTo(serverPoint({(from.x + to.x) / 2, (from.y + to.y) / 2}));
    spin(50);
    pointerTo(serverPoint(to));
    spin(100);
    xdo({"mouseup", "1"});
    spin(500);
    ASSERT_EQ(objects.objects.size(), 1u);
    EXPECT_EQ(objects.objects[0]->className(), "ObjRectangle");
    EXPECT_EQ(editor::Handlers::shared().mmode, "default");
    // The rectangle spans the dragged image area (within a pixel per side).
    const services::Rect r = objects.objects[0]->rect;
    const kit::Point p1 = f.viewToImage({from.x * dpr() - 1, from.y * dpr()}),
                     p2 = f.viewToImage({to.x * dpr() - 1, to.y * dpr()});
    EXPECT_NEAR(std::min(r.x1, r.x1 + r.width), std::min(p1.x, p2.x), 1.5);
    EXPECT_NEAR(std::fabs(r.width), std::fabs(p2.x - p1.x), 3);
    EXPECT_NEAR(std::fabs(r.height), std::fabs(p2.y - p1.y), 3);

    // On screen: the outline differs from the picture, inside it the picture shows.
    kit::Image shot = grabCanvas("rectangle");
    ASSERT_FALSE(shot.isNull());
    const int leftX = int(std::lround(from.x * dpr())),
              midY = int(std::lround((b.height() - (from.y + to.y) / 2) * dpr()));
    const kit::Point onEdge = f.viewToImage({double(leftX) + 0.5, shot.height() - midY - 0.5});
    const kit::PixelBGRA edge = shot.pixel(leftX, midY), picture = expected(onEdge.x, onEdge.y, 1);
    EXPECT_GT(std::abs(edge.r - picture.r) + std::abs(edge.g - picture.g) + std::abs(edge.b - picture.b), 60);
    const int insideX = int(std::lround((from.x + to.x) / 2 * dpr()));
    const kit::Point inside = f.viewToImage({double(insideX) + 0.5, shot.height() - midY - 0.5});
    const kit::PixelBGRA in = shot.pixel(insideX, midY), want = expected(inside.x, inside.y, 1);
    EXPECT_LE(std::abs(in.r - want.r) + std::abs(in.g - want.g) + std::abs(in.b - want.b), 3);
    objects.deactivate();
    objects.objects.clear();
}

}  // namespace
