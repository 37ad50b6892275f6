#pragma once
// What the editor asks of the floors above it: the application core, the
// backdrop and the application shell. The editor stands below them, so it
// declares here what it calls and they implement it at start-up:
//   editor::setCore(&appLogic), editor::setBackdrop(&backdrop), editor::setShell(&delegate).
// Until an implementation is installed every call reaches the base class,
// whose defaults do nothing and answer "nothing there" (no image, backdrop
// off), so the editor runs on its own in tests. Tests derive a double and
// override what they record.
//
// Main thread only, except where a call says otherwise.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "imaging/Capture.h"
#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/base/Json.h"
#include "services/Rect.h"

namespace kit {
class Layer;
class View;
class Window;
}  // namespace kit

namespace objects {
class ObjectsCore;
}  // namespace objects

namespace editor {

// The application core (AppLogic) as the editor sees it.
class CoreHost {
public:
    virtual ~CoreHost() = default;

    // The loaded screenshot and its compiled form; null images when absent.
    virtual kit::Image imgSource() const { return {}; }
    virtual kit::Image imgPrecompiled() const { return {}; }
    // The current capture's pixels with the viewport's crop, taken under the
    // image lock; the copy shares the pixel storage, so a reader on another
    // thread keeps its bytes even when the core replaces the image. A null
    // image when no screenshot is loaded.
    virtual imaging::Capture capture() const { return {}; }
    // The editor window, when it exists.
    virtual kit::Window* winMain() const { return nullptr; }
    // The colour last sampled, its shown and copied texts.
    virtual kit::Color colorValue() const { return {}; }
    virtual std::string colorDisplayString() const { return {}; }
    virtual std::string colorCopyString() const { return {}; }
    virtual kit::Json metadata() const { return kit::Json::object(); }
    // While false, setCursor leaves the pointer alone (a hint bubble is under it).
    virtual bool cursorUpdating() const { return true; }
    virtual void setCursorUpdating(bool) {}
    virtual bool hideWhenExitFS() const { return false; }
    virtual void setHideWhenExitFS(bool) {}

    virtual void addCaptureToScreenshot(const std::string& /*method*/) {}
    virtual void checkBackdropAllowed(const std::string& /*method*/) {}
    virtual void copyImage(bool /*selection*/, bool /*dontHide*/) {}
    virtual void copyText(const std::string& /*text*/, const std::string& /*title*/,
                          const std::string& /*message*/, std::optional<kit::Color> /*swatch*/) {}
    virtual bool cropAbsolute(const services::Rect& /*absolute*/) { return false; }
    virtual void cropToSelection(bool /*dontRepaint*/) {}
    // Puts an image on the clipboard as the copy command does.
    virtual void copyImageToPasteboard(const kit::Image& /*image*/) {}
    virtual bool droppedImageAt(const std::string& /*file*/, double /*x*/, double /*y*/) { return false; }
    // A picture added to the screenshot is read with the event loop running:
    // it takes its turn when asked for, and `add` runs in that turn (at once,
    // after the new screenshots asked for before it, or never when a later
    // one has replaced the screenshot).
    virtual uint64_t additionTurn() { return 0; }
    virtual void addInTurn(uint64_t /*turn*/, std::function<void()> add) { add(); }
    virtual void hideMainWindow() {}
    virtual bool loadImage(const kit::Image& /*imgSource*/, bool /*soft*/) { return false; }
    virtual void ocrSelection(const std::string& /*method*/) {}
    virtual void pinImage(std::optional<double> /*midX*/, std::optional<double> /*midY*/) {}
    virtual void quitOrHide(const std::string& /*method*/) {}
    virtual void refreshCropButton() {}
    virtual void sampleColor(double /*x*/, double /*y*/, bool /*darkest*/) {}
    virtual void saveImage(const std::string& /*method*/, bool /*escape*/) {}
    virtual void selectionModeChanged(const std::string& /*mode*/) {}
    virtual void selectTool(const std::string& /*type*/, const std::string& /*method*/) {}
    virtual void setCursor(const std::string& /*cursor*/) {}
    virtual void setRealPixels(bool) {}
    virtual kit::Json shotStats(const kit::Json& extra) const { return extra; }
    virtual void uncrop() {}
    virtual void updateColorStrings() {}
    virtual void updateStatus() {}
    virtual void uploadImage(const std::string& /*method*/) {}
    virtual void selectConcealTool() {}
    virtual void selectRectangleTool() {}
    virtual void selectRulerTool() {}
    // Renders the screenshot with every annotation layer and the backdrop;
    // a null image when there is no screenshot or the compile fails.
    virtual kit::Image compileImage() { return {}; }
    // Writes the image into the private temporary folder; the path, or none.
    virtual std::optional<std::string> saveTempImage(const kit::Image& /*image*/, const std::string& /*name*/,
                                                     bool /*maxQuality*/) {
        return std::nullopt;
    }
    // The settings' file-name template expanded at the current time.
    virtual std::string fileName() const { return "Screenshot"; }
};

// The backdrop (subsystem 12) as the editor sees it. Paddings in image pixels.
class BackdropHost {
public:
    virtual ~BackdropHost() = default;

    struct Paddings {
        double padBT = 0, padBB = 0, padBL = 0, padBR = 0;  // backdrop
        double padCT = 0, padCB = 0, padCL = 0, padCR = 0;  // canvas
    };

    // The backdrop's root layer, placed by the canvas under the screenshot; null when none.
    virtual std::shared_ptr<kit::Layer> lbackdrop() const { return nullptr; }
    virtual int isOn() const { return 0; }
    virtual Paddings paddings() const { return {}; }
    virtual void applyConfig(const kit::Json& /*config*/) {}
    virtual std::string configJSON(bool /*comparable*/) const { return "{}"; }
    // The backdrop's own editor keys; true when it took the key.
    virtual bool handleHotkey(int /*keyCode*/, bool /*shift*/, bool /*command*/, bool /*option*/,
                              bool /*control*/, const std::string& /*chars*/) {
        return false;
    }
    virtual void layout() {}
    // The whole composition in image coordinates; nothing when the backdrop is off.
    virtual std::optional<services::Rect> outerOrigin() const { return std::nullopt; }
    virtual double innerRadiusPx() const { return 0; }
    // The colour for the canvas behind the screenshot; may run off the main
    // thread (the backdrop guards its own cache). None keeps the colour shown.
    virtual std::optional<kit::Color> bestCanvasColor() const { return std::nullopt; }
    virtual double outerRadiusPx() const { return 0; }
    // Re-renders a mesh background at the layer's own size before an export.
    virtual void blurMeshForExport() {}
    // The canvas's pixel count and the backdrop's facts for usage events.
    virtual double canvasPixelCount() const { return 0; }
    virtual kit::Json telemetryInfo() const { return kit::Json::object(); }
    virtual void setup(bool /*light*/) {}
    virtual void toggle(const std::string& /*method*/) {}
    // No paddings, no radii, backdrop off (a new image starts without one).
    virtual void turnOff() {}
    // Takes a dropped file as the backdrop's picture; false when it did not.
    virtual bool loadNewFile(const std::string& /*file*/, const std::string& /*method*/) { return false; }
    // Places and scales the backdrop's own layers for the zoom and pan; the
    // canvas re-layout places the object tree (with the screenshot) itself.
    virtual void updateTransforms() {}
    // The backdrop panel (BackdropViewController): its view, a hint bubble
    // the editor embeds over the canvas; null while there is no panel.
    virtual std::shared_ptr<kit::View> panelView() { return nullptr; }
    virtual void updateControls() {}
    virtual void rememberCustomColors() {}
};

// The application shell (subsystems 9 and 10) as the editor sees it.
class ShellHost {
public:
    virtual ~ShellHost() = default;
    virtual bool forbidAutohide() const { return false; }
    // The preferences window exists and shows.
    virtual bool preferencesVisible() const { return false; }
    virtual void showPreferences(const std::string& /*tab*/) {}
    virtual bool launchAtLoginEnabled() const { return false; }
    virtual void setLaunchAtLogin(bool) {}
    // The status menu's launch-at-startup item follows the login item.
    virtual void setAutostartItemState(bool) {}
    // For the welcome view: the stored capture shortcut as this desktop
    // writes it ("Ctrl+Shift+1"; none when the user has none), and whether
    // the tray icon shows (a tray host is there and the icon is switched on).
    virtual std::optional<std::string> captureShortcutText() const { return std::nullopt; }
    virtual bool trayIconShows() const { return false; }
};

// The installed implementations (never null: the do-nothing base until installed).
CoreHost& core();
BackdropHost& backdrop();
ShellHost& shell();
// Installs an implementation (nullptr restores the default); the caller keeps ownership.
void setCore(CoreHost* host);
// The core as the annotation objects see it, handed to them by the object
// manager; null until the core installs one.
objects::ObjectsCore* objectsCore();
void setObjectsCore(objects::ObjectsCore* core);
void setBackdrop(BackdropHost* host);
void setShell(ShellHost* host);

}  // namespace editor
