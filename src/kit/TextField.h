#pragma once
// Single-line text entry, and the search field (a text field with a search
// look and a clear button).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "kit/Color.h"
#include "kit/Control.h"
#include "kit/TextAlignment.h"

namespace kit {

class TextField : public Control {
public:
    explicit TextField(const Rect& frame = {});

    std::string stringValue() const;
    void setStringValue(const std::string& text);
    void setPlaceholder(const std::string& text);
    bool isEditable() const;
    void setEditable(bool editable);
    void setBezeled(bool bezeled);
    void setAlignment(TextAlignment alignment);
    void setTextColor(Color color);
    void setMaxLength(int characters);

    // Number entry: only whole numbers in [min, max] can be typed; no
    // formatter, the text is the number.
    void setIntegerEntry(int64_t min, int64_t max);
    std::optional<int64_t> integerValue() const;

    // Every edit by the user.
    std::function<void(TextField&)> onTextChange;
    // The action runs when editing ends: Return, or the field loses focus
    // after a change.
    void selectAll();

protected:
    struct Hooks;
};

class SearchField : public TextField {
public:
    explicit SearchField(const Rect& frame = {});
};

}  // namespace kit
