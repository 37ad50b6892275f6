#pragma once
// The tray icon (a StatusNotifierItem host or an XEmbed tray). It either opens
// its menu on a click, or, without a menu, calls the click action.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace kit {

class Menu;

// Whether the opaque corner pixels of an icon-sized screen image are dark on
// average (the tray glyphs leave their corners clear, so the corners show the
// panel); absent when no corner is opaque.
std::optional<bool> cornersAreDark(const Image& area);

class StatusItem {
public:
    StatusItem();
    ~StatusItem();
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    // Whether a tray host is there to show the icon.
    static bool isTrayAvailable();

    void setImage(const Image& image);
    const Image& image() const { return image_; }
    void setToolTip(std::string tip);
    void setVisible(bool visible);
    bool isVisible() const;

    void setMenu(std::shared_ptr<Menu> menu);
    const std::shared_ptr<Menu>& menu() const { return menu_; }
    // Without a menu, clicks come here (right: the secondary button).
    std::function<void(bool rightClick)> onClick;
    // Opens the menu, or runs the click action, as a left click would.
    void performClick();

    // Where the icon is on screen (AppKit space); a rectangle around the
    // pointer when the tray does not say.
    Rect buttonFrame() const;
    // Where the tray shows the icon (AppKit space); nothing when it does not say.
    std::optional<Rect> trayFrame() const;
    // Whether the panel the icon sits on is dark, read from the screen at the
    // icon's corners; absent while the tray has not placed the icon.
    std::optional<bool> panelIsDark() const;

    struct Private;

private:
    std::unique_ptr<Private> d_;
    Image image_;
    std::shared_ptr<Menu> menu_;
};

}  // namespace kit
