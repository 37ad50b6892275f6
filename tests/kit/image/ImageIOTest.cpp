#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/OpenInTime.h"
#include "kit/image/ImageIO.h"
#include "support/HeldOpens.h"
#include "support/PeakMemory.h"
#include "support/PictureFiles.h"
#include "support/SlowDecoder.h"
#include "support/TestData.h"

namespace io = kit::ImageIO;
using kit::Image;
using kit::PixelBGRA;

namespace {

Image sample() {
    Image img(17, 9, 2.0);
    img.fill(kit::Color::rgb(10, 200, 30));
    img.setPixel(0, 0, {255, 0, 0, 255});
    img.setPixel(16, 8, {0, 0, 0, 0});
    img.setPixel(5, 4, {0, 40, 80, 128});  // translucent, premultiplied
    return img;
}

std::string tempPath(const char* name) {
    return (std::filesystem::path(std::getenv("KADRIX_HOME") ? std::getenv("KADRIX_HOME") : "/tmp") / name)
        .string();
}

}  // namespace

TEST(ImageIO, PngRoundTripKeepsPixelsAndText) {
    Image img = sample();
    io::Bytes png = io::encodePNG(img, {{"Comment", "capture"}, {"kadrix", "x=1 ümlaut ✓"}});
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');

    Image back = io::decode(png, 2.0);
    ASSERT_EQ(back.width(), 17);
    ASSERT_EQ(back.height(), 9);
    EXPECT_EQ(back.scale(), 2.0);
    EXPECT_EQ(back.pixel(0, 0), (PixelBGRA{255, 0, 0, 255}));
    EXPECT_EQ(back.pixel(16, 8).a, 0);
    EXPECT_EQ(back.pixel(3, 3), (PixelBGRA{30, 200, 10, 255}));
    PixelBGRA t = back.pixel(5, 4);
    EXPECT_EQ(t.a, 128);
    EXPECT_NEAR(t.r, 80, 1);
    EXPECT_NEAR(t.g, 40, 1);

    auto text = io::pngText(png);
    EXPECT_EQ(text["Comment"], "capture");
    EXPECT_EQ(text["kadrix"], "x=1 ümlaut ✓");
}

TEST(ImageIO, FilesAndResolution) {
    std::string path = tempPath("io-roundtrip.png");
    io::Bytes png = io::encodePNG(sample(), {{"k", "v"}});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    EXPECT_EQ(io::read(path).width(), 17);
    EXPECT_EQ(io::pixelSize(path), (kit::Size{17, 9}));
    EXPECT_EQ(io::readPNGText(path).at("k"), "v");
    // The scale travels as the resolution: 144 dpi for a 2× image.
    QImageReader r(QString::fromStdString(path));
    QImage q = r.read();
    EXPECT_NEAR(q.dotsPerMeterX() * 0.0254, 144, 0.1);

    EXPECT_TRUE(io::read(tempPath("missing.png")).isNull());
    EXPECT_EQ(io::pixelSize(tempPath("missing.png")), kit::Size{});
    EXPECT_TRUE(io::readPNGText(tempPath("missing.png")).empty());
}

TEST(ImageIO, JpegQualityAndNoAlpha) {
    Image img(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            img.setPixel(x, y, {uint8_t(x * 4), uint8_t(y * 4), uint8_t((x ^ y) * 4), 255});
    io::Bytes hi = io::encodeJPEG(img, 0.95), lo = io::encodeJPEG(img, 0.2);
    ASSERT_FALSE(hi.empty());
    ASSERT_FALSE(lo.empty());
    EXPECT_EQ(hi[0], 0xFF);
    EXPECT_EQ(hi[1], 0xD8);
    EXPECT_LT(lo.size(), hi.size());
    Image back = io::decode(hi);
    ASSERT_EQ(back.width(), 64);
    PixelBGRA p = back.pixel(40, 20), o = img.pixel(40, 20);
    EXPECT_NEAR(p.b, o.b, 12);
    EXPECT_NEAR(p.g, o.g, 12);
    EXPECT_EQ(p.a, 255);
    EXPECT_FALSE(io::encodeJPEG(img, std::nan("")).empty());  // a bad quality is clamped, not fatal
    EXPECT_TRUE(io::encodeJPEG(Image(), 0.8).empty());
    EXPECT_TRUE(io::encodePNG(Image()).empty());
}

TEST(ImageIO, CorruptInputGivesEmptyResults) {
    io::Bytes png = io::encodePNG(sample());
    io::Bytes truncated(png.begin(), png.begin() + std::ptrdiff_t(png.size() / 2));
    EXPECT_TRUE(io::decode(truncated).isNull());
    io::Bytes flipped = png;
    for (size_t i = 40; i < flipped.size() - 12; i += 7) flipped[i] ^= 0x5A;
    EXPECT_TRUE(io::decode(flipped).isNull());
    io::Bytes garbage(500);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
    EXPECT_TRUE(io::decode(garbage).isNull());
    EXPECT_TRUE(io::decode({}).isNull());
    EXPECT_TRUE(io::pngText(garbage).empty());

    std::string path = tempPath("corrupt.png");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(truncated.data()), std::streamsize(truncated.size()));
    EXPECT_TRUE(io::read(path).isNull());
    EXPECT_TRUE(io::read(std::filesystem::path(path).parent_path().string()).isNull());  // a folder
    EXPECT_TRUE(io::readPNGText(path).empty());
}

TEST(ImageIO, DecodesImagesAboveTheUsualAllocationLimit) {
    // 9000 × 8000 at 4 bytes is about 275 MB: over Qt's default limit, under ours.
    QImage big(9000, 8000, QImage::Format_RGB32);
    ASSERT_FALSE(big.isNull());
    big.fill(Qt::darkCyan);
    std::string path = tempPath("big.png");
    ASSERT_TRUE(big.save(QString::fromStdString(path), "png"));
    big = QImage();
    Image img = io::read(path);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width(), 9000);
    EXPECT_EQ(img.pixel(8999, 7999).a, 255);
    std::filesystem::remove(path);
}

TEST(ImageIO, TwoFrameGifLoopsWithItsDelay) {
    Image before(40, 30), after(40, 30);
    before.fill(kit::Color::rgb(220, 30, 30));
    after.fill(kit::Color::rgb(30, 60, 220));
    for (int x = 0; x < 40; ++x) after.setPixel(x, 0, {0, 0, 0, 0});  // a clear top row
    io::Bytes gif = io::encodeGIF({before, after}, 0.4);
    ASSERT_GT(gif.size(), 6u);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");

    QByteArray bytes(reinterpret_cast<const char*>(gif.data()), qsizetype(gif.size()));
    QBuffer buf(&bytes);
    buf.open(QIODevice::ReadOnly);
    QImageReader r(&buf, "gif");
    EXPECT_EQ(r.imageCount(), 2);
    EXPECT_EQ(r.loopCount(), -1);  // forever
    QImage f1 = r.read();
    EXPECT_EQ(r.nextImageDelay(), 400);
    QImage f2 = r.read();
    ASSERT_FALSE(f1.isNull());
    ASSERT_FALSE(f2.isNull());
    EXPECT_EQ(f1.size(), QSize(40, 30));
    QColor c1 = f1.pixelColor(20, 15), c2 = f2.pixelColor(20, 15);
    EXPECT_NEAR(c1.red(), 220, 6);
    EXPECT_NEAR(c2.blue(), 220, 6);

    // Mostly clear pixels become the transparent colour.
    io::Bytes single = io::encodeGIF({after}, 0.1);
    Image decoded = io::decode(single);
    ASSERT_FALSE(decoded.isNull());
    EXPECT_EQ(decoded.pixel(5, 0).a, 0);
    EXPECT_EQ(decoded.pixel(5, 5).a, 255);

    EXPECT_TRUE(io::encodeGIF({}, 0.4).empty());
    EXPECT_TRUE(io::encodeGIF({before, Image(41, 30)}, 0.4).empty());  // sizes must match
    EXPECT_TRUE(io::encodeGIF({before, Image()}, 0.4).empty());
}

namespace {

// A noisy picture, so that its compressed data runs long enough to cut.
Image noise(int w, int h) {
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, {uint8_t(x * 7 ^ y), uint8_t(y * 13), uint8_t(x + y * 3), 255});
    return img;
}

io::Bytes cut(const io::Bytes& b, double fraction) {
    return io::Bytes(b.begin(), b.begin() + std::ptrdiff_t(double(b.size()) * fraction));
}

// Replaces every occurrence of the 16-bit big-endian pair (w, h) by (nw, nh).
void patchSize(io::Bytes& b, int w, int h, int nw, int nh) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (b[i] == (h >> 8) && b[i + 1] == (h & 0xFF) && b[i + 2] == (w >> 8) && b[i + 3] == (w & 0xFF)) {
            b[i] = uint8_t(nh >> 8), b[i + 1] = uint8_t(nh & 0xFF);
            b[i + 2] = uint8_t(nw >> 8), b[i + 3] = uint8_t(nw & 0xFF);
        }
}

}  // namespace

TEST(ImageIO, CutOffFilesAreFailuresNotPartlyBlankPictures) {
    const Image img = noise(120, 90);
    const io::Bytes jpeg = io::encodeJPEG(img, 0.9);
    const io::Bytes gif = io::encodeGIF({img}, 0.1);
    const io::Bytes png = io::encodePNG(img);
    for (const io::Bytes* whole : {&jpeg, &gif, &png}) {
        std::string error;
        EXPECT_FALSE(io::decode(*whole, 1.0, &error).isNull()) << error;
        for (double f : {0.5, 0.9, 0.99}) {
            error.clear();
            EXPECT_TRUE(io::decode(cut(*whole, f), 1.0, &error).isNull()) << f << " of " << whole->size();
            EXPECT_FALSE(error.empty());
        }
    }
    // Bytes after a JPEG's end (a trailer some cameras add) are no harm.
    io::Bytes trailing = jpeg;
    trailing.insert(trailing.end(), {'x', 'y', 0xFF, 0x00});
    EXPECT_FALSE(io::decode(trailing).isNull());
    // The same through a file.
    std::string path = tempPath("cut.jpg");
    const io::Bytes half = cut(jpeg, 0.7);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(half.data()), std::streamsize(half.size()));
    std::string error;
    EXPECT_TRUE(io::read(path, 1.0, &error).isNull());
    EXPECT_NE(error.find("incomplete"), std::string::npos) << error;
}

TEST(ImageIO, TinyFilesClaimingGigapixelsAreRefusedAtOnce) {
    // A small JPEG and GIF whose headers claim 32621 × 16384 and 30000 × 10000.
    io::Bytes jpeg = io::encodeJPEG(noise(64, 48), 0.8);
    patchSize(jpeg, 64, 48, 32621, 16384);
    std::string error;
    EXPECT_TRUE(io::decode(jpeg, 1.0, &error).isNull());
    EXPECT_NE(error.find("too large"), std::string::npos) << error;

    io::Bytes gif = io::encodeGIF({noise(64, 48)}, 0.1);
    // GIF sizes are little-endian: the screen and the frame both say 64 × 48.
    for (size_t i = 0; i + 4 <= gif.size(); ++i)
        if (gif[i] == 64 && gif[i + 1] == 0 && gif[i + 2] == 48 && gif[i + 3] == 0) {
            gif[i] = 30000 & 0xFF, gif[i + 1] = 30000 >> 8, gif[i + 2] = 10000 & 0xFF,
            gif[i + 3] = 10000 >> 8;
        }
    error.clear();
    EXPECT_TRUE(io::decode(gif, 1.0, &error).isNull());
    EXPECT_NE(error.find("too large"), std::string::npos) << error;

    // Just under the limit is no error of size (a 16384 × 16384 PNG claim
    // fails only because its data is missing).
    EXPECT_EQ(io::kMaxDecodedPixels, 16384LL * 16384);
    error.clear();
    EXPECT_TRUE(io::decode({'n', 'o', 'p', 'e'}, 1.0, &error).isNull());
    EXPECT_NE(error.find("not an image"), std::string::npos) << error;
}

// Found by fuzzing: 105 bytes of PNG claiming 60000 × 60000, whose text
// chunks made the toolkit's own header read take seconds and gigabytes
// before anything said no. Every way in refuses it by its declared size.
TEST(ImageIO, APngHeaderBombIsRefusedByItsDeclaredSize) {
    const std::string path = testsupport::testDataPath("repro/png-60000x60000-header.png");
    const std::string bytes = testsupport::testDataBytes("repro/png-60000x60000-header.png");
    const std::string said = "The image is too large to open: 60000 × 60000 pixels (at most 256 megapixels).";
    std::string error;
    EXPECT_TRUE(io::decode(io::Bytes(bytes.begin(), bytes.end()), 1.0, &error).isNull());
    EXPECT_EQ(error, said);
    error.clear();
    EXPECT_TRUE(io::read(path, 1.0, &error).isNull());
    EXPECT_EQ(error, said);
    error.clear();
    EXPECT_TRUE(io::readScaled(path, 256, &error).isNull());
    EXPECT_EQ(error, said);
    EXPECT_EQ(io::pixelSize(path).width, 60000);
}

// Found by fuzzing: 44 bytes of GIF placing a 7936 × 11520 frame at
// (11264, 1280) on an empty screen. The decoder made a 19200 × 12800 canvas
// of it (under the cap) and took seconds and gigabytes filling it. A canvas
// its data could never paint is damage; a real GIF of the same size opens.
TEST(ImageIO, AGifCanvasItsDataCannotPaintIsRefused) {
    const std::string bytes = testsupport::testDataBytes("repro/gif-44-bytes-frame-off-screen.gif");
    std::string error;
    EXPECT_TRUE(io::decode(io::Bytes(bytes.begin(), bytes.end()), 1.0, &error).isNull());
    EXPECT_EQ(error, "The file is not an image that can be read, or it is damaged.");

    // An empty 4200 × 4100 picture, above the size where the check begins:
    // one colour is the most its data can be compressed, and it still opens.
    const io::Bytes big = io::encodeGIF({Image(4200, 4100)}, 0.1);
    error.clear();
    const Image opened = io::decode(big, 1.0, &error);
    EXPECT_EQ(opened.width(), 4200) << error;
    EXPECT_EQ(opened.height(), 4100);

    // A small frame on a large screen paints little of it, and a GIF of
    // ordinary size opens all the same: the check begins above that size.
    io::Bytes sparse = io::encodeGIF({noise(10, 10)}, 0.1);
    sparse[6] = 3000 & 0xFF, sparse[7] = 3000 >> 8, sparse[8] = 3000 & 0xFF, sparse[9] = 3000 >> 8;
    error.clear();
    const Image screen = io::decode(sparse, 1.0, &error);
    EXPECT_EQ(screen.width(), 3000) << error;
    EXPECT_EQ(screen.height(), 3000);
}

// Each format's bound lies above the densest its coding reaches: pictures of
// one colour above the size where the bounds begin, written by an ordinary
// encoder in the fewest bits a pixel each format has, all open.
TEST(ImageIO, TheMostCompressedOrdinaryFilesOpen) {
    const auto written = [](QImage::Format format, const char* as) {
        QImage q(4200, 4100, format);
        q.fill(0);
        QByteArray bytes;
        QBuffer buf(&bytes);
        buf.open(QIODevice::WriteOnly);
        QImageWriter writer(&buf, as);
        writer.setOptimizedWrite(true);
        EXPECT_TRUE(writer.write(q)) << as;
        return io::Bytes(bytes.begin(), bytes.end());
    };
    for (const auto& [format, as] : {std::pair{QImage::Format_Mono, "png"},
                                     {QImage::Format_Grayscale8, "jpeg"},
                                     {QImage::Format_Mono, "bmp"}}) {
        std::string error;
        const Image opened = io::decode(written(format, as), 1.0, &error);
        EXPECT_EQ(opened.width(), 4200) << as << ": " << error;
    }
}

// A FIFO named like a picture once held the caller in open() until someone
// wrote to it, /dev/zero read a gigabyte and a 2 GiB file stalled for
// seconds. None is read, and the reason is said.
TEST(ImageIO, OnlyRegularFilesAreOpened) {
    const std::string fifo = tempPath("fifo.png");
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        std::string error;
        EXPECT_TRUE(io::read(path, 1.0, &error).isNull()) << path;
        EXPECT_EQ(error, "The file is not a regular file.") << path;
        EXPECT_TRUE(io::readScaled(path, 64).isNull()) << path;
        EXPECT_EQ(io::pixelSize(path).width, 0) << path;
    }
    std::filesystem::remove(fifo);
    // A 2 GiB file named like a picture (sparse here) is refused by its size,
    // without reading it: nothing that large decodes within the cap.
    const std::string huge = tempPath("huge.png");
    { std::ofstream(huge) << ""; }
    std::filesystem::resize_file(huge, std::uintmax_t(2) << 30);
    std::string error;
    EXPECT_TRUE(io::read(huge, 1.0, &error).isNull());
    EXPECT_EQ(error, "The file is too large to be an image that can be opened.");
    std::filesystem::remove(huge);
}

// A picture on a folder that does not answer: read on the main thread it is
// given up at one decode's time, read by a deadline (a listed file) at that
// deadline, each with the reason, or when its caller abandons it; with the
// most opens held, another picture is refused at once, saying why. Once the
// folder answers, both open.
TEST(ImageIO, APictureOnAFolderThatDoesNotAnswerIsGivenUpWithTheReason) {
    if (::getuid() != 0) GTEST_SKIP() << "holding opens needs root";
    using Clock = std::chrono::steady_clock;
    const std::string dir = tempPath("unanswering"), held = dir + "/held.png",
                      free = tempPath("answering.png");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    testsupport::writePicture(held, 13, 6, kit::Color::black());
    testsupport::writePicture(free, 17, 6, kit::Color::black());
    testsupport::HeldOpens hold(dir, "held");
    if (!hold.watching()) GTEST_SKIP() << "the kernel holds no opens here (fanotify)";
    const std::string tooSlow = "The file could not be opened: its folder did not answer in time.";
    const auto limits = io::decoderLimits();
    io::setDecoderLimits({1, limits.memoryBytes});
    std::string error;
    const auto start = Clock::now();
    EXPECT_TRUE(io::read(held, 1.0, &error).isNull());
    const auto waited = Clock::now() - start;
    io::setDecoderLimits(limits);
    EXPECT_EQ(error, tooSlow);
    EXPECT_GE(waited, std::chrono::milliseconds(2400));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
    // A read its caller abandons (a quick look closed) ends then, as one
    // abandoned in its decoder does; its open stays held until the folder
    // answers.
    io::ReadHandle handle;
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        handle.abandon();
    });
    const auto abandonedAt = Clock::now();
    EXPECT_TRUE(io::read(held, 1.0, &error, handle).isNull());
    EXPECT_LT(Clock::now() - abandonedAt, std::chrono::milliseconds(1500));
    closer.join();
    EXPECT_TRUE(io::wasCancelled(error)) << error;
    for (int i = 2; i < kit::files::kMostOpensHeld; ++i) {
        EXPECT_TRUE(io::readBy(held, Clock::now() + std::chrono::milliseconds(100), 1.0, &error).isNull());
        EXPECT_EQ(error, tooSlow);
    }
    EXPECT_TRUE(io::read(free, 1.0, &error).isNull());
    EXPECT_EQ(error,
              "The file could not be opened: files on folders that did not answer are still being opened.");

    hold.release();
    EXPECT_TRUE(kit::runMainLoopUntil([] { return kit::files::opensHeld() == 0; }, 5));
    EXPECT_EQ(io::read(free).width(), 17);
    EXPECT_EQ(io::readBy(held, Clock::now() + std::chrono::seconds(20)).width(), 13);
    std::filesystem::remove_all(dir);
    std::filesystem::remove(free);
}

// Inputs found by attacking the decoder: a few bytes each claiming a canvas
// or a text of gigabytes, and a huge file named like a picture. Each is
// refused, on every way in, with a sentence for the user and without the
// memory its header asks for (or reading the file whole); a thumbnail is
// never larger than asked, whatever the decoder made of the file.
TEST(ImageIO, HostileFilesAreRefusedWithoutWhatTheyClaim) {
    const std::string damaged = "The file is not an image that can be read, or it is damaged.";
    const std::string incomplete = "The image file is incomplete: it ends before its last pixels.";
    // 1000 MB of nothing, and the same behind the header of a 16000 × 16000
    // PNG: sparse, so only a reader that reads them whole pays for them.
    const std::string zeros = tempPath("huge-zeros.png"), header = tempPath("huge-header.png");
    const std::string repro = testsupport::testDataPath("repro/");
    {
        std::ofstream(zeros, std::ios::binary).flush();
        const std::string png = testsupport::testDataBytes("repro/png-45byte-text-2gb.png").substr(0, 33);
        std::ofstream(header, std::ios::binary)
            << png.substr(0, 16) << std::string("\0\0\x3e\x80\0\0\x3e\x80", 8) << png.substr(24);
        for (const std::string& path : {zeros, header}) std::filesystem::resize_file(path, 1000LL << 20);
    }
    const struct {
        std::string path;
        std::string said;  // empty: it opens
    } cases[] = {
        {repro + "bmp-55byte-16000x16000.bmp", incomplete},
        {repro + "png-45byte-text-2gb.png", incomplete},
        {repro + "png-45byte-ztxt-2gb.png", incomplete},
        {repro + "png-45byte-itxt-2gb.png", incomplete},
        {repro + "png-191byte-itxt-2gb-chunk.png", incomplete},
        {repro + "gif-44-bytes-frame-off-screen.gif", damaged},
        {repro + "png-60000x60000-header.png",
         "The image is too large to open: 60000 × 60000 pixels (at most 256 megapixels)."},
        {repro + "gif-26byte-thumbnail-8x8960.gif", ""},
        {zeros, damaged},
        {header, damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const long long growth = testsupport::peakGrowthOf([&] {
            std::string error;
            const Image thumb = io::readScaled(c.path, 64, &error);
            EXPECT_LE(std::max(thumb.width(), thumb.height()), 64);
            EXPECT_EQ(error, c.said);
            if (c.said.empty()) return;
            EXPECT_TRUE(thumb.isNull());
            EXPECT_TRUE(io::read(c.path, 1.0, &error).isNull());
            EXPECT_EQ(error, c.said);
            EXPECT_TRUE(io::readPNGText(c.path).empty());
            if (std::filesystem::file_size(c.path) > 1000) return;
            const std::string bytes = *kit::files::readAll(c.path);
            error.clear();
            EXPECT_TRUE(io::decode(io::Bytes(bytes.begin(), bytes.end()), 1.0, &error).isNull());
            EXPECT_EQ(error, c.said);
        });
        EXPECT_LT(growth, 32LL << 20);
    }
    std::filesystem::remove(zeros);
    std::filesystem::remove(header);
}

namespace {

// Bytes this thread has read so far, by any call.
long long bytesReadByThisThread() {
    std::ifstream io("/proc/thread-self/io");
    for (std::string line; std::getline(io, line);)
        if (line.rfind("rchar:", 0) == 0) return std::stoll(line.substr(6));
    return -1;
}

}  // namespace

// An icon file of 100,000 empty elements before its picture took the
// toolkit's reader seconds inside this program to give its size. The
// program's own checks refuse it after a few kilobytes; a size this program
// does not read itself comes from the decoder program.
TEST(ImageIO, SizesAndTextsOfFilesFromOutsideAreReadByOwnChecksOnly) {
    const std::string icns = testsupport::testDataPath("repro/icns-100k-empty-elements-plus-png.png");
    const long long before = bytesReadByThisThread();
    EXPECT_EQ(io::refusalOf(icns), "The file is not an image that can be read, or it is damaged.");
    EXPECT_EQ(io::pixelSize(icns), kit::Size{});
    EXPECT_TRUE(io::readPNGText(icns).empty());
    EXPECT_LT(bytesReadByThisThread() - before, 64 << 10);

    QImage tiff(300, 200, QImage::Format_RGB32);
    tiff.fill(Qt::blue);
    const std::string tiffPath = tempPath("size-from-decoder.tif");
    ASSERT_TRUE(tiff.save(QString::fromStdString(tiffPath), "tiff"));
    EXPECT_EQ(io::pixelSize(tiffPath), (kit::Size{300, 200}));

    // Texts of each kind, read by the program's own chunk reader.
    const io::Bytes png = io::encodePNG(sample(), {{"plain", "x"}, {"long", std::string(4000, 'a') + "é"}});
    const auto texts = io::pngText(png);
    EXPECT_EQ(texts.at("plain"), "x");
    EXPECT_EQ(texts.at("long"), std::string(4000, 'a') + "é");
}

// A read given up while it waits ends its decoder at once, whatever thread
// waits; one given up before it starts keeps none running.
TEST(ImageIO, AnAbandonedReadEndsItsDecoder) {
    const std::string file = tempPath("abandoned.png");
    const auto png = io::encodePNG(sample());
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
    testsupport::SlowDecoder slow(5, testsupport::SlowDecoder::Busy);
    std::string error;
    io::ReadHandle early;
    early.abandon();
    EXPECT_TRUE(io::read(file, 1.0, &error, early).isNull());
    EXPECT_TRUE(io::wasCancelled(error)) << error;
    EXPECT_EQ(slow.running(), std::vector<pid_t>{});

    io::ReadHandle handle;
    Image image;
    error.clear();
    std::thread reader([&] { image = io::read(file, 1.0, &error, handle); });
    for (int i = 0; i < 500 && slow.running().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(slow.running().size(), 1u);
    handle.abandon();
    EXPECT_EQ(slow.running(), std::vector<pid_t>{});
    reader.join();
    EXPECT_TRUE(image.isNull());
    EXPECT_TRUE(io::wasCancelled(error)) << error;
    std::filesystem::remove(file);
}
