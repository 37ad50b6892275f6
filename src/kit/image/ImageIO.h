#pragma once
// Decoding and encoding of image files. Every failure is an empty result
// (null image, empty bytes, false); malformed input never crashes.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kit/base/Image.h"
#include "kit/base/OpenInTime.h"

namespace kit {

namespace ImageIO {

using Bytes = std::vector<uint8_t>;
// PNG text chunks: keyword → text (Latin-1 keywords, UTF-8 texts).
using TextChunks = std::map<std::string, std::string>;

// The most pixels a decoded file may have: 256 megapixels, 1 GiB at 4 bytes
// a pixel. A few kilobytes of GIF or JPEG can claim gigapixels; opening,
// dropping and pasting files all stop here. Captures made in memory are not
// files and are not held to it.
constexpr long long kMaxDecodedPixels = 256LL * 1024 * 1024;
// The decoder's allocation limit in megabytes: the pixels at the cap, so a
// file whose header understates its size still cannot take more.
constexpr int kAllocationLimitMB = int(kMaxDecodedPixels * 4 / (1024 * 1024));
// The largest image file read: the pixels at the cap uncompressed, with room
// for headers. Anything larger cannot decode within the cap.
constexpr size_t kMaxImageFileBytes = size_t(kMaxDecodedPixels) * 4 + (size_t(16) << 20);

// Any image format the platform reads (PNG, JPEG, GIF first frame, BMP, …).
// The result carries `scale`. A file that is too large, incomplete (cut off
// before its end) or not an image gives a null image, and `error` (when
// given) says which in a sentence for the user.
//
// A picture from outside the program (a file, dropped or pasted bytes) may
// be built to cost any time and memory to decode, whatever its header
// says. Its header is checked here, the quick first refusal; the decoding
// runs in the decoder program `kadrix-decode` beside this one, with limits
// on its processor time and memory and no way to write files or reach the
// network. A decoder that fails, or runs out of time or memory, is a
// refusal like any other, told in this program's words, never the
// decoder's. One that dies by a signal other than its limits is logged on
// standard error as "decoder crashed: SIGNAME (description) on FILE". On the thread of the application's
// event loop that loop goes on while the decoder works.
//
// A file's folder may not answer, as a network folder whose server stopped
// does. Read on the thread of the event loop, a file is opened, and its head
// checked, on a thread of its own (kit/base/OpenInTime.h), and the whole
// read, the open's wait and the decoder's, is given up after one decode's
// time (decodeTimeLimit()), saying why: the folder did not answer in time,
// or too many opens on such folders are held already.
Image decode(const Bytes& data, double scale = 1.0, std::string* error = nullptr);
Image read(const std::string& path, double scale = 1.0, std::string* error = nullptr);
// read() of a file Kadrix wrote itself (a capture's temporary file, a save,
// a backdrop it stored): opened on the caller's thread, never counted with
// the opens of files someone named, so folders that do not answer cannot
// refuse it; checked and decoded as any picture.
Image readOwn(const std::string& path, double scale = 1.0, std::string* error = nullptr);

namespace detail {
struct ReadHandleAccess;
}
// A read its caller may give up while it waits (a quick look closed, or
// moved on to another picture): abandon() ends its wait for the file's
// folder or its decoder at once, and the read then ends as one the way out
// ended does (wasCancelled). For one read, or reads made one after another,
// every one of which abandon() ends; abandon() from any thread.
class ReadHandle {
public:
    void abandon();

private:
    friend struct detail::ReadHandleAccess;
    int decoder_ = 0;  // both under the lock of the running decoders
    bool abandoned_ = false;
    files::OpenStop open_;
};
// read(), which `handle` can give up.
Image read(const std::string& path, double scale, std::string* error, ReadHandle& handle);
// read() given up at `until`, or by `handle`, on any thread: files tried
// one after another (those another program lists) share one wait and one
// handle.
Image readBy(const std::string& path, std::chrono::steady_clock::time_point until, double scale = 1.0,
             std::string* error = nullptr, ReadHandle* handle = nullptr);
// The same checks and limit, decoded straight to at most maxSide pixels on
// the longer side (never enlarged), without the full-size pixels where the
// format allows; `originalSize` receives the file's own pixel size.
Image readScaled(const std::string& path, int maxSide, std::string* error = nullptr,
                 Size* originalSize = nullptr);
// Whether a read gave up because the application is ending (the wait of the
// main thread ends at once then): no refusal to tell the user of, and
// nothing more to do with it.
bool wasCancelled(const std::string& error);
// Whether a read refused the file for its bytes: cut off before its format's
// end, or no picture (damaged). Not for a file that could not be opened or a
// decoder that could not be run.
bool refusedForItsBytes(const std::string& error);
// decode() of the bytes in a memory file (which it seals) or an open regular
// file, waiting for the decoder no later than `until`: pictures tried one
// after another share one wait.
Image decodeHeld(int memoryFile, std::chrono::steady_clock::time_point until, double scale = 1.0,
                 std::string* error = nullptr);
// read(), with the picture's texts (bounded in total).
Image readWithTexts(const std::string& path, TextChunks& texts, std::string* error = nullptr);
// decode() in this process: for bytes this program made itself. maxSide > 0
// decodes as readScaled() does.
Image decodeInProcess(const Bytes& data, double scale = 1.0, std::string* error = nullptr, int maxSide = 0);

// The decoder program's limits: processor seconds (the wait for it ends
// half as long again later) and bytes of data it may hold: two pictures at
// the cap, and room for the decoder's own.
struct DecoderLimits {
    int cpuSeconds = 20;
    long long memoryBytes = kMaxDecodedPixels * 4 * 2 + (512LL << 20);
};
void setDecoderLimits(const DecoderLimits& limits);
// The longest a decode waits for the decoder program, from its start.
std::chrono::milliseconds decodeTimeLimit();
DecoderLimits decoderLimits();
// Another decoder program in place of the one beside this program (tests
// of a decoder that fails); empty for the one beside it.
void setDecoderProgram(const std::string& path);

// The checks read() makes before decoding, alone: the file's head and (for a
// PNG) its chunk lengths, reading no more. Empty when they pass, otherwise
// the sentence read() gives. A head of a format they do not know, which
// read() leaves to the decoder, passes unless it is plain text of no format
// written as text. For readers of image files that need more than pixels
// (another program's thumbnails, with their texts) and for asking without
// a decoder (a menu).
std::string refusalOf(const std::string& path);
// Pixel size: from the header where this program's own checks read it (a
// PNG's as declared, even above the cap), otherwise from the decoder
// program; (0,0) when unreadable or refused.
Size pixelSize(const std::string& path);
// The file name extensions of every format `decode` reads, lower case,
// without the dot ("png", "jpg", "jpeg", …).
std::vector<std::string> readableExtensions();

// PNG with optional text chunks and the image's scale as its resolution
// (72 dpi × scale); empty on failure.
Bytes encodePNG(const Image& image, const TextChunks& text = {});
// JPEG at quality 0…1 (clamped). JPEG has no alpha: translucent pixels
// keep their premultiplied colour, which reads as lying over black.
Bytes encodeJPEG(const Image& image, double quality);

// An animated GIF of frames of one size, each shown `delaySeconds`, looping
// `loopCount` times (0: forever). Each frame gets its own palette of up to
// 256 colours (dithered); pixels less than half opaque become transparent.
// Empty when there are no frames, their sizes differ, or encoding fails.
Bytes encodeGIF(const std::vector<Image>& frames, double delaySeconds, int loopCount = 0);

// Text chunks of PNG data or a PNG file (tEXt, zTXt, iTXt), read by this
// program's own chunk reader after the checks; empty when none, not a PNG or
// refused.
TextChunks pngText(const Bytes& data);
TextChunks readPNGText(const std::string& path);

}  // namespace ImageIO

}  // namespace kit
