#include <gtest/gtest.h>

#include "WindowFixture.h"
#include "controls/Animator.h"
#include "editor/Framer.h"
#include "kit/base/Timer.h"
#include "kit/draw/TextMeasure.h"
#include "services/Settings.h"

namespace editor {
namespace {

using Tools = WindowFixture;

int stateOf(controls::CtrlToolbar& bar, const std::string& title) {
    for (auto* b : bar.itemButtons())
        if (b->title() == title) return b->state();
    return -1;
}

TEST_F(Tools, EachItemArmsItsToolThroughTheCore) {
    const std::pair<const char*, const char*> table[] = {
        {"Arrow (A)", "ObjArrow"},
        {"Text (T)", "ObjText"},
        {"Rectangle (R)", "ObjRectangle"},
        {"Freehand Drawing (D)", "ObjFreehand"},
        {"Blur/Erase (B)", "ObjConceal"},
        {"Highlighter (H)", "ObjHighlighter"},
        {"Spotlight (S)", "ObjSpotlight"},
        {"Counter (C)", "ObjCounter"},
        {"Oval (O)", "ObjOval"},
        {"Line (L)", "ObjLine"},
        // A "More tools" choice carries the menu title, without the key.
        {"Blur/Erase", "ObjConceal"},
    };
    for (auto [title, cls] : table) {
        core_.calls.clear();
        c->toolbarClick(title);
        ASSERT_EQ(core_.calls.size(), 1u) << title;
        EXPECT_EQ(core_.calls[0], std::string("selectTool ") + cls + " toolbar") << title;
    }
}

TEST_F(Tools, ClickingTheArmedToolAgainDisarmsIt) {
    parts_.armed = "ObjArrow";
    c->toolbarInstruments->select("arrow");
    c->toolbarClick("Arrow (A)");
    EXPECT_TRUE(core_.calls.empty());
    EXPECT_EQ(parts_.armed, "");
    EXPECT_EQ(stateOf(*c->toolbarInstruments, "Crop/Select (V)"), 1);
    EXPECT_EQ(stateOf(*c->toolbarInstruments, "Arrow (A)"), 0);
    // Another tool arms as usual.
    parts_.armed = "ObjArrow";
    c->toolbarClick("Oval (O)");
    EXPECT_EQ(core_.calls, std::vector<std::string>{"selectTool ObjOval toolbar"});
}

TEST_F(Tools, ACropSelectionOnlyDisarms) {
    parts_.crop = true;
    parts_.armed = "ObjLine";
    c->toolbarClick("Rectangle (R)");
    EXPECT_TRUE(core_.calls.empty());
    EXPECT_EQ(parts_.armed, "");
    EXPECT_EQ(parts_.calls, std::vector<std::string>{"deactivate"});
    EXPECT_EQ(parts_.flushes, 1);
}

TEST_F(Tools, RulerCropCaptureAndBackdropArmNothing) {
    kit::ManualClockScope clock;
    c->toolbarClick("Ruler (1 or 2)");
    EXPECT_NE(c->viewController->ctrlHelperHelp->state, "hidden");
    EXPECT_EQ(stateOf(*c->toolbarInstruments, "Crop/Select (V)"), 1);
    c->toolbarClick("Crop/Select (V)");
    c->toolbarClick("Add Capture (\u2318A)");
    c->toolbarClick("Backdrop (K)");
    EXPECT_EQ(core_.calls, (std::vector<std::string>{"addCapture toolbar", "backdrop toolbar"}));
    c->viewController->hideHelpers();
    clock.advance(1);
}

TEST_F(Tools, WithoutGrowingToolbarAtMostElevenSlotsShow) {
    EXPECT_EQ(c->toolbarInstruments->maxCapacity, services::Settings::shared().growingToolbar() ? 999 : 11);
    c->toolbarInstruments->setFrameSize({2000, 30});
    int shown = 0;
    for (auto* b : c->toolbarInstruments->itemButtons()) shown += b->isHidden() ? 0 : 1;
    EXPECT_LE(shown, 11);
    EXPECT_FALSE(c->toolbarInstruments->btnMore->isHidden());
}

using Modes = WindowFixture;

TEST_F(Modes, TheBarsFollowTheEditorMode) {
    kit::ManualClockScope clock;
    auto& bar = *c->viewController->toolSettings.svEditor;
    c->applySelectionMode("selection");
    clock.advance(1);
    EXPECT_TRUE(c->toolbarInstruments->isHidden());
    EXPECT_FALSE(c->btnCrop->isHidden());
    EXPECT_FALSE(c->scSelectionButtons->isHidden());
    EXPECT_TRUE(bar.isHidden());

    parts_.type = "ObjArrow";
    parts_.values["arrowType"] = "1";
    c->applySelectionMode("ObjArrow");
    EXPECT_TRUE(c->btnCrop->isHidden());
    EXPECT_TRUE(c->scSelectionButtons->isHidden());
    clock.advance(1);
    EXPECT_FALSE(c->toolbarInstruments->isHidden());
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(c->viewController->toolSettings.scArrowType->selectedSegment(), 1);

    c->applySelectionMode("default");
    clock.advance(1);
    EXPECT_TRUE(c->btnCrop->isHidden());
    EXPECT_TRUE(c->scSelectionButtons->isHidden());
    EXPECT_TRUE(bar.isHidden());
    EXPECT_FALSE(c->toolbarInstruments->isHidden());
}

TEST(StatusText, ZoomSizeAndUnits) {
    EXPECT_EQ(statusZoomText(50), "50%");
    // Sizes round up to whole points.
    EXPECT_EQ(statusSizeText(101, 51, 2, false), "51\u00D726\u200Apt");
    EXPECT_EQ(statusSizeText(1280, 720, 2, true), "1280\u00D7720\u200Apx");
    // A selection drawn leftwards has a negative width.
    EXPECT_EQ(statusSizeText(-101, 51, 1, false), "101\u00D751\u200Apt");
}

TEST(StatusText, ColourReadoutWidthByFormat) {
    EXPECT_EQ(colorLabelWidth("HEX"), 102);
    EXPECT_EQ(colorLabelWidth("HEXno"), 102);
    EXPECT_EQ(colorLabelWidth("RGBA"), 112);
    EXPECT_EQ(colorLabelWidth("CSharp"), 112);
    EXPECT_EQ(colorLabelWidth("RGB1"), 120);
    EXPECT_EQ(colorLabelWidth("UIColor"), 120);
    EXPECT_EQ(colorLabelWidth("no such format"), 102);
}

using Status = WindowFixture;

TEST_F(Status, ShowStatusFillsBothZoomLabelsAndTheSwatch) {
    c->showStatus(50, "51\u00D726\u200Apt", "Selection size", "#112233", kit::Color::rgb(0x11, 0x22, 0x33));
    EXPECT_EQ(c->labelZoom->stringValue(), "50%");
    EXPECT_EQ(c->viewController->labelZoom->stringValue(), "50%");
    EXPECT_EQ(c->labelSize->stringValue(), "51\u00D726\u200Apt");
    EXPECT_EQ(c->labelSizeDescription->stringValue(), "Selection size");
    EXPECT_EQ(c->labelColor->stringValue(), "#112233");

    // A picture at the size cap: its whole size shows in the box.
    const double usual = c->labelSize->fittingSize().width;
    c->showStatus(3, "16000\u00D716000\u200Apt", "Image size", "#112233", kit::Color::rgb(0x11, 0x22, 0x33));
    EXPECT_GT(kit::measureText(c->labelSize->stringValue(), kit::Font{}).width,
              c->labelSize->frame().width());
    EXPECT_LE(c->labelSize->fittingSize().width, c->labelSize->frame().width());
    c->showStatus(50, "51\u00D726\u200Apt", "Image size", "#112233", kit::Color::rgb(0x11, 0x22, 0x33));
    EXPECT_EQ(c->labelSize->fittingSize().width, usual) << "a size that fits keeps the usual type";
}

kit::Event keyEvent(kit::EventType type, uint16_t code, uint32_t flags, std::string chars = "") {
    kit::Event e;
    e.type = type;
    e.keyCode = code;
    e.modifierFlags = flags;
    e.characters = chars;
    e.charactersIgnoringModifiers = chars;
    return e;
}

TEST(Keys, ModifierChangesReportShiftAndCommandOnly) {
    namespace KeyCode = kit::KeyCode;
    using kit::ModifierFlag::Command;
    using kit::ModifierFlag::Shift;
    auto rightShiftDown = modifierKeyEvt(keyEvent(kit::EventType::FlagsChanged, KeyCode::RightShift, Shift));
    ASSERT_TRUE(rightShiftDown);
    EXPECT_TRUE(rightShiftDown->first);
    EXPECT_EQ(rightShiftDown->second.code, 56);
    EXPECT_TRUE(rightShiftDown->second.modifiers.shift);
    EXPECT_EQ(rightShiftDown->second.chars, std::optional<std::string>(""));
    auto shiftUp = modifierKeyEvt(keyEvent(kit::EventType::FlagsChanged, KeyCode::Shift, 0));
    ASSERT_TRUE(shiftUp);
    EXPECT_FALSE(shiftUp->first);
    EXPECT_EQ(shiftUp->second.code, 56);
    auto leftCommand =
        modifierKeyEvt(keyEvent(kit::EventType::FlagsChanged, KeyCode::Command, Command | Shift));
    ASSERT_TRUE(leftCommand);
    EXPECT_TRUE(leftCommand->first);
    EXPECT_EQ(leftCommand->second.code, 54);
    EXPECT_TRUE(leftCommand->second.modifiers.shift);
    EXPECT_FALSE(
        modifierKeyEvt(keyEvent(kit::EventType::FlagsChanged, KeyCode::Option, kit::ModifierFlag::Option)));
    EXPECT_FALSE(
        modifierKeyEvt(keyEvent(kit::EventType::FlagsChanged, KeyCode::Control, kit::ModifierFlag::Control)));
}

TEST(Keys, TheMonitorTakesEscAndTabOnlyForTheKeyEditorWithoutAModal) {
    namespace KeyCode = kit::KeyCode;
    EXPECT_TRUE(monitorTakesKey(KeyCode::Escape, true, false, true, false));
    EXPECT_TRUE(monitorTakesKey(KeyCode::Tab, true, false, true, false));
    EXPECT_FALSE(monitorTakesKey(KeyCode::A, true, false, true, false));
    EXPECT_FALSE(monitorTakesKey(KeyCode::Escape, true, false, true, true));    // a modal dialog runs
    EXPECT_FALSE(monitorTakesKey(KeyCode::Escape, true, false, false, false));  // another window has the keys
    EXPECT_FALSE(monitorTakesKey(KeyCode::Tab, false, false, true, false));
    EXPECT_FALSE(monitorTakesKey(KeyCode::Tab, true, true, true, false));
}

using KeyForwarding = WindowFixture;

TEST_F(KeyForwarding, KeysReachTheDispatcherAndTheGameTakesKeyDownsWhileItRuns) {
    namespace KeyCode = kit::KeyCode;
    c->handleKeyDown(keyEvent(kit::EventType::KeyDown, KeyCode::A, 0, "a"));
    c->handleFlagsChanged(keyEvent(kit::EventType::FlagsChanged, KeyCode::Option, kit::ModifierFlag::Option));
    ASSERT_EQ(parts_.downs.size(), 1u);
    EXPECT_EQ(parts_.downs[0].code, 0);
    EXPECT_EQ(parts_.downs[0].chars, std::optional<std::string>("a"));

    c->imgToolbarLogo->isOn = true;
    c->handleKeyDown(keyEvent(kit::EventType::KeyDown, KeyCode::LeftArrow, 0));
    c->handleKeyUp(keyEvent(kit::EventType::KeyUp, KeyCode::LeftArrow, 0));
    c->imgToolbarLogo->isOn = false;
    EXPECT_EQ(parts_.downs.size(), 1u);
    ASSERT_EQ(parts_.ups.size(), 1u);
    EXPECT_EQ(parts_.ups[0].code, KeyCode::LeftArrow);
}

TEST_F(KeyForwarding, CtrlZUndoesOnceUnlessATextIsEditedOrShiftIsHeld) {
    namespace KeyCode = kit::KeyCode;
    using kit::ModifierFlag::Command;
    c->handleKeyDown(keyEvent(kit::EventType::KeyDown, KeyCode::Z, Command, "z"));
    EXPECT_EQ(parts_.calls, std::vector<std::string>{"undo"});
    EXPECT_EQ(parts_.downs.size(), 1u);  // the key table sees it too
    parts_.calls.clear();
    c->handleKeyDown(keyEvent(kit::EventType::KeyDown, KeyCode::Z, Command | kit::ModifierFlag::Shift, "Z"));
    parts_.editing = true;
    c->handleKeyDown(keyEvent(kit::EventType::KeyDown, KeyCode::Z, Command, "z"));
    c->handleKeyDown(keyEvent(kit::EventType::KeyDown, KeyCode::Z, 0, "z"));
    EXPECT_TRUE(parts_.calls.empty());
}

using Buttons = WindowFixture;

TEST_F(Buttons, ExportAndSelectionSegmentsRunTheirCommands) {
    for (int i = 0; i < 3; ++i) {
        c->scExportButtons->setSelectedSegment(i);
        c->scExportClick();
    }
    EXPECT_EQ(core_.calls, (std::vector<std::string>{"copyImage", "saveImage toolbar", "pinImage"}));
    core_.calls.clear();
    for (int i = 0; i < 6; ++i) {
        c->scSelectionButtons->setSelectedSegment(i);
        c->scSelectionClick();
    }
    EXPECT_EQ(core_.calls, (std::vector<std::string>{"ocrSelection toolbar", "selectRulerTool",
                                                     "selectConcealTool", "mode default"}));
    EXPECT_EQ(parts_.calls, (std::vector<std::string>{"actionAdjust", "growSelection", "relayout", "relayout",
                                                      "resetCropTool", "relayout"}));
}

TEST_F(Buttons, TheCloseButtonHidesAndNeverCloses) {
    EXPECT_FALSE(c->windowShouldClose(*c->window));
    EXPECT_EQ(core_.calls, std::vector<std::string>{"hideMainWindow"});
}

using Resize = WindowFixture;

TEST_F(Resize, TheImagePointAtTheCentreStaysThereAndTheLogoNeedsRoom) {
    Framer& f = Framer::shared();
    f._dpr.set(2);
    c->window->setContentSize({1000, 600});
    c->windowResized();
    f._zoom.set(0.5);
    f.crop = f.source = f.original = services::Rect{0, 0, 3000, 2000};
    f.setOffset({1234, 777}, {f.area.width / 2, f.area.height / 2});
    c->window->setContentSize({1400, 800});
    c->windowResized();
    kit::Size canvas = c->viewController->shotView->frame().size;
    EXPECT_EQ(f.area.width, canvas.width * 2);
    EXPECT_EQ(f.area.height, canvas.height * 2);
    // The canvas sits below the bar: its size is the viewport, not the window's.
    kit::Point centre = f.viewToImage({f.area.width / 2, f.area.height / 2});
    EXPECT_NEAR(centre.x, 1234, 1.5);
    EXPECT_NEAR(centre.y, 777, 1.5);

    kit::ManualClockScope clock;
    c->window->setContentSize({919, 600});
    c->windowResized();
    EXPECT_TRUE(c->imgToolbarLogo->isHidden());
    c->window->setContentSize({920, 600});
    c->windowResized();
    clock.advance(1);
    EXPECT_FALSE(c->imgToolbarLogo->isHidden());
}

TEST_F(Resize, TheSelectionButtonsNeverRunUnderTheReadOutOrTheExportButtons) {
    kit::ManualClockScope clock;
    auto visible = [](const kit::View& v) { return !v.isHidden(); };
    // 480 is the narrowest the window goes.
    ASSERT_LE(c->window->minSize().width, 480);
    double narrowButtons = 0;
    for (double width : {1400.0, 960.0, 836.0, 700.0, 640.0, 560.0, 480.0}) {
        SCOPED_TRACE(width);
        c->window->setContentSize({width, 600});
        c->windowResized();
        c->applySelectionMode("selection");
        clock.advance(1);
        kit::Rect buttons = c->scSelectionButtons->frame();
        narrowButtons = buttons.width();
        ASSERT_TRUE(visible(*c->scSelectionButtons));
        if (visible(*c->viewInfoGroup)) {
            EXPECT_FALSE(buttons.intersects(c->viewInfoGroup->frame()));
        }
        EXPECT_FALSE(buttons.intersects(c->scExportButtons->frame()));
        EXPECT_FALSE(buttons.intersects(c->btnDragOut->frame()));
        EXPECT_FALSE(buttons.intersects(c->btnCrop->frame()));
        // Every segment lies inside the buttons' frame.
        kit::Rect last = c->scSelectionButtons->segmentFrame(c->scSelectionButtons->segmentCount() - 1);
        EXPECT_LE(last.maxX(), buttons.width() + 0.5);
        if (visible(*c->imgToolbarLogo)) {
            EXPECT_FALSE(buttons.intersects(c->imgToolbarLogo->frame()));
        }
        EXPECT_LE(c->scExportButtons->frame().maxX(), width);
        // The whole read-out, colour included, has room in a wide window.
        if (width >= 1400) {
            EXPECT_TRUE(visible(*c->labelColor->superview()) && visible(*c->viewInfoGroup));
        }

        // Without the selection the read-out and, when wide enough, the logo come back.
        c->applySelectionMode("default");
        clock.advance(1);
        EXPECT_TRUE(visible(*c->viewInfoGroup));
        // The narrowest window has no room for the colour beside the tools' first slots.
        EXPECT_EQ(visible(*c->labelColor->superview()), width > 480);
        EXPECT_EQ(visible(*c->imgToolbarLogo), width >= 920);
    }
    // Narrowed to icons, the selection buttons take their labels again in a wide window.
    c->window->setContentSize({1400, 600});
    c->windowResized();
    c->applySelectionMode("selection");
    EXPECT_GT(c->scSelectionButtons->frame().width(), 2 * narrowButtons);
}

}  // namespace
}  // namespace editor
