#pragma once
// The field in which the user records, replaces or clears the global
// shortcut of one name. It shows the current shortcut; clicked, it records
// the next key combination (global shortcuts pause meanwhile, so a
// combination in use is recorded instead of run), refuses what cannot work —
// a plain key other than F1–F35, a combination a menu item uses, one the X
// server will not give us — and stores what it accepts.
//
// Escape ends recording and keeps the shortcut; Backspace or Delete clears
// it; Tab moves on; a click more than 3 points outside the field ends it.
// Main thread only.
#include <functional>
#include <optional>

#include "kit/ui/LocalEventMonitor.h"
#include "kit/ui/TextField.h"
#include "shortcuts/Name.h"

namespace kit {
class Menu;
}

namespace shortcuts {

class ShortcutRecorder : public kit::SearchField {
public:
    using OnChange = std::function<void(const std::optional<Shortcut>&)>;

    explicit ShortcutRecorder(Name name, OnChange onChange = {});
    ~ShortcutRecorder() override;

    static constexpr double minimumWidth = 130.0;

    const Name& shortcutName() const { return name_; }
    // Shows the new name's shortcut and gives the focus away.
    void setShortcutName(Name name);
    bool isRecording() const { return monitor_ != 0; }

    // The menu whose key equivalents a recorded combination must not take
    // (the editor's menu bar); none: no menu check.
    static void setMainMenuProvider(std::function<const kit::Menu*()> provider);
    // Where the field reports refusals: a beep and the two alerts. Tests
    // replace them; the defaults beep and show a warning alert.
    struct Feedback {
        std::function<void()> beep;
        std::function<void(const std::string& message, const std::string& informative)> alert;
    };
    static void setFeedback(Feedback feedback);

    // Key and mouse events while recording, as the local monitor hands them
    // over; false consumes the event. Public for tests.
    bool handleRecordingEvent(const kit::Event& event);
    // Gives the focus away, which ends recording.
    void blur();

    bool acceptsFirstResponder() const override { return true; }

private:
    void setStringValueForName();
    void applyCancelButton();
    void startRecording();
    void endRecording();
    void cleared();
    void refuse(const std::string& message, const std::string& informative);

    Name name_;
    OnChange onChange_;
    kit::LocalEventMonitor::Token monitor_ = 0;
    ObserverToken observer_ = 0;
    bool paused_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace shortcuts
