// The recorder field's rules with synthetic key and mouse events.
#include "ShortcutsFixture.h"
#include "kit/base/Dispatch.h"
#include "kit/ui/Menu.h"
#include "shortcuts/ShortcutRecorder.h"

using namespace shortcuts;
using kit::ModifierFlag::Command;
using kit::ModifierFlag::Shift;

namespace {

kit::Event key(uint16_t code, uint32_t mods = 0) {
    kit::Event e;
    e.type = kit::EventType::KeyDown;
    e.keyCode = code;
    e.modifierFlags = mods;
    return e;
}

}  // namespace

class Recorder : public ShortcutsFixture {
protected:
    void SetUp() override {
        ShortcutsFixture::SetUp();
        ShortcutRecorder::setFeedback(
            {[this] { ++beeps; },
             [this](const std::string& m, const std::string& i) { alerts.push_back(m + "|" + i); }});
        ShortcutRecorder::setMainMenuProvider([this] { return &menu; });
    }
    void TearDown() override {
        ShortcutRecorder::setFeedback({});
        ShortcutRecorder::setMainMenuProvider({});
        ShortcutsFixture::TearDown();
    }
    int beeps = 0;
    std::vector<std::string> alerts;
    kit::Menu menu;
    std::vector<std::optional<Shortcut>> changes;
};

TEST_F(Recorder, PlainKeysBeepFunctionKeysAndModifiedKeysAreStored) {
    Name name("window");
    ShortcutRecorder field(name, [this](const std::optional<Shortcut>& s) { changes.push_back(s); });
    EXPECT_FALSE(field.handleRecordingEvent(key(kit::KeyCode::A)));
    EXPECT_FALSE(field.handleRecordingEvent(key(kit::KeyCode::A, Shift)));
    EXPECT_FALSE(field.handleRecordingEvent(key(kit::KeyCode::Space)));
    EXPECT_EQ(beeps, 3);
    EXPECT_FALSE(getShortcut(name));

    field.handleRecordingEvent(key(kit::KeyCode::F5));
    EXPECT_EQ(getShortcut(name), Shortcut(Key{kit::KeyCode::F5}, 0));
    EXPECT_EQ(field.stringValue(), "F5");

    field.handleRecordingEvent(key(kit::KeyCode::Four, Command | Shift));
    EXPECT_EQ(getShortcut(name), Shortcut(Key{kit::KeyCode::Four}, Command | Shift));
    EXPECT_EQ(field.stringValue(), "Ctrl+Shift+4");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(Recorder, EscapeKeepsTabPassesOnBackspaceClears) {
    Name name("area", Shortcut(Key{Key::two}, Command | Shift));
    ShortcutRecorder field(name, [this](const std::optional<Shortcut>& s) { changes.push_back(s); });
    EXPECT_EQ(field.stringValue(), "Ctrl+Shift+2");
    EXPECT_FALSE(field.handleRecordingEvent(key(kit::KeyCode::Escape)));
    EXPECT_TRUE(field.handleRecordingEvent(key(kit::KeyCode::Tab)));
    EXPECT_TRUE(getShortcut(name));

    field.handleRecordingEvent(key(kit::KeyCode::Delete));
    EXPECT_FALSE(getShortcut(name));
    EXPECT_EQ(kit::Defaults::standard().object("KeyboardShortcuts_area"), kit::Json(false));
    EXPECT_EQ(field.stringValue(), "");
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_FALSE(changes[0]);
}

TEST_F(Recorder, CombinationsTakenByAMenuOrRefusedByTheServerAreExplainedNotStored) {
    auto& edit = menu.addItem("Edit");
    auto sub = std::make_shared<kit::Menu>("Edit");
    sub->addItem("Copy").setKeyEquivalent("c", Command);
    edit.setSubmenu(sub);
    Name name("ocr");
    ShortcutRecorder field(name);
    field.handleRecordingEvent(key(kit::KeyCode::C, Command));
    sys.refused.insert(Shortcut(Key{kit::KeyCode::K}, Command | Shift));
    field.handleRecordingEvent(key(kit::KeyCode::K, Command | Shift));
    kit::processMainEvents();
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_NE(alerts[0].find("“Copy”"), std::string::npos);
    EXPECT_NE(alerts[1].find("another program"), std::string::npos);
    EXPECT_FALSE(getShortcut(name));

    // Plain F12 is always let through; with a modifier it is asked about like any other.
    sys.refused.insert(Shortcut(Key{Key::f12}, 0));
    field.handleRecordingEvent(key(kit::KeyCode::F12));
    EXPECT_EQ(getShortcut(name), Shortcut(Key{Key::f12}, 0));
    sys.refused.insert(Shortcut(Key{Key::f12}, Shift));
    field.handleRecordingEvent(key(kit::KeyCode::F12, Shift));
    kit::processMainEvents();
    EXPECT_EQ(alerts.size(), 3u);
    EXPECT_EQ(getShortcut(name), Shortcut(Key{Key::f12}, 0));
}

TEST_F(Recorder, AnotherNamesCombinationIsAcceptedAndBothFire) {
    Name full("fullscreen", Shortcut(Key{Key::one}, Command | Shift));
    Name other("repeatArea");
    int fullRan = 0, otherRan = 0;
    onKeyDown(full, [&] { ++fullRan; });
    onKeyDown(other, [&] { ++otherRan; });
    ShortcutRecorder field(other);
    field.handleRecordingEvent(key(kit::KeyCode::One, Command | Shift));
    press(Shortcut(Key{Key::one}, Command | Shift));
    EXPECT_EQ(fullRan, 1);
    EXPECT_EQ(otherRan, 1);
}
