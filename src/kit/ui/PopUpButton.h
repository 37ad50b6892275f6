#pragma once
// A pop-up button: a list of titles, one of them selected.
#include <string>
#include <vector>

#include "kit/ui/Control.h"

namespace kit {

class PopUpButton : public Control {
public:
    explicit PopUpButton(const Rect& frame = {});

    void addItem(const std::string& title);
    void addItems(const std::vector<std::string>& titles);
    void removeAllItems();
    int numberOfItems() const;
    std::string itemTitle(int index) const;
    // -1 when nothing is selected.
    int indexOfSelectedItem() const;
    std::string titleOfSelectedItem() const;
    void selectItem(int index);
    // False when no item has that title.
    bool selectItem(const std::string& title);
};

}  // namespace kit
