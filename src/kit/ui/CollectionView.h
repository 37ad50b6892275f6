#pragma once
// A scrolling grid of items (or one column of rows) that draws only what is
// in view: a data source gives the count and, for a visible item, what to
// draw. Items are selected by click (Ctrl adds or removes one, Shift extends),
// double-clicked, right-clicked for a menu and dragged out as files.
//
// Item geometry is top-down in document pixels of the grid (row 0 at the
// top); callers deal in item indexes only. Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "kit/base/Color.h"
#include "kit/base/Image.h"
#include "kit/ui/View.h"

namespace kit {

class CollectionView : public View {
public:
    struct Layout {
        Size itemSize{100, 80};
        double spacing = 8;
        // One item a row, as wide as the view (itemSize.width is the picture's).
        bool list = false;
    };
    // What a visible item shows: the picture when there is one, else the
    // placeholder colour; the title beside it in list layout.
    struct Cell {
        Image image;
        Color placeholder = Color::white(0.5);
        std::string title;
        std::string detail;
    };

    explicit CollectionView(const Rect& frame = {});
    ~CollectionView() override;

    std::function<int()> numberOfItems;
    std::function<Cell(int item)> cellForItem;
    // The items in view changed (first, last inclusive; first > last: none).
    std::function<void(int first, int last)> onVisibleItemsChanged;
    // The user changed the selection; `item` is the one clicked (-1: none).
    std::function<void(int item)> onUserSelect;
    std::function<void(int item)> onDoubleClick;
    // A right click on an item (already selected); `screenPoint` y up.
    std::function<void(int item, Point screenPoint)> onContextMenu;
    // The file a dragged item carries (empty: the item cannot be dragged).
    std::function<std::string(int item)> dragFile;

    void setItemLayout(const Layout& layout);
    const Layout& itemLayout() const { return layout_; }
    void setBackgroundColor(std::optional<Color> color);
    void setSelectionColor(Color color);

    // Asks the data source for the count again and redraws.
    void reloadData();
    // Redraws one item (its picture arrived).
    void reloadItem(int item);
    int itemCount() const { return count_; }
    int columns() const;
    // The width items share (the view's, less the scroll bar).
    double contentWidth() const;

    const std::set<int>& selectionIndexes() const { return selection_; }
    void setSelectionIndexes(std::set<int> items);
    void deselectAll() { setSelectionIndexes({}); }
    // Scrolls as little as needed to show the item.
    void scrollToItem(int item);
    // Items at least partly in view (first > last: none).
    std::pair<int, int> visibleRange() const;
    // The item's rectangle in the grid, top-down pixels from the grid's top-left.
    Rect itemRect(int item) const;
    // The item under a grid point (top-down), -1 for none.
    int itemAtGridPoint(Point p) const;
    // As a click of the user at that item with these modifier flags would.
    void clickItem(int item, uint32_t modifierFlags = 0);

    bool acceptsFirstResponder() const override { return true; }
    void layout() override;

    struct Private;

private:
    friend struct Private;
    void contentChanged();

    std::unique_ptr<Private> p_;
    Layout layout_;
    int count_ = 0;
    std::set<int> selection_;
    int anchor_ = -1;  // of a Shift extension
};

}  // namespace kit
