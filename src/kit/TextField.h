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
    // Keyboard focus arrives at / leaves the field.
    std::function<void(TextField&)> onFocusIn;
    std::function<void(TextField&)> onFocusOut;
    // Hides the text cursor (a field that records keys rather than text).
    void setCaretHidden(bool hidden);
    // Gives the focus away (to the window, no other view takes it).
    void resignFocus();
    // The action runs when editing ends: Return, or the field loses focus
    // after a change.
    void selectAll();

protected:
    struct Hooks;
};

class SearchField : public TextField {
public:
    explicit SearchField(const Rect& frame = {});
    // The magnifier at the front.
    void setSearchButtonShown(bool shown);
    // The clear button at the end (shown while there is text).
    void setClearButtonShown(bool shown);
    bool isClearButtonShown() const;
    // Empties the field as the clear button does (a change like any other).
    void clear();
};

}  // namespace kit
