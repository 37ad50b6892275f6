// Text recognition from the screen and the editor's selection, the clipboard
// copy with its line-break switch, and the plain text copy.
#include <chrono>
#include <thread>

#include "CoreFixture.h"
#include "capture/CaptureHost.h"
#include "imaging/Diagnostics.h"
#include "kit/base/Dispatch.h"
#include "kit/ui/Pasteboard.h"
#include "services/Notifier.h"

namespace coretest {
namespace {

using core::AppLogic;

class TextCommands : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        make();
        logic->recognizer_ = [this](const kit::Image& img) {
            ++recognitions;
            seenWidth = img.width();
            seenHeight = img.height();
            return recognized;
        };
        kit::Pasteboard::general().clearContents();
        kit::Pasteboard::general().setString("before");
    }

    // Lets the recognition queue finish and its result reach the main thread.
    void waitForEvent(const std::string& type) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!lastEvent(type) && std::chrono::steady_clock::now() < deadline) {
            kit::processMainEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(lastEvent(type)) << "no " << type << " event";
    }

    std::string clipboard() const { return kit::Pasteboard::general().string().value_or("<none>"); }

    std::string recognized = "Hello\nworld";
    int recognitions = 0;
    int seenWidth = 0, seenHeight = 0;
};

TEST_F(TextCommands, TheSelectionMayBe3000HighAnd6000Wide) {
    EXPECT_FALSE(AppLogic::ocrAreaTooLarge(6000, 3000));
    EXPECT_TRUE(AppLogic::ocrAreaTooLarge(6000, 3001));
    EXPECT_TRUE(AppLogic::ocrAreaTooLarge(6001, 3000));

    // A selection one pixel too high is refused before any recognition.
    ASSERT_TRUE(logic->loadImage(solidImage(40, 3001, {255, 255, 255, 255}), false));
    editor->cropOn = true;
    editor->selection = {0, 0, 40, 3001};
    logic->ocrSelection("hotkey");
    settle();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Area is too large");
    EXPECT_EQ(lastEvent("alert").value()["message"], "OCR: Area is too large");
    EXPECT_EQ(recognitions, 0);
    EXPECT_EQ(clipboard(), "before");
}

TEST_F(TextCommands, TheSelectionIsReadAndItsTextCopied) {
    ASSERT_TRUE(logic->loadImage(solidImage(300, 200, {255, 255, 255, 255}), false));
    editor->cropOn = true;
    editor->selection = {50, 40, -30, -20};  // drawn from right to left
    logic->ocrSelection("hotkey");
    waitForEvent("ocr");
    EXPECT_EQ(recognitions, 1);
    EXPECT_EQ(seenWidth, 30);
    EXPECT_EQ(seenHeight, 20);
    EXPECT_EQ(clipboard(), "Hello\nworld");
    EXPECT_EQ(logic->lastOCROriginal, "Hello\nworld");
    const kit::Json ocr = *lastEvent("ocr");
    EXPECT_EQ(ocr["length"], 11);
    EXPECT_TRUE(ocr.contains("timer"));
    EXPECT_TRUE(logged("notify Text copied to the clipboard"));
    EXPECT_EQ(notifier->lastButton, "Cut Breaks");
    EXPECT_EQ(notifier->lastMessage, "Hello world");
}

TEST_F(TextCommands, TheNoticeSwitchesBetweenTheTextWithAndWithoutBreaks) {
    settings->storeBool("ocrRemoveBreaks", true);
    logic->ocrFinished("two\n\nwords\r\n");
    EXPECT_EQ(clipboard(), "two words\r ");  // a carriage return is not a line feed
    EXPECT_TRUE(logged("notify Text without line breaks copied"));
    ASSERT_EQ(notifier->lastButton, "Add Breaks");

    notifier->lastAction();
    EXPECT_EQ(clipboard(), "two\n\nwords\r\n");
    EXPECT_TRUE(logged("notify Text copied to the clipboard"));
    ASSERT_EQ(notifier->lastButton, "Cut Breaks");

    notifier->lastAction();
    EXPECT_EQ(clipboard(), "two words\r ");
    EXPECT_EQ(notifier->lastButton, "Add Breaks");
    EXPECT_EQ(logic->lastOCROriginal, "two\n\nwords\r\n");
}

TEST_F(TextCommands, BlankTextIsNotCopied) {
    logic->lastOCROriginal = "earlier";
    logic->ocrFinished(" \n\t\n ");
    EXPECT_TRUE(logged("warning No text detected"));
    EXPECT_EQ(lastEvent("ocr").value()["length"], 5);
    EXPECT_EQ(clipboard(), "before");
    EXPECT_EQ(logic->lastOCROriginal, "earlier");
}

TEST_F(TextCommands, ThePreviewShowsAtMost107CharactersAndNeverCutsOne) {
    const std::string a120(120, 'a');
    EXPECT_EQ(AppLogic::ocrPreview(a120), a120);
    EXPECT_EQ(AppLogic::ocrPreview(a120 + "b"), std::string(107, 'a') + "...");
    EXPECT_EQ(AppLogic::ocrPreview("one\ntwo\n\nthree"), "one two  three");

    // A thumbs-up with a skin tone is two code points and eight bytes, but one character.
    const std::string thumb = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";
    std::string thumbs;
    for (int i = 0; i < 121; ++i) thumbs += thumb;
    std::string expected;
    for (int i = 0; i < 107; ++i) expected += thumb;
    EXPECT_EQ(AppLogic::ocrPreview(thumbs), expected + "...");
    EXPECT_EQ(AppLogic::ocrPreview(thumbs.substr(0, 120 * thumb.size())),
              thumbs.substr(0, 120 * thumb.size()));
}

TEST_F(TextCommands, AnAreaFromTheScreenIsReadAndACancelIsTold) {
    routes->image = kit::Image();
    logic->instantOCR("menu");
    EXPECT_TRUE(logged("interactive solid dontRemember"));
    EXPECT_TRUE(logged("notify You didn't select the area"));
    settle();
    EXPECT_EQ(recognitions, 0);

    routes->image = solidImage(64, 32, {255, 255, 255, 255});
    logic->instantOCR("menu");
    waitForEvent("ocr");
    EXPECT_EQ(seenWidth, 64);
    EXPECT_EQ(lastEvent("ocr").value()["method"], "menu");
    EXPECT_EQ(clipboard(), "Hello\nworld");

    // Without the permission the editor explains and nothing is captured.
    routes->permission = false;
    log.clear();
    logic->instantOCR("menu");
    EXPECT_FALSE(logged("interactive solid dontRemember"));
    settle();
    ASSERT_FALSE(alerts.empty());
    EXPECT_EQ(alerts.back().title, "Kadrix needs the screen recording permission to perform OCR");
}

// A notice the recognition gives while it reads (its language's data is
// missing, it reads English) stays readable: the result's notice comes once
// the notice has had its time, though the text is on the clipboard at once.
TEST_F(TextCommands, ANoticeToldWhileReadingIsNotReplacedByTheResultBeforeItIsRead) {
    imaging::Diagnostics hooks;
    hooks.notice = [this](const std::string& title, const std::string&) {
        // On the main thread, as the notifier shows it.
        kit::dispatchMain([this, title] { notifier->warning(title, ""); });
    };
    imaging::setDiagnostics(hooks);
    logic->recognizer_ = [](const kit::Image&) {
        imaging::notice("Reading text in English", "The Thai recognition data is not installed.");
        return std::optional<std::string>("Hello");
    };
    routes->image = solidImage(64, 32, {255, 255, 255, 255});
    logic->instantOCR("menu");
    waitForEvent("ocr");
    EXPECT_EQ(clipboard(), "Hello");
    EXPECT_TRUE(logged("warning Reading text in English"));
    EXPECT_FALSE(logged("notify Text copied to the clipboard")) << "the notice would go before it was read";
    clock.advance(services::Notifier::kWarningDuration - 0.5);
    EXPECT_FALSE(logged("notify Text copied to the clipboard"));
    clock.advance(0.6);
    EXPECT_TRUE(logged("notify Text copied to the clipboard"));

    // A reading that told nothing shows its result at once.
    log.clear();
    logic->recognizer_ = [](const kit::Image&) { return std::optional<std::string>("   "); };
    logic->instantOCR("menu");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!logged("warning No text detected") && std::chrono::steady_clock::now() < deadline) {
        kit::processMainEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(logged("warning No text detected"));
    imaging::setDiagnostics({});
}

TEST_F(TextCommands, PlainTextIsCopiedAndTheNoticeBringsTheEditorBack) {
    logic->copyText("", "Nothing", "Copied to the clipboard", std::nullopt);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(clipboard(), "before");

    editor->win->makeKeyAndOrderFront();
    logic->copyText("#FF0000", "#FF0000", "Copied to the clipboard", kit::Color{1, 0, 0, 1});
    EXPECT_EQ(clipboard(), "#FF0000");
    EXPECT_FALSE(editor->win->isVisible());
    EXPECT_TRUE(logged("notify #FF0000"));
    EXPECT_EQ(notifier->lastButton, "Show Kadrix");
    ASSERT_TRUE(notifier->lastAction);
    notifier->lastAction();
    settle();
    EXPECT_TRUE(editor->win->isVisible());
}

// The thumbnail's text command reads the whole capture on the recognition
// queue, never on the main thread, and copies what it found.
TEST_F(TextCommands, TheThumbnailReadsTheWholeCaptureOffTheMainThread) {
    logic->installHooks();
    std::thread::id readOn;
    logic->recognizer_ = [&](const kit::Image& img) {
        readOn = std::this_thread::get_id();
        ++recognitions;
        seenWidth = img.width();
        return recognized;
    };
    // Without a capture nothing is read.
    capture::host().recognizeCurrent();
    settle();
    EXPECT_EQ(recognitions, 0);

    ASSERT_TRUE(logic->loadImage(solidImage(300, 200, {255, 255, 255, 255}), false));
    capture::host().recognizeCurrent();
    waitForEvent("ocr");
    EXPECT_EQ(recognitions, 1);
    EXPECT_EQ(seenWidth, 300);
    EXPECT_NE(readOn, std::this_thread::get_id());
    EXPECT_EQ(clipboard(), "Hello\nworld");
}

}  // namespace
}  // namespace coretest
