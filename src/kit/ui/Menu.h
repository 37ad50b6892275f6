#pragma once
// Menus and their items: the tray menu, context menus and pop-up menus.
// A key equivalent is a character plus modifier flags; menus show it in
// Linux words ("Ctrl+Shift+1"), command being Ctrl.
#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Event.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace kit {

class Menu;
class View;

enum class ControlState { Off, On, Mixed };

class MenuItem {
public:
    using Action = std::function<void(MenuItem&)>;

    explicit MenuItem(std::string title = {}, Action action = {}, std::string keyEquivalent = {});
    ~MenuItem();
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    static std::shared_ptr<MenuItem> make(std::string title, Action action = {},
                                          std::string keyEquivalent = {});
    static std::shared_ptr<MenuItem> separator();
    bool isSeparator() const { return separator_; }

    const std::string& title() const { return title_; }
    void setTitle(std::string title);

    // A single character ("q", "1", "," …); an upper-case letter implies Shift.
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    uint32_t keyEquivalentModifierMask() const { return keyMask_; }
    void setKeyEquivalent(std::string key, uint32_t modifierMask = ModifierFlag::Command);
    // What the menu shows for the key equivalent, e.g. "Ctrl+Shift+1"; empty without one.
    std::string keyEquivalentText() const;

    ControlState state() const { return state_; }
    void setState(ControlState state);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    const std::string& toolTip() const { return toolTip_; }
    void setToolTip(std::string tip);
    void setImage(const Image& image);
    const Image& image() const { return image_; }

    std::shared_ptr<Menu> submenu() const { return submenu_; }
    void setSubmenu(std::shared_ptr<Menu> menu);
    Menu* menu() const { return parent_; }

    // Objects attached to the item, one slot per key; they live as long as
    // the item (or until replaced), so whatever they hold ends with it.
    void setAssociatedObject(const void* key, std::shared_ptr<void> value);
    std::shared_ptr<void> associatedObject(const void* key) const;

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    std::any representedObject;

    void setAction(Action action) { action_ = std::move(action); }
    bool hasAction() const { return bool(action_); }
    // Runs the action as a click would (does nothing when disabled).
    void performAction();
    // Whether a key-down event is this item's key equivalent: the same
    // modifiers (Shift included) and the same character, or the key at the
    // character's place on a US keyboard.
    bool matchesKeyEquivalent(const Event& e) const;
    // True while an action runs because its key equivalent was pressed.
    static bool isPerformingKeyEquivalent();

    struct Private;
    Private& impl() const { return *d_; }

private:
    friend class Menu;
    std::unique_ptr<Private> d_;
    std::string title_, keyEquivalent_, toolTip_;
    uint32_t keyMask_ = ModifierFlag::Command;
    ControlState state_ = ControlState::Off;
    bool enabled_ = true, hidden_ = false, separator_ = false;
    int tag_ = 0;
    Image image_;
    Action action_;
    std::map<const void*, std::shared_ptr<void>> associated_;
    std::shared_ptr<Menu> submenu_;
    Menu* parent_ = nullptr;
};

class Menu {
public:
    explicit Menu(std::string title = {});
    ~Menu();
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;

    const std::string& title() const { return title_; }
    void setTitle(std::string title);

    void addItem(std::shared_ptr<MenuItem> item);
    // Convenience: adds and returns a new item.
    MenuItem& addItem(std::string title, MenuItem::Action action = {}, std::string keyEquivalent = {});
    void addSeparator();
    void insertItem(std::shared_ptr<MenuItem> item, size_t index);
    void removeItem(const MenuItem& item);
    void removeAllItems();
    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
    MenuItem* itemWithTag(int tag) const;
    MenuItem* itemWithTitle(const std::string& title) const;

    // Runs right before the menu opens: the place to update titles, states
    // and enabled flags.
    std::function<void(Menu&)> onWillOpen;
    std::function<void(Menu&)> onDidClose;

    // Pops up at a point of the AppKit screen space (y up); returns at once.
    void popUp(Point screenLocation);
    // Pops up at a point of a view (the view's own coordinates).
    void popUp(View& view, Point locationInView);
    void close();
    bool isOpen() const;
    // Validates (onWillOpen), then runs the first enabled, visible item whose
    // key equivalent the event is, submenus included. True when one ran.
    // While a menu is open on screen its key equivalents work too: the open
    // menu (the whole chain from its outermost menu) closes and the item runs.
    bool performKeyEquivalent(const Event& e);

    struct Private;
    Private& impl() const { return *d_; }

private:
    std::unique_ptr<Private> d_;
    std::string title_;
    std::vector<std::shared_ptr<MenuItem>> items_;
};

}  // namespace kit
