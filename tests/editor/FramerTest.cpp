// The viewport: conversions, the zoom ladders, fitting and the pan limits.
#include <gtest/gtest.h>

#include <thread>

#include "editor/Framer.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "support/TelemetryQueue.h"

namespace editor {

namespace {

class FramerTest : public ::testing::Test {
protected:
    void SetUp() override {
        f.area = {0, 0, 600, 400};
        f.source = {0, 0, 100, 100};
        f.minzoom = 0.03125;
        f._dpr.set(1);
        f._zoom.set(1);
        f.setOffset({0, 0}, {0, 0});
        f.backdropPanelWidth = nullptr;
        f.paddings = nullptr;
        f.compositionRect = nullptr;
        // Keep reports in the queue and off the network (the setter would flush).
        services::Settings::shared().storeBool("allowTelemetry", false);
    }
    Framer& f = Framer::shared();
};

TEST_F(FramerTest, ViewAndImagePointsMapBothWays) {
    f._zoom.set(2);
    f._bx.set(10);
    f._by.set(20);
    EXPECT_EQ(f.viewToImage({30, 40}), (kit::Point{10, 10}));
    EXPECT_EQ(f.imageToView({10, 10}), (kit::Point{30, 40}));
    EXPECT_EQ(f.rectToView({10, 10, -5, 5}), (services::Rect{20, 40, -10, 10}));
}

TEST_F(FramerTest, SnapZoomTable) {
    const std::pair<double, double> cases[] = {{0.7, 0.5}, {0.81, 0.5}, {0.87, 1}, {1.5, 1},
                                               {1.7, 2},   {3, 2},      {5, 6},    {7, 8},
                                               {10, 12},   {20, 22},    {40, 46},  {64, 64}};
    for (auto [in, out] : cases) {
        f._zoom.set(in);
        f.snapZoom();
        EXPECT_DOUBLE_EQ(f.zoom(), out) << in;
    }
}

TEST_F(FramerTest, CoarseZoomStepsAndLimits) {
    f._zoom.set(1);
    std::vector<double> seen;
    for (int i = 0; i < 11; ++i) {
        f.zoom(true, {0, 0});
        seen.push_back(f.zoom());
    }
    EXPECT_EQ(seen, (std::vector<double>{2, 4, 6, 8, 12, 16, 22, 32, 46, 64, 64}));
    f._zoom.set(6);
    f.zoom(false, {0, 0});
    EXPECT_EQ(f.zoom(), 4);
    f.zoom(false, {0, 0});
    EXPECT_EQ(f.zoom(), 2);
    f.minzoom = 1;
    f.zoom(false, {0, 0});
    f.zoom(false, {0, 0});
    EXPECT_EQ(f.zoom(), 1);
}

TEST_F(FramerTest, ZoomKeepsThePointUnderThePointer) {
    f._zoom.set(1);
    f.setOffset({0, 0}, {0, 0});
    kit::Point before = f.viewToImage({300, 200});
    f.zoom(true, {300, 200});
    EXPECT_EQ(f.viewToImage({300, 200}), before);
}

TEST_F(FramerTest, FineZoomQuantises) {
    f._zoom.set(1);
    f.zoomFine(true, {0, 0});
    EXPECT_EQ(f.zoom(), 1.25);
    f._zoom.set(0.1);
    f.zoomFine(true, {0, 0});
    EXPECT_DOUBLE_EQ(f.zoom(), 0.11892);
}

TEST_F(FramerTest, ZoomToFitSnapsDownFromPointEight) {
    f.area = {0, 0, 620, 620};
    f.zoomToFit({0, 0, 1000, 1000}, false);  // 0.6: kept
    EXPECT_DOUBLE_EQ(f.zoom(), 0.6);
    f.zoomToFit({0, 0, 200, 200}, false);  // 3.0 → 2
    EXPECT_EQ(f.zoom(), 2);
    f.zoomToFit({0, 0, 600 / 13.0, 600 / 13.0}, false);  // 13 → 12
    EXPECT_EQ(f.zoom(), 12);
    f.zoomToFit({0, 0, 200, 200}, true);
    EXPECT_DOUBLE_EQ(f.zoom(), 3);
    // Centred in the area.
    EXPECT_EQ(f.imageToView({100, 100}), (kit::Point{310, 310}));
}

TEST_F(FramerTest, RefitNeverEnlargesAndRaisesMinZoom) {
    f.source = {0, 0, 100, 80};
    refitCanvas(false);
    EXPECT_EQ(f.zoom(), 1);
    EXPECT_EQ(f.minzoom, 1);
}

TEST_F(FramerTest, EffectiveAreaLeavesRoomForTheBackdropPanel) {
    f._dpr.set(2);
    f.backdropPanelWidth = [] { return std::optional<double>(250); };
    EXPECT_EQ(f.getEffectiveArea().width, 600 - 270 * 2);
    f.backdropPanelWidth = [] { return std::optional<double>(); };
    EXPECT_EQ(f.getEffectiveArea().width, 600);
}

TEST_F(FramerTest, EffectiveAreaFromAnotherThreadIsReportedAndServed) {
    testsupport::emptyTelemetryQueue();
    services::Rect got;
    std::thread([&] { got = f.getEffectiveArea(); }).join();
    EXPECT_EQ(got, f.area);
    auto all = services::Telemetry::shared().events();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back()["function"], "getEffectiveArea()");
}

TEST_F(FramerTest, PanConstraintPushesASmallImageInside) {
    f._zoom.set(1);
    f.setOffset({0, 0}, {-30, 500});
    f.constrainPan(false);
    EXPECT_EQ(f.imageToView({0, 0}), (kit::Point{0, 300}));
}

TEST_F(FramerTest, PanConstraintAllowsAMarginOnALargeImage) {
    f.source = {0, 0, 1000, 1000};
    f._zoom.set(4);
    f.setOffset({0, 0}, {200, 0});  // left edge 200 inside the view
    f.constrainPan(true);
    EXPECT_EQ(f.imageToView({0, 0}).x, 80);  // at most 20 × zoom
}

TEST_F(FramerTest, PanByAccumulatesExactOffsets) {
    f.setOffset({0, 0}, {0, 0});
    for (int i = 0; i < 4; ++i) f.panBy(0.3, 0);
    EXPECT_EQ(f._bx.get(), 1);
    EXPECT_DOUBLE_EQ(f.bpx, 1.2);
    EXPECT_EQ(f.destFull.width, 100);
}

}  // namespace

}  // namespace editor
