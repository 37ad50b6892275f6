// Random captures, crops, points and selections thrown at every function that
// reads the pixel buffer. Run under the address sanitizer, any read outside a
// buffer fails the run; the assertions check that results stay inside the
// pixels that were actually readable.
#include <gtest/gtest.h>

#include <random>

#include "Fixtures.h"
#include "imaging/FloodFill.h"
#include "imaging/PixelSampling.h"
#include "imaging/SmartAdjust.h"

using namespace imaging;

namespace {

struct Fuzz {
    std::mt19937 rng;
    explicit Fuzz(uint32_t seed) : rng(seed) {}

    int in(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    double real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }

    // Few colours in blocks, so fills and edges find real regions.
    kit::Image image() {
        kit::Image img(in(1, 40), in(1, 40));
        for (int k = 0; k < in(0, 6); ++k) {
            int v = in(0, 3) * 80;
            test::paint(img, in(-5, img.width()), in(-5, img.height()), in(1, 30), in(1, 30), v, 255 - v,
                        v / 2);
        }
        return img;
    }

    // Crops inside, across and wholly outside the buffer, some backwards.
    kit::Rect crop(const kit::Image& img) {
        switch (in(0, 4)) {
            case 4:
                return {-5e8, -5e8, 1e9, 1e9};  // claims far more than the buffer holds
            case 0:
                return {0, 0, double(img.width()), double(img.height())};
            case 1:
                return {double(in(0, img.width() - 1)), double(in(0, img.height() - 1)),
                        double(in(1, img.width())), double(in(1, img.height()))};
            default:
                return {double(in(-20, 60)), double(in(-20, 60)), double(in(-30, 80)), double(in(-30, 80))};
        }
    }
};

}  // namespace

TEST(BoundsFuzz, NoReadLeavesTheBufferAndResultsStayInside) {
    test::Recorder quiet;  // keep error reports off the console
    for (uint32_t seed = 0; seed < 1500; ++seed) {
        Fuzz f(seed);
        kit::Image img = f.image();
        Capture cap = Capture::of(img);
        cap.crop = f.crop(img);
        cap.precompiled = {double(f.in(0, 60)), double(f.in(0, 60))};
        const kit::Rect crop = cap.crop.standardized();
        const double cw = crop.width(), ch = crop.height();
        // Where the buffer lies in crop pixels: far away for a huge crop.
        const double bx = -crop.x(), by = crop.y() + ch - img.height();

        for (int k = 0; k < 8; ++k) {
            colorAt(cap, f.real(-10, 70), f.real(-10, 70));
            kit::Rect sel(f.real(-30, 70), f.real(-30, 70), f.real(-50, 80), f.real(-50, 80));
            if (f.in(0, 1)) sel = sel.offsetBy(bx, by);
            avgColorFast(cap, sel, f.in(0, 1) ? "darkest" : "average");

            // Points on and around the crop's edges, where the arithmetic is tight.
            const double edgeX[] = {0, cw - 1, cw, f.real(-2, cw + 2), bx + f.in(-2, img.width() + 2)};
            const double edgeY[] = {0, ch - 1, ch, f.real(-2, ch + 2), by + f.in(-2, img.height() + 2)};
            const double px = edgeX[f.in(0, 4)], py = edgeY[f.in(0, 4)];
            kit::Rect fill = scanlineFloodFill(cap, px, py);
            if (fill.width() > 0) {
                EXPECT_GE(fill.minX(), 0);
                EXPECT_GE(fill.minY(), 0);
                EXPECT_LE(fill.maxX(), cw);
                EXPECT_LE(fill.maxY(), ch);
            }
            auto [lo, hi] = scout(cap, px, py, f.in(0, 1), f.in(0, 2));
            EXPECT_LE(lo, hi);
            checkHomogeneitySide(cap, f.real(-5, 60), f.real(-5, 60), f.in(-10, 60), f.in(-10, 60),
                                 f.in(0, 1) ? 1 : -1, f.in(0, 1), f.in(-10, 60), f.in(-10, 60));
            kit::Rect adjusted = smartAdjust(cap, sel);
            EXPECT_TRUE(std::isfinite(adjusted.width()) && adjusted.width() >= 0);
        }
    }
}
