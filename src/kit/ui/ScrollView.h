#pragma once
// A scroll view showing part of a larger document view.
#include <memory>
#include <optional>

#include "kit/base/Color.h"
#include "kit/ui/View.h"

namespace kit {

class ScrollView : public View {
public:
    explicit ScrollView(const Rect& frame = {});
    ~ScrollView() override;

    void setDocumentView(std::shared_ptr<View> view);
    const std::shared_ptr<View>& documentView() const { return document_; }
    void setHasVerticalScroller(bool has);
    void setHasHorizontalScroller(bool has);
    // Nothing: transparent.
    void setBackgroundColor(std::optional<Color> color);
    // The part of the document in view, in the document's space.
    Rect documentVisibleRect() const;
    // Scrolls so that `p` (document space) is the visible rect's origin.
    void scrollToPoint(Point p);
    // Scrolls as little as needed to show `r` (document space).
    void scrollRectToVisible(const Rect& r);

private:
    std::shared_ptr<View> document_;
};

}  // namespace kit
