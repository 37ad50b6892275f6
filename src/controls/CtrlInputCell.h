#pragma once
// The look of the layouts' input fields: a rounded, lightly tinted box that
// becomes an accent outline while the field is edited, with the text centred
// vertically. Set on a text field (kit::TextField::setCell), it draws into the
// field's layer whenever the field's size, editing state or look changes, and
// tells the field where its text (and the editor of that text) goes.
#include "kit/base/Color.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/ui/TextField.h"

namespace controls {

class CtrlInputCell : public kit::TextFieldCell {
public:
    kit::Color borderColor = kit::Color::black();  // kept for layouts; not drawn
    double cornerRadius = 5.0;

    struct Box {
        kit::Rect rect;
        double lineWidth = 0;
        kit::Color fill, stroke;
    };
    // The box for a cell frame, editing or not, in the light or dark look.
    Box box(const kit::Rect& frame, bool editing, bool dark) const;
    // Draws the box into a shape layer covering the frame.
    void drawWithFrame(kit::ShapeLayer& layer, const kit::Rect& frame, bool editing,
                       bool dark) const override;
    kit::Rect titleRect(const kit::Rect& base, double textHeight) const override {
        return centredTitleRect(base, textHeight);
    }
    // The title rectangle centred vertically in `titleRect` for a text of
    // natural height `textHeight`, moved up by one point (the field's space
    // runs down from its top); drawing, editing and selecting all use it.
    static kit::Rect centredTitleRect(const kit::Rect& titleRect, double textHeight);
};

}  // namespace controls
