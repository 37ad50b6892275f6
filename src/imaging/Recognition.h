#pragma once
// Text and QR-code recognition of an image. Both recognisers run synchronously
// and call their callback exactly once, on the calling thread, before they
// return. They take a noticeable time: callers run them on a background queue
// and hop to the main queue themselves for anything the user sees.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace imaging {

// The setting "primaryOCRLang" as it stands.
std::string currentPrimaryOCRLang();

// What recognition reads of the settings and the viewport: the language
// starts as the user's setting, the pixel ratio is the caller's to fill.
struct RecognitionSettings {
    std::string primaryOCRLang = currentPrimaryOCRLang();
    double dpr = 2.0;  // pixels per point of the capture
};

// A recognised line: its box in pixels of the image (origin bottom-left, y up)
// and its text.
struct TextRect {
    kit::Rect rect;
    std::string text;
};

// Language code -> menu title, in menu order.
const std::vector<std::pair<std::string, std::string>>& ocrLanguages();

struct LanguageChoice {
    std::vector<std::string> languages;  // empty: the recogniser's default
    bool accurateForText = true;         // level of ocr()
    bool accurateForRects = false;       // level of textRects()
};
LanguageChoice ocrLanguageChoice(std::string_view primaryOCRLang);
// The choice recognition makes: that of the stored language, or English's
// when no data of that language is installed (removed since, or a setting
// carried over from another machine). The first such fall-back of a run
// tells the user, so the text is not taken as read in their language.
// Any thread.
LanguageChoice installedLanguageChoice(std::string_view primaryOCRLang);

// Text lower than 6 points on the screen is ignored: dpr x 6 / image height.
double minimumTextHeight(double dpr, double imageHeight);

// Full-width punctuation of recognised text in its plain forms.
std::string replaceFullWidthPunctuation(std::string text);

// The messages of every QR code, one per line; nothing when there is none.
std::optional<std::string> detectQR(const kit::Image& image);

// The text of an image: its QR messages when it holds QR codes, else the
// recognised lines joined by line feeds ("" when there is nothing to read).
// A recognition that cannot run (its engine will not load) is reported and
// told to the user, and onReady is not called.
void ocr(const kit::Image& image, const RecognitionSettings& settings,
         const std::function<void(const std::string&)>& onReady);

// Every recognised line with its box (an empty list when there is none).
void textRects(const kit::Image& image, const RecognitionSettings& settings,
               const std::function<void(const std::vector<TextRect>&)>& onReady);

}  // namespace imaging
