// Pictures from outside are decoded by the decoder program under its limits:
// files built to cost hours or gigabytes cost the program neither, a decoder
// that fails or runs out of time is a refusal with its reason, and the
// program's event loop goes on meanwhile.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "kit/base/Files.h"
#include "kit/image/Decoder.h"
#include "kit/image/DecoderAnswer.h"
#include "kit/image/ImageIO.h"
#include "support/DecoderSentences.h"
#include "support/PeakMemory.h"
#include "support/PictureFiles.h"
#include "support/TestData.h"

namespace io = kit::ImageIO;
using kit::Image;

namespace {

using testsupport::kDamaged;
using testsupport::kIncomplete;
using testsupport::kSanitized;
const std::string kTooSlow = "The image takes too long to read; reading it was given up.";
const std::string kTooHungry = "The image needs more memory to read than a picture may take.";
const std::string kFailed = "The image could not be read: the decoder failed on it.";
const std::string kUnconfined = "The image could not be read: its decoder could not be shut in";

// Limits of a test's own, put back when it ends.
class DecoderLimitsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        saved = io::decoderLimits();
        folder = kit::files::uniqueTempPath("decoder-", "");
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        io::setDecoderLimits(saved);
        io::setDecoderProgram("");
        std::filesystem::remove_all(folder);
    }
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    io::DecoderLimits saved;
    std::string folder;
};

using testsupport::be32;

std::string chunk(const std::string& type, const std::string& data) {
    return testsupport::pngChunk(type, data);
}

// A PNG of width × height, 8-bit RGBA, with the chunks given between its
// header and its end.
std::string png(uint32_t width, uint32_t height, const std::string& chunks) {
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR", be32(width) + be32(height) + std::string("\x08\x06\x00\x00\x00", 5)) + chunks +
           chunk("IEND", "");
}

io::Bytes bytesOf(const std::string& s) {
    return io::Bytes(s.begin(), s.end());
}

}  // namespace

// The files that froze the program or cost it gigabytes, each through a
// file and (the small ones) as dropped bytes: each opens, or is refused with
// its reason, and the program's own memory grows by the picture alone.
TEST_F(DecoderLimitsFixture, HostileFilesCostTheProgramNeitherTimeNorMemory) {
    // The files too slow to read get less time than the program gives, so the
    // test ends soon; the others the program's own (the poster takes over a
    // second to draw on a busy machine).
    const std::string repro = testsupport::testDataPath("repro/");
    // A 1000 MB PBM whose comment runs to its end (sparse: only a reader
    // pays for it).
    const std::string pbm = write("comment.pbm", "P1\n#");
    std::filesystem::resize_file(pbm, 1000LL << 20);
    const struct {
        std::string path;
        int width;         // > 0: it opens at this size
        std::string said;  // otherwise the reason
    } cases[] = {
        {repro + "svg-170byte-6000x4000-poster.svg", 6000, ""},
        {repro + "png-ihdr-4g-by-4g-overflow.png", 0,
         "The image is too large to open: 2303741511 × 4278852106 pixels (at most 256 megapixels)."},
        {repro + "ico-65535-entries-one-ztxt-png.ico", 16, ""},
        {repro + "jpeg-progressive-4096-60000-scans.jpg", 0, kTooSlow},
        // 16384 × 16384 in a 16 px icon: more than the memory given here.
        {repro + "cur-dir16-embedded-png-16384sq.cur", 0, kTooHungry},
        {repro + "ico-dir16-embedded-png-16384sq.ico", 0, kTooHungry},
        {repro + "tiff-16000sq-deflate-truncated-8k.tif", 0, kDamaged},
        // A drawing whose first 4 KiB are a comment: too large, not damaged.
        {repro + "svg-4kib-16000x16000.svg", 0,
         "The drawing is too large to open: 16000 × 16000 pixels (at most 64 megapixels for a drawing)."},
        {pbm, 0, kTooSlow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        // A sanitizer's decoder holds no limit on its memory (the sanitizer
        // reserves terabytes of address space first): the icon opens there.
        if (kSanitized && c.path.find("dir16") != std::string::npos) continue;
        io::setDecoderLimits({c.said == kTooSlow ? 2 : saved.cpuSeconds, 768LL << 20});
        const long long growth = testsupport::peakGrowthOf([&] {
            std::string error;
            const Image image = io::read(c.path, 1.0, &error);
            if (c.width > 0) {
                EXPECT_EQ(image.width(), c.width) << error;
                return;
            }
            EXPECT_TRUE(image.isNull());
            EXPECT_EQ(error, c.said);
            if (std::filesystem::file_size(c.path) > (64 << 10)) return;
            const std::string bytes = *kit::files::readAll(c.path);
            error.clear();
            EXPECT_TRUE(io::decode(bytesOf(bytes), 1.0, &error).isNull());
            EXPECT_EQ(error, c.said);
        });
        // The poster's pixels are 96 MB; nothing else comes near.
        EXPECT_LT(growth, (c.width == 6000 ? 96LL << 20 : 0) + (32LL << 20));
    }
}

// A drawing is drawn at the size it declares and held to the cap alone:
// a few bytes may draw a poster, and a drawing above the cap is too large,
// not damaged.
TEST_F(DecoderLimitsFixture, DrawingsOpenAtTheirDeclaredSizeUpToTheCap) {
    const auto svg = [](int w, int h) {
        return "<svg xmlns='http://www.w3.org/2000/svg' width='" + std::to_string(w) + "' height='" +
               std::to_string(h) + "'><rect width='" + std::to_string(w) + "' height='" + std::to_string(h) +
               "' fill='#3366cc'/></svg>";
    };
    std::string error;
    const Image poster = io::decode(bytesOf(svg(3000, 2000)), 1.0, &error);
    EXPECT_EQ(poster.width(), 3000) << error;
    EXPECT_EQ(poster.height(), 2000);
    EXPECT_EQ(poster.pixel(1500, 1000), (kit::PixelBGRA{204, 102, 51, 255}));
    error.clear();
    EXPECT_TRUE(io::read(write("huge.svg", svg(20000, 20000)), 1.0, &error).isNull());
    EXPECT_EQ(error, "The image is too large to open: 20000 × 20000 pixels (at most 256 megapixels).");
}

// A head none of the program's own checks knows is the decoder's to judge:
// a drawing that starts with a byte-order mark, a document type or a long
// comment, and an X bitmap that starts with a comment, open with their
// pixels; what the decoder cannot read is refused as before, and the
// question asked without a decoder (a menu's) still tells plain text.
TEST_F(DecoderLimitsFixture, HeadsTheChecksDoNotKnowAreTheDecodersToJudge) {
    const std::string drawing =
        "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
        "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n<!-- " +
        std::string(700, 'x') +
        " -->\n<svg xmlns='http://www.w3.org/2000/svg' width='40' height='20'>"
        "<rect width='20' height='20' fill='#ff0000'/><rect x='20' width='20' height='20' "
        "fill='#0000ff'/></svg>";
    for (const std::string& bytes : {"\xEF\xBB\xBF" + drawing, drawing}) {
        SCOPED_TRACE(bytes.substr(0, 3));
        const std::string path = write("drawing.svg", bytes);
        EXPECT_EQ(io::refusalOf(path), "");
        std::string error;
        const Image image = io::read(path, 1.0, &error);
        ASSERT_EQ(image.width(), 40) << error;
        EXPECT_EQ(image.pixel(5, 10), (kit::PixelBGRA{0, 0, 255, 255}));
        EXPECT_EQ(image.pixel(35, 10), (kit::PixelBGRA{255, 0, 0, 255}));
        EXPECT_EQ(io::decode(bytesOf(bytes), 1.0, &error).width(), 40) << error;
    }

    // As an image editor writes it: a comment first. Bits from the left,
    // a set bit black.
    const std::string bitmap = write("gimp.xbm",
                                     "/* Created with an image editor */\n#define pattern_width 16\n"
                                     "#define pattern_height 2\nstatic unsigned char pattern_bits[] = {\n"
                                     "   0x0f, 0xf0, 0xff, 0x00 };\n");
    std::string error;
    const Image bits = io::read(bitmap, 1.0, &error);
    ASSERT_EQ(bits.width(), 16) << error;
    ASSERT_EQ(bits.height(), 2);
    const auto black = [&](int x, int y) { return bits.pixel(x, y).r < 128; };
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(black(x, 0), x < 4 || x >= 12) << x;
        EXPECT_EQ(black(x, 1), x < 8) << x;
    }

    const std::string words = write("notes.png", "plain words, not a picture\n");
    EXPECT_EQ(io::refusalOf(words), kDamaged);
    error.clear();
    EXPECT_TRUE(io::read(words, 1.0, &error).isNull());
    EXPECT_EQ(error, kDamaged);
    error.clear();
    EXPECT_TRUE(io::decode(bytesOf("\x01\x02 no format starts so"), 1.0, &error).isNull());
    EXPECT_EQ(error, kDamaged);
}

// A TGA with a colour map opens with the map's colours (rows from the
// bottom), one with alpha with its alpha; one cut short is incomplete, and one claiming more pixels than
// its bytes can paint is refused at once.
TEST_F(DecoderLimitsFixture, TgaMapsAndSizesAreRead) {
    const kit::PixelBGRA red{0, 0, 255, 255}, blue{255, 0, 0, 255};
    for (const char* name : {"tga/raw-mapped.tga", "tga/rle-mapped.tga"}) {
        SCOPED_TRACE(name);
        std::string error;
        const Image image = io::read(testsupport::testDataPath(name), 1.0, &error);
        ASSERT_EQ(image.width(), 4) << error;
        ASSERT_EQ(image.height(), 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(image.pixel(x, y), x == 1 && y == 0 ? blue : red) << x << y;
    }
    // Half-transparent red beside opaque blue: the alpha is the file's.
    std::string error;
    const Image translucent = io::read(testsupport::testDataPath("tga/raw-32-translucent.tga"), 1.0, &error);
    ASSERT_EQ(translucent.width(), 2) << error;
    EXPECT_EQ(translucent.colorAt(0, 0).alpha8(), 127);
    EXPECT_GE(translucent.colorAt(0, 0).red8(), 253);
    EXPECT_EQ(translucent.colorAt(0, 0).blue8(), 0);
    EXPECT_EQ(translucent.pixel(1, 0), blue);

    const std::string whole = testsupport::testDataBytes("tga/raw-24-plain.tga");
    EXPECT_TRUE(io::read(write("cut.tga", whole.substr(0, whole.size() - 5)), 1.0, &error).isNull());
    EXPECT_EQ(error, kIncomplete);
    // Run-length coded, 8000 × 8000 from a few bytes: over the bound.
    std::string claim = testsupport::testDataBytes("tga/rle-24-plain.tga").substr(0, 40);
    claim[12] = char(8000 & 0xFF), claim[13] = char(8000 >> 8), claim[14] = claim[12], claim[15] = claim[13];
    error.clear();
    EXPECT_TRUE(io::read(write("claim.tga", claim), 1.0, &error).isNull());
    EXPECT_EQ(error, kDamaged);
    claim[12] = claim[13] = claim[14] = claim[15] = char(0xFF);
    EXPECT_EQ(io::refusalOf(write("huge.tga", claim)),
              "The image is too large to open: 65535 × 65535 pixels (at most 256 megapixels).");
}

// Text and profile chunks count together, however many there are: twenty
// plain text chunks of a megabyte each are refused at once, three open.
TEST_F(DecoderLimitsFixture, TextsArePaidForInTotalNotByTheChunk) {
    const std::string idat = chunk("IDAT", std::string("\x78\x9c\x63\x60\x00\x02\x00\x00\x05\x00\x01", 11));
    const std::string text =
        chunk("tEXt", "Comment" + std::string(1, '\0') + std::string((1 << 20) - 8, 'A'));
    std::string many, few;
    for (int i = 0; i < 20; ++i) many += text;
    for (int i = 0; i < 3; ++i) few += text;
    const std::string refused = write("many.png", png(1, 1, many + idat));
    EXPECT_EQ(io::refusalOf(refused), kDamaged);
    std::string error;
    EXPECT_EQ(io::read(write("few.png", png(1, 1, few + idat)), 1.0, &error).width(), 1) << error;
}

// The checks on a PNG's chunks, each of which a fault once slipped past.
TEST_F(DecoderLimitsFixture, PngChunksAreCheckedBeforeDecoding) {
    const Image picture = [] {
        Image img(40, 30);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                img.setPixel(x, y, {uint8_t(x * 5), uint8_t(y * 7), uint8_t(x ^ y), 255});
        return img;
    }();
    const io::Bytes whole = io::encodePNG(picture);
    std::string error;
    ASSERT_EQ(io::decode(whole, 1.0, &error), picture) << error;
    // Cut by a few bytes (inside the end chunk): incomplete.
    for (size_t n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        const std::string cut(whole.begin(), whole.end() - std::ptrdiff_t(n));
        EXPECT_EQ(io::refusalOf(write("cut.png", cut)), kIncomplete);
        error.clear();
        EXPECT_TRUE(io::decode(bytesOf(cut), 1.0, &error).isNull());
        EXPECT_EQ(error, kIncomplete);
    }
    // Without its end chunk at all.
    const std::string endless(whole.begin(), whole.end() - 12);
    error.clear();
    EXPECT_TRUE(io::read(write("endless.png", endless), 1.0, &error).isNull());
    EXPECT_EQ(error, kIncomplete);
    // 16000 × 16000 claimed by a few bytes of image data beside 40 KB of
    // another chunk: only the image data paints pixels.
    const std::string sparse =
        png(16000, 16000,
            chunk("IDAT", std::string("\x78\x9c\x63\x60\x00\x02\x00\x00\x05\x00\x01", 11)) +
                chunk("prVt", std::string(40 << 10, 'x')));
    EXPECT_EQ(io::refusalOf(write("sparse.png", sparse)), kDamaged);
}

// A small frame with a colour table of its own on a screen above the size
// where the check of a GIF's data begins: its data counts, and it opens.
TEST_F(DecoderLimitsFixture, AGifFrameWithItsOwnColourTableOpensOnALargeScreen) {
    Image frame(100, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            frame.setPixel(x, y, {uint8_t(x * 37 ^ y * 11), uint8_t(y * 53 + x), uint8_t(x * y), 255});
    io::Bytes gif = io::encodeGIF({frame}, 0.1);
    ASSERT_EQ(gif[10] & 0x80, 0);  // no global table: the frame carries its own
    gif[6] = 4200 & 0xFF, gif[7] = 4200 >> 8, gif[8] = 4100 & 0xFF, gif[9] = 4100 >> 8;
    // Past the extensions to the frame and its table, whose first colour
    // becomes one that reads as an end should the table be taken for data.
    size_t at = 13;
    while (at < gif.size() && gif[at] == 0x21) {
        at += 2;
        while (at < gif.size() && gif[at] != 0) at += gif[at] + 1;
        ++at;
    }
    ASSERT_LT(at + 13, gif.size());
    ASSERT_EQ(gif[at], 0x2C);
    ASSERT_NE(gif[at + 9] & 0x80, 0);
    gif[at + 10] = 0xFF, gif[at + 11] = 0x00, gif[at + 12] = 0xFF;
    std::string error;
    const Image opened = io::decode(gif, 1.0, &error);
    EXPECT_EQ(opened.width(), 4200) << error;
    EXPECT_EQ(opened.height(), 4100);
}

// The program goes on while the decoder works, and a decoder that passes
// its time is stopped and the picture refused.
TEST_F(DecoderLimitsFixture, TheEventLoopRunsWhileTheDecoderWorks) {
    io::setDecoderLimits({1, saved.memoryBytes});
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    std::string error;
    EXPECT_TRUE(
        io::read(testsupport::testDataPath("repro/jpeg-progressive-4096-60000-scans.jpg"), 1.0, &error)
            .isNull());
    EXPECT_EQ(error, kTooSlow);
    EXPECT_GT(ticks, 10);
}

// A decoder that is not there is a refusal that says so, and the program
// goes on.
TEST_F(DecoderLimitsFixture, AMissingDecoderIsARefusal) {
    const std::string picture = testsupport::testDataPath("repro/svg-170byte-6000x4000-poster.svg");
    std::string error;
    io::setDecoderProgram(folder + "/missing");
    EXPECT_TRUE(io::read(picture, 1.0, &error).isNull());
    EXPECT_EQ(error.rfind(
                  "The image could not be read: the decoder " + folder + "/missing could not be started", 0),
              0u)
        << error;
    // The real decoder still reads it.
    io::setDecoderProgram("");
    EXPECT_EQ(io::read(picture, 1.0, &error).width(), 6000) << error;
}

// Where the kernel gives the decoder neither Landlock nor a root of its own,
// pictures still open, and the log says what is missing once, not for each.
TEST_F(DecoderLimitsFixture, AKernelWithoutFileRulesIsLoggedOnce) {
    const io::Bytes png = io::encodePNG(Image(4, 3));
    const std::string picture = write("small.png", std::string(png.begin(), png.end()));
    // A kernel of its own each time, as the real one is told of once.
    static int kernels = 0;
    ::setenv(io::kSimulatedKernelWithout, ("landlock namespaces " + std::to_string(++kernels)).c_str(), 1);
    testing::internal::CaptureStderr();
    std::string error;
    const Image first = io::read(picture, 1.0, &error);
    const Image second = io::read(picture, 1.0, &error);
    const std::string log = testing::internal::GetCapturedStderr();
    ::unsetenv(io::kSimulatedKernelWithout);
    EXPECT_EQ(first.width(), 4) << error;
    EXPECT_EQ(second.width(), 4) << error;
    size_t lines = 0;
    for (size_t at = 0; (at = log.find("no Landlock", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u) << log;
}

// Icons hold PNG pictures of their own, whose texts count in the one total
// of the whole file: two entries of nine megabytes each are refused, one
// beside an entry without texts passes.
TEST_F(DecoderLimitsFixture, IconEntriesPayForTheirTextsTogether) {
    const std::string idat = chunk("IDAT", std::string("\x78\x9c\x63\x60\x00\x02\x00\x00\x05\x00\x01", 11));
    const std::string text =
        chunk("tEXt", "Comment" + std::string(1, '\0') + std::string((1 << 20) - 8, 'A'));
    std::string nine;
    for (int i = 0; i < 9; ++i) nine += text;
    const auto le = [](uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out.push_back(char(v >> (8 * i)));
        return out;
    };
    // A directory of 1 × 1, 32-bit entries, the pictures after it.
    const auto icon = [&](const std::vector<std::string>& pictures) {
        std::string head = le(0, 2) + le(1, 2) + le(uint32_t(pictures.size()), 2), body;
        uint32_t at = uint32_t(6 + 16 * pictures.size());
        for (const std::string& p : pictures) {
            head += std::string("\x01\x01\x00\x00", 4) + le(1, 2) + le(32, 2) + le(uint32_t(p.size()), 4) +
                    le(at + uint32_t(body.size()), 4);
            body += p;
        }
        return head + body;
    };
    EXPECT_EQ(io::refusalOf(write("both.ico", icon({png(1, 1, nine + idat), png(1, 1, nine + idat)}))),
              kDamaged);
    EXPECT_EQ(io::refusalOf(write("one.ico", icon({png(1, 1, nine + idat), png(1, 1, idat)}))), "");
}

// The decoder's answer is not trusted: a decoder that lingers, never
// answers, says too much, is killed from outside or hands over other
// pixels than it claims is a refusal in this program's own words, within
// the decoder's time. A decoder that died by a signal other than its own
// limits or this program's deadline is logged, naming the picture.
TEST_F(DecoderLimitsFixture, AnUntrustedDecoderIsHeldToItsTimeAndItsAnswer) {
    io::setDecoderLimits({1, saved.memoryBytes});
    const std::string picture = testsupport::testDataPath("repro/svg-170byte-6000x4000-poster.svg");
    // The decoder sees where its libraries are, not the display.
    const char* display = std::getenv("DISPLAY");
    const std::string displayWas = display ? display : "";
    ::setenv("DISPLAY", ":42", 1);
    ::setenv("LC_PAPER", "C", 1);
    const auto step = [](io::ConfinementStep s) { return std::to_string(int(s)); };
    const std::string namespaces = step(io::ConfinementStep::namespaces),
                      bind = step(io::ConfinementStep::bindPlace),
                      threads = step(io::ConfinementStep::startThreads),
                      past = step(io::ConfinementStep::count);
    const struct {
        const char* name;
        std::string script;  // after "#!/bin/sh"
        int maxSide;
        std::string said;  // empty: it opens
        bool logged;
    } cases[] = {
        {"never answers", "exec sleep 30", 0, kTooSlow, false},
        {"lingers", "exec 1>&-\nexec sleep 30", 0, kFailed, true},
        {"says too much", "printf 'no '\nhead -c 1000000 /dev/zero | tr '\\0' x\necho", 0, kFailed, false},
        {"killed from outside", "kill -KILL $$", 0, kFailed, true},
        {"crashes", "kill -SEGV $$", 0, kFailed, true},
        {"out of time", "kill -XCPU $$", 0, kTooSlow, false},
        {"past its file size", "kill -XFSZ $$", 0, kTooHungry, false},
        {"larger than asked", "head -c 64 /dev/zero >&3\necho 'ok 4 4 4 4'", 2, kFailed, false},
        {"short pixels", "head -c 8 /dev/zero >&3\necho 'ok 4 4 4 4'", 0, kFailed, false},
        {"a reason of its own", "echo 'no The picture is fine, open it anyway.'", 0, kFailed, false},
        {"a known reason", "echo 'no too-large 70000 70000'", 0,
         "The image is too large to open: 70000 × 70000 pixels (at most 256 megapixels).", false},
        {"a known reason with more words", "echo 'no damaged and more'", 0, kFailed, false},
        {"no namespace left", "echo 'no unconfined 28 " + namespaces + "'", 0,
         kUnconfined + ": the system allows no more namespaces.", false},
        {"no namespace allowed", "echo 'no unconfined 1 " + namespaces + "'", 0,
         kUnconfined + ": the system does not allow it a namespace.", false},
        {"a namespace refused otherwise", "echo 'no unconfined 22 " + namespaces + "'", 0,
         kUnconfined + ": the system refused it a namespace.", false},
        {"a step not allowed", "echo 'no unconfined 1 " + bind + "'", 0,
         kUnconfined + ": the system did not allow it.", false},
        {"a step that failed", "echo 'no unconfined 5 " + bind + "'", 0,
         kUnconfined + ": Input/output error.", false},
        {"a step with no system error", "echo 'no unconfined 0 " + threads + "'", 0, kUnconfined + ".",
         false},
        {"no such error", "echo 'no unconfined 4096 " + namespaces + "'", 0, kFailed, false},
        {"no step", "echo 'no unconfined 1'", 0, kFailed, false},
        {"no step that failed", "echo 'no unconfined 1 0'", 0, kFailed, false},
        {"a step it does not name", "echo 'no unconfined 1 " + past + "'", 0, kFailed, false},
        {"a step past ten digits", "echo 'no unconfined 1 000000000015'", 0, kFailed, false},
        {"no system error where one is due", "echo 'no unreadable 0'", 0, kFailed, false},
        {"a number past ten digits", "echo 'no too-large 12345678901 5'", 0, kFailed, false},
        {"a number that overflows", "echo 'no too-large 18446744073709551621 5'", 0, kFailed, false},
        {"what it may see",
         "[ -z \"${DISPLAY+x}\" ] && [ \"$LC_PAPER\" = C ] || exit 1\n"
         "head -c 4 /dev/zero >&3\necho 'ok 1 1 1 1'",
         0, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string fake = write("decoder", "#!/bin/sh\n" + c.script + "\n");
        ::chmod(fake.c_str(), 0700);
        io::setDecoderProgram(fake);
        std::string error;
        testing::internal::CaptureStderr();
        const auto start = std::chrono::steady_clock::now();
        const Image image =
            c.maxSide > 0 ? io::readScaled(picture, c.maxSide, &error) : io::read(picture, 1.0, &error);
        const auto took = std::chrono::steady_clock::now() - start;
        const std::string log = testing::internal::GetCapturedStderr();
        // Not printed whole: one of them is a megabyte.
        EXPECT_TRUE(error == c.said) << error.substr(0, 200);
        EXPECT_EQ(image.isNull(), !c.said.empty());
        // The decoder's time is a second, the wait for it 2.5: far from 30.
        EXPECT_LT(took, std::chrono::seconds(10));
        EXPECT_EQ(log.find("decoder crashed: ") != std::string::npos, c.logged) << log;
        if (c.logged) {
            EXPECT_NE(log.find(" on " + picture), std::string::npos) << log;
        }
    }
    if (display)
        ::setenv("DISPLAY", displayWas.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
    ::unsetenv("LC_PAPER");
}

// The log names the step a decoder could not take, with the kernel's text
// and number, from the one table the decoder names it by; a code that names
// no step of it, or is otherwise not well made, tells the log nothing.
TEST(DecoderAnswer, TheLogNamesTheStepThatFailed) {
    namespace detail = io::detail;
    using Step = io::ConfinementStep;
    EXPECT_EQ(detail::unconfinedReasonIn(detail::unconfinedCode(Step::bindPlace, EIO)),
              "a place could not be bound into its root: Input/output error, error 5");
    EXPECT_EQ(detail::unconfinedReasonIn(detail::unconfinedCode(Step::namespaces, ENOSPC)),
              "the kernel allows it no namespace: No space left on device, error 28");
    EXPECT_EQ(detail::unconfinedReasonIn(detail::unconfinedCode(Step::startThreads, 0)),
              "its threads could not be started: no system error");
    // Every step has a name of its own.
    std::set<std::string_view> names;
    for (int s = 1; s < int(Step::count); ++s) {
        EXPECT_FALSE(io::confinementStepName(Step(s)).empty()) << s;
        names.insert(io::confinementStepName(Step(s)));
    }
    EXPECT_EQ(names.size(), size_t(Step::count) - 1);
    for (const std::string& code : std::vector<std::string>{
             detail::unconfinedCode(Step::none, EIO), detail::unconfinedCode(Step::count, EIO),
             "unconfined 5", "unconfined 5 15 1", "unconfined 4096 15", "unconfined -5 15",
             "unconfined 5 +15", "unreadable 5", "unconfined 5  15", "unconfined 5 15 "})
        EXPECT_EQ(detail::unconfinedReasonIn(code), std::nullopt) << code;
}
