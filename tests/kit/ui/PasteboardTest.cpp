// Clipboard round trips on the offscreen platform's in-process clipboard.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <cstdlib>

#include "kit/image/ImageIO.h"
#include "kit/ui/Pasteboard.h"
#include "support/TestData.h"

using namespace kit;

namespace {
Image pasteboardSample() {
    Image img(4, 3);
    img.fill(Color::rgb(10, 200, 30));
    img.setPixel(0, 0, {0, 0, 255, 255});  // red, top-left
    img.setPixel(3, 2, {0, 0, 0, 0});      // transparent corner survives PNG
    return img;
}
}  // namespace

TEST(Pasteboard, PngTextObjectsAndFilesRoundTrip) {
    auto& pb = Pasteboard::general();
    int before = pb.changeCount();
    ASSERT_TRUE(pb.write({pasteboardSample(), std::string("héllo"), {}, std::string(R"([{"rect":{}}])")}));
    EXPECT_GT(pb.changeCount(), before);
    Image back = pb.image();
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back, pasteboardSample());
    EXPECT_EQ(pb.string(), "héllo");
    EXPECT_EQ(pb.objects(), R"([{"rect":{}}])");
    auto types = pb.types();
    EXPECT_NE(std::find(types.begin(), types.end(), "image/png"), types.end());
    EXPECT_NE(std::find(types.begin(), types.end(), Pasteboard::kObjectsType), types.end());

    ASSERT_TRUE(pb.setFilePaths({"/tmp/a b.png", "/tmp/c.txt"}));
    EXPECT_EQ(pb.filePaths(), (std::vector<std::string>{"/tmp/a b.png", "/tmp/c.txt"}));
    EXPECT_EQ(pb.string(), "/tmp/a b.png\n/tmp/c.txt");
    EXPECT_FALSE(pb.objects().has_value()) << "a new write replaces everything";
    EXPECT_FALSE(pb.setImage(Image()));
}

TEST(Pasteboard, ReadsImagesOfOtherTypesAndImageFiles) {
    auto& pb = Pasteboard::general();
    // Another application offering only BMP.
    QImage q(2, 2, QImage::Format_RGB32);
    q.fill(QColor(1, 2, 3));
    QByteArray bmp;
    {
        QBuffer buf(&bmp);
        buf.open(QIODevice::WriteOnly);
        q.save(&buf, "BMP");
    }
    auto* mime = new QMimeData;
    mime->setData("image/bmp", bmp);
    QGuiApplication::clipboard()->setMimeData(mime);
    Image fromBmp = pb.image();
    ASSERT_FALSE(fromBmp.isNull());
    EXPECT_EQ(fromBmp.pixel(1, 1), (PixelBGRA{3, 2, 1, 255}));

    // A file manager copying an image file.
    QString path = QDir(QString::fromLocal8Bit(std::getenv("KADRIX_HOME"))).filePath("clip.png");
    ASSERT_TRUE(q.save(path, "PNG"));
    pb.setFilePaths({path.toStdString()});
    EXPECT_TRUE(pb.hasImage());
    EXPECT_EQ(pb.image().width(), 2);

    EXPECT_EQ(pb.awaitImageAnswer(), Pasteboard::ImageAnswer::offered);

    // Our own clipboard always answers: without a picture it is known to offer none.
    pb.setString("no image here");
    EXPECT_FALSE(pb.hasImage());
    EXPECT_EQ(pb.awaitImageAnswer(), Pasteboard::ImageAnswer::notOffered);
    pb.clearContents();
    EXPECT_FALSE(pb.string().has_value());
}

// Pasted bytes go to the decoder like any picture from outside: a JPEG built
// to keep its decoder busy is given up at the decoder's time (the program
// goes on), and a drawing pastes at its declared size.
TEST(Pasteboard, PastedPicturesAreDecodedUnderTheDecodersLimits) {
    const auto saved = ImageIO::decoderLimits();
    ImageIO::setDecoderLimits({1, saved.memoryBytes});
    auto& pb = Pasteboard::general();
    const auto offer = [](const char* type, const std::string& file) {
        auto* mime = new QMimeData;
        mime->setData(type, QByteArray::fromStdString(testsupport::testDataBytes(file)));
        QGuiApplication::clipboard()->setMimeData(mime);
    };
    offer("image/jpeg", "repro/jpeg-progressive-4096-60000-scans.jpg");
    EXPECT_TRUE(pb.image().isNull());
    // The poster's 96 MB of pixels take over a second to draw on a busy
    // machine: it gets the program's own time.
    ImageIO::setDecoderLimits(saved);
    offer("image/svg+xml", "repro/svg-170byte-6000x4000-poster.svg");
    EXPECT_EQ(pb.image().width(), 6000);
    pb.clearContents();
}

// Whether the clipboard holds a picture is asked each time a menu opens: the
// types offered and a file's head answer it, without a decoder.
TEST(Pasteboard, HasImageLooksAtTypesAndHeadsWithoutDecoding) {
    auto& pb = Pasteboard::general();
    ImageIO::setDecoderProgram("/nonexistent/kadrix-decode");
    auto* mime = new QMimeData;
    mime->setData(
        "image/jpeg",
        QByteArray::fromStdString(testsupport::testDataBytes("repro/jpeg-progressive-4096-60000-scans.jpg")));
    QGuiApplication::clipboard()->setMimeData(mime);
    EXPECT_TRUE(pb.hasImage()) << "an offered image type is enough";

    const QDir home(QString::fromLocal8Bit(std::getenv("KADRIX_HOME")));
    QFile text(home.filePath("notes.png"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("plain words, not a picture\n");
    text.close();
    pb.setFilePaths({text.fileName().toStdString()});
    EXPECT_FALSE(pb.hasImage()) << "a file whose head is no picture";
    ImageIO::setDecoderProgram("");
    pb.clearContents();
}

// One picture offered under four image types once took four of the
// decoder's waits in turn. The types share one wait, the preferred first:
// a decoder that never answers is started once, and the reason is told.
TEST(Pasteboard, ManyTypesOfOnePictureShareOneWait) {
    const auto saved = ImageIO::decoderLimits();
    ImageIO::setDecoderLimits({1, saved.memoryBytes});
    const QDir home(QString::fromLocal8Bit(std::getenv("KADRIX_HOME")));
    const std::string starts = home.filePath("decoder-starts").toStdString();
    const std::string slow = home.filePath("slow-decoder").toStdString();
    {
        QFile script(QString::fromStdString(slow));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\necho \"$0\" >> '" + starts + "'\nexec sleep 30\n").c_str());
    }
    ::chmod(slow.c_str(), 0700);
    QFile::remove(QString::fromStdString(starts));
    ImageIO::setDecoderProgram(slow);

    const auto png = ImageIO::encodePNG(pasteboardSample());
    const QByteArray bytes(reinterpret_cast<const char*>(png.data()), qsizetype(png.size()));
    auto* mime = new QMimeData;
    for (const char* type : {"image/bmp", "image/jpeg", "image/png", "image/gif"}) mime->setData(type, bytes);
    QGuiApplication::clipboard()->setMimeData(mime);
    std::string why;
    EXPECT_TRUE(Pasteboard::general().image(&why).isNull());
    EXPECT_EQ(why, "The image takes too long to read; reading it was given up.");
    QFile log(QString::fromStdString(starts));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count('\n'), 1);

    // A type that is refused at once leaves the wait to the next.
    ImageIO::setDecoderProgram("");
    mime = new QMimeData;
    mime->setData("image/png", "not a picture");
    mime->setData("image/bmp", bytes);
    QGuiApplication::clipboard()->setMimeData(mime);
    EXPECT_EQ(Pasteboard::general().image(), pasteboardSample());
    ImageIO::setDecoderLimits(saved);
    Pasteboard::general().clearContents();
}
