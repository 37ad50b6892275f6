#pragma once
// The shell's calls into the editor's parts: pan and zoom, the input
// dispatcher's cursor, the canvas layout request and the text-editing state.
#include "shell/CoreLink.h"

namespace shell {

class EditorPartsLink : public EditorLink {
public:
    void zoom(Zoom z) override;
    bool isEditingText() const override;
    bool canvasOwnsCopy() const override;
    void updateCursor() override;
    int pendingChange() const override;
    void setPendingChange(int value) override;
    void relayoutCanvas(bool sizeChanged) override;
    void redrawToolbar() override;
};

}  // namespace shell
