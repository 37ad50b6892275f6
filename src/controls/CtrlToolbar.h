#pragma once
// A row of fixed-size icon buttons that shows as many items as fit and moves
// the rest into a "More tools" menu behind a More button. One item can be the
// selection (the armed tool); the More button is marked when that item
// overflows. Clicks, menu choices and hovered items are reported to the owner.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controls/ButtonBase.h"
#include "kit/base/Timer.h"
#include "kit/ui/Menu.h"
#include "kit/ui/View.h"

namespace controls {

class CtrlToolbar : public kit::View {
public:
    explicit CtrlToolbar(const kit::Rect& frame = {});

    double totalWidth = 0;
    std::shared_ptr<kit::Menu> backupMenu = std::make_shared<kit::Menu>();
    bool selectable = true;
    double padding = 2.0;
    std::shared_ptr<ButtonBase> btnMore;
    int maxCapacity = 999;
    double itemWidth = 30.0;
    double itemHeight = 26.0;
    bool isHoverStyle = false;
    // The clicked button (null for a menu choice) and the item's title.
    std::function<void(ButtonBase* button, const std::string& title)> callback;
    std::function<void(const std::string&, int)> tooltipCallback;
    std::function<void()> tooltipCallbackHide;

    // Items are (title, icon name); called once, after the fields are set.
    virtual void layoutItems(const std::vector<std::pair<std::string, std::string>>& items);
    // Marks the items whose lower-cased title contains the id.
    virtual void select(const std::string& id);
    // Briefly highlights the selected item.
    virtual void flash();
    virtual void theClick(ButtonBase& sender);
    virtual void theMenu(kit::MenuItem& sender);
    // Shows what fits and moves the rest to the menu; runs after every size change.
    void overflowPass();

    kit::Size intrinsicContentSize() const { return {totalWidth - itemWidth, 26}; }
    // The item buttons, in order (the More button not included).
    std::vector<ButtonBase*> itemButtons() const;

    void layout() override;
    void mouseMoved(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void updateTrackingAreas() override;

private:
    std::shared_ptr<ButtonBase> makeItemButton(const std::string& icon, const std::string& title);
    void showCompositeIcon(const ButtonBase& selected);
    void showPlainMore();
    kit::Timer flashTimer_;
    int trackingArea_ = 0;
};

}  // namespace controls
