#pragma once
// Tool identifiers and class names are matched by the word they contain
// ("toolArrow" holds "arrow", "ObjTextCallout" holds "Text").
#include <string>

namespace editor {

inline bool contains(const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
}

}  // namespace editor
