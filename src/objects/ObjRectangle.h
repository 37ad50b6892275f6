#pragma once
// The rectangle annotation: an outline, a translucent fill or both over an
// axis-aligned area, with corners that round as it grows. Its outline joins
// the editor's spotlight mask when asked. The overlay image derives from it.
#include "objects/ProtoObject.h"

namespace objects {

class ObjRectangle : public ProtoObject {
public:
    ObjRectangle(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjRectangle"; }

    // Border width in points per size index.
    std::vector<double> widths{1, 2, 3, 4, 6, 8, 11, 15, 21, 30};
    bool showBorder = true;
    bool showBackground = false;
    double backgroundAlpha = 0.3;

    void draw() override;
    std::optional<kit::Path> outlinePath() override;
    std::string action(kit::Point p) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

protected:
    double w0() const;  // border width of the current size, points
    // Corner radius in points before the fill-only exception.
    double cornerRadiusPoints() const;
    kit::Json rectangleRecord() const;
    // B, F and the digit keys for border, fill and fill opacity.
    void fillKeys(const kit::Event* event, const KeyEvt& key);
};

// B (key code 11) and F (3) toggle the border and the fill; the two never end up both off.
void toggleBorderAndFill(int code, bool& border, bool& fill);
// The fill level the tool bar shows: "0" without a fill, "100" opaque, else "40".
std::string fillLevel(bool fill, double alpha);
// The border and fill keys of a record (showBackground, showBorder,
// backgroundAlpha), and their reading; false when one is missing.
void writeFillKeys(kit::Json& j, bool fill, bool border, double alpha);
bool readFillKeys(const kit::Json& j, bool& fill, bool& border, double& alpha);
// Creates the eight resize knobs in the order bl, tl, br, tr, l, t, r, b.
void addResizeKnobs(ProtoObject& object);
// Places them around `rect` with a margin of half the line plus 6 pixels.
// The rectangle snaps (t × dpr) and divides by dpr twice; the oval rounds the
// canvas coordinate and divides once.
enum class KnobSnap { Scaled, Whole };
void placeResizeKnobsAround(ProtoObject& object, const services::Rect& rect, double lineWidthPoints,
                            KnobSnap snap);

}  // namespace objects
