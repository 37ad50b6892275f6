#pragma once
// The base of the standard controls: a view hosting a desktop widget, with
// an action, an enabled flag, a font and a natural size.
#include <functional>

#include "kit/draw/Font.h"
#include "kit/ui/View.h"

namespace kit {

class Control : public View {
public:
    using Action = std::function<void(Control&)>;

    ~Control() override;

    // Runs when the user changes or presses the control.
    void setAction(Action action) { action_ = std::move(action); }
    bool isEnabled() const;
    void setEnabled(bool enabled);
    void setFont(const Font& font);
    // The size the control wants for its content.
    Size fittingSize() const;
    // Sets the frame size to the fitting size, keeping the origin.
    void sizeToFit();
    int tag = 0;
    bool acceptsFirstResponder() const override;

protected:
    explicit Control(const Rect& frame) : View(frame) {}
    void sendAction() {
        // Copy: the action may replace itself.
        Action a = action_;
        if (a) a(*this);
    }

private:
    Action action_;
};

}  // namespace kit
