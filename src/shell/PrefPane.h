#pragma once
// What the three preference panes share: a pane view of a fixed size filled
// line by line from the top (a title in the left column, the controls in the
// right one), the small "?" buttons of the inline help, and the hook that
// runs each time the pane comes into view.
#include <memory>
#include <string>
#include <vector>

#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/View.h"
#include "services/Settings.h"

namespace shell {

class PrefPane {
public:
    static constexpr double kWidth = 600, kHeight = 490;
    static constexpr double kTitleColumn = 190;

    PrefPane();
    virtual ~PrefPane() = default;
    PrefPane(const PrefPane&) = delete;
    PrefPane& operator=(const PrefPane&) = delete;

    const std::shared_ptr<kit::View>& view() const { return view_; }
    // Each showing of the pane (the window opening on it, its tab picked).
    virtual void viewWillAppear() {}
    // The pane goes out of view (another tab, the window closing).
    virtual void viewWillDisappear() {}

protected:
    // Puts `views` side by side on the next line, right of `title` (none: the
    // line starts in the title column). Controls take their fitting size
    // unless their frame already has a width. Returns the line's height.
    double line(const std::string& title, const std::vector<std::shared_ptr<kit::View>>& views,
                double x = kTitleColumn);
    // Vertical space before the next line.
    void space(double points) { y_ += points; }
    // A group of views in a box of their own (radio buttons of one choice
    // form a group by sharing their superview), side by side.
    static std::shared_ptr<kit::View> group(const std::vector<std::shared_ptr<kit::View>>& views,
                                            double spacing = 12);
    static std::shared_ptr<kit::Button> checkbox(const std::string& title,
                                                 std::function<void(kit::Button&)> action);
    static std::shared_ptr<kit::Button> radio(const std::string& title,
                                              std::function<void(kit::Button&)> action);
    // A small "?" button showing `text` in a popover and sending "inlinehelp" with `topic`.
    static std::shared_ptr<kit::Button> helpButton(const std::string& topic, const std::string& text);
    // A line of plain text in the controls' column.
    void text(const std::string& text);

    std::shared_ptr<kit::View> view_;
    double y_ = 18;  // from the top of the pane
};

// The store every pane reads and writes.
inline services::Settings& settings() {
    return services::Settings::shared();
}

// ASCII lower case, as the tab and pop-up titles are compared.
std::string lowered(std::string text);
// A check box's state from a setting, and back.
inline kit::ControlState stateOf(bool on) {
    return on ? kit::ControlState::On : kit::ControlState::Off;
}
inline bool isOn(const kit::Button& b) {
    return b.state() == kit::ControlState::On;
}

// Shows the inline help popover under `sender` and sends its event.
void showInlineHelp(kit::View& sender, const std::string& topic, const std::string& text);

}  // namespace shell
