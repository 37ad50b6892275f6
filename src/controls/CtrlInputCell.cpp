#include "controls/CtrlInputCell.h"

#include "controls/ControlLook.h"

namespace controls {

CtrlInputCell::Box CtrlInputCell::box(const kit::Rect& f, bool editing, bool dark) const {
    Box b;
    b.lineWidth = editing ? 2.0 : 0.5;
    double inset = editing ? 0 : 1.0;
    b.rect = {f.minX() + b.lineWidth / 2 + inset, f.minY() + b.lineWidth / 2 + inset,
              f.width() - b.lineWidth - 2 * inset, f.height() - b.lineWidth - 2 * inset};
    if (editing) {
        b.fill = ControlLook::controlColor(dark);
        b.stroke = ControlLook::blended(ControlLook::accentColor(), 0.3, ControlLook::controlColor(dark));
    } else {
        kit::Color text = ControlLook::textColor(dark);
        b.fill = text.withAlpha(0.07);
        b.stroke = text.withAlpha(0.13);
    }
    return b;
}

void CtrlInputCell::drawWithFrame(kit::ShapeLayer& layer, const kit::Rect& frame, bool editing,
                                  bool dark) const {
    Box b = box(frame, editing, dark);
    kit::ScopedTransaction tx;
    layer.setPath(kit::Path::roundedRect(b.rect, cornerRadius, cornerRadius));
    layer.setFillColor(b.fill);
    layer.setStrokeColor(b.stroke);
    layer.setLineWidth(b.lineWidth);
}

kit::Rect CtrlInputCell::centredTitleRect(const kit::Rect& t, double textHeight) {
    return {t.x(), t.y() + (t.height() - textHeight) * 0.5 - 1.0, t.width(), textHeight};
}

}  // namespace controls
