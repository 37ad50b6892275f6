#pragma once
// The editor's undo history: whole snapshots of the editor (the annotation
// objects, the selected object, the crop selection, the crop, the counter
// number and the backdrop configuration) taken after each change, stepped
// back and forth by undo and redo. A snapshot equal to the current one,
// ignoring which object is selected, is not stored. The history has no limit
// and lives until the next image is loaded.
//
// Main thread only.
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Timer.h"
#include "services/Rect.h"

namespace editor {

class Undo {
public:
    struct Snapshot {
        std::string label, full, comparable;
    };

    // The one history of the process, created on first use.
    static Undo& shared();

    std::vector<Snapshot> states;  // oldest first
    int position = -1;             // the snapshot the editor shows; -1 while empty
    kit::Timer tmDebounce;         // the backdrop panel's pending snapshot

    // Takes a snapshot when the editor differs from the current one.
    void save(const std::string& label);
    void undo();
    void redo();
    bool canUndo() const { return position > 0; }
    bool canRedo() const { return position < int(states.size()) - 1; }
    // A new screenshot: the history starts again from the editor as it is.
    void reset();
    // Rebuilds the editor from a full snapshot text; false when it does not decode.
    bool restore(const std::string& full);

    // The snapshot texts of the editor as it is: full and comparable, both
    // empty when the state cannot be encoded.
    Snapshot current(const std::string& label) const;

private:
    // Moves by one snapshot and restores it; the "…:fail" event when there is none.
    void step(int delta, const char* name);
};

// Sends the editor's snapshot requests (objects, crop tool, ruler) to the history.
void installUndo();

}  // namespace editor
