#include "kit/Print.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <algorithm>

#include "kit/qt/QtImage.h"

namespace kit::Print {

namespace {

// One point per pixel, whatever the image's scale, enlarged or shrunk to the
// largest size the page holds with its proportions kept, and centred.
bool paint(QPrinter& printer, const Image& image) {
    QPainter p;
    if (!p.begin(&printer)) return false;
    QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    page.moveTo(0, 0);
    QSizeF natural(image.width() * printer.resolution() / 72.0, image.height() * printer.resolution() / 72.0);
    double s = std::min(page.width() / natural.width(), page.height() / natural.height());
    QSizeF size = natural * s;
    QRectF target(page.x() + (page.width() - size.width()) / 2,
                  page.y() + (page.height() - size.height()) / 2, size.width(), size.height());
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, qt::wrap(image));
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
