// Text (and QR codes) read from the screen or from the editor's selection,
// put on the clipboard with a notice that can switch the line breaks, and
// the plain text copy of the colour and crop read-outs.
#include "core/AppLogic.h"
#include "editor/Framer.h"
#include "imaging/Diagnostics.h"
#include "imaging/Recognition.h"
#include "kit/base/Dispatch.h"
#include "kit/base/WayOut.h"
#include "kit/ui/Pasteboard.h"
#include "services/Alerts.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Str.h"
#include "services/Telemetry.h"

namespace core {

namespace {

// Recognition takes up to seconds a page: one serial worker, so two requests
// never compete for the engine and results come back in order.
kit::DispatchQueue& recognitionQueue() {
    static kit::DispatchQueue queue("QueueIdentification");
    return queue;
}

bool blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

}  // namespace

bool AppLogic::ocrAreaTooLarge(int width, int height) {
    return height > kOcrMaxHeight || width > kOcrMaxWidth;
}

std::string AppLogic::removeLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            out += text[i];
            continue;
        }
        out += ' ';
        while (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return out;
}

std::string AppLogic::ocrPreview(const std::string& text) {
    std::string shown = text;
    for (char& c : shown)
        if (c == '\n') c = ' ';
    if (services::Str::characterCount(shown) >= 121) return services::Str::substring(shown, 0, 107) + "...";
    return shown;
}

void AppLogic::instantOCR(const std::string& method) {
    if (!routes_->hasScreenRecordingPermission()) {
        yieldFocus();
        services::alertOnMain(
            "Kadrix needs the screen recording permission to perform OCR",
            "Allow Kadrix to read the screen in your desktop's privacy settings, then try again.");
        telemetry().event("alert", {{"message", "Kadrix needs permission to record the screen"}});
        return;
    }
    services::timerStart("OCR");
    clearScreenForCapture();
    kit::Image image = routes_->interactive(capture::WindowShadow::solid, false, false, true);
    if (kit::wayOutBegun()) return;  // the selection was ended with Kadrix: nothing to tell
    if (image.isNull()) {
        telemetry().oops("instantOCR(method:)", "Failed to get screenshot image");
        notifier().notify(
            "You didn't select the area",
            "Activate the feature once again, and select the area containing the text or QR code.");
        return;
    }
    telemetry().preset("ocr", {{"method", method}});
    recognize(image);
}

void AppLogic::ocrSelection(const std::string& /*method*/) {
    services::timerStart("OCR");
    std::optional<kit::Image> image = preCrop(std::nullopt);
    if (!image || image->isNull()) return;
    hideMainWindow();
    if (ocrAreaTooLarge(image->width(), image->height())) {
        services::alertOnMain("Area is too large", "Select a smaller area and try again");
        telemetry().event("alert", {{"message", "OCR: Area is too large"}});
        return;
    }
    recognize(*image);
}

void AppLogic::recognize(const kit::Image& image) {
    std::function<std::optional<std::string>(const kit::Image&)> reader = recognizer_;
    if (!reader) {
        imaging::RecognitionSettings rs;
        rs.dpr = editor::Framer::shared().dpr();
        reader = [rs](const kit::Image& img) {
            std::optional<std::string> text;
            imaging::ocr(img, rs, [&text](const std::string& found) { text = found; });
            return text;
        };
    }
    recognitionQueue().async([this, image, reader, alive = std::weak_ptr<int>(life_)] {
        const uint64_t noticesBefore = imaging::noticesGiven();
        // No text at all: the recognition could not run, and has said so.
        std::optional<std::string> text = reader(image);
        if (!text) return;
        // A notice told while reading (the language's data is missing) is
        // not replaced by the result before it could be read.
        const std::optional<double> told = imaging::noticeSince(noticesBefore);
        const double notBefore = told ? *told + services::Notifier::kWarningDuration : 0;
        kit::dispatchMain([this, alive, notBefore, text = std::move(*text)] {
            if (!alive.lock()) return;
            ocrNoticeNotBefore_ = notBefore;
            ocrFinished(text);
        });
    });
}

void AppLogic::showOCRNotice(std::function<void()> show) {
    const double wait = ocrNoticeNotBefore_ - kit::wallNow();
    if (wait <= 0) {
        ocrNotice_.invalidate();
        return show();
    }
    ocrNotice_ = kit::Timer::once(wait, std::move(show));
}

void AppLogic::ocrFinished(const std::string& text) {
    telemetry().event("ocr", {{"timer", services::timerElapsedText("OCR")},
                              {"length", int64_t(services::Str::characterCount(text))}});
    if (blank(text)) {
        showOCRNotice([this] { notifier().warning("No text detected", "Selected area seems to be empty"); });
        return;
    }
    lastOCROriginal = text;
    if (settings().ocrRemoveBreaks())
        copyOCRText(removeLineBreaks(text), false);
    else
        copyOCRText(text, true);
}

void AppLogic::copyOCRText(const std::string& text, bool keptBreaks) {
    kit::Pasteboard& pb = kit::Pasteboard::general();
    pb.clearContents();
    pb.setString(text);
    // The text is on the clipboard at once; only its notice may wait.
    showOCRNotice([this, keptBreaks, preview = ocrPreview(text)] {
        auto alive = std::weak_ptr<int>(life_);
        if (keptBreaks) {
            notifier().notify("Text copied to the clipboard", preview, std::nullopt, "Cut Breaks", 5.0,
                              [this, alive] {
                                  if (alive.lock()) copyOCRText(removeLineBreaks(lastOCROriginal), false);
                              });
        } else {
            notifier().notify("Text without line breaks copied", preview, std::nullopt, "Add Breaks", 5.0,
                              [this, alive] {
                                  if (alive.lock()) copyOCRText(lastOCROriginal, true);
                              });
        }
    });
}

void AppLogic::copyText(const std::string& text, const std::string& title, const std::string& message,
                        std::optional<kit::Color> swatch) {
    if (text.empty()) return;
    kit::Pasteboard& pb = kit::Pasteboard::general();
    pb.clearContents();
    pb.setString(text);
    hideMainWindow();
    notifier().notify(title, message, swatch, "Show Kadrix", std::nullopt,
                      [this, alive = std::weak_ptr<int>(life_)] {
                          if (alive.lock()) yieldFocus();
                      });
}

}  // namespace core
