#include <gtest/gtest.h>

#include "kit/desktop/Screen.h"
#include "kit/desktop/ScreenSource.h"

namespace {

struct TwoScreens : kit::ScreenSource {
    std::vector<kit::ScreenInfo> screens() override {
        return {{1, kit::Rect(0, 0, 1920, 1080), 1.0, true},
                {2, kit::Rect(1920, -200, 1280, 1024), 2.0, false}};
    }
    std::optional<kit::Point> pointer() override { return kit::Point{2000, 0}; }
};

}  // namespace

TEST(Screen, AnswersFromTheInstalledSource) {
    kit::setScreenSource(std::make_shared<TwoScreens>());
    ASSERT_EQ(kit::screens().size(), 2u);
    EXPECT_EQ(kit::mainScreen()->number, 1u);
    EXPECT_EQ(kit::screenAt({1919, 500})->number, 1u);
    EXPECT_EQ(kit::screenAt({1920, -100})->number, 2u);
    EXPECT_FALSE(kit::screenAt({100, 1080}));  // below the main screen, on none
    EXPECT_FALSE(kit::screenAt({1925, 900}));  // beside the main screen, below the second
    auto both = kit::screensIntersecting(kit::Rect(1900, 0, 40, 10));
    EXPECT_EQ(both.size(), 2u);
    EXPECT_EQ(kit::mainDisplayWidth(), 1920);
    EXPECT_EQ(kit::pointerLocation(), (kit::Point{2000, 0}));
    kit::setScreenSource(nullptr);
    EXPECT_EQ(kit::screenSourceOverride(), nullptr);
}

TEST(Screen, HeadlessDesktopHasTheMainScreenFirst) {
    // The offscreen platform of the unit tests shows one screen.
    auto list = kit::screens();
    ASSERT_FALSE(list.empty());
    EXPECT_TRUE(list.front().isMain);
    EXPECT_GT(list.front().frame.width(), 0);
    EXPECT_GE(list.front().scale, 1.0);
}
