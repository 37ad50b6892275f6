#pragma once
// The main of a benchmark program whose code needs the application object
// (text layout, layers, timers): no display is used, so Qt's offscreen
// platform stands in unless the caller chose one.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "kit/Application.h"

// With a `home` name, stored options go to a private KADRIX_HOME under the
// temporary folder (unless one is set) and never touch the user's.
inline int runApplicationBenchmarks(int argc, char** argv, const char* home = nullptr) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (home && !std::getenv("KADRIX_HOME")) {
        auto dir = std::filesystem::temp_directory_path() / home;
        std::filesystem::create_directories(dir);
        setenv("KADRIX_HOME", dir.c_str(), 1);
    }
    kit::Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
