#include "kit/draw/Font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>

#include "kit/draw/TextMeasure.h"
#include "kit/draw/qt/QtText.h"

namespace kit {

namespace qt {

static QFont::Weight toQtWeight(FontWeight w) {
    switch (w) {
        case FontWeight::UltraLight:
            return QFont::ExtraLight;
        case FontWeight::Thin:
            return QFont::Thin;
        case FontWeight::Light:
            return QFont::Light;
        case FontWeight::Regular:
            return QFont::Normal;
        case FontWeight::Medium:
            return QFont::Medium;
        case FontWeight::Semibold:
            return QFont::DemiBold;
        case FontWeight::Bold:
            return QFont::Bold;
        case FontWeight::Heavy:
            return QFont::ExtraBold;
        case FontWeight::Black:
            return QFont::Black;
    }
    return QFont::Normal;
}

// A device for measuring when none is given; images have a fixed logical DPI.
const QPaintDevice* measureDevice() {
    static const QImage img(1, 1, QImage::Format_ARGB32_Premultiplied);
    return &img;
}

QFont toQFont(const Font& font, const QPaintDevice* device) {
    QFont q = font.isSystem() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont)
                              : QFont(QString::fromStdString(font.family));
    const QPaintDevice* dev = device ? device : measureDevice();
    double dpi = dev->logicalDpiY() > 0 ? dev->logicalDpiY() : 96.0;
    // Point sizes keep fractions; the device's DPI turns them into our units.
    q.setPointSizeF(std::max(font.size, 0.01) * 72.0 / dpi);
    q.setWeight(toQtWeight(font.weight));
    q.setItalic(font.italic);
    q.setKerning(true);
    return q;
}

QString layoutString(const std::string& utf8) {
    QString s = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    s.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return s;
}

QSizeF layoutLines(QTextLayout& layout, double maxWidth, Qt::Alignment align) {
    QTextOption opt(align);
    opt.setWrapMode(maxWidth > 0 ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    layout.setTextOption(opt);
    layout.setCacheEnabled(true);
    double y = 0, width = 0;
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        // Setting the width is what lays the line out; unwrapped lines get room to spare.
        line.setLineWidth(maxWidth > 0 ? maxWidth : 1e7);
        line.setLeadingIncluded(true);
        line.setPosition(QPointF(0, y));
        y += line.height();
        width = std::max(width, line.naturalTextWidth());
    }
    layout.endLayout();
    if (layout.lineCount() == 0) y = QFontMetricsF(layout.font(), measureDevice()).lineSpacing();
    return {width, y};
}

}  // namespace qt

std::optional<Font> Font::named(const std::string& family, double size, FontWeight weight) {
    if (!exists(family)) return std::nullopt;
    return Font{family, size, weight, false};
}

bool Font::exists(const std::string& family) {
    if (family.empty() || !QGuiApplication::instance()) return false;
    QString want = QString::fromStdString(family);
    const QStringList all = QFontDatabase::families();
    return std::any_of(all.begin(), all.end(),
                       [&](const QString& f) { return f.compare(want, Qt::CaseInsensitive) == 0; });
}

std::vector<std::string> Font::families() {
    std::vector<std::string> out;
    if (!QGuiApplication::instance()) return out;
    for (const QString& f : QFontDatabase::families()) out.push_back(f.toStdString());
    std::sort(out.begin(), out.end());
    return out;
}

std::string Font::systemFamily() {
    if (!QGuiApplication::instance()) return {};
    return QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family().toStdString();
}

}  // namespace kit
