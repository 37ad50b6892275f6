// The contrast read-out: the ratio on synthetic captures, the sampled
// columns of a large selection, and the order in which results arrive.
#include "CropFixture.h"
#include "editor/CropTool.h"
#include "editor/CropToolContrast.h"
#include "kit/base/Dispatch.h"

namespace editor::test {
namespace {

TEST(CropContrast, FlatIsOneBlackAndWhiteIsTwentyOne) {
    const imaging::Capture flat = imaging::Capture::of(solidImage(50, 50, 120, 40, 200));
    EXPECT_DOUBLE_EQ(*getContrast(flat, {0, 0, 50, 50}), 1.0);
    kit::Image img = solidImage(50, 50, 255, 255, 255);
    paintUp(img, 10, 10, 1, 1, 0, 0, 0);
    EXPECT_NEAR(*getContrast(imaging::Capture::of(img), {0, 0, 50, 50}), 21.0, 1e-9);
    EXPECT_DOUBLE_EQ(*getContrast(imaging::Capture::of(img), {20, 20, 10, 10}), 1.0) << "the dot is outside";
}

TEST(CropContrast, NothingToMeasureGivesNoValue) {
    EXPECT_FALSE(getContrast(imaging::Capture{}, {0, 0, 10, 10}));
    const imaging::Capture flat = imaging::Capture::of(solidImage(50, 50, 0, 0, 0));
    EXPECT_FALSE(getContrast(flat, {60, 60, 10, 10})) << "off the image";
    EXPECT_FALSE(getContrast(flat, {10, 10, 0, 10})) << "empty";
}

TEST(CropContrast, LargeSelectionsAreSampledEveryFewColumns) {
    EXPECT_DOUBLE_EQ(contrastStep(3000, 3000), 3.75);
    EXPECT_DOUBLE_EQ(contrastStep(300, 300), 1.0);
    // Positions 0, 3.75, 7.5, 11.25 read columns and rows 0, 3, 7, 11.
    for (auto [column, sampled] : {std::pair{3, true}, {7, true}, {11, true}, {4, false}, {8, false}}) {
        kit::Image img = solidImage(3000, 3000, 255, 255, 255);
        paintUp(img, column, 3, 1, 1, 0, 0, 0);
        const double ratio = *getContrast(imaging::Capture::of(img), {0, 0, 3000, 3000});
        EXPECT_NEAR(ratio, sampled ? 21.0 : 1.0, 1e-9) << column;
    }
}

TEST(CropContrast, OnlyTheLatestSubmissionIsDelivered) {
    ContrastWorker worker;
    std::vector<double> delivered;
    kit::Image big = solidImage(2000, 2000, 255, 255, 255);
    paintUp(big, 0, 0, 1, 1, 0, 0, 0);
    const imaging::Capture slow = imaging::Capture::of(big);
    const imaging::Capture flat = imaging::Capture::of(solidImage(20, 20, 9, 9, 9));
    for (int i = 0; i < 5; ++i)
        worker.submit(slow, {0, 0, 2000, 2000}, [&](std::optional<double> v) { delivered.push_back(*v); });
    worker.submit(flat, {0, 0, 20, 20}, [&](std::optional<double> v) { delivered.push_back(*v); });
    kit::runMainLoopUntil([&] { return !delivered.empty(); }, 10);
    kit::runMainLoopUntil([] { return false; }, 0.2);  // anything stale would arrive meanwhile
    EXPECT_EQ(delivered, std::vector<double>{1.0});

    worker.submit(slow, {0, 0, 2000, 2000}, [&](std::optional<double> v) { delivered.push_back(*v); });
    worker.cancel();
    kit::runMainLoopUntil([] { return false; }, 0.3);
    EXPECT_EQ(delivered.size(), 1u) << "a cancelled job shows nothing";
}

class CropToolContrast : public CropFixture {};

TEST_F(CropToolContrast, TheLabelShowsOnceMeasuredAndHidesWhenTheSelectionGoes) {
    kit::Image img = solidImage(400, 300, 255, 255, 255);
    paintUp(img, 100, 100, 20, 20, 0, 0, 0);
    useImage(img);
    CropTool tool;
    tool.setSelection(services::Rect{90, 90, 40, 40});
    kit::runMainLoopUntil([&] { return tool.contrast.has_value(); }, 10);
    ASSERT_TRUE(tool.contrast);
    EXPECT_NEAR(*tool.contrast, 21.0, 1e-9);
    EXPECT_FALSE(tool.ltextContrast->isHidden());
    EXPECT_EQ(tool.ltextContrast->string(), "C: 21.0");
    tool.setSelection(services::Rect{200, 200, 20, 20});  // all white now
    tool.setSelection(std::nullopt);
    kit::runMainLoopUntil([] { return false; }, 0.2);
    EXPECT_FALSE(tool.contrast) << "a result for a removed selection is dropped";
}

}  // namespace
}  // namespace editor::test
