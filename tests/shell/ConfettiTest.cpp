// The confetti burst drawn into the tray icon: dots around the icon, never
// over its middle, gone when the burst is over.
#include <gtest/gtest.h>

#include <cmath>

#include "shell/Confetti.h"
#include "shell/StatusMenu.h"

using namespace shell;

namespace {

// Pixels that differ between two images of one size, split by distance from the centre.
struct Changes {
    int inside = 0, outside = 0;
};

Changes changes(const kit::Image& a, const kit::Image& b) {
    Changes c;
    double cx = a.width() / 2.0, cy = a.height() / 2.0, r = Confetti::kInnerRadius * a.scale();
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (!(a.pixel(x, y) == b.pixel(x, y)))
                (std::hypot(x + 0.5 - cx, y + 0.5 - cy) < r ? c.inside : c.outside)++;
    return c;
}

}  // namespace

TEST(Confetti, DotsFlyOutwardAndFade) {
    auto early = Confetti::dotsAt(0.01, 7), late = Confetti::dotsAt(0.1, 7);
    ASSERT_EQ(early.size(), size_t(Confetti::kParticles));
    ASSERT_EQ(late.size(), early.size());
    for (size_t i = 0; i < early.size(); ++i) {
        EXPECT_GT(std::hypot(late[i].x, late[i].y), std::hypot(early[i].x, early[i].y));
        EXPECT_LT(late[i].alpha, early[i].alpha);
        EXPECT_GE(std::hypot(early[i].x, early[i].y), Confetti::kInnerRadius);
    }
    EXPECT_TRUE(Confetti::dotsAt(Confetti::kDuration, 7).empty()) << "all faded by the end";
}

TEST(Confetti, FramesDrawAroundTheIconNeverOverItsMiddle) {
    for (double scale : {1.0, 2.0}) {
        kit::Image base(int(22 * scale), int(22 * scale), scale);
        base.fill(kit::Color{0.2, 0.2, 0.2, 1});
        auto frame = Confetti::frame(base, 0.05, 3);
        auto c = changes(base, frame);
        EXPECT_GT(c.outside, 0) << "dots show at scale " << scale;
        EXPECT_EQ(c.inside, 0) << "nothing over the middle at scale " << scale;
        EXPECT_EQ(changes(base, Confetti::frame(base, Confetti::kDuration, 3)).outside, 0) << "over";
    }
    // The dots take the tone of the icon's ink: light ink sits on a dark panel.
    auto dotTone = [](kit::Color ink) {
        kit::Image icon(44, 44, 2.0);
        icon.fill(kit::Color::clear());
        for (int y = 18; y < 26; ++y)
            for (int x = 18; x < 26; ++x)
                icon.setPixel(x, y, {uint8_t(ink.blue8()), uint8_t(ink.green8()), uint8_t(ink.red8()), 255});
        auto frame = Confetti::frame(icon, 0.02, 1);
        double sum = 0, weight = 0;
        for (int y = 0; y < 44; ++y)
            for (int x = 0; x < 44; ++x)
                if (auto p = frame.pixel(x, y); p.a > 200 && !(p == icon.pixel(x, y)))
                    sum += p.r, weight += 1;
        return weight ? sum / weight : -1;
    };
    EXPECT_GT(dotTone(kit::Color::white(0.92)), 200);
    EXPECT_GE(dotTone(kit::Color::black()), 0);
    EXPECT_LT(dotTone(kit::Color::black()), 50);
}

TEST(Confetti, TheTrayPicturesExist) {
    for (auto name : {"kadrix-22", "kadrix-22-ok"}) {
        kit::Image img = statusImage(name);
        EXPECT_FALSE(img.isNull()) << name;
        EXPECT_NEAR(img.pointSize().width, 22, 0.01) << name;
    }
}

TEST(Confetti, TheTrayGlyphTakesTheInkOfItsPanel) {
    // The brightest opaque pixel of the glyph (its ink), 0 to 1.
    auto ink = [](const kit::Image& img) {
        double darkest = 1, lightest = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (kit::Color c = img.colorAt(x, y); c.a > 0.9) {
                    darkest = std::min(darkest, c.g);
                    lightest = std::max(lightest, c.g);
                }
        return std::pair{darkest, lightest};
    };
    // Whatever the look of our own windows, a light panel gets dark ink and a dark one light ink.
    EXPECT_LT(ink(statusImage("kadrix-22", false)).second, 0.35);
    EXPECT_GT(ink(statusImage("kadrix-22", true)).first, 0.7);
    EXPECT_LT(ink(statusImage("kadrix-22-ok", false)).first, 0.35);
}
