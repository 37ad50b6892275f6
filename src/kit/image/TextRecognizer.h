#pragma once
// Text recognition over Tesseract. Runs synchronously on the calling thread;
// each thread keeps its own engines (one per language set), so recognitions
// on different threads never share state. Never call it on the main thread:
// a page of text takes a noticeable fraction of a second.
#include <cstdint>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace kit {

// An image prepared for the recognisers: 8-bit grey composited on white, and
// shrunk when the image is very large (a long scrolling capture) so memory
// stays bounded. The scales are grey pixels per image pixel, across and down
// (rounding the size makes them differ slightly).
struct RecognitionImage {
    static constexpr long long kMaxPixels = 24'000'000;
    static constexpr int kMaxSide = 16'384;

    std::vector<uint8_t> grey;
    int width = 0, height = 0;
    double scaleX = 1, scaleY = 1;

    // `enlarge` (1 or more) asks for a bigger copy; the limits still hold.
    static RecognitionImage of(const Image& image, double enlarge = 1);
};

struct TextLine {
    Rect rect;  // pixels of the image, origin bottom-left, y up
    std::string text;
};

enum class RecognitionLevel { Fast, Accurate };

struct TextRecognitionRequest {
    // Language tags ("fr-FR", "zh-Hans"); empty for the default, English.
    std::vector<std::string> languages;
    RecognitionLevel level = RecognitionLevel::Accurate;
    // Lines lower than this fraction of the image height are left out.
    double minimumTextHeight = 0;
};

struct TextRecognitionResult {
    std::vector<TextLine> lines;  // top to bottom
    std::string error;            // empty on success
    // The recogniser could not be started at all (no data installed, its
    // library missing or failing to load, its engine not taking the data),
    // as opposed to a recognition that ran on the image and failed.
    bool unavailable = false;
    bool ok() const { return error.empty(); }
};

class TextRecognizer {
public:
    static TextRecognitionResult recognize(const Image& image, const TextRecognitionRequest& request);
    // Lets go of the engines the calling thread loaded (tens of megabytes
    // each); its next recognition loads them again.
    static void releaseThreadEngines();
    // Whether a recognition with these language tags would start: the data
    // it would use is installed and the engine's library loads (it is loaded
    // here when it is not yet). An engine that refuses installed data is
    // only found out by a recognition.
    static bool canStart(const std::vector<std::string>& languages);
    // The language tags whose recognition data is installed.
    static std::vector<std::string> supportedLanguages();
    // Whether the recognition data of the language a tag names is installed
    // (false for a tag no data exists for).
    static bool hasData(const std::string& tag);
    // The distribution's package that brings a tag's data
    // ("tesseract-ocr-fra"); empty for a tag no data exists for.
    static std::string dataPackage(const std::string& tag);
    // The engine's language set for tags, installed ones only, English when
    // none is ("chi_sim+chi_tra+eng"); empty when not even English is.
    static std::string engineLanguages(const std::vector<std::string>& tags);
};

}  // namespace kit
