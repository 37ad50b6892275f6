#pragma once
// Input events as plain values. Locations are in the window's content space
// (origin bottom-left, y up); key codes are the Carbon virtual key codes
// (A = 0, 1 = 18, Escape = 53, …) found by key position from the X11
// keycode, so characters still come from the user's keyboard layout.
#include <cstdint>
#include <optional>
#include <string>

#include "kit/base/Geometry.h"

namespace kit {

class Window;

// Modifier flag bits. Linux Ctrl stands for command, Alt for option and Super
// for control, everywhere (menus, editor keys, global hot keys).
namespace ModifierFlag {
constexpr uint32_t CapsLock = 1u << 16;
constexpr uint32_t Shift = 1u << 17;
constexpr uint32_t Control = 1u << 18;
constexpr uint32_t Option = 1u << 19;
constexpr uint32_t Command = 1u << 20;
constexpr uint32_t NumericPad = 1u << 21;
constexpr uint32_t Function = 1u << 23;
// The device-independent part callers compare against.
constexpr uint32_t DeviceIndependentMask = 0xFFFF0000u;
}  // namespace ModifierFlag

// The Carbon hot-key modifier bits stored with shortcuts.
namespace CarbonModifier {
constexpr uint32_t Command = 256;
constexpr uint32_t Shift = 512;
constexpr uint32_t Option = 2048;
constexpr uint32_t Control = 4096;
}  // namespace CarbonModifier

uint32_t carbonModifiers(uint32_t modifierFlags);
uint32_t modifierFlagsFromCarbon(uint32_t carbon);

// Key codes the application refers to by name.
namespace KeyCode {
constexpr uint16_t A = 0, S = 1, D = 2, F = 3, H = 4, G = 5, Z = 6, X = 7, C = 8, V = 9, B = 11, Q = 12,
                   W = 13, E = 14, R = 15, Y = 16, T = 17, One = 18, Two = 19, Three = 20, Four = 21,
                   Six = 22, Five = 23, Equal = 24, Nine = 25, Seven = 26, Minus = 27, Eight = 28, Zero = 29,
                   RightBracket = 30, O = 31, U = 32, LeftBracket = 33, I = 34, P = 35, Return = 36, L = 37,
                   J = 38, Quote = 39, K = 40, Semicolon = 41, Backslash = 42, Comma = 43, Slash = 44, N = 45,
                   M = 46, Period = 47, Tab = 48, Space = 49, Grave = 50, Delete = 51, Escape = 53,
                   RightCommand = 54, Command = 55, Shift = 56, CapsLock = 57, Option = 58, Control = 59,
                   RightShift = 60, RightOption = 61, RightControl = 62, Function = 63, KeypadDecimal = 65,
                   KeypadMultiply = 67, KeypadPlus = 69, KeypadClear = 71, KeypadDivide = 75,
                   KeypadEnter = 76, KeypadMinus = 78, KeypadEquals = 81, Keypad0 = 82, Keypad1 = 83,
                   Keypad2 = 84, Keypad3 = 85, Keypad4 = 86, Keypad5 = 87, Keypad6 = 88, Keypad7 = 89,
                   Keypad8 = 91, Keypad9 = 92, F5 = 96, F6 = 97, F7 = 98, F3 = 99, F8 = 100, F9 = 101,
                   F11 = 103, F13 = 105, F16 = 106, F14 = 107, F10 = 109, F12 = 111, F15 = 113, Help = 114,
                   Home = 115, PageUp = 116, ForwardDelete = 117, F4 = 118, End = 119, F2 = 120,
                   PageDown = 121, F1 = 122, LeftArrow = 123, RightArrow = 124, DownArrow = 125,
                   UpArrow = 126;
}  // namespace KeyCode

// Positional mapping between X11 keycodes (evdev code + 8) and key codes.
std::optional<uint16_t> keyCodeFromX11(uint32_t x11Keycode);
// The X11 keycode at the position of a key code (for key grabs).
std::optional<uint32_t> x11KeycodeFromKeyCode(uint16_t keyCode);
// The modifier flag a modifier key code stands for (0 for other keys).
uint32_t modifierFlagForKeyCode(uint16_t keyCode);
// The modifier flags held on the keyboard now (outside any event).
uint32_t currentModifierFlags();

enum class EventType {
    LeftMouseDown,
    LeftMouseUp,
    LeftMouseDragged,
    RightMouseDown,
    RightMouseUp,
    RightMouseDragged,
    OtherMouseDown,
    OtherMouseUp,
    OtherMouseDragged,
    MouseMoved,
    MouseEntered,
    MouseExited,
    ScrollWheel,
    Magnify,
    KeyDown,
    KeyUp,
    FlagsChanged,
};

enum class EventPhase { None, Began, Changed, Ended, Cancelled, MayBegin };

struct Event {
    EventType type = EventType::MouseMoved;
    double timestamp = 0;  // seconds, steady clock
    Window* window = nullptr;
    Point locationInWindow;  // y up
    uint32_t modifierFlags = 0;

    // Mouse.
    int buttonNumber = 0;  // left 0, right 1, middle 2, then the extra buttons
    int clickCount = 0;

    // Scroll and magnify.
    double scrollingDeltaX = 0, scrollingDeltaY = 0;  // points when precise, else lines
    double deltaX = 0, deltaY = 0;                    // lines
    bool hasPreciseScrollingDeltas = false;
    EventPhase phase = EventPhase::None;
    EventPhase momentumPhase = EventPhase::None;
    double magnification = 0;

    // Keys.
    uint16_t keyCode = 0;
    std::string characters;
    std::string charactersIgnoringModifiers;
    bool isARepeat = false;

    bool isMouseDown() const {
        return type == EventType::LeftMouseDown || type == EventType::RightMouseDown ||
               type == EventType::OtherMouseDown;
    }
    bool has(uint32_t flag) const { return (modifierFlags & flag) != 0; }
};

// Counts clicks the way double-click detection works: a press of the same
// button, soon enough after the last one and close enough to it, adds one.
class ClickCounter {
public:
    ClickCounter(double intervalSeconds = 0.4, double maxDistance = 5)
        : interval_(intervalSeconds), distance_(maxDistance) {}
    // Returns the click count for a press at `location` (any space, as long
    // as it is the same for every call) at `time` seconds.
    int press(int button, Point location, double time);
    // What press() would return, without counting the press.
    int peek(int button, Point location, double time) const;
    // The count of the last press of `button`, which its release carries
    // (a double click's second mouse-up has count 2); 1 for other buttons.
    int current(int button) const { return count_ > 0 && button == button_ ? count_ : 1; }
    void reset() { count_ = 0; }

private:
    double interval_, distance_;
    int button_ = -1, count_ = 0;
    Point last_;
    double lastTime_ = 0;
};

}  // namespace kit
