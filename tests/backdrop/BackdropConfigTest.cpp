#include <gtest/gtest.h>

#include "BackdropFixture.h"
#include "backdrop/Backdrop.h"
#include "kit/base/Event.h"
#include "services/Settings.h"

namespace {

using backdrop::Backdrop;
using backdrop::Config;

// A backdrop over a fixed screenshot rectangle, with no editor around it.
struct Fixture {
    NoStoredLook noStoredLook;
    Backdrop b;
    services::Rect source{0, 0, 1000, 300};
    double dpr = 1;
    std::optional<services::Rect> objects;
    std::vector<std::string> notices;
    Fixture() {
        b.sourceRect = [this] { return source; };
        b.pixelRatio = [this] { return dpr; };
        b.objectBounds = [this] { return objects; };
        b.notify = [this](const std::string& title, const std::string&) { notices.push_back(title); };
    }
};

TEST(BackdropConfig, JsonRoundTripKeepsEveryValueAsGivenAndSortsKeys) {
    Config a;
    a.isOn = 1;
    a.mode = "flat";
    a.inset = -1;
    a.padding = -7.25;  // stored as given, even though it lays out as 0
    a.outerRadius = 1e6;
    a.ratio = "16:9";
    a.flatColor = {0.1, 0.2, 0.3};
    a.meshColors = {{1, 0, 0}};
    a.imageName = "beach.jpg";
    const kit::Json j = a.toJson();
    EXPECT_EQ(j.size(), 20u);
    Config b;
    ASSERT_TRUE(b.apply(kit::Json::parse(j.dump())));
    EXPECT_EQ(b.toJson(), j);
    EXPECT_EQ(b.inset, -1);
    EXPECT_EQ(b.padding, -7.25);
    // The text is in sorted key order, so equal configurations compare equal as text.
    const std::string text = j.dump();
    EXPECT_LT(text.find("\"angle\""), text.find("\"autoCrop\""));
    EXPECT_LT(text.find("\"version\""), std::string::npos);
    EXPECT_LT(text.find("\"templateName\""), text.find("\"version\""));
}

TEST(BackdropConfig, ApplyKeepsMissingKeysIgnoresUnknownOnesAndRejectsWrongTypesWhole) {
    Config c;
    const Config before = c;
    ASSERT_TRUE(c.apply({{"padding", 12}, {"someFutureKey", true}, {"gradientEnd", {{"g", 1}}}}));
    EXPECT_EQ(c.padding, 12);
    EXPECT_EQ(c.mode, before.mode);
    EXPECT_EQ(c.gradientStart, before.gradientStart);
    EXPECT_EQ(c.gradientEnd.g, 1);
    EXPECT_EQ(c.gradientEnd.r, before.gradientEnd.r);  // a colour's missing channel kept too

    std::string error;
    const kit::Json good = c.toJson();
    EXPECT_FALSE(c.apply({{"padding", 99}, {"mode", 3}}, &error));
    EXPECT_NE(error.find("mode"), std::string::npos);
    EXPECT_EQ(c.toJson(), good);  // nothing of the bad record was taken
    EXPECT_FALSE(c.apply({{"meshColors", {{{"r", "red"}}}}}, &error));
    EXPECT_FALSE(c.apply(kit::Json::array(), &error));
    EXPECT_EQ(c.toJson(), good);
}

TEST(BackdropConfig, StoredConfigurationSurvivesAndABadOneIsKeptUntouched) {
    services::Settings::shared().setBdrConfig("");
    Fixture f;
    f.b.applyConfig({{"inset", -1}, {"padding", 33.5}, {"ratio", "4:3"}});
    f.b.store();
    Backdrop g;  // as in the next session
    EXPECT_EQ(g.c.padding, 33.5);
    EXPECT_EQ(g.c.inset, -1);
    EXPECT_EQ(g.c.ratio, "4:3");

    services::Settings::shared().setBdrConfig("{\"padding\": ");
    Backdrop h;
    EXPECT_EQ(h.c.padding, Config().padding);
    EXPECT_EQ(services::Settings::shared().bdrConfig(), "{\"padding\": ");
    services::Settings::shared().setBdrConfig("");
}

TEST(BackdropConfig, ComparableFormIgnoresOnlyTheTemplateName) {
    Fixture f;
    const std::string a = f.b.configJSON(true);
    f.b.c.templateName = "Dusk";
    EXPECT_EQ(f.b.configJSON(true), a);
    EXPECT_NE(f.b.configJSON(false), f.b.configJSON(true));
    f.b.c.padding += 1;
    EXPECT_NE(f.b.configJSON(true), a);
}

TEST(BackdropLayout, PaddingsAreWholePixelsAndNeverNegative) {
    Fixture f;
    f.dpr = 2;
    f.b.applyConfig({{"isOn", 1}, {"padding", 10.3}, {"inset", 2.2}, {"ratio", "auto"}});
    auto p = f.b.paddings();
    EXPECT_EQ(p.padBL, 21);
    EXPECT_EQ(p.padCT, 4);
    for (double v : {p.padBT, p.padBB, p.padBL, p.padBR, p.padCT, p.padCB, p.padCL, p.padCR})
        EXPECT_EQ(v, std::round(v));

    f.b.applyConfig({{"padding", -40}, {"inset", -1}});
    p = f.b.paddings();
    EXPECT_EQ(p.padBT + p.padBB + p.padBL + p.padBR + p.padCT + p.padCB + p.padCL + p.padCR, 0);
    EXPECT_NE(f.b.configJSON(false).find("-40"), std::string::npos);  // the stored value stays
    EXPECT_EQ(*f.b.outerOrigin(), f.source);
}

TEST(BackdropLayout, AspectRatioGrowsTheShortSide) {
    Fixture f;
    f.b.applyConfig({{"isOn", 1}, {"padding", 20}, {"inset", -1}, {"ratio", "16:9"}});
    const services::Rect o = *f.b.outerOrigin();
    EXPECT_EQ(o.width, 1040);
    EXPECT_EQ(o.height, 585);  // 1040 × 9 / 16
    auto p = f.b.paddings();
    EXPECT_EQ(p.padBL, 20);
    EXPECT_EQ(p.padBB + p.padBT, 585 - 300);
    EXPECT_LE(std::abs(p.padBB - p.padBT), 1);

    f.source = {0, 0, 300, 1000};  // a tall capture grows sideways
    f.b.layout();
    EXPECT_NEAR(f.b.outerOrigin()->width / f.b.outerOrigin()->height, 16.0 / 9, 0.01);
    f.b.applyConfig({{"ratio", "nonsense"}});
    EXPECT_EQ(f.b.outerOrigin()->width, 340);
}

TEST(BackdropLayout, ObjectsBeyondTheImageWidenTheCanvas) {
    Fixture f;
    f.source = {0, 0, 200, 100};
    f.objects = services::Rect{-30, 10, 150, 102.5};  // 30 to the left, 12.5 above the top
    for (double dpr : {1.0, 2.0}) {
        f.dpr = dpr;
        f.b.applyConfig({{"isOn", 1}, {"padding", 8}, {"inset", -1}, {"ratio", "auto"}});
        auto p = f.b.paddings();
        EXPECT_EQ(p.padCL, 30);
        EXPECT_EQ(p.padCT, 13);
        EXPECT_EQ(p.padCR, 0);
        const services::Rect o = *f.b.outerOrigin();
        EXPECT_EQ(o.x1, -30 - 8 * dpr);
        EXPECT_EQ(o.width, 200 + 30 + 16 * dpr);
        EXPECT_EQ(o.height, 100 + 13 + 16 * dpr);
        EXPECT_EQ(f.b.canvasPixelCount(), 230 * 113);
    }
    f.objects.reset();
    f.b.layout();
    EXPECT_EQ(f.b.outerOrigin()->width, 200 + 32);
}

TEST(BackdropLayout, WithTheBackdropOffTheCanvasStillGrowsToTheObjects) {
    Fixture f;
    f.source = {0, 0, 200, 100};
    f.b.applyConfig({{"isOn", 0}, {"padding", 8}, {"inset", 12}, {"ratio", "16:9"}});
    // A capture added to the right of the screenshot, lower than its top.
    f.objects = services::Rect{0, 0, 200 + 20 + 300, 80};
    f.b.layout();
    auto p = f.b.paddings();
    EXPECT_EQ(p.padCR, 320);
    EXPECT_EQ(p.padCL, 0) << "no inset without the backdrop";
    EXPECT_EQ(p.padBL + p.padBR + p.padBT + p.padBB, 0) << "no backdrop padding or ratio either";
    ASSERT_TRUE(f.b.outerOrigin());
    EXPECT_EQ(f.b.outerOrigin()->width, 520);
    EXPECT_EQ(f.b.outerOrigin()->height, 100);
    f.objects.reset();
    f.b.layout();
    EXPECT_EQ(f.b.paddings().padCR, 0);
    EXPECT_EQ(f.b.outerOrigin()->width, 200) << "without objects beyond it, the screenshot alone";
}

TEST(BackdropLayout, RadiiAreClampedToTheShapes) {
    Fixture f;
    f.source = {0, 0, 200, 100};
    f.b.applyConfig({{"isOn", 1}, {"padding", 10}, {"inset", -1}, {"outerRadius", 500}, {"innerRadius", -3}});
    EXPECT_EQ(f.b.outerRadiusPx(), 60);  // half of 120
    EXPECT_EQ(f.b.innerRadiusPx(), 0);
    f.dpr = 2;
    f.b.applyConfig({{"outerRadius", 5}, {"innerRadius", 300}});
    EXPECT_EQ(f.b.outerRadiusPx(), 10);
    EXPECT_EQ(f.b.innerRadiusPx(), 50);
}

TEST(BackdropSwitching, TurnOffToggleAndTheSizeLimit) {
    Fixture f;
    f.b.applyConfig({{"isOn", 1}, {"padding", 10}, {"inset", 4}, {"outerRadius", 9}, {"innerRadius", 9}});
    f.b.turnOff();
    EXPECT_EQ(f.b.isOn(), 0);
    EXPECT_EQ(f.b.c.inset, -1);
    EXPECT_EQ(f.b.c.padding, 0);
    EXPECT_EQ(f.b.outerRadiusPx() + f.b.innerRadiusPx(), 0);
    ASSERT_TRUE(f.b.outerOrigin());
    EXPECT_EQ(f.b.outerOrigin()->width, f.source.width) << "off, the composition is the screenshot";
    EXPECT_EQ(f.b.outerOrigin()->height, f.source.height);
    EXPECT_TRUE(f.b.lbackdrop()->isHidden());

    f.source = {0, 0, 5000, 3001};  // just over 15 megapixels
    f.b.toggle("test");
    EXPECT_EQ(f.b.isOn(), 0);
    ASSERT_EQ(f.notices.size(), 1u);

    f.source = {0, 0, 5000, 3000};
    f.b.toggle("test");
    EXPECT_EQ(f.b.isOn(), 1);
    EXPECT_FALSE(f.b.lbackdrop()->isHidden());
    f.b.toggle("test");
    EXPECT_EQ(f.b.isOn(), 0);
    EXPECT_EQ(f.notices.size(), 1u);
}

TEST(BackdropSwitching, SwitchingOnTakesTheStoredLookNotTheClearedOne) {
    services::Settings::shared().setBdrConfig("");
    Fixture f;
    f.b.applyConfig({{"padding", 24}, {"outerRadius", 6}});
    f.b.store();
    f.b.turnOff();  // a new screenshot arrives
    f.b.toggle("test");
    EXPECT_EQ(f.b.c.padding, 24);
    EXPECT_EQ(f.b.c.outerRadius, 6);
    services::Settings::shared().setBdrConfig("");
}

TEST(BackdropKeys, ShadowStepAndRandomiseOnlyWhileShown) {
    Fixture f;
    f.b.applyConfig({{"isOn", 0}, {"shadow", 0.5}});
    EXPECT_FALSE(f.b.handleHotkey(kit::KeyCode::J, false, false, false, false, "j"));
    f.b.applyConfig({{"isOn", 1}});
    std::vector<double> seen;
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(f.b.handleHotkey(kit::KeyCode::J, false, false, false, false, "j"));
        seen.push_back(f.b.c.shadow);
    }
    EXPECT_EQ(seen, (std::vector<double>{0.75, 0, 0.25, 0.5}));
    EXPECT_NE(services::Settings::shared().bdrConfig().find("\"shadow\":0.5"), std::string::npos);

    const auto start = f.b.c.gradientStart;
    EXPECT_TRUE(f.b.handleHotkey(kit::KeyCode::K, true, false, false, false, "K"));
    EXPECT_NE(f.b.c.gradientStart, start);
    EXPECT_FALSE(f.b.handleHotkey(kit::KeyCode::K, false, false, false, false, "k"));  // the editor's toggle
    EXPECT_FALSE(f.b.handleHotkey(kit::KeyCode::J, false, true, false, false, "j"));
    services::Settings::shared().setBdrConfig("");
}

TEST(BackdropTelemetry, InfoIsRoundedAndOffSaysOnlyThat) {
    Fixture f;
    EXPECT_EQ(f.b.telemetryInfo().size(), 1u);
    f.b.applyConfig({{"isOn", 1}, {"padding", 12.3456}, {"shadow", 0.333}, {"ratio", "1:1"}});
    const kit::Json t = f.b.telemetryInfo();
    EXPECT_DOUBLE_EQ(t["padding"].get<double>(), 12.35);
    EXPECT_DOUBLE_EQ(t["shadow"].get<double>(), 0.33);
    EXPECT_EQ(t["ratio"], "1:1");
}

}  // namespace
