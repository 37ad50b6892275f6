#pragma once

namespace kit {

// Horizontal placement of text, shared by text layers and text controls.
enum class TextAlignment { Natural, Left, Right, Center, Justified };

}  // namespace kit
