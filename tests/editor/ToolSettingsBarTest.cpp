#include <gtest/gtest.h>

#include "WindowFixture.h"
#include "editor/ToolSettingsBar.h"
#include "imaging/PixelSampling.h"
#include "kit/base/Timer.h"
#include "services/Settings.h"

namespace editor {
namespace {

class Bar : public ::testing::Test {
protected:
    // A picked colour becomes the stored default: it goes back afterwards.
    void SetUp() override {
        setParts(&parts_);
        colour_ = services::Settings::shared().defaultColor();
    }
    void TearDown() override {
        setParts(nullptr);
        services::Settings::shared().setDefaultColor(colour_);
    }
    std::string colour_;
    // The controls that show, by name.
    std::vector<std::string> shown() const {
        std::vector<std::pair<std::string, kit::View*>> all = {
            {"lineType", bar_.scLineType.get()}, {"arrowType", bar_.scArrowType.get()},
            {"style", bar_.btnArrowStyle.get()}, {"conceal", bar_.scConcealType.get()},
            {"ruler", bar_.scRulerPixels.get()}, {"size", bar_.sliderSize.get()},
            {"color", bar_.btnColor.get()},      {"transparency", bar_.btnTransparency.get()},
            {"gif", bar_.btnGIF.get()},          {"fill", bar_.scFill.get()},
            {"shape", bar_.scShape.get()},       {"correction", bar_.scShapeCorrection.get()}};
        std::vector<std::string> out;
        for (auto& [name, v] : all)
            if (!v->isHidden()) out.push_back(name);
        return out;
    }
    RecordingParts parts_;
    ToolSettingsBar bar_;
};

using V = std::vector<std::string>;

TEST_F(Bar, EachTypeShowsItsControls) {
    bar_.updateToolSettings("ObjText");
    EXPECT_EQ(shown(), (V{"size", "color"}));
    bar_.updateToolSettings("ObjCounter");
    EXPECT_EQ(shown(), (V{"style", "size", "color"}));
    EXPECT_TRUE(bar_.btnArrowStyle->isEnabled());
    bar_.updateToolSettings("ObjLine");
    EXPECT_EQ(shown(), (V{"lineType", "size", "color"}));
    bar_.updateToolSettings("ObjConceal");
    EXPECT_EQ(shown(), (V{"conceal", "size"}));
    bar_.updateToolSettings("ObjRuler");
    EXPECT_EQ(shown(), (V{"ruler", "color"}));
    bar_.updateToolSettings("ObjImage");
    EXPECT_EQ(shown(), (V{"size", "color", "transparency", "gif"}));
    bar_.updateToolSettings("ObjOval");
    EXPECT_EQ(shown(), (V{"size", "color", "fill"}));
    bar_.updateToolSettings("ObjSpotlight");
    EXPECT_EQ(shown(), (V{"size", "color", "shape"}));
    bar_.updateToolSettings("ObjFreehand");
    EXPECT_EQ(shown(), (V{"size", "color", "correction"}));
}

TEST_F(Bar, ValuesLoadIntoTheControls) {
    parts_.values = {{"arrowType", "1"}, {"color", "#00AFEE"}, {"size", "5"}};
    bar_.updateToolSettings("ObjArrow");
    EXPECT_EQ(bar_.scArrowType->selectedSegment(), 1);
    EXPECT_FALSE(bar_.btnArrowStyle->isHidden());
    EXPECT_FALSE(bar_.btnArrowStyle->isEnabled());
    EXPECT_EQ(imaging::hexString(bar_.btnColor->backgroundColor), "#00AFEE");
    EXPECT_EQ(bar_.sliderSize->value(), 5);
    parts_.values["arrowType"] = "0";
    bar_.updateToolSettings("ObjArrow");
    EXPECT_TRUE(bar_.btnArrowStyle->isEnabled());

    parts_.values = {{"concealType", "erase-text"}};
    bar_.updateToolSettings("ObjConceal");
    EXPECT_EQ(bar_.scConcealType->selectedSegment(), 3);
    parts_.values = {{"transparency", "true"}, {"size", "big"}, {"color", "no colour"}};
    bar_.updateToolSettings("ObjImage");
    EXPECT_EQ(bar_.btnTransparency->state(), kit::ControlState::On);
    EXPECT_EQ(bar_.sliderSize->value(), 0);
    EXPECT_EQ(bar_.btnColor->backgroundColor, kit::Color::black());
}

TEST_F(Bar, WithoutValuesEveryControlShowsItsFirstChoice) {
    parts_.values.clear();
    bar_.updateToolSettings("ObjRectangleObjSpotlightObjFreehandObjLineObjImage");
    for (auto* sc :
         {bar_.scFill.get(), bar_.scShape.get(), bar_.scShapeCorrection.get(), bar_.scLineType.get()})
        EXPECT_EQ(sc->selectedSegment(), 0);
    EXPECT_EQ(bar_.btnColor->backgroundColor, kit::Color::black());
    EXPECT_EQ(bar_.sliderSize->value(), 0);
    EXPECT_EQ(bar_.btnTransparency->state(), kit::ControlState::Off);
    parts_.values = {{"fill", "55"}};
    bar_.updateToolSettings("ObjRectangle");
    EXPECT_EQ(bar_.scFill->selectedSegment(), 0);
}

TEST_F(Bar, ChangesAreWrittenThroughTheObjectManager) {
    bar_.scFill->setSelectedSegment(1);
    bar_.setSegValue(*bar_.scFill, "fill", ToolSettingsBar::kFills);
    bar_.sliderSize->setValue(4);
    bar_.editorSetSize();
    bar_.btnTransparency->setState(kit::ControlState::On);
    bar_.editorSetTransparency();
    bar_.editorChangeArrowStyle();
    bar_.editorGIF();
    EXPECT_EQ(
        parts_.written,
        (std::vector<std::pair<std::string, std::string>>{
            {"fill", "40"}, {"size", "4"}, {"transparency", "true"}, {"changeStyle", ""}, {"saveGIF", ""}}));
    EXPECT_EQ(parts_.flushes, 4);  // no re-layout after the GIF export
    // A segment outside the codes writes nothing.
    parts_.written.clear();
    bar_.scShape->setSelectedSegment(-1);
    bar_.setSegValue(*bar_.scShape, "shape", ToolSettingsBar::kShapes);
    EXPECT_TRUE(parts_.written.empty());
}

TEST_F(Bar, PickedColoursBecomeTheDefaultExceptForTheHighlighter) {
    bar_.customColorHeld = [] { return false; };
    services::Settings::shared().setDefaultColor("#F44723");
    parts_.type = "ObjHighlighter";
    bar_.editorPickColor();
    bar_.colorPicker->onClick(*bar_.colorPicker->swatches[1]);
    EXPECT_EQ(services::Settings::shared().defaultColor(), "#F44723");
    EXPECT_EQ(parts_.written.back(), (std::pair<std::string, std::string>{"color", "#00AFEE"}));
    parts_.type = "ObjRectangle";
    bar_.editorPickColor();
    bar_.colorPicker->onClick(*bar_.colorPicker->swatches[2]);
    EXPECT_EQ(services::Settings::shared().defaultColor(), "#1C2B41");
    EXPECT_EQ(imaging::hexString(bar_.btnColor->backgroundColor), "#1C2B41");
    bar_.colorPicker->popover.close();
}

TEST_F(Bar, ADragMutesTheBarOnce) {
    kit::ManualClockScope clock;
    bar_.muteToolSettingsSoon();
    bar_.muteToolSettingsSoon();
    EXPECT_EQ(clock.clock().pendingCount(), 1u);
    clock.advance(0.31);
    EXPECT_FLOAT_EQ(bar_.svEditor->targetOpacity, 0.35f);
    bar_.svEditor->unmute();
}

TEST(ColorPickerTest, TheFourthSwatchIsTheCustomColourOfTheConsumer) {
    services::Settings::shared().setCustomHighlighterColor("#FFDAEF");
    services::Settings::shared().setCustomDrawingColor("#123456");
    ColorPicker picker;
    picker.setColors(ToolSettingsBar::kDefaultPalette, "ObjHighlighter");
    ASSERT_EQ(picker.swatches.size(), 8u);
    EXPECT_EQ(imaging::hexString(picker.swatches[3]->backgroundColor), "#FFDAEF");
    picker.setColors(ToolSettingsBar::kDefaultPalette, "ObjArrow");
    EXPECT_EQ(imaging::hexString(picker.swatches[3]->backgroundColor), "#123456");
    // A shorter list recolours only its own swatches.
    picker.setColors({"#000001", "#000002", "#000003", "#000004", "#000005"}, "ObjArrow");
    ASSERT_EQ(picker.swatches.size(), 8u);
    EXPECT_EQ(imaging::hexString(picker.swatches[4]->backgroundColor), "#000005");
    EXPECT_EQ(imaging::hexString(picker.swatches[5]->backgroundColor), "#7758EF");
    EXPECT_EQ(picker.content->frame().size, (kit::Size{140, 108}));
    EXPECT_EQ(picker.swatches[5]->frame(), (kit::Rect{42, 74, 24, 24}));
}

TEST(ColorPickerTest, PanelChangesAreKeptPerConsumerAndReported) {
    services::Settings::shared().setCustomDrawingColor("#F6F4E7");
    ColorPicker picker;
    auto launcher = std::make_shared<controls::CtrlColorButton>();
    std::vector<std::string> reported;
    picker.show(launcher, "ObjHighlighter", false,
                [&](kit::Color c) { reported.push_back(imaging::hexString(c)); });
    picker.popover.close();
    picker.macColorPicked(kit::Color::rgb(10, 20, 30));
    picker.macColorPicked(kit::Color::rgb(40, 50, 60));
    EXPECT_EQ(reported, (std::vector<std::string>{"#0A141E", "#28323C"}));
    EXPECT_EQ(services::Settings::shared().customHighlighterColor(), "#28323C");
    EXPECT_EQ(services::Settings::shared().customDrawingColor(), "#F6F4E7");
    EXPECT_EQ(imaging::hexString(launcher->backgroundColor), "#28323C");
}

TEST(ColorPickerTest, TheSwatchOfTheLauncherColourShowsSelected) {
    ColorPicker picker;
    auto launcher = std::make_shared<controls::CtrlColorButton>();
    launcher->backgroundColor = imaging::cgColor("#7758EF", 1);
    picker.show(launcher, "ObjArrow", false, {});
    for (size_t i = 0; i < picker.swatches.size(); ++i)
        EXPECT_EQ(picker.swatches[i]->state(), i == 5 ? 1 : 0);
    picker.popover.close();
    // The panel goes 10 points inside the window's right edge, 115 below its top.
    EXPECT_EQ(ColorPicker::panelOrigin({100, 100, 1000, 700}, {300, 400}), (kit::Point{790, 285}));
}

}  // namespace
}  // namespace editor

#include "editor/ObjectHandlers.h"
#include "objects/ProtoObject.h"

namespace editor {
namespace {

TEST(ArmedTool, ChangesWithOnlyAToolArmedReachItsNextObject) {
    // What it stores goes again: other tests' objects start from the defaults.
    struct Restore {
        std::string colour = services::Settings::shared().defaultColor();
        ~Restore() {
            services::Settings::shared().setDefaultColor(colour);
            for (auto [tool, key] :
                 {std::pair{"ObjArrow", "size"}, {"ObjArrow", "arrowType"}, {"ObjHighlighter", "color"}})
                services::Settings::shared().storage().remove(objects::ProtoObject::optionKeyFor(tool, key));
        }
    } restore;
    EXPECT_TRUE(setArmedToolValue("ObjArrow", "size", "5"));
    EXPECT_TRUE(setArmedToolValue("ObjArrow", "arrowType", "2"));
    EXPECT_TRUE(setArmedToolValue("ObjHighlighter", "color", "#C2EAFE"));
    // Options a tool does not keep for itself are not written anywhere.
    EXPECT_FALSE(setArmedToolValue("ObjRectangle", "fill", "40"));
    EXPECT_FALSE(setArmedToolValue("", "size", "3"));
    EXPECT_EQ(armedToolValue("ObjArrow", "size"), std::optional<std::string>("5"));
    services::Settings::shared().setDefaultColor("#7758EF");
    EXPECT_EQ(armedToolValue("ObjRectangle", "color"), std::optional<std::string>("#7758EF"));
    EXPECT_EQ(armedToolValue("ObjRectangle", "fill"), std::nullopt);

    ObjectHandlers& m = ObjectHandlers::shared();
    auto arrow = m.make("ObjArrow");
    auto marker = m.make("ObjHighlighter");
    ASSERT_TRUE(arrow && marker);
    EXPECT_EQ(arrow->getValue("size"), std::optional<std::string>("5"));
    EXPECT_EQ(arrow->getValue("arrowType"), std::optional<std::string>("2"));
    EXPECT_EQ(marker->getValue("color"), std::optional<std::string>("#C2EAFE"));
    m.clear();
}

}  // namespace
}  // namespace editor
