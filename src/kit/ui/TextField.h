#pragma once
// Single-line text entry, and the search field (a text field with a search
// look and a clear button).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Color.h"
#include "kit/base/TextAlignment.h"
#include "kit/ui/Control.h"

namespace kit {

class ShapeLayer;
class TextField;

// How a field draws its background and where its text goes, as a cell of the
// field: the field asks it again whenever its size, its editing state or its
// look (light or dark) changes.
class TextFieldCell {
public:
    virtual ~TextFieldCell() = default;
    // Draws the background into a shape layer that covers the field, behind
    // its text.
    virtual void drawWithFrame(ShapeLayer& layer, const Rect& frame, bool editing, bool dark) const = 0;
    // Where the text, and its editor while editing, sit: given the field's
    // own text rectangle and the height of a line of its text, in the field's
    // space measured down from its top.
    virtual Rect titleRect(const Rect& base, double textHeight) const = 0;
};

class TextField : public Control {
public:
    explicit TextField(const Rect& frame = {});
    ~TextField() override;

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
    // While held, every key press of the display comes to this field, even a
    // combination another program has taken for itself (an active grab of
    // the keyboard). Let go when told, when the field is hidden or destroyed.
    void setHoldsKeyboard(bool holds);
    // Gives the focus away (to the window, no other view takes it).
    void resignFocus();
    // The action runs when editing ends: Return, or the field loses focus
    // after a change.
    void selectAll();

    // The field is being edited: it has the keyboard focus.
    bool isEditing() const;
    // A cell takes over the field's background and text placement (the
    // toolkit's own frame is turned off); none gives the toolkit's look back.
    void setCell(std::shared_ptr<TextFieldCell> cell);
    const std::shared_ptr<TextFieldCell>& cell() const { return cell_; }
    // Where the text is drawn now, in the field's space down from its top.
    Rect textRect() const;

    void layout() override;
    void viewDidChangeEffectiveAppearance() override;

protected:
    struct Hooks;

private:
    friend class TextFieldEditingWatch;
    std::shared_ptr<TextFieldCell> cell_;
    std::shared_ptr<ShapeLayer> cellLayer_;
    void applyCell();
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
