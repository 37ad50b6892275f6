#include "imaging/Recognition.h"

#include <algorithm>
#include <atomic>

#include "imaging/Diagnostics.h"
#include "kit/image/QRDetector.h"
#include "kit/image/TextRecognizer.h"
#include "services/Settings.h"

namespace imaging {

namespace {

constexpr int kMinimumSide = 4;

bool tooSmall(const kit::Image& image) {
    return image.width() < kMinimumSide || image.height() < kMinimumSide;
}

kit::TextRecognitionResult recognise(const kit::Image& image, const RecognitionSettings& settings,
                                     bool accurate, const std::vector<std::string>& languages) {
    kit::TextRecognitionRequest request;
    request.languages = languages;
    request.level = accurate ? kit::RecognitionLevel::Accurate : kit::RecognitionLevel::Fast;
    request.minimumTextHeight = minimumTextHeight(settings.dpr, image.height());
    return kit::TextRecognizer::recognize(image, request);
}

std::string failureMessage(const std::string& error) {
    return "Unable to perform the OCR requests: " + error + ".";
}

std::atomic<bool> toldOfMissingData{false};

void tellOfMissingData(std::string_view code) {
    std::string name = "\u201C" + std::string(code) + "\u201D";
    for (const auto& [c, title] : ocrLanguages())
        if (c == code) name = title;
    std::string package = kit::TextRecognizer::dataPackage(std::string(code));
    notice("Reading text in English",
           package.empty() ? "There is no recognition data for " + name +
                                 ": choose another language in Settings, Advanced."
                           : "The " + name + " recognition data is not installed: install the package " +
                                 package + " to read " + name + " text.");
}

}  // namespace

std::string currentPrimaryOCRLang() {
    return services::Settings::shared().primaryOCRLang();
}

const std::vector<std::pair<std::string, std::string>>& ocrLanguages() {
    static const std::vector<std::pair<std::string, std::string>> table = {
        {"en-US", "English+"},
        {"fr-FR", "French"},
        {"zh-Hans", "Chinese"},
        {"it-IT", "Italian"},
        {"es-ES", "Spanish"},
        {"de-DE", "German"},
        {"pt-BR", "Portuguese (Brazil)"},
        {"ko-KR", "Korean"},
        {"ja-JP", "Japanese"},
        {"uk-UA", "Ukrainian"},
        {"ru-RU", "Cyrillic"},
        {"yue-Hans", "Chinese (Cantonese)"},
        {"th-TH", "Thai"},
        {"vi-VT", "Vietnamese"},
    };
    return table;
}

LanguageChoice ocrLanguageChoice(std::string_view v) {
    if (v == "en-US") return {{}, true, false};
    if (v.find("zh") != std::string_view::npos) return {{"zh-Hans", "zh-Hant", "en-US"}, true, true};
    if (v.find("yue") != std::string_view::npos) return {{"yue-Hans", "yue-Hant", "en-US"}, true, true};
    return {{std::string(v), "en-US"}, true, false};
}

LanguageChoice installedLanguageChoice(std::string_view v) {
    LanguageChoice choice = ocrLanguageChoice(v);
    // Every list but English's own ends with the English read beside the
    // stored language; the tags before it are that language's.
    if (choice.languages.empty() ||
        std::any_of(choice.languages.begin(), choice.languages.end() - 1, kit::TextRecognizer::hasData))
        return choice;
    if (!toldOfMissingData.exchange(true)) tellOfMissingData(v);
    return ocrLanguageChoice("en-US");
}

double minimumTextHeight(double dpr, double imageHeight) {
    return imageHeight > 0 ? dpr * 6 / imageHeight : 0;
}

std::string replaceFullWidthPunctuation(std::string text) {
    static const std::pair<std::string_view, std::string_view> replacements[] = {
        {"\uFF0C", ", "}, {"\uFF08", " ("}, {"\uFF09", ") "}, {"\uFF0D", "-"},  {"\uFF0E", ". "},
        {"\uFF01", "! "}, {"\uFF04", "$"},  {"\uFF05", "%"},  {"\uFF02", "\""},
    };
    for (auto [from, to] : replacements)
        for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
            text.replace(pos, from.size(), to);
    return text;
}

std::optional<std::string> detectQR(const kit::Image& image) {
    std::string text;
    for (const auto& message : kit::QRDetector::detect(image)) text += "\n" + message;
    const char* space = " \t\n\r\v\f";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::nullopt;
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

void ocr(const kit::Image& image, const RecognitionSettings& settings,
         const std::function<void(const std::string&)>& onReady) {
    if (tooSmall(image)) return onReady("");
    if (auto qr = detectQR(image)) return onReady(*qr);
    LanguageChoice choice = installedLanguageChoice(settings.primaryOCRLang);
    kit::TextRecognitionResult result = recognise(image, settings, choice.accurateForText, choice.languages);
    if (!result.ok()) {
        // A recognition that could not run found nothing either: it is told
        // as what it is, and the caller hears no text.
        errorReport("ocr(cgImage:onReady:)", failureMessage(result.error));
        notice("Text Recognition Failed", failureMessage(result.error));
        return;
    }
    std::string text;
    for (size_t i = 0; i < result.lines.size(); ++i) text += (i ? "\n" : "") + result.lines[i].text;
    onReady(replaceFullWidthPunctuation(std::move(text)));
}

void textRects(const kit::Image& image, const RecognitionSettings& settings,
               const std::function<void(const std::vector<TextRect>&)>& onReady) {
    std::vector<TextRect> rects;
    if (tooSmall(image)) return onReady(rects);
    LanguageChoice choice = installedLanguageChoice(settings.primaryOCRLang);
    kit::TextRecognitionResult result = recognise(image, settings, choice.accurateForRects, choice.languages);
    if (!result.ok()) {
        errorReport("textRects(cgImage:onReady:)", failureMessage(result.error));
        return onReady(rects);
    }
    for (auto& line : result.lines) rects.push_back({line.rect, std::move(line.text)});
    onReady(rects);
}

}  // namespace imaging
