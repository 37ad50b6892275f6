// Translation of Qt input events into kit::Events (the Qt side of Event.h).
#include <QApplication>
#include <QStyleHints>
#include <QTimer>
#include <chrono>
#include <map>

#include "kit/ui/qt/EventPrivate.h"

namespace kit::qt {

namespace {

// Qt keys on a US layout → X11 keycode, for events that carry no native
// scan code (the offscreen platform, synthetic events).
std::optional<uint32_t> x11FromQtKey(int key) {
    static const char* rows[] = {"1234567890-=", "QWERTYUIOP[]", "ASDFGHJKL;'", "ZXCVBNM,./"};
    static const uint32_t starts[] = {10, 24, 38, 52};
    if (key < 0x80) {
        char c = char(key);
        for (int r = 0; r < 4; ++r)
            for (int i = 0; rows[r][i]; ++i)
                if (rows[r][i] == c) return starts[r] + uint32_t(i);
    }
    switch (key) {
        case Qt::Key_Escape:
            return 9;
        case Qt::Key_Backspace:
            return 22;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 23;
        case Qt::Key_Return:
            return 36;
        case Qt::Key_Enter:
            return 104;
        case Qt::Key_Control:
            return 37;
        case Qt::Key_Shift:
            return 50;
        case Qt::Key_Alt:
            return 64;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
            return 133;
        case Qt::Key_Super_R:
            return 134;
        case Qt::Key_Space:
            return 65;
        case Qt::Key_QuoteLeft:
            return 49;
        case Qt::Key_Backslash:
            return 51;
        case Qt::Key_CapsLock:
            return 66;
        case Qt::Key_Home:
            return 110;
        case Qt::Key_Up:
            return 111;
        case Qt::Key_PageUp:
            return 112;
        case Qt::Key_Left:
            return 113;
        case Qt::Key_Right:
            return 114;
        case Qt::Key_End:
            return 115;
        case Qt::Key_Down:
            return 116;
        case Qt::Key_PageDown:
            return 117;
        case Qt::Key_Insert:
            return 118;
        case Qt::Key_Delete:
            return 119;
        default:
            break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F10) return 67 + uint32_t(key - Qt::Key_F1);
    if (key == Qt::Key_F11) return 95;
    if (key == Qt::Key_F12) return 96;
    return std::nullopt;
}

std::string utf8(char32_t c) {
    return QString::fromUcs4(&c, 1).toStdString();
}

// What AppKit-style key handling expects for keys without a printable
// character: control characters and the private-use function-key range.
std::optional<std::string> specialCharacters(uint16_t code) {
    switch (code) {
        case KeyCode::Return:
            return std::string("\r");
        case KeyCode::KeypadEnter:
            return std::string("\x03");
        case KeyCode::Tab:
            return std::string("\t");
        case KeyCode::Delete:
            return std::string("\x7f");
        case KeyCode::Escape:
            return std::string("\x1b");
        case KeyCode::ForwardDelete:
            return utf8(0xF728);
        case KeyCode::UpArrow:
            return utf8(0xF700);
        case KeyCode::DownArrow:
            return utf8(0xF701);
        case KeyCode::LeftArrow:
            return utf8(0xF702);
        case KeyCode::RightArrow:
            return utf8(0xF703);
        case KeyCode::Home:
            return utf8(0xF729);
        case KeyCode::End:
            return utf8(0xF72B);
        case KeyCode::PageUp:
            return utf8(0xF72C);
        case KeyCode::PageDown:
            return utf8(0xF72D);
        case KeyCode::Help:
            return utf8(0xF746);
        case KeyCode::F1:
            return utf8(0xF704);
        case KeyCode::F2:
            return utf8(0xF705);
        case KeyCode::F3:
            return utf8(0xF706);
        case KeyCode::F4:
            return utf8(0xF707);
        case KeyCode::F5:
            return utf8(0xF708);
        case KeyCode::F6:
            return utf8(0xF709);
        case KeyCode::F7:
            return utf8(0xF70A);
        case KeyCode::F8:
            return utf8(0xF70B);
        case KeyCode::F9:
            return utf8(0xF70C);
        case KeyCode::F10:
            return utf8(0xF70D);
        case KeyCode::F11:
            return utf8(0xF70E);
        case KeyCode::F12:
            return utf8(0xF70F);
        default:
            return std::nullopt;
    }
}

ClickCounter& clickCounter() {
    static ClickCounter counter(QApplication::doubleClickInterval() / 1000.0,
                                QGuiApplication::styleHints()->mouseDoubleClickDistance());
    return counter;
}

int buttonNumber(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton:
            return 0;
        case Qt::RightButton:
            return 1;
        case Qt::MiddleButton:
            return 2;
        case Qt::BackButton:
            return 3;
        case Qt::ForwardButton:
            return 4;
        default:
            break;
    }
    // ExtraButton3 … are single bits above ForwardButton; ExtraButtonN is
    // button number N + 2, which is the bit's position.
    int n = 0;
    for (unsigned v = unsigned(b); v > 1; v >>= 1) ++n;
    return n;
}

EventPhase phaseOf(Qt::ScrollPhase p) {
    switch (p) {
        case Qt::ScrollBegin:
            return EventPhase::Began;
        case Qt::ScrollUpdate:
            return EventPhase::Changed;
        case Qt::ScrollEnd:
            return EventPhase::Ended;
        default:
            return EventPhase::None;
    }
}

}  // namespace

std::optional<uint16_t> usKeyCodeForCharacter(char32_t c) {
    if (c >= 'a' && c <= 'z') c = c - 'a' + 'A';
    if (c >= 0x80) return std::nullopt;
    if (c == ' ') return KeyCode::Space;
    if (c == '`') return KeyCode::Grave;
    if (c == 0x5C) return KeyCode::Backslash;
    if (auto x = x11FromQtKey(int(c))) return keyCodeFromX11(*x);
    return std::nullopt;
}

namespace {
// Held releases by key code, with a serial so a late timer knows it lost.
std::map<uint16_t, uint64_t>& heldReleases() {
    static std::map<uint16_t, uint64_t> held;
    return held;
}
constexpr int kRepeatPairMs = 30;
}  // namespace

void holdKeyRelease(QObject* context, const Event& release, std::function<void(const Event&)> deliver) {
    static uint64_t serial = 0;
    uint64_t mine = ++serial;
    heldReleases()[release.keyCode] = mine;
    QTimer::singleShot(kRepeatPairMs, context, [release, deliver = std::move(deliver), mine] {
        auto& held = heldReleases();
        auto it = held.find(release.keyCode);
        if (it == held.end() || it->second != mine) return;  // a press took it
        held.erase(it);
        deliver(release);
    });
}

bool takeHeldRelease(uint16_t keyCode) {
    return heldReleases().erase(keyCode) > 0;
}

uint32_t modifierFlagsFromQt(Qt::KeyboardModifiers m) {
    uint32_t f = 0;
    if (m & Qt::ControlModifier) f |= ModifierFlag::Command;
    if (m & Qt::AltModifier) f |= ModifierFlag::Option;
    if (m & Qt::MetaModifier) f |= ModifierFlag::Control;
    if (m & Qt::ShiftModifier) f |= ModifierFlag::Shift;
    if (m & Qt::KeypadModifier) f |= ModifierFlag::NumericPad;
    return f;
}

Qt::KeyboardModifiers qtModifiersFromFlags(uint32_t f) {
    Qt::KeyboardModifiers m;
    if (f & ModifierFlag::Command) m |= Qt::ControlModifier;
    if (f & ModifierFlag::Option) m |= Qt::AltModifier;
    if (f & ModifierFlag::Control) m |= Qt::MetaModifier;
    if (f & ModifierFlag::Shift) m |= Qt::ShiftModifier;
    return m;
}

double eventTime() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::optional<uint16_t> keyCodeOf(const QKeyEvent& e) {
    if (e.nativeScanCode() != 0) return keyCodeFromX11(e.nativeScanCode());
    if (auto x = x11FromQtKey(e.key())) return keyCodeFromX11(*x);
    return std::nullopt;
}

std::optional<Event> keyEvent(const QKeyEvent& e) {
    bool press = e.type() == QEvent::KeyPress;
    if (!press && e.isAutoRepeat()) return std::nullopt;
    Event ev;
    ev.timestamp = eventTime();
    ev.keyCode = keyCodeOf(e).value_or(0xFFFF);
    ev.modifierFlags = modifierFlagsFromQt(e.modifiers());
    if (uint32_t own = modifierFlagForKeyCode(ev.keyCode)) {
        // X11 reports the state before the key; AppKit's flagsChanged
        // carries the state after it.
        ev.type = EventType::FlagsChanged;
        ev.modifierFlags = press ? (ev.modifierFlags | own) : (ev.modifierFlags & ~own);
        return ev;
    }
    ev.type = press ? EventType::KeyDown : EventType::KeyUp;
    ev.isARepeat = press && e.isAutoRepeat();
    if (auto special = specialCharacters(ev.keyCode)) {
        ev.characters = ev.charactersIgnoringModifiers = *special;
        return ev;
    }
    // Ignoring modifiers except Shift, as the key would type on its own.
    QString plain;
    int key = e.key();
    if (key >= 0x20 && key < Qt::Key_Escape && QChar::requiresSurrogates(char32_t(key)) == false) {
        QChar c(key);
        plain = (e.modifiers() & Qt::ShiftModifier) ? QString(c) : QString(c).toLower();
        // Shifted symbols come through key() already ('!' for Shift+1).
    }
    QString text = e.text();
    bool control = !text.isEmpty() && text.at(0).unicode() < 0x20;
    if (plain.isEmpty()) plain = control ? QString() : text;
    ev.charactersIgnoringModifiers = plain.toStdString();
    // Command (Ctrl) does not change what a key types; the control
    // characters X11 makes for Ctrl+letter are replaced by the letter.
    ev.characters = (control || (e.modifiers() & Qt::ControlModifier)) ? ev.charactersIgnoringModifiers
                                                                       : text.toStdString();
    return ev;
}

Event mouseEvent(const QMouseEvent& e, Point loc, bool countClick) {
    Event ev;
    ev.timestamp = eventTime();
    ev.locationInWindow = loc;
    ev.modifierFlags = modifierFlagsFromQt(e.modifiers());
    Qt::MouseButton b = e.button();
    if (e.type() == QEvent::MouseMove) {
        Qt::MouseButtons held = e.buttons();
        b = (held & Qt::LeftButton)    ? Qt::LeftButton
            : (held & Qt::RightButton) ? Qt::RightButton
                                       : Qt::NoButton;
        if (b == Qt::NoButton && held != Qt::NoButton) {
            for (unsigned bit = 1; bit; bit <<= 1)
                if (unsigned(held) & bit) {
                    b = Qt::MouseButton(bit);
                    break;
                }
        }
    }
    ev.buttonNumber = b == Qt::NoButton ? 0 : buttonNumber(b);
    int family = ev.buttonNumber == 0 ? 0 : ev.buttonNumber == 1 ? 1 : 2;
    static const EventType downs[] = {EventType::LeftMouseDown, EventType::RightMouseDown,
                                      EventType::OtherMouseDown};
    static const EventType ups[] = {EventType::LeftMouseUp, EventType::RightMouseUp, EventType::OtherMouseUp};
    static const EventType drags[] = {EventType::LeftMouseDragged, EventType::RightMouseDragged,
                                      EventType::OtherMouseDragged};
    QPointF g = e.globalPosition();
    switch (e.type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            ev.type = downs[family];
            ev.clickCount = countClick ? clickCounter().press(ev.buttonNumber, {g.x(), g.y()}, ev.timestamp)
                                       : clickCounter().peek(ev.buttonNumber, {g.x(), g.y()}, ev.timestamp);
            break;
        case QEvent::MouseButtonRelease:
            ev.type = ups[family];
            ev.clickCount = clickCounter().current(ev.buttonNumber);
            break;
        default:
            ev.type = b == Qt::NoButton ? EventType::MouseMoved : drags[family];
            break;
    }
    return ev;
}

Event scrollEvent(const QWheelEvent& e, Point loc) {
    Event ev;
    ev.type = EventType::ScrollWheel;
    ev.timestamp = eventTime();
    ev.locationInWindow = loc;
    ev.modifierFlags = modifierFlagsFromQt(e.modifiers());
    QPoint px = e.pixelDelta();
    QPointF lines = QPointF(e.angleDelta()) / 120.0;
    if (!px.isNull()) {
        ev.hasPreciseScrollingDeltas = true;
        ev.scrollingDeltaX = px.x();
        ev.scrollingDeltaY = px.y();
        ev.deltaX = px.x() / 10.0;
        ev.deltaY = px.y() / 10.0;
    } else {
        ev.scrollingDeltaX = ev.deltaX = lines.x();
        ev.scrollingDeltaY = ev.deltaY = lines.y();
    }
    if (e.phase() == Qt::ScrollMomentum)
        ev.momentumPhase = EventPhase::Changed;
    else
        ev.phase = phaseOf(e.phase());
    return ev;
}

std::optional<Event> gestureEvent(const QNativeGestureEvent& e, Point loc) {
    Event ev;
    ev.type = EventType::Magnify;
    ev.timestamp = eventTime();
    ev.locationInWindow = loc;
    ev.modifierFlags = modifierFlagsFromQt(e.modifiers());
    switch (e.gestureType()) {
        case Qt::BeginNativeGesture:
            ev.phase = EventPhase::Began;
            break;
        case Qt::EndNativeGesture:
            ev.phase = EventPhase::Ended;
            break;
        case Qt::ZoomNativeGesture:
            ev.phase = EventPhase::Changed;
            ev.magnification = e.value();
            break;
        default:
            return std::nullopt;
    }
    return ev;
}

}  // namespace kit::qt

namespace kit {

uint32_t currentModifierFlags() {
    if (!QGuiApplication::instance()) return 0;
    return qt::modifierFlagsFromQt(QGuiApplication::queryKeyboardModifiers());
}

}  // namespace kit
