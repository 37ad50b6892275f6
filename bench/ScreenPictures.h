#pragma once
// Screens of the kinds people capture, made at any size (1080p, 4K): the
// PNG benchmarks' pictures. Sizes of windows and text grow with the height,
// as on a screen scaled for its density. Each is made the same every time.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace screens {

// Lines of text filling `area` as a terminal, an editor or a page shows
// them, `size` pixels high: a shell's words, or a manual's indented prose.
inline void drawText(kit::Canvas& c, const kit::Rect& area, double size, kit::Color ink,
                     const std::string& family, bool manual = false) {
    static const char* const shell[] = {"drwxr-xr-x",
                                        "kadrix",
                                        "src/kit/image",
                                        "return",
                                        "std::vector<uint8_t>",
                                        "1920x1080",
                                        "-rw-r--r--",
                                        "make[2]:",
                                        "Building",
                                        "CXX",
                                        "object",
                                        "PngEncoder.cpp.o",
                                        "42",
                                        "ok",
                                        "$",
                                        "git",
                                        "log",
                                        "--oneline"};
    static const char* const prose[] = {"The",   "options", "are",  "read",    "from",   "the",
                                        "file",  "given",   "with", "-f,",     "or",     "standard",
                                        "input", "when",    "none", "is",      "named.", "Each",
                                        "line",  "holds",   "one",  "pattern", "and",    "blank"};
    const char* const* words = manual ? prose : shell;
    const int count = manual ? int(std::size(prose)) : int(std::size(shell));
    auto text = kit::Layer::make();
    text->setBounds({0, 0, double(c.width()), double(c.height())});
    const kit::Font font = kit::Font::named(family, size).value_or(kit::Font::system(size));
    const double step = size * 1.4;
    const int lines = int((area.height() - size) / step);
    for (int i = 0; i < lines; ++i) {
        std::string line(manual && i % 9 ? 7 : 0, ' ');
        const int n = manual ? 9 + (i * 5) % 7 : 4 + (i * 7) % 9;
        for (int k = 0; k < n; ++k) line += std::string(words[(i * 5 + k * 3) % count]) + " ";
        auto t = kit::TextLayer::make();
        t->setString(line);
        t->setFont(font);
        t->setForegroundColor(ink);
        t->setFrame({area.x() + size / 2, area.y() + size / 2 + i * step, area.width() - size, size + 4});
        text->addSublayer(t);
    }
    c.drawLayer(*text);
}

// A window of a terminal: a title bar over a dark panel of text.
inline void drawTerminal(kit::Canvas& c, const kit::Rect& r, double scale) {
    c.fillRect({r.x(), r.y() - 30 * scale, r.width(), 30 * scale}, kit::Color::rgb(60, 60, 64));
    c.fillRect(r, kit::Color::rgb(30, 30, 34));
    drawText(c, r, 13 * scale, kit::Color::rgb(200, 220, 200), "DejaVu Sans Mono");
}

inline void drawPanel(kit::Canvas& c, double scale) {
    const double h = 32 * scale;
    c.fillRect({0, c.height() - h, double(c.width()), h}, kit::Color::rgb(20, 22, 28));
}

// Value noise: random values on a grid of `cell` pixels, bilinear between.
inline std::vector<float> valueNoise(int w, int h, int cell, std::mt19937& rng) {
    const int gw = w / cell + 2, gh = h / cell + 2;
    std::uniform_real_distribution<float> v(-1, 1);
    std::vector<float> grid(size_t(gw) * gh);
    for (auto& g : grid) g = v(rng);
    std::vector<float> out(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float fx = float(x) / cell, fy = float(y) / cell;
            const int ix = int(fx), iy = int(fy);
            const float tx = fx - ix, ty = fy - iy;
            auto at = [&](int gx, int gy) { return grid[size_t(gy) * gw + gx]; };
            const float top = at(ix, iy) * (1 - tx) + at(ix + 1, iy) * tx;
            const float bottom = at(ix, iy + 1) * (1 - tx) + at(ix + 1, iy + 1) * tx;
            out[size_t(y) * w + x] = top * (1 - ty) + bottom * ty;
        }
    return out;
}

// A photo: smooth colour fields, texture at several scales and fine grain,
// as a wallpaper decoded from a camera's JPEG.
inline kit::Image photoWallpaper(int w, int h, unsigned seed = 11) {
    std::mt19937 rng(seed);
    const double s = h / 1080.0;
    const auto coarse = valueNoise(w, h, int(160 * s), rng), middle = valueNoise(w, h, int(24 * s), rng),
               fine = valueNoise(w, h, int(5 * s), rng);
    std::normal_distribution<float> grain(0, 1.6f);
    kit::Image img(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = img.mutableBits() + size_t(y) * img.bytesPerRow();
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const float u = float(x) / w, v = float(y) / h;
            const float texture = 40 * coarse[i] + 14 * middle[i] + 6 * fine[i];
            auto ch = [&](float base, float weight) {
                return uint8_t(std::clamp(int(std::lround(base + weight * texture + grain(rng))), 0, 255));
            };
            row[4 * x + 2] = ch(150 - 90 * v + 30 * u, 0.9f);  // red: a sky going to dusk
            row[4 * x + 1] = ch(120 + 40 * std::sin(3 * u + 1.5f * v), 1.0f);
            row[4 * x] = ch(90 + 100 * v * (1 - u), 0.7f);
            row[4 * x + 3] = 255;
        }
    }
    return img;
}

// A photo wallpaper with a terminal on it, where `terminal` puts it.
inline kit::Image photoWithTerminal(const kit::Image& wallpaper, const kit::Rect& terminal) {
    const int w = wallpaper.width(), h = wallpaper.height();
    const double s = h / 1080.0;
    kit::Canvas c(w, h);
    c.drawImage(wallpaper, {0, 0, double(w), double(h)});
    drawTerminal(c, terminal, s);
    drawPanel(c, s);
    return c.image();
}

inline kit::Image photo(int w, int h) {
    const double s = h / 1080.0;
    return photoWithTerminal(photoWallpaper(w, h), {360 * s, 180 * s, 1100 * s, 660 * s});
}

// A smooth wallpaper (slow colour, a little grain) with patches of strong
// noise, as foliage or gravel in a picture, and a terminal on it: filtered,
// its rows are mostly zero bytes with stretches of noise between.
inline kit::Image photoPatches(int w, int h) {
    const double s = h / 1080.0;
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> spot(0, 5), noise(-40, 40);
    kit::Image img(w, h);
    struct Patch {
        int x, y, w, h;
    };
    std::vector<Patch> patches;
    for (int i = 0; i < 9; ++i)
        patches.push_back({(i * 613) % int(w - 400 * s), (i * 379) % int(h - 300 * s),
                           int((180 + i * 23 % 140) * s), int((120 + i * 37 % 160) * s)});
    for (int y = 0; y < h; ++y) {
        uint8_t* row = img.mutableBits() + size_t(y) * img.bytesPerRow();
        for (int x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            bool inPatch = false;
            for (const Patch& p : patches) inPatch |= x >= p.x && x < p.x + p.w && y >= p.y && y < p.y + p.h;
            const int grain = inPatch ? noise(rng) : spot(rng) == 0;
            auto ch = [&](double base) {
                return uint8_t(std::clamp(int(std::lround(base)) + grain, 0, 255));
            };
            row[4 * x + 2] = ch(70 + 120 * v + 40 * std::sin(2 * u));
            row[4 * x + 1] = ch(100 + 60 * std::cos(2.5 * u + v));
            row[4 * x] = ch(160 - 80 * v * u);
            row[4 * x + 3] = 255;
        }
    }
    kit::Canvas c(w, h);
    c.drawImage(img, {0, 0, double(w), double(h)});
    drawTerminal(c, {w * 0.3, h * 0.25, w * 0.45, h * 0.5}, s);
    drawPanel(c, s);
    return c.image();
}

// A gradient desktop with a window of text.
inline kit::Image gradientWindow(int w, int h) {
    const double s = h / 1080.0;
    kit::Canvas c(w, h);
    c.drawLinearGradient(kit::Color::rgb(30, 70, 120), kit::Color::rgb(200, 120, 90), {0, 0},
                         {double(w), double(h)}, true);
    c.fillRect({200 * s, 150 * s, 900 * s, 600 * s}, kit::Color::rgb(246, 246, 248));
    c.fillRect({200 * s, 150 * s, 900 * s, 36 * s}, kit::Color::rgb(222, 222, 228));
    drawText(c, {200 * s, 190 * s, 900 * s, 560 * s}, 14 * s, kit::Color::rgb(40, 40, 40), "DejaVu Sans");
    drawPanel(c, s);
    return c.image();
}

// Nothing but a gradient, corner to corner.
inline kit::Image gradientFull(int w, int h) {
    kit::Canvas c(w, h);
    c.drawLinearGradient(kit::Color::rgb(10, 40, 90), kit::Color::rgb(230, 150, 60), {0, 0},
                         {double(w), double(h)}, true);
    return c.image();
}

// A page full of text in two columns.
inline kit::Image textPage(int w, int h) {
    const double s = h / 1080.0;
    kit::Canvas c(w, h);
    c.fill(kit::Color::rgb(255, 255, 255));
    c.fillRect({0, 0, double(w), 40 * s}, kit::Color::rgb(236, 236, 240));
    drawText(c, {0, 40 * s, w / 2.0, h - 40 * s}, 14 * s, kit::Color::rgb(20, 20, 20), "DejaVu Sans");
    drawText(c, {w / 2.0, 40 * s, w / 2.0, h - 40 * s}, 14 * s, kit::Color::rgb(30, 60, 140),
             "DejaVu Sans Mono");
    return c.image();
}

// A terminal over the whole screen showing a manual page.
inline kit::Image terminalManual(int w, int h) {
    const double s = h / 1080.0;
    kit::Canvas c(w, h);
    c.fill(kit::Color::rgb(24, 24, 28));
    drawText(c, {0, 0, double(w), double(h)}, 14 * s, kit::Color::rgb(210, 210, 210), "DejaVu Sans Mono",
             true);
    return c.image();
}

// A flat desktop of overlapping windows with a little text.
inline kit::Image flatWindows(int w, int h) {
    const double s = h / 1080.0;
    kit::Canvas c(w, h);
    c.fill(kit::Color::rgb(236, 236, 238));
    for (int i = 0; i < 5; ++i) {
        const double x = (80.0 + i * 170) * s, y = (60.0 + i * 100) * s;
        c.fillRect({x, y, 820 * s, 520 * s}, kit::Color::rgb(255, 255, 255 - i * 8));
        c.fillRect({x, y, 820 * s, 32 * s}, kit::Color::rgb(210, 212, 218));
        c.fillRect({x + 20 * s, y + 460 * s, 120 * s, 36 * s}, kit::Color::rgb(52, 120, 246));
    }
    drawText(c, {1500 * s, 100 * s, 400 * s, 300 * s}, 14 * s, kit::Color::rgb(30, 30, 30), "DejaVu Sans");
    drawPanel(c, s);
    return c.image();
}

// A flat desktop with three terminals side by side.
inline kit::Image flatTerminals(int w, int h) {
    const double s = h / 1080.0;
    kit::Canvas c(w, h);
    c.fill(kit::Color::rgb(58, 110, 165));
    for (int i = 0; i < 3; ++i) drawTerminal(c, {(40 + i * 620) * s, (80 + i * 60) * s, 580 * s, 760 * s}, s);
    drawPanel(c, s);
    return c.image();
}

// Screens of the same kinds made from a seed: the colours, the texture and
// where the windows stand differ with it, so the encoder is measured on
// pictures it was never tuned to.
inline kit::Image seededPhoto(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> at(0.05, 0.4);
    const double x = w * at(rng), y = h * at(rng);
    return photoWithTerminal(photoWallpaper(w, h, seed), {x, y, w * 0.45, h * 0.45});
}

inline kit::Color seededColor(std::mt19937& rng) {
    std::uniform_int_distribution<int> v(0, 255);
    const int r = v(rng), g = v(rng), b = v(rng);
    return kit::Color::rgb(r, g, b);
}

// A gradient in a direction and colours of the seed's, with a window of text.
inline kit::Image seededGradient(int w, int h, unsigned seed) {
    const double s = h / 1080.0;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> side(0, 1);
    kit::Canvas c(w, h);
    const kit::Color from = seededColor(rng), to = seededColor(rng);
    c.drawLinearGradient(from, to, {w * side(rng), 0}, {w * side(rng), double(h)}, true);
    const double x = w * side(rng) * 0.5, y = h * side(rng) * 0.3;
    c.fillRect({x, y, 900 * s, 600 * s}, kit::Color::rgb(246, 246, 248));
    drawText(c, {x, y + 40 * s, 900 * s, 560 * s}, 14 * s, kit::Color::rgb(40, 40, 40), "DejaVu Sans");
    drawPanel(c, s);
    return c.image();
}

// A page of text on a pale ground, in a size and ink of the seed's.
inline kit::Image seededText(int w, int h, unsigned seed) {
    const double s = h / 1080.0;
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pale(225, 255), size(12, 16);
    kit::Canvas c(w, h);
    const int ground = pale(rng);
    c.fill(kit::Color::rgb(ground, ground, pale(rng)));
    drawText(c, {0, 0, w * 0.6, double(h)}, size(rng) * s, kit::Color::rgb(20, 20, 20), "DejaVu Sans",
             seed % 2 == 0);
    drawText(c, {w * 0.6, 0, w * 0.4, double(h)}, size(rng) * s, seededColor(rng), "DejaVu Sans Mono");
    return c.image();
}

// Flat windows of the seed's colours where the seed puts them.
inline kit::Image seededFlat(int w, int h, unsigned seed) {
    const double s = h / 1080.0;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> at(0, 0.5);
    kit::Canvas c(w, h);
    c.fill(seededColor(rng));
    for (int i = 0; i < 6; ++i) {
        const double x = w * at(rng), y = h * at(rng);
        c.fillRect({x, y, 820 * s, 520 * s}, kit::Color::rgb(255, 255, 255 - i * 8));
        c.fillRect({x, y, 820 * s, 32 * s}, seededColor(rng));
    }
    drawText(c, {w * at(rng), h * at(rng), 400 * s, 300 * s}, 14 * s, kit::Color::rgb(30, 30, 30),
             "DejaVu Sans");
    drawPanel(c, s);
    return c.image();
}

// A desktop of one colour, nothing on it: the stream is one run of zeros.
inline kit::Image oneColour(int w, int h) {
    kit::Canvas c(w, h);
    c.fill(kit::Color::rgb(58, 110, 165));
    return c.image();
}

// Large flat areas with a few hard edges and no text.
inline kit::Image flatAreas(int w, int h) {
    const double s = h / 1080.0;
    kit::Canvas c(w, h);
    c.fill(kit::Color::rgb(236, 236, 238));
    c.fillRect({0, 0, double(w), 36 * s}, kit::Color::rgb(40, 44, 52));
    c.fillRect({200 * s, 120 * s, 1400 * s, 800 * s}, kit::Color::rgb(255, 255, 255));
    c.fillRect({200 * s, 120 * s, 1400 * s, 30 * s}, kit::Color::rgb(210, 212, 218));
    return c.image();
}

struct Kind {
    const char* name;
    kit::Image (*make)(int w, int h);
};

// The seeded screens as kinds, for a few seeds.
template <unsigned Seed>
inline constexpr Kind kSeeded[] = {{"photo", [](int w, int h) { return seededPhoto(w, h, Seed); }},
                                   {"gradient", [](int w, int h) { return seededGradient(w, h, Seed); }},
                                   {"text", [](int w, int h) { return seededText(w, h, Seed); }},
                                   {"flat", [](int w, int h) { return seededFlat(w, h, Seed); }}};

inline constexpr Kind kKinds[] = {{"photo", photo},
                                  {"photo-patches", photoPatches},
                                  {"gradient", gradientWindow},
                                  {"gradient-full", gradientFull},
                                  {"text", textPage},
                                  {"manual", terminalManual},
                                  {"flat", flatWindows},
                                  {"flat-terminals", flatTerminals},
                                  {"one-colour", oneColour},
                                  {"flat-areas", flatAreas}};

}  // namespace screens
