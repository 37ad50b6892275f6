#pragma once
// A multi-line editable text view: the text annotation is edited in place with
// it. Font, colours (text, background, insertion point, selection), wrapping
// width and inset, sizing to the text, undo on or off.
#include <functional>
#include <optional>
#include <string>

#include "kit/base/Color.h"
#include "kit/base/Event.h"
#include "kit/draw/Font.h"
#include "kit/ui/TextField.h"
#include "kit/ui/View.h"

namespace kit {

class TextView : public View {
public:
    explicit TextView(const Rect& frame = {});

    std::string string() const;
    void setString(const std::string& text);
    void setFont(const Font& font);
    const Font& font() const { return font_; }
    void setTextColor(Color color);
    // Nothing: the view is transparent behind the text.
    void setBackgroundColor(std::optional<Color> color);
    void setInsertionPointColor(Color color);
    void setSelectionColor(Color color);
    void setAlignment(TextAlignment alignment);
    // Space between the view's edge and the text on each side.
    void setTextContainerInset(Size inset);
    // Lines wrap at this width; nothing: lines never wrap.
    void setContainerWidth(std::optional<double> width);
    void setEditable(bool editable);
    bool isEditable() const { return editable_; }
    void setSelectable(bool selectable);
    void setAllowsUndo(bool allows);
    bool allowsUndo() const;

    // The size the text needs, insets included.
    Size contentSize() const;
    // Resizes the view to its text, keeping the top-left corner.
    void sizeToFit();
    // Grow and shrink with every edit.
    void setSizesToContent(bool sizes) { sizesToContent_ = sizes; }

    // The text as drawn now, without the insertion point, at `scale`
    // pixels per point (for putting the edited text into an image).
    Image textImage(double scale = 1) const;

    void selectAll();
    // A range of characters (UTF-16 units, as text systems count them).
    void setSelectedRange(size_t location, size_t length);
    std::pair<size_t, size_t> selectedRange() const;

    // Every edit.
    std::function<void(TextView&)> onTextChange;
    // The view lost the keyboard.
    std::function<void(TextView&)> onEndEditing;
    // Sees every key first; true when it handled the key (Escape to finish…).
    std::function<bool(const Event&)> onKeyDown;

    bool acceptsFirstResponder() const override { return editable_ || selectable_; }

private:
    Font font_ = Font::system(13);
    bool fontApplied_ = false;
    Size inset_{0, 0};
    std::optional<double> containerWidth_;
    bool editable_ = true, selectable_ = true, sizesToContent_ = false;
    void applyWidth();
};

}  // namespace kit
