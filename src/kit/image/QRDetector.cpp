#include "kit/image/QRDetector.h"

// Texts come back as UTF-8.
#define ZX_USE_UTF8 1
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>

#include <exception>

#include "kit/image/TextRecognizer.h"

namespace kit {

std::vector<std::string> QRDetector::detect(const Image& image) {
    std::vector<std::string> messages;
    RecognitionImage input = RecognitionImage::of(image);
    if (input.grey.empty()) return messages;
    ZXing::ImageView view(input.grey.data(), input.width, input.height, ZXing::ImageFormat::Lum);
    auto hints =
        ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::QRCode).setTryHarder(true).setTryRotate(true);
    try {
        for (const auto& result : ZXing::ReadBarcodes(view, hints))
            if (result.isValid()) messages.push_back(result.text());
    } catch (const std::exception&) {
        // A reader failure is no code found.
    }
    return messages;
}

Image QRDetector::encode(const std::string& text, int size) {
    try {
        ZXing::BitMatrix bits = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                                    .setEncoding(ZXing::CharacterSet::UTF8)
                                    .setMargin(4)
                                    .encode(text, size, size);
        Image img(bits.width(), bits.height());
        if (img.isNull()) return {};
        for (int y = 0; y < bits.height(); ++y)
            for (int x = 0; x < bits.width(); ++x) {
                uint8_t v = bits.get(x, y) ? 0 : 255;
                img.setPixel(x, y, {v, v, v, 255});
            }
        return img;
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace kit
