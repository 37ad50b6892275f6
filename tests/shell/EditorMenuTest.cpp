// The editor's menu bar: which items are enabled, the method texts, and the
// commands that must not misfire (Copy while a text is edited or an object is
// selected, Uncrop's keys).
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "ShellFixture.h"
#include "editor/CropTool.h"
#include "editor/EditorKeys.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/ObjectHandlers.h"
#include "editor/Ruler.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Event.h"
#include "kit/desktop/KeyLayout.h"
#include "kit/ui/Menu.h"
#include "kit/ui/Window.h"
#include "objects/PressedKeys.h"
#include "services/Settings.h"
#include "shell/EditorMenu.h"
#include "shell/EditorPartsLink.h"
#include "shortcuts/Name.h"
#include "shortcuts/ShortcutRecorder.h"

using namespace shell;

namespace {

class EditorMenuTest : public shelltest::ShellFixture {
protected:
    void TearDown() override {
        editor::Framer::shared().crop = editor::Framer::shared().original;
        objects::PressedKeys::shared().pressed.clear();
        ShellFixture::TearDown();
    }
    kit::MenuItem& item(EditorMenu::Action a) {
        menu.menu();
        auto* i = menu.item(a);
        // A helper that returns cannot ASSERT: the exception fails this test alone.
        if (!i) throw std::logic_error("the editor menu has no item for action " + std::to_string(int(a)));
        return *i;
    }
    bool enabled(EditorMenu::Action a) { return menu.validate(item(a)); }

    static kit::Event key(uint16_t code, const std::string& chars, uint32_t flags) {
        kit::Event e;
        e.type = kit::EventType::KeyDown;
        e.keyCode = code;
        e.characters = e.charactersIgnoringModifiers = chars;
        e.modifierFlags = flags;
        return e;
    }

    EditorMenu menu;
};

}  // namespace

TEST_F(EditorMenuTest, WithoutAKeyEditorWindowOnlyTheGeneralItemsAreEnabled) {
    using A = EditorMenu;
    // Print too: its Ctrl+P belongs to a thumbnail or pin that has the keyboard.
    for (auto a : {A::Save, A::SaveAs, A::Print, A::Upload, A::Pin, A::Rectangle, A::Blur, A::ZoomIn,
                   A::ZoomToFit, A::ChangeRealPixels})
        EXPECT_FALSE(enabled(a)) << item(a).title();
    for (auto a : {A::OpenFile, A::HelpFAQ, A::HelpReleases, A::Preferences, A::Quit, A::Copy, A::Rasterize})
        EXPECT_TRUE(enabled(a)) << item(a).title();

    // A shown editor window enables them, whether or not the window manager
    // has made it key yet.
    kit::Window window(kit::Rect{0, 0, 200, 100}, kit::WindowStyle::Titled);
    editorCore.window = &window;
    window.orderFront();
    ASSERT_TRUE(window.isVisible());
    for (auto a : {A::Save, A::SaveAs, A::Print, A::Upload, A::Pin, A::Rectangle, A::ZoomIn})
        EXPECT_TRUE(enabled(a)) << item(a).title();
    editorCore.window = nullptr;
}

TEST_F(EditorMenuTest, UncropIsEnabledOnlyWhenTheCropSizeDiffers) {
    auto& f = editor::Framer::shared();
    f.original = {0, 0, 400, 300};
    f.crop = {20, 10, 400, 300};
    EXPECT_FALSE(enabled(EditorMenu::Uncrop)) << "a moved origin alone";
    f.crop = {0, 0, 399, 300};
    EXPECT_TRUE(enabled(EditorMenu::Uncrop));
}

TEST_F(EditorMenuTest, UncropLeavesNoKeyHeld) {
    objects::PressedKeys::shared().pressed = {kit::KeyCode::Y};  // really held
    editorParts.pending = 2;
    menu.perform(EditorMenu::Uncrop, item(EditorMenu::Uncrop));
    EXPECT_EQ(editorCore.calls, std::vector<std::string>{"uncrop"});
    EXPECT_EQ(editorParts.calls, (std::vector<std::string>{"updateCursor", "relayout 2", "updateCursor"}));
    EXPECT_EQ(editorParts.pending, 0);
    EXPECT_EQ(objects::PressedKeys::shared().pressed, std::set<int>{kit::KeyCode::Y})
        << "Z let go, the held Y kept";
}

TEST_F(EditorMenuTest, CopyWhileATextIsEditedDoesNothing) {
    editorParts.editing = true;
    menu.perform(EditorMenu::Copy, item(EditorMenu::Copy));
    EXPECT_TRUE(editorCore.calls.empty());
    EXPECT_FALSE(menu.menu()->performKeyEquivalent(key(kit::KeyCode::C, "c", kit::ModifierFlag::Command)))
        << "Ctrl+C is left to the text";
    EXPECT_TRUE(editorCore.calls.empty());
    editorParts.editing = false;
    menu.perform(EditorMenu::Copy, item(EditorMenu::Copy));
    EXPECT_EQ(editorCore.calls, std::vector<std::string>{"copyImage"});
}

TEST_F(EditorMenuTest, CtrlCIsLeftToTheCanvasWhileAnObjectIsActive) {
    // The live link: the annotation object manager decides, not a double.
    EditorPartsLink live;
    setEditorLink(&live);
    editor::ObjectHandlers& objects = editor::ObjectHandlers::shared();
    objects.clear();
    const kit::Event ctrlC = key(kit::KeyCode::C, "c", kit::ModifierFlag::Command);
    ASSERT_TRUE(objects.addObject("ObjRectangle", {10, 10, 50, 40}));
    EXPECT_FALSE(menu.menu()->performKeyEquivalent(ctrlC)) << "Ctrl+C copies the selected object";
    EXPECT_TRUE(editorCore.calls.empty()) << "the whole image is not copied and the editor stays";
    objects.deactivate();
    EXPECT_TRUE(menu.menu()->performKeyEquivalent(ctrlC));
    EXPECT_EQ(editorCore.calls, std::vector<std::string>{"copyImage"});
    objects.clear();
    setEditorLink(&editorParts);
}

TEST_F(EditorMenuTest, MethodTextsSayHowTheItemWasChosen) {
    auto& rect = item(EditorMenu::Rectangle);
    rect.performAction();
    EXPECT_EQ(editorCore.calls.back(), "selectTool ObjRectangle menu");
    menu.perform(EditorMenu::Blur, item(EditorMenu::Blur));
    EXPECT_EQ(editorCore.calls.back(), "selectTool ObjConceal menu");

    // Chosen by a key equivalent: "hotkey:" for tools, "shortcut:" otherwise.
    rect.setKeyEquivalent("r", kit::ModifierFlag::Command);
    auto& quit = item(EditorMenu::Quit);
    kit::Window window(kit::Rect{0, 0, 200, 100}, kit::WindowStyle::Titled);
    editorCore.window = &window;
    window.makeKeyAndOrderFront();
    EXPECT_TRUE(menu.menu()->performKeyEquivalent(key(kit::KeyCode::R, "r", kit::ModifierFlag::Command)));
    EXPECT_EQ(editorCore.calls.back(), "selectTool ObjRectangle hotkey:r");
    EXPECT_TRUE(menu.menu()->performKeyEquivalent(key(kit::KeyCode::Q, "q", kit::ModifierFlag::Command)));
    EXPECT_EQ(editorCore.calls.back(), "quitOrHide shortcut:q");
    quit.performAction();
    EXPECT_EQ(editorCore.calls.back(), "quitOrHide menu");
    editorCore.window = nullptr;
}

TEST_F(EditorMenuTest, KeyEquivalentsAreCheckedAgainstTheRulesBeforeTheyRun) {
    // Ctrl+S with no editor window: Save is disabled, so nothing is saved.
    EXPECT_FALSE(menu.menu()->performKeyEquivalent(key(kit::KeyCode::S, "s", kit::ModifierFlag::Command)));
    EXPECT_TRUE(editorCore.calls.empty());
    // Menu keys need Ctrl: a plain letter stays the editor's.
    EXPECT_FALSE(menu.menu()->performKeyEquivalent(key(kit::KeyCode::Q, "q", 0)));
}

TEST_F(EditorMenuTest, CtrlOIsLeftToTheEditorsTextRecognition) {
    // Open File is always enabled, so a Ctrl+O key of its own would swallow the editor's key.
    EXPECT_FALSE(menu.menu()->performKeyEquivalent(key(kit::KeyCode::O, "o", kit::ModifierFlag::Command)));
    EXPECT_TRUE(editorCore.calls.empty());
}

TEST_F(EditorMenuTest, ZoomDirectionFromTheMenuSendsOneEventWithTheMenuMethod) {
    bool before = services::Settings::shared().altZoomDirection();
    size_t sent = events("setting-altZoomDirection").size();
    menu.perform(EditorMenu::ChangeAltZoom, item(EditorMenu::ChangeAltZoom));
    EXPECT_EQ(services::Settings::shared().altZoomDirection(), !before);
    auto after = events("setting-altZoomDirection");
    ASSERT_EQ(after.size(), sent + 1);
    EXPECT_EQ(after.back().value("method", ""), "menu");
}

namespace {

// The first word of the first call the doubles saw: the command that ran.
std::string firstCommand(std::initializer_list<const std::vector<std::string>*> logs) {
    for (const auto* log : logs)
        if (!log->empty()) return log->front().substr(0, log->front().find(' '));
    return "";
}

// The key-down that chooses `item` by its key equivalent, found by the item's own matching.
std::optional<kit::Event> keyDownFor(const kit::MenuItem& item) {
    kit::Event e;
    e.type = kit::EventType::KeyDown;
    for (uint32_t shift : {0u, kit::ModifierFlag::Shift}) {
        e.modifierFlags = item.keyEquivalentModifierMask() | shift;
        for (uint16_t code = 0; code < 128; ++code) {
            e.keyCode = code;
            if (item.matchesKeyEquivalent(e)) return e;
        }
    }
    return std::nullopt;
}

}  // namespace

// The menu sees every key before the editor's key table: a combination the
// table gives to one command must not run another from the menu. Every
// combination of the menu runs through the real key table (crop selection
// off and on) and through its item; where the table acts, both agree.
TEST_F(EditorMenuTest, TheMenuTakesNoCombinationTheEditorsKeyTableGivesToAnotherCommand) {
    editor::Framer& f = editor::Framer::shared();
    const auto framed = std::make_tuple(f.source, f.original, f.crop);
    f.source = f.original = f.crop = {0, 0, 800, 600};
    editor::CropTool crop;
    editor::Ruler ruler;
    editor::EditorKeys table(&crop, &ruler);
    table.links.objectKeyDown = [this](const kit::Event*, const editor::KeyEvt&) {
        editorCore.calls.push_back("objectKeys");
    };
    auto clearLogs = [this] {
        editorCore.calls.clear();
        core.calls.clear();
        editorParts.calls.clear();
    };
    int walked = 0, bound = 0;
    for (auto& top : menu.menu()->items()) {
        for (auto& item : top->submenu()->items()) {
            if (item->isSeparator() || item->keyEquivalent().empty()) continue;
            const std::optional<kit::Event> press = keyDownFor(*item);
            ASSERT_TRUE(press) << item->title();
            ++walked;
            for (bool cropOn : {false, true}) {
                crop.on_ = cropOn;
                crop.selection_ = {100, 100, 200, 150};
                clearLogs();
                table.keyDown(editor::keyEvtFromEvent(*press), &*press);
                std::string editorCommand = firstCommand({&editorCore.calls});
                if (editorCommand.empty() && crop.selection_ != services::Rect{100, 100, 200, 150})
                    editorCommand = "cropSelection";
                objects::PressedKeys::shared().pressed.clear();
                if (editorCommand.empty()) continue;
                ++bound;
                clearLogs();
                item->performAction();
                EXPECT_EQ(firstCommand({&editorCore.calls, &core.calls, &editorParts.calls}), editorCommand)
                    << item->title() << " (" << item->keyEquivalentText() << ")"
                    << (cropOn ? " with a crop selection" : "");
            }
        }
    }
    EXPECT_GE(walked, 8) << "the menu's combinations";
    EXPECT_GE(bound, 4) << "Copy, Quit, Pin and Add Capture run the same command both ways";
    std::tie(f.source, f.original, f.crop) = framed;
}

// Installed at start-up, the menu is what the shortcut fields check a new
// combination against: Ctrl+S is Save's, so recording it is refused with the
// menu item's name and nothing is stored.
TEST_F(EditorMenuTest, InstalledItKeepsItsCombinationsFromTheShortcutFields) {
    kit::KeyLayout::useLayoutsForTesting("us");
    std::vector<std::string> alerts;
    shortcuts::ShortcutRecorder::setFeedback(
        {[] {}, [&](const std::string& message, const std::string&) { alerts.push_back(message); }});
    const shortcuts::Name name("keysMenuCheck");
    menu.install();
    {
        shortcuts::ShortcutRecorder field(name);
        field.handleRecordingEvent(key(kit::KeyCode::S, "s", kit::ModifierFlag::Command));
        kit::processMainEvents();
    }
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "This shortcut is taken by the menu item “Save”.");
    EXPECT_FALSE(shortcuts::getShortcut(name));
    shortcuts::ShortcutRecorder::setFeedback({});
    shortcuts::ShortcutRecorder::setMainMenuProvider({});
    kit::KeyLayout::useLayoutsForTesting("");
}
