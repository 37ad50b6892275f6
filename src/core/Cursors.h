#pragma once
// The editor's named pointer shapes: an image asset and a hot spot each, in
// points from the image's top-left. A drawing registered under the image name
// wins; otherwise the nearest shape of the desktop's cursor theme stands in.
#include <map>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/ui/Cursor.h"

namespace core {

struct CursorEntry {
    std::string key;
    std::string image;
    kit::Point hotSpot;
};

// The table in the order the cursors are made.
const std::vector<CursorEntry>& cursorTable();
// Every cursor that could be made, by key; one that cannot be made is left out.
std::map<std::string, kit::Cursor> makeCursors();

}  // namespace core
