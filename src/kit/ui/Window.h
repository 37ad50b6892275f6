#pragma once
// A top-level window. Its frame is in the AppKit screen space (origin at the
// bottom-left of the primary display, y up); its content view fills it.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Displays.h"
#include "kit/base/Event.h"
#include "kit/base/Geometry.h"

namespace kit {

class Menu;
class View;
class Window;
namespace qt {
class WindowWidget;
}

namespace WindowStyle {
constexpr unsigned Borderless = 0;
constexpr unsigned Titled = 1 << 0;
constexpr unsigned Closable = 1 << 1;
constexpr unsigned Miniaturizable = 1 << 2;
constexpr unsigned Resizable = 1 << 3;
constexpr unsigned Utility = 1 << 4;             // tool window: no taskbar entry
constexpr unsigned NonactivatingPanel = 1 << 7;  // shows without taking the keyboard
}  // namespace WindowStyle

// Stacking levels. Floating and above stay on top of normal windows;
// pop-up and screen-saver windows bypass the window manager (no frame, not
// in the window list, above everything).
namespace WindowLevel {
constexpr int Normal = 0;
constexpr int Floating = 3;
constexpr int PopUp = 101;
constexpr int ScreenSaver = 1000;
}  // namespace WindowLevel

class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    virtual void windowDidBecomeKey(Window&) {}
    virtual void windowDidResignKey(Window&) {}
    virtual void windowDidResize(Window&) {}
    virtual void windowDidMove(Window&) {}
    virtual void windowDidEnterFullScreen(Window&) {}
    virtual void windowDidExitFullScreen(Window&) {}
    // Asked when the user closes the window (title-bar button, Alt+F4) or
    // performClose() runs; false keeps it open.
    virtual bool windowShouldClose(Window&) { return true; }
    virtual void windowWillClose(Window&) {}
};

class Window {
public:
    // `contentRect` in the AppKit screen space.
    Window(const Rect& contentRect, unsigned styleMask);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    unsigned styleMask() const { return style_; }
    void setStyleMask(unsigned mask);

    // ---- Content --------------------------------------------------------
    const std::shared_ptr<View>& contentView() const { return content_; }
    void setContentView(std::shared_ptr<View> view);
    std::string title() const { return title_; }
    void setTitle(std::string title);

    // A menu bar along the top of the window: each item with a submenu
    // becomes one of its menus. The content view sits below it.
    void setMenuBar(std::shared_ptr<Menu> menu);
    const std::shared_ptr<Menu>& menuBar() const { return menuBarMenu_; }

    // ---- Geometry (AppKit screen space) ---------------------------------
    // The whole window, with the title bar the window manager draws.
    Rect frame() const;
    void setFrame(const Rect& frame, bool animate = false);
    void setFrameOrigin(Point origin);
    Size contentSize() const;
    void setContentSize(Size size);
    void center();
    Size minSize() const { return minSize_; }
    void setMinSize(Size size);
    // Keeps width : height while the user resizes (zero size: no ratio).
    void setAspectRatio(Size ratio);
    Size aspectRatio() const { return aspect_; }
    Display screen() const;
    double backingScaleFactor() const;

    // ---- Behaviour and look ---------------------------------------------
    int level() const { return level_; }
    void setLevel(int level);
    // On every virtual desktop.
    void setSticky(bool sticky);
    bool isSticky() const { return sticky_; }
    // Clicks go to whatever is below.
    void setIgnoresMouseEvents(bool ignores);
    bool ignoresMouseEvents() const { return ignoresMouse_; }
    // A non-opaque window shows what its content leaves transparent.
    void setOpaque(bool opaque);
    bool isOpaque() const { return opaque_; }
    void setBackgroundColor(Color color);
    // Until a colour is set, the desktop's window colour (light or dark).
    Color backgroundColor() const;
    // Needs a compositing manager to show.
    void setAlphaValue(double alpha);
    double alphaValue() const { return alpha_; }
    void setHasShadow(bool) {}  // the window manager decides
    // Only these parts of the content (y up) belong to the window: elsewhere
    // what lies below shows through and takes the clicks, with or without a
    // compositor (an X shape). Empty: the whole window.
    void setShape(const std::vector<Rect>& parts);
    // A rounded rectangle as rows of whole points, for setShape(): where
    // nothing shows through (no compositor), a window with round corners
    // takes this outline, or its clear corners show black.
    static std::vector<Rect> roundedShape(const Rect& rect, double radius);
    // Dragging the background moves the window.
    void setMovableByWindowBackground(bool movable) { movableByBackground_ = movable; }
    bool isMovableByWindowBackground() const { return movableByBackground_; }
    // Hands a resize by the mouse to the window manager, as a press on the
    // frame would: a borderless window's content calls it for a press near
    // its edges. `edges` is a set of ResizeEdge.
    enum ResizeEdge : unsigned { Left = 1, Right = 2, Top = 4, Bottom = 8 };
    void beginUserResize(unsigned edges);
    void setExcludedFromWindowsMenu(bool) {}

    // ---- Showing ----------------------------------------------------------
    // Shows the window without taking the keyboard.
    void orderFront();
    void makeKeyAndOrderFront();
    void makeKey();
    void orderOut();
    // Asks the window manager to activate the window the way a task bar does,
    // which it grants even when it refused the application's own request.
    void requestActivation();
    // Marks the window as needing the user's attention (the urgency hint).
    void requestUserAttention();
    // Closes without asking the delegate (windowWillClose still runs).
    void close();
    // Closes as the title-bar button does: asks windowShouldClose first.
    void performClose();
    bool isVisible() const;
    bool isKeyWindow() const;
    virtual bool canBecomeKeyWindow() const { return true; }
    void toggleFullScreen();
    bool isFullScreen() const;
    // The window-server id (the X window), 0 before it exists.
    uint32_t windowNumber() const;

    void setDelegate(std::weak_ptr<WindowDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<WindowDelegate> delegate() const { return delegate_.lock(); }

    // ---- Events no view took ---------------------------------------------
    virtual void keyDown(const Event&) {}
    virtual void keyUp(const Event&) {}
    virtual void flagsChanged(const Event&) {}
    virtual void mouseEvent(const Event&) {}

    View* firstResponder() const;
    bool makeFirstResponder(View* view);

    // Converts between the content space (y up) and the screen space.
    Point convertToScreen(Point contentPoint) const;
    Point convertFromScreen(Point screenPoint) const;

    struct Private;
    Private& impl() const { return *d_; }

private:
    void applyFlags();
    void applyFrame(const Rect& frame);
    void layoutContent();
    int menuBarHeight() const;
    void notify(const std::function<void(WindowDelegate&)>& call);
    friend struct Private;
    friend class qt::WindowWidget;

    std::unique_ptr<Private> d_;
    unsigned style_;
    std::shared_ptr<View> content_;
    std::shared_ptr<Menu> menuBarMenu_;
    std::string title_;
    Size minSize_;
    Size aspect_;
    int level_ = WindowLevel::Normal;
    bool sticky_ = false, ignoresMouse_ = false, opaque_ = true, movableByBackground_ = false;
    std::optional<Color> background_;
    double alpha_ = 1;
    std::weak_ptr<WindowDelegate> delegate_;
};

}  // namespace kit
