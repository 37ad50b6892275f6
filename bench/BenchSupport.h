#pragma once
// The main of a benchmark program whose code needs the application object
// (text layout, layers, timers): no display is used, so Qt's offscreen
// platform stands in unless the caller chose one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "Scratch.h"
#include "kit/base/Image.h"
#include "kit/draw/TextLayer.h"
#include "kit/image/Canvas.h"
#include "kit/ui/Application.h"

// A smoke run (CI's: --benchmark_min_time given) does one round of what
// repeats a fixed number of times.
inline bool smokeRun(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]).starts_with("--benchmark_min_time")) return true;
    return false;
}

// How many pictures a benchmark that works through many of them makes:
// KADRIX_BENCH_IMAGES lowers the count for a quick pass.
inline int benchImages(int full) {
    const char* v = std::getenv("KADRIX_BENCH_IMAGES");
    return v ? std::clamp(std::atoi(v), 1, full) : full;
}

// With a `home` name, stored options go to a private KADRIX_HOME in the run's
// scratch folder (unless one is set) and never touch the user's.
inline int runApplicationBenchmarks(int argc, char** argv, const char* home = nullptr) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (home && !std::getenv("KADRIX_HOME")) {
        auto dir = benchsupport::scratchDir() / home;
        std::filesystem::create_directories(dir);
        setenv("KADRIX_HOME", dir.c_str(), 1);
    }
    kit::Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// A capture-sized picture with detail everywhere (no flat areas for a
// renderer or encoder to skip).
inline kit::Image patternedCapture(int width, int height) {
    kit::Image img(width, height);
    uint8_t* bits = img.mutableBits();
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bits + size_t(y) * img.bytesPerRow();
        for (int x = 0; x < width; ++x) {
            row[4 * x] = uint8_t(x * 7 + y);
            row[4 * x + 1] = uint8_t(y * 3);
            row[4 * x + 2] = uint8_t(x ^ y);
            row[4 * x + 3] = 255;
        }
    }
    return img;
}

// Something like a desktop: flat panels, a gradient, rules and lines of text.
inline kit::Image desktopPicture(int w, int h) {
    kit::Canvas c(w, h);
    c.drawLinearGradient(kit::Color::rgb(40, 60, 90), kit::Color::rgb(90, 130, 170), {0, 0}, {0, double(h)},
                         true);
    for (int i = 0; i < 12; ++i) {
        double x = (i * 433) % (w - 1400), y = (i * 271) % (h - 900);
        c.fillRect({x, y, 1400, 900}, kit::Color::rgb(245, 245, 245 - i * 3));
        c.fillRect({x, y + 860, 1400, 40}, kit::Color::rgb(220, 220, 225));
    }
    auto text = kit::Layer::make();
    text->setBounds({0, 0, double(w), double(h)});
    for (int i = 0; i < 400; ++i) {
        auto t = kit::TextLayer::make();
        t->setString("The quick brown fox jumps over the lazy dog " + std::to_string(i));
        t->setFont(kit::Font::system(15));
        t->setForegroundColor(kit::Color::rgb(30, 30, 30));
        t->setFrame({double((i * 97) % (w - 420)), double((i * 37) % (h - 24)), 420, 22});
        text->addSublayer(t);
    }
    c.drawLayer(*text);
    return c.image();
}

// Wall-clock seconds a call takes.
inline double secondsOf(auto&& fn) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
