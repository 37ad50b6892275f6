#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "Fixtures.h"
#include "TextPicture.h"
#include "imaging/Recognition.h"
#include "kit/image/QRDetector.h"
#include "services/Settings.h"

using namespace imaging;

namespace {

void place(kit::Image& dst, const kit::Image& src, int x, int y) {
    for (int r = 0; r < src.height(); ++r)
        for (int c = 0; c < src.width(); ++c) dst.setPixel(x + c, y + r, src.pixel(c, r));
}

std::string ocrText(const kit::Image& img, const RecognitionSettings& s = {}) {
    int calls = 0;
    std::string text;
    ocr(img, s, [&](const std::string& t) {
        ++calls;
        text = t;
    });
    EXPECT_EQ(calls, 1);
    return text;
}

}  // namespace

TEST(Recognition, TextOfTwoLanguages) {
    kit::Image en =
        test::textPicture(800, 140, {{"Invoice number 4711", 20, 20}, {"Total due today", 20, 80}});
    EXPECT_EQ(ocrText(en), "Invoice number 4711\nTotal due today");
    kit::Image fr = test::textPicture(800, 80, {{"Le café est très chaud", 20, 20}});
    EXPECT_EQ(ocrText(fr, {"fr-FR", 1}), "Le café est très chaud");
}

TEST(Recognition, ThreadsRecogniseSideBySide) {
    // As the application runs it: off the main thread, callback on that thread.
    kit::Image en = test::textPicture(700, 80, {{"Queue number seven", 20, 20}});
    kit::Image fr = test::textPicture(700, 80, {{"Fenêtre du salon", 20, 20}});
    std::string a, b;
    std::thread::id calledOnA, calledOnB, threadA, threadB;
    std::thread ta([&] {
        threadA = std::this_thread::get_id();
        for (int i = 0; i < 3; ++i)
            ocr(en, {}, [&](const std::string& t) { a = t, calledOnA = std::this_thread::get_id(); });
    });
    std::thread tb([&] {
        threadB = std::this_thread::get_id();
        for (int i = 0; i < 3; ++i)
            ocr(fr, {"fr-FR", 1},
                [&](const std::string& t) { b = t, calledOnB = std::this_thread::get_id(); });
    });
    ta.join();
    tb.join();
    EXPECT_EQ(a, "Queue number seven");
    EXPECT_EQ(b, "Fenêtre du salon");
    EXPECT_EQ(calledOnA, threadA);
    EXPECT_EQ(calledOnB, threadB);
}

TEST(Recognition, QRCodesWinOverText) {
    kit::Image page = test::textPicture(1000, 400, {{"Scan the code to pay", 20, 20}});
    place(page, kit::QRDetector::encode("https://pay.example/1", 220), 40, 120);
    EXPECT_EQ(ocrText(page), "https://pay.example/1");
    place(page, kit::QRDetector::encode("second code", 220), 600, 120);
    std::string both = ocrText(page);
    EXPECT_TRUE(both == "https://pay.example/1\nsecond code" || both == "second code\nhttps://pay.example/1")
        << both;
    EXPECT_EQ(detectQR(test::solid(50, 50, 255, 255, 255)), std::nullopt);
}

TEST(Recognition, TinyImagesAnswerEmptyAtOnce) {
    EXPECT_EQ(ocrText(kit::Image(3, 500)), "");
    int calls = 0;
    textRects(kit::Image(500, 3), {}, [&](const std::vector<TextRect>& r) {
        ++calls;
        EXPECT_TRUE(r.empty());
    });
    EXPECT_EQ(calls, 1);
}

TEST(Recognition, TextRectsAreBottomLeftPixelBoxes) {
    kit::Image img = test::textPicture(700, 200, {{"Account 12345", 30, 20}, {"Password hidden", 30, 120}});
    std::vector<TextRect> rects;
    textRects(img, {"en-US", 1}, [&](const std::vector<TextRect>& r) { rects = r; });
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0].text, "Account 12345");
    EXPECT_GT(rects[0].rect.minY(), rects[1].rect.maxY());  // the first line is higher up
    EXPECT_NEAR(rects[1].rect.minX(), 30, 6);
    EXPECT_GT(rects[1].rect.minY(), 200 - 120 - 45);
}

TEST(Recognition, LanguageChoiceAndMinimumHeight) {
    auto zh = ocrLanguageChoice("zh-Hant");
    EXPECT_EQ(zh.languages, (std::vector<std::string>{"zh-Hans", "zh-Hant", "en-US"}));
    EXPECT_TRUE(zh.accurateForRects);
    EXPECT_EQ(ocrLanguageChoice("yue-Hans").languages,
              (std::vector<std::string>{"yue-Hans", "yue-Hant", "en-US"}));
    auto fr = ocrLanguageChoice("fr-FR");
    EXPECT_EQ(fr.languages, (std::vector<std::string>{"fr-FR", "en-US"}));
    EXPECT_FALSE(fr.accurateForRects);
    EXPECT_TRUE(ocrLanguageChoice("en-US").languages.empty());
    // Recognition starts from the user's language.
    EXPECT_EQ(RecognitionSettings{}.primaryOCRLang, "en-US");
    services::Settings::shared().setPrimaryOCRLang("yue-Hans");
    EXPECT_EQ(RecognitionSettings{}.primaryOCRLang, "yue-Hans");
    services::Settings::shared().setPrimaryOCRLang("en-US");
    EXPECT_DOUBLE_EQ(minimumTextHeight(2, 100), 0.12);
    EXPECT_DOUBLE_EQ(minimumTextHeight(2, 1000), 0.012);
    ASSERT_EQ(ocrLanguages().size(), 14u);
    EXPECT_EQ(ocrLanguages()[10], (std::pair<std::string, std::string>{"ru-RU", "Cyrillic"}));
}

TEST(Recognition, FullWidthPunctuationBecomesPlain) {
    EXPECT_EQ(replaceFullWidthPunctuation("你好，世界（一）！＄５％＂"), "你好, 世界 (一) ! $５%\"");
    EXPECT_EQ(replaceFullWidthPunctuation("a－b．c"), "a-b. c");
}

TEST(Recognition, FailuresAreReportedAndToldNotAnsweredAsNoText) {
    // Without any recognition data the recogniser fails; run that in a child
    // process so the data folder of the other tests stays untouched. Reading
    // text tells the user why, and gives no text (a failure is no "nothing
    // found"); the text boxes still answer, with none.
    kit::Image img = test::solid(400, 80, 255, 255, 255);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::string empty = std::string(std::getenv("KADRIX_HOME")) + "/no-tessdata";
            std::filesystem::create_directories(empty);
            setenv("TESSDATA_PREFIX", empty.c_str(), 1);
            test::Recorder rec;
            std::string text = "unset";
            int rectCalls = 0;
            ocr(img, {}, [&](const std::string& t) { text = t; });
            textRects(img, {}, [&](const std::vector<TextRect>& r) { rectCalls += r.empty() ? 1 : 100; });
            const std::string report = "Unable to perform the OCR requests: no recognition data installed.";
            bool ok = text == "unset" && rectCalls == 1 && rec.errors.size() == 2 &&
                      rec.errors[0] == "ocr(cgImage:onReady:): " + report &&
                      rec.notices == std::vector<std::string>{"Text Recognition Failed: " + report};
            _exit(ok ? 0 : 1);  // no exit handlers: the child only reports
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Recognition, AStoredLanguageWithoutDataIsToldOnceAndReadAsEnglish) {
    // A child process is a fresh run, with a data folder of English and
    // French only: German was removed since the user chose it.
    kit::Image img = test::textPicture(800, 80, {{"Invoice number 4711", 20, 20}});
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            namespace fs = std::filesystem;
            fs::path data = fs::path(std::getenv("KADRIX_HOME")) / "eng-fra-tessdata";
            fs::create_directories(data);
            for (const char* name : {"eng.traineddata", "fra.traineddata"})
                fs::create_symlink(fs::path("/usr/share/tesseract-ocr/5/tessdata") / name, data / name);
            setenv("TESSDATA_PREFIX", data.c_str(), 1);
            test::Recorder rec;
            std::string french = ocrText(img, {"fr-FR", 1});
            bool quietWithData = rec.notices.empty();
            std::string german = ocrText(img, {"de-DE", 1});
            std::vector<TextRect> rects;
            textRects(img, {"de-DE", 1}, [&](const std::vector<TextRect>& r) { rects = r; });
            std::string again = ocrText(img, {"de-DE", 1});
            bool ok =
                quietWithData && french == "Invoice number 4711" && german == french && again == french &&
                rects.size() == 1 && rects[0].text == french && rec.errors.empty() &&
                rec.notices == std::vector<std::string>{
                                   "Reading text in English: The German recognition data is not installed: "
                                   "install the package tesseract-ocr-deu to read German text."};
            for (auto& n : rec.notices) std::fprintf(stderr, "notice: %s\n", n.c_str());
            std::fprintf(stderr, "read: %s / %s / %s\n", french.c_str(), german.c_str(), again.c_str());
            _exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
