#pragma once
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

}  // namespace kit::ImageIO
