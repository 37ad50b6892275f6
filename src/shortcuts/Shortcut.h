#pragma once
// A global shortcut: a key (its positional key code, as kit::Event carries it)
// and the Carbon modifier bits (command 256, shift 512, option 2048, control
// 4096 — on this desktop Ctrl, Shift, Alt and Super). Stored as JSON
// {"carbonKeyCode": 18, "carbonModifiers": 768}.
//
// Two texts: `description()` is the symbol form that telemetry method texts
// and stored data use ("⇧⌘1"); `displayText()` is what a person reads on
// this desktop ("Ctrl+Shift+1").
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "kit/base/Event.h"

namespace kit {
class Menu;
class MenuItem;
}  // namespace kit

namespace shortcuts {

// A key by its code; the codes are kit::KeyCode's.
struct Key {
    int64_t rawValue = 0;
    static constexpr int64_t one = kit::KeyCode::One, two = kit::KeyCode::Two, o = kit::KeyCode::O,
                             escape = kit::KeyCode::Escape, f12 = kit::KeyCode::F12;
    bool operator==(const Key&) const = default;
};

class Shortcut {
public:
    // The modifiers as event flags (kit::ModifierFlag), normalised to the four.
    Shortcut(Key key, uint32_t modifierFlags);
    Shortcut(int64_t carbonKeyCode, int64_t carbonModifiers);
    // Only key-down and key-up events make a shortcut.
    static std::optional<Shortcut> fromEvent(const kit::Event& event);

    int64_t carbonKeyCode = 0;
    int64_t carbonModifiers = 0;

    bool operator==(const Shortcut&) const = default;
    bool operator<(const Shortcut& o) const {
        return carbonKeyCode != o.carbonKeyCode ? carbonKeyCode < o.carbonKeyCode
                                                : carbonModifiers < o.carbonModifiers;
    }

    // The modifiers as event flags.
    uint32_t modifiers() const;
    // The key's text: a symbol for the special keys and F1–F20, otherwise the
    // unshifted character of the current keyboard layout; nothing when it has none.
    std::optional<std::string> keyToCharacter() const;
    // Modifier symbols (control, option, shift, command) then the key text in
    // upper case, U+FFFD for a key without text. Never empty.
    std::string description() const;
    // "Ctrl+Alt+Shift+Super+K" in the order Ctrl, Alt, Shift, Super.
    std::string displayText() const;
    // The key equivalent a menu item would use; may be empty.
    std::string keyEquivalent() const;
    // The first item of the menu (depth first through submenus) whose key
    // equivalent and whole modifier mask are this shortcut's.
    kit::MenuItem* takenByMainMenu(const kit::Menu& menu) const;

    std::string json() const;
    static std::optional<Shortcut> fromJSON(const std::string& text);
};

// The symbols of the set modifiers, in the order control, option, shift, command.
std::string modifierSymbols(uint32_t modifierFlags);

}  // namespace shortcuts
