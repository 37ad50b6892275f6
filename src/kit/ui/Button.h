#pragma once
// Push buttons, toggle buttons, checkboxes and radio buttons.
#include <string>

#include "kit/base/Image.h"
#include "kit/ui/Control.h"
#include "kit/ui/Menu.h"

namespace kit {

class Button : public Control {
public:
    enum class Type {
        MomentaryPush,  // a plain button
        PushOnPushOff,  // stays pressed until pressed again
        Checkbox,
        Radio,  // radios with the same superview form one group
    };

    explicit Button(const Rect& frame = {}, Type type = Type::MomentaryPush);
    static std::shared_ptr<Button> make(std::string title, Action action = {},
                                        Type type = Type::MomentaryPush);

    Type type() const { return type_; }
    std::string title() const;
    void setTitle(const std::string& title);
    void setImage(const Image& image);
    void setBordered(bool bordered);
    bool isBordered() const;
    // On or off for toggles, checkboxes and radios.
    ControlState state() const;
    void setState(ControlState state);
    // The button Return presses in its window.
    void setKeyEquivalentReturn(bool on);
    // Acts as a click: toggles as the type says, then runs the action.
    void performClick();

private:
    Type type_;
};

}  // namespace kit
