#pragma once
// The text and width arithmetic of the overflowing tool bar, apart from its
// views: which key an item title gives its menu item, the menu title, and which
// slots fit a bar of a given width.
#include <string>

namespace controls {

// "Arrow (A)" -> key "a"; "Add Capture (⌘A)" -> key "a" with command; "Ruler (1 or 2)" -> no key.
struct ToolbarKey {
    std::string key;
    bool command = false;
};
ToolbarKey toolbarKeyEquivalent(const std::string& title);

// ASCII letters lowered; other bytes (UTF-8 signs such as ⌘) kept.
std::string asciiLowered(std::string text);

// The title without its key in parentheses: "Arrow (A)" -> "Arrow".
std::string toolbarMenuTitle(const std::string& title);

// A title as a Linux user reads it: the command sign names the key that
// stands for it here, "Add Capture (⌘A)" -> "Add Capture (Ctrl+A)". The
// titles keep the sign, because toolbarKeyEquivalent reads it.
std::string toolbarTitleShown(const std::string& title);

struct ToolbarOverflow {
    bool moreVisible = false;
    double moreLeading = 0;  // leading offset of the More button when it shows
    double limit = 0;        // an item whose right edge passes this moves to the menu
};

// totalWidth: every slot including the More button's.
ToolbarOverflow toolbarOverflow(double itemWidth, double padding, int maxCapacity, double barWidth,
                                double totalWidth);

}  // namespace controls
