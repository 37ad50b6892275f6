#pragma once
// What the shell asks of the application core and of the editor's inner
// parts beyond what the editor's own host interface (editor::core()) gives:
// the capture commands, opening files, the URL command handler, the editor's
// zoom and text-editing state. The core installs its implementation at
// start-up (shell::setCoreLink); until then every call reaches these
// do-nothing defaults. Tests install a recording double.
//
// Main thread only.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Image.h"

namespace kit {
class Window;
}

namespace shell {

using AfterGrab = std::optional<std::vector<std::string>>;  // absent: the settings decide

class CoreLink {
public:
    virtual ~CoreLink() = default;

    // Shows the editor window again (the core's yieldFocus).
    virtual void yieldFocus() {}
    // Loads an image file into the editor; false when it could not be opened.
    // `shown` presents the editor once the picture is the screenshot (it may
    // wait for an earlier capture).
    virtual bool openImage(const std::string& /*file*/, std::function<void()> /*shown*/) { return false; }
    virtual void handleURLCommand(const std::string& /*host*/, const std::string& /*command*/,
                                  const std::optional<std::string>& /*value*/,
                                  const std::map<std::string, std::string>& /*query*/) {}
    virtual void cleanupTempFolder() {}

    virtual void grabScreenshot(const std::string& /*mode*/, const std::string& /*method*/,
                                const AfterGrab&) {}
    // direction −1: the ordinary capture scrolling down; 1: upwards.
    virtual void startScrollingCapture(int /*direction*/, const std::string& /*method*/, const AfterGrab&) {}
    // The live scrolling capture with the region picked by the user; its
    // image goes to the core's grabScrollingManual.
    virtual void startManualScrollingCapture(const std::string& /*method*/, const AfterGrab&) {}
    virtual void grabDelayed(const std::string& /*method*/, const AfterGrab&) {}
    virtual void instantOCR(const std::string& /*method*/) {}
    virtual void loadFromClipboard(const std::string& /*method*/) {}
    virtual void openImageDialog() {}
    virtual void gotoUploads(const std::string& /*method*/) {}

    // Editor commands of the main menu the editor's host interface lacks.
    // Lets the user choose the save folder; `whenReady` runs once one was chosen.
    virtual void selectDefaultFolder(std::function<void()> /*whenReady*/ = {}) {}
    virtual void saveImageAs(const std::optional<std::string>& /*folder*/, const std::string& /*name*/) {}
    virtual void rasterize() {}
    virtual void printImage(const kit::Image&) {}

    // The preferences window is on screen.
    virtual bool preferencesVisible() const { return false; }
    // The preferences window, once made (the core's winPreferences).
    virtual void setPreferencesWindow(kit::Window*) {}
};

// The editor's parts the main menu drives (zoom, cursor, text editing).
class EditorLink {
public:
    virtual ~EditorLink() = default;

    enum class Zoom { In, Out, ToFit, To100, ToSelection, SelectionTopLeft, SelectionBottomRight };
    virtual void zoom(Zoom) {}
    // A text annotation is being edited.
    virtual bool isEditingText() const { return false; }
    // An annotation object is active or a crop selection is shown: Ctrl+C
    // then copies that, and the canvas handles the key itself.
    virtual bool canvasOwnsCopy() const { return false; }
    virtual void updateCursor() {}
    // The annotation objects' pending-change marker (0 none, 1 selection or
    // drag, 2 size change) and the editor step that settles it.
    virtual int pendingChange() const { return 0; }
    virtual void setPendingChange(int) {}
    virtual void relayoutCanvas(bool /*sizeChanged*/) {}
    // Asks the editor's tool bar to redraw its buttons.
    virtual void redrawToolbar() {}
};

CoreLink& coreLink();
EditorLink& editorLink();
// Installs an implementation (nullptr restores the default); the caller keeps ownership.
void setCoreLink(CoreLink* link);
void setEditorLink(EditorLink* link);

}  // namespace shell
