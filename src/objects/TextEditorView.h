#pragma once
// The one editing view that text objects type into, as they use it: its
// string, font, colours, insets and wrap width, its frame over the canvas,
// and the keyboard.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Color.h"
#include "kit/base/Event.h"
#include "kit/base/Geometry.h"
#include "kit/draw/Font.h"

namespace kit {
class TextView;
class View;
}  // namespace kit

namespace objects {

class TextEditorView {
public:
    // The shared view, made on first use (frame 40 × 8, white caret, undo on,
    // hidden), placed on the canvas view when given one and it has no place yet.
    static TextEditorView& shared(kit::View* canvas);

    std::string string() const;
    void setString(const std::string& s);
    void setFont(const kit::Font& f);
    void setTextColor(const kit::Color& c);
    void setInsertionPointColor(const kit::Color& c);
    void setSelectionColor(const kit::Color& c);
    void setBackgroundColor(std::optional<kit::Color> c);
    void setCornerRadius(double r);
    void setInset(kit::Size inset);
    void setContainerWidth(double w);
    void setFrame(const kit::Rect& frame);
    kit::Rect frame() const;
    void setHidden(bool hidden);
    bool isHidden() const;
    void setEditable(bool editable);
    bool isEditable() const;
    void selectNothing();
    void makeFirstResponder();
    void setNeedsDisplay();
    // Keys the view sees first; true when handled.
    void setKeyHandler(std::function<bool(const kit::Event&)> handler);
    // Every change of the text, typed or set.
    void setTextChangeHandler(std::function<void()> handler);
    kit::TextView& view() const { return *view_; }
    // The view it sits on, null when it has none; and taking it off again.
    kit::View* superview() const;
    void removeFromSuperview();

private:
    TextEditorView();
    std::shared_ptr<kit::TextView> view_;
};

}  // namespace objects
