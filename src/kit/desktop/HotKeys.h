#pragma once
// System-wide hot keys: a key combination grabbed on the X root window, so its
// presses reach us whichever application has the focus. Combinations are the
// positional key codes and the Carbon modifier bits that shortcuts store
// (command = Ctrl, option = Alt, control = Super, shift = Shift); each is
// grabbed with every Caps Lock / Num Lock variant so those locks don't matter.
//
// A held key fires once: X11 auto-repeat is ignored until the key is released.
// Main thread only. Without an X display every registration is refused.
#include <cstdint>
#include <functional>
#include <optional>

namespace kit::HotKeys {

enum class Kind { Pressed, Released };
using Handler = std::function<void(uint32_t id, Kind kind)>;

// Receives every fired registration; replaces the previous handler.
void setHandler(Handler handler);

// Grabs the combination; its id, or nothing when the X server refuses it (a
// grab another client holds, an unknown key, no display).
std::optional<uint32_t> registerHotKey(int64_t keyCode, int64_t carbonModifiers);
void unregisterHotKey(uint32_t id);

// Whether the server would let us grab the combination now (grabs it and lets
// go at once); false also for combinations we hold ourselves.
bool isAvailable(int64_t keyCode, int64_t carbonModifiers);

}  // namespace kit::HotKeys
