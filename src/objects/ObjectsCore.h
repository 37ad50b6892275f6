#pragma once
// The application core as the annotation objects see it: the current
// screenshot and its pixels, the editor's selection mode and status, and the
// before/after GIF. The core implements these; the objects reach it through
// their host, which gives none until the core exists (then the objects skip
// these calls).
#include <string>

#include "imaging/Capture.h"
#include "kit/base/Image.h"

namespace objects {

class ObjectsCore {
public:
    virtual ~ObjectsCore() = default;

    kit::Image imgPrecompiled;  // the current screenshot; null when none is loaded
    kit::Image imgSource;       // the capture's source image

    // The current capture's pixels with the viewport's crop, taken under the
    // core's image lock; a null image when no screenshot is loaded.
    virtual imaging::Capture capture() const = 0;
    // The editor's selection mode ("default" or an object type) changed.
    virtual void selectionModeChanged(const std::string& mode) = 0;
    virtual void refreshToolSettings() = 0;
    virtual void updateStatus() = 0;
    // Writes the two frames as a looping GIF into the folder.
    virtual void saveGIF(const kit::Image& img1, const kit::Image& img2, double delay,
                         const std::string& urlFolder) = 0;
};

}  // namespace objects
