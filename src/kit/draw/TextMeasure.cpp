#include "kit/draw/TextMeasure.h"

#include <QFontMetricsF>
#include <QTextLayout>

#include "kit/draw/qt/QtText.h"

namespace kit {

FontMetrics fontMetrics(const Font& font) {
    QFontMetricsF m(qt::toQFont(font), qt::measureDevice());
    FontMetrics r;
    r.ascent = m.ascent();
    r.descent = m.descent();
    r.leading = m.leading();
    r.lineHeight = m.lineSpacing();
    r.capHeight = m.capHeight();
    r.xHeight = m.xHeight();
    return r;
}

double textAdvance(const std::string& text, const Font& font) {
    QFontMetricsF m(qt::toQFont(font), qt::measureDevice());
    return m.horizontalAdvance(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

Size measureText(const std::string& text, const Font& font, double maxWidth) {
    QTextLayout layout(qt::layoutString(text), qt::toQFont(font), qt::measureDevice());
    QSizeF s = qt::layoutLines(layout, maxWidth);
    return {s.width(), s.height()};
}

}  // namespace kit
