#include <gtest/gtest.h>

#include "kit/ScreenSource.h"
#include "kit/SyntheticInput.h"

namespace {

struct Recorder : kit::ScreenSource {
    std::vector<int> clicks;
    std::vector<kit::Point> warps;
    std::vector<bool> hidden;
    bool scrollClicks(int v, int) override {
        clicks.push_back(v);
        return true;
    }
    void warp(kit::Point p) override { warps.push_back(p); }
    void setCursorHidden(bool h) override { hidden.push_back(h); }
    bool inputTrusted() override { return true; }
};

}  // namespace

TEST(SyntheticInput, DistancesBecomeWholeWheelClicks) {
    EXPECT_EQ(kit::SyntheticInput::clicksFor(0), 0);
    EXPECT_EQ(kit::SyntheticInput::clicksFor(-1), -1);  // any movement is at least one click
    EXPECT_EQ(kit::SyntheticInput::clicksFor(100), 2);
    EXPECT_EQ(kit::SyntheticInput::clicksFor(-300), -6);
    EXPECT_EQ(kit::SyntheticInput::clicksFor(std::nan("")), 0);
}

TEST(SyntheticInput, GoesToTheInstalledSource) {
    auto rec = std::make_shared<Recorder>();
    kit::setScreenSource(rec);
    EXPECT_TRUE(kit::SyntheticInput::trusted());
    kit::SyntheticInput::warp({10, 20});
    kit::SyntheticInput::scroll(-100);
    kit::SyntheticInput::scroll(0);
    kit::SyntheticInput::setCursorHidden(true);
    EXPECT_EQ(rec->warps, (std::vector<kit::Point>{{10, 20}}));
    EXPECT_EQ(rec->clicks, (std::vector<int>{-2, 0}));
    EXPECT_EQ(rec->hidden, std::vector<bool>{true});
    kit::setScreenSource(nullptr);
}
