#pragma once
// kit-internal: standard controls are kit views hosting one Qt widget that
// fills them.
#include <QColor>
#include <QWidget>

#include "kit/base/Color.h"
#include "kit/base/qt/QtConvert.h"
#include "kit/ui/Control.h"
#include "kit/ui/TextField.h"

namespace kit::qt {

// Puts `widget` inside the view, filling it; the view owns it from now on.
void hostWidget(View& view, QWidget* widget);
QWidget* hostedWidget(const View& view);
template <class W>
W* hosted(const View& view) {
    return static_cast<W*>(hostedWidget(view));
}

inline Qt::Alignment toQtAlignment(TextAlignment a) {
    switch (a) {
        case TextAlignment::Center:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        case TextAlignment::Right:
            return Qt::AlignRight | Qt::AlignVCenter;
        case TextAlignment::Justified:
            return Qt::AlignJustify | Qt::AlignVCenter;
        case TextAlignment::Natural:
        case TextAlignment::Left:
            break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}
inline Color fromQColor(const QColor& q) {
    return {q.redF(), q.greenF(), q.blueF(), q.alphaF()};
}

}  // namespace kit::qt
