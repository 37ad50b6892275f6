#pragma once
// The components the canvas hands its input to. The dispatcher (Handlers)
// routes every pointer and key event of the editor canvas to the annotation
// objects, the crop tool, the ruler or the editor key table; the canvas
// re-layout places their layers and asks each to lay itself out. Each of
// those components implements its interface below and is installed into the
// dispatcher when the editor starts:
//   Handlers::shared().objects = &objectHandlers;   (crop, ruler, keys, dragOut likewise)
// A route with nothing installed does nothing. Tests install recording doubles.
//
// Positions handed on are view-space device pixels of the canvas (canvas
// points × the device-pixel ratio, origin bottom-left, y up), as the viewport
// (Framer) converts them. Every operation has a do-nothing default so that an
// implementation overrides what it has and later additions here stay
// harmless. Main thread only.
#include <optional>
#include <string>

#include "editor/KeyEvt.h"
#include "kit/base/Event.h"
#include "kit/base/Geometry.h"
#include "kit/draw/Layer.h"
#include "services/Rect.h"

namespace kit {
class View;
}

namespace editor {

// The annotation-object manager (ObjectHandlers).
class ObjectInput {
public:
    virtual ~ObjectInput() = default;

    // Index of the active object in the object list, none when no object is active.
    virtual std::optional<int> active() const { return std::nullopt; }
    // Class name of the tool armed for creation on the next click ("ObjArrow"), "" when none.
    virtual std::string createOnClick() const { return {}; }

    // The objects, bottom to top, as the hover walk sees them: their number and
    // state words ("unselected", "highlighted", "creating", ...).
    virtual int objectCount() const { return 0; }
    virtual std::string objectState(int /*index*/) const { return {}; }
    virtual void setObjectState(int /*index*/, const std::string& /*state*/) {}
    // Marks the active object's knob under the view point and redraws the
    // knobs; true when the highlighted knob changed (the canvas then re-lays out).
    virtual bool highlightKnob(kit::Point /*p*/) { return false; }

    // Whether the manager claims a mouse-down at a view point: a tool is
    // armed, an object is being created, or (button 0) an object's knob,
    // edge or body is under the point.
    virtual bool wantsMouseDown(double /*x*/, double /*y*/, int /*button*/) { return false; }
    virtual void mouseDown(const kit::Event& /*event*/, kit::Point /*point*/, int /*button*/) {}
    virtual void mouseDrag(const kit::Event& /*event*/, kit::Point /*point*/, int /*button*/) {}
    virtual void mouseUp(const kit::Event& /*event*/, kit::Point /*point*/, int /*button*/) {}
    virtual void dblClick(const kit::Event& /*event*/, kit::Point /*point*/, int /*button*/) {}
    // The object layer's own Esc handling, run before a crop drag starts.
    virtual void escEvent() {}
    // Index of the topmost object under a view point, none when there is none.
    virtual std::optional<int> getResponder(kit::Point /*point*/) { return std::nullopt; }
    // Cursor name for a view point ("crosshair" while creating, knob and move cursors).
    virtual std::string getCursor(double /*dx*/, double /*dy*/) { return "default"; }
    virtual void keyUp(const kit::Event* /*event*/, const KeyEvt& /*key*/) {}
    // The active object's rectangle in image pixels (width and height may be
    // negative for lines and arrows). Called only while an object is active.
    virtual services::Rect getRect() { return {}; }

    // The layers the canvas places: the root of the object layers, the
    // selection knobs, the holder of the screenshot layer and the spotlight curtain.
    virtual kit::LayerPtr layer() const { return nullptr; }
    virtual kit::LayerPtr lcontrol() const { return nullptr; }
    virtual kit::LayerPtr lcanvas() const { return nullptr; }
    virtual kit::LayerPtr lcurtain() const { return nullptr; }
    // Lays out and redraws the object layers for the current zoom and pan.
    virtual void layoutObjects() {}
};

// The crop tool (the editor's rectangular selection).
class CropInput {
public:
    virtual ~CropInput() = default;

    // A selection exists.
    virtual bool on() const { return false; }
    // The selection in image pixels (whole-pixel edges); meaningful while on.
    virtual services::Rect selection() const { return {}; }

    virtual void mouseDown(const kit::Event& /*event*/, int /*button*/, double /*x*/, double /*y*/) {}
    virtual void mouseDragged(double /*x*/, double /*y*/, const kit::Event& /*event*/) {}
    virtual void mouseUp(double /*x*/, double /*y*/, const kit::Event& /*event*/) {}
    virtual void mouseMoved(double /*x*/, double /*y*/) {}
    // Cursor name for a view point.
    virtual std::string getCursor(double /*x*/, double /*y*/) { return "default"; }

    // The crop tool's layer, placed above the object knobs.
    virtual kit::LayerPtr layer() const { return nullptr; }
    // Redraws the selection for the current zoom and pan.
    virtual void render(bool /*animated*/) {}
};

// The ruler (measuring line while its keys are held).
class RulerInput {
public:
    virtual ~RulerInput() = default;

    virtual bool on() const { return false; }
    // The pointer moved to a view point.
    virtual void pointerMoved(double /*x*/, double /*y*/) {}
    // Turns the current measurement into a measuring-line object.
    virtual void imprint() {}
    // A scroll while the ruler shows (changes its sensitivity).
    virtual void scrolled(const kit::Event& /*event*/) {}
    // A key went up; the ruler hides when none of its keys is held any longer.
    virtual void keyUp() {}

    // The ruler's layer, the topmost of the canvas.
    virtual kit::LayerPtr layer() const { return nullptr; }
    // Places the ruler for the current zoom and pan.
    virtual void layout() {}
};

// The editor's keyboard command table (EditorKeys): runs one key-down of the
// editor window through its fixed sequence of tests. The platform event is
// absent for keys synthesised by the window.
class KeyCommands {
public:
    virtual ~KeyCommands() = default;
    virtual void keyDown(const KeyEvt& /*key*/, const kit::Event* /*event*/) {}
};

// Dragging the image out of the canvas as a file (Control-drag).
class DragOut {
public:
    virtual ~DragOut() = default;
    virtual void initiate(kit::View& /*view*/, const kit::Event& /*event*/) {}
};

}  // namespace editor
