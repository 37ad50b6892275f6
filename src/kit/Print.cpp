#include "kit/Print.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include "kit/qt/QtImage.h"

namespace kit::Print {

namespace {

// Scales the image down (never up past its point size) to the printable
// area, keeping its proportions, and centres it.
bool paint(QPrinter& printer, const Image& image) {
    QPainter p;
    if (!p.begin(&printer)) return false;
    QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    page.moveTo(0, 0);
    QSizeF natural(image.pointSize().width * printer.resolution() / 72.0,
                   image.pointSize().height * printer.resolution() / 72.0);
    double s = std::min({1.0, page.width() / natural.width(), page.height() / natural.height()});
    QSizeF size = natural * s;
    QRectF target(page.x() + (page.width() - size.width()) / 2,
                  page.y() + (page.height() - size.height()) / 2, size.width(), size.height());
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, qt::wrap(image));
    return p.end();
}

}  // namespace

bool printImage(const Image& image, const std::string& jobName) {
    if (image.isNull()) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromStdString(jobName));
    if (image.width() > image.height()) printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer);
    if (dialog.exec() != QDialog::Accepted) return false;
    return paint(printer, image);
}

bool printImageToPdf(const Image& image, const std::string& pdfPath) {
    if (image.isNull() || pdfPath.empty()) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdfPath));
    if (image.width() > image.height()) printer.setPageOrientation(QPageLayout::Landscape);
    return paint(printer, image);
}

}  // namespace kit::Print
