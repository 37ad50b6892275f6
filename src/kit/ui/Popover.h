#pragma once
// A popover: a small panel with a coloured, rounded background, shown next to
// a rectangle of a view on one side, holding a content view. It takes the
// keyboard when shown, without grabbing it: the desktop's hot keys still
// work. A transient one closes on a press outside it and its anchor, or when
// another window takes the keyboard. A change of size while shown places it
// beside its anchor again, on the anchor's screen.
#include <functional>
#include <memory>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"

namespace kit {

class View;

enum class RectEdge { MinX, MaxX, MinY, MaxY };  // MaxY: above the rect (y up)

class Popover {
public:
    enum class Behavior { Transient, ApplicationDefined };

    // The panel's margin around its content on each side: a panel is its
    // content's size and twice this.
    static constexpr double kContentInset = 6;

    Popover();
    ~Popover();
    Popover(const Popover&) = delete;
    Popover& operator=(const Popover&) = delete;

    void setContentView(std::shared_ptr<View> view);
    const std::shared_ptr<View>& contentView() const { return content_; }
    void setContentSize(Size size);
    Size contentSize() const { return size_; }
    void setBackgroundColor(Color color);
    Color backgroundColor() const { return background_; }
    void setBehavior(Behavior b);
    Behavior behavior() const { return behavior_; }

    // Shows the popover beside `rect` (in `view`'s space) on `edge`, kept
    // on the view's display.
    void show(const Rect& rect, View& view, RectEdge edge);
    // Beside a rectangle on screen (y up), e.g. the tray icon.
    void show(const Rect& screenRect, RectEdge edge);
    void close();
    // Closes the popover for a capture of the screen: returns once the
    // screen shows what lay beneath it, two seconds at most.
    void closeForCapture();
    bool isShown() const;
    // Gives the keyboard to the popover's window again.
    void makeKey();
    // The popover's frame on screen (AppKit space) while shown.
    Rect frame() const;

    std::function<void()> onDidClose;

    struct Private;

private:
    std::unique_ptr<Private> d_;
    std::shared_ptr<View> content_;
    Size size_{200, 100};
    Color background_ = Color::white(0.97);
    Behavior behavior_ = Behavior::Transient;
};

}  // namespace kit
