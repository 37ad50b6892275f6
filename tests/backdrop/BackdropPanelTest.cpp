#include <gtest/gtest.h>

#include "BackdropFixture.h"
#include "backdrop/BackdropViewController.h"
#include "backdrop/Templates.h"
#include "editor/Undo.h"
#include "kit/base/Json.h"
#include "kit/base/Timer.h"
#include "services/Settings.h"

namespace {

using backdrop::BackdropViewController;

// The panel over a shown backdrop, installed as the editor's, so undo
// snapshots carry its configuration.
struct Panel : BackdropFixture {
    std::unique_ptr<BackdropViewController> vc;
    Panel() {
        editor::setBackdrop(&b);
        on({{"mode", "gradient"}, {"padding", 20}});
        vc = std::make_unique<BackdropViewController>(b);
    }
    ~Panel() { editor::setBackdrop(nullptr); }
    void slide(kit::Slider& s, double v) {
        s.setDoubleValue(v);
        vc->sliderChanged(s);
    }
};

TEST(BackdropPanel, ControlsFollowTheConfiguration) {
    Panel p;
    p.b.applyConfig({{"mode", "flat"}, {"padding", 64}, {"inset", -1}, {"ratio", "4:3"}, {"autoCrop", 1}});
    p.vc->updateControls();
    EXPECT_EQ(p.vc->segMode->selectedSegment(), 2);
    EXPECT_EQ(p.vc->slPadding->doubleValue(), 64);
    EXPECT_EQ(p.vc->slInset->doubleValue(), 0);
    EXPECT_EQ(p.vc->ddlRatio->titleOfSelectedItem(), "4:3");
    EXPECT_EQ(p.vc->swAutoCrop->state(), kit::ControlState::On);
    // The solid colours and the custom swatch; the wells show one colour.
    EXPECT_EQ(p.vc->tiles.size(), backdrop::solidTemplates().size() + 1);
    EXPECT_TRUE(p.vc->wellTo->isHidden());
    EXPECT_FALSE(p.vc->wellFrom->isHidden());
}

TEST(BackdropPanel, ModesTemplatesAndSlidersChangeTheBackdrop) {
    Panel p;
    p.vc->segMode->setSelectedSegment(1);
    p.vc->selectMode(1);
    EXPECT_EQ(p.b.c.mode, "mesh");
    EXPECT_TRUE(backdrop::meshTemplates().front().matches(p.b.c));
    p.vc->chooseTemplate(2);
    EXPECT_EQ(p.b.c.templateName, backdrop::meshTemplates()[2].name);
    EXPECT_EQ(p.vc->tiles[2]->state(), 1);
    EXPECT_EQ(p.vc->tiles[0]->state(), 0);

    p.slide(*p.vc->slPadding, 33.4);
    EXPECT_EQ(p.b.c.padding, 33);
    EXPECT_EQ(p.b.padBL, 33);
    p.slide(*p.vc->slInset, 0);
    EXPECT_EQ(p.b.c.inset, -1);  // the slider's far left is "no inset"
    p.slide(*p.vc->slInset, 12);
    EXPECT_EQ(p.b.c.inset, 12);
    EXPECT_EQ(p.b.padCL, 12);
    p.slide(*p.vc->slShadow, 0.333);
    EXPECT_DOUBLE_EQ(p.b.c.shadow, 0.33);
    p.vc->ddlRatio->selectItem(1);
    p.vc->ratioChanged();
    EXPECT_EQ(p.b.c.ratio, "16:9");
    // Every change is stored for the next screenshot.
    EXPECT_NE(services::Settings::shared().bdrConfig().find("\"ratio\":\"16:9\""), std::string::npos);
}

// The configuration the next screenshot starts from, as stored.
backdrop::Config storedBackdropConfig() {
    backdrop::Config stored;
    auto json = kit::json::parse(services::Settings::shared().bdrConfig());
    if (json) stored.apply(*json);
    return stored;
}

TEST(BackdropPanel, RadiusCornersAndGrainEachSetTheirOwnValue) {
    Panel p;  // both radii 0
    p.slide(*p.vc->slRadius, 7.4);
    EXPECT_EQ(p.b.c.innerRadius, 7);
    EXPECT_EQ(p.b.c.outerRadius, 0);
    p.slide(*p.vc->slCorners, 15);
    EXPECT_EQ(p.b.c.outerRadius, 15);
    EXPECT_EQ(p.b.c.innerRadius, 7);
    p.slide(*p.vc->slNoise, 0.256);
    EXPECT_DOUBLE_EQ(p.b.c.noise, 0.26);
    EXPECT_EQ(p.b.c.innerRadius, 7);
    const backdrop::Config stored = storedBackdropConfig();
    EXPECT_EQ(stored.innerRadius, 7);
    EXPECT_EQ(stored.outerRadius, 15);
    // And back: each slider shows its own value.
    p.b.applyConfig({{"innerRadius", 5}, {"outerRadius", 31}});
    p.vc->updateControls();
    EXPECT_EQ(p.vc->slRadius->doubleValue(), 5);
    EXPECT_EQ(p.vc->slCorners->doubleValue(), 31);
}

TEST(BackdropPanel, EveryTemplateSetsItsColoursAndItsAngle) {
    Panel p;
    for (std::string mode : {"gradient", "mesh", "flat"}) {
        const auto& list = backdrop::templatesFor(mode);
        p.b.applyConfig({{"mode", mode}});
        p.vc->updateControls();
        for (size_t i = 0; i < list.size(); ++i) {
            const backdrop::Template& t = list[i];
            // An angle, a seed and colours no template has, so each one shows.
            p.b.c.angle = 17;
            p.b.c.meshSeed = 99;
            p.b.c.gradientStart = p.b.c.gradientEnd = p.b.c.flatColor = {0.5, 0.5, 0.5};
            p.b.c.meshColors.assign(4, {0.5, 0.5, 0.5});
            p.vc->chooseTemplate(i);
            SCOPED_TRACE(mode + " " + t.name);
            EXPECT_EQ(p.b.c.templateName, t.name);
            EXPECT_TRUE(t.matches(p.b.c));
            const backdrop::Config stored = storedBackdropConfig();
            EXPECT_TRUE(t.matches(stored));
            if (mode == "gradient") {
                EXPECT_EQ(p.b.c.angle, t.angle);
                EXPECT_EQ(stored.angle, t.angle);
            }
        }
    }
}

TEST(BackdropPanel, CustomColoursAreRememberedAndChosenAgain) {
    Panel p;
    p.vc->colorChanged(true, kit::Color{1, 0, 0, 1});
    p.vc->colorChanged(false, kit::Color{0, 0, 1, 1});
    EXPECT_EQ(services::Settings::shared().customGradFrom(), "#FF0000");
    EXPECT_EQ(services::Settings::shared().customGradTo(), "#0000FF");
    EXPECT_TRUE(p.b.c.templateName.empty());
    EXPECT_EQ(p.vc->customTile->state(), 1);

    p.vc->chooseTemplate(0);
    EXPECT_EQ(p.vc->customTile->state(), 0);
    p.vc->chooseCustom();
    EXPECT_EQ(p.b.c.gradientStart, (backdrop::RGBColor{1, 0, 0}));
    EXPECT_EQ(p.b.c.gradientEnd, (backdrop::RGBColor{0, 0, 1}));
}

TEST(BackdropPanel, ABurstOfChangesLeavesOneUndoSnapshotAfterItSettles) {
    kit::ManualClockScope clock;
    Panel p;
    editor::Undo& undo = editor::Undo::shared();
    undo.reset();
    const size_t before = undo.states.size();
    for (int i = 1; i <= 8; ++i) {
        p.slide(*p.vc->slPadding, 20 + i * 5);
        clock.advance(0.1);
    }
    EXPECT_EQ(undo.states.size(), before);
    clock.advance(0.3);
    ASSERT_EQ(undo.states.size(), before + 1);
    EXPECT_NE(undo.states.back().full.find("\\\"padding\\\":60"), std::string::npos);
}

}  // namespace
