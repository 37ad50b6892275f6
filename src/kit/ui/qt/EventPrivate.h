#pragma once
// kit-internal: turning Qt input events into kit::Events.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>
#include <functional>
#include <optional>

#include "kit/base/Event.h"

namespace kit::qt {

// X11 may report an auto-repeat as a release and a press of the same key at
// once, which Qt does not always recognise. Key releases are held back
// briefly: a press of the same key in that time turns the pair into a repeat
// (takeHeldRelease); otherwise `deliver` runs with the release. `context`
// guards the delivery.
void holdKeyRelease(QObject* context, const Event& release, std::function<void(const Event&)> deliver);
// True, dropping the held release, when a release of this key is held.
bool takeHeldRelease(uint16_t keyCode);

// The key code of the key that types `c` on a US keyboard (letters either case).
std::optional<uint16_t> usKeyCodeForCharacter(char32_t c);

// Ctrl → command, Alt → option, Super (Meta) → control, Shift → shift.
uint32_t modifierFlagsFromQt(Qt::KeyboardModifiers mods);
Qt::KeyboardModifiers qtModifiersFromFlags(uint32_t flags);
// Seconds on the steady clock.
double eventTime();

// The key event, or nothing for an auto-repeat release (X11 sends a
// release before every repeated press; only the last release counts).
// Modifier keys give FlagsChanged with the flags after the change.
std::optional<Event> keyEvent(const QKeyEvent& e);
// The key code for a key event: from the X11 keycode, else (platforms
// without one, synthetic events) from the Qt key on a US layout.
std::optional<uint16_t> keyCodeOf(const QKeyEvent& e);

// A mouse event at a location already converted to the window space (y up).
// Presses are counted by the application-wide click counter.
// With `countClick` false the press is looked at but not counted (monitors
// see the event before the view that counts it).
Event mouseEvent(const QMouseEvent& e, Point locationInWindow, bool countClick = true);
Event scrollEvent(const QWheelEvent& e, Point locationInWindow);
std::optional<Event> gestureEvent(const QNativeGestureEvent& e, Point locationInWindow);

}  // namespace kit::qt
