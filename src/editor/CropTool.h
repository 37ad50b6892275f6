#pragma once
// The editor's rectangular selection: the area that Return crops to, that
// Ctrl+C copies and Ctrl+O reads text from, and that the colour, contrast and
// smart-adjust features work on. One shared instance.
//
// Spaces: `selection` is in image pixels (y up, whole-pixel edges after every
// edit; width and height are negative only while a drag flips them); the mouse
// handlers take canvas device pixels (the dispatcher's view space); the layers
// are laid out in canvas points (device pixels / dpr).
//
// No knobs are drawn: the handles are hit bands along the edges and corners,
// shown by the resize cursor the dispatcher asks getCursor() for. The read-outs
// are a size label under the selection (click: pixels/points), a contrast label
// above it (click: what the ratio means) and a hint line under the size label.
//
// Main thread only; the contrast is measured by one background worker.
#include <memory>
#include <optional>
#include <string>

#include "editor/CanvasInput.h"
#include "editor/CropToolContrast.h"
#include "editor/KeyEvt.h"
#include "kit/base/Event.h"
#include "kit/draw/Layer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "services/Rect.h"

namespace editor {

class CropTool : public CropInput {
public:
    static CropTool& shared();
    CropTool();
    ~CropTool() override = default;
    CropTool(const CropTool&) = delete;
    CropTool& operator=(const CropTool&) = delete;

    // The state behind on() and selection(): a selection exists and is
    // shown; the selection in image pixels. Others set it with setSelection().
    bool on_ = false;
    services::Rect selection_{0, 0, 100, 100};
    bool on() const override { return on_; }
    services::Rect selection() const override { return selection_; }
    std::optional<services::Rect> suggestion;  // smart-adjust preview while Alt is held in a drag
    std::string mmode = "default";             // "default", "select", "move", "*-resize", "units"
    double mdsx = 0, mdsy = 0;                 // image point of the last mouse-down
    services::Rect mouseDownSelection{0, 0, 100, 100};
    std::optional<double> contrast;  // none while unknown (the label hides)
    double tmMouseDown = 0;          // event time of the last mouse-down, seconds
    bool mousePressed = false;

    // Layers, back to front inside `layer`.
    std::shared_ptr<kit::ShapeLayer> lshade;  // the curtain outside the selection
    kit::LayerPtr lblack, lwhite, lsuggestion, ltextbg, ltextbgContrast;
    std::shared_ptr<kit::TextLayer> ltext, ltextContrast, ltcrop;
    kit::LayerPtr layer_;  // holds all of the above

    // Selection model.
    virtual void roundSelection();
    virtual void growSelection();
    // Moves the edges by image-pixel deltas (dx1, dy1 the low edges; dx2, dy2
    // the far ones). Without allowFlip an empty or inverted result is refused
    // (false, selection unchanged).
    virtual bool updateSelection(double dx1, double dy1, double dx2, double dy2, bool allowFlip);
    virtual void keepInside();
    virtual void clampEdge(const std::string& edge);  // "x", "x2", "y", "y2"
    virtual std::string hitTest(double x, double y) const;
    std::string getCursor(double x, double y) override;
    virtual void setSelection(std::optional<services::Rect> rect);
    void render(bool animated) override;
    kit::LayerPtr layer() const override { return layer_; }

    // Input (canvas device pixels).
    void mouseDown(const kit::Event& event, int button, double x, double y) override;
    void mouseDragged(double x, double y, const kit::Event& event) override;
    void mouseUp(double x, double y, const kit::Event& event) override;
    void mouseMoved(double x, double y) override;
    // The selection keys; only while `on`.
    virtual void keyDown(int code, KeyEvt::Modifiers modifiers, const std::string& characters);

    // Read-outs and suggestions.
    virtual void magicSelect(double x, double y);
    virtual void updateContrast();
    virtual void adjustSide(const std::string& side);
    virtual void actionAdjust();

    // The texts of the two labels as they stand for the current selection.
    std::string sizeText() const;
    std::string contrastText() const;

private:
    ContrastWorker contrastWorker_;

    void removeSelection();
    void forgetContrast();
    void layoutNow(int level);
    bool overPlate(const kit::LayerPtr& plate, double x, double y) const;
    void showContrastHelp();
    void switchUnits();
    void copyAverageColor(const std::string& method);
    void stepKey(int code, bool command, double s, const std::string& method);
    void renderLabels(const kit::Rect& s);
};

}  // namespace editor
