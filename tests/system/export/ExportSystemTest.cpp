// The export commands on a real X display, as a user meets them: an arrow
// drawn over a screenshot, then copy (read back with xclip), quick save into
// the save folder under the template's name, Save As through the file dialog
// and printing to a PDF through the print dialog (rendered back with pdftoppm).
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <filesystem>
#include <future>

#include "core/ExportFixture.h"
#include "kit/base/Files.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/image/ImageIO.h"
#include "support/EventLoopWait.h"

namespace {

namespace fs = std::filesystem;
using testsupport::waitFor;

// Runs a shell line to its end while this process keeps answering the X
// server (the clipboard's owner must serve the reader).
int runServing(const std::string& script) {
    auto job = std::async(std::launch::async, [script] { return std::system(script.c_str()); });
    waitFor([&] { return job.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, 30000);
    return job.get();
}

// A shell line started now that goes on while the test blocks in a dialog.
void later(const std::string& script) {
    QProcess::startDetached("bash", {"-c", QString::fromStdString(script)});
}

// A white screenshot with a red arrow from (40, 40) to (260, 180), image pixels, y up.
void drawArrow(TestExportHost& host) {
    host.image = kit::Image(320, 240);
    host.image.fill({1, 1, 1, 1});
    host.layer = kit::Layer::make();
    host.layer->setBounds({0, 0, 320, 240});
    auto canvas = kit::Layer::make();
    canvas->setFrame({0, 0, 320, 240});
    canvas->setContents(host.image);
    canvas->setZPosition(-200);
    host.layer->addSublayer(canvas);
    auto arrow = kit::ShapeLayer::make();
    arrow->setFrame({0, 0, 320, 240});
    kit::Path p;
    p.moveTo({40, 40});
    p.lineTo({260, 180});
    p.moveTo({260, 180});
    p.lineTo({230, 180});
    p.lineTo({250, 155});
    p.closeSubpath();
    arrow->setPath(p);
    arrow->setStrokeColor(kit::Color{1, 0, 0, 1});
    arrow->setFillColor(kit::Color{1, 0, 0, 1});
    arrow->setLineWidth(8);
    host.layer->addSublayer(arrow);
}

bool isRed(const kit::Image& img, int x, int yUp) {
    auto p = img.pixel(x, img.height() - 1 - yUp);
    return p.r > 200 && p.g < 60 && p.b < 60;
}

class ExportSystem : public ExportFixture {
protected:
    void SetUp() override {
        ExportFixture::SetUp();
        // The editor's ratio is the screen's: 2 when run at QT_SCALE_FACTOR=2.
        host.ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
        drawArrow(host);
        kit::files::makeDirs(folder);
    }
};

TEST_F(ExportSystem, CopyPutsOnlyAPngWithTheArrowOnTheClipboard) {
    cmds().copyImage(false, false);
    std::string types = folder + "/types.txt", png = folder + "/clip.png";
    ASSERT_TRUE(waitFor([&] {
        return runServing("xclip -selection clipboard -o -t TARGETS > " + types + " 2>/dev/null") == 0 &&
               kit::files::readAll(types)->find("image/png") != std::string::npos;
    }));
    std::string offered = *kit::files::readAll(types);
    EXPECT_EQ(offered.find("image/bmp"), std::string::npos) << offered;
    EXPECT_EQ(offered.find("text/"), std::string::npos) << offered;
    ASSERT_EQ(runServing("xclip -selection clipboard -o -t image/png > " + png), 0);
    kit::Image got = kit::ImageIO::read(png);
    ASSERT_EQ(got.width(), 320);
    EXPECT_TRUE(isRed(got, 150, 110));  // on the shaft
    EXPECT_FALSE(isRed(got, 40, 200));  // away from it
}

TEST_F(ExportSystem, QuickSaveWritesTheTemplateNameIntoTheSaveFolder) {
    settings->storeString("fileNameTemplate", "Shot %Y-%m-%d at %H.%M");
    settings->storeString("saveFormat", "JPEG");
    settings->setDefaultFolderURL(folder);
    std::string expected = exporter->fileName() + ".jpeg";
    std::optional<core::WriteResult> done;
    cmds().onSaveFinished = [&](const core::WriteResult& r) { done = r; };
    cmds().saveImage(false, false);
    ASSERT_TRUE(waitFor([&] { return done.has_value(); }));
    ASSERT_TRUE(*done);
    EXPECT_EQ(fs::path(*done->path).filename(), expected);
    kit::Image saved = kit::ImageIO::read(*done->path);
    EXPECT_TRUE(isRed(saved, 150, 110));
    // The comment as another program reads it: the bytes of "Screenshot".
    std::string out = folder + "/identify.txt";
    ASSERT_EQ(runServing("identify -verbose '" + *done->path + "' > " + out), 0);
    EXPECT_NE(kit::files::readAll(out)->find(
                  "exif:UserComment: 65, 83, 67, 73, 73, 0, 0, 0, 83, 99, 114, 101, 101, "
                  "110, 115, 104, 111, 116"),
              std::string::npos);
    ASSERT_FALSE(notifier->notices.empty());
    EXPECT_EQ(notifier->notices.back().message, *done->path);
    // The pixels are the screenshot's own at any ratio; the file's density
    // says how many of them make a point.
    EXPECT_EQ(saved.width(), 320);
    std::string density = folder + "/density.txt";
    ASSERT_EQ(runServing("identify -units PixelsPerInch -format '%x' '" + *done->path + "' > " + density), 0);
    EXPECT_NEAR(std::atof(kit::files::readAll(density)->c_str()), 72 * host.ratio, 0.5);
}

TEST_F(ExportSystem, SaveAsWritesTheNameTypedIntoTheDialog) {
    // A name without extension gets the format's.
    std::string typed = folder + "/typed-name";
    later(
        "for i in $(seq 100); do xdotool search --name '^Save As$' >/dev/null && break; sleep 0.1; done; "
        "sleep 0.5; xdotool key ctrl+a; xdotool type --delay 10 '" +
        typed + "'; sleep 0.2; xdotool key Return");
    cmds().saveImageAs(folder, "proposed.png");
    ASSERT_TRUE(kit::files::exists(typed + ".png")) << "files: " << files().size();
    kit::Image saved = kit::ImageIO::read(typed + ".png");
    EXPECT_TRUE(isRed(saved, 150, 110));
    auto types = eventTypes();
    EXPECT_NE(std::find(types.begin(), types.end(), "saveImageAs"), types.end());
}

TEST_F(ExportSystem, PrintingToAPdfFileKeepsTheArrow) {
    // With no printer the print dialog offers the PDF file printer, writing
    // into the home folder under the job's name; confirming prints.
    std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", folder.c_str(), 1);
    later(
        "for i in $(seq 100); do xdotool search --name '^Print' >/dev/null && break; sleep 0.1; done; "
        "sleep 0.8; xdotool key Return");
    cmds().print();
    setenv("HOME", home.c_str(), 1);
    std::string pdf;
    ASSERT_TRUE(waitFor(
        [&] {
            for (auto& e : fs::directory_iterator(folder))
                if (e.path().extension() == ".pdf") pdf = e.path().string();
            return !pdf.empty();
        },
        5000))
        << "no PDF written";
    ASSERT_EQ(runServing("pdftoppm -png -r 36 -singlefile '" + pdf + "' '" + folder + "/page'"), 0);
    kit::Image page = kit::ImageIO::read(folder + "/page.png");
    ASSERT_FALSE(page.isNull());
    EXPECT_GT(page.width(), page.height());  // landscape: wider than tall
    int red = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) red += isRed(page, x, y);
    EXPECT_GT(red, 20);
}

}  // namespace
