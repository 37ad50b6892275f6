#include "kit/image/Print.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <algorithm>

#include "kit/base/qt/QtImage.h"

namespace kit::Print {

namespace {

// One point per pixel, whatever the image's scale, enlarged or shrunk to the
// largest size the printable area holds with its proportions kept, and
// centred there. The printable area is the paper less the printer's own
// margins, which it cannot print on.
bool paint(QPrinter& printer, const Image& image) {
    QPainter p;
    if (!p.begin(&printer)) return false;
    QPageLayout printable = printer.pageLayout();
    printable.setMode(QPageLayout::StandardMode);
    printable.setMargins(printable.minimumMargins());
    QRectF area = printable.paintRectPixels(printer.resolution());
    const double toDevice = printer.resolution() / 72.0;
    Rect target = fitToPrintableArea({area.x(), area.y(), area.width(), area.height()},
                                     {image.width() * toDevice, image.height() * toDevice});
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(target.x(), target.y(), target.width(), target.height()), qt::wrap(image));
    return p.end();
}

// Landscape unless the image is taller than wide (a square prints in
// landscape), with no margins.
void layOut(QPrinter& printer, const Image& image) {
    printer.setPageOrientation(image.height() <= image.width() ? QPageLayout::Landscape
                                                               : QPageLayout::Portrait);
    printer.setFullPage(true);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
}

}  // namespace

Rect fitToPrintableArea(const Rect& area, Size natural) {
    if (natural.width <= 0 || natural.height <= 0) return {area.x(), area.y(), 0, 0};
    const double s = std::min(area.width() / natural.width, area.height() / natural.height);
    const double w = natural.width * s, h = natural.height * s;
    return {area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2, w, h};
}

bool printImage(const Image& image, const std::string& jobName) {
    if (image.isNull()) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromStdString(jobName));
    layOut(printer, image);
    QPrintDialog dialog(&printer);
    if (dialog.exec() != QDialog::Accepted) return false;
    return paint(printer, image);
}

bool printImageToPdf(const Image& image, const std::string& pdfPath) {
    if (image.isNull() || pdfPath.empty()) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdfPath));
    layOut(printer, image);
    return paint(printer, image);
}

}  // namespace kit::Print
