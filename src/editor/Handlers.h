#pragma once
// The single entry point for pointer and key input on the editor canvas. The
// canvas view hands it every mouse, scroll and magnify event with the pointer
// in canvas points; the editor window hands it every key as a KeyEvt. It
// converts positions to view space (device pixels), picks the component that
// gets a press (pan and zoom, the ruler, the objects or the crop tool), keeps
// the pressed buttons, chooses the cursor and performs the pending canvas
// re-layout once at the end of each event.
//
// The components are installed by the editor at start-up (see CanvasInput.h);
// a route with nothing installed does nothing. Main thread only.
#include <array>
#include <map>
#include <string>

#include "editor/CanvasInput.h"
#include "editor/KeyEvt.h"
#include "kit/base/Event.h"
#include "kit/base/Timer.h"

namespace kit {
class View;
}

namespace editor {

// The KeyEvt of a key-down, key-up or modifier change of the editor window:
// either Shift key reports as 56, either Command key as 54, with empty text.
KeyEvt keyEvtFromEvent(const kit::Event& event);

class Handlers {
public:
    // The one dispatcher of the process, created on first use.
    static Handlers& shared();
    virtual ~Handlers() = default;

    // Installed components (not owned); null routes do nothing.
    ObjectInput* objects = nullptr;
    CropInput* crop = nullptr;
    RulerInput* ruler = nullptr;
    KeyCommands* keys = nullptr;
    DragOut* dragOut = nullptr;
    // The canvas view, the source of an image drag-out.
    kit::View* shotView = nullptr;

    double mouseDX = 0, mouseDY = 0;  // last pointer position in view space
    std::string mmode = "default";    // "default", "pan", "croptool", "objectHandlers"
    std::string mmodePrev = "default";
    std::array<bool, 6> pressedMouseButtons{};  // held buttons 0 to 5

    // Pointer events with the position in canvas points and the button number.
    virtual void mouseDown(const kit::Event& event, double x, double y, int button);
    virtual void mouseDragged(const kit::Event& event, double x, double y, int button);
    virtual void mouseUp(const kit::Event& event, double x, double y, int button);
    // A key-down of the editor: runs the editor's key table.
    virtual void keyDown(const KeyEvt& key, const kit::Event* event);
    virtual void keyUp(const KeyEvt& key, const kit::Event* event);
    virtual void scroll(const kit::Event& event, double x, double y);
    // Sets the cursor for the current state; other components call it after
    // changing theirs.
    virtual void updateCursor();
    virtual void mouseMoved(const kit::Event& event, double x, double y);
    virtual void magnify(const kit::Event& event, double x, double y);

    // The editor window lost the keyboard: the buttons and keys it saw go
    // down no longer reach it, so forget them (no drag or key stays stuck).
    void resignKey();
    // Runs the pending canvas re-layout, if any.
    void flush();

    // The route that took each button's mouse-down, which also gets its mouse-up.
    const std::map<int, std::string>& buttonOwners() const { return owners_; }

private:
    // The installed component or a do-nothing one.
    ObjectInput& objectsRoute();
    CropInput& cropRoute();
    RulerInput& rulerRoute();
    bool imageLoaded() const;
    void setPressed(int button, bool pressed);
    void dragCropSelection(kit::Point view, const kit::Event& event);

    std::map<int, std::string> owners_;
    kit::Timer cursorTimer_;
};

}  // namespace editor
