#include <gtest/gtest.h>

#include <random>

#include "Fixtures.h"
#include "imaging/TileGrid.h"

using namespace imaging;

namespace {

std::function<double()> seeded(uint64_t seed) {
    auto engine = std::make_shared<std::mt19937_64>(seed);
    return [engine] { return double((*engine)()) / double(std::mt19937_64::max()); };
}

}  // namespace

TEST(TileGrid, SmallAndEmptyAreas) {
    EXPECT_EQ(tileGrid({3, 4, 10, 10}, 5, seeded(1)), std::vector<kit::Rect>{kit::Rect(3, 4, 10, 10)});
    EXPECT_TRUE(tileGrid({0, 0, 0, 50}, 5).empty());
    EXPECT_TRUE(tileGrid({0, 0, 50, 0}, 5).empty());
    // A cell below 2, including 0, is 2: the same mosaic as with 2.
    EXPECT_EQ(tileGrid({0, 0, 40, 30}, 0, seeded(7)), tileGrid({0, 0, 40, 30}, 2, seeded(7)));
    EXPECT_EQ(tileGrid({0, 0, 40, 30}, 1.5, seeded(7)), tileGrid({0, 0, 40, 30}, 2, seeded(7)));
}

TEST(TileGrid, SeededMosaicsRepeatAndDiffer) {
    auto a = tileGrid({10, 20, 300, 200}, 8, seeded(42));
    EXPECT_EQ(a, tileGrid({10, 20, 300, 200}, 8, seeded(42)));
    EXPECT_NE(a, tileGrid({10, 20, 300, 200}, 8, seeded(43)));
}

TEST(TileGrid, CellsCoverTheAreaExactlyWithSidesOfAtMostThreeCells) {
    std::mt19937 pick(2024);
    for (int round = 0; round < 200; ++round) {
        const int x = int(pick() % 50) - 25, y = int(pick() % 50) - 25;
        const int w = int(pick() % 400) + 1, h = int(pick() % 300) + 1;
        const double cell = double(pick() % 20);
        const double c = std::max(2.0, cell);
        auto cells = tileGrid({double(x), double(y), double(w), double(h)}, cell, seeded(round));
        // Integral input gives integral blocks: paint every cell on a grid.
        std::vector<int> hits(size_t(w) * h, 0);
        for (const auto& r : cells) {
            ASSERT_GT(r.width(), 0);
            ASSERT_GT(r.height(), 0);
            EXPECT_LE(r.width(), 3 * c);
            EXPECT_LE(r.height(), 3 * c);
            for (int yy = int(r.minY()); yy < int(r.maxY()); ++yy)
                for (int xx = int(r.minX()); xx < int(r.maxX()); ++xx) {
                    ASSERT_TRUE(xx >= x && xx < x + w && yy >= y && yy < y + h) << "cell outside the area";
                    ++hits[size_t(yy - y) * w + (xx - x)];
                }
        }
        for (int v : hits) ASSERT_EQ(v, 1) << "round " << round << ": a gap or an overlap";
    }
}
