#include "controls/ToolbarOverflow.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "kit/base/Regex.h"

namespace controls {

namespace {

const std::string kCommandSign = "\u2318";

}  // namespace

std::string asciiLowered(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x80)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

ToolbarKey toolbarKeyEquivalent(const std::string& title) {
    static const kit::Regex keyInParens(R"(\(([^ ]+)\))", kit::Regex::caseInsensitive);
    ToolbarKey result;
    auto m = keyInParens.firstMatch(title);
    if (!m || m->groups.size() < 2 || !m->groups[1]) return result;
    result.key = asciiLowered(*m->groups[1]);
    for (size_t at; (at = result.key.find(kCommandSign)) != std::string::npos;) {
        result.command = true;
        result.key.erase(at, kCommandSign.size());
    }
    return result;
}

std::string toolbarMenuTitle(const std::string& title) {
    static const kit::Regex keyPart(R"( ?\([^ ]+\))", kit::Regex::caseInsensitive);
    return keyPart.replaced(title, "");
}

std::string toolbarTitleShown(const std::string& title) {
    std::string shown = title;
    for (size_t at; (at = shown.find(kCommandSign)) != std::string::npos;)
        shown.replace(at, kCommandSign.size(), "Ctrl+");
    return shown;
}

ToolbarOverflow toolbarOverflow(double itemWidth, double padding, int maxCapacity, double barWidth,
                                double totalWidth) {
    ToolbarOverflow out;
    double step = itemWidth + padding;
    double room = std::min(maxCapacity * step, barWidth);
    out.moreVisible = !(totalWidth - itemWidth <= room + 1);
    // The More button takes the last whole slot that fits.
    if (out.moreVisible) out.moreLeading = (std::floor(room / step) - 1) * step;
    double reserve = out.moreVisible ? step + 1 : -1;
    out.limit = room - reserve;
    return out;
}

}  // namespace controls
