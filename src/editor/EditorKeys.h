#pragma once
// The editor's keyboard commands: one key-down of the editor window run
// through a fixed sequence of tests. A test acts and either lets the key go on
// to the later tests or stops it there; the normal end refreshes the cursor,
// the status line and the canvas. Keys that belong to a component (text
// editing and the objects, the crop tool, the ruler, the backdrop, pan and
// zoom) reach that component's own key handler at a fixed place in the
// sequence. Keys are matched by their position (virtual key code); only the
// undo key also looks at the typed "z" and the backdrop key at a typed "k".
//
// Main thread only.
#include <functional>
#include <memory>
#include <string>

#include "editor/CanvasInput.h"
#include "editor/KeyEvt.h"
#include "kit/base/Event.h"
#include "services/Rect.h"

namespace editor {

class CropTool;
class Ruler;

class EditorKeys : public KeyCommands {
public:
    // What the table asks of its neighbours beyond the dispatcher's
    // interfaces: the object manager (text editing, its keys, ending the
    // interaction, adding a conceal object over a rectangle that then
    // re-renders), the editor view's hint bubbles and the undo history.
    struct Links {
        std::function<bool()> isEditing;
        std::function<void(const kit::Event* event, const KeyEvt& key)> objectKeyDown;
        std::function<void()> deactivate;
        std::function<void(const services::Rect& rect)> addConceal;
        std::function<bool()> anyHelperVisible;
        std::function<bool()> hideHelpers;
        std::function<void()> redo;
    };

    static EditorKeys& shared();
    // The table over a crop tool and a ruler (the shared ones when null).
    explicit EditorKeys(CropTool* crop = nullptr, Ruler* ruler = nullptr);

    Links links;

    void keyDown(const KeyEvt& key, const kit::Event* event) override;

    // The class name of the tool a letter selects, "" for other keys.
    static std::string toolForKey(int code);

private:
    CropTool& crop_;
    Ruler& ruler_;

    bool objectActive() const;
    bool imagePresent() const;
    // The Esc, Tab and Ctrl+C rows; false when the key stops there. `tab` is
    // set when Tab goes on to copy the colour.
    bool leadingRows(const KeyEvt& key, const kit::Event* event, const std::string& method, bool& tab);
    void escape(const std::string& method);
    void appRows(const KeyEvt& key, const kit::Event* event, const std::string& method, bool tab);
    // The tool letters and the selection imprints; false when the key stops there.
    bool toolRows(const KeyEvt& key, const std::string& method);
    void debugRows(const KeyEvt& key);
    void copyColor(bool darkest, const std::string& method);
    void recognizeText(const std::string& method);
    void finish();
};

// Installs the shared crop tool, ruler and key table into the dispatcher; the
// editor's start-up calls it once, before the canvas builds its layers.
void installCropRulerAndKeys();

}  // namespace editor
