#pragma once
// A tab view: a row of tabs along the top, each showing its own pane below
// it. The panes are subviews, so they belong to the window like any other.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/ui/View.h"

namespace kit {

class TabView : public View {
public:
    explicit TabView(const Rect& frame = {});
    ~TabView() override;

    // Adds a tab titled `label` showing `pane`, which is sized to the area
    // below the tabs.
    void addTabViewItem(const std::string& label, std::shared_ptr<View> pane);
    int numberOfTabViewItems() const { return int(panes_.size()); }
    std::string label(int index) const;
    const std::shared_ptr<View>& pane(int index) const { return panes_.at(size_t(index)); }
    // -1 while there is no tab.
    int indexOfSelectedTabViewItem() const { return selected_; }
    // Out-of-range indexes change nothing.
    void selectTabViewItem(int index);

    // The user picked another tab.
    std::function<void(TabView&)> onDidSelect;

    // The area the panes fill (y up).
    Rect contentRect() const;
    void layout() override;

private:
    std::vector<std::shared_ptr<View>> panes_;
    int selected_ = -1;
    void show(int index);
};

}  // namespace kit
