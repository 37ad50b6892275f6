#include <gtest/gtest.h>

#include "kit/desktop/ScreenSource.h"
#include "kit/desktop/WindowList.h"

namespace {

struct Windows : kit::ScreenSource {
    std::vector<kit::WindowInfo> windows() override {
        return {{7, "Pin", "kadrix", kit::kLayerFloating, kit::Rect(0, 0, 100, 100), 1, 1.0, 42},
                {9, std::nullopt, std::nullopt, kit::kLayerNormal, std::nullopt, 1, 0.5, 0}};
    }
};

}  // namespace

TEST(WindowList, FrontToBackFromTheSourceWithMissingFieldsKept) {
    kit::setScreenSource(std::make_shared<Windows>());
    auto list = kit::onScreenWindows();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].number, 7u);
    EXPECT_NE(list[0].layer, kit::kLayerNormal);  // floating windows of ours are never layer 0
    EXPECT_FALSE(list[1].title);
    EXPECT_FALSE(list[1].bounds);
    EXPECT_EQ(list[1].alpha, 0.5);
    kit::setScreenSource(nullptr);
}
