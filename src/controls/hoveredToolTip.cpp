#include "controls/hoveredToolTip.h"

#include <map>

namespace controls {

namespace {

struct Remembered {
    std::weak_ptr<kit::View> view;
    std::string text;
};

std::map<const kit::View*, Remembered>& table() {
    static std::map<const kit::View*, Remembered> t;
    return t;
}

const std::string* remembered(const kit::View& view) {
    auto it = table().find(&view);
    if (it == table().end()) return nullptr;
    if (it->second.view.expired()) {
        table().erase(it);
        return nullptr;
    }
    return &it->second.text;
}

}  // namespace

void hoveredToolTip(const std::vector<std::shared_ptr<kit::View>>& views, kit::Point point,
                    std::optional<std::string>& cache, kit::Point origin) {
    kit::Point local = point - origin;
    for (const auto& view : views) {
        // A hidden view shows nothing of its own nor of its subviews.
        if (view->isHidden()) continue;
        if (view->frame().contains(local)) {
            if (!view->toolTip().empty()) {
                table()[view.get()] = {view, view->toolTip()};
                view->setToolTip("");
            }
            if (const std::string* text = remembered(*view)) cache = *text;
        }
        if (!view->subviews().empty())
            hoveredToolTip(view->subviews(), point, cache, origin + view->frame().origin);
    }
}

TooltipParts splitTooltip(const std::string& text) {
    std::vector<std::string> pieces;
    if (text.find('(') == std::string::npos) {
        pieces.push_back(text);
    } else {
        size_t start = 0;
        while (start <= text.size()) {
            const size_t open = text.find('(', start);
            const std::string piece =
                text.substr(start, open == std::string::npos ? std::string::npos : open - start);
            if (!piece.empty()) pieces.push_back(piece);
            if (open == std::string::npos) break;
            start = open + 1;
        }
    }
    TooltipParts parts;
    if (!pieces.empty()) {
        const char* blank = " \t\r\n";
        const std::string& t = pieces[0];
        const size_t a = t.find_first_not_of(blank);
        if (a != std::string::npos) parts.label = t.substr(a, t.find_last_not_of(blank) - a + 1);
    }
    if (pieces.size() >= 2) parts.key = "(" + pieces[1];
    return parts;
}

}  // namespace controls
