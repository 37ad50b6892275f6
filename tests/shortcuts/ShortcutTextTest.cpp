// Shortcut texts from keyboard layouts built in the test, and menu look-ups.
#include "ShortcutsFixture.h"
#include "kit/ui/Menu.h"
#include "shortcuts/Names.h"

using namespace shortcuts;
using kit::ModifierFlag::Command;
using kit::ModifierFlag::Control;
using kit::ModifierFlag::Option;
using kit::ModifierFlag::Shift;

using ShortcutText = ShortcutsFixture;

TEST_F(ShortcutText, SymbolFormAndLinuxWordsOnAUsLayout) {
    Shortcut full(Key{Key::one}, Command | Shift);
    EXPECT_EQ(full.description(), "⇧⌘1");
    EXPECT_EQ(full.displayText(), "Ctrl+Shift+1");
    Shortcut ocr(Key{Key::o}, Control | Option | Command);
    EXPECT_EQ(ocr.description(), "⌃⌥⌘O");
    EXPECT_EQ(ocr.displayText(), "Ctrl+Alt+Super+O");
    EXPECT_EQ(ocr.keyEquivalent(), "o");
}

TEST_F(ShortcutText, LayoutDecidesLetterKeysButNotTheFixedTable) {
    ASSERT_TRUE(kit::KeyLayout::useLayoutsForTesting("de"));
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::Z}, Command).description(), "⌘Y");  // Y and Z swap places
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::Y}, Command).displayText(), "Ctrl+Z");
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::Return}, Command).description(), "⌘↩");
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::Return}, Command).displayText(), "Ctrl+Enter");

    ASSERT_TRUE(kit::KeyLayout::useLayoutsForTesting("ru,us"));  // the Latin group answers
    EXPECT_EQ(Shortcut(Key{Key::one}, Command | Shift).description(), "⇧⌘1");
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::A}, Command).displayText(), "Ctrl+A");
}

TEST_F(ShortcutText, FunctionKeysAndKeysWithoutText) {
    Shortcut f12(Key{Key::f12}, 0);
    EXPECT_EQ(f12.description(), "F12");
    EXPECT_EQ(f12.keyEquivalent(), "\uF70F");
    Shortcut fn(Key{kit::KeyCode::Function}, Command);  // no character on any layout
    EXPECT_EQ(fn.description(), "⌘\uFFFD");
    EXPECT_EQ(fn.keyEquivalent(), "");
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::Space}, Option).keyEquivalent(), "⎵");
}

TEST_F(ShortcutText, MenuLookUpWalksSubmenusAndComparesTheWholeMask) {
    kit::Menu bar;
    auto& file = bar.addItem("File");
    auto fileMenu = std::make_shared<kit::Menu>("File");
    auto& exportItem = fileMenu->addItem("Export");
    auto deeper = std::make_shared<kit::Menu>("Export");
    auto& gif = deeper->addItem("GIF");
    gif.setKeyEquivalent("g", Command | Shift);
    exportItem.setSubmenu(deeper);
    fileMenu->addItem("Save").setKeyEquivalent("s", Command);
    file.setSubmenu(fileMenu);

    EXPECT_EQ(Shortcut(Key{kit::KeyCode::G}, Command | Shift).takenByMainMenu(bar), &gif);
    ASSERT_TRUE(Shortcut(Key{kit::KeyCode::S}, Command).takenByMainMenu(bar));
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::S}, Command).takenByMainMenu(bar)->title(), "Save");
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::S}, Command | Option).takenByMainMenu(bar), nullptr);
    EXPECT_EQ(Shortcut(Key{kit::KeyCode::G}, Command).takenByMainMenu(bar), nullptr);
}

TEST_F(ShortcutText, TheTenNamesAndTheirDefaults) {
    auto all = names::all();
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all.front().rawValue, "fullscreen");
    EXPECT_EQ(all[3].rawValue, "area");
    EXPECT_EQ(all.back().rawValue, "library");
    EXPECT_EQ(names::ocr().defaultShortcut, Shortcut(Key{Key::o}, Control | Option | Command));
    EXPECT_FALSE(names::library().defaultShortcut);
}
