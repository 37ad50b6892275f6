#pragma once
// A text label: not editable, wraps when asked, may be selectable.
#include <string>

#include "kit/base/Color.h"
#include "kit/ui/Control.h"
#include "kit/ui/TextField.h"

namespace kit {

class Label : public Control {
public:
    explicit Label(const Rect& frame = {});
    static std::shared_ptr<Label> make(const std::string& text);

    std::string stringValue() const;
    void setStringValue(const std::string& text);
    void setTextColor(Color color);
    void setAlignment(TextAlignment alignment);
    void setWraps(bool wraps);
    void setSelectable(bool selectable);
};

}  // namespace kit
