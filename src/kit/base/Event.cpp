#include "kit/base/Event.h"

#include <array>
#include <cmath>
#include <utility>

namespace kit {

namespace {

// X11 keycode (evdev + 8) → key code, by position on a PC keyboard.
constexpr std::pair<uint32_t, uint16_t> kKeyTable[] = {
    {9, KeyCode::Escape},
    {10, KeyCode::One},
    {11, KeyCode::Two},
    {12, KeyCode::Three},
    {13, KeyCode::Four},
    {14, KeyCode::Five},
    {15, KeyCode::Six},
    {16, KeyCode::Seven},
    {17, KeyCode::Eight},
    {18, KeyCode::Nine},
    {19, KeyCode::Zero},
    {20, KeyCode::Minus},
    {21, KeyCode::Equal},
    {22, KeyCode::Delete},
    {23, KeyCode::Tab},
    {24, KeyCode::Q},
    {25, KeyCode::W},
    {26, KeyCode::E},
    {27, KeyCode::R},
    {28, KeyCode::T},
    {29, KeyCode::Y},
    {30, KeyCode::U},
    {31, KeyCode::I},
    {32, KeyCode::O},
    {33, KeyCode::P},
    {34, KeyCode::LeftBracket},
    {35, KeyCode::RightBracket},
    {36, KeyCode::Return},
    {37, KeyCode::Command},  // Control_L
    {38, KeyCode::A},
    {39, KeyCode::S},
    {40, KeyCode::D},
    {41, KeyCode::F},
    {42, KeyCode::G},
    {43, KeyCode::H},
    {44, KeyCode::J},
    {45, KeyCode::K},
    {46, KeyCode::L},
    {47, KeyCode::Semicolon},
    {48, KeyCode::Quote},
    {49, KeyCode::Grave},
    {50, KeyCode::Shift},
    {51, KeyCode::Backslash},
    {52, KeyCode::Z},
    {53, KeyCode::X},
    {54, KeyCode::C},
    {55, KeyCode::V},
    {56, KeyCode::B},
    {57, KeyCode::N},
    {58, KeyCode::M},
    {59, KeyCode::Comma},
    {60, KeyCode::Period},
    {61, KeyCode::Slash},
    {62, KeyCode::RightShift},
    {63, KeyCode::KeypadMultiply},
    {64, KeyCode::Option},  // Alt_L
    {65, KeyCode::Space},
    {66, KeyCode::CapsLock},
    {67, KeyCode::F1},
    {68, KeyCode::F2},
    {69, KeyCode::F3},
    {70, KeyCode::F4},
    {71, KeyCode::F5},
    {72, KeyCode::F6},
    {73, KeyCode::F7},
    {74, KeyCode::F8},
    {75, KeyCode::F9},
    {76, KeyCode::F10},
    {77, KeyCode::KeypadClear},  // Num_Lock sits where Clear is
    {78, KeyCode::F14},          // Scroll_Lock
    {79, KeyCode::Keypad7},
    {80, KeyCode::Keypad8},
    {81, KeyCode::Keypad9},
    {82, KeyCode::KeypadMinus},
    {83, KeyCode::Keypad4},
    {84, KeyCode::Keypad5},
    {85, KeyCode::Keypad6},
    {86, KeyCode::KeypadPlus},
    {87, KeyCode::Keypad1},
    {88, KeyCode::Keypad2},
    {89, KeyCode::Keypad3},
    {90, KeyCode::Keypad0},
    {91, KeyCode::KeypadDecimal},
    {94, 10},  // the ISO key beside left Shift
    {95, KeyCode::F11},
    {96, KeyCode::F12},
    {97, 94},    // JIS underscore (ro)
    {100, 104},  // Henkan → Kana
    {102, 102},  // Muhenkan → Eisu
    {104, KeyCode::KeypadEnter},
    {105, KeyCode::RightCommand},  // Control_R
    {106, KeyCode::KeypadDivide},
    {107, KeyCode::F13},          // Print
    {108, KeyCode::RightOption},  // Alt_R
    {110, KeyCode::Home},
    {111, KeyCode::UpArrow},
    {112, KeyCode::PageUp},
    {113, KeyCode::LeftArrow},
    {114, KeyCode::RightArrow},
    {115, KeyCode::End},
    {116, KeyCode::DownArrow},
    {117, KeyCode::PageDown},
    {118, KeyCode::Help},  // Insert
    {119, KeyCode::ForwardDelete},
    {121, 74},  // mute
    {122, 73},  // volume down
    {123, 72},  // volume up
    {125, KeyCode::KeypadEquals},
    {127, KeyCode::F15},           // Pause
    {129, 95},                     // keypad comma (JIS)
    {132, 93},                     // yen
    {133, KeyCode::Control},       // Super_L
    {134, KeyCode::RightControl},  // Super_R
    {135, 110},                    // Menu → contextual menu
    {146, KeyCode::Help},
    {191, KeyCode::F13},
    {192, KeyCode::F14},
    {193, KeyCode::F15},
    {194, KeyCode::F16},
    {195, 64},  // F17
    {196, 79},  // F18
    {197, 80},  // F19
    {198, 90},  // F20
};

}  // namespace

std::optional<uint16_t> keyCodeFromX11(uint32_t x11Keycode) {
    for (auto [x, k] : kKeyTable)
        if (x == x11Keycode) return k;
    return std::nullopt;
}

std::optional<uint32_t> x11KeycodeFromKeyCode(uint16_t keyCode) {
    // The first entry wins, so keys that two X keycodes share (Help, F13…)
    // grab the main position.
    for (auto [x, k] : kKeyTable)
        if (k == keyCode) return x;
    return std::nullopt;
}

uint32_t modifierFlagForKeyCode(uint16_t keyCode) {
    switch (keyCode) {
        case KeyCode::Shift:
        case KeyCode::RightShift:
            return ModifierFlag::Shift;
        case KeyCode::Command:
        case KeyCode::RightCommand:
            return ModifierFlag::Command;
        case KeyCode::Option:
        case KeyCode::RightOption:
            return ModifierFlag::Option;
        case KeyCode::Control:
        case KeyCode::RightControl:
            return ModifierFlag::Control;
        case KeyCode::CapsLock:
            return ModifierFlag::CapsLock;
        case KeyCode::Function:
            return ModifierFlag::Function;
        default:
            return 0;
    }
}

uint32_t carbonModifiers(uint32_t f) {
    uint32_t c = 0;
    if (f & ModifierFlag::Command) c |= CarbonModifier::Command;
    if (f & ModifierFlag::Shift) c |= CarbonModifier::Shift;
    if (f & ModifierFlag::Option) c |= CarbonModifier::Option;
    if (f & ModifierFlag::Control) c |= CarbonModifier::Control;
    return c;
}

uint32_t modifierFlagsFromCarbon(uint32_t c) {
    uint32_t f = 0;
    if (c & CarbonModifier::Command) f |= ModifierFlag::Command;
    if (c & CarbonModifier::Shift) f |= ModifierFlag::Shift;
    if (c & CarbonModifier::Option) f |= ModifierFlag::Option;
    if (c & CarbonModifier::Control) f |= ModifierFlag::Control;
    return f;
}

int ClickCounter::peek(int button, Point location, double time) const {
    bool continues = count_ > 0 && button == button_ && time - lastTime_ <= interval_ && time >= lastTime_ &&
                     std::hypot(location.x - last_.x, location.y - last_.y) <= distance_;
    return continues ? count_ + 1 : 1;
}

int ClickCounter::press(int button, Point location, double time) {
    count_ = peek(button, location, time);
    button_ = button;
    last_ = location;
    lastTime_ = time;
    return count_;
}

}  // namespace kit
