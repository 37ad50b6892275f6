#pragma once
// Printing an image fitted to the page, through the print dialog or straight
// into a PDF file.
#include <string>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace kit::Print {

// Shows the print dialog and prints when the user confirms; false when
// cancelled or when nothing could be printed.
bool printImage(const Image& image, const std::string& jobName);
// Writes one page holding the image, fitted and centred, to a PDF file.
bool printImageToPdf(const Image& image, const std::string& pdfPath);
// Where an image of a natural size goes on the page: scaled, proportions
// kept, to fill the printable area (the paper less the printer's margins)
// along one side, and centred in it. Same units in and out.
Rect fitToPrintableArea(const Rect& area, Size natural);

}  // namespace kit::Print
