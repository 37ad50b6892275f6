#pragma once
// What the core does to the editor: its window, the object manager, the crop
// tool, the canvas, the undo history, the tool bar and the status line. The
// editor's pieces are reached only through here, so the core's operations
// read as their steps and tests install a double that records the calls.
// Main thread only.
#include <optional>
#include <string>

#include "kit/base/Color.h"
#include "kit/base/Image.h"
#include "kit/ui/Cursor.h"
#include "services/Rect.h"

namespace kit {
class View;
class Window;
}  // namespace kit

namespace core {

class EditorLink {
public:
    virtual ~EditorLink() = default;

    // The editor window; null until the editor exists.
    virtual kit::Window* window();

    // ---- A new image -----------------------------------------------------
    // Hides the backdrop panel at once and closes the shared colour panel.
    virtual void hidePanels();
    // No objects, counters from zero.
    virtual void clearObjects();
    // The window's editing chrome: intro hidden, main tool bar shown,
    // resizable, pending auto-hide cancelled.
    virtual void prepareWindow();
    // Height in points of the window's own bars above the canvas.
    virtual double chromeHeight();
    // Crop tool off and idle, no contrast measured.
    virtual void resetCropTool();
    virtual void setCanvasImage(const kit::Image& image);
    // One undo state: the fresh image.
    virtual void resetUndo();
    // The overlay images and the stroke points of the old objects.
    virtual void clearCaches();

    // ---- Modes, tools and the status line --------------------------------
    virtual bool hasActiveObject();
    // The active object's mode ("ObjArrow"), "" when none.
    virtual std::string activeType();
    virtual void deactivateObjects();
    // The tool armed for the next click ("" disarms).
    virtual void setArmedTool(const std::string& tool);
    virtual bool cropToolOn();
    virtual services::Rect cropSelection();
    virtual bool primaryButtonHeld();
    virtual void applySelectionMode(const std::string& mode);
    virtual void showStatus(int zoomPercent, const std::string& size, const std::string& title,
                            const std::string& colorText, kit::Color color);
    virtual void selectToolbarItem(const std::string& id);
    virtual void updateToolSettings(const std::string& type);
    virtual void relayoutCanvas();
    // Adds an image to the open screenshot as the active overlay image
    // object, without a border; its size in image pixels, none when no
    // object was made.
    virtual std::optional<kit::Size> addImageObject(const kit::Image& image);
    // The screenshot's rectangle united with every image object's.
    virtual services::Rect imageOverlayValue();
    // Moves the active object's rectangle to an origin (image pixels, y up).
    virtual void moveActiveObject(kit::Point origin);
    // Fits the zoom to the whole composition again.
    virtual void refitCanvas();
    // The pointer over the canvas.
    virtual void setPointer(const kit::Cursor& cursor);

    // ---- Objects from the crop selection ---------------------------------------
    // A rectangle object; false when none was made.
    virtual bool addRectangle(const services::Rect& rect);
    // A conceal object that erases what it covers; false when none was made.
    virtual bool addEraser(const services::Rect& rect);
    // A measuring ruler along a rectangle, its label halfway and `tdist`
    // from the line, lengths shown divided by `dpr`; false when none was made.
    virtual bool addRuler(const services::Rect& rect, bool vertical, double dpr, double tdist);
    // Crop selection off: tool idle and the contrast read-out gone.
    virtual void endCropSelection();
    // Re-rounds the crop selection for the units now shown and redraws its
    // labels (after the units changed).
    virtual void refreshCropLabels();

    // ---- Cropping ------------------------------------------------------------
    // Moves every object's rect origin by (dx, dy) image pixels.
    virtual void shiftObjects(double dx, double dy);
    // Writes the crop selection back as is (no rounding, no mode change).
    virtual void storeCropSelection(const services::Rect& selection);
    // Shows a selection (crop tool on) or none.
    virtual void setCropSelection(std::optional<services::Rect> selection);
    // An undo state with an empty label.
    virtual void saveUndo();

    // ---- Showing and hiding ------------------------------------------------
    // Animated hide of the tooltip bubble.
    virtual void hideTooltip();
    // Hides whichever hint bubbles show; true when one was visible.
    virtual bool hideHelpers();
    virtual void attachAnnouncement();
    virtual bool darkMode();
    virtual void showUpdateButton();
};

}  // namespace core
