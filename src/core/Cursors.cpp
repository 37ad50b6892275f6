#include "core/Cursors.h"

#include "controls/ImageAssets.h"

namespace core {

const std::vector<CursorEntry>& cursorTable() {
    static const std::vector<CursorEntry> table{
        {"move", "cursor-move", {13, 13}},           {"l-resize", "cursor-l-resize", {13, 13}},
        {"t-resize", "cursor-t-resize", {13, 13}},   {"tl-resize", "cursor-tl-resize", {13, 13}},
        {"bl-resize", "cursor-bl-resize", {13, 13}}, {"point", "cursor-point", {2, 2}},
        {"zoom", "cursor-zoom", {13, 13}},           {"pen", "cursor-pen", {15, 15}},
    };
    return table;
}

namespace {

// The theme's shape for a key when no drawing of ours is registered.
kit::Cursor themeCursor(const std::string& key) {
    if (key == "move") return kit::Cursor::openHand();
    if (key == "l-resize") return kit::Cursor::resizeLeftRight();
    if (key == "t-resize") return kit::Cursor::resizeUpDown();
    if (key == "tl-resize") return kit::Cursor(kit::Cursor::Shape::ResizeDiagonalNWSE);
    if (key == "bl-resize") return kit::Cursor(kit::Cursor::Shape::ResizeDiagonalNESW);
    if (key == "point") return kit::Cursor::pointingHand();
    if (key == "zoom") return kit::Cursor::zoom();
    return kit::Cursor::pen();
}

}  // namespace

std::map<std::string, kit::Cursor> makeCursors() {
    std::map<std::string, kit::Cursor> cursors;
    for (const CursorEntry& e : cursorTable()) {
        kit::Image image = controls::ImageAssets::named(e.image);
        cursors.emplace(e.key, image.isNull() ? themeCursor(e.key) : kit::Cursor(image, e.hotSpot));
    }
    return cursors;
}

}  // namespace core
