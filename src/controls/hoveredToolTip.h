#pragma once
// Finds the tooltip of the view under a point in a view tree, taking platform
// tooltips away from the views it passes (they are remembered in a table of
// the process), so that the caller can show the text in its own bubble.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/ui/View.h"

namespace controls {

// `views`: normally the subviews of one view; `point` in their superview's
// space; `cache` ends with the tooltip of the last view under the point, in
// visiting order (parents before children), that has or had one, and is left
// untouched when there is none. `origin` is zero on the outer call.
void hoveredToolTip(const std::vector<std::shared_ptr<kit::View>>& views, kit::Point point,
                    std::optional<std::string>& cache, kit::Point origin = {});

// The label and the shortcut part of a tooltip text: "Copy (Ctrl+C)" shows
// "Copy" and "(Ctrl+C)"; without "(" there is no shortcut part.
struct TooltipParts {
    std::string label;
    std::string key;
};
TooltipParts splitTooltip(const std::string& text);

}  // namespace controls
