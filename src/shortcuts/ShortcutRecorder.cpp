#include "shortcuts/ShortcutRecorder.h"

#include <cstdio>

#include "kit/base/Dispatch.h"
#include "kit/base/Sound.h"
#include "kit/ui/Alert.h"
#include "kit/ui/Menu.h"
#include "shortcuts/HotKeyCenter.h"
#include "shortcuts/Strings.h"

namespace shortcuts {

namespace {

using kit::EventType;
using kit::KeyCode::Delete;
using kit::KeyCode::Escape;
using kit::KeyCode::ForwardDelete;
using kit::KeyCode::Tab;

std::function<const kit::Menu*()>& menuProvider() {
    static std::function<const kit::Menu*()> p;
    return p;
}

ShortcutRecorder::Feedback& feedback() {
    static ShortcutRecorder::Feedback f;
    return f;
}

// F1 to F20 by their key codes; X11 keyboards reach no further.
bool isFunctionKey(uint16_t code) {
    static const uint16_t f[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                 103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
    for (uint16_t k : f)
        if (k == code) return true;
    return false;
}

constexpr uint32_t kAnyModifier = kit::ModifierFlag::Command | kit::ModifierFlag::Option |
                                  kit::ModifierFlag::Control | kit::ModifierFlag::Shift;

void beep() {
    if (feedback().beep)
        feedback().beep();
    else
        kit::Sound::play("bell");
}

std::string formatted(const std::string& format, const std::string& arg) {
    std::string out = format;
    auto at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, arg);
    return out;
}

}  // namespace

ShortcutRecorder::ShortcutRecorder(Name name, OnChange onChange)
    : name_(std::move(name)), onChange_(std::move(onChange)) {
    setPlaceholder(localized("record_shortcut"));
    setAlignment(kit::TextAlignment::Center);
    setSearchButtonShown(false);
    setFrameSize({minimumWidth, frame().height() > 0 ? frame().height() : 24});
    setStringValueForName();
    onFocusIn = [this](kit::TextField&) { startRecording(); };
    onFocusOut = [this](kit::TextField&) { endRecording(); };
    onTextChange = [this](kit::TextField&) { cleared(); };
    std::weak_ptr<bool> alive = alive_;
    observer_ = observeShortcutChanges([this, alive](const Name& changed) {
        if (alive.lock() && changed.rawValue == name_.rawValue) setStringValueForName();
    });
}

ShortcutRecorder::~ShortcutRecorder() {
    *alive_ = false;
    onFocusIn = nullptr;
    onFocusOut = nullptr;
    onTextChange = nullptr;
    removeShortcutObserver(observer_);
    endRecording();
}

void ShortcutRecorder::setMainMenuProvider(std::function<const kit::Menu*()> provider) {
    menuProvider() = std::move(provider);
}

void ShortcutRecorder::setFeedback(Feedback f) {
    feedback() = std::move(f);
}

void ShortcutRecorder::setShortcutName(Name name) {
    if (name.rawValue == name_.rawValue) return;
    name_ = std::move(name);
    setStringValueForName();
    std::weak_ptr<bool> alive = alive_;
    kit::dispatchMain([this, alive] {
        if (alive.lock()) blur();
    });
}

void ShortcutRecorder::setStringValueForName() {
    auto s = getShortcut(name_);
    setStringValue(s ? s->displayText() : std::string());
    applyCancelButton();
}

void ShortcutRecorder::applyCancelButton() {
    setClearButtonShown(!stringValue().empty());
}

void ShortcutRecorder::startRecording() {
    setPlaceholder(localized("press_shortcut"));
    applyCancelButton();
    setCaretHidden(true);
    // A combination another program holds would go to that program and never
    // be seen here, so it could not be refused: the keyboard is ours while
    // recording.
    setHoldsKeyboard(true);
    if (!paused_) {
        pauseDispatch();
        paused_ = true;
    }
    if (monitor_) kit::LocalEventMonitor::remove(monitor_);
    using namespace kit::LocalEventMonitor;
    std::weak_ptr<bool> alive = alive_;
    monitor_ = kit::LocalEventMonitor::add(Mask::KeyDown | Mask::LeftMouseUp | Mask::RightMouseUp,
                                           [this, alive](const kit::Event& e) {
                                               if (!alive.lock()) return false;
                                               return handleRecordingEvent(e);
                                           });
}

void ShortcutRecorder::endRecording() {
    if (monitor_) kit::LocalEventMonitor::remove(monitor_);
    monitor_ = 0;
    setHoldsKeyboard(false);
    if (*alive_) {
        setPlaceholder(localized("record_shortcut"));
        setCaretHidden(false);
        applyCancelButton();
    }
    if (paused_) {
        paused_ = false;
        resumeDispatch();
    }
}

void ShortcutRecorder::blur() {
    resignFocus();
    // A field that never had the real keyboard focus (tests, or a window that
    // is not key) still ends its recording.
    if (isRecording()) endRecording();
}

bool ShortcutRecorder::handleRecordingEvent(const kit::Event& e) {
    if (e.type == EventType::LeftMouseUp || e.type == EventType::RightMouseUp) {
        kit::Point p = convertFrom(e.locationInWindow, nullptr);
        kit::Rect area = bounds();
        area = {area.x() - 3, area.y() - 3, area.width() + 6, area.height() + 6};
        if (e.window == window() && area.contains(p)) {
            // A click on the field keeps recording. Its left release goes on to
            // the field: the clear button acts on it.
            return e.type == EventType::LeftMouseUp;
        }
        blur();
        return false;
    }
    if (e.type != EventType::KeyDown && e.type != EventType::KeyUp) return false;
    uint32_t mods = e.modifierFlags & kAnyModifier;
    if (e.keyCode == Tab && mods == 0) {
        blur();
        return true;  // the window moves the focus on as usual
    }
    if (e.keyCode == Escape && mods == 0) {
        blur();
        return false;
    }
    if ((e.keyCode == Delete || e.keyCode == ForwardDelete) && mods == 0) {
        clear();
        return false;
    }
    if ((mods & ~kit::ModifierFlag::Shift) == 0 && !isFunctionKey(e.keyCode)) {
        beep();
        return false;
    }
    auto shortcut = Shortcut::fromEvent(e);
    if (!shortcut) {
        beep();
        return false;
    }
    if (menuProvider()) {
        if (const kit::Menu* menu = menuProvider()()) {
            if (kit::MenuItem* item = shortcut->takenByMainMenu(*menu)) {
                refuse(formatted(localized("keyboard_shortcut_used_by_menu_item"), item->title()), "");
                return false;
            }
        }
    }
    // The X server keeps no list of reserved shortcuts; a combination another
    // program holds is one it refuses to let us grab. F12 alone is always let
    // through, as it is wherever the desktop lists it.
    bool plainF12 = shortcut->carbonKeyCode == kit::KeyCode::F12 && shortcut->carbonModifiers == 0;
    if (!plainF12 && !canRegister(*shortcut)) {
        refuse(localized("keyboard_shortcut_used_by_system"), localized("keyboard_shortcuts_can_be_changed"));
        return false;
    }
    setStringValue(shortcut->displayText());
    setClearButtonShown(true);
    setShortcut(*shortcut, name_);
    if (onChange_) onChange_(*shortcut);
    blur();
    return false;
}

void ShortcutRecorder::refuse(const std::string& message, const std::string& informative) {
    blur();
    // The alert runs after this key event is done, not inside the monitor.
    std::weak_ptr<bool> alive = alive_;
    kit::dispatchMain([this, alive, message, informative] {
        if (feedback().alert) {
            feedback().alert(message, informative);
        } else {
            kit::Alert alert;
            alert.messageText = message;
            alert.informativeText = informative;
            alert.style = kit::Alert::Style::Warning;
            alert.showsIcon = false;  // the message names the conflict; a warning sign adds nothing
            alert.runModal();
        }
        if (alive.lock()) makeFirstResponder();
    });
}

void ShortcutRecorder::cleared() {
    if (!stringValue().empty()) {
        applyCancelButton();
        return;
    }
    if (getShortcut(name_)) setShortcut(std::nullopt, name_);
    if (onChange_) onChange_(std::nullopt);
    applyCancelButton();
    makeFirstResponder();
}

}  // namespace shortcuts
