#include "shortcuts/Shortcut.h"

#include <map>

#include "kit/base/Json.h"
#include "kit/base/TextCase.h"
#include "kit/desktop/KeyLayout.h"
#include "kit/ui/Menu.h"

namespace shortcuts {

namespace {

using namespace kit;

int64_t normalised(int64_t carbon) {
    return int64_t(carbonModifiers(modifierFlagsFromCarbon(uint32_t(carbon & 0xFFFFFFFF))));
}

// Keys whose text does not come from the layout.
const std::map<int64_t, std::string>& keyToCharacterMapping() {
    static const std::map<int64_t, std::string> table = [] {
        std::map<int64_t, std::string> t{
            {KeyCode::Return, "↩"},     {KeyCode::Delete, "⌫"},    {KeyCode::ForwardDelete, "⌦"},
            {KeyCode::End, "↘"},        {KeyCode::Escape, "⎋"},    {KeyCode::Help, "?\u20DD"},
            {KeyCode::Home, "↖"},       {KeyCode::Space, "⎵"},     {KeyCode::Tab, "⇥"},
            {KeyCode::PageUp, "⇞"},     {KeyCode::PageDown, "⇟"},  {KeyCode::UpArrow, "↑"},
            {KeyCode::RightArrow, "→"}, {KeyCode::DownArrow, "↓"}, {KeyCode::LeftArrow, "←"},
        };
        const int64_t f[20] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                               103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
        for (int i = 0; i < 20; ++i) t[f[i]] = "F" + std::to_string(i + 1);
        return t;
    }();
    return table;
}

// The function keys' menu characters (U+F704 on) and the space.
const std::map<int64_t, std::string>& keyToKeyEquivalentString() {
    static const std::map<int64_t, std::string> table = [] {
        std::map<int64_t, std::string> t{{KeyCode::Space, " "}};
        const int64_t f[20] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                               103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
        for (int i = 0; i < 20; ++i) {
            char32_t c = U'\uF704' + char32_t(i);
            std::string s;
            s += char(0xE0 | (c >> 12));
            s += char(0x80 | ((c >> 6) & 0x3F));
            s += char(0x80 | (c & 0x3F));
            t[f[i]] = s;
        }
        return t;
    }();
    return table;
}

size_t codePoints(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// Linux names for the keys whose symbol a person would not type.
const std::map<int64_t, std::string>& linuxKeyNames() {
    static const std::map<int64_t, std::string> table{
        {KeyCode::Return, "Enter"},     {KeyCode::Delete, "Backspace"},   {KeyCode::ForwardDelete, "Delete"},
        {KeyCode::End, "End"},          {KeyCode::Escape, "Esc"},         {KeyCode::Help, "Insert"},
        {KeyCode::Home, "Home"},        {KeyCode::Space, "Space"},        {KeyCode::Tab, "Tab"},
        {KeyCode::PageUp, "Page Up"},   {KeyCode::PageDown, "Page Down"}, {KeyCode::UpArrow, "Up"},
        {KeyCode::RightArrow, "Right"}, {KeyCode::DownArrow, "Down"},     {KeyCode::LeftArrow, "Left"},
    };
    return table;
}

void walkMenu(const Menu& menu, const std::function<bool(MenuItem&)>& visit, MenuItem*& found) {
    for (auto& item : menu.items()) {
        if (found) return;
        if (visit(*item)) {
            found = item.get();
            return;
        }
        if (auto sub = item->submenu()) walkMenu(*sub, visit, found);
    }
}

}  // namespace

Shortcut::Shortcut(Key key, uint32_t modifierFlags)
    : carbonKeyCode(key.rawValue), carbonModifiers(int64_t(kit::carbonModifiers(modifierFlags))) {}

Shortcut::Shortcut(int64_t keyCode, int64_t modifiers)
    : carbonKeyCode(keyCode), carbonModifiers(normalised(modifiers)) {}

std::optional<Shortcut> Shortcut::fromEvent(const kit::Event& event) {
    if (event.type != EventType::KeyDown && event.type != EventType::KeyUp) return std::nullopt;
    return Shortcut(Key{event.keyCode}, event.modifierFlags);
}

uint32_t Shortcut::modifiers() const {
    return modifierFlagsFromCarbon(uint32_t(carbonModifiers & 0xFFFFFFFF));
}

std::optional<std::string> Shortcut::keyToCharacter() const {
    auto& table = keyToCharacterMapping();
    if (auto it = table.find(carbonKeyCode); it != table.end()) return it->second;
    if (carbonKeyCode < 0 || carbonKeyCode > 0xFFFF) return std::nullopt;
    return KeyLayout::character(uint16_t(carbonKeyCode));
}

std::string modifierSymbols(uint32_t flags) {
    std::string s;
    if (flags & ModifierFlag::Control) s += "⌃";
    if (flags & ModifierFlag::Option) s += "⌥";
    if (flags & ModifierFlag::Shift) s += "⇧";
    if (flags & ModifierFlag::Command) s += "⌘";
    return s;
}

std::string Shortcut::description() const {
    auto key = keyToCharacter();
    return modifierSymbols(modifiers()) + (key ? kit::upperCase(*key) : std::string("\uFFFD"));
}

std::string Shortcut::displayText() const {
    uint32_t m = modifiers();
    std::string s;
    if (m & ModifierFlag::Command) s += "Ctrl+";
    if (m & ModifierFlag::Option) s += "Alt+";
    if (m & ModifierFlag::Shift) s += "Shift+";
    if (m & ModifierFlag::Control) s += "Super+";
    if (auto it = linuxKeyNames().find(carbonKeyCode); it != linuxKeyNames().end()) return s + it->second;
    auto key = keyToCharacter();
    return s + (key ? kit::upperCase(*key) : std::string("\uFFFD"));
}

std::string Shortcut::keyEquivalent() const {
    auto key = keyToCharacter();
    if (!key) return {};
    if (codePoints(*key) > 1) {
        auto& table = keyToKeyEquivalentString();
        auto it = table.find(carbonKeyCode);
        return it == table.end() ? std::string() : it->second;
    }
    return *key;
}

kit::MenuItem* Shortcut::takenByMainMenu(const kit::Menu& menu) const {
    auto key = keyToCharacter();
    if (!key) return nullptr;
    uint32_t mods = modifiers();
    MenuItem* found = nullptr;
    walkMenu(
        menu,
        [&](MenuItem& item) {
            return item.keyEquivalent() == *key &&
                   (item.keyEquivalentModifierMask() & ModifierFlag::DeviceIndependentMask) == mods;
        },
        found);
    return found;
}

std::string Shortcut::json() const {
    return kit::json::dump(Json{{"carbonKeyCode", carbonKeyCode}, {"carbonModifiers", carbonModifiers}});
}

std::optional<Shortcut> Shortcut::fromJSON(const std::string& text) {
    auto value = kit::json::parse(text);
    if (!value || !value->is_object()) return std::nullopt;
    auto* code = kit::json::memberAt(*value, "carbonKeyCode");
    auto* mods = kit::json::memberAt(*value, "carbonModifiers");
    if (!code || !mods || !code->is_number_integer() || !mods->is_number_integer()) return std::nullopt;
    // Read back exactly as stored, as a decoder does; only the constructors normalise.
    Shortcut s(code->template get<int64_t>(), 0);
    s.carbonModifiers = mods->template get<int64_t>();
    return s;
}

}  // namespace shortcuts
