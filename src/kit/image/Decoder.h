#pragma once
#include <string>

// The decoder program's side of decoding a picture from outside (see
// ImageIO.h): run as `kadrix-decode`, it reads the picture on its standard
// input, writes the pixels to descriptor 3 and its answer to its standard
// output, under limits it sets itself before it reads a byte.
//
//   kadrix-decode [--max-side N] [--texts] [--seconds N] [--memory BYTES]
//
// The answer is one line, "ok WIDTH HEIGHT ORIGINAL-WIDTH ORIGINAL-HEIGHT"
// followed (with --texts) by the picture's texts as key and value each ended
// by a zero byte, or "no " and the code of its reason (DecoderAnswer.h). The pixels are
// premultiplied B, G, R, A rows of WIDTH × 4 bytes, top row first.
namespace kit::ImageIO {

int runDecoder(int argc, char** argv);

// Shuts the calling process in as the decoder is before it reads a byte of
// the picture: a process session of its own, ended with `parent` (the
// caller's parent, read before anything else), not dumpable, reading files
// only where the decoding libraries keep theirs (Landlock, where the kernel
// has it), and a system-call filter that lets through only the calls
// decoding makes, on the process itself. Call it with one thread running.
// Empty when it holds, else why it could not be done: then nothing may be
// decoded (on a processor with no filter, always).
std::string confineDecoder(int parent);

}  // namespace kit::ImageIO
