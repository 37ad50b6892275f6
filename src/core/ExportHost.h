#pragma once
// What the export commands need of the application core and the editor: the
// current screenshot and its facts, the object layers to flatten, and the
// window steps around a copy or a save. The core implements it; tests derive
// a double. The defaults answer "nothing there" and do nothing.
//
// Main thread only.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "kit/base/Image.h"
#include "kit/base/Json.h"
#include "kit/draw/Layer.h"

namespace core {

class ExportHost {
public:
    virtual ~ExportHost() = default;

    // The current screenshot; null when none is loaded.
    virtual kit::Image imgPrecompiled() const { return {}; }
    // The root of the annotation layers, holding the canvas layer with the
    // screenshot beneath the objects, in image pixels (y up, the image's
    // bottom-left at 0,0). Null before the editor has built it: the
    // screenshot is then drawn alone.
    virtual kit::LayerPtr objectsLayer() const { return nullptr; }
    // Where the screenshot's bottom-left lies in that layer's space.
    virtual kit::Point imageOrigin() const { return {0, 0}; }
    // Before flattening: finish editing the active object, drop empty ones,
    // turn highlighted objects back to unselected, sort and lay out the
    // layers and take the canvas border off.
    virtual void prepareObjectLayers() {}
    // Whether the layers would draw the screenshot alone, as it is: no
    // object, no rounded or padded canvas, no canvas colour showing through.
    // The flattening then hands out the screenshot's own pixels.
    virtual bool showsScreenshotAlone() const { return false; }
    // The editor's device-pixel ratio.
    virtual double dpr() const { return 1.0; }

    // When the screenshot was taken or loaded; none: now.
    virtual std::optional<std::chrono::system_clock::time_point> screenshotDate() const {
        return std::nullopt;
    }
    // The screenshot's facts (text to text): "app", "autoName", …
    virtual kit::Json metadata() const { return kit::Json::object(); }
    virtual void setMetadata(const kit::Json& /*metadata*/) {}
    // The file the screenshot was opened from; empty for a capture.
    virtual std::string openedURL() const { return {}; }
    // A folder the user granted during this run, used when none is stored.
    virtual std::optional<std::string> folderWithAccessURL() const { return std::nullopt; }

    virtual void hideMainWindow() {}
    virtual void yieldFocus() {}
    // The one-time hint that goes with the first hide of the editor.
    virtual void markFirstHide() {}
    // Asks for the save folder; `whenReady` gets the chosen folder, and is
    // not called when the user cancels.
    virtual void selectDefaultFolder(std::function<void(const std::string&)> /*whenReady*/) {}
    virtual void refreshCropButton() {}
    // The image cut to the crop tool's selection; none when there is none.
    virtual std::optional<kit::Image> preCrop(const kit::Image& /*image*/) { return std::nullopt; }
    // Switches the crop tool off after a copy of the selection.
    virtual void endSelection() {}

    // The annotation objects: their count, one-letter type codes and texts.
    virtual int objectsCount() const { return 0; }
    virtual std::string typeLetters() const { return {}; }
    virtual std::string textContent() const { return {}; }

    // A file saved into the save folder (the library indexes it).
    virtual void indexSavedFile(const std::string& /*path*/, const kit::Json& /*metadata*/) {}
    // A file the Save As panel wrote into the save folder.
    virtual void indexSavedAsFile(const std::string& /*path*/) {}
};

}  // namespace core
