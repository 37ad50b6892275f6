#pragma once
// Fonts and line layout for kit text (kit-internal). Measuring and drawing
// share these so measured sizes match what is painted.
#include <QFont>
#include <QPaintDevice>
#include <QString>
#include <QTextLayout>
#include <string>

#include "kit/draw/Font.h"

namespace kit::qt {

// The device text is measured for when no other is given (fixed logical DPI).
const QPaintDevice* measureDevice();

// A font whose size in pixels of `device` is font.size (fractional sizes kept).
QFont toQFont(const Font& font, const QPaintDevice* device = nullptr);

// Newlines become line separators so one layout holds every paragraph.
QString layoutString(const std::string& utf8);

// Lays out text into `layout` (already holding the text and font): lines
// wrap at maxWidth when it is positive. Returns the size: widest natural
// line width × the sum of line heights (at least one line).
QSizeF layoutLines(QTextLayout& layout, double maxWidth, Qt::Alignment align = Qt::AlignLeft);

}  // namespace kit::qt
