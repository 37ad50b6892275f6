// Short seeded fuzz pass over the screenshot tool's log reader: random logs
// around real lines. Nothing may crash; an area read is four numbers that
// were in the log.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "capture/ToolOutput.h"

namespace {

TEST(Fuzz, ToolLogsAreReadOrRefused) {
    std::mt19937 rng(42);
    const std::string pieces[] = {"(",        ")",
                                  ",",        " ",
                                  "-",        ".",
                                  "1",        "23",
                                  "1e9",      "capture window ",
                                  "0x",       "1f",
                                  "\n",       "selected area ",
                                  "x",        "(1, 2, 3, 4)",
                                  "\xC3\xA9", "\xFF"};
    for (int i = 0; i < 1500; ++i) {
        std::string log;
        size_t n = rng() % 60;
        for (size_t k = 0; k < n; ++k) log += pieces[rng() % std::size(pieces)];
        auto area = capture::toolAreaIn(log);
        if (area.kind == capture::ToolArea::Kind::area) {
            EXPECT_TRUE(std::isfinite(area.rect.x()) && std::isfinite(area.rect.width())) << log;
            EXPECT_NE(log.find('('), std::string::npos);
        }
        if (capture::toolWindowIn(log)) {
            EXPECT_NE(log.find("capture window"), std::string::npos);
        }
    }
}

}  // namespace
