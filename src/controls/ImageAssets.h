#pragma once
// Images the controls ask for by name ("20-more", "20-more-overlay", tool icons
// and their "-hl" variants). The application registers its icons at start-up;
// the More-button glyphs are drawn here when nobody registered them.
#include <string>

#include "kit/Image.h"

namespace ImageAssets {

// The registered image, or the built-in drawing for the More glyphs, else a null image.
kit::Image named(const std::string& name);
void set(const std::string& name, const kit::Image& image);

}  // namespace ImageAssets
